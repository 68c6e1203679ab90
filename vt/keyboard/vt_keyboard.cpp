#include "vt/keyboard/vt_keyboard.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qn::vt {

namespace {

constexpr std::uint8_t kEsc = 0x1B;

KeyBytes bytesOf(std::initializer_list<std::uint8_t> bytes) {
    KeyBytes out{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), kKeyCodeSize), out.begin());
    return out;
}

KeyBytes csi(std::string_view tail) {
    KeyBytes out{};
    out[0] = kEsc;
    out[1] = '[';
    for (std::size_t i = 0; i < tail.size() && i + 2 < kKeyCodeSize; ++i)
        out[i + 2] = static_cast<std::uint8_t>(tail[i]);
    return out;
}

KeyBytes ss3(char final) {
    return bytesOf({kEsc, 'O', static_cast<std::uint8_t>(final)});
}

}  // namespace

int keySlot(int virtualKey) {
    if (virtualKey >= vk::kF1 && virtualKey <= vk::kF20) return virtualKey - vk::kF1 + 1;
    switch (virtualKey) {
        case vk::kHome:
            return 21;
        case vk::kEnd:
            return 22;
        case vk::kPageUp:
            return 23;
        case vk::kPageDown:
            return 24;
        case vk::kBack:
            return 25;
        case vk::kTab:
            return 26;
        case vk::kSend:
            return 27;
        case vk::kDeviceEnd:
            return 28;
        default:
            return 0;
    }
}

std::array<std::uint8_t, kKeyCodeSize> translateMappedKey(const VtSettings& settings,
                                                          int virtualKey) {
    std::array<std::uint8_t, kKeyCodeSize> code{};
    const int slot = keySlot(virtualKey);
    if (slot == 0) return code;
    std::copy_n(settings.keyCodeTable.begin() + static_cast<std::ptrdiff_t>(kKeyCodeSize) * slot,
                kKeyCodeSize, code.begin());
    return code;
}

KeyBytes defaultKeyBytes(const VtScreen& screen, int virtualKey) {
    const bool normalCursor = screen.cursorKeysNormal != 0;
    auto arrow = [&](char final) {
        return normalCursor ? bytesOf({kEsc, '[', static_cast<std::uint8_t>(final)}) : ss3(final);
    };
    switch (virtualKey) {
        case vk::kBack:
            return bytesOf({0x08});
        case vk::kTab:
            return bytesOf({0x09});
        case vk::kReturn:
            return screen.newLineModeOff != 0 ? bytesOf({0x0D}) : bytesOf({0x0D, 0x0A});
        case vk::kEscape:
            return bytesOf({kEsc});
        case vk::kPageUp:
            return csi("V");
        case vk::kPageDown:
            return csi("U");
        case vk::kEnd:
            return csi("K");
        case vk::kHome:
            return csi("H");
        case vk::kLeft:
            return arrow('D');
        case vk::kUp:
            return arrow('A');
        case vk::kRight:
            return arrow('C');
        case vk::kDown:
            return arrow('B');
        case vk::kInsert:
            return csi("2~");
        case vk::kDelete:
            return bytesOf({0x7F});
        default:
            break;
    }
    // F1..F20; F15 and F16 send nothing.
    static constexpr std::array<std::string_view, 20> kFunctionKeys{
        "P",   "Q",   "R",   "S",   "15~", "17~", "18~", "19~", "20~", "21~",
        "23~", "24~", "25~", "26~", "",    "",    "31~", "32~", "33~", "34~"};
    if (virtualKey >= vk::kF1 && virtualKey <= vk::kF20) {
        const std::string_view tail = kFunctionKeys[static_cast<std::size_t>(virtualKey - vk::kF1)];
        if (tail.empty()) return {};
        if (tail.size() == 1) return ss3(tail[0]);
        return csi(tail);
    }
    return {};
}

std::size_t keyBytesLength(const KeyBytes& bytes) {
    return static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), 0) - bytes.begin());
}

