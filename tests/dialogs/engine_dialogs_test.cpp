// The engine and symbology dialogs, generated from their tables for both programs' records, then
// the rules that only some of them have, and the road from a dialog to the simulated reader.

#include "common/dialogs/engine/engine_dialogs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "plugins/simreader/simreader_test_api.h"
#include "tests/dialogs/scripted_runner.h"
#include "tests/simreader/test_support.h"
#include "tests/support/fake_services.h"
#include "tn5250/settings/tn_settings.h"
#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::dialogs::engines {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// One program's record behind the dialogs.
struct Program {
    const char* name;
    std::function<std::span<std::uint8_t>()> bytes;
    std::function<TableEnvironment(platform::MessageBoxes&)> environment;
    bool tn;
};

// The dialogs of one program, as a sheet shows them.
struct Shown {
    explicit Shown(const Program& program) : environment(program.environment(messages)) {}
    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    DialogContext context{messages, runner, 1};
    TableEnvironment environment;
};

struct Records {
    std::unique_ptr<vt::VtSession> vt = std::make_unique<vt::VtSession>();
    std::unique_ptr<tn::TnSession> tn = std::make_unique<tn::TnSession>();
    std::vector<Program> programs() {
        return {{"VT", [this] { return std::span<std::uint8_t>(vt->settings.bytes()); },
                 [this](platform::MessageBoxes& m) {
                     return engineEnvironment(vt->settings, vt::vtSettingsFields(), nullptr, m);
                 },
                 false},
                {"5250", [this] { return std::span<std::uint8_t>(tn->bytes()); },
                 [this](platform::MessageBoxes& m) {
                     return engineEnvironment(*tn, tn::tnSessionFields(), nullptr, m);
                 },
                 true}};
    }
};

std::int32_t valueIn(std::span<const std::uint8_t> record, bool tn, const std::string& operation,
                     int value) {
    const reader::EngineOperation* op = reader::findEngineOperation(operation);
    if (op == nullptr) return INT32_MIN;
    reader::LeInt32 v;
    const auto at = static_cast<std::size_t>((tn ? op->tnOffset : op->vtOffset) + (value - 1) * 4);
    std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(at), 4, v.raw.begin());
    return v.get();
}

// What the operator sets in a row for the round trip, varied by row and seed; each state is one
// the row's conversion shows again for the value it stores.
struct Choice {
    int state = 0;  // check state, list index, or number
    long long first = 0, second = 0;
};

Choice choose(const Row& row, std::size_t index, int seed) {
    const auto n = static_cast<int>(index) + seed;
    switch (row.kind) {
        case RowKind::Check:
            return {n % 2};
        case RowKind::List: {
            int count = static_cast<int>(row.items.size());
            if (row.conversion.kind == Conversion::Kind::Map)
                count = static_cast<int>(row.conversion.values.size());
            if (row.conversion.kind == Conversion::Kind::Heading) return {1 + n % (count - 1)};
            return {n % count};
        }
        case RowKind::Number:
            return {static_cast<int>(row.range->first +
                                     n % (row.range->second - row.range->first + 1))};
        case RowKind::LengthPair:
            // min/max with the first shorter, or discrete with the first longer.
            return n % 2 == 0 ? Choice{1, 4 + n % 5, 20} : Choice{0, 30, 2 + n % 3};
        default:
            return {};
    }
}

// Sets every row of an open dialog to its choice.
void apply(TableDialog& d, int seed) {
    const auto& rows = d.table().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const int r = static_cast<int>(i);
        const Choice c = choose(row, i, seed);
        if (!row.ref.bound()) continue;
        switch (row.kind) {
            case RowKind::Check:
                d.control(rowControlId(r)).checked = c.state != 0;
                break;
            case RowKind::List:
                d.control(rowControlId(r)).selected = c.state;
                break;
            case RowKind::Number:
                d.control(rowControlId(r)).text = std::to_string(c.state);
                break;
            case RowKind::LengthPair:
                d.control(rowControlId(r, kFirst)).text = std::to_string(c.first);
                d.control(rowControlId(r, kSecond)).text = std::to_string(c.second);
                d.control(rowControlId(r)).selected = c.state;
                break;
            default:
                break;
        }
    }
}

