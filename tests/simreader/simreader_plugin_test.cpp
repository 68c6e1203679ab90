// The simulated reader ScanSvc_CE.so, loaded from a fresh copy per test: every operation, the
// engine values, the configuration and the decodes handed over by QnSimInjectDecode.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/reader/reader_library.h"
#include "plugins/simreader/sim_reader.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/test_support.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;
using reader::kEngineOperations;

// Every C operation the programs bind by name.
constexpr const char* kReaderOperations[] = {
    "InitReader",
    "InitReaderEx",
    "GetReaderType",
    "GetActiveDevice",
    "SetActiveDevice",
    "SetTriggerKey",
    "GetTriggerKeyStatus",
    "HaltReader",
    "GetOutputRecord",
    "GetDecodeData",
    "GetDecodeRfidUID",
    "GetDecodeRfidData",
    "GetDllDefaultSettings",
    "ResetReaderToDefault",
    "GetDllVer",
    "NotificationSettings",
    "RfidSettings",
    "GetReaderSettings",
    "SetReaderSettings",
    "GetDecodeType",
    "DataOutputSettings",
    "ReadRfidData",
    "Beeper",
    "RegisterDecodeTarget",
};

// Records what the library posts, as the program's queue would receive it.
struct PostRecorder {
    struct Post {
        std::string name;
        std::uintptr_t wParam;
    };
    static int post(void* target, const char* name, std::uintptr_t wParam) {
        auto* self = static_cast<PostRecorder*>(target);
        {
            std::lock_guard lock(self->mutex);
            self->posts.push_back({name, wParam});
        }
        self->posted.notify_all();
        return 1;
    }
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return posted.wait_for(lock, timeout, [&] { return posts.size() >= count; });
    }
    std::vector<Post> snapshot() {
        std::lock_guard lock(mutex);
        return posts;
    }
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<Post> posts;
};

class SimReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { ::unsetenv("QUILLNET_SCAN_SOCKET"); }

    // Copies the library into the temporary device root (with reader.ini when given) and loads
    // it, bound as the programs bind it.
    void load(std::optional<std::string> readerIni = std::nullopt) {
        if (readerIni) test::writeFile(root / "reader.ini", *readerIni);
        file = test::copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so");
        services.emplace(root.path());
        library.emplace(services->services);
        ASSERT_TRUE(library->load());
        testApi.emplace(file);
        callLog = testApi->get<QnSimCallLogFn>("QnSimCallLog");
        clearLog = testApi->get<QnSimClearCallLogFn>("QnSimClearCallLog");
        inject = testApi->get<QnSimInjectDecodeFn>("QnSimInjectDecode");
    }

    const reader::ReaderOperations& ops() const { return library->ops(); }

    std::string log() {
        int length = callLog(nullptr, 0);
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        callLog(text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        return text;
    }

    int injectBarcode(std::string_view data) {
        return inject(QN_DECODE_BARCODE, reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<int>(data.size()), nullptr, 0);
    }

    void readyToScan() {
        ops().RegisterDecodeTarget(&PostRecorder::post, &recorder);
        ops().SetTriggerKey(1);
    }

    std::string fetchBarcode(int size = 260) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(size) + 8, 0xEE);
        int length = ops().GetOutputRecord(7, buffer.data(), size);
        return std::string(reinterpret_cast<const char*>(buffer.data()),
                           static_cast<std::size_t>(std::max(length, 0)));
    }

    test::TempDir root;
    std::filesystem::path file;
    std::optional<test::TestServices> services;
    PostRecorder recorder;
    std::optional<reader::ReaderLibrary> library;
    std::optional<test::Plugin> testApi;
    QnSimCallLogFn callLog = nullptr;
    QnSimClearCallLogFn clearLog = nullptr;
    QnSimInjectDecodeFn inject = nullptr;
};

TEST_F(SimReaderTest, ExportsEveryOperation) {
    load();
    for (const char* name : kReaderOperations) {
        EXPECT_NE(testApi->symbol(name), nullptr) << name;
    }
    for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
        EXPECT_NE(library->engineOperation(i), nullptr) << kEngineOperations[i].name;
    }
}

