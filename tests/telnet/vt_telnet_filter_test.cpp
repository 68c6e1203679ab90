#include "vt/transport/vt_telnet_filter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qn::vt {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

class RecordingSender final : public telnet::ByteSender {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sends.emplace_back(bytes.begin(), bytes.end());
    }
    std::vector<Bytes> sends;
};

class RecordingSink final : public VtDataSink {
  public:
    void data(std::span<const std::uint8_t> bytes) override {
        received.insert(received.end(), bytes.begin(), bytes.end());
    }
    Bytes received;
};

struct FilterCase {
    const char* name;
    Bytes input;
    std::vector<Bytes> sends;
    Bytes data;
    bool sgaStart = true;  // sgaAgreed before the input (an emulator reset sets it)
    bool sgaAfter = true;
    bool localEcho = true;  // the localEcho setting
    bool echoActiveAfter = false;
    const char* terminalType = "";
};

class VtTelnetFilterTest : public ::testing::TestWithParam<FilterCase> {};

void runCase(const FilterCase& c, std::size_t split) {
    VtSession session;
    session.settings.localEcho = c.localEcho ? 1 : 0;
    reader::storeText(session.settings.terminalType, c.terminalType);
    session.localEchoActive = 1;
    RecordingSender out;
    RecordingSink sink;
    VtTelnetFilter filter(session, out, sink);
    filter.setSgaAgreed(c.sgaStart);
    // Whole, or split in two receives at every position: a command may straddle them.
    std::span<const std::uint8_t> all(c.input);
    filter.receive(all.first(split));
    filter.receive(all.subspan(split));
    EXPECT_EQ(out.sends, c.sends) << "split at " << split;
    EXPECT_EQ(sink.received, c.data) << "split at " << split;
    EXPECT_EQ(filter.sgaAgreed(), c.sgaAfter) << "split at " << split;
    EXPECT_EQ(session.localEchoActive != 0, c.echoActiveAfter) << "split at " << split;
}

TEST_P(VtTelnetFilterTest, AnswersAndPassesData) {
    const FilterCase& c = GetParam();
    for (std::size_t split = 0; split <= c.input.size(); ++split)
        runCase(c, split);
}

const Bytes kTtypeVt100{IAC, SB, 24, 0, 'v', 't', '1', '0', '0', IAC, SE};

