// The engine and symbology dialogs, generated from their tables for both programs' records, then
// the rules that only some of them have, and the road from a dialog to the simulated reader.

#include "common/dialogs/engine/engine_dialogs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "platform/library.h"
#include "tests/simreader/test_support.h"
#include "tests/support/fake_services.h"
#include "tn5250/settings/tn_settings.h"
#include "vt/dialogs/vt_settings_sheet.h"

namespace qn::dialogs::engines {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

class ScriptedRunner final : public DialogRunner {
  public:
    std::function<DialogResult(Dialog&)> script = [](Dialog&) { return DialogResult::Cancel; };
    std::vector<std::string> opened;
    DialogResult runModal(Dialog& dialog) override {
        opened.push_back(dialog.caption());
        return script(dialog);
    }
};

// One program's record behind the dialogs.
struct Program {
    const char* name;
    std::function<std::span<std::uint8_t>()> bytes;
    std::function<TableEnvironment(platform::MessageBoxes&)> environment;
    bool tn;
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
            platform::RecordingMessageBoxes messages;
            ScriptedRunner runner;
            DialogContext context{messages, runner, 1};
            TableEnvironment environment = program.environment(messages);
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
        platform::RecordingMessageBoxes messages;
        ScriptedRunner runner;
        DialogContext context{messages, runner, 1};
        TableEnvironment environment = program.environment(messages);
        const int begin = program.tn ? reader::kTnEngineBegin : reader::kVtEngineBegin;
        const int end = program.tn ? reader::kTnEngineEnd : reader::kVtEngineEnd;
        for (const auto& table : engineTables()) {
            const std::vector<std::uint8_t> before(program.bytes().begin(), program.bytes().end());
            TableDialog d(table, environment);
            d.open(context);
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

}  // namespace
}  // namespace qn::dialogs::engines
