#include "common/dialogs/dialog_model.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace qn::dialogs {

std::string_view className(ControlClass kind) {
    switch (kind) {
        case ControlClass::Static:
            return "static";
        case ControlClass::Button:
            return "button";
        case ControlClass::CheckBox:
            return "checkbox";
        case ControlClass::RadioButton:
            return "radiobutton";
        case ControlClass::Edit:
            return "edit";
        case ControlClass::ComboBox:
            return "combobox";
        case ControlClass::ListBox:
            return "listbox";
        case ControlClass::GroupBox:
            return "groupbox";
        case ControlClass::ListView:
            return "listview";
        case ControlClass::Spin:
            return "msctls_updown32";
    }
    return "static";
}

IntBinding bindFlag(std::uint8_t& field) {
    return {[&field] { return static_cast<long long>(field != 0); },
            [&field](long long v) { field = v != 0 ? 1 : 0; }, std::nullopt};
}

IntBinding bindByte(std::uint8_t& field, std::optional<std::pair<long long, long long>> range) {
    return {[&field] { return static_cast<long long>(field); },
            [&field](long long v) { field = static_cast<std::uint8_t>(v); }, range};
}

IntBinding bindInt(reader::LeInt32& field, std::optional<std::pair<long long, long long>> range) {
    return {[&field] { return static_cast<long long>(field.get()); },
            [&field](long long v) { field.set(static_cast<std::int32_t>(v)); }, range};
}

IntBinding bindPort(reader::LeUint16& field, std::optional<std::pair<long long, long long>> range) {
    return {[&field] { return static_cast<long long>(field.get()); },
            [&field](long long v) { field.set(static_cast<std::uint16_t>(v)); }, range};
}

TextBinding bindText(std::span<std::uint8_t> field, std::size_t maxChars) {
    return {[field] { return std::string(reader::fixedText(field)); },
            [field](std::string_view text) { reader::storeText(field, text); }, maxChars};
}

Control& Dialog::control(int id) {
    auto it = std::find_if(controls_.begin(), controls_.end(),
                           [id](const Control& c) { return c.id == id; });
    if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(id));
    return *it;
}

const Control& Dialog::control(int id) const {
    return const_cast<Dialog*>(this)->control(id);
}

Control& Dialog::add(Control control) {
    control.designRect = control.rect;
    controls_.push_back(std::move(control));
    return controls_.back();
}

Control& Dialog::addStatic(int id, std::string text, device::Rect rect) {
    return add({.id = id, .kind = ControlClass::Static, .text = std::move(text), .rect = rect});
}
Control& Dialog::addButton(int id, std::string text, device::Rect rect) {
    return add({.id = id, .kind = ControlClass::Button, .text = std::move(text), .rect = rect});
}
Control& Dialog::addCheck(int id, std::string text, device::Rect rect) {
    return add({.id = id, .kind = ControlClass::CheckBox, .text = std::move(text), .rect = rect});
}
Control& Dialog::addRadio(int id, std::string text, device::Rect rect, int group) {
    return add({.id = id,
                .kind = ControlClass::RadioButton,
                .text = std::move(text),
                .rect = rect,
                .radioGroup = group});
}
Control& Dialog::addEdit(int id, device::Rect rect) {
    return add({.id = id, .kind = ControlClass::Edit, .rect = rect});
}
Control& Dialog::addCombo(int id, device::Rect rect, std::vector<std::string> items) {
    return add({.id = id, .kind = ControlClass::ComboBox, .rect = rect, .items = std::move(items)});
}
Control& Dialog::addList(int id, device::Rect rect, std::vector<std::string> items) {
    return add({.id = id, .kind = ControlClass::ListBox, .rect = rect, .items = std::move(items)});
}
Control& Dialog::addGroup(int id, std::string text, device::Rect rect) {
    return add({.id = id, .kind = ControlClass::GroupBox, .text = std::move(text), .rect = rect});
}

Control& Dialog::addListView(int id, device::Rect rect, std::vector<std::string> columns,
                             std::vector<int> widths) {
    return add({.id = id,
                .kind = ControlClass::ListView,
                .rect = rect,
                .columns = std::move(columns),
                .columnWidths = std::move(widths)});
}

