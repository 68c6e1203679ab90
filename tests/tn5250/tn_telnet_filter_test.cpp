// The 5250 telnet layer: every negotiation answer byte for byte, the data path into the record
// assembler, and the same outcome however the bytes are cut into receives.

#include "tn5250/telnet/tn_telnet_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tn5250/tn_test_support.h"

namespace qn::tn {
namespace {

using test::Bytes;
using test::join;
using test::record;
using test::sba;
using test::wtd;

constexpr std::uint8_t IAC = 0xFF, SB = 0xFA, SE = 0xF0, WILL = 0xFB, WONT = 0xFC, DO = 0xFD,
                       DONT = 0xFE;

Bytes text(std::string_view s) {
    return {s.begin(), s.end()};
}

struct Setup {
    std::uint8_t language = 0;
    std::uint8_t useDeviceName = 1;
    std::string deviceName = "HANDHELD01";
    std::string registryName;
};

// A terminal behind its telnet layer; answers and replies land in one recording host.
struct Telnet {
    explicit Telnet(const Setup& setup) : terminal(setup.language) {
        terminal.session->useDeviceName = setup.useDeviceName;
        reader::storeText(terminal.session->deviceName, setup.deviceName);
        platform::MemoryRegistry registry(
            "[HKEY_LOCAL_MACHINE\\Ident]\nName=" + setup.registryName + "\n");
        filter.setOwnDeviceName(handheldName(registry));
    }
    test::Terminal terminal;
    TnTelnetFilter filter{*terminal.session, terminal.host, terminal.stream};
};

struct NegotiationCase {
    const char* name;
    Setup setup;
    Bytes input;
    std::vector<Bytes> answers;
};

// The environment reply's fixed start: IAC SB NEW-ENVIRON IS, USERVAR "IBMRSEED" VAR,
// USERVAR "DEVNAME" VALUE.
Bytes environmentStart() {
    return join(
        {{IAC, SB, 39, 0x00, 0x03}, text("IBMRSEED"), {0x00, 0x03}, text("DEVNAME"), {0x01}});
}
Bytes userVariable(std::string_view name, std::string_view value) {
    return join({{0x03}, text(name), {0x01}, text(value)});
}

const std::vector<NegotiationCase>& negotiationCases() {
    static const std::vector<NegotiationCase> cases{
        {"DO TERMINAL-TYPE", {}, {IAC, DO, 24}, {{IAC, WILL, 24}}},
        {"WILL TERMINAL-TYPE", {}, {IAC, WILL, 24}, {{IAC, DONT, 24}}},
        {"WONT and DONT TERMINAL-TYPE", {}, {IAC, WONT, 24, IAC, DONT, 24}, {}},
        {"terminal type, language 0",
         {},
         {IAC, SB, 24, 0x01, IAC, SE},
         {join({{IAC, SB, 24, 0x00}, text("IBM-3179-2"), {IAC, SE}})}},
        {"terminal type, language 2",
         {.language = 2},
         {IAC, SB, 24, 0x01, IAC, SE},
         {join({{IAC, SB, 24, 0x00}, text("IBM-5555-B01"), {IAC, SE}})}},
        {"terminal type, language 5",
         {.language = 5},
         {IAC, SB, 24, 0x01, IAC, SE},
         {join({{IAC, SB, 24, 0x00}, text("IBM-3179-2"), {IAC, SE}})}},
        {"terminal type IS is not asked", {}, {IAC, SB, 24, 0x00, IAC, SE}, {}},
        {"environment, language 0: 35 bytes",
         {},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(), text("HANDHELD01"), {IAC, SE}})}},
        {"environment, language 4: 73 bytes",
         {.language = 4},
         {IAC, SB, 39, 0x01, 0x00, 0x03, IAC, SE},
         {join({environmentStart(),
                text("HANDHELD01"),
                userVariable("KBDTYPE", "JKB"),
                userVariable("CODEPAGE", "930"),
                userVariable("CHARSET", "1172"),
                {IAC, SE}})}},
        {"environment, language 1",
         {.language = 1},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(),
                text("HANDHELD01"),
                userVariable("CODEPAGE", "937"),
                userVariable("CHARSET", "1175"),
                {IAC, SE}})}},
        {"environment, language 2",
         {.language = 2},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(),
                text("HANDHELD01"),
                userVariable("CODEPAGE", "935"),
                userVariable("CHARSET", "1174"),
                {IAC, SE}})}},
        {"environment, language 3",
         {.language = 3},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(),
                text("HANDHELD01"),
                userVariable("CODEPAGE", "933"),
                userVariable("CHARSET", "1173"),
                {IAC, SE}})}},
        {"environment, language 6",
         {.language = 6},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(), text("HANDHELD01"), {IAC, SE}})}},
        {"environment without SEND", {}, {IAC, SB, 39, 0x00, IAC, SE}, {}},
        {"environment, the handheld's own name cut to 20",
         {.useDeviceName = 0, .registryName = "Warehouse-Handheld-Number-7"},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(), text("Warehouse-Handheld-N"), {IAC, SE}})}},
        {"environment, a device name filling its field",
         {.deviceName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(), text("ABCDEFGHIJKLMNOPQRST"), {IAC, SE}})}},
        {"environment, an empty device name",
         {.deviceName = ""},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(), {IAC, SE}})}},
        {"environment, 0xFF in a name goes doubled",
         {.deviceName = "A\xFF"},
         {IAC, SB, 39, 0x01, IAC, SE},
         {join({environmentStart(), {'A', 0xFF, 0xFF}, {IAC, SE}})}},
        {"DO NAWS",
         {},
         {IAC, DO, 31},
         {{IAC, WILL, 31}, {IAC, SB, 31, 0x00, 0x50, 0x00, 0x18, IAC, SE}}},
        {"WILL NAWS, WONT and DONT NAWS",
         {},
         {IAC, WILL, 31, IAC, WONT, 31, IAC, DONT, 31},
         {{IAC, DONT, 31}}},
        {"an unlisted option",
         {},
         {IAC, DO, 6, IAC, WILL, 6, IAC, WONT, 6, IAC, DONT, 6},
         {{IAC, WONT, 6}, {IAC, DONT, 6}}},
        {"BINARY",
         {},
         {IAC, DO, 0, IAC, WILL, 0, IAC, WONT, 0, IAC, DONT, 0},
         {{IAC, WILL, 0}, {IAC, DO, 0}}},
        {"END-OF-RECORD",
         {},
         {IAC, WILL, 25, IAC, WONT, 25, IAC, DO, 25, IAC, DONT, 25},
         {{IAC, DO, 25}, {IAC, DONT, 25}, {IAC, WILL, 25}, {IAC, WONT, 25}}},
        {"ECHO",
         {},
         {IAC, WONT, 1, IAC, WILL, 1, IAC, WONT, 1, IAC, WONT, 1, IAC, DO, 1, IAC, DONT, 1},
         {{IAC, DO, 1}, {IAC, DONT, 1}, {IAC, WONT, 1}, {IAC, WONT, 1}}},
        {"SUPPRESS-GO-AHEAD",
         {},
         {IAC, DO,  3,    IAC, WILL, 3,    IAC, DO,  3,    IAC, DONT,
          3,   IAC, WONT, 3,   IAC,  WONT, 3,   IAC, DONT, 3},
         {{IAC, DO, 3},
          {IAC, DO, 3},
          {IAC, WILL, 3},
          {IAC, DO, 1},
          {IAC, DONT, 3},
          {IAC, DONT, 3},
          {IAC, WONT, 3}}},
        {"commands without answer",
         {},
         {IAC, 0xF1, IAC, 0xF6, IAC, 0xF9, IAC, 0xEF, IAC, 0x20},
         {}},
        {"a sub-negotiation of an option without handler",
         {},
         {IAC, SB, 31, 0x00, 0x50, IAC, SE, IAC, SB, 6, 0x01, IAC, SE},
         {}},
        {"an over-long sub-negotiation is cut, not overrun",
         {},
         join({{IAC, SB, 24, 0x01}, Bytes(300, 'x'), {IAC, SE}}),
         {join({{IAC, SB, 24, 0x00}, text("IBM-3179-2"), {IAC, SE}})}},
    };
    return cases;
}

