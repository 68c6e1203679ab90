#include "tn5250/input/view_input.h"

#include "tn5250/input/tn_keys.h"

namespace qn::tn {

bool TnViewInput::takesKeyDown(int virtualKey) {
    switch (virtualKey) {
        case vk::kBack:
        case vk::kTab:
        case vk::kReturn:
        case vk::kEscape:
        case vk::kInsert:
        case vk::kDelete:
        case vk::kSend:
        case vk::kDeviceEnd:
            return true;
        default:
            return (virtualKey >= vk::kPageUp && virtualKey <= vk::kDown) ||
                   (virtualKey >= vk::kF1 && virtualKey <= vk::kF20);
    }
}

TnViewInput::KeyResult TnViewInput::keyDown(int virtualKey, bool fullScreen, bool socketOpen) {
    if (fullScreen) {
        if (virtualKey == vk::kFullScreenPrefix) {
            fullScreenEscArmed_ = true;
        } else if (virtualKey == vk::kEscape && fullScreenEscArmed_) {
            fullScreenEscArmed_ = false;
            return {false, true};
        } else {
            fullScreenEscArmed_ = false;
        }
    }
    if (virtualKey == vk::kFullScreenPrefix || !socketOpen || !takesKeyDown(virtualKey)) return {};
    bool redraw = false;
    locked_([&] { redraw = editor_.keyDown(virtualKey); });
    return {redraw, false};
}

bool TnViewInput::character(std::uint8_t c, bool socketOpen) {
    if (!socketOpen || c == 0 || (c > 0x1A && c < 0x20) || c > 0x7E) return false;
    bool redraw = false;
    locked_([&] { redraw = editor_.typeChar(c); });
    return redraw;
}

}  // namespace qn::tn
