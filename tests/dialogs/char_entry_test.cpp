#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/dialogs/char_entry_dialog.h"
#include "common/dialogs/code_names.h"

namespace qn::dialogs {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

TEST(CodeNameTable, NamesEveryByteClass) {
    const auto& names = codeNameTable();
    const std::vector<std::pair<int, const char*>> samples{
        {0x00, ""},    {0x01, "Ins"}, {0x07, "Left"}, {0x08, "BS"},  {0x0D, "Enter"},
        {0x0F, "F1"},  {0x10, "F2"},  {0x1A, "F12"},  {0x1B, "ESC"}, {0x1C, "Exec"},
        {0x1D, ""},    {0x1F, ""},    {0x20, "SP"},   {0x21, "!"},   {0x7E, "~"},
        {0x7F, "DEL"}, {0x80, "128"}, {0xFF, "255"}};
    for (auto [byte, name] : samples)
        EXPECT_EQ(names[static_cast<std::size_t>(byte)], name) << byte;
}

TEST(FormatCodeText, EachNameThenABlank) {
    const Bytes f1{0x1B, 'O', 'P', 0, 0};
    EXPECT_EQ(formatCodeText(f1, 3), "ESC O P ");
    EXPECT_EQ(formatCodeText(f1, 0), "");
    EXPECT_EQ(formatCodeText(f1, 99), "ESC O P   ") << "never past the bytes";
}

TEST(FieldLength, FixedWidthRule) {
    EXPECT_EQ(fieldLength(Bytes{1, 2, 3, 4, 5}, 5), 5u);
    EXPECT_EQ(fieldLength(Bytes{0x1B, '[', 'V', 0, 0}, 5), 3u);
    EXPECT_EQ(fieldLength(Bytes{0, 2, 3, 4, 0}, 5), 0u);
    EXPECT_EQ(fieldLength(Bytes{1, 0, 3, 4, 5}, 5), 5u) << "a full last byte means the whole width";
    EXPECT_EQ(fieldLength(Bytes{1, 2}, 5), 2u) << "never past the bytes";
}

class Runner final : public DialogRunner {
  public:
    DialogResult runModal(Dialog&) override { return DialogResult::Cancel; }
};

struct Picker {
    Picker(std::size_t limit, Bytes initial) : dialog("Key Code", limit, initial) {
        dialog.open(context);
    }
    platform::RecordingMessageBoxes messages;
    Runner runner;
    DialogContext context{messages, runner, 1};
    CharEntryDialog dialog;
};

TEST(CharEntryDialog, GridShowsNamesByColumnAndRow) {
    Picker p(5, {});
    const Control& grid = p.dialog.control(CharEntryDialog::kGrid);
    ASSERT_EQ(grid.columns.size(), 17u);
    EXPECT_EQ(grid.columns[0], "  ");
    EXPECT_EQ(grid.columns[1], "00");
    EXPECT_EQ(grid.columns[16], "F0");
    ASSERT_EQ(grid.cells.size(), 16u);
    EXPECT_EQ(grid.cells[15][0], "0F");
    EXPECT_EQ(grid.cells[11][2], "ESC ");   // byte 0x1B: column "10", row "0B"
    EXPECT_EQ(grid.cells[1][5], "A ");      // byte 0x41
    EXPECT_EQ(grid.cells[15][16], "255 ");  // byte 0xFF
    EXPECT_EQ(p.dialog.caption(), "The Grid Control");
    EXPECT_EQ(p.dialog.title(), "Key Code");
}

TEST(CharEntryDialog, LimitClearAndOk) {
    Picker p(5, {0x1B, 'O', 0, 0, 0});
    EXPECT_EQ(p.dialog.control(CharEntryDialog::kText).text, "ESC O ");
    for (int i = 0; i < 3; ++i)
        p.dialog.clickCell(CharEntryDialog::kGrid, 1, 5);  // 'A'
    EXPECT_THAT(p.messages.texts(), IsEmpty());
    p.dialog.clickCell(CharEntryDialog::kGrid, 2, 5);  // the sixth byte
    EXPECT_THAT(p.messages.texts(), ElementsAre("Too many characters"));
    EXPECT_EQ(p.dialog.control(CharEntryDialog::kText).text, "ESC O A A A ");
    p.dialog.clickCell(CharEntryDialog::kGrid, 3, 0);  // the row label column does nothing
    p.dialog.click(CharEntryDialog::kClear);
    EXPECT_EQ(p.dialog.control(CharEntryDialog::kText).text, "");
    for (int column : {1, 2, 3, 4, 5})
        p.dialog.clickCell(CharEntryDialog::kGrid, 4, column);
    EXPECT_THAT(p.messages.texts(), ElementsAre("Too many characters"))
        << "five more fit after Clear";
    ASSERT_TRUE(p.dialog.pressOk());
    EXPECT_EQ(Bytes(p.dialog.bytes().begin(), p.dialog.bytes().end()),
              (Bytes{0x04, 0x14, 0x24, 0x34, 0x44}));
}

TEST(CharEntryDialog, InitialBytesAreCutToTheLimit) {
    Picker p(2, {'a', 'b', 'c', 0});
    EXPECT_EQ(p.dialog.length(), 2u);
    EXPECT_EQ(p.dialog.control(CharEntryDialog::kText).text, "a b ");
}

TEST(CharEntryDialog, LimitAboveTheLargestIsHeldAtIt) {
    Picker p(100, {});
    for (int i = 0; i < 50; ++i)
        p.dialog.clickCell(CharEntryDialog::kGrid, 1, 5);
    EXPECT_EQ(p.dialog.length(), CharEntryDialog::kMaxLimit);
    EXPECT_EQ(p.messages.texts().size(), 5u);
}

}  // namespace
}  // namespace qn::dialogs
