#include "vt/emulator/vt_emulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/reader/record_fields.h"

namespace qn::vt {

namespace {

constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kCsi8Bit = 0x9B;
constexpr int kLastColumn = kScreenColumns - 1;
constexpr int kLastRow = kScreenRows - 1;

// Bytes that ground state hands to printChar; the others are controls, CSI, or ignored.
constexpr std::array<bool, 256> kPrintableInGround = [] {
    std::array<bool, 256> table{};
    for (int b = 0x20; b <= 0xFE; ++b)
        table[static_cast<std::size_t>(b)] = true;
    table[0x7F] = false;
    table[kCsi8Bit] = false;
    return table;
}();

struct LineDrawingPair {
    std::uint8_t input;
    std::uint8_t output;
};

constexpr LineDrawingPair kLineDrawingTable[] = {
    {'j', 0xD9}, {'k', 0xBF}, {'l', 0xDA}, {'m', 0xC0}, {'n', 0xC5},
    {'t', 0xC3}, {'u', 0xB4}, {'v', 0xC1}, {'w', 0xC2}, {'x', 0xB3},
    {'o', '-'},  {'p', '-'},  {'q', '-'},  {'r', '_'},  {'s', '_'},
};

constexpr std::array<std::uint8_t, 256> kIdentityMap = [] {
    std::array<std::uint8_t, 256> map{};
    for (int b = 0; b < 256; ++b)
        map[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
    return map;
}();

constexpr std::array<std::uint8_t, 256> kLineDrawingMap = [] {
    std::array<std::uint8_t, 256> map = kIdentityMap;
    for (const LineDrawingPair& pair : kLineDrawingTable)
        map[pair.input] = pair.output;
    return map;
}();

using Text = std::span<const std::uint8_t>;

inline std::uint64_t load8(const std::uint8_t* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Whether eight bytes are all 0x20..0x7E, tested together: a byte below 0x20 borrows into its
// top bit when 0x20 is taken away, a byte above 0x7E carries into it when 0x01 is added.
inline bool allPrintableAscii(std::uint64_t x) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    const std::uint64_t below = (x - kOnes * 0x20) & ~x & kHighBits;
    const std::uint64_t above = ((x + kOnes * 0x01) | x) & kHighBits;
    return (below | above) == 0;
}

// One digit step of the host's number reading: any character enters with its code minus '0',
// so ';' or '?' count too. The arithmetic wraps at 32 bits.
constexpr std::uint32_t addDigit(std::uint32_t value, std::uint8_t c) {
    return value * 10u + (static_cast<std::uint32_t>(c) - 48u);
}

// The whole text as one number; an empty text is 1.
std::uint32_t wholeNumber(Text text) {
    if (text.empty()) return 1;
    std::uint32_t value = 0;
    for (std::uint8_t c : text)
        value = addDigit(value, c);
    return value;
}

// The first pieces of a ';'-separated text, each read as a number (an empty piece is 0);
// missing pieces are 0.
template <std::size_t N>
std::array<std::int32_t, N> leadingPieces(Text text) {
    std::array<std::int32_t, N> pieces{};
    std::size_t index = 0;
    std::uint32_t value = 0;
    for (std::uint8_t c : text) {
        if (c == ';') {
            if (index < N) pieces[index] = static_cast<std::int32_t>(value);
            ++index;
            value = 0;
        } else {
            value = addDigit(value, c);
        }
    }
    if (index < N) pieces[index] = static_cast<std::int32_t>(value);
    return pieces;
}

// A count from the host: one that wrapped below zero counts as 0, and none needs to be larger
// than the screen.
int boundedCount(std::uint32_t value, int limit) {
    auto count = static_cast<std::int32_t>(value);
    if (count < 0) return 0;
    return count > limit ? limit : static_cast<int>(count);
}

// A 1-based position from the host as a 0-based index inside [0, last]; 0 means the first.
int boundedIndex(std::int32_t position, int last) {
    std::int64_t index = std::int64_t{position} - 1;
    return static_cast<int>(std::clamp<std::int64_t>(index, 0, last));
}

// One device-command number: an optional sign and the digits up to the first other character,
// looking at no more than kMaxDeviceNumberChars characters; saturates instead of overflowing.
std::int64_t signedDecimal(Text piece) {
    if (piece.size() > kMaxDeviceNumberChars) piece = piece.first(kMaxDeviceNumberChars);
    std::size_t i = 0;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '-' || piece[i] == '+')) {
        negative = piece[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        const int digit = piece[i] - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

int saturatedInt(std::int64_t value) {
    return static_cast<int>(std::min<std::int64_t>(value, std::numeric_limits<int>::max()));
}

// ESC P, X, ], ^ and _ open DCS, SOS, OSC, PM and APC.
constexpr bool opensControlString(std::uint8_t byte) {
    return byte == 'P' || byte == 'X' || byte == ']' || byte == '^' || byte == '_';
}

}  // namespace

std::optional<VtEmulation> parseVtEmulation(std::string_view name) {
    if (name == "vt100") return VtEmulation::Vt100;
    if (name == "classic") return VtEmulation::Classic;
    return std::nullopt;
}

std::string_view vtEmulationName(VtEmulation emulation) {
    return emulation == VtEmulation::Classic ? "classic" : "vt100";
}

const VtEmulator::CsiFinalEntry VtEmulator::CsiFinalTable[] = {
    {'m', &VtEmulator::selectGraphicRendition},
    {'H', &VtEmulator::cursorPosition},
    {'f', &VtEmulator::cursorPosition},
    {'K', &VtEmulator::eraseInLine},
    {'J', &VtEmulator::eraseInDisplay},
    {'A', &VtEmulator::cursorUp},
    {'B', &VtEmulator::cursorDown},
    {'e', &VtEmulator::cursorDown},
    {'C', &VtEmulator::cursorForward},
    {'a', &VtEmulator::cursorForward},
    {'D', &VtEmulator::cursorBackward},
    {'L', &VtEmulator::insertLines},
    {'b', &VtEmulator::repeatCharacter},
    {'G', &VtEmulator::cursorColumn},
    {'P', &VtEmulator::deleteCharacters},
    {'X', &VtEmulator::eraseCharacters},
    {'@', &VtEmulator::insertCharacters},
    {'d', &VtEmulator::cursorRowAbsolute},
    {'h', &VtEmulator::setMode},
    {'l', &VtEmulator::resetMode},
    {'n', &VtEmulator::deviceStatus},
    {'i', &VtEmulator::mediaCopy},
    {'M', &VtEmulator::deleteLines},
    {'r', &VtEmulator::setScrollRegion},
    {'c', &VtEmulator::deviceAttributes},
    {'E', &VtEmulator::nextLine},
    {'F', &VtEmulator::previousLine},
    {'s', &VtEmulator::saveCursorSequence},
    {'u', &VtEmulator::restoreCursorSequence},
    {'g', &VtEmulator::clearTabStop},
    {'x', &VtEmulator::terminalParameters},
    {']', &VtEmulator::deviceCommand},
    {0, nullptr},
};

VtEmulator::VtEmulator(VtSettings& settings, VtHost& host) : settings_(settings), host_(host) {
    // The table's order decides between equal finals: the first one wins.
    for (const CsiFinalEntry* entry = CsiFinalTable; entry->final != 0; ++entry) {
        if (entry->final < csiHandlers_.size() && csiHandlers_[entry->final] == nullptr) {
            csiHandlers_[entry->final] = entry->handler;
        }
    }
    loadHostCommands();
}

// ---- Byte entry ----

void VtEmulator::feed(const std::uint8_t* data, std::size_t length) {
    // The settings cannot change while the caller holds the session lock for this chunk.
    loadHostCommands();
    const std::uint8_t* p = data;
    const std::uint8_t* const end = data + length;
    // A control string is passed over whole where it starts, so the loop below never sees one.
    if (parserState_ >= kControlString) p = consumeControlString(p, end);
    while (p != end) {
        // The common paths run here without leaving the loop; everything else goes through
        // receiveByte one byte at a time.
        const std::uint8_t byte = *p;
        if (byte < 0x20) {  // controls act alike in every state
            ++p;
            if (byte == kEsc) {
                seqLength_ = 0;
                parserState_ = kEscape;
            } else if (controlChar(byte) == ControlResult::Cancel) {
                parserState_ = kGround;
            }
            continue;
        }
        if (parserState_ == kGround) {
            if (kPrintableInGround[byte]) {
                p = printRun(p, end);
                continue;
            }
        } else if (parserState_ == kEscape) {
            if (byte == '[') {
                openControlSequence(byte);
                ++p;
                continue;
            }
        } else if (parserState_ == kControlSequence) {
            p = collectSequence(p, end);
            if (p == end) break;
            if (*p >= 0x40 && *p <= 0x7E) {
                endControlSequence(*p++);
                continue;
            }
        }
        receiveByte(*p++);
        if (parserState_ >= kControlString) p = consumeControlString(p, end);
    }
}

void VtEmulator::vtReceiveByte(std::uint8_t byte) {
    feed(&byte, 1);
}

// Prints a run of ground-state characters a row piece at a time. Insert mode goes character
// by character through printChar.
const std::uint8_t* VtEmulator::printRun(const std::uint8_t* p, const std::uint8_t* end) {
    if (screen_.replaceMode == 0) {
        while (p != end && kPrintableInGround[*p])
            printChar(*p++);
        return p;
    }
    const bool lineDrawing = screen_.lineDrawing != 0;
    const auto reverse = static_cast<std::uint8_t>(screen_.reverseOn != 0);
    do {
        if (screen_.cursorCol >= kScreenColumns) wrapAtMargin();
        const int col = screen_.cursorCol;
        std::uint8_t* chars = charsAt(screen_.cursorRow, col);
        const auto room = static_cast<std::size_t>(kScreenColumns - col);
        const std::size_t limit = std::min(room, static_cast<std::size_t>(end - p));
        std::size_t n = 0;
        if (lineDrawing) {
            while (n < limit && kPrintableInGround[p[n]]) {
                chars[n] = kLineDrawingMap[p[n]];
                ++n;
            }
        } else {
            // Eight plain ASCII characters a step, then the rest one by one.
            std::uint64_t word;
            while (n + 8 <= limit && allPrintableAscii(word = load8(p + n))) {
                std::memcpy(chars + n, &word, sizeof word);
                n += 8;
            }
            while (n < limit && kPrintableInGround[p[n]]) {
                chars[n] = p[n];
                ++n;
            }
        }
        if (reverse != 0) {
            std::memset(reverseAt(screen_.cursorRow, col), 1, n);
            reverseAny_ = true;
        } else if (reverseAny_) {
            std::memset(reverseAt(screen_.cursorRow, col), 0, n);
        }
        screen_.cursorCol = col + static_cast<int>(n);
        p += n;
    } while (p != end && kPrintableInGround[*p]);
    return p;
}

// Passes over a control string's bytes, showing and running none of them, up to its end or the
// chunk's. ESC \\ ends it, and BEL an OSC; CAN and SUB cancel it; an ESC followed by anything
// else ends it and starts that escape sequence.
const std::uint8_t* VtEmulator::consumeControlString(const std::uint8_t* p,
                                                     const std::uint8_t* end) {
    for (; p != end; ++p) {
        const std::uint8_t byte = *p;
        if (parserState_ == kControlStringEscape) {
            parserState_ = byte == '\\' ? kGround : kEscape;
            // Any other byte goes on as the one after an ESC.
            return byte == '\\' ? p + 1 : p;
        }
        if (byte < 0x20) {
            if (byte == kEsc) {
                parserState_ = kControlStringEscape;
                continue;
            }
            if (byte == 0x18 || byte == 0x1A || (byte == kBel && stringEndsAtBel_)) {
                parserState_ = kGround;
                return p + 1;
            }
        }
        if (++controlStringLength_ > kMaxControlString) {
            parserState_ = kGround;
            return p;
        }
    }
    return p;
}

const std::uint8_t* VtEmulator::collectSequence(const std::uint8_t* p, const std::uint8_t* end) {
    std::size_t length = seqLength_;
    while (p != end && static_cast<std::uint8_t>(*p - 0x20) <= 0x1F) {
        if (length < kSeqCapacity) seqBuffer_[length++] = *p;
        ++p;
    }
    seqLength_ = static_cast<std::uint8_t>(length);
    return p;
}

void VtEmulator::receiveByte(std::uint8_t byte) {
    if (byte == 0x7F || byte == 0xFF) return;
    if (byte < 0x20) {
        // A control inside a sequence runs without ending it.
        const ControlResult result = controlChar(byte);
        if (result == ControlResult::Escape) parserState_ = kEscape;
        if (result == ControlResult::Cancel) parserState_ = kGround;
        return;
    }
    switch (parserState_) {
        case kGround:
            if (byte == kCsi8Bit) {
                openControlSequence(byte);
            } else {
                printChar(byte);
            }
            return;
        case kEscape:
            if (byte == '[') {
                openControlSequence(byte);
            } else if (!classic() && opensControlString(byte)) {
                parserState_ = kControlString;
                stringEndsAtBel_ = byte == ']';
                controlStringLength_ = 0;
            } else if (byte <= 0x2F) {
                seqBuffer_[0] = byte;
                seqLength_ = 1;
                seqIntroducer_ = byte;
                parserState_ = kEscapeIntermediate;
            } else if (byte <= 0x3F || (byte >= 0x60 && byte <= 0x7E)) {
                parserState_ = kGround;
                escapeFinal(byte);
            } else if (byte <= 0x5F) {
                parserState_ = kGround;
                c1Control(static_cast<std::uint8_t>(byte + 0x40));
            } else if (byte != 0xA0) {
                // 8-bit bytes after ESC act as their 7-bit selves without leaving the escape.
                const auto low = static_cast<std::uint8_t>(byte & 0x7F);
                if (low > 0x1F) {
                    printChar(low);
                } else if (controlChar(low) == ControlResult::Cancel) {
                    parserState_ = kGround;
                }
            }
            return;
        case kControlSequence:
            if (byte >= 0x40 && byte <= 0x7E) {
                endControlSequence(byte);
            } else {
                appendSeq(byte);
            }
            return;
        case kEscapeIntermediate:
            if (byte >= 0x40 && byte <= 0x7E) {
                parserState_ = kGround;
                intermediateFinal(byte);
            } else if (byte >= 0x30 && byte <= 0x3F) {
                parserState_ = kGround;
                privateFunction(byte);
            } else {
                appendSeq(byte);
            }
            return;
        default:
            parserState_ = kGround;
            return;
    }
}

void VtEmulator::appendSeq(std::uint8_t byte) {
    if (seqLength_ < kSeqCapacity) seqBuffer_[seqLength_++] = byte;
}

void VtEmulator::endControlSequence(std::uint8_t final) {
    parserState_ = kGround;
    // Most sequences have a length no host command has.
    const std::size_t textLength = std::size_t{seqLength_} + 2;  // '[' + text + final
    if (textLength < 64 && (commandLengths_ >> textLength & 1u) != 0 && matchHostCommand(final)) {
        return;
    }
    const CsiHandler handler = csiHandlers_[final & 0x7F];
    if (handler != nullptr) (this->*handler)(seqText());
}

void VtEmulator::loadHostCommands() {
    const std::array<const reader::Bytes<reader::kHostCommandSize>*, 4> fields{
        &settings_.enableCommand, &settings_.disableCommand, &settings_.goodFeedbackCommand,
        &settings_.errorFeedbackCommand};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto& field = *fields[i];
        // Compared from the second byte (the first is the ESC); an empty command never matches.
        hostCommands_[i].text = field.data() + 1;
        hostCommands_[i].length =
            field[0] == 0 ? 0 : reader::fixedLength(std::span(field).subspan(1));
    }
    triggerByEscCmd_ = settings_.triggerByEscCmd != 0;
    commandLengths_ = 0;
    for (const HostCommand& command : hostCommands_) {
        if (command.length != 0) commandLengths_ |= std::uint64_t{1} << command.length;
    }
}

bool VtEmulator::matchHostCommand(std::uint8_t final) {
    const std::size_t textLength = std::size_t{seqLength_} + 2;
    auto equals = [&](const HostCommand& command) {
        return command.length == textLength && command.text[0] == '[' &&
               command.text[textLength - 1] == final &&
               std::memcmp(command.text + 1, seqBuffer_.data(), seqLength_) == 0;
    };
    if (triggerByEscCmd_ && equals(hostCommands_[0])) {
        host_.setTriggerKey(1);
        return true;
    }
    if (triggerByEscCmd_ && equals(hostCommands_[1])) {
        host_.setTriggerKey(0);
        return true;
    }
    if (equals(hostCommands_[2])) {
        feedback(settings_.goodVibrator, settings_.goodBeeper);
        return true;
    }
    if (equals(hostCommands_[3])) {
        feedback(settings_.errorVibrator, settings_.errorBeeper);
        return true;
    }
    return false;
}

void VtEmulator::feedback(const LeInt32& vibrator, const LeInt32& beeper) {
    const std::int32_t steps = vibrator.get();
    if (steps > 0) {
        host_.vibrate(steps);
        loadHostCommands();  // the host may have let the settings change while it waited
    }
    host_.playSound(beeper.get());
}

void VtEmulator::escapeFinal(std::uint8_t byte) {
    switch (byte) {
        case '7':
            saveCursor();
            break;
        case '8':
            restoreCursor();
            break;
        case '=':
            screen_.keypadNumeric = 0;
            break;
        case '>':
            screen_.keypadNumeric = 1;
            break;
        default:
            break;
    }
}

void VtEmulator::c1Control(std::uint8_t code) {
    switch (code) {
        case 0x84:  // ESC D, index
            index();
            break;
        case 0x85:  // ESC E, next line
            screen_.cursorCol = 0;
            index();
            break;
        case 0x88:  // ESC H, tab set
            if (screen_.cursorCol < kScreenColumns) {
                screen_.tabStops[static_cast<std::size_t>(screen_.cursorRow) * kScreenColumns +
                                 static_cast<std::size_t>(screen_.cursorCol)] = 1;
            }
            break;
        case 0x8D:  // ESC M, reverse index
            dropPendingWrap();
            if (!classic() && screen_.cursorRow < topLine()) {
                // Above the region it only moves up, and stops on row 0.
                if (screen_.cursorRow > 0) --screen_.cursorRow;
            } else if (screen_.cursorRow > topLine()) {
                --screen_.cursorRow;
            } else {
                screen_.cursorRow = topLine();
                scrollDown();
            }
            break;
        case 0x9A: {  // ESC Z, identify
            static constexpr char kIdentify[] = {static_cast<char>(kEsc), '/', 'Z'};
            send(kIdentify, sizeof kIdentify);
            break;
        }
        default:
            break;
    }
}

void VtEmulator::intermediateFinal(std::uint8_t final) {
    // Character-set selection: only G0 'A' or 'B' selects the ordinary set.
    if (seqLength_ != 1) return;
    if (seqBuffer_[0] == '(') screen_.lineDrawing = (final == 'A' || final == 'B') ? 0 : 1;
    if (seqBuffer_[0] == ')') screen_.lineDrawing = 1;
}

void VtEmulator::privateFunction(std::uint8_t byte) {
    appendSeq(byte);
    if (seqLength_ == 2 && seqBuffer_[0] == '#' && seqBuffer_[1] == '8') {
        screen_.screenChars.fill('E');  // screen alignment; attributes and cursor stay
    }
}

// ---- Controls and characters ----

ControlResult VtEmulator::controlChar(std::uint8_t c) {
    switch (c) {
        case 5:  // ENQ
            send(kAnswerback, sizeof kAnswerback - 1);
            break;
        case 7:  // BEL
            host_.beep();
            break;
        case 8:  // BS; the classic rules also blank the cell it moves to
            if (classic()) {
                backOverCell();
            } else {
                screen_.cursorCol = std::max(std::min(screen_.cursorCol, kLastColumn) - 1, 0);
            }
            break;
        case 9: {  // HT
            int next = kLastColumn;
            for (int col = screen_.cursorCol + 1; col < kScreenColumns; ++col) {
                if (screen_.isTabStop(screen_.cursorRow, col)) {
                    next = col;
                    break;
                }
            }
            screen_.cursorCol = next;
            break;
        }
        case 10:
        case 11:
        case 12:
            lineFeed();
            break;
        case 13:
            screen_.cursorCol = 0;
            break;
        case 14:  // SO
            screen_.lineDrawing = 1;
            break;
        case 15:  // SI
            screen_.lineDrawing = 0;
            break;
        case 24:
        case 26:
            seqLength_ = 0;
            return ControlResult::Cancel;
        case 27:
            seqLength_ = 0;
            return ControlResult::Escape;
        default:
            break;
    }
    return ControlResult::None;
}

void VtEmulator::printChar(std::uint8_t c) {
    if (c < 32) return;
    if (screen_.lineDrawing) c = kLineDrawingMap[c];
    if (screen_.cursorCol >= kScreenColumns) wrapAtMargin();
    // The blank goes in before the attribute is set, so the new character carries reverseOn
    // and the one pushed right keeps its own.
    if (screen_.replaceMode == 0) insertBlanks(1);
    *reverseAt(screen_.cursorRow, screen_.cursorCol) =
        static_cast<std::uint8_t>(screen_.reverseOn != 0);
    if (screen_.reverseOn != 0) reverseAny_ = true;
    *charsAt(screen_.cursorRow, screen_.cursorCol) = c;
    ++screen_.cursorCol;
}

void VtEmulator::backOverCell() {
    const int col = std::max(std::min(screen_.cursorCol, kLastColumn) - 1, 0);
    screen_.cursorCol = col;
    *charsAt(screen_.cursorRow, col) = ' ';
}

void VtEmulator::setEmulation(VtEmulation emulation) {
    emulation_ = emulation;
    screen_.originMode = 0;
    if (parserState_ >= kControlString) parserState_ = kGround;
}

void VtEmulator::clearScreenChars() {
    screen_.screenChars.fill(0);
}

void VtEmulator::vtReset() {
    screen_.newLineModeOff = 1;
    screen_.cursorKeysNormal = 1;
    screen_.reverseOn = 0;
    screen_.cursorCol = screen_.cursorRow = 0;
    screen_.savedCol = screen_.savedRow = 0;
    screen_.savedOriginMode = 0;
    screen_.savedAutoWrap = 0;
    screen_.cursorSaved = 0;
    screen_.noRegion = 1;
    screen_.originMode = 0;
    screen_.replaceMode = 1;
    screen_.keypadNumeric = 1;
    screen_.regionTop = 1;
    screen_.regionBottom = kScreenRows;
    screen_.lineDrawing = 0;
    screen_.savedReverse = 0;
    screen_.autoWrap = 0;
    screen_.screenChars.fill(0);
    screen_.reverseBits.fill(0);
    reverseAny_ = false;
    screen_.tabStops.fill(0);
    for (std::size_t row = 0; row < kScreenRows; ++row) {
        for (std::size_t col = 7; col < kScreenColumns; col += 8) {
            screen_.tabStops[row * kScreenColumns + col] = 1;
        }
    }
}

// ---- Screen primitives ----

void VtEmulator::clearCells(int row, int fromCol, int toCol) {
    if (fromCol >= toCol) return;
    const auto count = static_cast<std::size_t>(toCol - fromCol);
    std::memset(charsAt(row, fromCol), 0, count);
    std::memset(reverseAt(row, fromCol), 0, count);
}

void VtEmulator::clearRows(int fromRow, int toRow) {
    if (fromRow >= toRow) return;
    const auto count = static_cast<std::size_t>(toRow - fromRow) * kScreenColumns;
    std::memset(charsAt(fromRow, 0), 0, count);
    if (reverseAny_) std::memset(reverseAt(fromRow, 0), 0, count);
    if (fromRow == 0 && toRow == kScreenRows) reverseAny_ = false;
}

void VtEmulator::moveRows(int toRow, int fromRow, int count) {
    if (count <= 0) return;
    const auto bytes = static_cast<std::size_t>(count) * kScreenColumns;
    std::memmove(charsAt(toRow, 0), charsAt(fromRow, 0), bytes);
    if (reverseAny_) std::memmove(reverseAt(toRow, 0), reverseAt(fromRow, 0), bytes);
}

void VtEmulator::scrollUp() {
    const int top = topLine();
    const int bottom = bottomLine();
    moveRows(top, top + 1, bottom - top);
    clearRows(bottom, bottom + 1);
}

void VtEmulator::scrollDown() {
    const int top = topLine();
    const int bottom = bottomLine();
    moveRows(top + 1, top, bottom - top);
    clearRows(top, top + 1);
}

void VtEmulator::index() {
    dropPendingWrap();
    if (screen_.cursorRow == bottomLine()) {
        scrollUp();
    } else if (screen_.cursorRow < kLastRow) {
        // Below the region the cursor goes down to the last row and stops there.
        ++screen_.cursorRow;
    }
}

void VtEmulator::lineFeed() {
    index();
    if (screen_.newLineModeOff == 0) screen_.cursorCol = 0;
}

void VtEmulator::wrapAtMargin() {
    if (screen_.autoWrap) {
        screen_.cursorCol = 0;
        index();
    } else {
        screen_.cursorCol = kLastColumn;  // the last column is overwritten
    }
}

void VtEmulator::insertBlanks(int count) {
    const int col = screen_.cursorCol;
    if (col >= kScreenColumns) return;
    const int n = std::min(count, kScreenColumns - col);
    const auto kept = static_cast<std::size_t>(kScreenColumns - col - n);
    std::uint8_t* chars = charsAt(screen_.cursorRow, col);
    std::uint8_t* reverse = reverseAt(screen_.cursorRow, col);
    std::memmove(chars + n, chars, kept);
    std::memmove(reverse + n, reverse, kept);
    std::memset(chars, ' ', static_cast<std::size_t>(n));
    std::memset(reverse, 0, static_cast<std::size_t>(n));
}

void VtEmulator::send(const char* text, std::size_t length) {
    host_.sendBytes(reinterpret_cast<const std::uint8_t*>(text), length);
}

void VtEmulator::saveCursor() {
    screen_.savedCol = screen_.cursorCol;
    screen_.savedRow = screen_.cursorRow;
    screen_.savedLineDrawing = screen_.lineDrawing;
    screen_.savedReverse = screen_.reverseOn;
    screen_.savedOriginMode = screen_.originMode;
    screen_.savedAutoWrap = screen_.autoWrap;
    screen_.cursorSaved = 1;
}

void VtEmulator::restoreCursor() {
    if (!classic()) {
        restoreCursorVt100();
        return;
    }
    screen_.cursorCol = screen_.savedCol;
    screen_.cursorRow = screen_.savedRow;
    screen_.lineDrawing = screen_.savedLineDrawing;
    screen_.reverseOn = screen_.savedReverse;
}

// Without a save since the connect: home, with the rendition, character set, origin mode and
// autowrap at their defaults. The pending wrap is not part of the save: a restore that moves the
// cursor drops it, one that leaves the cursor on its cell keeps it.
void VtEmulator::restoreCursorVt100() {
    if (!screen_.cursorSaved) {
        screen_.originMode = 0;
        screen_.autoWrap = 0;
        screen_.reverseOn = 0;
        screen_.lineDrawing = 0;
        screen_.cursorRow = screen_.cursorCol = 0;
        return;
    }
    screen_.originMode = screen_.savedOriginMode;
    screen_.autoWrap = screen_.savedAutoWrap;
    screen_.reverseOn = screen_.savedReverse;
    screen_.lineDrawing = screen_.savedLineDrawing;
    int row = screen_.savedRow;
    // The region may have moved since the save; in origin mode the cursor stays inside it.
    if (screen_.originMode) row = std::clamp(row, screen_.regionTop - 1, screen_.regionBottom - 1);
    const int col = std::min(screen_.savedCol, kLastColumn);
    if (row == screen_.cursorRow && col == std::min(screen_.cursorCol, kLastColumn)) return;
    screen_.cursorRow = row;
    screen_.cursorCol = col;
}

// ---- CsiFinalTable handlers ----

void VtEmulator::selectGraphicRendition(Text text) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ';') {
            if (value == 7) screen_.reverseOn = 1;
            if (value == 0) screen_.reverseOn = 0;
            value = 0;
        } else {
            value = addDigit(value, text[i]);
        }
    }
}

