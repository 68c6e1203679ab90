#include "common/dialogs/table_dialog.h"

#include <algorithm>
#include <stdexcept>

#include "common/dialogs/char_entry_dialog.h"
#include "common/dialogs/code_names.h"

namespace qn::dialogs {

ValueRef engine(std::string_view operation, int value) {
    return {.kind = ValueRef::Kind::Engine, .name = std::string(operation), .value = value};
}

ValueRef field(std::string_view name) {
    return {.kind = ValueRef::Kind::Field, .name = std::string(name)};
}

ValueRef custom(std::function<IntBinding()> make) {
    return {.kind = ValueRef::Kind::Custom, .makeInt = std::move(make)};
}

ValueRef customText(std::function<TextBinding()> make) {
    return {.kind = ValueRef::Kind::Custom, .makeText = std::move(make)};
}

int Conversion::shown(long long value, int count) const {
    const int last = count - 1;
    auto inList = [&](long long index) {
        return index >= 0 && index <= last ? static_cast<int>(index) : -1;
    };
    switch (kind) {
        case Kind::Index:
            return inList(value);
        case Kind::Heading:
            // A value without an entry shows the heading and is kept.
            return inList(value + 1) < 0 ? 0 : static_cast<int>(value + 1);
        case Kind::Map: {
            auto at = std::find(values.begin(), values.end(), value);
            return at == values.end() ? otherIndex : static_cast<int>(at - values.begin());
        }
        case Kind::Scaled: {
            if (lastFrom && value >= *lastFrom) return last;
            const long long quotient = value / factor;
            if (quotient < offset) return floorIndex;
            return static_cast<int>(std::clamp<long long>(quotient - offset, 0, last));
        }
        case Kind::Clamp:
            return static_cast<int>(std::clamp<long long>(value, 0, last));
        case Kind::Flag:
            return (static_cast<std::uint32_t>(value) & mask) != 0 ? 1 : 0;
    }
    return -1;
}

std::optional<long long> Conversion::stored(int index, long long previous) const {
    if (kind == Kind::Flag) {
        const auto bits = static_cast<std::uint32_t>(previous);
        return static_cast<std::int32_t>(index != 0 ? bits | mask : bits & ~mask);
    }
    if (index < 0) return std::nullopt;
    switch (kind) {
        case Kind::Index:
        case Kind::Clamp:
            return index;
        case Kind::Heading:
            if (index == 0) return std::nullopt;
            return index - 1;
        case Kind::Map:
            if (index >= static_cast<int>(values.size())) return std::nullopt;
            return values[static_cast<std::size_t>(index)];
        case Kind::Scaled: {
            const long long value = static_cast<long long>(index + offset) * factor;
            return maxStored ? std::min<long long>(value, *maxStored) : value;
        }
        case Kind::Flag:
            break;
    }
    return std::nullopt;
}

Conversion heading() {
    return {.kind = Conversion::Kind::Heading};
}

Conversion valueMap(std::vector<int> values, int otherIndex) {
    return {.kind = Conversion::Kind::Map, .values = std::move(values), .otherIndex = otherIndex};
}

Conversion scaled(int factor, int offset, int floorIndex) {
    return {.kind = Conversion::Kind::Scaled,
            .offset = offset,
            .factor = factor,
            .floorIndex = floorIndex};
}

Conversion clamped() {
    return {.kind = Conversion::Kind::Clamp};
}

Conversion flag(std::uint32_t mask) {
    return {.kind = Conversion::Kind::Flag, .mask = mask};
}

Row check(std::string text, ValueRef ref, Conversion conversion) {
    return {.kind = RowKind::Check,
            .text = std::move(text),
            .ref = std::move(ref),
            .conversion = std::move(conversion)};
}

Row list(std::string caption, std::vector<std::string> items, ValueRef ref, Conversion conversion) {
    return {.kind = RowKind::List,
            .text = std::move(caption),
            .items = std::move(items),
            .ref = std::move(ref),
            .conversion = std::move(conversion)};
}

Row number(std::string caption, ValueRef ref, std::optional<long long> min,
           std::optional<long long> max) {
    Row row{.kind = RowKind::Number, .text = std::move(caption), .ref = std::move(ref)};
    if (min && max) row.range = {*min, *max};
    return row;
}

Row lengthPair(ValueRef first, ValueRef second, long long min, long long max, ValueRef mode) {
    return {.kind = RowKind::LengthPair,
            .items = {std::string(kDiscrete), std::string(kMinMax)},
            .ref = std::move(first),
            .range = std::pair{min, max},
            .second = std::move(second),
            .mode = std::move(mode)};
}

Row label(std::string text) {
    return {.kind = RowKind::Label, .text = std::move(text)};
}

Row button(std::string text) {
    return {.kind = RowKind::Button, .text = std::move(text)};
}

Row codeText(std::string caption, ValueRef ref, std::size_t maxBytes) {
    return {.kind = RowKind::CodeText,
            .text = std::move(caption),
            .ref = std::move(ref),
            .maxChars = maxBytes};
}

Row password(std::string caption, ValueRef ref, std::size_t maxChars) {
    return {.kind = RowKind::Password,
            .text = std::move(caption),
            .ref = std::move(ref),
            .maxChars = maxChars};
}

Row text(std::string caption, ValueRef ref, std::size_t maxChars) {
    return {.kind = RowKind::Text,
            .text = std::move(caption),
            .ref = std::move(ref),
            .maxChars = maxChars};
}

Row editCombo(std::string caption, std::vector<std::string> items, ValueRef ref,
              std::size_t maxChars) {
    return {.kind = RowKind::EditCombo,
            .text = std::move(caption),
            .items = std::move(items),
            .ref = std::move(ref),
            .maxChars = maxChars};
}

Row radio(std::string text, ValueRef ref) {
    return {.kind = RowKind::Radio, .text = std::move(text), .ref = std::move(ref)};
}

std::vector<Row> operator+(std::vector<Row> rows, const std::vector<Row>& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

// Layout.
namespace {

constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;
constexpr int kMargin = 4;
constexpr int kColumnGap = 4;
constexpr int kFullWidth = kScreenWidth - 2 * kMargin;
constexpr int kHalfWidth = (kFullWidth - kColumnGap) / 2;
constexpr int kControlHeight = 14;
constexpr int kCharWidthTenths = 65;  // an average character of the dialog font
constexpr int kBoxWidth = 16;         // a check box's square and gap
constexpr int kSpinWidth = 12;
constexpr int kNumberWidth = 40;

int textWidth(std::string_view text) {
    return static_cast<int>(text.size()) * kCharWidthTenths / 10;
}

struct Piece {
    RowPart part;
    int x, line, width;
};

struct Shape {
    std::vector<Piece> pieces;
    int lines = 1;
};

bool fitsHalf(const Row& row) {
    if (row.fullWidth) return false;
    switch (row.kind) {
        case RowKind::Check:
            return kBoxWidth + textWidth(row.text) + (row.opens.empty() ? 0 : 24) <= kHalfWidth;
        case RowKind::Radio:
            return kBoxWidth + textWidth(row.text) <= kHalfWidth;
        case RowKind::Button:
            return textWidth(row.text) + 12 <= kHalfWidth;
        default:
            return false;
    }
}

// A caption and its control side by side when both fit, else the caption above.
Shape captioned(const Row& row, int controlWidth, std::vector<Piece> control) {
    Shape shape;
    const bool hasCaption = !row.text.empty();
    const int captionWidth = kFullWidth - controlWidth - kColumnGap;
    if (hasCaption && textWidth(row.text) > captionWidth) {
        shape.pieces.push_back({kCaption, 0, 0, kFullWidth});
        shape.lines = 2;
        for (Piece p : control) {
            p.line = 1;
            shape.pieces.push_back(p);
        }
        // Below its caption the control starts at the margin.
        const int shift = shape.pieces[1].x;
        for (std::size_t i = 1; i < shape.pieces.size(); ++i)
            shape.pieces[i].x -= shift;
        return shape;
    }
    if (hasCaption) shape.pieces.push_back({kCaption, 0, 0, captionWidth});
    for (Piece p : control) {
        p.x += kFullWidth - controlWidth;
        shape.pieces.push_back(p);
    }
    return shape;
}

int longestItem(const Row& row) {
    int widest = 0;
    for (const auto& item : row.items)
        widest = std::max(widest, textWidth(item));
    return widest + 32;  // the arrow and the frame
}

Shape shapeOf(const Row& row, int width) {
    switch (row.kind) {
        case RowKind::Check: {
            if (row.opens.empty()) return {{{kMain, 0, 0, width}}, 1};
            return {{{kMain, 0, 0, width - 24}, {kButton, width - 20, 0, 20}}, 1};
        }
        case RowKind::Radio:
            return {{{kMain, 0, 0, width}}, 1};
        case RowKind::Button:
            // Alone on its line a button is as wide as its text needs.
            if (width == kFullWidth) {
                return {{{kMain, 0, 0, std::min(width, std::max(textWidth(row.text) + 16, 24))}},
                        1};
            }
            return {{{kMain, 0, 0, width}}, 1};
        case RowKind::Label: {
            const int lines = std::max(1, (textWidth(row.text) + kFullWidth - 1) / kFullWidth);
            return {{{kMain, 0, 0, kFullWidth}}, lines};
        }
        case RowKind::List: {
            if (row.text.empty()) return {{{kMain, 0, 0, kFullWidth}}, 1};
            const int listWidth = std::clamp(longestItem(row), 64, kFullWidth);
            if (listWidth > kFullWidth - 64 - kColumnGap) {
                return {{{kCaption, 0, 0, kFullWidth}, {kMain, 0, 1, kFullWidth}}, 2};
            }
            return captioned(row, listWidth, {{kMain, 0, 0, listWidth}});
        }
        case RowKind::Number: {
            if (!row.spin) return captioned(row, kNumberWidth, {{kMain, 0, 0, kNumberWidth}});
            return captioned(row, kNumberWidth + kSpinWidth,
                             {{kMain, 0, 0, kNumberWidth}, {kSpin, kNumberWidth, 0, kSpinWidth}});
        }
        case RowKind::LengthPair: {
            const int modeWidth = 90;
            const int x1 = modeWidth + kColumnGap;
            const int x2 = x1 + kNumberWidth + kSpinWidth + kColumnGap * 2;
            return {{{kMain, 0, 0, modeWidth},
                     {kFirst, x1, 0, kNumberWidth},
                     {kFirstSpin, x1 + kNumberWidth, 0, kSpinWidth},
                     {kSecond, x2, 0, kNumberWidth},
                     {kSecondSpin, x2 + kNumberWidth, 0, kSpinWidth}},
                    1};
        }
        case RowKind::CodeText:
        case RowKind::Password:
        case RowKind::Text:
        case RowKind::EditCombo:
            if (row.text.empty()) return {{{kMain, 0, 0, kFullWidth}}, 1};
            return captioned(row, 128, {{kMain, 0, 0, 128}});
    }
    return {};
}

// The parts a row makes, in creation order.
std::vector<RowPart> partsOf(const Row& row) {
    switch (row.kind) {
        case RowKind::Check:
            return row.opens.empty() ? std::vector{kMain} : std::vector{kMain, kButton};
        case RowKind::List:
        case RowKind::CodeText:
        case RowKind::Password:
        case RowKind::Text:
        case RowKind::EditCombo:
            return row.text.empty() ? std::vector{kMain} : std::vector{kCaption, kMain};
        case RowKind::Number: {
            std::vector<RowPart> parts;
            if (!row.text.empty()) parts.push_back(kCaption);
            parts.push_back(kMain);
            if (row.spin) parts.push_back(kSpin);
            return parts;
        }
        case RowKind::LengthPair:
            return {kMain, kFirst, kFirstSpin, kSecond, kSecondSpin};
        case RowKind::Label:
        case RowKind::Button:
        case RowKind::Radio:
            return {kMain};
    }
    return {kMain};
}

}  // namespace

std::vector<device::Rect> layoutRows(std::span<const Row> rows) {
    // Lines first: short check boxes and buttons share a line two by two.
    struct Placed {
        Shape shape;
        int line = 0;
        int x = 0;
    };
    std::vector<Placed> placed(rows.size());
    int line = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (fitsHalf(rows[i]) && i + 1 < rows.size() && fitsHalf(rows[i + 1])) {
            placed[i] = {shapeOf(rows[i], kHalfWidth), line, 0};
            placed[i + 1] = {shapeOf(rows[i + 1], kHalfWidth), line, kHalfWidth + kColumnGap};
            ++i;
            ++line;
            continue;
        }
        placed[i] = {shapeOf(rows[i], kFullWidth), line, 0};
        line += placed[i].shape.lines;
    }
    // Then the pitch: as roomy as the screen allows, at least a control and a pixel.
    const int pitch = std::clamp((kScreenHeight - 2 * kMargin) / std::max(line, 1),
                                 kControlHeight + 1, kControlHeight + 6);
    std::vector<device::Rect> rects;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Placed& p = placed[i];
        for (RowPart part : partsOf(rows[i])) {
            auto piece = std::find_if(p.shape.pieces.begin(), p.shape.pieces.end(),
                                      [part](const Piece& q) { return q.part == part; });
            if (piece == p.shape.pieces.end()) throw std::logic_error("row without its part");
            const int height = rows[i].kind == RowKind::Label
                                   ? pitch * (p.shape.lines - 1) + kControlHeight
                                   : kControlHeight;
            rects.push_back({kMargin + p.x + piece->x, kMargin + (p.line + piece->line) * pitch,
                             piece->width, height});
        }
    }
    return rects;
}

