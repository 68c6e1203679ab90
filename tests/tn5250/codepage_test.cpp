// Single-byte tables, the double-byte tables' shape and content, the local pair test, both
// pair searches and the decoding of received text.

#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <vector>

#include "tn5250/codepage/translation.h"

namespace qn::tn {
namespace {

struct SbcsSample {
    std::uint8_t language;
    std::uint8_t ebcdic;
    std::uint8_t local;
};

TEST(SbcsTranslation, SamplesOfEachTable) {
    const SbcsSample cases[] = {
        {0, 0xC1, 'A'},  {0, 0x40, ' '},  {0, 0x4A, 0x5B}, {0, 0xDF, 0x00},  // 0xFF entry
        {0, 0x25, 0x0A}, {0, 0x0E, 0x20}, {3, 0x5B, '$'},  {1, 0xF0, '0'},
        {4, 0x81, 0xB1}, {4, 0xE0, '$'},  {4, 0xC1, 'A'},  {4, 0x5B, 0x5C},
        {5, 0x41, 0xC1}, {5, 0xFF, 0x00}, {5, 0xCE, 0x91}, {6, 0x44, '@'},
        {6, 0x7C, 0xE0}, {6, 0xC0, 0xE9}, {7, 0xC1, 'A'},  {255, 0x4A, 0x5B},  // unknown: US
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sbcsToLocal(c.language, c.ebcdic), c.local)
            << "language " << int(c.language) << " byte " << std::hex << int(c.ebcdic);
    }
}

TEST(SbcsTranslation, ControlRowsAreSharedByAllTables) {
    for (std::uint8_t language = 0; language <= 6; ++language) {
        for (int b = 0; b < 0x40; ++b)
            EXPECT_EQ(sbcsTable(language)[b], kSbcsUs[b]) << int(language) << " " << b;
    }
}

TEST(SbcsTranslation, LocalToSbcsIsTheLowestCodeFrom0x40) {
    EXPECT_EQ(localToSbcs(0, 'A'), 0xC1);
    EXPECT_EQ(localToSbcs(0, 0x01), 0xFF);  // only a control code gives it
    EXPECT_EQ(localToSbcs(0, ' '), 0x40);   // 0x40 and 0x41 both give a blank
    EXPECT_EQ(localToSbcs(6, ' '), 0x40);
    EXPECT_EQ(localToSbcs(4, ' '), 0x40);
    // Against a plain search of every table for every byte.
    for (std::uint8_t language = 0; language <= 6; ++language) {
        const SbcsTable& table = sbcsTable(language);
        for (int local = 0; local < 256; ++local) {
            std::uint8_t expected = 0xFF;
            for (int code = 0x40; code <= 0xFE; ++code) {
                if (table[code] == local) {
                    expected = static_cast<std::uint8_t>(code);
                    break;
                }
            }
            ASSERT_EQ(localToSbcs(language, static_cast<std::uint8_t>(local)), expected)
                << "language " << int(language) << " local " << local;
        }
    }
}

struct PairTest {
    std::uint8_t language;
    std::uint8_t lead;
    std::uint8_t trail;
    bool pair;
};

TEST(LocalDbcsPair, RangesByLanguage) {
    const PairTest cases[] = {
        {1, 0x81, 0x40, true},  {1, 0xFE, 0x7E, true},  {1, 0xA4, 0x7F, false},
        {1, 0xA4, 0xA0, false}, {1, 0x80, 0x40, false}, {1, 0xA4, 0xFE, true},
        {2, 0xB0, 0xA1, true},  {2, 0xF7, 0xFE, true},  {2, 0xF8, 0xF4, false},
        {2, 0xFE, 0xF3, true},  {2, 0xA0, 0xA1, false}, {2, 0xB0, 0xA0, false},
        {3, 0xB0, 0xF5, false}, {3, 0xB0, 0xF3, true},  {3, 0xA1, 0xA1, true},
        {3, 0x81, 0x41, false}, {4, 0x81, 0x40, true},  {4, 0x9F, 0xFE, true},
        {4, 0xA0, 0x40, false}, {4, 0xE0, 0x40, true},  {4, 0xFC, 0x3F, false},
        {4, 0xFD, 0x40, false}, {0, 0xA1, 0xA1, false}, {5, 0x81, 0x40, false},
        {6, 0xB0, 0xA1, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isLocalDbcsPair(c.language, c.lead, c.trail), c.pair)
            << int(c.language) << " " << std::hex << int(c.lead) << " " << int(c.trail);
    }
    // The field encoder takes every cell below the lowest lead as single without asking.
    for (int language = 0; language < 8; ++language) {
        for (int lead = 0; lead < kLowestLocalDbcsLead; ++lead) {
            for (int trail = 0; trail < 256; ++trail) {
                ASSERT_FALSE(isLocalDbcsPair(std::uint8_t(language), std::uint8_t(lead),
                                             std::uint8_t(trail)))
                    << language << " " << std::hex << lead << " " << trail;
            }
        }
    }
}

struct TableShape {
    std::uint8_t language;
    std::uint16_t hostLow, hostHigh, localLow, localHigh;
    std::uint16_t first[3][2];
    std::size_t minimumEntries;
    // Local user-defined ranges (lead low/high, trail low/high) that must stay empty.
    std::vector<std::array<std::uint8_t, 4>> userDefined;
};

std::uint16_t hostOf(const DbcsEntry& e) {
    return static_cast<std::uint16_t>(e.host1 << 8 | e.host2);
}
std::uint16_t localOf(const DbcsEntry& e) {
    return static_cast<std::uint16_t>(e.local1 << 8 | e.local2);
}

const std::vector<TableShape>& shapes() {
    static const std::vector<TableShape> all{
        {1,
         0x4040,
         0x91C7,
         0xA140,
         0xF9D5,
         {{0x4040, 0xA140}, {0x4141, 0xA35C}, {0x4142, 0xA35D}},
         13000,
         {{0xC6, 0xC6, 0xA1, 0xFE},
          {0xC7, 0xC8, 0x40, 0xFE},
          {0xFA, 0xFE, 0x40, 0xFE},
          {0x81, 0xA0, 0x40, 0xFE}}},
        {2,
         0x4040,
         0x6C9F,
         0x8CE0,
         0xF7FE,
         {{0x4040, 0xA1A1}, {0x4141, 0xA6C1}, {0x4142, 0xA6C2}},
         7400,
         {{0xAA, 0xAF, 0xA1, 0xFE}, {0xF8, 0xFE, 0xA1, 0xFE}, {0xA1, 0xA7, 0x40, 0xA0}}},
        {3,
         0x4040,
         0xD3BD,
         0x8141,
         0xFDFE,
         {{0x4040, 0xA1A1}, {0x4141, 0xA1A2}, {0x4142, 0xA1A3}},
         17000,
         {{0xC9, 0xC9, 0xA1, 0xFE}, {0xFE, 0xFE, 0xA1, 0xFE}}},
        {4,
         0x4040,
         0x6885,
         0x8140,
         0xFC4B,
         {{0x4040, 0x8140}, {0x4141, 0x83BF}, {0x4142, 0x83C0}},
         7200,
         {{0xF0, 0xF9, 0x40, 0xFC}}},
    };
    return all;
}

TEST(DbcsTables, KeepTheirShape) {
    for (const TableShape& shape : shapes()) {
        SCOPED_TRACE(int(shape.language));
        const auto table = dbcsTable(shape.language);
        ASSERT_GE(table.size(), shape.minimumEntries);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(hostOf(table[i]), shape.first[i][0]);
            EXPECT_EQ(localOf(table[i]), shape.first[i][1]);
        }
        for (std::size_t i = 0; i < table.size(); ++i) {
            const DbcsEntry& e = table[i];
            if (i > 0) {
                ASSERT_LT(hostOf(table[i - 1]), hostOf(e)) << "sorted, no host pair twice";
            }
            ASSERT_GE(hostOf(e), shape.hostLow);
            ASSERT_LE(hostOf(e), shape.hostHigh);
            ASSERT_GE(localOf(e), shape.localLow);
            ASSERT_LE(localOf(e), shape.localHigh);
            for (const auto& area : shape.userDefined) {
                ASSERT_FALSE(e.local1 >= area[0] && e.local1 <= area[1] && e.local2 >= area[2] &&
                             e.local2 <= area[3])
                    << std::hex << localOf(e) << " lies in a user-defined area";
            }
        }
    }
    for (std::uint8_t language : {0, 5, 6, 7})
        EXPECT_TRUE(dbcsTable(language).empty());
}