TEST_F(SimReaderTest, ReadGivesDistinctFactoryValuesOfEveryOperation) {
    load();
    for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
        const auto& op = kEngineOperations[i];
        std::vector<std::int32_t> values(static_cast<std::size_t>(op.values) + 1, -7777);
        EXPECT_EQ(reader::callEngineOperation(op, library->engineOperation(i), 'r', values.data()),
                  1)
            << op.name;
        for (int v = 0; v < op.values; ++v) {
            EXPECT_EQ(values[static_cast<std::size_t>(v)], factoryEngineValue(i, v)) << op.name;
            EXPECT_NE(values[static_cast<std::size_t>(v)], 0) << op.name;
            for (int w = 0; w < v; ++w) {
                EXPECT_NE(values[static_cast<std::size_t>(v)], values[static_cast<std::size_t>(w)])
                    << op.name;
            }
        }
        EXPECT_EQ(values.back(), -7777) << op.name << " wrote past its run";
    }
}

TEST_F(SimReaderTest, WrittenValuesAreReadBack) {
    load();
    for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
        const auto& op = kEngineOperations[i];
        std::vector<std::int32_t> written(static_cast<std::size_t>(op.values));
        for (int v = 0; v < op.values; ++v)
            written[static_cast<std::size_t>(v)] = 1000 + 100 * static_cast<int>(i) + v;
        ASSERT_EQ(reader::callEngineOperation(op, library->engineOperation(i), 'w', written.data()),
                  1);
    }
    for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
        const auto& op = kEngineOperations[i];
        std::vector<std::int32_t> read(static_cast<std::size_t>(op.values), 0);
        ASSERT_EQ(reader::callEngineOperation(op, library->engineOperation(i), 'r', read.data()),
                  1);
        for (int v = 0; v < op.values; ++v) {
            EXPECT_EQ(read[static_cast<std::size_t>(v)], 1000 + 100 * static_cast<int>(i) + v)
                << op.name;
        }
    }
    std::string calls = log();
    EXPECT_NE(calls.find("Code39_2D w\n"), std::string::npos);
    EXPECT_NE(calls.find("Code39_2D r\n"), std::string::npos);
    EXPECT_NE(calls.find("Symbologies_2D_4507 r\n"), std::string::npos);
}

