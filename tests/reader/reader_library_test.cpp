#include "common/reader/reader_library.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/fake_services.h"

namespace qn::reader {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

int gInitResult = 1;
int gInitCalls = 0;
int gHaltResult = 1;
std::vector<int> gHaltArgs;
QnPostRegisteredMessage gPost = nullptr;
void* gTarget = nullptr;

int fakeInitReader() {
    ++gInitCalls;
    return gInitResult;
}
int fakeGetReaderType() {
    return 0x45;
}
int fakeGetActiveDevice() {
    return 0x27;
}
int fakeHaltReader(int devices) {
    gHaltArgs.push_back(devices);
    return gHaltResult;
}
int fakeRegister(QnPostRegisteredMessage post, void* target) {
    gPost = post;
    gTarget = target;
    return 1;
}
int fakeGetDllVer(char* buffer, int size) {
    // Writes the whole buffer without a terminator: the caller must not run past it.
    std::memset(buffer, 'v', static_cast<std::size_t>(size));
    return 1;
}

struct Fixture : test::FakeServices {
    Fixture() : test::FakeServices("", "/root"), reader(services) {
        gInitResult = 1;
        gInitCalls = 0;
        gHaltResult = 1;
        gHaltArgs.clear();
        gPost = nullptr;
        gTarget = nullptr;
    }
    void addLibrary(bool withInit = true) {
        std::map<std::string, void*> symbols{
            {"GetReaderType", platform::symbolAddress(&fakeGetReaderType)},
            {"GetActiveDevice", platform::symbolAddress(&fakeGetActiveDevice)},
            {"HaltReader", platform::symbolAddress(&fakeHaltReader)},
            {"RegisterDecodeTarget", platform::symbolAddress(&fakeRegister)},
            {"GetDllVer", platform::symbolAddress(&fakeGetDllVer)}};
        if (withInit) symbols["InitReader"] = platform::symbolAddress(&fakeInitReader);
        loader.add("/root/ScanSvc_CE.so", {symbols});
    }
    ReaderLibrary reader;
};

TEST(ReaderLibraryLoad, MissingLibraryShowsMessage) {
    Fixture f;
    EXPECT_FALSE(f.reader.load());
    EXPECT_THAT(f.messages.texts(), ElementsAre("Can't find the dll file !!"));
}

TEST(ReaderLibraryLoad, LibraryWithoutInitReaderIsRefused) {
    Fixture f;
    f.addLibrary(false);
    EXPECT_FALSE(f.reader.load());
    EXPECT_FALSE(f.reader.loaded());
    EXPECT_THAT(f.messages.texts(), ElementsAre("Can't find the dll file !!"));
}

TEST(ReaderLibraryLoad, UnresolvedOperationsStayNull) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    EXPECT_NE(f.reader.ops().InitReader, nullptr);
    EXPECT_EQ(f.reader.ops().SetTriggerKey, nullptr);
    EXPECT_EQ(f.reader.engineOperation(0), nullptr);
    f.reader.setTriggerKey(1);  // skipped, not a crash
    EXPECT_THAT(f.messages.texts(), IsEmpty());
}

struct InitCase {
    int result;
    const char* message;
    bool initialised;
};

class InitReaderTest : public ::testing::TestWithParam<InitCase> {};

TEST_P(InitReaderTest, ShowsTheResultMessageAndReadsMasks) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    gInitResult = GetParam().result;
    f.reader.initialise();
    if (*GetParam().message) {
        EXPECT_THAT(f.messages.texts(), ElementsAre(GetParam().message));
    } else {
        EXPECT_THAT(f.messages.texts(), IsEmpty());
    }
    EXPECT_EQ(f.reader.readerInitialised(), GetParam().initialised);
    // Start-up goes on after every result: the masks are read in any case.
    EXPECT_EQ(f.reader.readerType(), 0x45u);
    EXPECT_EQ(f.reader.activeDevices(), 0x27u);
}

INSTANTIATE_TEST_SUITE_P(
    Results, InitReaderTest,
    ::testing::Values(InitCase{1, "", true},
                      InitCase{-51, "Reader is already initialized!!", false},
                      InitCase{-102, "Failed to initialize the specific reader!!", false},
                      InitCase{-103, "Failed to initialize both barcode reader and RFID reader!!",
                               false},
                      InitCase{-111, "Failed to initialize the barcode reader!!", false},
                      InitCase{-112, "Failed to initialize the RFID reader!!", false},
                      InitCase{-113, "Failed to initialize readers!!", false},
                      InitCase{-133, "Cannot find reader!!", false},
                      InitCase{0, "Failed to initialize reader, Unkown Error!!", false},
                      InitCase{-1, "Failed to initialize reader, Unkown Error!!", false},
                      InitCase{2, "Failed to initialize reader, Unkown Error!!", false}));

TEST(ReaderLibrary, InitReaderOncePerProcess) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    f.reader.initialise();
    f.reader.initialise();
    EXPECT_EQ(gInitCalls, 1);
}

