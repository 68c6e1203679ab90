#include "tn5250/datastream/data_stream.h"

#include <algorithm>
#include <cstring>

#include "tn5250/datastream/records.h"
#include "tn5250/screen/screen_image.h"

namespace qn::tn {

namespace {

using DS = TnDataStream;

constexpr LengthRule fixed(std::uint8_t total) {
    return {LengthRule::Fixed, total};
}
constexpr LengthRule upToEsc() {
    return {LengthRule::UpToEsc};
}
constexpr LengthRule toRecordEnd() {
    return {LengthRule::ToRecordEnd};
}
constexpr LengthRule lengthField(std::uint8_t offset, std::uint8_t size,
                                 bool countsOwnSize = false) {
    return {LengthRule::LengthField, 0, offset, size, countsOwnSize};
}
constexpr LengthRule startOfFieldRule() {
    return {LengthRule::StartOfField};
}
constexpr LengthRule screenImage() {
    return {LengthRule::ScreenImage};
}

constexpr std::uint8_t kWriteToDisplay = 0x11;

// Searched in this order.
constexpr DS::TableEntry CommandTable[] = {
    {0x40, fixed(1), &DS::clearUnit},
    {0x20, fixed(2), &DS::clearUnitAlternate},
    {0x50, fixed(1), &DS::clearFormatTable},
    {kWriteToDisplay, fixed(3), &DS::writeToDisplay},
    {0x21, upToEsc(), &DS::writeErrorCode},
    {0x22, upToEsc(), &DS::writeErrorCodeToWindow},
    {0x42, fixed(3), &DS::readInputFields},
    {0x52, fixed(3), &DS::readMdtFields},
    {0x82, fixed(3), &DS::readMdtAlternate},
    {0x72, fixed(1), &DS::readImmediate},
    {0x83, fixed(1), &DS::readModifiedImmediateAlternate},
    {0x62, fixed(1), &DS::readScreen},
    {0x64, fixed(1), &DS::ignoreCommand},  // Read Screen With Extended Attributes
    {0x66, fixed(1), &DS::ignoreCommand},  // Read Screen To Print
    {0x68, fixed(1), &DS::ignoreCommand},  // ... With Extended Attributes
    {0x6A, fixed(1), &DS::ignoreCommand},  // ... With Gridlines
    {0x6C, fixed(1), &DS::ignoreCommand},  // ... With Extended Attributes And Gridlines
    {0x02, fixed(1), &DS::saveScreen},
    {0x03, fixed(6), &DS::savePartialScreen},
    {0x12, screenImage(), &DS::restoreScreen},
    {0x13, screenImage(), &DS::restorePartialScreen},
    {0x23, fixed(4), &DS::roll},
    {0xF3, toRecordEnd(), &DS::writeStructuredField},
    {0xF4, lengthField(1, 2), &DS::ignoreCommand},  // Write Single Structured Field
    {0x16, fixed(3), &DS::ignoreCommand},           // Copy-To-Printer
};
static_assert(std::size(CommandTable) == 25);

constexpr DS::TableEntry OrderTable[] = {
    {0x11, fixed(3), &DS::setBufferAddress},
    {0x13, fixed(3), &DS::insertCursor},
    {0x14, fixed(3), &DS::moveCursor},
    {0x02, fixed(4), &DS::repeatToAddress},
    {0x03, lengthField(3, 1), &DS::eraseToAddress},
    {0x01, lengthField(1, 1, true), &DS::startOfHeader},
    {0x10, lengthField(1, 2), &DS::transparentData},
    {0x12, fixed(3), &DS::writeExtendedAttribute},
    {0x1D, startOfFieldRule(), &DS::startOfField},
    {0x15, lengthField(1, 2), &DS::writeDisplayStructuredField},
};
static_assert(std::size(OrderTable) == 10);

// Restore Screen and Restore Partial Screen keep their images beside the parameters.
bool collectsImage(const DS::TableEntry* entry) {
    return entry != nullptr &&
           (entry->action == &DS::restoreScreen || entry->action == &DS::restorePartialScreen);
}

// Code to table entry, built from the table so that the first entry with a code wins as a
// search in table order would.
template <std::size_t N>
constexpr std::array<std::int8_t, 256> indexOf(const DS::TableEntry (&table)[N]) {
    std::array<std::int8_t, 256> index{};
    index.fill(-1);
    for (std::size_t i = N; i-- > 0;)
        index[table[i].code] = static_cast<std::int8_t>(i);
    return index;
}
constexpr auto kCommandIndex = indexOf(CommandTable);
constexpr auto kOrderIndex = indexOf(OrderTable);

template <std::size_t N>
const DS::TableEntry* find(const DS::TableEntry (&table)[N],
                           const std::array<std::int8_t, 256>& index, std::uint8_t code) {
    return index[code] < 0 ? nullptr : &table[index[code]];
}

// Start Of Field: control words follow the format word while their first byte has bit 0x80
// or 0x40; the first byte without either is the attribute, then two length bytes. The
// attribute is taken at the last offset whose length bytes still fit the parameter space.
constexpr long kLastFieldAttributeAt = long(kParamSize) - 3;
constexpr bool isFieldAttributeAt(long offset, std::uint8_t byte) {
    return (byte & 0xC0) == 0 || offset >= kLastFieldAttributeAt;
}

// The total of an order whose first count bytes are at hand; -1 when they do not tell.
long orderTotal(const LengthRule& rule, const std::uint8_t* bytes, long count) {
    switch (rule.kind) {
        case LengthRule::Fixed:
            return rule.total;
        case LengthRule::LengthField: {
            const long have = rule.offset + rule.size;
            if (count < have) return -1;
            long value = bytes[rule.offset];
            if (rule.size == 2) value = value << 8 | bytes[rule.offset + 1];
            return std::max(rule.offset + value + (rule.countsOwnSize ? rule.size : 0), have);
        }
        case LengthRule::StartOfField:
            if (count < 2) return -1;
            if ((bytes[1] & 0xC0) == 0) return 4;
            for (long at = 3; at < count; at += 2) {
                if (isFieldAttributeAt(at, bytes[at])) return at + 3;
            }
            return -1;
        default:
            return -1;
    }
}

// Bytes that are display data inside a Write To Display; the rest start an order.
bool isDataByte(std::uint8_t byte) {
    return byte == 0x00 || byte == kShiftOut || byte == kShiftIn || byte == 0x1C ||
           (byte >= 0x20 && byte <= 0xFE);
}

// The query reply structured field: controller, code level, the device the terminal type names
// (set per language below), keyboard, serial number, the field table's size, capabilities. It
// claims a 24 x 80 display with no structured-field constructs (windows, selection fields,
// scroll bars): a host sends nothing the screen cannot show.
constexpr std::uint8_t kQueryReply[] = {
    0x00, 0x3A, 0xD9, 0x70, 0x80,  // length, class, type, flag
    0x06, 0x00,                    // controller hardware class
    0x01, 0x00, 0x00,              // code level
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01,                                // display station
    0xF3, 0xF1, 0xF7, 0xF9,              // device type "3179"
    0xF0, 0xF0, 0xF2,                    // model "002"
    0x02,                                // keyboard identifier
    0x00, 0x00, 0x01, 0x01, 0x01, 0x01,  // serial number
    0x00, 0xD0,                          // maximum number of input fields
    0x00, 0x00, 0x00,                    // customization, reserved
    0x23, 0x31,                          // display capabilities: 24 x 80 only
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
static_assert(kQueryReply[42] == kMaxFields, "the field table's size");
static_assert(sizeof kQueryReply == 58);
constexpr std::size_t kQueryDeviceAt = 27;  // the device type's first byte in kQueryReply
// Double-byte languages negotiate IBM-5555-B01.
constexpr std::uint8_t kDoubleByteDevice[] = {0xF5, 0xF5, 0xF5, 0xF5, 0xC2, 0xF0, 0xF1};

constexpr std::uint8_t kQueryStructuredField[] = {0xF3, 0x00, 0x05, 0xD9, 0x70, 0x00};

constexpr std::uint8_t cursorByte(std::int32_t value) {
    return static_cast<std::uint8_t>(value + 1);
}

}  // namespace

void TnDataStream::resetScreen() {
    screen_.reset();
    phase_ = kHeader;
    recordLength_ = 0;
    recordCount_ = 0;
    param_.fill(0);
    paramCount_ = 0;
    rule_ = {};
    entry_ = nullptr;
    fieldTotal_ = -1;
    writeOpen_ = false;
    image_.clear();
}

void TnDataStream::receive(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        if (!mayRun() || !fastPath(p, end)) dataByte(*p++);
    }
}

bool TnDataStream::fastPath(const std::uint8_t*& p, const std::uint8_t* end) {
    const std::uint8_t* const start = p;
    // Looked up once: a screen's text comes in a run for every address order.
    const TextTable& text = textTableOf(language());
    auto consume = [&](const std::uint8_t* next) {
        recordCount_ += next - p;
        p = next;
        if (recordCount_ < recordLength_) return true;
        endRecord();
        return false;
    };
    while (p < end && mayRun()) {
        const long left = recordLength_ - recordCount_;
        if (left <= 0) break;
        const std::uint8_t* const stop = p + std::min<long>(end - p, left);
        if (phase_ == kWaitEsc) {
            // What comes before the next command is no part of one.
            const auto* esc = static_cast<const std::uint8_t*>(
                std::memchr(p, kEsc, static_cast<std::size_t>(stop - p)));
            if (esc == nullptr) {
                if (!consume(stop)) break;
                continue;
            }
            phase_ = kCommand;
            paramCount_ = 0;
            if (!consume(esc + 1)) break;
            continue;
        }
        if (phase_ == kCommand) {
            const long run = commandRun(p, stop);
            if (run <= 0) break;
            takeCommandRun(p, run);
            if (!consume(p + run)) break;
            continue;
        }
        if (phase_ == kData && !screen_.state.receive.shiftOut) {
            const std::uint8_t* const next = screen_.writeText(p, stop, text);
            if (next != p) {
                if (!consume(next)) break;
                if (next == stop) continue;
            }
        }
        // An order with all its bytes at hand runs from them.
        const std::uint8_t code = *p;
        if (code == kEsc || (phase_ == kData && isDataByte(code))) break;
        const TableEntry* entry = find(OrderTable, kOrderIndex, code);
        if (entry == nullptr) break;
        const long available = std::min<long>(stop - p, long(kParamSize));
        const long total = orderTotal(entry->rule, p, available);
        if (total < 0 || total > available) break;
        std::copy_n(p, total, param_.begin());
        paramCount_ = total;
        phase_ = kData;  // an order that leaves the rest of the write unread changes it
        (this->*entry->action)();
        paramCount_ = 0;
        entry_ = nullptr;
        if (!consume(p + total)) break;
    }
    return p != start;
}

long TnDataStream::commandRun(const std::uint8_t* p, const std::uint8_t* stop) {
    switch (rule_.kind) {
        case LengthRule::UpToEsc: {
            const auto* esc = static_cast<const std::uint8_t*>(
                std::memchr(p, kEsc, static_cast<std::size_t>(stop - p)));
            return (esc == nullptr ? stop : esc) - p;
        }
        case LengthRule::ToRecordEnd:
            return stop - p;
        case LengthRule::ScreenImage:
            // Once its header is here the image's length is known (a zero length turned the
            // rule into ToRecordEnd when the header's last byte came).
            if (paramCount_ < 6) return 0;
            return std::min<long>(stop - p, resolvedTotal() - paramCount_);
        default:
            return 0;
    }
}

void TnDataStream::takeCommandRun(const std::uint8_t* p, long run) {
    const auto n = static_cast<std::size_t>(run);
    if (collectsImage(entry_)) {
        if (image_.capacity() == 0) image_.reserve(kMaxScreenImage);
        const std::size_t room = kMaxScreenImage - std::min(image_.size(), kMaxScreenImage);
        image_.insert(image_.end(), p, p + std::min(n, room));
    }
    const auto kept = static_cast<std::size_t>(this->kept());
    std::copy_n(p, std::min(n, kParamSize - kept), param_.begin() + static_cast<long>(kept));
    paramCount_ += run;
    if (rule_.kind != LengthRule::ScreenImage || paramCount_ < resolvedTotal()) return;
    runCommand();
    paramCount_ = 0;
    phase_ = kWaitEsc;
}

void TnDataStream::dataByte(std::uint8_t byte) {
    ++recordCount_;
    switch (phase_) {
        case kHeader:
            headerByte(byte);
            break;
        case kWaitEsc:
            if (byte == kEsc) {
                phase_ = kCommand;
                paramCount_ = 0;
            }
            break;
        case kCommand:
            commandByte(byte);
            break;
        case kOrder:
            orderByte(byte);
            break;
        case kData:
            if (byte == kEsc) {
                phase_ = kCommand;
                paramCount_ = 0;
            } else if (isDataByte(byte)) {
                writeDataByte(byte);
            } else {
                startOrder(byte);
                phase_ = kOrder;
            }
            break;
    }
    // A length below 2 cannot be reached any more; the record ends with its length bytes.
    if (recordCount_ >= 2 && recordCount_ >= recordLength_) endRecord();
}

void TnDataStream::headerByte(std::uint8_t byte) {
    if (recordCount_ == 1) {
        screen_.state.redrawPending = false;
        recordLength_ = long(byte) << 8;
    } else if (recordCount_ == 2) {
        recordLength_ |= byte;
    } else if (recordCount_ == long(kGdsHeaderSize)) {
        phase_ = kWaitEsc;
    }
}

void TnDataStream::endRecord() {
    if (phase_ == kCommand && paramCount_ > 0 &&
        (rule_.kind == LengthRule::UpToEsc || rule_.kind == LengthRule::ToRecordEnd ||
         rule_.kind == LengthRule::ScreenImage)) {
        runCommand();
    }
    paramCount_ = 0;
    phase_ = kHeader;
    recordCount_ = 0;
    recordLength_ = 0;
    entry_ = nullptr;
    finishWrite();
}

void TnDataStream::finishWrite() {
    if (!writeOpen_) return;
    writeOpen_ = false;
    if (screen_.state.placeCursorAtEnd) screen_.placeCursorAtRecordEnd();
}

void TnDataStream::collect(std::uint8_t byte) {
    if (paramCount_ < long(kParamSize)) param_[std::size_t(paramCount_)] = byte;
    ++paramCount_;
}

void TnDataStream::startCommand(const TableEntry* entry, const LengthRule& rule) {
    entry_ = entry;
    rule_ = rule;
    fieldTotal_ = -1;
}

long TnDataStream::resolvedTotal() {
    switch (rule_.kind) {
        case LengthRule::Fixed:
            return rule_.total;
        case LengthRule::LengthField: {
            if (paramCount_ < rule_.offset + rule_.size) return -1;
            long value = param(rule_.offset);
            if (rule_.size == 2) value = value << 8 | param(rule_.offset + 1);
            const long total = rule_.offset + value + (rule_.countsOwnSize ? rule_.size : 0);
            // A length shorter than what is already here ends the item now.
            return std::max(total, paramCount_);
        }
        case LengthRule::StartOfField: {
            if (paramCount_ < 2) return -1;
            if ((param(1) & 0xC0) == 0) return 4;
            // Each byte is looked at once, as it arrives.
            const long newest = paramCount_ - 1;
            if (fieldTotal_ < 0 && newest >= 3 && newest % 2 == 1 &&
                isFieldAttributeAt(newest, param(newest))) {
                fieldTotal_ = newest + 3;
            }
            return fieldTotal_;
        }
        case LengthRule::ScreenImage: {
            // The code and the image's five header bytes tell its length.
            if (paramCount_ < 6) return -1;
            const auto head = std::span(param_).subspan(1, 5);
            const std::size_t length =
                param(0) == 0x13 ? partialImageLength(head) : screenImageLength(head);
            if (length == 0) {
                rule_ = toRecordEnd();
                return -1;
            }
            return 1 + long(length);
        }
        case LengthRule::UpToEsc:
        case LengthRule::ToRecordEnd:
            break;
    }
    return -1;
}

void TnDataStream::commandByte(std::uint8_t byte) {
    if (paramCount_ == 0) {
        finishWrite();
        const TableEntry* entry = find(CommandTable, kCommandIndex, byte);
        // An unknown command runs to the next ESC and does nothing.
        startCommand(entry, entry != nullptr ? entry->rule : upToEsc());
        if (collectsImage(entry)) image_.clear();
    } else if (rule_.kind == LengthRule::UpToEsc && byte == kEsc) {
        runCommand();
        paramCount_ = 0;
        return;
    } else if (collectsImage(entry_)) {
        // An image longer than ours can be is consumed, not kept: it cannot restore.
        if (image_.capacity() == 0) image_.reserve(kMaxScreenImage);
        if (image_.size() < kMaxScreenImage) image_.push_back(byte);
    }
    collect(byte);
    const long total = resolvedTotal();
    if (total < 0 || paramCount_ < total) return;
    const bool writeToDisplay = entry_ != nullptr && entry_->code == kWriteToDisplay;
    runCommand();
    paramCount_ = 0;
    phase_ = writeToDisplay ? kOrder : kWaitEsc;
}

void TnDataStream::runCommand() {
    if (entry_ != nullptr) (this->*entry_->action)();
    entry_ = nullptr;
}

void TnDataStream::startOrder(std::uint8_t byte) {
    const TableEntry* entry = find(OrderTable, kOrderIndex, byte);
    // An unknown order is dropped with what was collected so far.
    startCommand(entry, entry != nullptr ? entry->rule : fixed(0));
    collect(byte);
}

void TnDataStream::orderByte(std::uint8_t byte) {
    if (paramCount_ == 0) {
        if (byte == kEsc) {
            phase_ = kCommand;
            return;
        }
        startOrder(byte);
    } else {
        collect(byte);
    }
    const long total = resolvedTotal();
    if (total < 0 || paramCount_ < total) return;
    phase_ = kData;
    if (entry_ != nullptr) (this->*entry_->action)();
    entry_ = nullptr;
    paramCount_ = 0;
}

void TnDataStream::writeDataByte(std::uint8_t byte) {
    ScreenState& s = screen_.state;
    const Received r = receiveByte(language(), s.receive, byte);
    switch (r.kind) {
        case Received::Attribute:
            screen_.setChar(s.row, s.column, 0);
            screen_.setAttribute(s.row, s.column, 0);
            screen_.setHostAttribute(s.row, s.column, r.byte);
            s.currentAttribute = internalAttribute(r.byte);
            screen_.advance();
            break;
        case Received::Single:
            screen_.writeCell(s.row, s.column, r.byte);
            break;
        case Received::Double:
            screen_.writeCell(s.row, s.column, r.pair[0]);
            screen_.writeCell(s.row, s.column, r.pair[1]);
            break;
        case Received::Pending:
            break;
    }
}

// --- Addresses

long TnDataStream::wirePosition(std::uint8_t row, std::uint8_t column) {
    return (long(row) - 1) * kColumns + (long(column) - 1);
}

void TnDataStream::setAddress(std::uint8_t row, std::uint8_t column) {
    if (row == 1 && column == 0) column = 1;
    screen_.setPosition(wirePosition(row, column));
}

// --- Commands

void TnDataStream::clearUnit() {
    screen_.clearUnit();
}

void TnDataStream::clearUnitAlternate() {
    screen_.state.keyboardLocked = true;
    screen_.state.redrawPending = true;
}

void TnDataStream::clearFormatTable() {
    screen_.state.redrawPending = true;
    screen_.state.keyboardLocked = true;
}

void TnDataStream::applyControlCharacters() {
    ScreenState& s = screen_.state;
    const std::uint8_t cc1 = param(1);
    const std::uint8_t cc2 = param(2);
    s.redrawPending = true;
    if (cc1 != 0) s.keyboardLocked = true;
    switch (cc1 >> 5) {
        case 2:
            screen_.resetModifiedFlags(true);
            break;
        case 3:
            screen_.resetModifiedFlags(false);
            break;
        case 4:
            screen_.nullFields(true);
            break;
        case 5:
            screen_.resetModifiedFlags(true);
            screen_.nullFields(false);
            break;
        case 6:
            screen_.resetModifiedFlags(true);
            screen_.nullFields(true);
            break;
        case 7:
            screen_.resetModifiedFlags(false);
            screen_.nullFields(false);
            break;
        default:
            break;
    }
    if ((cc2 & 0x08) != 0) s.keyboardLocked = false;
    if ((cc2 & 0x04) != 0) host_.alarm();
}

void TnDataStream::writeToDisplay() {
    applyControlCharacters();
    ScreenState& s = screen_.state;
    // Each write names its own insert cursor; without one the cursor goes to the first field.
    s.placeCursorAtEnd = (param(2) & 0x40) == 0;
    s.insertCursorRow = -1;
    s.insertCursorColumn = -1;
    writeOpen_ = true;
}

void TnDataStream::readInputFields() {
    applyControlCharacters();
    screen_.state.readMode = 1;
    ++readsReceived_;
}

void TnDataStream::readMdtFields() {
    applyControlCharacters();
    screen_.state.readMode = 2;
    ++readsReceived_;
}

void TnDataStream::readMdtAlternate() {
    applyControlCharacters();
    screen_.state.readMode = 3;
    ++readsReceived_;
}

void TnDataStream::writeMessageText(long from, long to) {
    ScreenState& s = screen_.state;
    int column = 0;
    for (long i = from; i < to && column < kColumns; ++i) {
        const std::uint8_t byte = param(i);
        if (byte == kEsc || byte == 0xFF) break;
        const Received r = receiveByte(language(), s.receive, byte);
        if (r.kind == Received::Double) {
            if (column + 2 > kColumns) break;
            screen_.setChar(s.messageRow, column++, r.pair[0]);
            screen_.setChar(s.messageRow, column++, r.pair[1]);
        } else if (r.kind != Received::Pending) {
            screen_.setChar(s.messageRow, column++, r.kind == Received::Single ? r.byte : 0);
        }
    }
}

void TnDataStream::writeErrorCode() {
    ScreenState& s = screen_.state;
    // The text ends at its first null; what follows it is lost.
    long length = 0;
    while (length < kept() && param_[std::size_t(length)] != 0)
        ++length;
    long from = 1;
    if (length > 4 && param(1) == 0x13) {
        // Kept inside the planes like every other address: column 81 is column 1 of the next row.
        screen_.setPosition(wirePosition(param(2), param(3)));
        from = 4;
    }
    screen_.saveMessageRow();
    screen_.clearMessageRow();
    writeMessageText(from, length);

    // The message as shown: from its first visible cell, without trailing blanks.
    const auto line = screen_.charRow(s.messageRow);
    s.messageText.fill(0);
    int first = 0;
    while (first < kPlaneColumns && (line[first] == 0 || line[first] == 0x20))
        ++first;
    int last = kPlaneColumns - 1;
    while (last >= first && (line[last] == 0 || line[last] == 0x20))
        --last;
    if (first <= last)
        std::copy(line.begin() + first, line.begin() + last + 1, s.messageText.begin());

    s.redrawPending = true;
    s.messageShown = true;
    s.keyboardLocked = true;
}

void TnDataStream::writeErrorCodeToWindow() {
    ScreenState& s = screen_.state;
    screen_.saveMessageRow();
    s.redrawPending = true;
    s.messageShown = true;
    s.keyboardLocked = true;
    s.messageText.fill(0);
    const long startColumn = long(param(1)) - 1;
    const long count = std::min<long>(long(param(2)) - long(param(1)), kept() - 3);
    for (long i = 0; i < count && i < kPlaneColumns; ++i) {
        const int column = static_cast<int>(startColumn + i);
        const Received r = receiveByte(language(), s.receive, param(3 + i));
        switch (r.kind) {
            case Received::Double:
                // The completed character fills the two cells ending here.
                screen_.setChar(s.messageRow, column - 1, r.pair[0]);
                screen_.setChar(s.messageRow, column, r.pair[1]);
                if (i > 0) s.messageText[std::size_t(i - 1)] = r.pair[0];
                s.messageText[std::size_t(i)] = r.pair[1];
                break;
            case Received::Single:
                screen_.setChar(s.messageRow, column, r.byte);
                s.messageText[std::size_t(i)] = r.byte == 0 ? 0x20 : r.byte;
                break;
            case Received::Attribute:
                screen_.setChar(s.messageRow, column, 0);
                s.messageText[std::size_t(i)] = 0x20;
                break;
            case Received::Pending:
                s.messageText[std::size_t(i)] = 0x20;
                break;
        }
    }
    // Trailing blanks end the text; past the bytes written it is still all nulls.
    auto end = s.messageText.begin() + std::clamp<long>(count, 0, kPlaneColumns);
    for (; end != s.messageText.begin() && (end[-1] == 0x20 || end[-1] == 0); --end)
        end[-1] = 0;
}

void TnDataStream::readImmediate() {
    ScreenState& s = screen_.state;
    s.keyboardLocked = true;
    // The host parses the cursor address and an AID first, as in every input record; the
    // fields follow only when one of them was modified.
    std::vector<std::uint8_t> body =
        borrowBody({cursorByte(s.row), cursorByte(s.column), kAidNone});
    if (screen_.anyModified())
        appendFields(body, true, false, {.dropTrailing = false, .nullsAsBlanks = true});
    sendBorrowed(std::move(body));
    s.keyboardLocked = false;
}

void TnDataStream::readModifiedImmediateAlternate() {
    screen_.state.keyboardLocked = true;
    std::vector<std::uint8_t> body = borrowBody({});
    appendFields(body, false, true, {.dropTrailing = true, .nullsAsBlanks = false});
    sendBorrowed(std::move(body));
    screen_.state.keyboardLocked = false;
}

void TnDataStream::readScreen() {
    // Every position of the display in screen order, as the host wrote it: attribute bytes,
    // and characters back in the host's code. No cursor address, no AID.
    const SbcsTable& toHost = localToSbcsTable(language());
    const bool doubleByte = isDbcsLanguage(language());
    std::vector<std::uint8_t> body = borrowBody({});
    body.reserve(std::size_t(kRows) * kColumns);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const std::uint8_t c = screen_.charAt(row, column);
            if (c == 0) {
                body.push_back(screen_.hostAttributeAt(row, column));
                continue;
            }
            if (doubleByte && column + 1 < kColumns && c >= kLowestLocalDbcsLead) {
                BytePair pair{c, screen_.charAt(row, column + 1)};
                if (isLocalDbcsPair(language(), pair[0], pair[1]) &&
                    localToHostPair(language(), pair)) {
                    body.insert(body.end(), pair.begin(), pair.end());
                    ++column;
                    continue;
                }
            }
            body.push_back(toHost[c]);
        }
    }
    sendBorrowed(std::move(body), 0, kOpcodeNoOperation);
}

