#include "tn5250/dialogs/tn_key_dialogs.h"

#include <algorithm>
#include <iterator>

namespace qn::tn {

using dialogs::DialogResult;

namespace {

std::string_view functionName(int index) {
    // An index from a settings file may be anything: it shows as "Undefined".
    if (index < 0 || index >= kNamedFunctionCount) index = 0;
    return kTnFunctionNames[static_cast<std::size_t>(index)];
}

const TnKeySlot& slotEntry(int slot) {
    for (const TnKeySlot& entry : kTnKeySlotTable) {
        if (entry.slot == slot) return entry;
    }
    return kTnKeySlotTable.front();
}

constexpr const char* kPanelLabels[TnKeyPanel::kButtonCount] = {
    "F1",     "F2",    "F3",   "F4",   "F5",   "F6",     "F7",     "F8",   "F9",    "F10",
    "F11",    "F12",   "F13",  "F14",  "F15",  "F16",    "F17",    "F18",  "F19",   "F20",
    "F21",    "F22",   "F23",  "F24",  "ATTN", "FBegin", "Delete", "FEnd", "Erase", "Field+",
    "Field-", "FExit", "Last", "Next", "PgDn", "PgUp",   "Pre",    "Rec"};

}  // namespace

SelectObjectKeyDialog::SelectObjectKeyDialog(std::string slotLabel, int functionIndex)
    : Dialog("Select Object Key", {0, 0, 240, 320}), functionIndex_(functionIndex) {
    addStatic(kLabel, std::move(slotLabel), {10, 12, 60, 14});
    addStatic(kArrow, "=>", {72, 12, 18, 14});
    addCombo(kFunction, {92, 10, 120, 14},
             std::vector<std::string>(kTnFunctionNames.begin(), kTnFunctionNames.end()));
}

void SelectObjectKeyDialog::onInit() {
    const bool listed = functionIndex_ >= 0 && functionIndex_ < kNamedFunctionCount;
    control(kFunction).selected = listed ? functionIndex_ : -1;
}

bool SelectObjectKeyDialog::onOk() {
    const int index = control(kFunction).selected;
    if (index >= 0) functionIndex_ = index;
    return true;
}

CDlgTNKeyMapping::CDlgTNKeyMapping(TnSession& session, std::string model, int systemInfoDigit)
    : Dialog("Key Mapping", {0, 0, 240, 320}),
      session_(session),
      model_(std::move(model)),
      systemInfoDigit_(systemInfoDigit) {
    // Two columns of fourteen buttons; the hidden "Del" sits under the last.
    int index = 0;
    for (const int slot : kPageSlots) {
        const int column = index < 14 ? 0 : 1;
        const int row = index < 28 ? index % 14 : 13;
        const int x = 4 + column * 118;
        const int y = 4 + row * 20;
        addButton(buttonId(slot), std::string(slotEntry(slot).pageLabel), {x, y, 34, 16});
        addStatic(arrowId(slot), "=>", {x + 35, y + 2, 17, 14});
        addStatic(nameId(slot), "Undefined", {x + 53, y + 2, 62, 14});
        ++index;
    }
    for (const int id : {buttonId(kDeleteSlot), arrowId(kDeleteSlot), nameId(kDeleteSlot)})
        control(id).visible = false;
}

void CDlgTNKeyMapping::refreshName(int slot) {
    control(nameId(slot)).text = std::string(functionName(slotFunction(session_, slot)));
}

void CDlgTNKeyMapping::onInit() {
    for (const int slot : kPageSlots)
        refreshName(slot);
    const bool sendEnd = model_ == "KX4CE";
    control(buttonId(50)).enabled = sendEnd;
    control(buttonId(51)).enabled = sendEnd;
    for (int slot = 13; slot <= 20; ++slot)
        control(buttonId(slot)).enabled = systemInfoDigit_ != 0;
}

void CDlgTNKeyMapping::onChanged(int id) {
    const int slot = id - buttonId(0);
    if (std::find(std::begin(kPageSlots), std::end(kPageSlots), slot) == std::end(kPageSlots))
        return;
    SelectObjectKeyDialog select(std::string(slotEntry(slot).selectLabel),
                                 slotFunction(session_, slot));
    select.open(context());
    // Stored at once: cancelling the settings sheet later does not undo it.
    if (runNested(select) == DialogResult::Ok)
        slotFunction(session_, slot) = static_cast<std::uint8_t>(select.functionIndex());
    refreshName(slot);
}

TnKeyPanel::TnKeyPanel() : Dialog("TN5250 Key", {0, 0, 240, 320}) {
    // Five buttons a row.
    for (int function = 1; function <= kButtonCount; ++function) {
        const int column = (function - 1) % 5;
        const int row = (function - 1) / 5;
        addButton(buttonId(function), kPanelLabels[function - 1],
                  {4 + column * 47, 8 + row * 30, 44, 24});
    }
}

void TnKeyPanel::onChanged(int id) {
    const int function = id - buttonId(1) + 1;
    if (function < 1 || function > kButtonCount) return;
    function_ = function;
    pressOk();
}

}  // namespace qn::tn
