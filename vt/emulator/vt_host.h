#pragma once
// What the emulator asks of the world. Replies, sounds, vibrations and reader switching all leave
// through this interface, so the telnet transport, the replay tool and the tests each stand
// behind it and the emulator never touches a socket or a device.

#include <cstddef>
#include <cstdint>

namespace qn::vt {

class VtHost {
  public:
    virtual ~VtHost() = default;

    // One send on the session socket; the result is not checked.
    virtual void sendBytes(const std::uint8_t* data, std::size_t length) = 0;
    // Sound 1..9; any other number only stops the sound that is playing.
    virtual void playSound(int number) = 0;
    // Vibrates for steps × 250 ms (steps > 0) and returns when done. It runs inside a chunk, so
    // with the session lock held; an implementation may release the lock while it waits, since
    // the emulator keeps none of its state cached across any host call.
    virtual void vibrate(int steps) = 0;
    // The reader library's SetTriggerKey (0 off, 1 on).
    virtual void setTriggerKey(int on) = 0;
    // The reader-type mask the reader library reported.
    virtual std::uint32_t readerType() const = 0;
    // The reader library's SetActiveDevice.
    virtual void setActiveDevice(std::uint32_t mask) = 0;
    // BEL: the system beep.
    virtual void beep() = 0;
    // CSI ? 25 h / l: shows or hides the view's caret.
    virtual void showCaret(bool visible) = 0;
};

}  // namespace qn::vt