void VtEmulator::cursorPosition(Text text) {
    const auto [row, col] = leadingPieces<2>(text);
    int targetRow = boundedIndex(row, kLastRow);
    if (classic()) {
        if (!screen_.noRegion) targetRow = std::min(targetRow + screen_.regionTop - 1, kLastRow);
    } else if (screen_.originMode) {
        targetRow = std::min(targetRow + screen_.regionTop - 1, screen_.regionBottom - 1);
    }
    screen_.cursorRow = targetRow;
    screen_.cursorCol = boundedIndex(col, kLastColumn);
}

void VtEmulator::eraseInLine(Text text) {
    const int selector = text.empty() ? 0 : text.back() - '0';
    if (!classic()) {
        eraseInLineVt100(selector);
        return;
    }
    const int row = screen_.cursorRow;
    const int col = std::min(screen_.cursorCol, kScreenColumns);
    switch (selector) {
        case 0:
            clearCells(row, col, kScreenColumns);
            break;
        case 1:
            clearCells(row, 0, std::min(col + 1, kScreenColumns));
            screen_.cursorCol = 0;
            break;
        case 2:
            clearCells(row, 0, kScreenColumns);
            break;
        default:
            screen_.cursorCol = 0;
            break;
    }
}

void VtEmulator::eraseInDisplay(Text text) {
    const int selector = text.empty() ? 0 : text.back() - '0';
    if (!classic()) {
        eraseInDisplayVt100(selector);
        return;
    }
    const int row = screen_.cursorRow;
    const int col = std::min(screen_.cursorCol, kScreenColumns);
    switch (selector) {
        case 0:
            clearCells(row, col, kScreenColumns);
            clearRows(row + 1, kScreenRows);
            break;
        case 1:
            clearCells(row, 0, std::min(col + 1, kScreenColumns));
            clearRows(0, row);
            screen_.cursorCol = 0;
            break;
        case 2:
            clearRows(0, kScreenRows);
            break;
        default:
            screen_.cursorCol = 0;
            break;
    }
}