void TnDataStream::saveScreen() {
    // The host keeps the record's body and sends it back as it is: Restore Screen, the image.
    std::vector<std::uint8_t> body = borrowBody({kEsc, 0x12});
    body.reserve(2 + kMaxScreenImage);
    appendScreenImage(screen_, body);
    sendBorrowed(std::move(body), 0, kOpcodeSaveScreen);
}

void TnDataStream::restoreScreen() {
    // Anything but a whole image of ours is consumed and ignored.
    restoreScreenImage(screen_, image_);
    image_.clear();
}

void TnDataStream::savePartialScreen() {
    // Flag byte, top row, left column, depth, width; a rectangle reaching past the display is
    // cut at its edge, so that the host always has its answer.
    const int top = std::clamp(int(param(2)), 1, kRows) - 1;
    const int left = std::clamp(int(param(3)), 1, kColumns) - 1;
    const PartialArea area{param(1), top, left, std::min(int(param(4)), kRows - top),
                           std::min(int(param(5)), kColumns - left)};
    std::vector<std::uint8_t> body = borrowBody({kEsc, 0x13});
    appendPartialImage(screen_, area, body);
    sendBorrowed(std::move(body), 0, kOpcodeSaveScreen);
}

void TnDataStream::restorePartialScreen() {
    restorePartialImage(screen_, image_);
    image_.clear();
}