// The row's value as the table says it is stored: read straight from the record's layout.
void expectStored(const TableDialog& d, std::span<const std::uint8_t> record, bool tn, int seed) {
    const auto& rows = d.table().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        if (!row.ref.bound()) continue;
        const Choice c = choose(row, i, seed);
        const std::string where = d.table().className + " row " + std::to_string(i);
        auto stored = [&](const ValueRef& ref) {
            return valueIn(record, tn, d.operationName(ref), ref.value);
        };
        switch (row.kind) {
            case RowKind::Check:
            case RowKind::List: {
                const auto expected =
                    row.kind == RowKind::Check && row.conversion.kind == Conversion::Kind::Index
                        ? std::optional<long long>(c.state)
                        : row.conversion.stored(c.state, 0);
                ASSERT_TRUE(expected) << where;
                EXPECT_EQ(stored(row.ref), *expected) << where;
                if (row.also.bound()) {
                    EXPECT_EQ(stored(row.also), *expected) << where;
                }
                break;
            }
            case RowKind::Number:
                EXPECT_EQ(stored(row.ref), c.state) << where;
                if (row.also.bound()) {
                    EXPECT_EQ(stored(row.also), c.state) << where;
                }
                break;
            case RowKind::LengthPair:
                EXPECT_EQ(stored(row.ref), c.first) << where;
                EXPECT_EQ(stored(row.second), c.second) << where;
                if (row.mode.bound()) {
                    EXPECT_EQ(stored(row.mode), c.state) << where;
                }
                break;
            default:
                break;
        }
    }
}

void expectShown(const TableDialog& d, int seed) {
    const auto& rows = d.table().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const int r = static_cast<int>(i);
        if (!row.ref.bound()) continue;
        const Choice c = choose(row, i, seed);
        const std::string where = d.table().className + " row " + std::to_string(i);
        switch (row.kind) {
            case RowKind::Check:
                EXPECT_EQ(d.control(rowControlId(r)).checked, c.state != 0) << where;
                break;
            case RowKind::List:
                EXPECT_EQ(d.control(rowControlId(r)).selected, c.state) << where;
                break;
            case RowKind::Number:
                EXPECT_EQ(d.control(rowControlId(r)).text, std::to_string(c.state)) << where;
                break;
            case RowKind::LengthPair:
                EXPECT_EQ(d.control(rowControlId(r, kFirst)).text, std::to_string(c.first))
                    << where;
                EXPECT_EQ(d.control(rowControlId(r, kSecond)).text, std::to_string(c.second))
                    << where;
                EXPECT_EQ(d.control(rowControlId(r)).selected, c.state) << where;
                break;
            default:
                break;
        }
    }
}

TEST(EngineTables, EveryClassOnceAndEveryReferenceResolves) {
    std::set<std::string> names;
    for (const auto& table : engineTables()) {
        EXPECT_TRUE(names.insert(table.className).second) << table.className;
        for (const auto& row : table.rows) {
            if (!row.opens.empty()) {
                EXPECT_NE(findEngineTable(row.opens), nullptr) << row.opens;
            }
        }
    }
    // 16 + 14 + 18 + 19 dialogs in the four families.
    EXPECT_EQ(names.size(), 67u);
    for (const char* main : {"CDlg950Main", "CDlg955Main", "CDlg4407Main", "CDlg4507Main"})
        EXPECT_TRUE(names.contains(main));
}

// Every dialog, both records: the operator's choices are stored where the table says, a new
// opening shows them again through the conversions, and OK then writes the record back
// unchanged; Cancel stores nothing.
TEST(EngineTables, EveryDialogRoundTripsInBothRecords) {
    for (int seed : {0, 1}) {
        Records records;
        for (const Program& program : records.programs()) {
            Shown shown(program);
            auto& [messages, runner, context, environment] = shown;
            for (const auto& table : engineTables()) {
                SCOPED_TRACE(std::string(program.name) + " " + table.className);
                TableDialog d(table, environment);
                d.open(context);
                EXPECT_EQ(d.caption(), table.caption);
                apply(d, seed);
                ASSERT_TRUE(d.pressOk()) << (messages.texts().empty() ? "" : messages.texts()[0]);
                expectStored(d, program.bytes(), program.tn, seed);

                const std::vector<std::uint8_t> stored(program.bytes().begin(),
                                                       program.bytes().end());
                TableDialog again(table, environment);
                again.open(context);
                expectShown(again, seed);
                ASSERT_TRUE(again.pressOk());
                EXPECT_TRUE(std::ranges::equal(program.bytes(), stored))
                    << "written back unchanged";

                again.open(context);
                apply(again, seed + 1);
                again.pressCancel();
                EXPECT_TRUE(std::ranges::equal(program.bytes(), stored)) << "Cancel stores nothing";
            }
        }
    }
}