// The generic dialog.
TableDialog::TableDialog(const DialogTable& table, TableEnvironment& environment)
    : Dialog(table.caption, {0, 0, kScreenWidth, kScreenHeight}),
      table_(table),
      environment_(environment) {
    build();
}

void TableDialog::build() {
    const std::vector<device::Rect> rects = layoutRows(table_.rows);
    std::size_t next = 0;
    int radioGroup = 0;
    for (std::size_t i = 0; i < table_.rows.size(); ++i) {
        const Row& row = table_.rows[i];
        const int r = static_cast<int>(i);
        if (row.kind != RowKind::Radio) radioGroup = 0;
        for (RowPart part : partsOf(row)) {
            const device::Rect rect = rects[next++];
            const int id = rowControlId(r, part);
            switch (part) {
                case kCaption:
                    addStatic(id, row.text, rect);
                    break;
                case kButton:
                    addButton(id, "...", rect);
                    break;
                case kSpin:
                case kFirstSpin:
                case kSecondSpin: {
                    Control& spin = add({.id = id, .kind = ControlClass::Spin, .rect = rect});
                    spin.buddy = rowControlId(r, part == kSpin        ? kMain
                                                 : part == kFirstSpin ? kFirst
                                                                      : kSecond);
                    break;
                }
                case kFirst:
                case kSecond:
                    addEdit(id, rect);
                    break;
                case kMain:
                    switch (row.kind) {
                        case RowKind::Check:
                            addCheck(id, row.text, rect);
                            break;
                        case RowKind::List:
                        case RowKind::LengthPair:
                            addCombo(id, rect, row.items);
                            break;
                        case RowKind::Number:
                        case RowKind::Text:
                            addEdit(id, rect);
                            break;
                        case RowKind::CodeText:
                            addEdit(id, rect).readOnly = true;
                            break;
                        case RowKind::Password:
                            addEdit(id, rect).password = true;
                            break;
                        case RowKind::EditCombo:
                            addCombo(id, rect, row.items).editable = true;
                            break;
                        case RowKind::Radio:
                            // A group runs from a radio row that edits something.
                            if (row.ref.bound() || radioGroup == 0) radioGroup = r + 1;
                            addRadio(id, row.text, rect, radioGroup);
                            break;
                        case RowKind::Label:
                            addStatic(id, row.text, rect);
                            break;
                        case RowKind::Button:
                            addButton(id, row.text, rect);
                            break;
                    }
                    break;
            }
        }
    }
    state_.resize(table_.rows.size());
}