// Erasing leaves the cursor where it is; at the pending-wrap column it is on the last one.
void VtEmulator::eraseInLineVt100(int selector) {
    const int row = screen_.cursorRow;
    const int col = std::min(screen_.cursorCol, kLastColumn);
    if (selector == 0) clearCells(row, col, kScreenColumns);
    if (selector == 1) clearCells(row, 0, col + 1);
    if (selector == 2) clearCells(row, 0, kScreenColumns);
}

void VtEmulator::eraseInDisplayVt100(int selector) {
    const int row = screen_.cursorRow;
    const int col = std::min(screen_.cursorCol, kLastColumn);
    if (selector == 0) {
        clearCells(row, col, kScreenColumns);
        clearRows(row + 1, kScreenRows);
    } else if (selector == 1) {
        clearRows(0, row);
        clearCells(row, 0, col + 1);
    } else if (selector == 2) {
        clearRows(0, kScreenRows);
    }
}

// The classic rules keep the cursor inside a set region; a VT100 stops it at a margin only
// when it starts between the margins, so a cursor outside the region can still reach it.
void VtEmulator::cursorUp(Text text) {
    const int n = std::max(boundedCount(wholeNumber(text), kScreenRows), 1);
    int top = topLine();
    if (!classic() && screen_.cursorRow < top) top = 0;
    screen_.cursorRow = std::max(screen_.cursorRow - n, top);
    dropPendingWrap();
}