// The two records keep their values apart: a dialog bound to one never writes the other.
TEST(EngineTables, ADialogWritesOnlyItsOwnEngineSpan) {
    Records records;
    for (const Program& program : records.programs()) {
        Shown shown(program);
        const int begin = program.tn ? reader::kTnEngineBegin : reader::kVtEngineBegin;
        const int end = program.tn ? reader::kTnEngineEnd : reader::kVtEngineEnd;
        for (const auto& table : engineTables()) {
            const std::vector<std::uint8_t> before(program.bytes().begin(), program.bytes().end());
            TableDialog d(table, shown.environment);
            d.open(shown.context);
            apply(d, 1);
            ASSERT_TRUE(d.pressOk());
            auto now = program.bytes();
            for (int at = 0; at < static_cast<int>(now.size()); ++at) {
                if (at >= begin && at < end) continue;
                ASSERT_EQ(now[static_cast<std::size_t>(at)], before[static_cast<std::size_t>(at)])
                    << program.name << " " << table.className << " wrote byte " << at;
            }
        }
    }
}

struct VtFixture {
    std::unique_ptr<vt::VtSession> session = std::make_unique<vt::VtSession>();
    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    DialogContext context{messages, runner, 1};
    TableEnvironment environment =
        engineEnvironment(session->settings, vt::vtSettingsFields(), nullptr, messages);
    std::int32_t value(const char* op, int n) const {
        return valueIn(session->settings.bytes(), false, op, n);
    }
    void set(const char* op, int n, std::int32_t v) {
        const auto* info = reader::findEngineOperation(op);
        reader::engineRun(session->settings.engine, *info, reader::Program::Vt)[n - 1].set(v);
    }
};

// The main control of the row with this text.
int rowWithText(const TableDialog& d, std::string_view text) {
    const auto& rows = d.table().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].text == text) return rowControlId(static_cast<int>(i));
    }
    throw std::out_of_range(std::string(text));
}

TEST(CDlg4407Codabar, TheLengthPairSwapsAndTheGapListStoresSixOrTen) {
    VtFixture f;
    f.set("Codabar_2D", 2, 4);
    f.set("Codabar_2D", 3, 20);
    f.set("SymbologySecurityLevel_2D", 3, 6);
    TableDialog d(*findEngineTable("CDlg4407Codabar"), f.environment);
    d.open(f.context);
    const int pair = rowControlId(2), gap = rowControlId(3);
    EXPECT_EQ(d.control(pair).items[static_cast<std::size_t>(d.control(pair).selected)],
              "*min/max");
    EXPECT_EQ(d.control(gap).items[static_cast<std::size_t>(d.control(gap).selected)],
              "*Normal intercharacter gaps");
    d.select(pair, 0);  // discrete
    EXPECT_EQ(d.control(rowControlId(2, kFirst)).text, "20");
    EXPECT_EQ(d.control(rowControlId(2, kSecond)).text, "4");
    d.select(pair, 1);
    EXPECT_EQ(d.control(rowControlId(2, kFirst)).text, "4");
    d.select(pair, 0);
    d.select(gap, 1);
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(f.value("Codabar_2D", 2), 20);
    EXPECT_EQ(f.value("Codabar_2D", 3), 4);
    EXPECT_EQ(f.value("SymbologySecurityLevel_2D", 3), 10);
    // Any value but 6 shows the large gaps; normal stores 6 again.
    f.set("SymbologySecurityLevel_2D", 3, 3);
    d.open(f.context);
    EXPECT_EQ(d.control(gap).selected, 1);
    d.select(gap, 0);
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(f.value("SymbologySecurityLevel_2D", 3), 6);
}

TEST(CDlg955ReaderPara, ShortTimeoutsShowTwoSecondsAndTheAimListNeedsTheLongRangeLaser) {
    for (std::uint32_t readerType : {0x80u, 0x82u}) {
        VtFixture f;
        f.environment.readerType = readerType;
        f.set("UserPreferences_1D_SE955", 1, 5);
        TableDialog d(*findEngineTable("CDlg955ReaderPara"), f.environment);
        d.open(f.context);
        const Control& timeout = d.control(rowControlId(0));
        EXPECT_EQ(timeout.items[static_cast<std::size_t>(timeout.selected)], "2 sec");
        const Control& aim = d.control(rowWithText(d, "Aim pattern Duration:"));
        EXPECT_EQ(aim.visible, readerType == 0x82u);
        ASSERT_TRUE(d.pressOk());
        EXPECT_EQ(f.value("UserPreferences_1D_SE955", 1), 20);
    }
}

