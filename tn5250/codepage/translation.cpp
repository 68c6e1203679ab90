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

// Local pair to host pair for one table, looked up by the local pair itself (0 where no host
// pair gives it; no host pair is 0). Where several host pairs share a local pair the one met
// first in the table (the lowest host pair) is kept, so a lookup gives what a first-match scan
// of the table would. Built on first use, for the languages a program meets.
using LocalToHost = std::vector<std::uint16_t>;

LocalToHost buildLocalToHost(std::span<const DbcsEntry> table) {
    LocalToHost map(0x10000, 0);
    for (const DbcsEntry& e : table) {
        std::uint16_t& host = map[pairValue(e.local1, e.local2)];
        if (host == 0) host = pairValue(e.host1, e.host2);
    }
    return map;
}

template <std::uint8_t Language>
const LocalToHost& localToHostOf() {
    static const LocalToHost map = buildLocalToHost(dbcsTable(Language));
    return map;
}

const LocalToHost& localToHost(std::uint8_t language) {
    switch (language) {
        case 1:
            return localToHostOf<1>();
        case 2:
            return localToHostOf<2>();
        case 3:
            return localToHostOf<3>();
        default:
            return localToHostOf<4>();
    }
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

const std::uint16_t* localToHostPairs(std::uint8_t language) {
    return isDbcsLanguage(language) ? localToHost(language).data() : nullptr;
}

bool localToHostPair(std::uint8_t language, BytePair& pair) {
    if (!isDbcsLanguage(language)) return false;
    const std::uint16_t host = localToHost(language)[pairValue(pair[0], pair[1])];
    if (host == 0) return false;
    pair = {static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
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