void TnDataStream::roll() {
    // Direction (0x80 down) and count in the low five bits, then the top and bottom rows of
    // the area. An area the display does not hold, or a count that would roll all of it, is
    // a parameter error: nothing moves. The fields and the cursor stay as they are.
    const int count = param(1) & 0x1F;
    const int top = param(2);
    const int bottom = param(3);
    if (top < 1 || bottom > kRows || top >= bottom || count > bottom - top) return;
    screen_.rollRows(top - 1, bottom - 1, count, (param(1) & 0x80) != 0);
    screen_.state.redrawPending = true;
}

void TnDataStream::writeStructuredField() {
    if (kept() < long(sizeof kQueryStructuredField) ||
        !std::equal(std::begin(kQueryStructuredField), std::end(kQueryStructuredField),
                    param_.begin())) {
        return;
    }
    std::vector<std::uint8_t> body = borrowBody({0x00, 0x00, kAidStructuredField});
    body.insert(body.end(), std::begin(kQueryReply), std::end(kQueryReply));
    if (isDbcsLanguage(language())) {
        std::copy(std::begin(kDoubleByteDevice), std::end(kDoubleByteDevice),
                  body.begin() + 3 + kQueryDeviceAt);
    }
    sendBorrowed(std::move(body));
}

// --- Orders

