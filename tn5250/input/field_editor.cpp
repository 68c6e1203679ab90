#include "tn5250/input/field_editor.h"

#include <algorithm>

#include "common/reader/record_fields.h"
#include "tn5250/input/tn_keys.h"

namespace qn::tn {

namespace {

constexpr std::uint8_t kTab = 0x09;
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kFieldMark = 0x1C;  // Enter, in scanned data and from the keyboard
constexpr std::uint8_t kBlank = 0x20;
constexpr int kScreenPositions = kRows * kColumns;

bool isDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}
bool isLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isPrintable(std::uint8_t c) {
    return c >= 0x20 && c <= 0x7E;
}

// The control characters that act, typed or scanned: Tab, carriage return and 0x1C.
int controlFunction(std::uint8_t c) {
    switch (c) {
        case kTab:
            return fn::kNext;
        case kCarriageReturn:
            return fn::kFieldExit;
        case kFieldMark:
            return fn::kEnter;
        default:
            return fn::kUndefined;
    }
}

}  // namespace

// --- Fields and the cursor

bool TnFieldEditor::cursorInCurrentField() const {
    const ScreenState& s = screen_.state;
    return s.currentField.isField() && TnScreen::fieldContains(s.currentField, s.row, s.column);
}

FieldEntry* TnFieldEditor::currentEntry() {
    const FieldEntry& current = screen_.state.currentField;
    if (!current.isField()) return nullptr;
    auto entries = screen_.fields.entries();
    const std::size_t index = current.number - 1u;
    if (current.number != 0 && index < entries.size() && entries[index].start() == current.start())
        return &entries[index];
    for (FieldEntry& entry : entries) {
        if (entry.start() == current.start()) return &entry;
    }
    return nullptr;
}

void TnFieldEditor::setModified() {
    screen_.state.currentField.ffw1 |= ffw::kModified;
    if (FieldEntry* entry = currentEntry()) entry->ffw1 |= ffw::kModified;
}

void TnFieldEditor::enterField(const FieldEntry& entry) {
    screen_.state.currentField = entry;
    screen_.setPosition(entry.start());
    screen_.selectField(entry);
}

void TnFieldEditor::nextField() {
    const auto entries = screen_.fields.entries();
    if (entries.empty()) return;
    const FieldEntry* entry = currentEntry();
    const std::size_t index = entry == nullptr ? 0 : (entry - entries.data() + 1) % entries.size();
    enterField(entries[index]);
}

void TnFieldEditor::previousField() {
    const auto entries = screen_.fields.entries();
    if (entries.empty()) return;
    const FieldEntry* entry = currentEntry();
    const std::size_t at = entry == nullptr ? 0 : static_cast<std::size_t>(entry - entries.data());
    enterField(entries[(at + entries.size() - 1) % entries.size()]);
}

void TnFieldEditor::firstField() {
    const auto entries = screen_.fields.entries();
    if (!entries.empty()) enterField(entries.front());
}

int TnFieldEditor::dataEnd() const {
    return TnScreen::fieldEnd(screen_.state.currentField, true);
}

// --- Keys

bool TnFieldEditor::keyDown(int virtualKey) {
    const int function = resolveKeyFunction(session_, virtualKey);
    // A locked keyboard waits for the host; only Reset and Attention get through.
    if (screen_.state.keyboardLocked && !actsWhileLocked(function)) {
        alarm();
        return false;
    }
    if (function != fn::kUndefined) return runFunction(function);
    switch (virtualKey) {
        case vk::kLeft:
        case vk::kUp:
        case vk::kRight:
        case vk::kDown:
            return moveCursor(virtualKey);
        case vk::kInsert:
            screen_.state.insertMode = !screen_.state.insertMode;
            return true;
        default:
            return false;
    }
}

bool TnFieldEditor::typeChar(std::uint8_t byte) {
    if (screen_.state.keyboardLocked &&
        (isPrintable(byte) || !actsWhileLocked(resolveKeyFunction(session_, byte)))) {
        alarm();
        return false;
    }
    typeInField(byte, true);
    return true;
}