INSTANTIATE_TEST_SUITE_P(
    Options, VtTelnetFilterTest,
    ::testing::Values(
        FilterCase{"PlainData", {'a', 'b', 0, 13}, {}, {'a', 'b', 0, 13}, true, true, true, true},
        FilterCase{"BinaryWill", {IAC, WILL, 0}, {{IAC, DO, 0}}, {}},
        FilterCase{"BinaryDo", {IAC, DO, 0}, {{IAC, WILL, 0}}, {}},
        FilterCase{"BinaryRefusalsSilent", {IAC, WONT, 0, IAC, DONT, 0}, {}, {}},
        FilterCase{"EchoWill", {IAC, WILL, 1}, {{IAC, DO, 1}}, {}},
        FilterCase{"EchoWontWithLocalEcho", {IAC, WONT, 1}, {{IAC, DONT, 1}}, {}},
        FilterCase{"EchoWontWithoutLocalEcho", {IAC, WONT, 1}, {}, {}, true, true, false},
        FilterCase{
            "EchoDoAndDont", {IAC, DO, 1, IAC, DONT, 1}, {{IAC, WONT, 1}, {IAC, WONT, 1}}, {}},
        FilterCase{"SgaWill",
                   {IAC, WILL, 3},
                   {{IAC, DO, 3}, {IAC, WILL, 3}, {IAC, DO, 1}},
                   {},
                   false,
                   true},
        FilterCase{"SgaWillTwice",
                   {IAC, WILL, 3, IAC, WILL, 3},
                   {{IAC, DO, 3},
                    {IAC, WILL, 3},
                    {IAC, DO, 1},
                    {IAC, DO, 3},
                    {IAC, WILL, 3},
                    {IAC, DO, 1}},
                   {}},
        FilterCase{"SgaDoAfterConnectIsSilent", {IAC, DO, 3}, {}, {}},
        FilterCase{"SgaDoWhenNotAgreed", {IAC, DO, 3}, {{IAC, DO, 3}}, {}, false, false},
        FilterCase{"SgaWont", {IAC, WONT, 3}, {{IAC, DONT, 3}, {IAC, WONT, 3}}, {}, true, false},
        FilterCase{"SgaWontNotAgreed", {IAC, WONT, 3}, {}, {}, false, false},
        FilterCase{"SgaDont", {IAC, DONT, 3}, {{IAC, DONT, 3}}, {}},
        FilterCase{"SgaDontNotAgreed", {IAC, DONT, 3}, {}, {}, false, false},
        FilterCase{"TerminalTypeDo", {IAC, DO, 24}, {{IAC, WILL, 24}}, {}},
        FilterCase{"TerminalTypeWill", {IAC, WILL, 24}, {{IAC, DONT, 24}}, {}},
        FilterCase{"TerminalTypeSendDefault", {IAC, SB, 24, 1, IAC, SE}, {kTtypeVt100}, {}},
        FilterCase{"TerminalTypeSendCustom",
                   {IAC, SB, 24, 1, IAC, SE, 'x'},
                   {{IAC, SB, 24, 0, 'a', 'n', 's', 'i', IAC, SE}},
                   {'x'},
                   true,
                   true,
                   true,
                   false,
                   "ansi"},
        FilterCase{"TerminalTypeIgnoresOtherBytes", {IAC, SB, 24, 0, 7, IAC, SE}, {}, {}},
        // One answer per request, only when the payload starts with SEND.
        FilterCase{"TerminalTypeOneAnswerPerRequest",
                   {IAC, SB, 24, 1, 1, 1, IAC, SE, IAC, SB, 24, 1, IAC, SE},
                   {kTtypeVt100, kTtypeVt100},
                   {}},
        FilterCase{"TerminalTypeIsNotAnswered", {IAC, SB, 24, 0, 1, 1, IAC, SE}, {}, {}},
        FilterCase{"TerminalTypeEscapedIacFirst", {IAC, SB, 24, IAC, IAC, 1, IAC, SE}, {}, {}},
        FilterCase{"EorAgree",
                   {IAC, WILL, 25, IAC, WONT, 25, IAC, DO, 25, IAC, DONT, 25},
                   {{IAC, DO, 25}, {IAC, DONT, 25}, {IAC, WILL, 25}, {IAC, WONT, 25}},
                   {}},
        FilterCase{"NawsDoInTwoSends",
                   {IAC, DO, 31},
                   {{IAC, WILL, 31}, {IAC, SB, 31, 0, 80, 0, 24, IAC, SE}},
                   {}},
        FilterCase{"NawsWill", {IAC, WILL, 31}, {{IAC, DONT, 31}}, {}},
        FilterCase{"UnlistedDo", {IAC, DO, 39}, {{IAC, WONT, 39}}, {}},
        FilterCase{"UnlistedWill", {IAC, WILL, 39}, {{IAC, DONT, 39}}, {}},
        FilterCase{"UnlistedRefusalsSilent", {IAC, WONT, 39, IAC, DONT, 39}, {}, {}},
        FilterCase{"EscapedIac", {'a', IAC, IAC, 'b'}, {}, {'a', 255, 'b'}},
        FilterCase{"SubNegotiationPayloadReachesData",
                   {IAC, SB, 31, 0, 80, IAC, SE, 'z'},
                   {},
                   {0, 80, 'z'}},
        FilterCase{"CommandsSwallowed",
                   {'a', IAC, 241, IAC, 242, IAC, 243, IAC, 244, IAC,
                    245, IAC, 246, IAC, 247, IAC, 248, IAC, 249, 'b'},
                   {},
                   {'a', 'b'}},
        FilterCase{"BelowSeDropsBoth", {'a', IAC, 65, 'b', IAC, 239, 'c'}, {}, {'a', 'b', 'c'}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VtTelnetFilter, TerminalTypeFillsAnEmptySetting) {
    VtSession session;
    RecordingSender out;
    RecordingSink sink;
    VtTelnetFilter filter(session, out, sink);
    const Bytes request{IAC, SB, 24, 1, IAC, SE};
    filter.receive(request);
    EXPECT_EQ(reader::fixedText(session.settings.terminalType), "vt100");
}

TEST(VtTelnetFilter, FullWidthTerminalTypeIsSentWhole) {
    VtSession session;
    std::string thirty(30, 'T');
    reader::storeText(session.settings.terminalType, thirty);
    RecordingSender out;
    RecordingSink sink;
    VtTelnetFilter filter(session, out, sink);
    filter.receive(Bytes{IAC, SB, 24, 1, IAC, SE});
    ASSERT_EQ(out.sends.size(), 1u);
    EXPECT_EQ(out.sends[0].size(), 36u);
    EXPECT_EQ(out.sends[0][34], IAC);
}

TEST(VtTelnetFilter, AnEndlessTerminalTypeRequestGetsOneAnswer) {
    VtSession session;
    RecordingSender out;
    RecordingSink sink;
    VtTelnetFilter filter(session, out, sink);
    filter.receive(Bytes{IAC, SB, 24});
    const Bytes sends(1 << 20, 1);
    for (int i = 0; i < 4; ++i)
        filter.receive(sends);
    filter.receive(Bytes{IAC, SE, 'x'});
    EXPECT_EQ(out.sends, std::vector<Bytes>{kTtypeVt100});
    EXPECT_EQ(sink.received, Bytes{'x'});
}

TEST(VtTelnetFilter, AnyIacTurnsLocalEchoOff) {
    VtSession session;
    session.localEchoActive = 1;
    RecordingSender out;
    RecordingSink sink;
    VtTelnetFilter filter(session, out, sink);
    filter.receive(Bytes{IAC, 241});
    EXPECT_EQ(session.localEchoActive, 0);
    filter.receive(Bytes{'a', 'b'});
    EXPECT_EQ(session.localEchoActive, 0) << "stays off until a user disconnect";
}

}  // namespace
}  // namespace qn::vt