void VtKeyboard::keyDown(int virtualKey) {
    bool fullScreen;
    {
        std::lock_guard lock(sessionLock_);
        fullScreen = session_.settings.fullScreenOn.get() != 0;
    }
    if (fullScreen) {
        if (fullScreenEscArmed_ && virtualKey == vk::kEscape) {
            fullScreenEscArmed_ = false;
            view_.frameEscape();
            return;
        }
        fullScreenEscArmed_ = virtualKey == vk::kFullScreenPrefix;
    }
    if (!link_.socketOpen()) return;

    ctrlCombination_ = ctrlPending_ && virtualKey >= 'A' && virtualKey <= 'Z';
    ctrlPending_ = virtualKey == vk::kControl;
    if (virtualKey == vk::kFullScreenPrefix) return;

    KeyBytes bytes{};
    bool lineBuffer;
    bool echo;
    {
        std::lock_guard lock(sessionLock_);
        const auto mapped = translateMappedKey(session_.settings, virtualKey);
        if (mapped[0] != 0) {
            std::copy(mapped.begin(), mapped.end(), bytes.begin());
        } else {
            bytes = defaultKeyBytes(emulator_.screen(), virtualKey);
        }
        lineBuffer = session_.settings.lineBuffer != 0;
        // A host that negotiates echoes itself: an echoed Return here would move the cursor
        // before the host's echo of the characters typed just before it arrives.
        echo = session_.settings.localEcho == 1 && session_.localEchoActive != 0;
    }
    const std::size_t n = keyBytesLength(bytes);

    if (lineBuffer) {
        if (virtualKey == vk::kReturn) {
            {
                // The host echoes the line over the locally typed text.
                std::lock_guard lock(sessionLock_);
                for (std::size_t i = 0; i < lineLength_; ++i)
                    emulator_.backOverCell();
            }
            sendLine();
            if (n > 0) link_.sendBytes({bytes.data(), n});
        } else if (n > 0 && virtualKey != vk::kTab && virtualKey != vk::kBack) {
            for (std::size_t i = 0; i < n; ++i)
                writeAtCursor(bytes[i]);
            view_.invalidate();
            view_.placeCaret();
        }
    } else if (n > 0) {
        link_.sendBytes({bytes.data(), n});
    }

    if (echo && n == 1) {
        {
            std::lock_guard lock(sessionLock_);
            emulator_.controlChar(bytes[0]);
        }
        link_.runDeferred();
        view_.repaintAfterKey();
    }
}

void VtKeyboard::character(std::uint8_t c) {
    if (!link_.socketOpen()) return;
    bool lineBuffer;
    {
        std::lock_guard lock(sessionLock_);
        lineBuffer = session_.settings.lineBuffer != 0;
    }
    if (lineBuffer) {
        if (c == 0x08) {
            // The cell of the last typed byte is blanked and the cursor goes back onto it, so
            // the screen keeps showing what the line holds.
            if (lineLength_ > 0) {
                lineText_[--lineLength_] = 0;
                std::lock_guard lock(sessionLock_);
                emulator_.backOverCell();
            }
            view_.invalidate();
            view_.placeCaret();
        } else if (c == 0x0D) {
            sendLine();
            std::lock_guard lock(sessionLock_);
            if (emulator_.screen().cursorRow > 22) lineBufferEnter_ = true;
            return;
        } else {
            writeAtCursor(c);
            view_.invalidate();
            view_.placeCaret();
        }
        view_.repaintAfterKey();
        return;
    }

    const bool printable = c >= 0x20 && c <= 0x7E;
    const bool sent = printable || ctrlCombination_;
    if (sent) link_.sendBytes({&c, 1});
    bool echo;
    {
        std::lock_guard lock(sessionLock_);
        echo = session_.settings.localEcho == 1 && session_.localEchoActive != 0;
    }
    // Only what went to the host is echoed: a Tab or Return key-down has echoed its own byte.
    if (echo && sent) {
        {
            std::lock_guard lock(sessionLock_);
            if (printable) {
                emulator_.printChar(c);
            } else {
                emulator_.controlChar(c);
            }
        }
        link_.runDeferred();
        view_.invalidate();
    }
    view_.repaintAfterKey();
}

void VtKeyboard::sendLine() {
    const std::size_t length = lineLength_;
    std::array<std::uint8_t, kLineBufferSize> line = lineText_;
    lineText_.fill(0);
    lineLength_ = 0;
    if (length > 0) link_.sendBytes({line.data(), length});
}

void VtKeyboard::writeAtCursor(std::uint8_t byte) {
    // A full line takes nothing more: neither the screen nor the buffer.
    if (lineLength_ >= kLineBufferSize) return;
    lineText_[lineLength_++] = byte;
    std::lock_guard lock(sessionLock_);
    emulator_.printChar(byte);
}

}  // namespace qn::vt
