#pragma once
// The terminal view's keyboard: virtual-key codes and characters in, bytes to the host out,
// through the session's key map, the built-in translation, line-buffer mode and local echo.
// Runs on the UI thread; the session lock is taken for short sections only and never held
// across a send.

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <utility>

#include "common/device/virtual_keys.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

namespace vk = ::qn::vk;

inline constexpr std::size_t kKeyCodeSize = 5;
inline constexpr int kKeySlots = 28;
// Up to five bytes and a terminating zero.
using KeyBytes = std::array<std::uint8_t, kKeyCodeSize + 1>;

// The key-map slot (1..28) a virtual key selects, 0 for none.
int keySlot(int virtualKey);
// The five code bytes of the key's slot; zeros for a key without a slot.
std::array<std::uint8_t, kKeyCodeSize> translateMappedKey(const VtSettings& settings,
                                                          int virtualKey);
// The built-in translation, read from the emulator's new-line and cursor-key modes.
KeyBytes defaultKeyBytes(const VtScreen& screen, int virtualKey);
// Bytes before the first zero.
std::size_t keyBytesLength(const KeyBytes& bytes);

// What the keyboard needs of the connection.
class KeyboardLink {
  public:
    virtual ~KeyboardLink() = default;
    virtual bool socketOpen() const = 0;
    // One send on the session socket.
    virtual void sendBytes(std::span<const std::uint8_t> bytes) = 0;
    // Carries out what the emulator asked for while echoing (answers, sounds), lock released.
    virtual void runDeferred() = 0;
};

// What the keyboard needs of the view and the frame.
class KeyboardView {
  public:
    virtual ~KeyboardView() = default;
    virtual void invalidate() = 0;
    virtual void placeCaret() = 0;
    // Repaints the cursor cell (or all after a line-buffer Enter near the bottom) and keeps the
    // cursor visible; reads and clears lineBufferEnter through the keyboard.
    virtual void repaintAfterKey() = 0;
    // An Escape key-down for the frame: leaves full screen.
    virtual void frameEscape() = 0;
};

// The line typed locally in line-buffer mode; bounded by the screen width.
inline constexpr std::size_t kLineBufferSize = kScreenColumns;

class VtKeyboard {
  public:
    VtKeyboard(VtSession& session, std::mutex& sessionLock, VtEmulator& emulator,
               KeyboardLink& link, KeyboardView& view)
        : session_(session),
          sessionLock_(sessionLock),
          emulator_(emulator),
          link_(link),
          view_(view) {}

    // One key-down message.
    void keyDown(int virtualKey);
    // One character message.
    void character(std::uint8_t c);

    // Set by a line-buffer Return on the last rows; the view repaints all once and clears it.
    bool takeLineBufferEnter() { return std::exchange(lineBufferEnter_, false); }

    bool ctrlPending() const { return ctrlPending_; }
    bool ctrlCombination() const { return ctrlCombination_; }
    std::span<const std::uint8_t> lineText() const { return {lineText_.data(), lineLength_}; }

  private:
    void sendLine();
    void writeAtCursor(std::uint8_t byte);

    VtSession& session_;
    std::mutex& sessionLock_;
    VtEmulator& emulator_;
    KeyboardLink& link_;
    KeyboardView& view_;

    bool ctrlPending_ = false;
    bool ctrlCombination_ = false;
    bool fullScreenEscArmed_ = false;
    bool lineBufferEnter_ = false;
    std::array<std::uint8_t, kLineBufferSize> lineText_{};
    std::size_t lineLength_ = 0;
};

}  // namespace qn::vt
