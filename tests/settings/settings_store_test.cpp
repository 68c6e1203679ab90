// Record layouts of both programs and the reader settings store against a fake reader library.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "common/reader/settings_store.h"
#include "tests/settings/fake_reader.h"
#include "tn5250/settings/tn_settings.h"
#include "vt/settings/vt_settings.h"

namespace qn {
namespace {

using reader::engineRun;
using reader::kEngineOperations;
using reader::Program;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// ---- layouts

struct FieldPlace {
    const char* name;
    std::size_t offset;
    std::size_t size;
};

const reader::FieldInfo* findField(std::span<const reader::FieldInfo> fields, std::string_view n) {
    auto it =
        std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.name == n; });
    return it == fields.end() ? nullptr : &*it;
}

void expectPlaces(std::span<const reader::FieldInfo> fields, std::span<const FieldPlace> places) {
    for (const auto& place : places) {
        const reader::FieldInfo* field = findField(fields, place.name);
        ASSERT_NE(field, nullptr) << place.name;
        EXPECT_EQ(field->offset, place.offset) << place.name;
        EXPECT_EQ(field->size, place.size) << place.name;
    }
}

TEST(Layout, VtFieldsSitAtTheirOffsets) {
    const FieldPlace places[] = {
        {"hostAddress", 6, 20},           {"telnetPort", 106, 2},
        {"loginPassword", 159, 20},       {"fontWidth", 181, 1},
        {"libraryDefaults", 184, 29},     {"enableCommand", 213, 46},
        {"scanBeeper", 352, 4},           {"errorVibrator", 472, 4},
        {"macroFrame", 504, 10},          {"terminalType", 514, 30},
        {"prefixCode", 583, 40},          {"replaceTo2", 739, 9},
        {"barcodeReaderOn", 754, 1},      {"keyFunctionTable", 755, 150},
        {"keyCodeTable", 905, 250},       {"localEcho", 1155, 1},
        {"showRfidUid", 2792, 4},         {"rfidFieldDelimiter", 2808, 9},
        {"rfidLibraryValue", 2844, 4},    {"autoConnect", 2848, 1},
        {"taskBarOnFullScreen", 3116, 4},
    };
    expectPlaces(vt::vtSettingsFields(), places);
}

TEST(Layout, TnFieldsSitAtTheirOffsets) {
    const FieldPlace places[] = {
        {"documentTag", 0, 6},
        {"otherFieldSuffix", 7, 1},
        {"prefixCode", 377, 40},
        {"triggerByHostCmd", 505, 1},
        {"deviceName", 506, 20},
        {"hostAddress", 526, 50},
        {"telnetPort", 777, 2},
        {"loginPassword", 800, 21},
        {"tnKeyFunctionTable", 829, 153},
        {"overLengthRule", 1235, 1},
        {"fontWidth", 1279, 1},
        {"libraryDefaults", 1280, 29},
        {"errorVibrator", 1324, 4},
        {"barcodeReaderOn", 1435, 1},
        {"showRfidUid", 3068, 4},
        {"rfidLibraryBlock", 3100, 18},
        {"useDeviceName", 3124, 1},
        {"autoFullScreen", 3140, 4},
    };
    expectPlaces(tn::tnSessionFields(), places);
}

TEST(Layout, IntegersAreLittleEndianInTheImage) {
    vt::VtSettings vt{};
    vt.telnetPort.set(0x1234);
    vt.fullScreenOn.set(-2);
    EXPECT_EQ(vt.bytes()[106], 0x34);
    EXPECT_EQ(vt.bytes()[107], 0x12);
    EXPECT_THAT(vt.bytes().subspan(3104, 4), ElementsAre(0xFE, 0xFF, 0xFF, 0xFF));

    tn::TnSession tn{};
    tn.telnetPort.set(23);
    tn.rfid.rfidStartPosition.set(-1);
    EXPECT_THAT(tn.bytes().subspan(777, 2), ElementsAre(0x17, 0x00));
    EXPECT_THAT(tn.bytes().subspan(3076, 4), ElementsAre(0xFF, 0xFF, 0xFF, 0xFF));
}

TEST(Layout, EveryEngineRunSitsAtItsOffsetInBothRecords) {
    vt::VtSettings vt{};
    tn::TnSession tn{};
    for (const auto& op : kEngineOperations) {
        auto vtRun = engineRun(vt.engine, op, Program::Vt);
        auto tnRun = engineRun(tn.engine, op, Program::Tn);
        EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(vtRun.data()) - vt.bytes().data(),
                  op.vtOffset)
            << op.name;
        EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(tnRun.data()) - tn.bytes().data(),
                  op.tnOffset)
            << op.name;
        EXPECT_EQ(vtRun.size(), static_cast<std::size_t>(op.values)) << op.name;
    }
}

