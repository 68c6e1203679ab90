// The suffix lists of the 5250 "Advanced Barcode Settings": every entry stores the code that
// scan entry applies as the entry's name says, and a chosen entry does that on a scan.

#include "tn5250/dialogs/tn_suffix_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/tn5250/tn_test_support.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {
namespace {

TEST(SuffixList, EveryEntryStoresTheCodeOfItsName) {
    const auto& items = suffixListItems();
    ASSERT_EQ(items.size(), 173u);
    for (int p = 0; p < kSuffixEntryCount; ++p) {
        const std::uint8_t code = suffixCodeAt(p);
        EXPECT_EQ(suffixPositionOf(code), p) << items[std::size_t(p)];
        // Read the code the way scan entry does.
        if (code < 127) {
            EXPECT_EQ(items[std::size_t(p)], kTnFunctionNames[code]) << p;
        } else {
            const int c = code - 127;
            if (c > 32) {
                EXPECT_EQ(items[std::size_t(p)], std::string(1, char(c))) << p;
            }
        }
    }
    EXPECT_EQ(items[46], "NUL");
    EXPECT_EQ(items[46 + 9], "HT");
    EXPECT_EQ(items[46 + 32], "SP");
    EXPECT_EQ(items[46 + 'A'], "A");
    EXPECT_EQ(items.back(), "~");
    // Codes no entry stands for are shown as no selection, never as a wrong entry.
    for (int code : {46, 47, 100, 126, 254, 255})
        EXPECT_FALSE(suffixPositionOf(std::uint8_t(code)).has_value()) << code;
}

// Two fields of five positions; "12" is scanned into the first, then the suffix acts.
struct SuffixCase {
    std::string entry;
    bool last;                   // the scan goes into the last field (lastFieldSuffix)
    std::string field0;          // nulls as '.'
    std::pair<int, int> cursor;  // field index and offset
    int aid;                     // the AID sent, -1 none
};

struct Screen : test::Terminal {
    Screen() {
        test::Bytes body = test::wtd(0x00, 0x08);
        for (std::uint8_t k = 0; k < 2; ++k) {
            const test::Bytes at = test::sba(std::uint8_t(3 + k), 10);
            const test::Bytes field = test::sf(0x40, 0x00, 0x24, 5);
            body.insert(body.end(), at.begin(), at.end());
            body.insert(body.end(), field.begin(), field.end());
        }
        feed(test::record(body));
        feed(test::record({0x04, 0x52, 0x00, 0x08}));  // Read MDT Fields
        host.sends.clear();
    }
    const FieldEntry& field(int k) const { return screen->fields.entries()[std::size_t(k)]; }
    std::string text(int k) const {
        std::string out;
        for (int i = 0; i < field(k).length; ++i) {
            const std::uint8_t c = screen->charAtPosition(field(k).start() + i);
            out += c == 0 ? '.' : char(c);
        }
        return out;
    }
    std::pair<int, int> cursor() const {
        const int number = screen->state.currentField.number;
        return {number - 1, screen->position() - field(number - 1).start()};
    }
    TnFieldEditor editor{*screen, stream, *session, host};
};

TEST(SuffixList, ChosenEntryActsOnAScan) {
    const std::vector<SuffixCase> cases{
        {"Undefined", false, "12...", {0, 2}, -1}, {"ENTER", false, "12...", {0, 2}, 0xF1},
        {"ENTER", true, "12...", {1, 2}, 0xF1},    {"PF3", false, "12...", {0, 2}, 0x33},
        {"PF13", false, "12...", {0, 2}, 0xB1},    {"FIELDEXIT", false, "12...", {1, 0}, -1},
        {"NEXT", false, "12...", {1, 0}, -1},      {"PREVIOUS", true, "12...", {0, 0}, -1},
        {"ERASE", false, ".....", {0, 0}, -1},     {"PGDN", false, "12...", {0, 2}, 0xF5},
        {"HT", false, "12...", {1, 0}, -1},    // Tab: next field
        {"CR", false, "12...", {1, 0}, -1},    // carriage return: field exit
        {"FS", false, "12...", {0, 2}, 0xF1},  // 0x1C: Enter
        {"NUL", false, "12...", {0, 2}, -1},       {"SP", false, "12 ..", {0, 3}, -1},
        {"A", false, "12A..", {0, 3}, -1},         {"~", false, "12~..", {0, 3}, -1},
    };
    const auto& items = suffixListItems();
    for (const SuffixCase& c : cases) {
        SCOPED_TRACE(c.entry + (c.last ? " (last field)" : ""));
        const auto at = std::ranges::find(items, c.entry);
        ASSERT_NE(at, items.end());
        Screen t;
        const std::uint8_t code = suffixCodeAt(int(at - items.begin()));
        (c.last ? t.session->lastFieldSuffix : t.session->otherFieldSuffix) = code;
        if (c.last) {
            t.screen->setPosition(t.field(1).start());
            t.screen->locateField(t.screen->state.row, t.screen->state.column);
            t.screen->selectField(t.screen->state.currentField);
        }
        const std::uint8_t data[] = {'1', '2'};
        ASSERT_EQ(t.editor.enterScannedData(data), ScanEntry::Entered);
        EXPECT_EQ(t.text(c.last ? 1 : 0), c.field0);
        if (c.aid < 0) {
            EXPECT_TRUE(t.host.sends.empty());
            EXPECT_EQ(t.cursor(), c.cursor);
        } else {
            ASSERT_EQ(t.host.sends.size(), 1u);
            ASSERT_GT(t.host.sends[0].size(), 12u);
            EXPECT_EQ(t.host.sends[0][12], c.aid);
        }
    }
}

}  // namespace
}  // namespace qn::tn