// The bytes fed whole, byte by byte and in cuts of three.
std::vector<std::vector<Bytes>> cuttings(const Bytes& input) {
    std::vector<Bytes> bytewise, threes;
    for (std::size_t i = 0; i < input.size(); ++i)
        bytewise.push_back({input[i]});
    for (std::size_t i = 0; i < input.size(); i += 3)
        threes.emplace_back(input.begin() + i, input.begin() + std::min(i + 3, input.size()));
    return {{input}, bytewise, threes};
}

TEST(TnTelnetFilter, NegotiationAnswers) {
    for (const auto& c : negotiationCases()) {
        for (const auto& chunks : cuttings(c.input)) {
            Telnet t(c.setup);
            for (const Bytes& chunk : chunks)
                t.filter.receive(chunk);
            EXPECT_EQ(t.terminal.host.sends, c.answers)
                << c.name << " in " << chunks.size() << " receives";
            EXPECT_EQ(t.filter.state(), TnTelnetFilter::kData) << c.name;
        }
    }
}

TEST(TnTelnetFilter, EnvironmentAnswerLengths) {
    const std::pair<std::uint8_t, std::size_t> cases[] = {{0, 35}, {4, 73}, {1, 61}, {5, 35}};
    for (auto [language, length] : cases) {
        Telnet t({.language = language});
        t.filter.receive(Bytes{IAC, SB, 39, 0x01, IAC, SE});
        ASSERT_EQ(t.terminal.host.sends.size(), 1u);
        EXPECT_EQ(t.terminal.host.sends[0].size(), length) << int(language);
    }
}

