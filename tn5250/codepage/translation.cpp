#include "tn5250/codepage/translation.h"

#include <algorithm>
#include <vector>

namespace qn::tn {

namespace {

constexpr std::uint16_t pairValue(std::uint8_t first, std::uint8_t second) {
    return static_cast<std::uint16_t>(first << 8 | second);
}

// Local byte to the lowest EBCDIC code from 0x40 up that gives it, 0xFF for none.
constexpr SbcsTable reverseOf(const SbcsTable& table) {
    SbcsTable reverse{};
    reverse.fill(kNoEbcdicCode);
    for (int code = 0xFE; code >= 0x40; --code) {
        reverse[table[static_cast<std::size_t>(code)]] = static_cast<std::uint8_t>(code);
    }
    return reverse;
}

const SbcsTable& reverseTable(std::uint8_t language) {
    static const SbcsTable us = reverseOf(kSbcsUs);
    static const SbcsTable ka = reverseOf(kSbcsKa);
    static const SbcsTable gr = reverseOf(kSbcsGr);
    static const SbcsTable fr = reverseOf(kSbcsFr);
    switch (language) {
        case 4:
            return ka;
        case 5:
            return gr;
        case 6:
            return fr;
        default:
            return us;
    }
}

// Local pair to host pair for one table, sorted by local pair. Where several host pairs share
// a local pair the one met first in the table (the lowest host pair) is kept, so a lookup gives
// what a first-match scan of the table would.
struct LocalIndexEntry {
    std::uint16_t local;
    std::uint16_t host;
};

std::vector<LocalIndexEntry> buildLocalIndex(std::span<const DbcsEntry> table) {
    std::vector<LocalIndexEntry> index;
    index.reserve(table.size());
    for (const DbcsEntry& e : table) {
        index.push_back({pairValue(e.local1, e.local2), pairValue(e.host1, e.host2)});
    }
    std::stable_sort(index.begin(), index.end(),
                     [](const auto& a, const auto& b) { return a.local < b.local; });
    index.erase(std::unique(index.begin(), index.end(),
                            [](const auto& a, const auto& b) { return a.local == b.local; }),
                index.end());
    return index;
}

const std::vector<LocalIndexEntry>& localIndex(std::uint8_t language) {
    static const std::array<std::vector<LocalIndexEntry>, 4> indexes{
        buildLocalIndex(dbcsTable(1)), buildLocalIndex(dbcsTable(2)), buildLocalIndex(dbcsTable(3)),
        buildLocalIndex(dbcsTable(4))};
    return indexes[static_cast<std::size_t>(language - 1)];
}

}  // namespace

const SbcsTable& sbcsTable(std::uint8_t language) {
    switch (language) {
        case 4:
            return kSbcsKa;
        case 5:
            return kSbcsGr;
        case 6:
            return kSbcsFr;
        default:
            return kSbcsUs;
    }
}

bool isDbcsLanguage(std::uint8_t language) {
    return language >= 1 && language <= 4;
}

std::uint8_t sbcsToLocal(std::uint8_t language, std::uint8_t byte) {
    const std::uint8_t local = sbcsTable(language)[byte];
    return local == 0xFF ? 0 : local;
}

std::uint8_t localToSbcs(std::uint8_t language, std::uint8_t byte) {
    return reverseTable(language)[byte];
}

const SbcsTable& localToSbcsTable(std::uint8_t language) {
    return reverseTable(language);
}

bool isLocalDbcsPair(std::uint8_t language, std::uint8_t lead, std::uint8_t trail) {
    switch (language) {
        case 1:
            return lead >= 0x81 && lead <= 0xFE &&
                   ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE));
        case 2:
            return (lead >= 0xA1 && lead <= 0xF7 && trail >= 0xA1 && trail <= 0xFE) ||
                   (lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xF3);
        case 3:
            return lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xF3;
        case 4:
            return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) &&
                   trail >= 0x40 && trail <= 0xFE;
        default:
            return false;
    }
}

bool hostToLocalPair(std::uint8_t language, BytePair& pair) {
    const auto table = dbcsTable(language);
    const std::uint16_t wanted = pairValue(pair[0], pair[1]);
    std::ptrdiff_t lo = 0;
    std::ptrdiff_t hi = static_cast<std::ptrdiff_t>(table.size()) - 1;
    while (lo <= hi) {
        const std::ptrdiff_t mid = lo + (hi - lo) / 2;
        const DbcsEntry& e = table[static_cast<std::size_t>(mid)];
        const std::uint16_t host = pairValue(e.host1, e.host2);
        if (host == wanted) {
            pair = {e.local1, e.local2};
            return true;
        }
        if (host < wanted) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    return false;
}

bool localToHostPair(std::uint8_t language, BytePair& pair) {
    if (!isDbcsLanguage(language)) return false;
    const auto& index = localIndex(language);
    const std::uint16_t wanted = pairValue(pair[0], pair[1]);
    const auto it =
        std::lower_bound(index.begin(), index.end(), wanted,
                         [](const LocalIndexEntry& e, std::uint16_t v) { return e.local < v; });
    if (it == index.end() || it->local != wanted) return false;
    pair = {static_cast<std::uint8_t>(it->host >> 8), static_cast<std::uint8_t>(it->host)};
    return true;
}

Received receiveByte(std::uint8_t language, ReceiveState& state, std::uint8_t byte) {
    if (byte == kShiftOut || byte == kShiftIn) {
        state.shiftOut = byte == kShiftOut;
        // A half character left open by the shift is dropped.
        state.leadHeld = false;
        return {Received::Single, 0x20, {}};
    }
    if (state.shiftOut) {
        if (!state.leadHeld) {
            state.heldLead = byte;
            state.leadHeld = true;
            return {Received::Pending, 0, {}};
        }
        state.leadHeld = false;
        BytePair pair{state.heldLead, byte};
        if (!hostToLocalPair(language, pair)) pair = {'X', 'X'};
        state.dbcsPair = pair;
        return {Received::Double, 0, pair};
    }
    if (byte >= 0x20 && byte <= 0x3F) return {Received::Attribute, byte, {}};
    return {Received::Single, sbcsToLocal(language, byte), {}};
}

}  // namespace qn::tn
