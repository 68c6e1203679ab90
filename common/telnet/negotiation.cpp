#include "common/telnet/negotiation.h"

namespace qn::telnet {

SgaNegotiation::Change SgaNegotiation::answer(ByteSender& out, std::uint8_t verb,
                                              std::uint8_t option) {
    switch (verb) {
        case kWill:
            agreed_ = true;
            sendCommand(out, kDo, option);
            sendCommand(out, kWill, option);
            sendCommand(out, kDo, kOptEcho);
            return Change::Agreed;
        case kWont:
            if (!agreed_) return Change::None;
            agreed_ = false;
            sendCommand(out, kDont, option);
            sendCommand(out, kWont, option);
            return Change::Withdrawn;
        case kDo:
            if (!agreed_) sendCommand(out, kDo, option);
            return Change::None;
        case kDont:
            if (agreed_) sendCommand(out, kDont, option);
            return Change::None;
        default:
            return Change::None;
    }
}

void answerWindowSize(ByteSender& out, std::uint8_t verb, std::uint8_t option, std::uint8_t columns,
                      std::uint8_t rows) {
    if (verb == kWill) sendCommand(out, kDont, option);
    if (verb == kDo) {
        sendCommand(out, kWill, option);
        sendWindowSize(out, columns, rows);
    }
}

}  // namespace qn::telnet
