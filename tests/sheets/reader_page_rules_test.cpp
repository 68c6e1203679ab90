// The "Barcode Reader" page's rules for the two masks, its toggles and the lists of the
// scanner dialogs.

#include "common/dialogs/reader_page_rules.h"

#include <gtest/gtest.h>

namespace qn::dialogs {
namespace {

struct MaskCase {
    const char* name;
    std::uint32_t readerType, activeDevices;
    // barcode enabled/checked, rfid enabled/checked, 1D, long range, 2D, RFID, Advanced
    std::array<bool, 9> expected;
};

std::array<bool, 9> flags(const ReaderPageState& s) {
    return {s.barcodeEnabled, s.barcodeChecked, s.rfidEnabled,  s.rfidChecked,     s.oneDSettings,
            s.longRangeLaser, s.twoDSettings,   s.rfidSettings, s.advancedSettings};
}

TEST(ReaderPageState, EnablingFollowsBothMasks) {
    const std::vector<MaskCase> cases{
        {"long-range laser only", 0x02, 0x07, {1, 1, 0, 0, 0, 1, 0, 0, 1}},
        {"1D and 2D engines", 0x05, 0x07, {1, 1, 0, 0, 1, 0, 1, 0, 1}},
        {"955 and 4507 engines", 0xC0, 0x01, {1, 1, 0, 0, 1, 0, 1, 0, 1}},
        {"barcode cleared: no engine button", 0x07, 0x00, {1, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"barcode cleared, RFID active", 0x107, 0x20, {1, 0, 1, 1, 0, 0, 0, 1, 1}},
        {"RFID reader type 0x10", 0x10, 0x20, {0, 0, 1, 1, 0, 0, 0, 1, 1}},
        {"reader type 0x08: nothing to switch", 0x08, 0x00, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"a device bit without its engine", 0x00, 0x27, {0, 1, 0, 1, 0, 0, 0, 1, 1}},
    };
    for (const MaskCase& c : cases) {
        EXPECT_EQ(flags(readerPageState(c.readerType, c.activeDevices)), c.expected) << c.name;
    }
}

TEST(ReaderPageState, TogglesSetAllOrClearAll) {
    EXPECT_EQ(toggleBarcodeDevices(0x20), 0x27u);
    EXPECT_EQ(toggleBarcodeDevices(0x21), 0x20u) << "one active bit counts as on";
    EXPECT_EQ(toggleBarcodeDevices(0x07), 0x00u);
    EXPECT_EQ(toggleRfidDevice(0x07), 0x27u);
    EXPECT_EQ(toggleRfidDevice(0x27), 0x07u);
}

TEST(ScannerLists, SoundsVibrationAndTheHiddenRfidList) {
    const auto& vt = soundListItems(reader::Program::Vt);
    const auto& tn = soundListItems(reader::Program::Tn);
    ASSERT_EQ(vt.size(), 10u);
    ASSERT_EQ(tn.size(), 10u);
    EXPECT_EQ(vt.front() + vt[1] + vt.back(), "MuteS1S9");
    EXPECT_EQ(tn.front() + tn[1] + tn.back(), "muteSound1Sound9");
    const auto& vibration = vibrationListItems();
    ASSERT_EQ(vibration.size(), 11u);
    EXPECT_EQ(vibration[2], "1.0 sec");
    EXPECT_EQ(vibration[10], "5.0 sec");
    const auto& hidden = rfidHiddenListItems();
    ASSERT_EQ(hidden.size(), 1u + 31u + 95u);
    EXPECT_EQ(hidden[0], "None");
    EXPECT_EQ(hidden[31], "31");
    EXPECT_EQ(hidden[32], "' '");
    EXPECT_EQ(hidden.back(), "'~'");
}

}  // namespace
}  // namespace qn::dialogs