void VtEmulator::cursorDown(Text text) {
    const int n = std::max(boundedCount(wholeNumber(text), kScreenRows), 1);
    int bottom = bottomLine();
    if (!classic() && screen_.cursorRow > bottom) bottom = kLastRow;
    screen_.cursorRow = std::min(screen_.cursorRow + n, bottom);
    dropPendingWrap();
}

void VtEmulator::cursorForward(Text text) {
    const int n = std::max(boundedCount(wholeNumber(text), kScreenColumns), 1);
    screen_.cursorCol = std::min(screen_.cursorCol + n, kLastColumn);
}

void VtEmulator::cursorBackward(Text text) {
    const int n = std::max(boundedCount(wholeNumber(text), kScreenColumns), 1);
    dropPendingWrap();
    screen_.cursorCol = std::max(screen_.cursorCol - n, 0);
}

// The count of CNL, CPL, DL, DCH and ECH: a VT100 takes 0 as 1, the classic rules as none.
int VtEmulator::editCount(Text text, int limit) const {
    const int n = boundedCount(wholeNumber(text), limit);
    return classic() ? n : std::max(n, 1);
}

// A VT100 inserts and deletes lines only inside the region; the classic rules also above it.
void VtEmulator::insertLines(Text text) {
    const int scrollBottom = screen_.noRegion ? kScreenRows : screen_.regionBottom;
    const int row = screen_.cursorRow;
    if (row >= scrollBottom || (!classic() && row < topLine())) return;
    const int left = scrollBottom - row;
    const int n = std::min(std::max(boundedCount(wholeNumber(text), kScreenRows), 1), left);
    moveRows(row + n, row, left - n);
    clearRows(row, row + n);
}