std::string TableDialog::operationName(const ValueRef& ref) const {
    std::string name = ref.name;
    if (auto at = name.find('%'); at != std::string::npos) name.replace(at, 1, table_.family);
    return name;
}

const reader::FieldInfo* TableDialog::findField(std::string_view name) const {
    for (const auto& info : environment_.record.fields) {
        if (info.name == name) return &info;
    }
    return nullptr;
}

std::span<std::uint8_t> TableDialog::fieldBytes(const reader::FieldInfo& info) {
    std::span<std::uint8_t> record = environment_.record.bytes();
    if (info.offset + info.size > record.size()) throw std::out_of_range("field past the record");
    return record.subspan(info.offset, info.size);
}

namespace {

IntBinding bindLittleEndian(std::span<std::uint8_t> bytes, bool isSigned,
                            std::optional<std::pair<long long, long long>> range) {
    return {[bytes, isSigned] {
                unsigned long long v = 0;
                for (std::size_t i = 0; i < bytes.size(); ++i)
                    v |= static_cast<unsigned long long>(bytes[i]) << (8 * i);
                if (isSigned && bytes.size() == 4) {
                    return static_cast<long long>(static_cast<std::int32_t>(v));
                }
                return static_cast<long long>(v);
            },
            [bytes](long long value) {
                const auto v = static_cast<unsigned long long>(value);
                for (std::size_t i = 0; i < bytes.size(); ++i)
                    bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
            },
            range};
}

}  // namespace