void TnDataStream::setBufferAddress() {
    setAddress(param(1), param(2));
}

void TnDataStream::insertCursor() {
    setAddress(param(1), param(2));
    screen_.state.insertCursorRow = screen_.state.row;
    screen_.state.insertCursorColumn = screen_.state.column;
}

void TnDataStream::moveCursor() {
    setAddress(param(2), param(1));
}

void TnDataStream::repeatToAddress() {
    const long target = wirePosition(param(1), param(2));
    const std::uint8_t character = sbcsToLocal(language(), param(3));
    const long first = std::max<long>(screen_.position(), 0);
    const long last = std::min<long>(target, kPlanePositions - 1);
    if (first <= last) {
        screen_.fillPositions(static_cast<int>(first), static_cast<int>(last), character);
        screen_.paintAttribute(first, last - first + 1, screen_.state.currentAttribute);
    }
    // A target before the address fills nothing; either way the address ends past the target.
    screen_.setPosition(target + 1);
}

void TnDataStream::eraseToAddress() {
    const long target = wirePosition(param(1), param(2));
    const long typesEnd = std::min<long>(3 + long(param(3)), kept());
    bool characters = false;
    std::uint8_t keepAttribute = 0xFF;
    for (long i = 4; i < typesEnd; ++i) {
        switch (param(i)) {
            case 0x00:
                characters = true;
                break;
            case 0x01:
                keepAttribute &= 0x1F;  // colour
                break;
            case 0x03:
                keepAttribute &= 0xE0;  // the other bits
                break;
            case 0xFF:
                characters = true;
                keepAttribute = 0;
                break;
            default:
                break;
        }
    }
    // The end address is erased too, as Repeat To Address fills it.
    const long first = std::max<long>(screen_.position(), 0);
    const long last = std::min<long>(target, kPlanePositions - 1);
    if (first <= last) {
        if (characters) screen_.fillPositions(static_cast<int>(first), static_cast<int>(last), 0);
        screen_.maskAttributes(first, last, keepAttribute);
    }
    screen_.setPosition(target + 1);
}