bool TnFieldEditor::runFunction(int code) {
    const bool atField = cursorInCurrentField();
    if (code >= 1 && code <= 12) {
        stream_.sendAid(static_cast<std::uint8_t>(code + 0x30));
        return true;
    }
    if (code >= 13 && code <= 24) {
        stream_.sendAid(static_cast<std::uint8_t>(code + 0xA4));
        return true;
    }
    switch (code) {
        case fn::kAttn:
            stream_.sendAttention();
            return true;
        case fn::kBegin:
            if (!inField()) return false;
            screen_.setPosition(screen_.state.currentField.start());
            return true;
        case fn::kDelete:
            if (!atField) return false;
            deleteChar();
            return true;
        case fn::kEnd:
            if (!inField()) return false;
            screen_.setPosition(std::max(dataEnd(), screen_.state.currentField.start()));
            return true;
        case fn::kErase:
            eraseInput();
            return true;
        case fn::kFieldPlus:
            if (!atField) return false;
            fieldPlus();
            return true;
        case fn::kFieldMinus:
            if (!atField) return false;
            fieldMinus();
            return true;
        case fn::kFieldExit:
            if (!atField) return false;
            setModified();
            fieldExit();
            return true;
        case fn::kLast:
            if (!inField()) return false;
            cursorAfterLastNonBlank();
            return true;
        case fn::kNext:
            nextField();
            return true;
        case fn::kPageDown:
            stream_.sendAid(0xF5);
            return true;
        case fn::kPageUp:
            stream_.sendAid(0xF4);
            return true;
        case fn::kPrevious:
            previousField();
            return true;
        case fn::kRecord:
            firstField();
            return true;
        case fn::kReset:
            reset();
            return true;
        case fn::kEnter:
            stream_.sendAid(kAidEnter);
            return true;
        case fn::kLeft:
            return moveCursor(vk::kLeft);
        case fn::kBackspace:
            if (!atField) return false;
            backspace();
            return true;
        default:
            // SYSREQ, INSERT, DUP, HELP and CLEAR have no action; unknown codes neither.
            return false;
    }
}

// --- Typing

bool TnFieldEditor::charAllowed(std::uint8_t byte, bool secondHalf) const {
    switch (ffw::shiftEditType(screen_.state.currentField.ffw1)) {
        case ffw::kAlphabeticOnly:
            return !secondHalf &&
                   (isLetter(byte) || byte == ' ' || byte == ',' || byte == '-' || byte == '.');
        case ffw::kNumericOnly:
            return !secondHalf &&
                   (isDigit(byte) || byte == ' ' || byte == '+' || byte == ',' || byte == '.');
        case ffw::kDigitsOnly:
        case ffw::kSignedNumeric:
            return !secondHalf && isDigit(byte);
        default:
            return true;
    }
}

TnFieldEditor::Typed TnFieldEditor::typeOne(std::uint8_t byte, bool autoAdvance) {
    ScreenState& s = screen_.state;

    // A byte after a lead byte of the local double-byte code completes the character.
    bool secondHalf = false;
    if ((s.pendingLeadByte & 0x80) != 0 &&
        isLocalDbcsPair(session_.language, s.pendingLeadByte, byte)) {
        secondHalf = true;
        s.pendingLeadByte = 0;
    } else {
        s.pendingLeadByte = byte;
    }

    if (byte < kBlank) {
        const int function = controlFunction(byte);
        if (function != fn::kUndefined) runFunction(function);
        return function == fn::kEnter ? Typed::EnterSent : Typed::Dropped;
    }

    const FieldEntry field = s.currentField;
    const int position = screen_.position();
    const int last = TnScreen::fieldEnd(field, false);
    const bool typable =
        cursorInCurrentField() && !ffw::isBypass(field.ffw1) &&
        !(position == last &&
          (ffw::isSignedNumeric(field.ffw1) ||
           ((field.ffw2 & ffw::kFieldExitRequired) != 0 && screen_.charAtPosition(last) > kBlank)));
    if (!typable || !charAllowed(byte, secondHalf)) {
        alarm();
        return Typed::Dropped;
    }

    if ((field.ffw2 & ffw::kMonocase) != 0 && !secondHalf && byte >= 'a' && byte <= 'z')
        byte = static_cast<std::uint8_t>(byte - 'a' + 'A');

    const int end = dataEnd();
    if (s.insertMode) {
        screen_.movePositions(position, position + 1, end - position);
    }
    // The cell keeps its attribute.
    screen_.setCharAtPosition(position, byte);
    screen_.setPosition(position + 1);
    setModified();

    if (screen_.position() > end) {
        if (!autoAdvance || (field.ffw2 & ffw::kFieldExitRequired) != 0) {
            screen_.setPosition(end);
        } else if ((field.ffw2 & ffw::kAutoEnter) != 0) {
            stream_.sendAid(kAidEnter);
            return Typed::EnterSent;
        } else {
            nextField();
        }
    }
    return Typed::Stored;
}

bool TnFieldEditor::typeInField(std::uint8_t byte, bool autoAdvance) {
    return typeOne(byte, autoAdvance) == Typed::EnterSent;
}

// --- Cursor movement