TEST_F(SimReaderTest, TheSixthPointerOfSymbologies2D4507CarriesNoValue) {
    load();
    using Fn =
        int (*)(char, int*, int*, int*, int*, int*, int*, int*, int*, int*, int*, int*, int*);
    auto symbologies = testApi->get<Fn>("Symbologies_2D_4507");
    int v[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    int ignored = 555;
    ASSERT_EQ(symbologies('w', &v[0], &v[1], &v[2], &v[3], &v[4], &ignored, &v[5], &v[6], &v[7],
                          &v[8], &v[9], &v[10]),
              1);
    int r[11] = {};
    ASSERT_EQ(symbologies('r', &r[0], &r[1], &r[2], &r[3], &r[4], nullptr, &r[5], &r[6], &r[7],
                          &r[8], &r[9], &r[10]),
              1);
    EXPECT_TRUE(std::equal(std::begin(v), std::end(v), std::begin(r)));
    int untouched = 555;
    symbologies('r', &r[0], &r[1], &r[2], &r[3], &r[4], &untouched, &r[5], &r[6], &r[7], &r[8],
                &r[9], &r[10]);
    EXPECT_EQ(untouched, 555);
}

TEST_F(SimReaderTest, NullPointersAndUnknownModesChangeNothing) {
    load();
    using Fn = int (*)(char, int*, int*, int*);
    auto code128 = testApi->get<Fn>("Code128_2D");
    int a = 11, c = 33;
    EXPECT_EQ(code128('w', &a, nullptr, &c), 1);
    int values[3] = {};
    code128('r', &values[0], &values[1], &values[2]);
    const std::size_t index = static_cast<std::size_t>(reader::findEngineOperation("Code128_2D") -
                                                       kEngineOperations.data());
    EXPECT_EQ(values[0], 11);
    EXPECT_EQ(values[1], factoryEngineValue(index, 1));
    EXPECT_EQ(values[2], 33);

    int probe[3] = {-1, -1, -1};
    EXPECT_EQ(code128('x', &probe[0], &probe[1], &probe[2]), 0);
    EXPECT_EQ(probe[0], -1);
    EXPECT_NE(log().find("Code128_2D x\n"), std::string::npos);
}

TEST_F(SimReaderTest, ResetReaderToDefaultRestoresFactoryValues) {
    load();
    const auto* op = reader::findEngineOperation("ImageOptions_2D");
    const std::size_t index = static_cast<std::size_t>(op - kEngineOperations.data());
    std::vector<std::int32_t> values(19, 4242);
    reader::callEngineOperation(*op, library->engineOperation(index), 'w', values.data());
    EXPECT_EQ(ops().ResetReaderToDefault(7), 1);
    reader::callEngineOperation(*op, library->engineOperation(index), 'r', values.data());
    for (int v = 0; v < 19; ++v)
        EXPECT_EQ(values[static_cast<std::size_t>(v)], factoryEngineValue(index, v));
    EXPECT_NE(log().find("ResetReaderToDefault 7\n"), std::string::npos);
}

TEST_F(SimReaderTest, NotificationSettingsKeepsWhatIsWritten) {
    load();
    int r[6] = {};
    ASSERT_EQ(ops().NotificationSettings('r', &r[0], &r[1], &r[2], &r[3], &r[4], &r[5]), 1);
    EXPECT_NE(std::count(std::begin(r), std::end(r), 0), 6) << "factory values are not all zero";
    int zero[6] = {};
    ASSERT_EQ(
        ops().NotificationSettings('w', &zero[0], &zero[1], &zero[2], &zero[3], &zero[4], &zero[5]),
        1);
    int after[6] = {9, 9, 9, 9, 9, 9};
    ops().NotificationSettings('r', &after[0], nullptr, &after[2], &after[3], &after[4], &after[5]);
    EXPECT_EQ(after[0], 0);
    EXPECT_EQ(after[1], 9);
    EXPECT_EQ(after[5], 0);
}

TEST_F(SimReaderTest, RfidSettingsReadsAndWritesTheLibraryValues) {
    load();
    int showUid = 0, showData = 7, start = 0, maximum = 0, reserved = 99, timeout = 0, value = 0;
    unsigned char block[QN_RFID_LIBRARY_BLOCK_SIZE + 1];
    std::memset(block, 0xEE, sizeof block);
    ASSERT_EQ(ops().RfidSettings('r', &showUid, &showData, &start, &maximum, &reserved, &timeout,
                                 block, QN_RFID_LIBRARY_BLOCK_SIZE, &value),
              1);
    EXPECT_EQ(showUid, 1);
    EXPECT_EQ(showData, 0);
    EXPECT_EQ(start, -1);
    EXPECT_EQ(maximum, 10);
    EXPECT_EQ(reserved, 99);
    EXPECT_EQ(timeout, 3);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(block[0], 0x20);
    EXPECT_EQ(block[17], 0x31);
    EXPECT_EQ(block[18], 0xEE);

    int newTimeout = 8, newValue = 5, newStart = 4;
    unsigned char newBlock[QN_RFID_LIBRARY_BLOCK_SIZE];
    std::memset(newBlock, 0x5A, sizeof newBlock);
    ASSERT_EQ(ops().RfidSettings('w', nullptr, nullptr, &newStart, nullptr, nullptr, &newTimeout,
                                 newBlock, QN_RFID_LIBRARY_BLOCK_SIZE, &newValue),
              1);
    ops().RfidSettings('r', &showUid, &showData, &start, &maximum, nullptr, &timeout, block,
                       QN_RFID_LIBRARY_BLOCK_SIZE, &value);
    EXPECT_EQ(start, 4);
    EXPECT_EQ(timeout, 8);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(showUid, 1);
    EXPECT_EQ(block[9], 0x5A);
}

TEST_F(SimReaderTest, RfidSettingsRefusesOtherBlockSizes) {
    load();
    for (int size : {17, 19, 0, -1, 1 << 30}) {
        int showUid = -5, value = -5;
        unsigned char block[64];
        std::memset(block, 0xEE, sizeof block);
        EXPECT_EQ(ops().RfidSettings('r', &showUid, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     block, size, &value),
                  0);
        EXPECT_EQ(showUid, -5);
        EXPECT_EQ(value, -5);
        EXPECT_EQ(block[0], 0xEE);
    }
}

TEST_F(SimReaderTest, DllDefaultSettingsFillsTheBlock) {
    load();
    unsigned char block[QN_LIBRARY_DEFAULTS_SIZE + 1];
    std::memset(block, 0xEE, sizeof block);
    ASSERT_EQ(ops().GetDllDefaultSettings(block), 1);
    EXPECT_EQ(block[1], 0x27);
    EXPECT_EQ(block[QN_LIBRARY_DEFAULTS_SIZE], 0xEE);
    ops().SetActiveDevice(0x20);
    ops().GetDllDefaultSettings(block);
    EXPECT_EQ(block[1], 0x20);
    EXPECT_EQ(ops().GetDllDefaultSettings(nullptr), 0);

    unsigned char stored[QN_LIBRARY_DEFAULTS_SIZE];
    ASSERT_EQ(ops().DataOutputSettings('r', stored), 1);
    stored[5] = 0x99;
    ASSERT_EQ(ops().DataOutputSettings('w', stored), 1);
    unsigned char again[QN_LIBRARY_DEFAULTS_SIZE] = {};
    ops().DataOutputSettings('r', again);
    EXPECT_EQ(again[5], 0x99);
}

TEST_F(SimReaderTest, DllDefaultSettingsCanBeMadeToFail) {
    load("[reader]\ndefaults=0\n");
    unsigned char block[QN_LIBRARY_DEFAULTS_SIZE];
    std::memset(block, 0xEE, sizeof block);
    EXPECT_EQ(ops().GetDllDefaultSettings(block), 0);
    EXPECT_EQ(block[1], 0xEE);
}

TEST_F(SimReaderTest, VersionTextIsBoundedAndTerminated) {
    load("[reader]\nversion=ScanSvc 1.2.3\n");
    EXPECT_EQ(library->versionText(), "ScanSvc 1.2.3");
    char small[5];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(ops().GetDllVer(small, 5), 4);
    EXPECT_STREQ(small, "Scan");
    char one[2] = {'x', 'y'};
    EXPECT_EQ(ops().GetDllVer(one, 1), 0);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(one[1], 'y');
    EXPECT_EQ(ops().GetDllVer(one, 0), 0);
    EXPECT_EQ(ops().GetDllVer(one, -3), 0);
    EXPECT_EQ(ops().GetDllVer(nullptr, 100), 0);
}

TEST_F(SimReaderTest, MasksComeFromReaderIni) {
    load("[reader]\ntype=0xC1\nactive=0x07\n");
    EXPECT_EQ(ops().GetReaderType(), 0xC1);
    EXPECT_EQ(ops().GetActiveDevice(), 0x07);
    EXPECT_EQ(ops().SetActiveDevice(0x27), 1);
    EXPECT_EQ(ops().GetActiveDevice(), 0x27);
    EXPECT_NE(log().find("SetActiveDevice 0x27\n"), std::string::npos);
}

TEST_F(SimReaderTest, MissingEmptyOrMalformedReaderIniGivesTheDefaults) {
    for (std::optional<std::string> ini :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("[reader\ntype=0x01\n\x01\x02\xff"),
          std::optional<std::string>("[reader]\ntype=banana\nactive=\ninit=one\n")}) {
        test::TempDir other;
        if (ini) test::writeFile(other / "reader.ini", *ini);
        auto copy = test::copyPlugin(other.path(), "ScanSvc_CE.so", "ScanSvc_CE.so");
        test::Plugin plugin(copy);
        EXPECT_EQ(plugin.get<QnGetReaderTypeFn>("GetReaderType")(), 0x15);
        EXPECT_EQ(plugin.get<QnGetActiveDeviceFn>("GetActiveDevice")(), 0x27);
        EXPECT_EQ(plugin.get<QnGetTriggerKeyStatusFn>("GetTriggerKeyStatus")(), 0);
        EXPECT_EQ(plugin.get<QnInitReaderFn>("InitReader")(), 1);
        EXPECT_EQ(plugin.get<QnHaltReaderFn>("HaltReader")(255), 1);
    }
}