void VtEmulator::deleteLines(Text text) {
    const int scrollBottom = screen_.noRegion ? kScreenRows : screen_.regionBottom;
    const int row = screen_.cursorRow;
    if (row >= scrollBottom || (!classic() && row < topLine())) return;
    const int left = scrollBottom - row;
    const int n = std::min(editCount(text, kScreenRows), left);
    if (n == 0) return;
    moveRows(row, row + n, left - n);
    clearRows(scrollBottom - n, scrollBottom);
}

void VtEmulator::repeatCharacter(Text text) {
    // Nothing to repeat at column 0, and no cell to repeat into past the last column.
    const int col = screen_.cursorCol;
    if (col <= 0 || col >= kScreenColumns) return;
    const int n = std::min(std::max(boundedCount(wholeNumber(text), kScreenColumns), 1),
                           kScreenColumns - col);
    std::uint8_t* chars = charsAt(screen_.cursorRow, col);
    std::uint8_t* reverse = reverseAt(screen_.cursorRow, col);
    const std::uint8_t repeated = chars[-1];
    const std::uint8_t attribute = reverse[0];
    std::memset(chars, repeated, static_cast<std::size_t>(n));
    std::memset(reverse, attribute, static_cast<std::size_t>(n));
    if (attribute != 0) reverseAny_ = true;
    screen_.cursorCol = col + n;
}