TEST(TnTelnetFilter, TerminalTypeToggleFlips) {
    Telnet t({});
    const Bytes ask{IAC, SB, 24, 0x01, IAC, SE};
    EXPECT_EQ(t.filter.ttypeToggle(), 0);
    t.filter.receive(ask);
    EXPECT_EQ(t.filter.ttypeToggle(), 1);
    t.filter.receive(ask);
    EXPECT_EQ(t.filter.ttypeToggle(), 0);
}

TEST(TnTelnetFilter, OptionFlagsFollowTheHost) {
    Telnet t({});
    t.filter.receive(Bytes{IAC, WILL, 25, IAC, DO, 25});
    EXPECT_TRUE(t.filter.eorWill());
    EXPECT_TRUE(t.filter.eorDo());
    t.filter.receive(Bytes{IAC, WONT, 25});
    EXPECT_FALSE(t.filter.eorWill());
    t.filter.receive(Bytes{IAC, WILL, 3});
    EXPECT_TRUE(t.filter.sgaAgreed());
    EXPECT_TRUE(t.filter.echoAgreed());
}

// Host records with telnet around them: what reaches the screen.
struct DataCase {
    const char* name;
    Bytes input;
    std::string row0;  // columns 0..3 of row 0, nulls as '.'
};

TEST(TnTelnetFilter, RecordBytesReachTheAssembler) {
    // Transparent data holding 0xFF: on the wire the byte is doubled.
    const Bytes withFf = join({{0x00, 0x16, 0x12, 0xA0, 0, 0, 4, 0, 0, 0},
                               wtd(0, 0x48),
                               sba(1, 1),
                               {0x10, 0x00, 0x03, IAC, IAC, 0xC1}});
    const DataCase cases[] = {
        {"IAC IAC is one 0xFF of the record", withFf,
         "\xFF"
         "A.."},
        {"IAC EOR between records changes nothing",
         join({record(join({wtd(), sba(1, 1), {0xC1}})),
               {IAC, 0xEF},
               record(join({wtd(), sba(1, 2), {0xC2}})),
               {IAC, 0xEF}}),
         "AB.."},
        {"negotiation between records",
         join({{IAC, DO, 24},
               record(join({wtd(), sba(1, 3), {0xC3}})),
               {IAC, SB, 24, 1, IAC, SE},
               record(join({wtd(), sba(1, 4), {0xC4}}))}),
         "..CD"},
        {"a negotiation inside a record is not record data",
         join({{0x00, 0x12, 0x12, 0xA0, 0, 0, 4, 0, 0, 0, 0x04, 0x11, 0x00},
               {IAC, DO, 31},
               {0x08, 0x11, 0x01, 0x02, 0xC1}}),
         ".A.."},
    };
    for (const auto& c : cases) {
        for (const auto& chunks : cuttings(c.input)) {
            Telnet t({});
            for (const Bytes& chunk : chunks)
                t.filter.receive(chunk);
            std::string row;
            for (int col = 0; col < 4; ++col) {
                const std::uint8_t ch = t.terminal.screen->charAt(0, col);
                row += ch == 0 ? '.' : char(ch);
            }
            EXPECT_EQ(row, c.row0) << c.name << " in " << chunks.size() << " receives";
            EXPECT_EQ(t.terminal.stream.phase(), TnDataStream::kHeader) << c.name;
        }
    }
}

TEST(HandheldName, NarrowedAndCut) {
    const std::pair<const char*, std::string> cases[] = {
        {"[HKEY_LOCAL_MACHINE\\Ident]\nName=KX2-0042\n", "KX2-0042"},
        {"[HKEY_LOCAL_MACHINE\\Ident]\nName=Caf\xC3\xA9\n", "Caf\xE9"},  // é, low byte
        {"[HKEY_LOCAL_MACHINE\\Ident]\nName=123456789012345678901234\n", "12345678901234567890"},
        {"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n", ""},
        {"", ""},
    };
    for (const auto& [ini, name] : cases) {
        platform::MemoryRegistry registry(ini);
        EXPECT_EQ(handheldName(registry), name) << ini;
    }
}

}  // namespace
}  // namespace qn::tn