bool TnFieldEditor::moveCursor(int virtualKey) {
    ScreenState& s = screen_.state;
    const int oldRow = s.row;
    const int oldColumn = s.column;
    // The address may rest on a hidden row after a host write; movement stays on the screen.
    const int position = std::clamp(screen_.position(), 0, kScreenPositions - 1);
    const int row = position / kColumns;
    const int column = position % kColumns;
    switch (virtualKey) {
        case vk::kLeft:
            screen_.setPosition((position + kScreenPositions - 1) % kScreenPositions);
            break;
        case vk::kRight:
            screen_.setPosition((position + 1) % kScreenPositions);
            break;
        case vk::kUp:
            screen_.setPosition(((row + kRows - 1) % kRows) * kColumns + column);
            break;
        case vk::kDown:
            screen_.setPosition(((row + 1) % kRows) * kColumns + column);
            break;
        default:
            return false;
    }
    if (cursorInCurrentField()) return true;
    if (screen_.checkMandatory(s.currentField)) {
        screen_.locateField(s.row, s.column);
        screen_.selectField(s.currentField);
    } else {
        alarm();
        s.row = oldRow;
        s.column = oldColumn;
    }
    return true;
}

void TnFieldEditor::cursorAfterLastNonBlank() {
    const int start = screen_.state.currentField.start();
    const int end = dataEnd();
    int target = start;
    for (int p = end; p >= start; --p) {
        if (screen_.charAtPosition(p) > kBlank) {
            target = std::min(p + 1, end);
            break;
        }
    }
    screen_.setPosition(target);
}

// --- Editing

int TnFieldEditor::lastNonNull(int first, int last) const {
    return screen_.lastNonNullPosition(first, last);
}

void TnFieldEditor::shiftLeft(int from, int last) {
    screen_.movePositions(from + 1, from, last - from);
    screen_.setCharAtPosition(last, 0);
}

void TnFieldEditor::deleteChar() {
    const int position = screen_.position();
    const int end = dataEnd();
    // The sign stays where it is; on the sign position itself only the sign goes.
    shiftLeft(position, position <= end ? end : position);
    setModified();
}

void TnFieldEditor::backspace() {
    ScreenState& s = screen_.state;
    int position = screen_.position();
    if (position == s.currentField.start()) {
        previousField();
        // A field without data cells (a lone sign position) has nothing to take back.
        position = dataEnd();
        if (position < s.currentField.start()) return;
        screen_.setPosition(position);
    } else {
        screen_.setPosition(--position);
    }
    s.currentAttribute = screen_.attributeAt(s.row, s.column);
    const int end = dataEnd();
    shiftLeft(position, position <= end ? end : position);
    setModified();
}

void TnFieldEditor::fieldExit() {
    ScreenState& s = screen_.state;
    const FieldEntry field = s.currentField;
    const int start = field.start();
    const int end = dataEnd();
    screen_.fillPositions(screen_.position(), end, 0);

    const std::uint8_t adjust = ffw::adjustment(field.ffw2);
    if (adjust == ffw::kRightAdjustZeroFill || adjust == ffw::kRightAdjustBlankFill) {
        const int lastData = lastNonNull(start, end);
        const int shift = end - lastData;
        if (lastData >= start && shift > 0) {
            screen_.movePositions(start, start + shift, lastData - start + 1);
            const std::uint8_t fill = adjust == ffw::kRightAdjustZeroFill ? '0' : kBlank;
            screen_.fillPositions(start, start + shift - 1, fill);
            screen_.paintAttribute(start, shift, s.currentAttribute);
        }
    }
    nextField();
}

void TnFieldEditor::fieldPlus() {
    const FieldEntry& field = screen_.state.currentField;
    if (ffw::isSignedNumeric(field.ffw1)) {
        const int sign = TnScreen::fieldEnd(field, false);
        if (screen_.charAtPosition(sign) != kBlank) screen_.setCharAtPosition(sign, kBlank);
    }
    setModified();
    fieldExit();
}

void TnFieldEditor::fieldMinus() {
    const FieldEntry field = screen_.state.currentField;
    const std::uint8_t type = ffw::shiftEditType(field.ffw1);
    if (type == ffw::kSignedNumeric) {
        screen_.setCharAtPosition(TnScreen::fieldEnd(field, false), '-');
    } else if (type == ffw::kNumericOnly) {
        const int p = lastNonNull(field.start(), TnScreen::fieldEnd(field, false));
        if (p >= field.start()) {
            const std::uint8_t c = screen_.charAtPosition(p);
            if (c == kBlank || c == '+' || c == '-' || c == '.') {
                alarm();
                return;
            }
        }
    }
    setModified();
    fieldExit();
    if (type != ffw::kNumericOnly) return;

    // The negative zone goes on the units digit: the last character the exit left in the field
    // (its last cell once right-adjusted).
    const int p = lastNonNull(field.start(), TnScreen::fieldEnd(field, false));
    if (p < field.start()) return;
    const std::uint8_t code = localToSbcs(session_.language, screen_.charAtPosition(p));
    if (code == kNoEbcdicCode || (code & 0xF0) == 0xD0) return;
    const std::uint8_t negative = sbcsToLocal(session_.language, (code & 0x0F) | 0xD0);
    if (negative != 0) screen_.setCharAtPosition(p, negative);
}