TEST(FixedWidthText, StoresAndReadsWithinTheField) {
    struct Case {
        std::string_view stored;
        std::string_view read;
        std::array<std::uint8_t, 5> bytes;
    };
    const Case cases[] = {
        {"", "", {0, 0, 0, 0, 0}},
        {"abc", "abc", {'a', 'b', 'c', 0, 0}},
        {"abcde", "abcde", {'a', 'b', 'c', 'd', 'e'}},  // fills the field: no terminator
        {"abcdefg", "abcde", {'a', 'b', 'c', 'd', 'e'}},
    };
    for (const auto& c : cases) {
        // The field is followed by non-zero bytes that a reader must not reach.
        std::array<std::uint8_t, 8> buffer;
        buffer.fill('X');
        std::span<std::uint8_t> field(buffer.data(), 5);
        reader::storeText(field, c.stored);
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), buffer.begin())) << c.stored;
        EXPECT_EQ(reader::fixedText(field), c.read) << c.stored;
        EXPECT_EQ(buffer[5], 'X');
    }
}

// ---- syncEngineSettings

std::vector<std::string> expectedCalls(char mode, bool rfid, std::vector<std::uint32_t> groups) {
    std::vector<std::string> calls{"NotificationSettings w"};
    if (rfid) calls.push_back(std::string("RfidSettings ") + mode);
    for (std::uint32_t group : groups) {
        for (const auto& op : kEngineOperations) {
            if (op.group == group) calls.push_back(std::string(op.name) + " " + mode);
        }
    }
    return calls;
}

struct SyncCase {
    const char* label;
    int readerType;
    Program program;
    std::vector<std::uint32_t> groups;  // in the order the program must walk them
    bool rfid;
    friend void PrintTo(const SyncCase& c, std::ostream* os) { *os << c.label; }
};

class SyncEngineSettings : public ::testing::TestWithParam<SyncCase> {};

constexpr std::int32_t kUntouched = -12345;