TEST(CDlg4407Code39, AnOutOfRangeLengthKeepsItOpenWithTheFrameworksMessage) {
    VtFixture f;
    f.set("Code39_2D", 8, 2);
    f.set("Code39_2D", 9, 10);
    TableDialog d(*findEngineTable("CDlg4407Code39"), f.environment);
    d.open(f.context);
    const int length = rowWithText(d, "Full ASCII conversion") + kRowIdStep;
    d.setText(length + kFirst, "56");
    EXPECT_FALSE(d.pressOk());
    EXPECT_TRUE(d.isOpen());
    EXPECT_THAT(f.messages.texts(), ::testing::ElementsAre("Enter an integer between 1 and 55."));
    EXPECT_EQ(f.value("Code39_2D", 8), 2);
    d.setText(length + kFirst, "55");
    EXPECT_TRUE(d.pressOk());
    EXPECT_EQ(f.value("Code39_2D", 8), 55);
}

TEST(MainDialogs, TheReaderTypeChoosesTheFamily) {
    EXPECT_EQ(mainDialogFor(0x01, false), "CDlg950Main");
    EXPECT_EQ(mainDialogFor(0x81, false), "CDlg955Main");
    EXPECT_EQ(mainDialogFor(0x04, true), "CDlg4407Main");
    EXPECT_EQ(mainDialogFor(0x44, true), "CDlg4507Main");
}

// Each main dialog: a box holds value 1 of its operation and enables its button; boxes without
// a button are as listed; OK stores every flag.
TEST(MainDialogs, BoxesHoldTheEnableFlagsAndEnableTheirButtons) {
    struct Case {
        const char* main;
        std::set<std::string> withoutButton;
    };
    for (const Case& c :
         {Case{"CDlg950Main", {"Negative barcode", "Code 128", "Code 93", "ISBT 128"}},
          Case{"CDlg955Main", {"Chinese 25"}}, Case{"CDlg4407Main", {}},
          Case{"CDlg4507Main", {"Chinese 25"}}}) {
        VtFixture f;
        TableDialog d(*findEngineTable(c.main), f.environment);
        d.open(f.context);
        const auto& rows = d.table().rows;
        std::set<std::string> boxesWithoutButton;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& row = rows[i];
            const int id = rowControlId(static_cast<int>(i));
            if (row.kind != RowKind::Check) continue;
            EXPECT_EQ(row.ref.value, 1) << row.text;
            if (row.opens.empty()) {
                boxesWithoutButton.insert(row.text);
                continue;
            }
            EXPECT_FALSE(d.control(id + kButton).enabled) << row.text;
            d.click(id);
            EXPECT_TRUE(d.control(id + kButton).enabled) << row.text;
        }
        EXPECT_EQ(boxesWithoutButton, c.withoutButton) << c.main;
        for (const char* text : {"Reader Para", "Reset"})
            EXPECT_TRUE(d.control(rowWithText(d, text)).enabled);
        ASSERT_TRUE(d.pressOk());
        for (const Row& row : rows) {
            if (row.kind == RowKind::Check && !row.opens.empty()) {
                EXPECT_EQ(f.value(d.operationName(row.ref).c_str(), 1), 1) << row.text;
            }
        }
    }
}

// The simulated reader behind a session record.
struct ReaderRig {
    explicit ReaderRig(const std::string& type) {
        test::writeFile(root / "reader.ini", "[reader]\ntype=" + type + "\nactive=0x27\n");
        test::copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so");
        loaded = reader.load();
        if (loaded) reader.initialise();
        plugin.emplace(root / "ScanSvc_CE.so");
    }
    std::string log() const {
        auto callLog = plugin->get<QnSimCallLogFn>("QnSimCallLog");
        std::string text(65536, '\0');
        const int length = callLog(text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<std::size_t>(std::min<int>(length, 65535)));
        return text;
    }
    void clearLog() const { plugin->get<QnSimClearCallLogFn>("QnSimClearCallLog")(); }
    // What the library holds now for value n of an operation.
    std::int32_t libraryValue(const char* operation, int n) const {
        const auto* op = reader::findEngineOperation(operation);
        const auto index = static_cast<std::size_t>(op - reader::kEngineOperations.data());
        std::array<std::int32_t, reader::kMaxEnginePointers> values{};
        reader::callEngineOperation(*op, reader.engineOperation(index), 'r', values.data());
        return values[static_cast<std::size_t>(n - 1)];
    }

    test::TempDir root;
    test::TestServices services{root.path()};
    reader::ReaderLibrary reader{services.services};
    bool loaded = false;
    std::optional<test::Plugin> plugin;
};