void TnDataStream::writeDisplayStructuredField() {
    // Windows, selection fields and scroll bars are not drawn (the query reply does not offer
    // them); the structured field is passed over whole by its length. One too short to hold
    // its own class and type leaves nothing after it to trust up to the next command.
    const long length = long(param(1)) << 8 | param(2);
    if (length < 4) phase_ = kWaitEsc;
}

void TnDataStream::startOfHeader() {
    screen_.fields.clear();
    screen_.state.currentField = {};
    // The error row, 1-based; other values keep the message row.
    const std::uint8_t errorRow = param(5);
    if (errorRow >= 1 && errorRow <= kRows) screen_.state.messageRow = errorRow - 1;
}

void TnDataStream::transparentData() {
    ScreenState& s = screen_.state;
    for (long i = 3; i < kept(); ++i)
        screen_.writeCell(s.row, s.column, param(i));
}

void TnDataStream::writeExtendedAttribute() {
    std::uint8_t& attribute = screen_.state.currentAttribute;
    const std::uint8_t type = param(1);
    const std::uint8_t value = param(2);
    if (value == 0) return;
    if (type == 1) attribute = static_cast<std::uint8_t>((attribute & 0xE0) | value);
    if (type == 2) attribute &= 0xF8;
}

void TnDataStream::startOfField() {
    ScreenState& s = screen_.state;
    const std::uint8_t ffw1 = param(1);
    if ((ffw1 & 0xC0) == 0) return;  // no field format word: nothing to define
    const std::uint8_t ffw2 = param(2);
    // The control words lie between the format word and the attribute; the first is kept,
    // a resequence word (0x80nn) wherever it stands gives the resequence number.
    const long at = std::min<long>(paramCount_, long(kParamSize)) - 3;
    const std::uint8_t fcw1 = at > 3 ? param(3) : 0;
    const std::uint8_t fcw2 = at > 3 ? param(4) : 0;
    std::uint8_t resequence = 0;
    for (long word = 3; word + 1 < at; word += 2) {
        if (param(word) == 0x80) {
            resequence = param(word + 1);
            break;
        }
    }
    const std::uint8_t attribute5250 = param(at);
    const std::int32_t length = param(at + 1) << 8 | param(at + 2);

    // The attribute position.
    screen_.setChar(s.row, s.column, 0);
    screen_.setAttribute(s.row, s.column, 0);
    screen_.setHostAttribute(s.row, s.column, attribute5250);
    s.currentAttribute = 0;
    screen_.advance();

    std::uint8_t attribute = internalAttribute(attribute5250);
    const int start = screen_.position();
    if (!ffw::isBypass(ffw1)) {
        attribute |= cell_attribute::kUnderline;
        // Only a field that starts inside the planes can be entered (and edited).
        if (start >= 0 && start < kPlanePositions) {
            screen_.addField(static_cast<std::uint8_t>(s.column), static_cast<std::uint8_t>(s.row),
                             ffw1, ffw2, fcw1, fcw2, attribute, length, resequence);
        }
    }
    screen_.paintAttribute(start, length, attribute);
    if (attribute != 0) s.currentAttribute = attribute;
}