void VtEmulator::cursorColumn(Text text) {
    screen_.cursorCol = boundedIndex(static_cast<std::int32_t>(wholeNumber(text)), kLastColumn);
}

void VtEmulator::cursorRowAbsolute(Text text) {
    int row = boundedIndex(static_cast<std::int32_t>(wholeNumber(text)), kLastRow);
    if (screen_.originMode) row = std::min(row + screen_.regionTop - 1, screen_.regionBottom - 1);
    screen_.cursorRow = row;
    dropPendingWrap();
}

void VtEmulator::deleteCharacters(Text text) {
    const int col = screen_.cursorCol;
    if (col >= kScreenColumns) return;
    const int n = std::min(editCount(text, kScreenColumns), kScreenColumns - col);
    if (n == 0) return;
    const auto kept = static_cast<std::size_t>(kScreenColumns - col - n);
    std::uint8_t* chars = charsAt(screen_.cursorRow, col);
    std::uint8_t* reverse = reverseAt(screen_.cursorRow, col);
    std::memmove(chars, chars + n, kept);
    std::memmove(reverse, reverse + n, kept);
    clearCells(screen_.cursorRow, kScreenColumns - n, kScreenColumns);
}

void VtEmulator::eraseCharacters(Text text) {
    int col = screen_.cursorCol;
    if (col >= kScreenColumns && !classic()) col = kLastColumn;
    if (col >= kScreenColumns) return;
    const int n = std::min(editCount(text, kScreenColumns), kScreenColumns - col);
    std::memset(charsAt(screen_.cursorRow, col), 0, static_cast<std::size_t>(n));
}

