#pragma once
// A keyboard-mode scanner: its key events (struct input_event) become characters through an
// xkbcommon keymap for the configured layout, with Shift, Caps Lock, AltGr and the Alt + keypad
// codes some scanners type for control characters (Alt 0 2 9 for GS).

#include <linux/input.h>

#include <array>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "plugins/simreader/scanner_decode.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace qn::sim {

// A compiled keymap, shared by every keyboard scanner of one layout.
class Keymap {
  public:
    // layout: "us", "de", or with a variant "de(nodeadkeys)". Null when it does not compile.
    static std::shared_ptr<const Keymap> compile(const std::string& layout);
    ~Keymap();
    Keymap(const Keymap&) = delete;
    Keymap& operator=(const Keymap&) = delete;
    xkb_keymap* keymap() const { return keymap_; }

  private:
    Keymap(xkb_context* context, xkb_keymap* keymap) : context_(context), keymap_(keymap) {}
    xkb_context* context_;
    xkb_keymap* keymap_;
};

struct KeyOptions {
    ScanTerminator terminator = ScanTerminator::Enter;
    std::chrono::milliseconds gap{0};
    std::size_t maxBytes = 4096;
};

class KeyAssembler {
  public:
    KeyAssembler(std::shared_ptr<const Keymap> keymap, KeyOptions options);
    ~KeyAssembler();
    KeyAssembler(const KeyAssembler&) = delete;
    KeyAssembler& operator=(const KeyAssembler&) = delete;

    void feed(const input_event& event, ScanClock::time_point now, std::vector<ScannerDecode>& out);
    // A stream of input_event records (a FIFO, a file, a recording); a record cut between two
    // reads is completed by the next.
    void feedBytes(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                   std::vector<ScannerDecode>& out);
    // Events the kernel dropped: the decode under way is lost, the modifiers start afresh.
    void eventsDropped();
    // Unplugged: nothing partial survives, every key counts as released.
    void reset();

    DecodeFramer& framer() { return framer_; }

  private:
    void keyPressed(unsigned code, ScanClock::time_point now, std::vector<ScannerDecode>& out);
    void pushCharacter(std::uint32_t character, ScanClock::time_point now);
    void flushDeadKey(ScanClock::time_point now);

    std::shared_ptr<const Keymap> keymap_;
    KeyOptions options_;
    DecodeFramer framer_;
    xkb_state* state_ = nullptr;
    bool altHeld_ = false;
    int altDigits_ = 0;
    unsigned altValue_ = 0;
    std::uint8_t deadKey_ = 0;  // the spacing form of a dead key waiting for its next key
    std::array<std::uint8_t, sizeof(input_event)> partial_{};
    std::size_t partialSize_ = 0;
};

}  // namespace qn::sim