TEST_F(SimReaderTest, InitReaderGivesItsConfiguredResult) {
    for (int result : {-51, -102, -103, -111, -112, -113, -133, -7}) {
        test::TempDir other;
        test::writeFile(other / "reader.ini", "[reader]\ninit=" + std::to_string(result) + "\n");
        test::Plugin plugin(test::copyPlugin(other.path(), "ScanSvc_CE.so", "ScanSvc_CE.so"));
        EXPECT_EQ(plugin.get<QnInitReaderFn>("InitReader")(), result);
        plugin.get<QnHaltReaderFn>("HaltReader")(255);
    }
}

TEST_F(SimReaderTest, ASecondInitReaderIsAlreadyInitialised) {
    load("[reader]\nhalt=0\n");
    EXPECT_EQ(ops().InitReader(), 1);
    EXPECT_EQ(ops().InitReader(), -51);
    EXPECT_EQ(ops().HaltReader(255), 0);
    EXPECT_EQ(ops().InitReader(), 1);
    ops().HaltReader(255);
    std::string calls = log();
    EXPECT_NE(calls.find("InitReader\nInitReader\nHaltReader 255\nInitReader\n"),
              std::string::npos);
}

TEST_F(SimReaderTest, ReaderLibraryInitialisesAgainstTheSimulation) {
    load("[reader]\ntype=0x44\nactive=0x20\n");
    library->initialise();
    EXPECT_TRUE(library->readerInitialised());
    EXPECT_EQ(library->readerType(), 0x44u);
    EXPECT_EQ(library->activeDevices(), 0x20u);
    EXPECT_TRUE(services->messages.texts().empty());
    library->halt();
    EXPECT_TRUE(services->messages.texts().empty());
    EXPECT_NE(log().find("RegisterDecodeTarget\n"), std::string::npos);
}

