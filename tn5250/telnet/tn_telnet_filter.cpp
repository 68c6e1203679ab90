#include "tn5250/telnet/tn_telnet_filter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/device/device.h"

namespace qn::tn {

using namespace telnet;

namespace {

using Handler = void (TnTelnetFilter::*)(std::uint8_t verb, std::uint8_t option);
using SubHandler = void (TnTelnetFilter::*)();

struct TelnetOption {
    std::uint32_t code;
    Handler negotiate;
    SubHandler subNegotiation;
};

// Searched in this order; the last entry serves every option not listed.
constexpr TelnetOption TelnetOptionTable[] = {
    {kOptBinary, &TnTelnetFilter::answerBinary, nullptr},
    {kOptEcho, &TnTelnetFilter::answerEcho, nullptr},
    {kOptEndOfRecord, &TnTelnetFilter::answerEndOfRecord, nullptr},
    {kOptSga, &TnTelnetFilter::answerSga, nullptr},
    {kOptTerminalType, &TnTelnetFilter::answerOffer, &TnTelnetFilter::terminalTypeReply},
    {kOptNewEnviron, &TnTelnetFilter::answerOffer, &TnTelnetFilter::environmentReply},
    {kOptNaws, &TnTelnetFilter::answerWindowSize, nullptr},
    {kAnyOption, &TnTelnetFilter::answerOther, nullptr},
};

constexpr std::uint8_t kIs = 0x00;
constexpr std::uint8_t kVar = 0x00;
constexpr std::uint8_t kValue = 0x01;
constexpr std::uint8_t kUserVar = 0x03;

// Inside a sub-negotiation a 0xFF byte would end it: it goes doubled.
void append(std::vector<std::uint8_t>& out, std::string_view text) {
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        if (static_cast<std::uint8_t>(c) == kIac) out.push_back(kIac);
    }
}

// USERVAR name VALUE value.
void appendUserVariable(std::vector<std::uint8_t>& out, std::string_view name,
                        std::string_view value) {
    out.push_back(kUserVar);
    append(out, name);
    out.push_back(kValue);
    append(out, value);
}

}  // namespace

std::string handheldName(const platform::Registry& registry) {
    const auto key = registry.openKey(device::kIdentKey);
    if (!key) return {};
    const std::string text = key->text("Name", 256).value_or("");
    // The registry text is UTF-8; the device keeps the low byte of each character.
    std::string name;
    for (std::size_t i = 0; i < text.size() && name.size() < kDeviceNameMax;) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::uint32_t codePoint = lead;
        if (length > 1 && i + length <= text.size()) {
            codePoint = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k)
                codePoint = codePoint << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            i += length;
        } else {
            ++i;
        }
        name.push_back(static_cast<char>(codePoint & 0xFF));
    }
    return name;
}

void TnTelnetFilter::receive(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        if (state_ == kData) {
            const void* found = std::memchr(p, kIac, static_cast<std::size_t>(end - p));
            const std::uint8_t* iac =
                found != nullptr ? static_cast<const std::uint8_t*>(found) : end;
            if (iac != p) records_.receive({p, static_cast<std::size_t>(iac - p)});
            p = iac;
            if (p == end) break;
            state_ = kAfterIac;
            ++p;
            continue;
        }
        const std::uint8_t byte = *p++;
        if (state_ == kAfterIac) {
            command(byte);
        } else {
            afterVerb(byte);
        }
    }
}

void TnTelnetFilter::command(std::uint8_t byte) {
    state_ = kData;
    if (byte == kIac) {
        records_.dataByte(byte);  // an escaped 0xFF
    } else if (byte >= kSb && byte <= kDont) {
        verb_ = byte;
        state_ = kAfterVerb;
    }
    // SE hands data back to the assembler, which has it anyway; NOP, GA, EOR and the rest are
    // dropped.
}

void TnTelnetFilter::afterVerb(std::uint8_t byte) {
    if (verb_ != kSb) {
        state_ = kData;
        (this->*findOption(TelnetOptionTable, byte).negotiate)(verb_, byte);
        return;
    }
    if (byte != kIac) {
        // The excess of an over-long sub-negotiation is dropped; answers need only its start.
        if (sbLength_ < sbBuffer_.size()) sbBuffer_[sbLength_++] = byte;
        return;
    }
    // The first IAC ends the collection, even a doubled one.
    if (sbLength_ > 0) {
        const TelnetOption& entry = findOption(TelnetOptionTable, sbBuffer_[0]);
        if (entry.subNegotiation != nullptr) (this->*entry.subNegotiation)();
    }
    sbLength_ = 0;
    state_ = kAfterIac;
}