std::optional<IntBinding> TableDialog::intBinding(
    const ValueRef& ref, std::optional<std::pair<long long, long long>>* range) {
    switch (ref.kind) {
        case ValueRef::Kind::None:
            return std::nullopt;
        case ValueRef::Kind::Custom:
            if (!ref.makeInt) return std::nullopt;
            return ref.makeInt();
        case ValueRef::Kind::Engine: {
            const std::string name = operationName(ref);
            const reader::EngineOperation* op = reader::findEngineOperation(name);
            if (op == nullptr || ref.value < 1 || ref.value > op->values) {
                throw std::invalid_argument("no engine value " + name + " " +
                                            std::to_string(ref.value));
            }
            const int offset =
                (environment_.record.tnRecord ? op->tnOffset : op->vtOffset) + (ref.value - 1) * 4;
            std::span<std::uint8_t> record = environment_.record.bytes();
            if (static_cast<std::size_t>(offset) + 4 > record.size()) {
                throw std::out_of_range("engine value past the record");
            }
            return bindLittleEndian(record.subspan(static_cast<std::size_t>(offset), 4), true,
                                    range ? *range : std::nullopt);
        }
        case ValueRef::Kind::Field: {
            const reader::FieldInfo* info = findField(ref.name);
            if (info == nullptr) throw std::invalid_argument("no record field " + ref.name);
            using K = reader::FieldKind;
            if (info->kind != K::U8 && info->kind != K::U16 && info->kind != K::I32) {
                throw std::invalid_argument("not a number field: " + ref.name);
            }
            // The field table's range unless the row names its own.
            std::optional<std::pair<long long, long long>> fieldRange;
            if (range && *range) {
                fieldRange = *range;
            } else if (range && info->min != info->max) {
                fieldRange = std::pair<long long, long long>{info->min, info->max};
            }
            return bindLittleEndian(fieldBytes(*info), info->kind == K::I32, fieldRange);
        }
    }
    return std::nullopt;
}