DialogContext& Dialog::context() {
    if (context_ == nullptr) throw std::logic_error("dialog used before it was opened");
    return *context_;
}

DialogResult Dialog::runNested(Dialog& dialog) {
    return context().runner.runModal(dialog);
}

void Dialog::open(DialogContext& context) {
    context_ = &context;
    open_ = true;
    result_ = DialogResult::Cancel;
    onBind();
    loadControls();
    onInit();
    // The layout scales a copy of the design, so opening again never scales twice.
    device::DialogLayout layout = layoutOf(*this);
    layout.rect = designRect_;
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        layout.controls[i].rect = controls_[i].designRect;
        layout.controls[i].fontFace.clear();
        layout.controls[i].fontPointTenths = 0;
    }
    device::fitDialog(layout, context.screenMode);
    rect_ = layout.rect;
    captionOkButton_ = layout.captionOkButton;
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        controls_[i].rect = layout.controls[i].rect;
        controls_[i].fontFace = layout.controls[i].fontFace;
        controls_[i].fontPointTenths = layout.controls[i].fontPointTenths;
    }
}

void Dialog::loadControls() {
    for (Control& c : controls_) {
        if (c.textField) c.text = c.textField->get();
        if (!c.number) continue;
        long long value = c.number->get();
        if (c.shownFrom) value = c.shownFrom(value);
        switch (c.kind) {
            case ControlClass::CheckBox:
                c.checked = value != 0;
                break;
            case ControlClass::RadioButton:
                break;  // a radio group is bound on its first button, below
            case ControlClass::ComboBox:
            case ControlClass::ListBox:
                c.selected = (value >= 0 && value < static_cast<long long>(c.items.size()))
                                 ? static_cast<int>(value)
                                 : -1;
                break;
            default:
                c.text = std::to_string(value);
                break;
        }
        if (c.kind == ControlClass::RadioButton) {
            // The group's value is the index of the checked button within the group.
            int index = 0;
            for (Control& member : controls_) {
                if (member.kind != ControlClass::RadioButton || member.radioGroup != c.radioGroup)
                    continue;
                member.checked = index++ == value;
            }
        }
    }
}

