#pragma once
// The VT program's telnet filter: splits the host's byte stream into telnet commands, which it
// answers, and data bytes, which go to the data sink (the emulator). Runs on the read thread
// with the session lock held.

#include <cstdint>
#include <span>

#include "common/telnet/negotiation.h"
#include "common/telnet/telnet.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

// Receives the data bytes of the stream, in runs.
class VtDataSink {
  public:
    virtual ~VtDataSink() = default;
    virtual void data(std::span<const std::uint8_t> bytes) = 0;
};

class VtTelnetFilter {
  public:
    enum State : std::uint8_t { kData = 0, kAfterIac = 1, kAfterVerb = 2 };

    VtTelnetFilter(VtSession& session, telnet::ByteSender& out, VtDataSink& emulator)
        : session_(session), out_(out), emulator_(emulator) {}

    // All bytes of one receive, in order. Runs of data bytes reach the sink whole.
    void receive(std::span<const std::uint8_t> bytes);
    // One byte, as the read thread hands them on.
    void telnetReceiveByte(std::uint8_t byte) { receive({&byte, 1}); }

    // A new connection starts in the data state: a connection that ended inside a command or a
    // sub-negotiation would otherwise take the next host's first command for data.
    void startConnection() {
        state_ = kData;
        pendingVerb_ = telnet::kSb;
        sink_ = Sink::Emulator;
        subNegotiationStart_ = false;
    }

    // Set by every emulator reset.
    void setSgaAgreed(bool agreed) { sga_.setAgreed(agreed); }
    bool sgaAgreed() const { return sga_.agreed(); }
    State state() const { return state_; }

    // Negotiation handlers of the option table.
    void answerBinary(std::uint8_t verb, std::uint8_t option);
    void answerEcho(std::uint8_t verb, std::uint8_t option);
    void answerEndOfRecord(std::uint8_t verb, std::uint8_t option);
    void answerSga(std::uint8_t verb, std::uint8_t option);
    void answerTerminalType(std::uint8_t verb, std::uint8_t option);
    void answerWindowSize(std::uint8_t verb, std::uint8_t option);
    void answerOther(std::uint8_t verb, std::uint8_t option);
    // Sub-negotiation sink of TERMINAL-TYPE: answers a payload that begins with SEND.
    void terminalTypeByte(std::uint8_t byte);

  private:
    enum class Sink : std::uint8_t { Emulator, TerminalType };

    void dataByte(std::uint8_t byte);
    void command(std::uint8_t byte);
    void option(std::uint8_t byte);

    VtSession& session_;
    telnet::ByteSender& out_;
    VtDataSink& emulator_;
    State state_ = kData;
    std::uint8_t pendingVerb_ = telnet::kSb;
    Sink sink_ = Sink::Emulator;
    // The next byte is the first of a sub-negotiation's payload.
    bool subNegotiationStart_ = false;
    telnet::SgaNegotiation sga_{true};
};

}  // namespace qn::vt
