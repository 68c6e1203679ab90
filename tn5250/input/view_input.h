#pragma once
// The 5250 view's keyboard filter: which key-downs and characters reach the field editor, the
// full-screen escape (0xEC, then Escape) ahead of everything, and nothing while unconnected.
// The editor runs under the session lock; `locked` wraps each call in it (and carries out the
// sends and alarms the call queued once the lock is free).
//
// One key press gives the view a key-down and, for keys with text, a character. A key the
// editor took as a key-down (Tab, Return, Backspace, Escape) must not also arrive as its
// control character, or Tab would move two fields and Return would beep at the keyboard the
// Enter key has just locked: the view asks takesKeyDown() and drops that character.

#include <cstdint>
#include <functional>

#include "tn5250/input/field_editor.h"

namespace qn::tn {

class TnViewInput {
  public:
    using Locked = std::function<void(const std::function<void()>&)>;

    TnViewInput(TnFieldEditor& editor, Locked locked)
        : editor_(editor), locked_(std::move(locked)) {}

    struct KeyResult {
        bool redraw = false;           // the post-key update repaints
        bool leaveFullScreen = false;  // the frame gets an Escape key-down
    };

    // A key-down message. fullScreen: the frame is in full-screen state.
    KeyResult keyDown(int virtualKey, bool fullScreen, bool socketOpen);
    // A character message: printable or a control character 0x01-0x1A reaches the editor.
    bool character(std::uint8_t c, bool socketOpen);

    // The key-downs the editor takes.
    static bool takesKeyDown(int virtualKey);

    bool fullScreenEscArmed() const { return fullScreenEscArmed_; }

  private:
    TnFieldEditor& editor_;
    Locked locked_;
    bool fullScreenEscArmed_ = false;
};

}  // namespace qn::tn