// --- Replies

std::vector<std::uint8_t> TnDataStream::borrowBody(std::initializer_list<std::uint8_t> start) {
    std::vector<std::uint8_t> body = std::move(body_);
    body.assign(start);
    return body;
}

void TnDataStream::sendBorrowed(std::vector<std::uint8_t>&& body, std::uint8_t flags,
                                std::uint8_t opcode) {
    sendRecord(body, flags, opcode);
    body_ = std::move(body);
}

void TnDataStream::sendRecord(std::span<const std::uint8_t> body, std::uint8_t flags,
                              std::uint8_t opcode) {
    // The buffer is lent out for the send, so that a host answering from inside it cannot
    // overwrite the bytes being sent.
    std::vector<std::uint8_t> wire = std::move(wire_);
    frameRecord(body, flags, opcode, wire);
    host_.sendBytes(wire);
    wire_ = std::move(wire);
}

void TnDataStream::appendFields(std::vector<std::uint8_t>& body, bool allFields, bool sbaPrefix,
                                FieldDataOptions options) const {
    FieldDataWriter writer(screen_, language(), options);
    for (const FieldEntry& entry : screen_.fields.entries()) {
        if (!allFields && !ffw::isModified(entry.ffw1)) continue;
        const std::size_t before = body.size();
        if (sbaPrefix) {
            body.insert(body.end(), {0x11, cursorByte(entry.row), cursorByte(entry.column)});
        }
        writer.append(entry, body);
        // Fields that would not fit the record's length are left out whole.
        if (kGdsHeaderSize + body.size() > kMaxRecordSize) {
            body.resize(before);
            break;
        }
    }
}