std::optional<TextBinding> TableDialog::textBinding(const ValueRef& ref, std::size_t maxChars) {
    if (ref.kind == ValueRef::Kind::Custom) {
        if (!ref.makeText) return std::nullopt;
        return ref.makeText();
    }
    if (ref.kind != ValueRef::Kind::Field) return std::nullopt;
    const reader::FieldInfo* info = findField(ref.name);
    if (info == nullptr) throw std::invalid_argument("no record field " + ref.name);
    return bindText(fieldBytes(*info), maxChars != 0 ? maxChars : info->size);
}

int TableDialog::rowId(std::string_view name) const {
    for (std::size_t i = 0; i < table_.rows.size(); ++i) {
        if (table_.rows[i].name == name) return rowControlId(static_cast<int>(i));
    }
    throw std::out_of_range("no row " + std::string(name));
}

void TableDialog::bindRows() {
    // Resolved now, against the record of this opening.
    for (std::size_t i = 0; i < table_.rows.size(); ++i) {
        const Row& row = table_.rows[i];
        const int r = static_cast<int>(i);
        RowState& state = state_[i];
        state = RowState{};
        Control& main = control(rowControlId(r));
        // A row without a reference keeps what its owner bound.
        if (!row.ref.bound()) continue;
        switch (row.kind) {
            case RowKind::Check:
            case RowKind::List: {
                main.number = intBinding(row.ref, nullptr);
                // A plain check box stores 0 or 1 without a conversion.
                if (row.kind == RowKind::Check && row.conversion.kind == Conversion::Kind::Index)
                    break;
                const Conversion conversion = row.conversion;
                const int count =
                    row.kind == RowKind::Check ? 2 : static_cast<int>(row.items.size());
                main.shownFrom = [conversion, count](long long value) -> long long {
                    return conversion.shown(value, count);
                };
                main.storedFrom = [conversion](long long shown, long long previous) {
                    return conversion.stored(static_cast<int>(shown), previous);
                };
                break;
            }
            case RowKind::Number: {
                std::optional<std::pair<long long, long long>> range = row.range;
                main.number = intBinding(row.ref, &range);
                break;
            }
            case RowKind::Radio:
                main.number = intBinding(row.ref, nullptr);
                break;
            case RowKind::LengthPair: {
                std::optional<std::pair<long long, long long>> range = row.range;
                control(rowControlId(r, kFirst)).number = intBinding(row.ref, &range);
                control(rowControlId(r, kSecond)).number = intBinding(row.second, &range);
                main.number = intBinding(row.mode, nullptr);
                break;
            }
            case RowKind::Text:
            case RowKind::Password:
            case RowKind::EditCombo:
                main.textField = textBinding(row.ref, row.maxChars);
                break;
            case RowKind::CodeText: {
                if (row.ref.kind == ValueRef::Kind::Field) {
                    const reader::FieldInfo* info = findField(row.ref.name);
                    if (info == nullptr) throw std::invalid_argument("no field " + row.ref.name);
                    std::span<std::uint8_t> bytes = fieldBytes(*info);
                    const std::size_t width = bytes.size();
                    const std::size_t limit = row.maxChars != 0 ? row.maxChars : width;
                    state.codeField = TextBinding{
                        [bytes] {
                            return std::string(
                                bytes.begin(),
                                bytes.begin() +
                                    static_cast<std::ptrdiff_t>(fieldLength(bytes, bytes.size())));
                        },
                        [bytes](std::string_view value) {
                            reader::storeBytes(bytes,
                                               {reinterpret_cast<const std::uint8_t*>(value.data()),
                                                value.size()});
                        },
                        limit};
                } else if (row.ref.kind == ValueRef::Kind::Custom) {
                    state.codeField = textBinding(row.ref, row.maxChars);
                }
                break;
            }
            case RowKind::Label:
            case RowKind::Button:
                break;
        }
        if (row.also.bound()) state.also = intBinding(row.also, nullptr);
    }
}

