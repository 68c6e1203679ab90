#include "vt/transport/vt_telnet_filter.h"

#include <algorithm>
#include <array>
#include <utility>

namespace qn::vt {

using namespace telnet;

namespace {

using Handler = void (VtTelnetFilter::*)(std::uint8_t verb, std::uint8_t option);
using SubSink = void (VtTelnetFilter::*)(std::uint8_t byte);

constexpr std::uint8_t kTerminalTypeSend = 1;

struct TelnetOption {
    std::uint32_t code;
    Handler negotiate;
    SubSink subNegotiation;
};

// Searched in this order; the last entry matches every option.
constexpr TelnetOption TelnetOptionTable[] = {
    {kOptBinary, &VtTelnetFilter::answerBinary, nullptr},
    {kOptEcho, &VtTelnetFilter::answerEcho, nullptr},
    {kOptEndOfRecord, &VtTelnetFilter::answerEndOfRecord, nullptr},
    {kOptSga, &VtTelnetFilter::answerSga, nullptr},
    {kOptTerminalType, &VtTelnetFilter::answerTerminalType, &VtTelnetFilter::terminalTypeByte},
    {kOptNaws, &VtTelnetFilter::answerWindowSize, nullptr},
    {kAnyOption, &VtTelnetFilter::answerOther, nullptr},
};

}  // namespace

void VtTelnetFilter::receive(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        if (state_ == kData && sink_ == Sink::Emulator) {
            // The common case: hand the whole run up to the next IAC to the emulator at once.
            const std::uint8_t* iac = std::find(p, end, kIac);
            if (iac != p) emulator_.data({p, static_cast<std::size_t>(iac - p)});
            p = iac;
            if (p == end) break;
        }
        std::uint8_t byte = *p++;
        switch (state_) {
            case kData:
                if (byte == kIac) {
                    state_ = kAfterIac;
                    session_.localEchoActive = 0;
                } else {
                    dataByte(byte);
                }
                break;
            case kAfterIac:
                command(byte);
                break;
            case kAfterVerb:
                option(byte);
                break;
        }
    }
}

void VtTelnetFilter::dataByte(std::uint8_t byte) {
    if (sink_ == Sink::TerminalType) {
        terminalTypeByte(byte);
    } else {
        emulator_.data({&byte, 1});
    }
}

void VtTelnetFilter::command(std::uint8_t byte) {
    state_ = kData;
    if (byte == kSe) {
        sink_ = Sink::Emulator;
    } else if (byte >= kSb && byte <= kDont) {
        pendingVerb_ = byte;
        state_ = kAfterVerb;
    } else if (byte == kIac) {
        dataByte(byte);  // an escaped 255
    }
    // 241..249 are consumed, bytes below 240 are dropped with their IAC.
}

void VtTelnetFilter::option(std::uint8_t byte) {
    state_ = kData;
    const TelnetOption& entry = findOption(TelnetOptionTable, byte);
    if (pendingVerb_ == kSb) {
        // Options without a sink leave the emulator in place: their payload reaches it as data.
        sink_ = entry.subNegotiation != nullptr ? Sink::TerminalType : Sink::Emulator;
        subNegotiationStart_ = true;
        return;
    }
    (this->*entry.negotiate)(pendingVerb_, byte);
}

void VtTelnetFilter::answerBinary(std::uint8_t verb, std::uint8_t option) {
    if (verb == kWill || verb == kDo) agree(out_, verb, option);
}

void VtTelnetFilter::answerEcho(std::uint8_t verb, std::uint8_t option) {
    switch (verb) {
        case kWill:
            session_.localEchoActive = 0;
            sendCommand(out_, kDo, option);
            break;
        case kWont:
            if (session_.settings.localEcho == 0) break;
            session_.localEchoActive = 0;
            sendCommand(out_, kDont, option);
            break;
        case kDo:
        case kDont:
            sendCommand(out_, kWont, option);
            break;
        default:
            break;
    }
}

void VtTelnetFilter::answerEndOfRecord(std::uint8_t verb, std::uint8_t option) {
    agree(out_, verb, option);
}

void VtTelnetFilter::answerSga(std::uint8_t verb, std::uint8_t option) {
    // The host agreeing to go-ahead or withdrawing it turns local echo off either way.
    if (sga_.answer(out_, verb, option) != SgaNegotiation::Change::None) {
        session_.localEchoActive = 0;
    }
}

void VtTelnetFilter::answerTerminalType(std::uint8_t verb, std::uint8_t option) {
    if (verb == kWill) sendCommand(out_, kDont, option);
    if (verb == kDo) sendCommand(out_, kWill, option);
}

void VtTelnetFilter::answerWindowSize(std::uint8_t verb, std::uint8_t option) {
    // 80 x 24 whatever the font or window.
    telnet::answerWindowSize(out_, verb, option, 80, 24);
}

void VtTelnetFilter::answerOther(std::uint8_t verb, std::uint8_t option) {
    if (verb == kWill || verb == kDo) refuse(out_, verb, option);
}

void VtTelnetFilter::terminalTypeByte(std::uint8_t byte) {
    // One answer per sub-negotiation, and only to a SEND request: the rest of the payload,
    // however long, asks for nothing.
    if (!std::exchange(subNegotiationStart_, false) || byte != kTerminalTypeSend) return;
    auto& field = session_.settings.terminalType;
    if (reader::fixedLength(field) == 0) reader::storeText(field, "vt100");
    const std::size_t length = reader::fixedLength(field);
    std::array<std::uint8_t, 6 + sizeof field> message{};
    message[0] = kIac;
    message[1] = kSb;
    message[2] = kOptTerminalType;
    message[3] = 0;
    std::copy_n(field.begin(), length, message.begin() + 4);
    message[4 + length] = kIac;
    message[5 + length] = kSe;
    out_.sendBytes({message.data(), length + 6});
}

}  // namespace qn::vt
