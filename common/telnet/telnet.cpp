#include "common/telnet/telnet.h"

#include <array>

namespace qn::telnet {

void agree(ByteSender& out, std::uint8_t verb, std::uint8_t option) {
    std::uint8_t answer = verb;
    switch (verb) {
        case kDo:
            answer = kWill;
            break;
        case kDont:
            answer = kWont;
            break;
        case kWill:
            answer = kDo;
            break;
        case kWont:
            answer = kDont;
            break;
        default:
            break;
    }
    sendCommand(out, answer, option);
}

void refuse(ByteSender& out, std::uint8_t verb, std::uint8_t option) {
    sendCommand(out, verb == kDo ? kWont : kDont, option);
}

void sendCommand(ByteSender& out, std::uint8_t verb, std::uint8_t option) {
    const std::array<std::uint8_t, 3> message{kIac, verb, option};
    out.sendBytes(message);
}

void sendWindowSize(ByteSender& out, std::uint8_t columns, std::uint8_t rows) {
    const std::array<std::uint8_t, 9> message{kIac, kSb, kOptNaws, 0, columns, 0, rows, kIac, kSe};
    out.sendBytes(message);
}

}  // namespace qn::telnet