void VtEmulator::insertCharacters(Text text) {
    insertBlanks(std::max(boundedCount(wholeNumber(text), kScreenColumns), 1));
}

void VtEmulator::setMode(Text text) {
    changeMode(text, true);
}

void VtEmulator::resetMode(Text text) {
    changeMode(text, false);
}

void VtEmulator::changeMode(Text text, bool set) {
    const bool isPrivate = !text.empty() && text[0] == '?';
    if (isPrivate) text = text.subspan(1);
    if (classic()) {
        changeOneMode(isPrivate, wholeNumber(text), set);
        return;
    }
    // Each parameter as if sent alone; an empty one names no mode.
    while (true) {
        const auto semicolon = std::find(text.begin(), text.end(), ';');
        const Text piece = text.first(static_cast<std::size_t>(semicolon - text.begin()));
        if (!piece.empty()) changeOneMode(isPrivate, wholeNumber(piece), set);
        if (semicolon == text.end()) break;
        text = text.subspan(piece.size() + 1);
    }
}

void VtEmulator::changeOneMode(bool isPrivate, std::uint32_t mode, bool set) {
    if (isPrivate) {
        switch (mode) {
            case 1:
                screen_.cursorKeysNormal = set ? 0 : 1;
                break;
            case 3:
                if (!set) {
                    screen_.screenChars.fill(0);
                    screen_.reverseBits.fill(0);
                    reverseAny_ = false;
                    // In origin mode a VT100's home is the region's top.
                    if (classic()) {
                        screen_.cursorRow = screen_.cursorCol = 0;
                    } else {
                        moveToHome();
                    }
                }
                break;
            case 6:
                if (!classic()) {
                    screen_.originMode = set ? 1 : 0;
                    moveToHome();
                } else if (set) {
                    screen_.noRegion = 0;
                    screen_.cursorRow = screen_.regionTop - 1;
                    screen_.cursorCol = 0;
                } else {
                    screen_.noRegion = 1;
                    screen_.cursorRow = 0;
                    screen_.cursorCol = 0;
                }
                break;
            case 7:
                screen_.autoWrap = set ? 1 : 0;
                break;
            case 25:
                host_.showCaret(set);
                break;
            default:
                break;
        }
        return;
    }
    switch (mode) {
        case 4:
            screen_.replaceMode = set ? 0 : 1;
            break;
        case 12:
            settings_.localEcho = set ? 1 : 0;
            break;
        case 20:
            screen_.newLineModeOff = set ? 0 : 1;
            break;
        default:
            break;
    }
}

void VtEmulator::deviceStatus(Text text) {
    if (!text.empty() && text[0] == '?') return;  // private requests get no answer
    const std::uint32_t request = wholeNumber(text);
    if (request == 5) {
        static constexpr char kReady[] = "\x1b[0n";
        send(kReady, sizeof kReady - 1);
    } else if (request == 6) {
        int row = screen_.cursorRow;
        int col = screen_.cursorCol;
        if (!classic()) {
            // A VT100 counts rows from the region's top in origin mode, and its cursor is on
            // the last column while a wrap is pending.
            if (screen_.originMode) row -= screen_.regionTop - 1;
            col = std::min(col, kLastColumn);
        }
        char reply[32];
        const int length = std::snprintf(reply, sizeof reply, "\x1b[%d;%dR", row + 1, col + 1);
        send(reply, static_cast<std::size_t>(length));
    }
}