TEST(MainDialogs, ResetReloadsFactoryValuesThatTheSymbologyDialogsShow) {
    ReaderRig rig("0x05");
    ASSERT_TRUE(rig.loaded);
    auto session = std::make_unique<vt::VtSession>();
    auto settings = vt::readerSettings(session->settings);
    reader::syncEngineSettings(rig.reader, settings, reader::kReadFromLibrary);
    const std::int32_t factory = rig.libraryValue("Code39_2D", 8);
    // Away from the factory value, in the record and in the library.
    reader::engineRun(session->settings.engine, *reader::findEngineOperation("Code39_2D"),
                      reader::Program::Vt)[7]
        .set(factory + 3);
    reader::syncEngineSettings(rig.reader, settings, reader::kWriteToLibrary);
    reader::storeText(session->settings.prefixCode, "P");
    ASSERT_EQ(rig.libraryValue("Code39_2D", 8), factory + 3);

    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    DialogContext context{messages, runner, 1};
    TableEnvironment environment =
        engineEnvironment(session->settings, vt::vtSettingsFields(), &rig.reader, messages);
    rig.clearLog();
    TableDialog main(*findEngineTable(mainDialogFor(rig.reader.readerType(), true)), environment);
    main.open(context);
    main.click(rowWithText(main, "Reset"));
    EXPECT_FALSE(main.isOpen()) << "Reset closes the dialog";
    const std::string log = rig.log();
    EXPECT_THAT(log, HasSubstr("ResetReaderToDefault 7\nGetDllDefaultSettings\n"));
    EXPECT_EQ(reader::fixedText(session->settings.prefixCode), "P") << "not a reader default";

    TableDialog code39(*findEngineTable("CDlg4407Code39"), environment);
    code39.open(context);
    const int length = rowWithText(code39, "Full ASCII conversion") + kRowIdStep;
    EXPECT_EQ(code39.control(length + kFirst).text, std::to_string(factory));
}

// End to end: a value changed in a symbology dialog reaches the library when the settings
// sheet closes with OK.
TEST(EngineDialogs, AChangedValueReachesTheReaderWhenTheSheetClosesWithOk) {
    ReaderRig rig("0x25");
    ASSERT_TRUE(rig.loaded);
    auto session = std::make_unique<vt::VtSession>();
    session->settingsLoaded = 1;
    vt::VtDocument document(*session, rig.reader, rig.services.messages, rig.root.path());
    document.setDefaultSettings();
    // The simulated reader's factory values are a pattern: lengths the dialog accepts.
    auto code39 = reader::engineRun(session->settings.engine,
                                    *reader::findEngineOperation("Code39_2D"), reader::Program::Vt);
    code39[7].set(2);
    code39[8].set(10);
    ScriptedRunner runner;
    DialogContext context{rig.services.messages, runner, 1};
    vt::VtSettingsSheet sheet(*session, document, rig.reader, rig.services.messages, "KX2CE", 1);
    PropertySheet& pages = sheet.open(context);

    const std::int32_t fullAscii = rig.libraryValue("Code39_2D", 7);
    runner.script = [&](Dialog& dialog) {
        auto& code39 = dynamic_cast<TableDialog&>(dialog);
        code39.click(rowWithText(code39, "Full ASCII conversion"));
        return code39.pressOk() ? DialogResult::Ok : DialogResult::Cancel;
    };
    TableDialog main(*findEngineTable(mainDialogFor(rig.reader.readerType(), true)),
                     sheet.environment());
    main.open(context);
    EXPECT_EQ(main.caption(), "4407 Setting");
    const int code39Box = rowWithText(main, "Code 39");
    main.setChecked(code39Box, true);
    main.click(code39Box + kButton);
    EXPECT_THAT(runner.opened, Contains("Code 39"));
    ASSERT_TRUE(main.pressOk());
    EXPECT_EQ(rig.libraryValue("Code39_2D", 7), fullAscii) << "not before the sheet's OK";

    ASSERT_TRUE(pages.pressOk());
    rig.clearLog();
    sheet.finish(true, [](std::string_view) { return false; });
    EXPECT_THAT(rig.log(), HasSubstr("Code39_2D w\n"));
    EXPECT_EQ(rig.libraryValue("Code39_2D", 7), fullAscii == 0 ? 1 : 0);
    EXPECT_EQ(rig.libraryValue("Code39_2D", 1), 1);
}

}  // namespace
}  // namespace qn::dialogs::engines