namespace {

std::optional<long long> parseWhole(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    long long value = 0;
    const char* begin = text.data();
    if (*begin == '+') ++begin;
    auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string substitute(std::string text, std::string_view marker, const std::string& value) {
    if (auto at = text.find(marker); at != std::string::npos)
        text.replace(at, marker.size(), value);
    return text;
}

}  // namespace

bool Dialog::storeControls() {
    // Every control is checked before anything is stored, so a refused OK changes nothing.
    if (!validateControls()) return false;
    writeControls();
    return true;
}

bool Dialog::validateControls() {
    for (const Control& c : controls_) {
        if (c.textField && c.textField->maxChars != 0 && c.text.size() > c.textField->maxChars) {
            messages().show(substitute("Enter no more than %1 characters.", "%1",
                                       std::to_string(c.textField->maxChars)));
            return false;
        }
        if (c.number && c.kind == ControlClass::Edit) {
            auto value = parseWhole(c.text);
            if (!value) {
                messages().show("Enter an integer.");
                return false;
            }
            if (c.number->range &&
                (*value < c.number->range->first || *value > c.number->range->second)) {
                messages().show(substitute(substitute("Enter an integer between %1 and %2.", "%1",
                                                      std::to_string(c.number->range->first)),
                                           "%2", std::to_string(c.number->range->second)));
                return false;
            }
        }
    }
    return true;
}

void Dialog::writeControls() {
    for (const Control& c : controls_) {
        if (c.textField) c.textField->set(c.text);
        if (!c.number) continue;
        if (c.storedFrom) {
            // A converted control: the conversion decides, and may keep the stored value.
            long long shown = c.kind == ControlClass::CheckBox ? (c.checked ? 1 : 0)
                              : c.kind == ControlClass::Edit   ? *parseWhole(c.text)
                                                               : c.selected;
            if (auto value = c.storedFrom(shown, c.number->get())) c.number->set(*value);
            continue;
        }
        switch (c.kind) {
            case ControlClass::CheckBox:
                c.number->set(c.checked ? 1 : 0);
                break;
            case ControlClass::RadioButton: {
                int index = 0;
                for (const Control& member : controls_) {
                    if (member.kind != ControlClass::RadioButton ||
                        member.radioGroup != c.radioGroup)
                        continue;
                    if (member.checked) {
                        c.number->set(index);
                        break;
                    }
                    ++index;
                }
                break;
            }
            case ControlClass::ComboBox:
            case ControlClass::ListBox:
                if (c.selected >= 0) c.number->set(c.selected);
                break;
            default:
                c.number->set(*parseWhole(c.text));
                break;
        }
    }
}

void Dialog::click(int id) {
    Control& c = control(id);
    if (!c.enabled || !c.visible) return;
    if (c.kind == ControlClass::CheckBox) c.checked = !c.checked;
    if (c.kind == ControlClass::RadioButton) {
        for (Control& member : controls_) {
            if (member.kind == ControlClass::RadioButton && member.radioGroup == c.radioGroup)
                member.checked = member.id == id;
        }
    }
    onChanged(id);
}

void Dialog::setChecked(int id, bool checked) {
    Control& c = control(id);
    if (c.checked != checked) click(id);
}

void Dialog::select(int id, int index) {
    Control& c = control(id);
    if (!c.enabled || index < -1 || index >= static_cast<int>(c.items.size())) return;
    c.selected = index;
    // An editable combo box takes the chosen entry as its text.
    if (c.editable && index >= 0) c.text = c.items[static_cast<std::size_t>(index)];
    onChanged(id);
}

void Dialog::setText(int id, std::string_view text) {
    Control& c = control(id);
    if (!c.enabled || c.readOnly) return;
    c.text = std::string(text);
    onChanged(id);
}

void Dialog::focus(int id) {
    if (control(id).enabled) onFocus(id);
}

void Dialog::step(int id, int delta) {
    const Control& spin = control(id);
    if (!spin.enabled || !spin.visible || spin.kind != ControlClass::Spin) return;
    Control& edit = control(spin.buddy);
    if (!edit.enabled) return;
    // From what the edit shows, kept inside the edit's range; text that is no number starts
    // from the bottom of the range.
    std::optional<std::pair<long long, long long>> range;
    if (edit.number) range = edit.number->range;
    long long value = parseWhole(edit.text).value_or(range ? range->first : 0) + delta;
    if (range) value = std::clamp(value, range->first, range->second);
    edit.text = std::to_string(value);
    onChanged(edit.id);
}

void Dialog::clickCell(int id, int row, int column) {
    const Control& c = control(id);
    if (!c.enabled || row < 0 || row >= static_cast<int>(c.cells.size()) || column < 0 ||
        column >= static_cast<int>(c.columns.size()))
        return;
    onCell(id, row, column);
}

bool Dialog::pressOk() {
    if (!validateControls() || !approve()) return false;
    commit();
    return true;
}

void Dialog::commit() {
    writeControls();
    onStored();
    result_ = DialogResult::Ok;
    open_ = false;
}

void Dialog::pressCancel() {
    onCancel();
    result_ = DialogResult::Cancel;
    open_ = false;
}

void PropertySheet::open(DialogContext& context) {
    for (Dialog* page : pages_)
        page->open(context);
}

bool PropertySheet::pressOk() {
    // No page is stored unless every page and the sheet agree.
    for (Dialog* page : pages_) {
        if (!page->validateControls()) return false;
    }
    for (Dialog* page : pages_) {
        if (!page->approve()) return false;
    }
    if (okHook_ && !okHook_()) return false;
    for (Dialog* page : pages_)
        page->commit();
    return true;
}

void PropertySheet::pressCancel() {
    for (Dialog* page : pages_)
        page->pressCancel();
}

device::DialogLayout layoutOf(const Dialog& dialog) {
    device::DialogLayout layout;
    layout.rect = dialog.rect();
    layout.captionOkButton = dialog.captionOkButton();
    for (const Control& c : dialog.controls()) {
        layout.controls.push_back(
            {std::string(className(c.kind)), c.rect, c.fontFace, c.fontPointTenths});
    }
    return layout;
}

}  // namespace qn::dialogs