void TnDataStream::sendAid(std::uint8_t aid) {
    ScreenState& s = screen_.state;
    s.keyboardLocked = true;
    if (s.currentField.isField() &&
        screen_.position() == TnScreen::fieldEnd(s.currentField, false) + 1) {
        screen_.setPosition(screen_.position() - 1);
    }
    std::vector<std::uint8_t> body = borrowBody({});
    if (s.readMode >= 1 && s.readMode <= 3) {
        body.assign({cursorByte(s.row), cursorByte(s.column), aid});
        // Without field addresses each field keeps its length, or the host could not tell
        // where one ends and the next begins.
        const FieldDataOptions options{
            .dropTrailing = s.readMode != 1, .nullsAsBlanks = s.readMode != 3, .applySign = true};
        // With no field modified the host gets the cursor and the AID alone.
        if (screen_.anyModified()) appendFields(body, s.readMode == 1, s.readMode != 1, options);
    }
    sendBorrowed(std::move(body));
}

void TnDataStream::sendAttention() {
    sendRecord({}, 0x40, 0x00);
}

bool TnDataStream::trySignOn() {
    auto fields = screen_.fields.entries();
    auto writeInto = [this](FieldEntry& field, std::span<const std::uint8_t> text) {
        const std::size_t n = std::min<std::size_t>(text.size(), std::max(field.length, 0));
        for (std::size_t i = 0; i < n; ++i)
            screen_.setCharAtPosition(field.start() + static_cast<int>(i), text[i]);
        field.ffw1 |= ffw::kModified;
    };
    auto textOf = [](std::span<const std::uint8_t> bytes) {
        return bytes.first(reader::fixedLength(bytes));
    };
    if (!fields.empty()) writeInto(fields[0], textOf(session_.loginName));
    if (fields.size() < 2) return false;
    writeInto(fields[1], textOf(session_.loginPassword));
    screen_.state.keyboardLocked = true;
    sendAid(kAidEnter);
    return true;
}

}  // namespace qn::tn
