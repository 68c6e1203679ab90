#include "tn5250/datastream/field_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qn::tn {

namespace {

// Cells as double-byte text reads them: unchanged, or with a null as a blank, looked up where
// they are read.
constexpr std::array<std::uint8_t, 256> cellMap(bool nullAsBlank) {
    std::array<std::uint8_t, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    if (nullAsBlank) map[0] = 0x20;
    return map;
}
constexpr std::array<std::uint8_t, 256> kSame = cellMap(false);
constexpr std::array<std::uint8_t, 256> kNullAsBlank = cellMap(true);

// The positions of a field's data inside the planes; none when it lies wholly outside.
struct FieldSpan {
    int start = 0;
    std::size_t cells = 0;
};

FieldSpan spanOf(const FieldEntry& field) {
    const int start = std::max(field.start(), 0);
    const int end = std::min(TnScreen::fieldEnd(field, true), kPlanePositions - 1);
    if (end < start) return {};
    return {start, static_cast<std::size_t>(end - start + 1)};
}

// The cells up to the last that is neither null nor blank, eight at a time from the end: each
// byte of a word is null or blank exactly when nothing but the blank's bit is set in it.
std::size_t withoutTrailingBlanks(const std::uint8_t* c, std::size_t n) {
    for (std::uint64_t word = 0; n >= 8; n -= 8) {
        std::memcpy(&word, c + n - 8, 8);
        if ((word & ~0x2020202020202020ull) != 0) break;
    }
    while (n > 0 && (c[n - 1] == 0 || c[n - 1] == 0x20))
        --n;
    return n;
}

// Whether any cell is 0x80 or above, eight at a time: text without one holds no pair.
bool anyHighCell(const std::uint8_t* c, std::size_t n) {
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (std::uint64_t word = 0; i + 8 <= n; i += 8) {
        std::memcpy(&word, c + i, 8);
        any |= word;
    }
    for (; i < n; ++i)
        any |= c[i];
    return (any & 0x8080808080808080ull) != 0;
}

// Cells to the host's single bytes, one table lookup each: a null sent as a blank takes the
// blank's byte in a copy of the table.
void translateSingleBytes(std::uint8_t language, bool nullsAsBlanks, const std::uint8_t* c,
                          std::size_t n, std::uint8_t* to) {
    const std::uint8_t* table = localToSbcsTable(language).data();
    SbcsTable blanked;
    if (nullsAsBlanks) {
        std::memcpy(blanked.data(), table, blanked.size());
        blanked[0] = table[0x20];
        table = blanked.data();
    }
    // Eight cells are read and written as one word: a byte keeps its place in the word either
    // way round, whatever the machine's byte order.
    std::size_t i = 0;
    for (std::uint64_t word = 0; i + 8 <= n; i += 8) {
        std::memcpy(&word, c + i, 8);
        std::uint64_t host = 0;
        for (int shift = 0; shift < 64; shift += 8)
            host |= std::uint64_t{table[(word >> shift) & 0xFF]} << shift;
        std::memcpy(to + i, &host, 8);
    }
    for (; i < n; ++i)
        to[i] = table[c[i]];
}

// The host's code for the pair a lead byte and a trail make, 0 for none: the map first, the
// character test only on a hit. Callers test the lead first, so that a single byte costs no
// look at the cell after it.
std::uint16_t hostPairOf(std::uint8_t language, const std::uint16_t* hostPairs, std::uint8_t lead,
                         std::uint8_t trail) {
    const std::uint16_t host = hostPairs[std::size_t(lead) << 8 | trail];
    return host != 0 && isLocalDbcsPair(language, lead, trail) ? host : 0;
}

void encodeDoubleByte(std::uint8_t language, bool nullsAsBlanks, const std::uint8_t* c,
                      std::size_t n, std::vector<std::uint8_t>& out) {
    const std::size_t before = out.size();
    // At most five bytes for three cells (SO, a pair, SI, a single byte): room for twice the
    // cells, written in place and cut to what was written.
    out.resize(before + 2 * n + 1);
    std::uint8_t* const first = out.data() + before;
    std::uint8_t* to = first;
    const std::uint8_t* const single = localToSbcsTable(language).data();
    const std::uint8_t* const local = (nullsAsBlanks ? kNullAsBlank : kSame).data();
    const std::uint16_t* const hostPairs = localToHostPairs(language);
    // Each field starts and ends in single-byte mode, whatever state received text left.
    bool doubleByte = false;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t cell = local[c[i]];
        const std::uint16_t host = i + 1 < n && cell >= kLowestLocalDbcsLead
                                       ? hostPairOf(language, hostPairs, cell, local[c[i + 1]])
                                       : 0;
        if (host != 0) {
            if (!doubleByte) *to++ = kShiftOut;
            doubleByte = true;
            *to++ = static_cast<std::uint8_t>(host >> 8);
            *to++ = static_cast<std::uint8_t>(host);
            ++i;
            continue;
        }
        if (doubleByte) *to++ = kShiftIn;
        doubleByte = false;
        *to++ = single[cell];
    }
    if (doubleByte) *to++ = kShiftIn;
    out.resize(before + static_cast<std::size_t>(to - first));
}