void TnTelnetFilter::answerBinary(std::uint8_t verb, std::uint8_t option) {
    if (verb == kWill || verb == kDo) agree(out_, verb, option);
}

void TnTelnetFilter::answerEcho(std::uint8_t verb, std::uint8_t option) {
    switch (verb) {
        case kWill:
            echoAgreed_ = true;
            sendCommand(out_, kDo, option);
            break;
        case kWont:
            if (echoAgreed_) sendCommand(out_, kDont, option);
            echoAgreed_ = false;
            break;
        case kDo:
        case kDont:
            sendCommand(out_, kWont, option);
            break;
        default:
            break;
    }
}

void TnTelnetFilter::answerEndOfRecord(std::uint8_t verb, std::uint8_t option) {
    if (verb == kWill || verb == kWont) eorWill_ = verb == kWill;
    if (verb == kDo || verb == kDont) eorDo_ = verb == kDo;
    agree(out_, verb, option);
}

void TnTelnetFilter::answerSga(std::uint8_t verb, std::uint8_t option) {
    // Echo is agreed and withdrawn together with go-ahead.
    switch (sga_.answer(out_, verb, option)) {
        case SgaNegotiation::Change::Agreed:
            echoAgreed_ = true;
            break;
        case SgaNegotiation::Change::Withdrawn:
            echoAgreed_ = false;
            break;
        case SgaNegotiation::Change::None:
            break;
    }
}

void TnTelnetFilter::answerOffer(std::uint8_t verb, std::uint8_t option) {
    if (verb == kDo) sendCommand(out_, kWill, option);
    if (verb == kWill) sendCommand(out_, kDont, option);
}

void TnTelnetFilter::answerWindowSize(std::uint8_t verb, std::uint8_t option) {
    telnet::answerWindowSize(out_, verb, option, kColumns, kRows);
}

void TnTelnetFilter::answerOther(std::uint8_t verb, std::uint8_t option) {
    if (verb == kWill || verb == kDo) refuse(out_, verb, option);
}

void TnTelnetFilter::terminalTypeReply() {
    if (!askedToSend()) return;
    ttypeToggle_ = ttypeToggle_ == 1 ? 0 : ttypeToggle_ + 1;
    // A double-byte language needs the double-byte capable display station.
    const std::string_view type = isDbcsLanguage(session_.language) ? "IBM-5555-B01" : "IBM-3179-2";
    std::vector<std::uint8_t> message{kIac, kSb, kOptTerminalType, kIs};
    append(message, type);
    message.insert(message.end(), {kIac, kSe});
    out_.sendBytes(message);
}

void TnTelnetFilter::environmentReply() {
    if (!askedToSend()) return;
    std::vector<std::uint8_t> message{kIac, kSb, kOptNewEnviron, kIs};
    message.push_back(kUserVar);
    append(message, "IBMRSEED");
    message.push_back(kVar);
    const std::string_view deviceName = session_.useDeviceName != 0
                                            ? reader::fixedText(session_.deviceName)
                                            : std::string_view(ownDeviceName_);
    appendUserVariable(message, "DEVNAME", deviceName.substr(0, kDeviceNameMax));
    switch (session_.language) {
        case 1:
            appendUserVariable(message, "CODEPAGE", "937");
            appendUserVariable(message, "CHARSET", "1175");
            break;
        case 2:
            appendUserVariable(message, "CODEPAGE", "935");
            appendUserVariable(message, "CHARSET", "1174");
            break;
        case 3:
            appendUserVariable(message, "CODEPAGE", "933");
            appendUserVariable(message, "CHARSET", "1173");
            break;
        case 4:
            appendUserVariable(message, "KBDTYPE", "JKB");
            appendUserVariable(message, "CODEPAGE", "930");
            appendUserVariable(message, "CHARSET", "1172");
            break;
        default:
            break;
    }
    message.insert(message.end(), {kIac, kSe});
    out_.sendBytes(message);
}

}  // namespace qn::tn