// The code point of one character in the given code page, through the C library.
std::optional<std::uint32_t> decode(const char* codePage, std::vector<std::uint8_t> bytes) {
    iconv_t cd = iconv_open("UCS-4BE", codePage);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::uint8_t out[16];
    char* in = reinterpret_cast<char*>(bytes.data());
    char* o = reinterpret_cast<char*>(out);
    std::size_t inLeft = bytes.size(), outLeft = sizeof out;
    const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1) &&
                    sizeof out - outLeft == 4;
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return std::uint32_t(out[0]) << 24 | std::uint32_t(out[1]) << 16 | std::uint32_t(out[2]) << 8 |
           out[3];
}

// Every entry pairs the same character on both sides.
TEST(DbcsTables, BothSidesOfEveryEntryAreTheSameCharacter) {
    const struct {
        std::uint8_t language;
        const char* host;
        const char* local;
    } sides[] = {{1, "IBM937", "CP950"},
                 {2, "IBM935", "CP936"},
                 {3, "IBM1364", "CP949"},
                 {4, "IBM930", "IBM943"}};
    for (const auto& side : sides) {
        SCOPED_TRACE(side.host);
        for (const DbcsEntry& e : dbcsTable(side.language)) {
            const auto host = decode(side.host, {kShiftOut, e.host1, e.host2, kShiftIn});
            const auto local = decode(side.local, {e.local1, e.local2});
            ASSERT_TRUE(host && local) << std::hex << hostOf(e);
            ASSERT_EQ(*host, *local) << std::hex << hostOf(e) << " " << localOf(e);
        }
    }
}