void TableDialog::onInit() {
    // The bindings are made before the base class loads the controls: see open().
    for (std::size_t i = 0; i < table_.rows.size(); ++i) {
        const Row& row = table_.rows[i];
        const int r = static_cast<int>(i);
        RowState& state = state_[i];
        if (row.kind == RowKind::LengthPair) {
            Control& mode = control(rowControlId(r));
            if (mode.selected < 0) {
                // Without a stored mode the order of the two lengths tells it.
                const auto& first = control(rowControlId(r, kFirst)).number;
                const auto& second = control(rowControlId(r, kSecond)).number;
                mode.selected = first && second && first->get() <= second->get() ? 1 : 0;
            }
        }
        if (row.kind == RowKind::CodeText && state.codeField) {
            const std::string bytes = state.codeField->get();
            state.code.assign(bytes.begin(), bytes.end());
            control(rowControlId(r)).text = formatCodeText(state.code, state.code.size());
        }
    }
    applyRules();
    if (table_.onInit) table_.onInit(*this);
}

void TableDialog::applyRules() {
    for (std::size_t i = 0; i < table_.rows.size(); ++i) {
        const Row& row = table_.rows[i];
        const int r = static_cast<int>(i);
        const bool shown =
            !row.hidden && (row.readerBit == 0 || (environment_.readerType & row.readerBit) != 0);
        bool enabled = !row.inactive;
        if (!row.enabledWhile.empty())
            enabled = enabled && control(rowId(row.enabledWhile)).checked;
        for (RowPart part : partsOf(row)) {
            Control& c = control(rowControlId(r, part));
            c.visible = shown;
            c.enabled = enabled;
        }
        if (row.kind == RowKind::Check && !row.opens.empty()) {
            control(rowControlId(r, kButton)).enabled = enabled && control(rowControlId(r)).checked;
        }
    }
}