// '-' in a signed-numeric field's sign position puts 0xD in the zone of its last byte sent.
void applySign(const TnScreen& screen, const FieldEntry& field, FieldDataOptions options,
               std::size_t before, std::vector<std::uint8_t>& out) {
    if (!options.applySign || !ffw::isSignedNumeric(field.ffw1) || out.size() <= before) return;
    if (screen.charAtPosition(TnScreen::fieldEnd(field, false)) == '-') {
        out.back() = static_cast<std::uint8_t>(0xD0 | (out.back() & 0x0F));
    }
}

}  // namespace

void appendFieldData(const TnScreen& screen, std::uint8_t language, const FieldEntry& field,
                     FieldDataOptions options, std::vector<std::uint8_t>& out) {
    const FieldSpan span = spanOf(field);
    if (span.cells == 0) return;
    // The field's cells side by side, however its rows lie in the planes.
    std::array<std::uint8_t, kPlanePositions> cells;
    screen.copyPositions(span.start, static_cast<int>(span.cells), cells.data());
    const std::uint8_t* const c = cells.data();
    const std::size_t n = options.dropTrailing ? withoutTrailingBlanks(c, span.cells) : span.cells;
    const std::size_t before = out.size();
    if (!isDbcsLanguage(language) || !anyHighCell(c, n)) {
        out.resize(before + n);
        translateSingleBytes(language, options.nullsAsBlanks, c, n, out.data() + before);
    } else {
        encodeDoubleByte(language, options.nullsAsBlanks, c, n, out);
    }
    applySign(screen, field, options, before, out);
}

FieldDataWriter::FieldDataWriter(const TnScreen& screen, std::uint8_t language,
                                 FieldDataOptions options)
    : screen_(screen), language_(language), options_(options) {}

void FieldDataWriter::append(const FieldEntry& field, std::vector<std::uint8_t>& out) {
    const FieldSpan span = spanOf(field);
    if (!planesReady_ && cellsSent_ < kPlanePositions) {
        cellsSent_ += span.cells;
        appendFieldData(screen_, language_, field, options_, out);
        return;
    }
    if (span.cells == 0) return;
    if (!planesReady_) preparePlanes();
    const auto start = static_cast<std::size_t>(span.start);
    const std::size_t n = options_.dropTrailing
                              ? withoutTrailingBlanks(local_.data() + start, span.cells)
                              : span.cells;
    const std::size_t before = out.size();
    if (isDbcsLanguage(language_)) {
        appendDoubleByte(start, n, out);
    } else {
        out.insert(out.end(), host_.begin() + static_cast<long>(start),
                   host_.begin() + static_cast<long>(start + n));
    }
    applySign(screen_, field, options_, before, out);
}

void FieldDataWriter::preparePlanes() {
    screen_.copyPositions(0, kPlanePositions, local_.data());
    translateSingleBytes(language_, options_.nullsAsBlanks, local_.data(), local_.size(),
                         host_.data());
    planesReady_ = true;
    if (!isDbcsLanguage(language_)) return;
    // encodeDoubleByte's test, made once per position: where a field's walk reaches a marked
    // position with its trail inside the field, the pair is sent.
    const std::uint8_t* const local = (options_.nullsAsBlanks ? kNullAsBlank : kSame).data();
    const std::uint16_t* const hostPairs = localToHostPairs(language_);
    const std::uint8_t* const cells = local_.data();
    std::uint16_t* const pairs = pairs_.data();
    std::uint16_t* const nextPair = nextPair_.data();
    std::uint16_t next = kPlanePositions;
    nextPair[kPlanePositions] = next;
    pairs[kPlanePositions - 1] = 0;
    nextPair[kPlanePositions - 1] = next;
    for (std::size_t at = kPlanePositions - 1; at-- > 0;) {
        const std::uint8_t lead = local[cells[at]];
        const std::uint16_t host =
            lead >= kLowestLocalDbcsLead
                ? hostPairOf(language_, hostPairs, lead, local[cells[at + 1]])
                : 0;
        pairs[at] = host;
        if (host != 0) next = static_cast<std::uint16_t>(at);
        nextPair[at] = next;
    }
}

void FieldDataWriter::appendDoubleByte(std::size_t start, std::size_t n,
                                       std::vector<std::uint8_t>& out) const {
    const std::size_t before = out.size();
    out.resize(before + 2 * n + 1);  // as encodeDoubleByte's bound
    std::uint8_t* const first = out.data() + before;
    std::uint8_t* to = first;
    const std::size_t end = start + n;
    const std::uint8_t* const host = host_.data();
    const std::uint16_t* const pairs = pairs_.data();
    const std::uint16_t* const nextPair = nextPair_.data();
    bool doubleByte = false;
    for (std::size_t at = start; at < end;) {
        std::size_t pair = nextPair[at];
        if (pair + 1 >= end) pair = end;  // a pair needs its trail inside the field
        if (pair > at) {
            if (doubleByte) *to++ = kShiftIn;
            doubleByte = false;
            std::memcpy(to, host + at, pair - at);
            to += pair - at;
            at = pair;
            continue;
        }
        if (!doubleByte) *to++ = kShiftOut;
        doubleByte = true;
        *to++ = static_cast<std::uint8_t>(pairs[at] >> 8);
        *to++ = static_cast<std::uint8_t>(pairs[at]);
        at += 2;
    }
    if (doubleByte) *to++ = kShiftIn;
    out.resize(before + static_cast<std::size_t>(to - first));
}

}  // namespace qn::tn
