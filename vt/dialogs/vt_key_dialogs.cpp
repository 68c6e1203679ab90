#include "vt/dialogs/vt_key_dialogs.h"

#include <algorithm>

#include "common/dialogs/code_names.h"

namespace qn::vt {

using dialogs::DialogResult;

namespace {

std::vector<std::string> functionNames() {
    std::vector<std::string> names;
    for (const auto& function : VtFunctionList)
        names.emplace_back(function.name);
    return names;
}

std::string_view functionName(int index) {
    // An index from a settings file may be anything: it shows as "Undefined".
    if (index < 0 || index >= kVtFunctionCount) index = 0;
    return VtFunctionList[static_cast<std::size_t>(index)].name;
}

struct PanelKey {
    const char* label;
    int virtualKey;
};

constexpr PanelKey kPanelKeys[] = {
    {"F1", 0x70},  {"F2", 0x71},  {"F3", 0x72},   {"F4", 0x73},   {"F5", 0x74},     {"F6", 0x75},
    {"F7", 0x76},  {"F8", 0x77},  {"F9", 0x78},   {"F10", 0x79},  {"F11", 0x7A},    {"F12", 0x7B},
    {"F13", 0x7C}, {"F14", 0x7D}, {"F15", 0x7E},  {"F16", 0x7F},  {"F17", 0x80},    {"F18", 0x81},
    {"F19", 0x82}, {"F20", 0x83}, {"PgUp", 0x21}, {"PgDn", 0x22}, {"Insert", 0x2D}, {"Home", 0x24},
    {"End", 0x23}, {"Tab", 0x09}, {"Del", 0x2E},  {"BS", 0x08},
};

}  // namespace

SelectKeyDialog::SelectKeyDialog(std::string slotLabel, int functionIndex, const Code& code)
    : Dialog("Select A Key", {0, 0, 240, 320}), functionIndex_(functionIndex), code_(code) {
    addStatic(kLabel, std::move(slotLabel), {10, 10, 100, 14});
    addCombo(kFunction, {10, 30, 140, 14}, functionNames());
    addStatic(kCodeCaption, "Key Code", {10, 56, 60, 14});
    addEdit(kCode, {10, 72, 220, 16}).readOnly = true;
}

void SelectKeyDialog::onInit() {
    if (functionIndex_ < 0 || functionIndex_ >= kVtFunctionCount) functionIndex_ = 0;
    if (code_[0] == 0) {
        const auto& preset = VtFunctionList[static_cast<std::size_t>(functionIndex_)].defaultCode;
        std::copy_n(preset.begin(), kSlotCodeSize, code_.begin());
    }
    control(kFunction).selected = functionIndex_;
    refreshCode();
}

void SelectKeyDialog::refreshCode() {
    control(kCode).text =
        dialogs::formatCodeText(code_, dialogs::fieldLength(code_, kSlotCodeSize));
}

void SelectKeyDialog::onChanged(int id) {
    if (id != kFunction) return;
    const int index = control(kFunction).selected;
    if (index < 0) return;
    functionIndex_ = index;
    const auto& preset = VtFunctionList[static_cast<std::size_t>(index)].defaultCode;
    std::copy_n(preset.begin(), kSlotCodeSize, code_.begin());
    refreshCode();
}

void SelectKeyDialog::onFocus(int id) {
    if (id != kCode) return;
    dialogs::CharEntryDialog picker("Key Code", kSlotCodeSize, code_);
    picker.open(context());
    if (runNested(picker) != DialogResult::Ok) return;
    code_.fill(0);
    std::copy_n(picker.bytes().begin(), std::min(picker.length(), kSlotCodeSize), code_.begin());
    refreshCode();
}

bool SelectKeyDialog::onOk() {
    const int index = control(kFunction).selected;
    if (index >= 0) functionIndex_ = index;
    return true;
}

CDlgVTKeyMapping::CDlgVTKeyMapping(VtSettings& settings, std::string model, int systemInfoDigit)
    : Dialog("Function Key Maping", {0, 0, 240, 320}),
      settings_(settings),
      model_(std::move(model)),
      systemInfoDigit_(systemInfoDigit) {
    // Two columns of fourteen slots.
    for (int slot = 1; slot <= kKeySlotCount; ++slot) {
        const int column = (slot - 1) / 14;
        const int row = (slot - 1) % 14;
        const int x = 4 + column * 118;
        const int y = 4 + row * 20;
        addButton(buttonId(slot),
                  std::string(kKeySlotTable[static_cast<std::size_t>(slot - 1)].pageLabel),
                  {x, y, 34, 16});
        addStatic(arrowId(slot), "=>", {x + 35, y + 2, 17, 14});
        addStatic(nameId(slot), "Undefined", {x + 53, y + 2, 62, 14});
    }
}

void CDlgVTKeyMapping::refreshName(int slot) {
    control(nameId(slot)).text = std::string(functionName(slotFunction(settings_, slot)));
}

void CDlgVTKeyMapping::onInit() {
    for (int slot = 1; slot <= kKeySlotCount; ++slot)
        refreshName(slot);
    const bool sendEnd = model_ == "KX4CE";
    control(buttonId(27)).enabled = sendEnd;
    control(buttonId(28)).enabled = sendEnd;
    for (int slot = 13; slot <= 20; ++slot)
        control(buttonId(slot)).enabled = systemInfoDigit_ != 0;
}

void CDlgVTKeyMapping::onChanged(int id) {
    const int slot = id - buttonId(0);
    if (slot < 1 || slot > kKeySlotCount) return;
    SelectKeyDialog::Code code{};
    auto stored = slotCode(settings_, slot);
    std::copy(stored.begin(), stored.end(), code.begin());
    SelectKeyDialog select(
        std::string(kKeySlotTable[static_cast<std::size_t>(slot - 1)].selectLabel),
        slotFunction(settings_, slot), code);
    select.open(context());
    if (runNested(select) == DialogResult::Ok) {
        // Stored at once: cancelling the settings sheet later does not undo it.
        slotFunction(settings_, slot) = static_cast<std::uint8_t>(select.functionIndex());
        std::copy(select.code().begin(), select.code().end(), stored.begin());
    }
    refreshName(slot);
}

VtKeyPanel::VtKeyPanel() : Dialog("VT Key", {0, 0, 240, 320}) {
    // Four buttons a row.
    for (std::size_t i = 0; i < std::size(kPanelKeys); ++i) {
        const int column = static_cast<int>(i % 4);
        const int row = static_cast<int>(i / 4);
        addButton(buttonId(static_cast<int>(i)), kPanelKeys[i].label,
                  {6 + column * 58, 8 + row * 30, 54, 24});
    }
}

void VtKeyPanel::onChanged(int id) {
    const int index = id - buttonId(0);
    if (index < 0 || index >= static_cast<int>(std::size(kPanelKeys))) return;
    virtualKey_ = kPanelKeys[static_cast<std::size_t>(index)].virtualKey;
    pressOk();
}

}  // namespace qn::vt