void TnFieldEditor::reset() {
    ScreenState& s = screen_.state;
    s.keyboardLocked = false;
    if (s.messageShown) {
        s.messageShown = false;
        screen_.restoreMessageRow();
    }
}

void TnFieldEditor::eraseInput() {
    screen_.nullFields(true);
    if (screen_.state.currentField.isField()) {
        if (FieldEntry* entry = currentEntry()) screen_.state.currentField = *entry;
    }
    firstField();
}

// --- Scanned data

void TnFieldEditor::nullCurrentField() {
    const FieldEntry& field = screen_.state.currentField;
    const int last = TnScreen::fieldEnd(field, false);
    screen_.fillPositions(field.start(), last, 0);
    setModified();
    enterField(screen_.state.currentField);
}

TnFieldEditor::Piece TnFieldEditor::enterPiece(std::span<const std::uint8_t> piece) {
    if (piece.empty()) return Piece::Continue;
    if (!cursorInCurrentField()) {
        alarm();
        return Piece::Stop;
    }
    const auto capacity = [this] {
        return static_cast<std::size_t>(
            std::max(0, dataEnd() - screen_.state.currentField.start() + 1));
    };
    const std::uint8_t rule = session_.overLengthRule;
    const bool fits = piece.size() <= capacity();
    // A rejected scan leaves the field as the operator had it.
    if (!fits && rule != kOverLengthTruncate && rule != kOverLengthSplit) return Piece::TooLong;

    nullCurrentField();
    if (fits || rule == kOverLengthTruncate) {
        for (std::uint8_t byte : piece.first(std::min(piece.size(), capacity()))) {
            if (typeOne(byte, true) == Typed::EnterSent || screen_.state.keyboardLocked)
                return Piece::Stop;
        }
        return Piece::Continue;
    }

    // Split: the rest of each full field goes on in the next one; the last field ends it.
    std::size_t stored = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (stored == capacity()) {
            const FieldEntry* entry = currentEntry();
            const auto entries = screen_.fields.entries();
            if (entry == nullptr || entry == &entries.back()) break;
            enterField(*(entry + 1));
            nullCurrentField();
            stored = 0;
            if (capacity() == 0) break;
        }
        switch (typeOne(piece[i], false)) {
            case Typed::Stored:
                ++stored;
                break;
            case Typed::EnterSent:
                return Piece::Stop;
            case Typed::Dropped:
                break;
        }
    }
    return Piece::Continue;
}

void TnFieldEditor::applySuffix() {
    const ScreenState& s = screen_.state;
    const FieldEntry* entry = currentEntry();
    const auto entries = screen_.fields.entries();
    const bool lastField = entry != nullptr && entry == &entries.back();
    const std::uint8_t suffix = lastField ? session_.lastFieldSuffix : session_.otherFieldSuffix;
    if (suffix == 0 || s.keyboardLocked) return;
    if (suffix < 127) {
        runFunction(suffix);
    } else {
        typeInField(static_cast<std::uint8_t>(suffix - 127), true);
    }
}

ScanEntry TnFieldEditor::enterScannedData(std::span<const std::uint8_t> data) {
    if (screen_.state.keyboardLocked || !cursorInCurrentField()) {
        alarm();
        return ScanEntry::Refused;
    }
    text_.clear();
    if (session_.prefixOn != 0) {
        const auto prefix = std::span(session_.prefixCode);
        text_.insert(text_.end(), prefix.begin(), prefix.begin() + reader::fixedLength(prefix));
    }
    text_.insert(text_.end(), data.begin(), data.end());
    if (session_.suffixOn != 0) {
        const auto suffix = std::span(session_.suffixCode);
        text_.insert(text_.end(), suffix.begin(), suffix.begin() + reader::fixedLength(suffix));
    }

    // Control characters cut the text into pieces; the end of the text closes the last one.
    piece_.clear();
    for (std::size_t i = 0; i <= text_.size(); ++i) {
        const bool atEnd = i == text_.size();
        const std::uint8_t byte = atEnd ? 0 : text_[i];
        if (!atEnd && byte >= kBlank) {
            piece_.push_back(byte);
            continue;
        }
        const int function = atEnd ? fn::kUndefined : controlFunction(byte);
        if (!atEnd && function == fn::kUndefined) continue;
        const Piece entered = enterPiece(piece_);
        if (entered == Piece::TooLong) return ScanEntry::TooLong;
        if (entered == Piece::Stop) return ScanEntry::Entered;
        piece_.clear();
        if (function != fn::kUndefined) runFunction(function);
        if (function == fn::kEnter) return ScanEntry::Entered;
    }
    applySuffix();
    return ScanEntry::Entered;
}

}  // namespace qn::tn