TEST(DbcsPairs, HostToLocalFindsEveryEntryAndNothingElse) {
    for (std::uint8_t language = 1; language <= 4; ++language) {
        const auto table = dbcsTable(language);
        std::vector<bool> present(0x10000);
        for (const DbcsEntry& e : table) {
            present[hostOf(e)] = true;
            BytePair pair{e.host1, e.host2};
            ASSERT_TRUE(hostToLocalPair(language, pair));
            ASSERT_EQ(pair, (BytePair{e.local1, e.local2}));
        }
        for (std::uint32_t host = 0; host < 0x10000; ++host) {
            if (present[host]) continue;
            BytePair pair{std::uint8_t(host >> 8), std::uint8_t(host)};
            ASSERT_FALSE(hostToLocalPair(language, pair)) << std::hex << host;
            ASSERT_EQ(pair, (BytePair{std::uint8_t(host >> 8), std::uint8_t(host)}));
        }
    }
    BytePair pair{0x40, 0x40};
    EXPECT_FALSE(hostToLocalPair(0, pair));
}

TEST(DbcsPairs, LocalToHostAnswersAsAFirstMatchScan) {
    for (std::uint8_t language = 0; language <= 6; ++language) {
        // What a scan from the first entry finds for each local pair: the earliest entry.
        std::vector<int> firstHost(0x10000, -1);
        for (const DbcsEntry& e : dbcsTable(language)) {
            if (firstHost[localOf(e)] < 0) firstHost[localOf(e)] = hostOf(e);
        }
        for (std::uint32_t local = 0; local < 0x10000; ++local) {
            BytePair pair{std::uint8_t(local >> 8), std::uint8_t(local)};
            const bool found = localToHostPair(language, pair);
            ASSERT_EQ(found, firstHost[local] >= 0) << int(language) << " " << std::hex << local;
            if (found) {
                ASSERT_EQ(pair, (BytePair{std::uint8_t(firstHost[local] >> 8),
                                          std::uint8_t(firstHost[local])}));
            } else {
                ASSERT_EQ(pair, (BytePair{std::uint8_t(local >> 8), std::uint8_t(local)}));
            }
        }
    }
}

// One received string and what each byte gave.
struct ReceiveCase {
    const char* name;
    std::uint8_t language;
    std::vector<std::uint8_t> bytes;
    std::vector<Received> expected;
};

bool same(const Received& a, const Received& b) {
    return a.kind == b.kind && a.byte == b.byte && (a.kind != Received::Double || a.pair == b.pair);
}

TEST(ReceiveByte, DecodesShiftsPairsAndAttributes) {
    using R = Received;
    const ReceiveCase cases[] = {
        {"double-byte space between shifts",
         1,
         {0x0E, 0x40, 0x40, 0x0F},
         {{R::Single, 0x20}, {R::Pending}, {R::Double, 0, {0xA1, 0x40}}, {R::Single, 0x20}}},
        {"unknown host pair",
         4,
         {0x0E, 0x41, 0x40, 0x0F},
         {{R::Single, 0x20}, {R::Pending}, {R::Double, 0, {'X', 'X'}}, {R::Single, 0x20}}},
        {"attribute bytes only outside double-byte mode",
         4,
         {0x22, 0x0E, 0x41, 0x41},
         {{R::Attribute, 0x22}, {R::Single, 0x20}, {R::Pending}, {R::Double, 0, {0x83, 0xBF}}}},
        {"in double-byte mode 0x20-0x3F are halves",
         1,
         {0x0E, 0x22, 0x30},
         {{R::Single, 0x20}, {R::Pending}, {R::Double, 0, {'X', 'X'}}}},
        {"shift-in drops a held half",
         1,
         {0x0E, 0x4C, 0x0F, 0xC1},
         {{R::Single, 0x20}, {R::Pending}, {R::Single, 0x20}, {R::Single, 'A'}}},
        {"table entry 0xFF gives 0",
         0,
         {0xDF, 0x3F, 0x40},
         {{R::Single, 0}, {R::Attribute, 0x3F}, {R::Single, 0x20}}},
        {"shift-out in a single-byte language still shifts",
         0,
         {0x0E, 0x40, 0x40},
         {{R::Single, 0x20}, {R::Pending}, {R::Double, 0, {'X', 'X'}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiveState state;
        ASSERT_EQ(c.bytes.size(), c.expected.size());
        for (std::size_t i = 0; i < c.bytes.size(); ++i) {
            const Received r = receiveByte(c.language, state, c.bytes[i]);
            EXPECT_TRUE(same(r, c.expected[i]))
                << "byte " << i << ": kind " << int(r.kind) << " byte " << int(r.byte);
        }
    }
}

}  // namespace
}  // namespace qn::tn