TEST(ReaderLibrary, DecodeMessagesReachTheQueue) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    f.reader.initialise();
    ASSERT_NE(gPost, nullptr);
    EXPECT_EQ(gPost(gTarget, "WM_DECODEDATA", 7), 1);
    auto message = f.queue.tryTake();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->id, platform::registerWindowMessage("WM_DECODEDATA"));
    EXPECT_EQ(message->wParam, 7u);
    EXPECT_NE(platform::registerWindowMessage("WM_OTHER"), message->id);
}

struct HaltCase {
    int result;
    std::vector<std::string> messages;
};

class HaltReaderTest : public ::testing::TestWithParam<HaltCase> {};

TEST_P(HaltReaderTest, HaltsWith255AndClearsState) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    f.reader.initialise();
    gHaltResult = GetParam().result;
    f.reader.halt();
    EXPECT_THAT(gHaltArgs, ElementsAre(255));
    EXPECT_EQ(f.messages.texts(), GetParam().messages);
    EXPECT_FALSE(f.reader.readerInitialised());
    EXPECT_EQ(f.reader.readerType(), 0u);
    EXPECT_EQ(f.reader.activeDevices(), 0u);
    f.reader.halt();  // not initialised any more: nothing happens
    EXPECT_EQ(gHaltArgs.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Results, HaltReaderTest,
                         ::testing::Values(HaltCase{1, {}},
                                           HaltCase{0, {"Failed to Halt Reader!!"}},
                                           HaltCase{-1, {"Failed to Halt Reader!!"}}));

TEST(ReaderLibrary, HaltWithoutInitialisationDoesNothing) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    gInitResult = -133;
    f.reader.initialise();
    f.messages.clear();
    f.reader.halt();
    EXPECT_THAT(gHaltArgs, IsEmpty());
    EXPECT_THAT(f.messages.texts(), IsEmpty());
}

TEST(ReaderLibrary, VersionTextStopsAtTheBuffer) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    EXPECT_EQ(f.reader.versionText(), std::string(99, 'v'));
}

TEST(ReaderLibrary, ReleaseUnregistersTheQueue) {
    Fixture f;
    f.addLibrary();
    ASSERT_TRUE(f.reader.load());
    f.reader.initialise();
    auto library = f.reader.releaseLibrary();
    EXPECT_NE(library, nullptr);
    EXPECT_EQ(gPost, nullptr);
    EXPECT_EQ(f.reader.ops().InitReader, nullptr);
}

// Records what an engine operation received, pointer by pointer.
std::vector<std::int32_t*> gReceived;
char gMode = 0;

int engine12(char mode, int* a, int* b, int* c, int* d, int* e, int* f, int* g, int* h, int* i,
             int* j, int* k, int* l) {
    gMode = mode;
    gReceived = {a, b, c, d, e, f, g, h, i, j, k, l};
    for (int* p : gReceived) {
        if (p != nullptr) *p += 100;
    }
    return 1;
}

int engine3(char mode, int* a, int* b, int* c) {
    gMode = mode;
    gReceived = {a, b, c};
    return 1;
}

TEST(CallEngineOperation, Symbologies4507GetsANullSixthPointer) {
    const EngineOperation* op = findEngineOperation("Symbologies_2D_4507");
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(op->values, 11);
    std::array<std::int32_t, 11> values{};
    for (int i = 0; i < 11; ++i)
        values[static_cast<std::size_t>(i)] = i;
    callEngineOperation(*op, platform::symbolAddress(&engine12), 'w', values.data());
    EXPECT_EQ(gMode, 'w');
    ASSERT_EQ(gReceived.size(), 12u);
    EXPECT_EQ(gReceived[5], nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(gReceived[static_cast<std::size_t>(i)], &values[static_cast<std::size_t>(i)]);
    for (int i = 6; i < 12; ++i)
        EXPECT_EQ(gReceived[static_cast<std::size_t>(i)], &values[static_cast<std::size_t>(i - 1)]);
    EXPECT_EQ(values[10], 110);
}

TEST(CallEngineOperation, PassesTheRunInOrder) {
    const EngineOperation* op = findEngineOperation("Code128_2D");
    ASSERT_NE(op, nullptr);
    std::array<std::int32_t, 3> values{};
    callEngineOperation(*op, platform::symbolAddress(&engine3), 'r', values.data());
    EXPECT_EQ(gMode, 'r');
    EXPECT_THAT(gReceived, ElementsAre(&values[0], &values[1], &values[2]));
    EXPECT_EQ(callEngineOperation(*op, nullptr, 'r', values.data()), 0);
}

TEST(EngineOperations, RunsTileEachRecordWithoutGaps) {
    for (bool vt : {true, false}) {
        std::vector<std::pair<int, int>> spans;
        for (const auto& op : kEngineOperations) {
            int offset = vt ? op.vtOffset : op.tnOffset;
            spans.emplace_back(offset, offset + 4 * op.values);
        }
        std::sort(spans.begin(), spans.end());
        int position = vt ? kVtEngineBegin : kTnEngineBegin;
        for (auto [begin, end] : spans) {
            EXPECT_EQ(begin, position);
            position = end;
        }
        EXPECT_EQ(position, vt ? kVtEngineEnd : kTnEngineEnd);
    }
}

}  // namespace
}  // namespace qn::reader