TEST_F(SimReaderTest, TriggerKeyState) {
    load();
    EXPECT_EQ(ops().GetTriggerKeyStatus(), 0);
    EXPECT_EQ(ops().SetTriggerKey(1), 1);
    EXPECT_EQ(ops().GetTriggerKeyStatus(), 1);
    ops().SetTriggerKey(0);
    EXPECT_EQ(ops().GetTriggerKeyStatus(), 0);
    EXPECT_NE(log().find("SetTriggerKey 1\nGetTriggerKeyStatus\nSetTriggerKey 0\n"),
              std::string::npos);
}

TEST_F(SimReaderTest, CallLogCanBeCleared) {
    load();
    ops().Beeper(3);
    EXPECT_EQ(log(), "Beeper 3\n");
    char tiny[4];
    EXPECT_EQ(callLog(tiny, sizeof tiny), 9);
    EXPECT_STREQ(tiny, "Bee");
    clearLog();
    EXPECT_EQ(log(), "");
    EXPECT_EQ(ops().GetReaderSettings(nullptr), 0);
    EXPECT_EQ(log(), "GetReaderSettings\n");
}

TEST_F(SimReaderTest, DecodesAreRefusedUntilEverythingIsReady) {
    load();
    EXPECT_EQ(injectBarcode("123"), QN_SIM_TRIGGER_OFF);
    ops().SetTriggerKey(1);
    EXPECT_EQ(injectBarcode("123"), QN_SIM_NO_TARGET);
    ops().RegisterDecodeTarget(&PostRecorder::post, &recorder);
    ops().SetActiveDevice(0x20);
    EXPECT_EQ(injectBarcode("123"), QN_SIM_DEVICE_INACTIVE);
    const unsigned char uid[] = {0x04, 0xA1};
    ops().SetActiveDevice(0x07);
    EXPECT_EQ(inject(QN_DECODE_RFID, uid, 2, nullptr, 0), QN_SIM_DEVICE_INACTIVE);
    ops().SetActiveDevice(0x27);
    EXPECT_EQ(injectBarcode("123"), QN_SIM_DELIVERED);
    ops().RegisterDecodeTarget(nullptr, nullptr);
    EXPECT_EQ(injectBarcode("123"), QN_SIM_NO_TARGET);
    EXPECT_EQ(recorder.snapshot().size(), 1u);
    EXPECT_EQ(inject(9, uid, 2, nullptr, 0), QN_SIM_BAD_REQUEST);
    EXPECT_EQ(inject(QN_DECODE_BARCODE, uid, 0, nullptr, 0), QN_SIM_BAD_REQUEST);
}

TEST_F(SimReaderTest, ABarcodeIsPostedAndFetched) {
    load();
    readyToScan();
    const std::string data(
        "AB\0\r\x1b"
        "9",
        6);
    ASSERT_EQ(injectBarcode(data), QN_SIM_DELIVERED);
    auto posts = recorder.snapshot();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].name, "WM_DECODEDATA");
    EXPECT_EQ(posts[0].wParam, 7u);
    EXPECT_EQ(ops().GetDecodeType(), 7);
    EXPECT_EQ(fetchBarcode(), data);

    unsigned char buffer[300];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(ops().GetDecodeData(buffer, 300), 6);
    EXPECT_EQ(std::memcmp(buffer, data.data(), 6), 0);
    EXPECT_EQ(buffer[6], 0);
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(ops().GetOutputRecord(7, buffer, 4), 3);
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], 0xEE);
    EXPECT_EQ(ops().GetOutputRecord(7, nullptr, 260), 0);
    EXPECT_EQ(ops().GetOutputRecord(7, buffer, 0), 0);
    EXPECT_EQ(ops().GetOutputRecord(7, buffer, -1), 0);
    EXPECT_EQ(ops().GetOutputRecord(8, buffer, 260), 0);
    EXPECT_EQ(ops().GetDecodeData(nullptr, 300), 0);
}