void TableDialog::lengthModeChanged(int r) {
    // "discrete" wants the first length at least the second, "min/max" at most; a pair that
    // does not fit the chosen mode swaps. Equal lengths fit both.
    Control& first = control(rowControlId(r, kFirst));
    Control& second = control(rowControlId(r, kSecond));
    const int mode = control(rowControlId(r)).selected;
    long long a = 0, b = 0;
    try {
        a = std::stoll(first.text);
        b = std::stoll(second.text);
    } catch (const std::exception&) {
        return;  // the OK checks report text that is no number
    }
    if ((mode == 0 && a < b) || (mode == 1 && a > b)) std::swap(first.text, second.text);
}

void TableDialog::storeNow(int r) {
    const Row& row = table_.rows[static_cast<std::size_t>(r)];
    const Control& c = control(rowControlId(r));
    if (!c.number) return;
    const long long shown = c.kind == ControlClass::CheckBox ? (c.checked ? 1 : 0) : c.selected;
    std::optional<long long> value =
        c.storedFrom ? c.storedFrom(shown, c.number->get()) : std::optional<long long>(shown);
    if (!value || (c.kind != ControlClass::CheckBox && shown < 0)) return;
    c.number->set(*value);
    if (row.also.bound()) state_[static_cast<std::size_t>(r)].also->set(*value);
}

void TableDialog::onChanged(int id) {
    const int offset = id - kFirstRowId;
    if (offset < 0) return;
    const int r = offset / kRowIdStep;
    const auto part = static_cast<RowPart>(offset % kRowIdStep);
    if (r >= static_cast<int>(table_.rows.size())) return;
    const Row& row = table_.rows[static_cast<std::size_t>(r)];
    if (row.kind == RowKind::LengthPair && part == kMain) lengthModeChanged(r);
    if (row.atOnce && part == kMain) storeNow(r);
    const bool pressed = (row.kind == RowKind::Button && part == kMain) || part == kButton;
    if (pressed && !row.action.empty()) {
        auto action = environment_.actions.find(row.action);
        if (action != environment_.actions.end()) action->second(*this);
        if (!isOpen()) return;
    } else if (pressed && !row.opens.empty() && environment_.find) {
        if (const DialogTable* target = environment_.find(row.opens)) {
            TableDialog nested(*target, environment_);
            nested.open(context());
            runNested(nested);
        }
    }
    applyRules();
    if (table_.onChanged) table_.onChanged(*this, r);
}

void TableDialog::onFocus(int id) {
    const int offset = id - kFirstRowId;
    if (offset < 0 || offset % kRowIdStep != kMain) return;
    const int r = offset / kRowIdStep;
    if (r >= static_cast<int>(table_.rows.size())) return;
    const Row& row = table_.rows[static_cast<std::size_t>(r)];
    RowState& state = state_[static_cast<std::size_t>(r)];
    if (row.kind != RowKind::CodeText || !state.codeField) return;
    CharEntryDialog picker(row.pickerTitle.empty() ? row.text : row.pickerTitle,
                           state.codeField->maxChars, state.code);
    picker.open(context());
    if (runNested(picker) != DialogResult::Ok) return;
    state.code.assign(picker.bytes().begin(), picker.bytes().end());
    control(id).text = formatCodeText(state.code, state.code.size());
    if (row.atOnce) {
        state.codeField->set({reinterpret_cast<const char*>(state.code.data()), state.code.size()});
    }
}

bool TableDialog::onOk() {
    return !table_.onOk || table_.onOk(*this);
}

void TableDialog::onStored() {
    for (std::size_t i = 0; i < table_.rows.size(); ++i) {
        RowState& state = state_[i];
        const Control& main = control(rowControlId(static_cast<int>(i)));
        if (state.also && main.number) state.also->set(main.number->get());
        if (state.codeField) {
            state.codeField->set(
                {reinterpret_cast<const char*>(state.code.data()), state.code.size()});
        }
    }
}

}  // namespace qn::dialogs