TEST_P(SyncEngineSettings, TouchesExactlyThePresentGroupsInProgramOrder) {
    const SyncCase& c = GetParam();
    for (char mode : {'r', 'w'}) {
        test::FakeReader fake(c.readerType);
        vt::VtSettings vt{};
        tn::TnSession tn{};
        reader::ReaderSettings settings =
            c.program == Program::Vt ? vt::readerSettings(vt) : tn::readerSettings(tn);
        for (auto& value : settings.engine.values)
            value.set(kUntouched);
        settings.rfid.showRfidUid.set(kUntouched);

        reader::syncEngineSettings(fake.library, settings, mode);

        EXPECT_EQ(fake.callNames(), expectedCalls(mode, c.rfid, c.groups)) << mode;
        EXPECT_THAT(test::gCalls.front().given, ElementsAre(0, 0, 0, 0, 0, 0));
        for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
            const auto& op = kEngineOperations[i];
            bool present = std::find(c.groups.begin(), c.groups.end(), op.group) != c.groups.end();
            auto run = engineRun(settings.engine, op, c.program);
            for (std::size_t k = 0; k < run.size(); ++k) {
                std::int32_t expected =
                    present && mode == 'r' ? test::libraryValue(i, k) : kUntouched;
                ASSERT_EQ(run[k].get(), expected) << op.name << "[" << k << "] " << mode;
            }
        }
        for (const auto& call : test::gCalls) {
            if (mode == 'w' && call.name != "NotificationSettings" && call.name != "RfidSettings") {
                EXPECT_THAT(call.given, ::testing::Each(kUntouched)) << call.name;
            }
        }
        std::int32_t uid = settings.rfid.showRfidUid.get();
        EXPECT_EQ(uid, c.rfid && mode == 'r' ? 7 : kUntouched);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Masks, SyncEngineSettings,
    ::testing::Values(SyncCase{"none", 0x00, Program::Vt, {}, false},
                      SyncCase{"vt_1d", 0x01, Program::Vt, {0x01}, false},
                      SyncCase{"vt_long_range_only", 0x02, Program::Vt, {}, false},
                      SyncCase{"vt_2d_rfid", 0x14, Program::Vt, {0x04}, true},
                      SyncCase{"vt_all", 0xC5, Program::Vt, {0x01, 0x80, 0x04, 0x40}, false},
                      SyncCase{"tn_all", 0xC5, Program::Tn, {0x01, 0x80, 0x40, 0x04}, false},
                      SyncCase{"tn_4507_alt_rfid", 0x140, Program::Tn, {0x40}, true},
                      SyncCase{"tn_se955", 0x80, Program::Tn, {0x80}, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SyncEngineSettingsDetail, Symbologies4507GetsItsNullSixthPointer) {
    test::FakeReader fake(0x40);
    tn::TnSession tn{};
    reader::syncEngineSettings(fake.library, tn::readerSettings(tn), 'r');
    const auto* op = reader::findEngineOperation("Symbologies_2D_4507");
    auto call = std::find_if(test::gCalls.begin(), test::gCalls.end(),
                             [](const auto& c) { return c.name == "Symbologies_2D_4507"; });
    ASSERT_NE(call, test::gCalls.end());
    std::vector<bool> nulls(12, false);
    nulls[5] = true;
    EXPECT_EQ(call->nullPointers, nulls);
    // The eleven values still land in consecutive places of the record.
    auto run = engineRun(tn.engine, *op, Program::Tn);
    std::size_t index = static_cast<std::size_t>(op - kEngineOperations.data());
    for (std::size_t k = 0; k < 11; ++k)
        EXPECT_EQ(run[k].get(), test::libraryValue(index, k));
}

TEST(SyncEngineSettingsDetail, RfidSettingsGetsTheBlockWithItsSizeAndANullReserved) {
    test::FakeReader fake(0x10);
    vt::VtSettings vt{};
    reader::syncEngineSettings(fake.library, vt::readerSettings(vt), 'r');
    ASSERT_EQ(fake.callNames()[1], "RfidSettings r");
    EXPECT_THAT(test::gCalls[1].nullPointers, ElementsAre(true));
    EXPECT_THAT(test::gCalls[1].given, ElementsAre(QN_RFID_LIBRARY_BLOCK_SIZE));
    EXPECT_EQ(vt.rfid.rfidDecodeTimeout.get(), 7);
    EXPECT_EQ(vt.rfid.rfidLibraryValue.get(), 7);
    EXPECT_THAT(vt.rfid.rfidLibraryBlock, ::testing::Each(0xAB));
    EXPECT_THAT(vt.rfid.rfidFieldDelimiter, ::testing::Each(0));  // not the library's
}

TEST(SyncEngineSettingsDetail, UnresolvedOperationsAreSkipped) {
    test::FakeReader fake(0x14, {"Code39_2D", "NotificationSettings", "RfidSettings"});
    vt::VtSettings vt{};
    reader::syncEngineSettings(fake.library, vt::readerSettings(vt), 'r');
    auto names = fake.callNames();
    EXPECT_EQ(names.front(), "Upc_2D r");
    EXPECT_EQ(std::count(names.begin(), names.end(), "Code39_2D r"), 0);
    EXPECT_EQ(names.size(), 18u);  // the 2D group less one
    EXPECT_THAT(engineRun(vt.engine, *reader::findEngineOperation("Code39_2D"), Program::Vt),
                ::testing::Each(::testing::Property(&reader::LeInt32::get, 0)));
}

TEST(SyncEngineSettingsDetail, OtherModesDoNothing) {
    test::FakeReader fake(0xD5);
    vt::VtSettings vt{};
    reader::syncEngineSettings(fake.library, vt::readerSettings(vt), 'x');
    EXPECT_THAT(fake.callNames(), IsEmpty());
}

// ---- resetReaderSettings

// A VT image with every reader field that the reset must keep set to something else.
vt::VtSettings customisedVt() {
    vt::VtSettings s{};
    s.prefixOn = 1;
    reader::storeText(s.prefixCode, "AB");
    s.checkLeadingCode = 1;
    s.triggerByEscCmd = 1;
    s.feedbackByCmd = 1;
    s.rfid.showRfidUserData.set(1);
    s.macroFrame.fill(0x41);
    s.codeLength = 3;
    s.barcodeReaderOn = 0;
    s.scanVibrator.set(9);
    reader::storeText(s.enableCommand, "\x1b[1h-long-command");
    return s;
}

TEST(ResetReaderSettings, SetsTheReaderDefaultsAndKeepsTheRest) {
    test::FakeReader fake(0x40);
    vt::VtSettings s = customisedVt();
    reader::resetReaderSettings(fake.library, fake.messages, vt::readerSettings(s));

    EXPECT_THAT(fake.messages.texts(), IsEmpty());
    EXPECT_THAT(s.libraryDefaults, ::testing::Each(test::kLibraryBlockByte));
    EXPECT_EQ(fake.callNames()[0], "GetDllDefaultSettings");
    EXPECT_EQ(fake.callNames()[1], "NotificationSettings w");
    // Defaults.
    EXPECT_EQ(s.barcodeReaderOn, 1);
    EXPECT_EQ(s.rfidReaderOn, 1);
    EXPECT_EQ(s.startPosition, 1);
    EXPECT_EQ(s.maximumLength, 20);
    EXPECT_EQ(s.codeLength, 15);
    EXPECT_EQ(s.goodBeeper.get(), 1);
    EXPECT_EQ(s.errorBeeper.get(), 2);
    EXPECT_EQ(s.scanBeeper.get(), 1);
    EXPECT_EQ(s.scanVibrator.get(), 0);
    EXPECT_EQ(s.autoEnter, 1);
    EXPECT_EQ(s.rfid.showRfidUid.get(), 1);
    EXPECT_EQ(s.rfid.rfidStartPosition.get(), -1);
    EXPECT_EQ(s.rfid.rfidMaximumLength.get(), 10);
    EXPECT_THAT(s.rfid.rfidFieldDelimiter, ElementsAre(',', 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(reader::fixedText(s.enableCommand), "\x1b[99h");
    EXPECT_THAT(std::span(s.enableCommand).subspan(5), ::testing::Each(0));
    EXPECT_EQ(reader::fixedText(s.disableCommand), "\x1b[99l");
    EXPECT_THAT(s.macroFrame, ::testing::Each(0));
    // The library's engine values, except the 4507 Code 128 fifth value.
    const auto* code128 = reader::findEngineOperation("Code128_2D_4507");
    auto run = engineRun(s.engine, *code128, Program::Vt);
    std::size_t index = static_cast<std::size_t>(code128 - kEngineOperations.data());
    EXPECT_EQ(run[3].get(), test::libraryValue(index, 3));
    EXPECT_EQ(run[4].get(), 10);
    // Kept.
    EXPECT_EQ(s.prefixOn, 1);
    EXPECT_EQ(reader::fixedText(s.prefixCode), "AB");
    EXPECT_EQ(s.checkLeadingCode, 1);
    EXPECT_EQ(s.triggerByEscCmd, 1);
    EXPECT_EQ(s.feedbackByCmd, 1);
    EXPECT_EQ(s.rfid.showRfidUserData.get(), 1);
}

TEST(ResetReaderSettings, TnRecordGetsNoVtOnlyField) {
    test::FakeReader fake(0x00);
    tn::TnSession s{};
    s.prefixOn = 1;
    reader::resetReaderSettings(fake.library, fake.messages, tn::readerSettings(s));
    // Code128_2D_4507 starts at T+2032: its fifth value at T+2048.
    EXPECT_THAT(s.bytes().subspan(2048, 4), ElementsAre(10, 0, 0, 0));
    EXPECT_EQ(s.prefixOn, 1);
    EXPECT_EQ(s.startPosition, 1);
    // Nothing beyond the reader fields was written: compare with a record given only those.
    tn::TnSession expected{};
    expected.prefixOn = 1;
    std::copy_n(s.libraryDefaults.begin(), s.libraryDefaults.size(),
                expected.libraryDefaults.begin());
    expected.startPosition = 1, expected.maximumLength = 20, expected.codeLength = 15;
    expected.goodBeeper.set(1), expected.errorBeeper.set(2);
    expected.rfidReaderOn = 1, expected.barcodeReaderOn = 1;
    expected.rfid.showRfidUid.set(1), expected.rfid.rfidStartPosition.set(-1);
    expected.rfid.rfidMaximumLength.set(10), expected.rfid.rfidFieldDelimiter[0] = ',';
    engineRun(expected.engine, *reader::findEngineOperation("Code128_2D_4507"), Program::Tn)[4].set(
        10);
    EXPECT_TRUE(std::ranges::equal(s.bytes(), expected.bytes()));
}

TEST(ResetReaderSettings, ReportsMissingLibraryDefaults) {
    struct Case {
        const char* label;
        int result;
        bool resolved;
        bool engineRead;
    };
    const Case cases[] = {
        {"refused", 0, true, true},
        {"unresolved", 1, false, false},
    };
    for (const auto& c : cases) {
        std::set<std::string> omit;
        if (!c.resolved) omit.insert("GetDllDefaultSettings");
        test::FakeReader fake(0x01, omit);
        test::gDefaultsResult = c.result;
        vt::VtSettings s{};
        reader::resetReaderSettings(fake.library, fake.messages, vt::readerSettings(s));
        EXPECT_THAT(fake.messages.texts(), ElementsAre("Failed to get DLL default setting!!"))
            << c.label;
        EXPECT_EQ(engineRun(s.engine, kEngineOperations[0], Program::Vt)[0].get() != 0,
                  c.engineRead)
            << c.label;
        EXPECT_EQ(s.codeLength, 15) << c.label;  // the program's own defaults still apply
    }
}

}  // namespace
}  // namespace qn
