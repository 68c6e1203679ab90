#include "plugins/simreader/key_assembler.h"

#include <xkbcommon/xkbcommon.h>

#include <cstring>

namespace qn::sim {

namespace {

constexpr std::size_t kMaxLayoutText = 64;

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

bool isName(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isNameCharacter(c)) return false;
    }
    return true;
}

void quietLog(xkb_context*, xkb_log_level, const char*, va_list) {}

// The digit of a keypad key, whatever Num Lock says; -1 for other keys.
int keypadDigit(unsigned code) {
    switch (code) {
        case KEY_KP0:
            return 0;
        case KEY_KP1:
            return 1;
        case KEY_KP2:
            return 2;
        case KEY_KP3:
            return 3;
        case KEY_KP4:
            return 4;
        case KEY_KP5:
            return 5;
        case KEY_KP6:
            return 6;
        case KEY_KP7:
            return 7;
        case KEY_KP8:
            return 8;
        case KEY_KP9:
            return 9;
        default:
            return -1;
    }
}

// The character a dead key stands for when it is followed by a space.
std::uint8_t spacingFormOf(xkb_keysym_t sym) {
    switch (sym) {
        case XKB_KEY_dead_circumflex:
            return '^';
        case XKB_KEY_dead_grave:
            return '`';
        case XKB_KEY_dead_acute:
            return 0xB4;
        case XKB_KEY_dead_tilde:
            return '~';
        case XKB_KEY_dead_diaeresis:
            return 0xA8;
        default:
            return 0;
    }
}

// A scanner that types keypad keys means their digits: its Num Lock starts on (a grabbed device
// shares no lock state with the machine's keyboard).
xkb_state* freshState(xkb_keymap* keymap) {
    xkb_state* state = xkb_state_new(keymap);
    const xkb_mod_index_t numLock = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_NUM);
    if (state != nullptr && numLock != XKB_MOD_INVALID && numLock < 32) {
        xkb_state_update_mask(state, 0, 0, 1u << numLock, 0, 0, 0);
    }
    return state;
}

}  // namespace

std::shared_ptr<const Keymap> Keymap::compile(const std::string& layout) {
    if (layout.size() > kMaxLayoutText) return nullptr;
    std::string name = layout, variant;
    if (auto open = layout.find('('); open != std::string::npos) {
        if (layout.back() != ')') return nullptr;
        name = layout.substr(0, open);
        variant = layout.substr(open + 1, layout.size() - open - 2);
        if (!isName(variant)) return nullptr;
    }
    if (!isName(name)) return nullptr;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (context == nullptr) return nullptr;
    xkb_context_set_log_fn(context, quietLog);
    xkb_rule_names names{};
    names.rules = "evdev";
    names.model = "pc105";
    names.layout = name.c_str();
    names.variant = variant.empty() ? nullptr : variant.c_str();
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::shared_ptr<const Keymap>(new Keymap(context, keymap));
}

Keymap::~Keymap() {
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

KeyAssembler::KeyAssembler(std::shared_ptr<const Keymap> keymap, KeyOptions options)
    : keymap_(std::move(keymap)),
      options_(options),
      framer_(ScannerKind::Keyboard, options.maxBytes, options.gap),
      state_(freshState(keymap_->keymap())) {}

KeyAssembler::~KeyAssembler() {
    xkb_state_unref(state_);
}

void KeyAssembler::reset() {
    framer_.discard();
    xkb_state_unref(state_);
    state_ = freshState(keymap_->keymap());
    altHeld_ = false;
    altDigits_ = 0;
    altValue_ = 0;
    deadKey_ = 0;
    partialSize_ = 0;
}

void KeyAssembler::eventsDropped() {
    reset();
    framer_.markBroken();
}

void KeyAssembler::feedBytes(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                             std::vector<ScannerDecode>& out) {
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), partial_.size() - partialSize_);
        std::memcpy(partial_.data() + partialSize_, bytes.data(), take);
        partialSize_ += take;
        bytes = bytes.subspan(take);
        if (partialSize_ < partial_.size()) break;
        input_event event;
        std::memcpy(&event, partial_.data(), sizeof event);
        partialSize_ = 0;
        feed(event, now, out);
    }
}

void KeyAssembler::feed(const input_event& event, ScanClock::time_point now,
                        std::vector<ScannerDecode>& out) {
    if (event.type == EV_SYN && event.code == SYN_DROPPED) {
        eventsDropped();
        return;
    }
    if (event.type != EV_KEY || event.code > KEY_MAX || state_ == nullptr) return;
    const unsigned code = event.code;
    const xkb_keycode_t keycode = code + 8;
    if (event.value == 0) {
        xkb_state_update_key(state_, keycode, XKB_KEY_UP);
        if (code == KEY_LEFTALT) {
            altHeld_ = false;
            // Alt released after keypad digits: the code typed, as one byte (0 types nothing).
            if (altDigits_ > 0 && altValue_ != 0) {
                flushDeadKey(now);
                framer_.push(static_cast<std::uint8_t>(altValue_), now);
            }
            altDigits_ = 0;
            altValue_ = 0;
        }
        return;
    }
    // Autorepeat is never a scanner's doing: it comes from a release delayed past the repeat
    // delay, and would type the key again.
    if (event.value != 1) return;
    keyPressed(code, now, out);
    xkb_state_update_key(state_, keycode, XKB_KEY_DOWN);
}

void KeyAssembler::keyPressed(unsigned code, ScanClock::time_point now,
                              std::vector<ScannerDecode>& out) {
    framer_.expire(now, out);
    if (code == KEY_LEFTALT) {
        altHeld_ = true;
        altDigits_ = 0;
        altValue_ = 0;
        return;
    }
    if (altHeld_) {
        if (int digit = keypadDigit(code); digit >= 0) {
            ++altDigits_;
            altValue_ = (altValue_ * 10 + static_cast<unsigned>(digit)) % 256;
            return;
        }
    }
    const xkb_keycode_t keycode = code + 8;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state_, keycode);
    const bool enter = sym == XKB_KEY_Return || sym == XKB_KEY_KP_Enter;
    const bool tab = sym == XKB_KEY_Tab || sym == XKB_KEY_ISO_Left_Tab;
    if ((enter && options_.terminator == ScanTerminator::Enter) ||
        (tab && options_.terminator == ScanTerminator::Tab)) {
        flushDeadKey(now);
        framer_.finish(out);
        return;
    }
    if (std::uint8_t spacing = spacingFormOf(sym); spacing != 0) {
        flushDeadKey(now);
        deadKey_ = spacing;
        return;
    }
    const std::uint32_t character = xkb_state_key_get_utf32(state_, keycode);
    if (character != 0) pushCharacter(character, now);
}

void KeyAssembler::pushCharacter(std::uint32_t character, ScanClock::time_point now) {
    if (deadKey_ != 0) {
        const std::uint8_t spacing = deadKey_;
        deadKey_ = 0;
        framer_.push(spacing, now);
        if (character == ' ') return;  // dead key + space: the accent itself
    }
    // The programs take single bytes: a character past Latin-1 cannot be sent as scanned.
    if (character > 0xFF) {
        framer_.markBroken();
        return;
    }
    framer_.push(static_cast<std::uint8_t>(character), now);
}

void KeyAssembler::flushDeadKey(ScanClock::time_point now) {
    if (deadKey_ == 0) return;
    framer_.push(deadKey_, now);
    deadKey_ = 0;
}

}  // namespace qn::sim