TEST_F(SimReaderTest, ALongBarcodeIsCutToTheBuffer) {
    load();
    readyToScan();
    ASSERT_EQ(injectBarcode(std::string(4096, 'L')), QN_SIM_DELIVERED);
    EXPECT_EQ(fetchBarcode(260), std::string(259, 'L'));
    EXPECT_EQ(injectBarcode(std::string(4097, 'L')), QN_SIM_BAD_REQUEST);
}

TEST_F(SimReaderTest, AnRfidReadIsPostedAsHexText) {
    load();
    readyToScan();
    const unsigned char uid[] = {0xE0, 0x04, 0x01, 0x5a};
    const unsigned char data[] = {'H', 'i', 0x00};
    ASSERT_EQ(inject(QN_DECODE_RFID, uid, 4, data, 3), QN_SIM_DELIVERED);
    auto posts = recorder.snapshot();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].wParam, 8u);
    EXPECT_EQ(ops().GetDecodeType(), 8);
    char text[260];
    EXPECT_EQ(ops().GetDecodeRfidUID(reinterpret_cast<unsigned char*>(text), 260), 8);
    EXPECT_STREQ(text, "E004015A");
    EXPECT_EQ(ops().GetDecodeRfidData(reinterpret_cast<unsigned char*>(text), 260), 6);
    EXPECT_STREQ(text, "486900");
    EXPECT_EQ(ops().ReadRfidData(reinterpret_cast<unsigned char*>(text), 5), 4);
    EXPECT_STREQ(text, "4869");
    EXPECT_EQ(ops().GetDecodeRfidUID(nullptr, 260), 0);
}

TEST_F(SimReaderTest, AnUnfetchedDecodeIsReplacedOnlyAfterItsWait) {
    load("[reader]\nfetch_wait_ms=300\n");
    readyToScan();
    ASSERT_EQ(injectBarcode("first"), QN_SIM_DELIVERED);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(injectBarcode("second"), QN_SIM_DELIVERED);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_EQ(fetchBarcode(), "second");
    EXPECT_EQ(recorder.snapshot().size(), 2u);
    // Fetched: the next one goes through at once.
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(injectBarcode("third"), QN_SIM_DELIVERED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
}

TEST_F(SimReaderTest, ADecodeWaitsForThePreviousToBeFetched) {
    load("[reader]\nfetch_wait_ms=5000\n");
    readyToScan();
    ASSERT_EQ(injectBarcode("first"), QN_SIM_DELIVERED);
    std::string fetched;
    std::thread program([&] {
        std::this_thread::sleep_for(100ms);
        fetched = fetchBarcode();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(injectBarcode("second"), QN_SIM_DELIVERED);
    auto waited = std::chrono::steady_clock::now() - start;
    program.join();
    EXPECT_EQ(fetched, "first");
    EXPECT_GE(waited, 50ms);
    EXPECT_LT(waited, 3s);
    EXPECT_EQ(fetchBarcode(), "second");
}

TEST_F(SimReaderTest, ResetGivesAFreshLibrary) {
    load();
    readyToScan();
    ops().SetActiveDevice(0x01);
    test::writeFile(root / "reader.ini", "[reader]\nactive=0x20\n");
    testApi->get<QnSimResetFn>("QnSimReset")();
    EXPECT_EQ(ops().GetActiveDevice(), 0x20);
    EXPECT_EQ(ops().GetTriggerKeyStatus(), 0);
    EXPECT_EQ(log(), "GetActiveDevice\nGetTriggerKeyStatus\n");
    ops().SetTriggerKey(1);
    const unsigned char uid[] = {0x01};
    EXPECT_EQ(inject(QN_DECODE_RFID, uid, 1, nullptr, 0), QN_SIM_NO_TARGET);
}

}  // namespace
}  // namespace qn::sim
