// The table interpreter: conversions, the row kinds, the rules, and the framework's own
// guarantees (layout from a copy of the design, all-or-nothing OK, Cancel).

#include "common/dialogs/table_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/dialogs/char_entry_dialog.h"
#include "tests/dialogs/scripted_runner.h"

namespace qn::dialogs {
namespace {

using ::testing::ElementsAre;

// A VT-sized record with a few named fields of its own beside the engine values.
struct Record {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(3120, 0);
    std::vector<reader::FieldInfo> fields{
        {"flagField", 10, 1, reader::FieldKind::U8, 0, 1},
        {"numberField", 12, 4, reader::FieldKind::I32, 1, 50},
        {"textField", 20, 9, reader::FieldKind::Text},
        {"codeField", 30, 5, reader::FieldKind::Bytes},
        {"typeField", 40, 6, reader::FieldKind::Text},
    };
    std::int32_t engineValue(std::string_view op, int n) const {
        const auto* info = reader::findEngineOperation(op);
        reader::LeInt32 v;
        std::copy_n(bytes.begin() + info->vtOffset + (n - 1) * 4, 4, v.raw.begin());
        return v.get();
    }
    void setEngineValue(std::string_view op, int n, std::int32_t value) {
        const auto* info = reader::findEngineOperation(op);
        reader::LeInt32 v;
        v.set(value);
        std::copy(v.raw.begin(), v.raw.end(), bytes.begin() + info->vtOffset + (n - 1) * 4);
    }
};

struct Fixture {
    Fixture() {
        record.setEngineValue("Code39_2D", 8, 1);
        record.setEngineValue("Code39_2D", 9, 55);
        record.bytes[12] = 1;
    }
    Record record;
    platform::RecordingMessageBoxes messages;
    ScriptedRunner runner;
    DialogContext context{messages, runner, 1};
    TableEnvironment environment{
        .record = {[this] { return std::span<std::uint8_t>(record.bytes); }, false, record.fields},
        .readerType = 0x01,
    };
};

// Stored value → shown index, and the value stored back for an index, for each conversion.
struct ConversionCase {
    const char* name;
    Conversion conversion;
    int entries;
    std::vector<std::pair<long long, int>> shown;   // stored → shown
    std::vector<std::pair<int, long long>> stored;  // index → stored
};

class ConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, ShowsAndStores) {
    const ConversionCase& c = GetParam();
    for (auto [value, index] : c.shown)
        EXPECT_EQ(c.conversion.shown(value, c.entries), index) << "value " << value;
    for (auto [index, value] : c.stored)
        EXPECT_EQ(c.conversion.stored(index, 0), value) << "index " << index;
}

Conversion timeBetweenSymbols() {
    Conversion c = scaled(5, 0);
    c.lastFrom = 99;
    c.maxStored = 99;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ConversionTest,
    ::testing::Values(
        ConversionCase{"Index", {}, 4, {{2, 2}, {4, -1}, {-1, -1}}, {{3, 3}}},
        ConversionCase{
            "Heading", heading(), 4, {{0, 1}, {2, 3}, {3, 0}, {-1, 0}}, {{1, 0}, {3, 2}}},
        ConversionCase{"ScanMode950",
                       valueMap({0, 1, 3, 6, 7}, 3),
                       5,
                       {{0, 0}, {1, 1}, {3, 2}, {7, 4}, {6, 3}, {2, 3}, {99, 3}},
                       {{0, 0}, {2, 3}, {3, 6}, {4, 7}}},
        ConversionCase{
            "ScanMode955", valueMap({4, 8}, 1), 2, {{4, 0}, {8, 1}, {0, 1}}, {{0, 4}, {1, 8}}},
        ConversionCase{"IntercharacterGap",
                       valueMap({6, 10}, 1),
                       2,
                       {{6, 0}, {10, 1}, {7, 1}},
                       {{0, 6}, {1, 10}}},
        ConversionCase{"Timeout950",
                       scaled(1, 1),
                       9,
                       {{1, 0}, {9, 8}, {0, 0}, {-4, 0}, {40, 8}},
                       {{0, 1}, {8, 9}}},
        ConversionCase{"Timeout955",
                       scaled(10, 1, 1),
                       9,
                       {{5, 1}, {30, 2}, {10, 0}, {0, 1}},
                       {{1, 20}, {0, 10}, {8, 90}}},
        ConversionCase{"ScanAngle", scaled(1, 5), 2, {{5, 0}, {6, 1}, {3, 0}}, {{0, 5}, {1, 6}}},
        ConversionCase{"TimeBetweenSymbols",
                       timeBetweenSymbols(),
                       21,
                       {{0, 0}, {10, 2}, {97, 19}, {99, 20}, {150, 20}},
                       {{2, 10}, {19, 95}, {20, 99}}},
        ConversionCase{"Redundancy950", clamped(), 4, {{2, 2}, {9, 3}, {-1, 0}}, {{3, 3}}},
        ConversionCase{"Flag", flag(0x04), 2, {{0x04, 1}, {0x03, 0}}, {{1, 0x04}, {0, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Conversion, AFlagKeepsTheOtherBits) {
    EXPECT_EQ(flag(0x04).stored(1, 0x11), 0x15);
    EXPECT_EQ(flag(0x04).stored(0, 0x15), 0x11);
}

const DialogTable& sample() {
    static const DialogTable table{
        "CDlgSample",
        "Sample",
        "2D",
        {check("Enable", engine("Code39_%", 1)).named("enable"),
         check("Convert", engine("Code39_%", 3)).enabledBy("enable"),
         list("Gap:", {"*Normal", "Large"}, engine("SymbologySecurityLevel_%", 3),
              valueMap({6, 10}, 1)),
         lengthPair(engine("Code39_%", 8), engine("Code39_%", 9), 1, 55),
         number("Count:", field("numberField")),
         list("", {"===Select===", "no", "*yes"}, engine("Upc_%", 11), heading())
             .alsoStoring(engine("EanJan_%", 4)),
         check("At once", field("flagField")).storedAtOnce(),
         check("Codabar", engine("Codabar_%", 1)).opening("CDlgNested"),
         label("Only on long range").withReaderBit(0x02), codeText("Prefix", field("codeField")),
         text("Name:", field("textField"))}};
    return table;
}

const DialogTable& nested() {
    static const DialogTable table{
        "CDlgNested", "Nested", "2D", {check("CLSI", engine("Codabar_%", 4))}};
    return table;
}

TEST(TableDialog, ResolvesTheFamilyAndShowsTheRecordThroughTheConversions) {
    Fixture f;
    f.record.setEngineValue("Code39_2D", 1, 1);
    f.record.setEngineValue("SymbologySecurityLevel_2D", 3, 6);
    f.record.setEngineValue("Code39_2D", 8, 4);
    f.record.setEngineValue("Code39_2D", 9, 20);
    f.record.setEngineValue("Upc_2D", 11, 1);
    f.record.bytes[12] = 7;
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    EXPECT_EQ(d.caption(), "Sample");
    EXPECT_TRUE(d.control(rowControlId(0)).checked);
    EXPECT_EQ(d.control(rowControlId(2)).selected, 0) << "6 is the normal gap";
    EXPECT_EQ(d.control(rowControlId(3)).selected, 1) << "4 <= 20 is min/max";
    EXPECT_EQ(d.control(rowControlId(3, kFirst)).text, "4");
    EXPECT_EQ(d.control(rowControlId(4)).text, "7");
    EXPECT_EQ(d.control(rowControlId(5)).selected, 2);
    EXPECT_FALSE(d.control(rowControlId(8)).visible) << "reader type without 0x02";
}

TEST(TableDialog, OkStoresThroughTheConversionsAndTheSecondPlace) {
    Fixture f;
    f.record.setEngineValue("SymbologySecurityLevel_2D", 3, 6);
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    d.select(rowControlId(2), 1);
    d.select(rowControlId(5), 1);
    d.setText(rowControlId(10), "ab");
    const auto before = f.record.bytes;
    d.pressCancel();
    EXPECT_EQ(f.record.bytes, before) << "Cancel stores nothing";
    d.open(f.context);
    d.select(rowControlId(2), 1);
    d.select(rowControlId(5), 1);
    d.setText(rowControlId(10), "ab");
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(f.record.engineValue("SymbologySecurityLevel_2D", 3), 10);
    EXPECT_EQ(f.record.engineValue("Upc_2D", 11), 0);
    EXPECT_EQ(f.record.engineValue("EanJan_2D", 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&f.record.bytes[20]), 3), std::string("ab\0", 3));
}

TEST(TableDialog, AHeadingSelectedKeepsTheStoredValue) {
    Fixture f;
    f.record.setEngineValue("Upc_2D", 11, 7);  // no entry for it
    f.record.setEngineValue("EanJan_2D", 4, 3);
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    EXPECT_EQ(d.control(rowControlId(5)).selected, 0);
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(f.record.engineValue("Upc_2D", 11), 7);
    EXPECT_EQ(f.record.engineValue("EanJan_2D", 4), 7) << "the second place follows the first";
}

TEST(TableDialog, LengthModeSwapsAPairThatDoesNotFit) {
    Fixture f;
    f.record.setEngineValue("Code39_2D", 8, 4);
    f.record.setEngineValue("Code39_2D", 9, 20);
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    const int mode = rowControlId(3);
    auto lengths = [&] {
        return std::pair{d.control(rowControlId(3, kFirst)).text,
                         d.control(rowControlId(3, kSecond)).text};
    };
    d.select(mode, 0);  // discrete
    EXPECT_EQ(lengths(), (std::pair<std::string, std::string>{"20", "4"}));
    d.select(mode, 0);
    EXPECT_EQ(lengths(), (std::pair<std::string, std::string>{"20", "4"})) << "fits already";
    d.select(mode, 1);  // min/max
    EXPECT_EQ(lengths(), (std::pair<std::string, std::string>{"4", "20"}));
    d.setText(rowControlId(3, kSecond), "4");
    d.select(mode, 0);
    EXPECT_EQ(lengths(), (std::pair<std::string, std::string>{"4", "4"})) << "equal fits both";
    d.select(mode, 1);
    d.setText(rowControlId(3, kSecond), "20");
    d.select(mode, 0);
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(f.record.engineValue("Code39_2D", 8), 20);
    EXPECT_EQ(f.record.engineValue("Code39_2D", 9), 4);
}

TEST(TableDialog, OutOfRangeNumbersKeepTheDialogOpenWithTheFrameworksMessage) {
    struct Case {
        int id;
        const char* text;
        const char* message;
    };
    for (const Case& c : {Case{rowControlId(3, kFirst), "56", "Enter an integer between 1 and 55."},
                          Case{rowControlId(3, kSecond), "0", "Enter an integer between 1 and 55."},
                          Case{rowControlId(4), "51", "Enter an integer between 1 and 50."},
                          Case{rowControlId(4), "x", "Enter an integer."}}) {
        Fixture f;
        f.record.bytes[12] = 3;
        TableDialog d(sample(), f.environment);
        d.open(f.context);
        d.setText(c.id, c.text);
        const auto before = f.record.bytes;
        EXPECT_FALSE(d.pressOk());
        EXPECT_TRUE(d.isOpen());
        EXPECT_THAT(f.messages.texts(), ElementsAre(c.message));
        EXPECT_EQ(f.record.bytes, before);
    }
}

TEST(TableDialog, SpinControlsStepInsideTheRange) {
    Fixture f;
    f.record.bytes[12] = 49;
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    d.step(rowControlId(4, kSpin), 1);
    d.step(rowControlId(4, kSpin), 1);
    EXPECT_EQ(d.control(rowControlId(4)).text, "50");
    d.setText(rowControlId(4), "");
    d.step(rowControlId(4, kSpin), -1);
    EXPECT_EQ(d.control(rowControlId(4)).text, "1");
}

TEST(TableDialog, RulesFollowTheChecks) {
    Fixture f;
    f.environment.find = [](std::string_view name) -> const DialogTable* {
        return name == "CDlgNested" ? &nested() : nullptr;
    };
    f.runner.script = [](Dialog& dialog) {
        dialog.click(rowControlId(0));
        return dialog.pressOk() ? DialogResult::Ok : DialogResult::Cancel;
    };
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    EXPECT_FALSE(d.control(rowControlId(1)).enabled) << "enabled while Enable is checked";
    EXPECT_FALSE(d.control(rowControlId(7, kButton)).enabled);
    d.click(rowControlId(0));
    d.click(rowControlId(7));
    EXPECT_TRUE(d.control(rowControlId(1)).enabled);
    EXPECT_TRUE(d.control(rowControlId(7, kButton)).enabled);
    d.click(rowControlId(7, kButton));
    EXPECT_THAT(f.runner.opened, ElementsAre("Nested"));
    EXPECT_EQ(f.record.engineValue("Codabar_2D", 4), 1) << "the nested dialog stored on its OK";
    d.click(rowControlId(6));
    EXPECT_EQ(f.record.bytes[10], 1) << "stored at once";
    d.pressCancel();
    EXPECT_EQ(f.record.bytes[10], 1);
    EXPECT_EQ(f.record.engineValue("Code39_2D", 1), 0);
    f.environment.readerType = 0x03;
    d.open(f.context);
    EXPECT_TRUE(d.control(rowControlId(8)).visible);
}

TEST(TableDialog, ACodeTextOpensThePickerAndStoresItsBytes) {
    Fixture f;
    f.record.bytes[30] = 0x1B;
    f.runner.script = [](Dialog& dialog) {
        auto& picker = dynamic_cast<CharEntryDialog&>(dialog);
        EXPECT_EQ(picker.title(), "Prefix");
        picker.clickCell(CharEntryDialog::kGrid, 1, 5);  // 0x41 'A'
        return picker.pressOk() ? DialogResult::Ok : DialogResult::Cancel;
    };
    TableDialog d(sample(), f.environment);
    d.open(f.context);
    EXPECT_EQ(d.control(rowControlId(9)).text, "ESC ");
    d.focus(rowControlId(9));
    EXPECT_EQ(f.record.bytes[31], 0) << "not before OK";
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(f.record.bytes[30], 0x1B);
    EXPECT_EQ(f.record.bytes[31], 0x41);
}

TEST(TableDialog, PasswordAndEditableComboExchangeTexts) {
    static const DialogTable table{"CDlgTexts",
                                   "Texts",
                                   "",
                                   {password("Password:", field("textField")),
                                    editCombo("Type:", {"vt100", "vt220"}, field("typeField"))}};
    Fixture f;
    reader::storeText(std::span(f.record.bytes).subspan(20, 9), "secret");
    TableDialog d(table, f.environment);
    d.open(f.context);
    EXPECT_TRUE(d.control(rowControlId(0)).password);
    EXPECT_EQ(d.control(rowControlId(0)).text, "secret");
    EXPECT_TRUE(d.control(rowControlId(1)).editable);
    d.select(rowControlId(1), 1);
    EXPECT_EQ(d.control(rowControlId(1)).text, "vt220");
    d.setText(rowControlId(1), "ansi-long");
    EXPECT_FALSE(d.pressOk()) << "wider than the field";
    EXPECT_THAT(f.messages.texts(), ElementsAre("Enter no more than 6 characters."));
    d.setText(rowControlId(1), "ansi");
    ASSERT_TRUE(d.pressOk());
    EXPECT_EQ(reader::fixedText(std::span(f.record.bytes).subspan(40, 6)), "ansi");
}

TEST(Dialog, ReopeningOnTheLargeScreenScalesOnce) {
    Fixture f;
    f.context.screenMode = 2;
    TableDialog d(sample(), f.environment);
    const device::Rect design = d.control(rowControlId(0)).rect;
    std::vector<int> xs;
    for (int i = 0; i < 3; ++i) {
        d.open(f.context);
        xs.push_back(d.control(rowControlId(0)).rect.x);
        d.pressCancel();
    }
    EXPECT_THAT(xs, ElementsAre(design.x * 2, design.x * 2, design.x * 2));
    f.context.screenMode = 1;
    d.open(f.context);
    EXPECT_EQ(d.control(rowControlId(0)).rect, design);
    EXPECT_EQ(d.rect(), (device::Rect{0, 0, 240, 320}));
}

// A page whose OK hook refuses: the sheet stores none of its pages.
class RefusingPage final : public Dialog {
  public:
    RefusingPage(std::uint8_t& field, bool& refuse)
        : Dialog("Page", {0, 0, 240, 320}), refuse_(refuse) {
        addEdit(1, {0, 0, 10, 10}).number = bindByte(field, {{1, 20}});
    }
    int cancels = 0;

  protected:
    bool onOk() override { return !refuse_; }
    void onCancel() override { ++cancels; }

  private:
    bool& refuse_;
};

TEST(PropertySheet, StoresAllOrNothing) {
    Fixture f;
    std::uint8_t first = 5, second = 6;
    bool refuseFirst = false, refuseSecond = true, refuseSheet = false;
    RefusingPage a(first, refuseFirst), b(second, refuseSecond);
    PropertySheet sheet("Settings");
    sheet.addPage(a);
    sheet.addPage(b);
    sheet.setOkHook([&] { return !refuseSheet; });
    sheet.open(f.context);
    a.setText(1, "7");
    b.setText(1, "8");
    EXPECT_FALSE(sheet.pressOk()) << "the second page refuses";
    EXPECT_EQ(first, 5) << "the first page is not written either";
    refuseSecond = false;
    refuseSheet = true;
    EXPECT_FALSE(sheet.pressOk()) << "the sheet refuses";
    EXPECT_EQ(first, 5);
    EXPECT_EQ(second, 6);
    refuseSheet = false;
    EXPECT_TRUE(sheet.pressOk());
    EXPECT_EQ(first, 7);
    EXPECT_EQ(second, 8);
    sheet.pressCancel();
    EXPECT_EQ(a.cancels + b.cancels, 2);
}

}  // namespace
}  // namespace qn::dialogs