void VtEmulator::mediaCopy(Text) {}

void VtEmulator::setScrollRegion(Text text) {
    const auto [top, bottom] = leadingPieces<2>(text);
    if (!classic()) {
        setScrollRegionVt100(top, bottom);
        return;
    }
    const bool given = top != 0 || bottom != 0;
    if (given && (top >= bottom || top <= 0)) return;
    if (bottom > kScreenRows) return;  // the screen has 24 rows
    if (!given) {
        // The whole screen; the region is kept valid for a later origin-mode switch.
        screen_.noRegion = 1;
        screen_.regionTop = 1;
        screen_.regionBottom = kScreenRows;
        screen_.cursorRow = 0;
    } else {
        screen_.noRegion = 0;
        screen_.regionTop = top;
        screen_.regionBottom = bottom;
        screen_.cursorRow = top;  // the row below the region's first row
    }
    screen_.cursorCol = 0;
}

// 0 or a missing number is the screen's edge; the cursor goes home, and the region is kept valid
// for a later origin-mode switch.
void VtEmulator::setScrollRegionVt100(std::int32_t top, std::int32_t bottom) {
    if (top == 0) top = 1;
    if (bottom == 0) bottom = kScreenRows;
    if (top < 0 || top >= bottom || bottom > kScreenRows) return;
    screen_.regionTop = top;
    screen_.regionBottom = bottom;
    screen_.noRegion = top == 1 && bottom == kScreenRows ? 1 : 0;
    moveToHome();
}

// The region's first row in origin mode, else the screen's.
void VtEmulator::moveToHome() {
    screen_.cursorRow = screen_.originMode ? screen_.regionTop - 1 : 0;
    screen_.cursorCol = 0;
}

void VtEmulator::deviceAttributes(Text text) {
    const std::uint32_t value = wholeNumber(text);
    if (value == 0) {
        static constexpr char kPrimary[] = "\x1b[?1;0c";
        send(kPrimary, sizeof kPrimary - 1);
    } else if (value == 14 || value == 140) {
        static constexpr char kSecondary[] = "\x1b[>1;20;1c";
        send(kSecondary, sizeof kSecondary - 1);
    } else if (value == 13 || value == 130) {
        static constexpr char kTertiary[] = {'\x1b', '[',    '!',    '|',   '\x01',
                                             '\x01', '\x02', '\x05', '\x9c'};
        send(kTertiary, sizeof kTertiary);
    }
}

// In origin mode the cursor stays inside the region.
void VtEmulator::nextLine(Text text) {
    const int n = editCount(text, kScreenRows);
    const int bottom = screen_.originMode ? screen_.regionBottom - 1 : kLastRow;
    screen_.cursorCol = 0;
    screen_.cursorRow = std::min(screen_.cursorRow + n, bottom);
}

void VtEmulator::previousLine(Text text) {
    const int n = editCount(text, kScreenRows);
    const int top = screen_.originMode ? screen_.regionTop - 1 : 0;
    screen_.cursorCol = 0;
    screen_.cursorRow = std::max(screen_.cursorRow - n, top);
}

void VtEmulator::saveCursorSequence(Text) {
    saveCursor();
}

void VtEmulator::restoreCursorSequence(Text) {
    restoreCursor();
}

void VtEmulator::clearTabStop(Text text) {
    const std::uint32_t value = wholeNumber(text);
    if (value == 0 && screen_.cursorCol < kScreenColumns) {
        screen_.tabStops[static_cast<std::size_t>(screen_.cursorRow) * kScreenColumns +
                         static_cast<std::size_t>(screen_.cursorCol)] = 0;
    } else if (value == 3) {
        screen_.tabStops.fill(0);
    }
}

void VtEmulator::terminalParameters(Text text) {
    char reply[] = "\x1b[3;5;2;64;64;1;0x";
    reply[2] = static_cast<char>(static_cast<std::uint8_t>('2' + (wholeNumber(text) & 0xFF)));
    send(reply, sizeof reply - 1);
}

void VtEmulator::deviceCommand(Text text) {
    if (text.empty()) return;
    const int command = text[0] - '0';
    // The numbers start at the third character; a negative one drops the command.
    std::int64_t first = 0;
    if (text.size() > 2) {
        Text rest = text.subspan(2);
        for (int taken = 0; taken < kMaxDeviceNumbers; ++taken) {
            const auto semicolon = std::find(rest.begin(), rest.end(), ';');
            const auto pieceLength = static_cast<std::size_t>(semicolon - rest.begin());
            const std::int64_t value = signedDecimal(rest.first(pieceLength));
            if (value < 0) return;
            if (taken == 0) first = value;
            if (semicolon == rest.end()) break;
            rest = rest.subspan(pieceLength + 1);
        }
    }
    switch (command) {
        case 1:
            host_.playSound(saturatedInt(first));
            break;
        case 2: {
            const bool rfid = settings_.rfidReaderOn != 0;
            const std::uint32_t wanted = first != 0 ? (rfid ? 0x27u : 0x07u) : (rfid ? 0x20u : 0u);
            host_.setActiveDevice(host_.readerType() & wanted);
            if (settings_.feedbackByCmd) feedback(settings_.goodVibrator, settings_.goodBeeper);
            break;
        }
        case 4:
            if (first != 0) {
                host_.vibrate(saturatedInt(first));
                loadHostCommands();
            }
            break;
        default:  // 3 is accepted and does nothing, like every other number
            break;
    }
}

}  // namespace qn::vt
