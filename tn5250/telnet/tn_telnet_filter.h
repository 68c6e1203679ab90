#pragma once
// The 5250 program's telnet layer: answers the host's option negotiation (terminal type by
// language, end-of-record, new-environment variables, window size) and hands every data byte to
// the record assembler. Runs on the read thread under the session lock; answers go to the
// sender, which the transport empties once the lock is released.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/telnet/negotiation.h"
#include "common/telnet/telnet.h"
#include "platform/registry.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

inline constexpr std::size_t kSbBufferSize = 100;
inline constexpr std::size_t kDeviceNameMax = 20;

// The handheld's own network name (the "Name" value of the device identity), each character
// narrowed to its low byte and cut to 20 bytes; empty when the registry has none.
std::string handheldName(const platform::Registry& registry);

class TnTelnetFilter {
  public:
    enum State : std::uint8_t { kData = 0, kAfterIac = 1, kAfterVerb = 2 };

    TnTelnetFilter(const TnSession& session, telnet::ByteSender& out, TnDataStream& records)
        : session_(session), out_(out), records_(records) {}

    // DEVNAME when the session does not name the device itself.
    void setOwnDeviceName(std::string_view name) {
        ownDeviceName_ = std::string(name.substr(0, kDeviceNameMax));
    }

    // All bytes of one receive, in order; runs of data bytes reach the assembler whole.
    void receive(std::span<const std::uint8_t> bytes);
    void telnetReceiveByte(std::uint8_t byte) { receive({&byte, 1}); }

    // A new connection starts in the data state with an empty sub-negotiation; the option flags
    // and the terminal-type toggle live for the whole run.
    void startConnection() {
        state_ = kData;
        verb_ = telnet::kSb;
        sbLength_ = 0;
    }

    State state() const { return state_; }
    int ttypeToggle() const { return ttypeToggle_; }
    bool sgaAgreed() const { return sga_.agreed(); }
    bool echoAgreed() const { return echoAgreed_; }
    bool eorWill() const { return eorWill_; }
    bool eorDo() const { return eorDo_; }
    std::span<const std::uint8_t> sbBuffer() const { return {sbBuffer_.data(), sbLength_}; }

    // Verb handlers of the option table.
    void answerBinary(std::uint8_t verb, std::uint8_t option);
    void answerEcho(std::uint8_t verb, std::uint8_t option);
    void answerEndOfRecord(std::uint8_t verb, std::uint8_t option);
    void answerSga(std::uint8_t verb, std::uint8_t option);
    void answerOffer(std::uint8_t verb, std::uint8_t option);
    void answerWindowSize(std::uint8_t verb, std::uint8_t option);
    void answerOther(std::uint8_t verb, std::uint8_t option);
    // Sub-negotiation handlers: read sbBuffer, send a whole IAC SB ... IAC SE message.
    void terminalTypeReply();
    void environmentReply();

  private:
    void command(std::uint8_t byte);
    void afterVerb(std::uint8_t byte);
    bool askedToSend() const { return sbLength_ >= 2 && sbBuffer_[1] == 0x01; }

    const TnSession& session_;
    telnet::ByteSender& out_;
    TnDataStream& records_;
    std::string ownDeviceName_;

    State state_ = kData;
    std::uint8_t verb_ = telnet::kSb;
    std::array<std::uint8_t, kSbBufferSize> sbBuffer_{};
    std::size_t sbLength_ = 0;
    int ttypeToggle_ = 0;
    telnet::SgaNegotiation sga_{false};
    bool echoAgreed_ = false;
    bool eorWill_ = false;
    bool eorDo_ = false;
};

}  // namespace qn::tn
