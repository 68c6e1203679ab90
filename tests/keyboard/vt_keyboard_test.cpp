// Keys to bytes: the key map against the built-in translation, the emulator's modes, Control
// combinations, line-buffer mode, local echo and the full-screen escape.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vt/emulator/recording_vt_host.h"
#include "vt/keyboard/vt_keyboard.h"

namespace qn::vt {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

class RecordingLink final : public KeyboardLink {
  public:
    bool socketOpen() const override { return open; }
    void sendBytes(std::span<const std::uint8_t> data) override {
        sends.emplace_back(data.begin(), data.end());
    }
    void runDeferred() override { ++deferredRuns; }
    bool open = true;
    std::vector<Bytes> sends;
    int deferredRuns = 0;
};

class RecordingView final : public KeyboardView {
  public:
    void invalidate() override { events.emplace_back("invalidate"); }
    void placeCaret() override { events.emplace_back("caret"); }
    void repaintAfterKey() override { events.emplace_back("repaint"); }
    void frameEscape() override { events.emplace_back("frame escape"); }
    std::vector<std::string> events;
};

struct Keys {
    Keys() { session.settingsLoaded = 1; }
    // Host output through the emulator, e.g. mode changes.
    void host(std::string_view text) { emulator.feed(bytes(text)); }
    std::string row(int r) const {
        std::string text;
        for (auto c : emulator.screen().rowChars(r))
            text += c == 0 ? ' ' : static_cast<char>(c);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    void setSlot(int slot, std::string_view code) {
        auto& table = session.settings.keyCodeTable;
        for (std::size_t i = 0; i < kKeyCodeSize; ++i)
            table[static_cast<std::size_t>(slot) * kKeyCodeSize + i] =
                i < code.size() ? static_cast<std::uint8_t>(code[i]) : 0;
    }

    VtSession session;
    std::mutex lock;
    RecordingVtHost emulatorHost;
    VtEmulator emulator{session.settings, emulatorHost};
    RecordingLink link;
    RecordingView view;
    VtKeyboard keyboard{session, lock, emulator, link, view};
};

TEST(VtKeyboard, BuiltInTranslationFollowsTheEmulatorModes) {
    struct Case {
        const char* modes;  // host output before the key
        int key;
        const char* expected;
    };
    const Case cases[] = {
        {"", vk::kUp, "\033[A"},
        {"", vk::kLeft, "\033[D"},
        {"\033[?1h", vk::kUp, "\033OA"},
        {"\033[?1h", vk::kRight, "\033OC"},
        {"\033[?1h\033[?1l", vk::kDown, "\033[B"},
        {"", vk::kReturn, "\r"},
        {"\033[20h", vk::kReturn, "\r\n"},
        {"\033[20h\033[20l", vk::kReturn, "\r"},
        {"", vk::kF1, "\033OP"},
        {"", vk::kF1 + 3, "\033OS"},
        {"", vk::kF1 + 4, "\033[15~"},
        {"", vk::kF1 + 9, "\033[21~"},
        {"", vk::kF1 + 14, ""},
        {"", vk::kF1 + 15, ""},
        {"", vk::kF20, "\033[34~"},
        {"", vk::kInsert, "\033[2~"},
        {"", vk::kDelete, "\x7f"},
        {"", vk::kPageUp, "\033[V"},
        {"", vk::kHome, "\033[H"},
        {"", vk::kEnd, "\033[K"},
        {"", vk::kSend, ""},
        {"", vk::kDeviceEnd, ""},
        {"", 'A', ""},
    };
    for (const auto& c : cases) {
        Keys k;
        k.host(c.modes);
        k.keyboard.keyDown(c.key);
        const Bytes expected = bytes(c.expected);
        if (expected.empty()) {
            EXPECT_TRUE(k.link.sends.empty()) << "key " << c.key;
        } else {
            ASSERT_EQ(k.link.sends.size(), 1u) << "key " << c.key;
            EXPECT_EQ(k.link.sends[0], expected) << "key " << c.key << " after " << c.modes;
        }
    }
}

TEST(VtKeyboard, AStoredSlotCodeWinsOverTheBuiltInTranslation) {
    struct Case {
        int key;
        int slot;
        const char* code;
        const char* expected;
    };
    const Case cases[] = {
        {vk::kF1 + 4, 5, "\033OT", "\033OT"},       // mapped F5
        {vk::kF1 + 4, 5, "", "\033[15~"},           // unmapped F5: built in
        {vk::kHome, 21, "\033[V", "\033[V"},        // Fn+Left slot
        {vk::kBack, 25, "\x7f", "\x7f"},            // BS slot
        {vk::kSend, 27, "XYZ\r", "XYZ\r"},          // device Send key
        {vk::kF1, 1, "12345", "12345"},             // all five bytes
        {vk::kF1 + 15, 16, "\033[29~", "\033[29~"}  // F16 has no built-in bytes
    };
    for (const auto& c : cases) {
        Keys k;
        k.setSlot(c.slot, c.code);
        k.keyboard.keyDown(c.key);
        ASSERT_EQ(k.link.sends.size(), 1u) << c.expected;
        EXPECT_EQ(k.link.sends[0], bytes(c.expected));
    }
    // A code in an unused slot or in slot 0 is never read.
    Keys k;
    k.setSlot(0, "bad");
    k.setSlot(29, "bad");
    EXPECT_EQ(translateMappedKey(k.session.settings, 'A')[0], 0);
    EXPECT_EQ(keySlot(vk::kF20), 20);
    EXPECT_EQ(keySlot(vk::kDeviceEnd), 28);
}

TEST(VtKeyboard, ControlThenALetterSendsTheControlCharacter) {
    Keys k;
    k.keyboard.keyDown(vk::kControl);
    k.keyboard.keyDown('C');
    k.keyboard.character(0x03);
    // Without Control first, a control character from the platform is not sent.
    k.keyboard.keyDown('D');
    k.keyboard.character(0x04);
    k.keyboard.character('x');
    ASSERT_EQ(k.link.sends.size(), 2u);
    EXPECT_EQ(k.link.sends[0], Bytes{0x03});
    EXPECT_EQ(k.link.sends[1], Bytes{'x'});
}

TEST(VtKeyboard, NothingGoesOutWhileTheSocketIsClosed) {
    Keys k;
    k.link.open = false;
    k.keyboard.keyDown(vk::kF1);
    k.keyboard.character('a');
    EXPECT_TRUE(k.link.sends.empty());
}

TEST(VtKeyboard, LineBufferReturnSendsTheLineThenTheNewLineInTwoSends) {
    for (bool newLineMode : {false, true}) {
        Keys k;
        k.session.settings.lineBuffer = 1;
        if (newLineMode) k.host("\033[20h");
        k.host("\033[3;1H");
        for (char c : std::string("ab7"))
            k.keyboard.character(static_cast<std::uint8_t>(c));
        EXPECT_TRUE(k.link.sends.empty()) << "typed bytes stay local";
        EXPECT_EQ(k.row(2), "ab7");
        k.keyboard.keyDown(vk::kReturn);
        k.keyboard.character('\r');
        ASSERT_EQ(k.link.sends.size(), 2u);
        EXPECT_EQ(k.link.sends[0], bytes("ab7"));
        EXPECT_EQ(k.link.sends[1], newLineMode ? bytes("\r\n") : bytes("\r"));
        EXPECT_EQ(k.emulator.screen().cursorCol, 0) << "back to where the line started";
        EXPECT_TRUE(k.keyboard.lineText().empty());
    }
}

TEST(VtKeyboard, LineBufferBackspaceTabAndOverlongLines) {
    Keys k;
    k.session.settings.lineBuffer = 1;
    k.keyboard.keyDown(vk::kTab);
    k.keyboard.keyDown(vk::kBack);
    EXPECT_TRUE(k.link.sends.empty());
    k.keyboard.character('a');
    k.keyboard.character('b');
    k.keyboard.character(0x08);
    k.keyboard.character(0x08);
    k.keyboard.character(0x08);  // an empty line stays empty
    k.keyboard.character('c');
    EXPECT_EQ(std::string(k.keyboard.lineText().begin(), k.keyboard.lineText().end()), "c");
    EXPECT_EQ(k.row(0), "c");
    // More than a screen line: the rest is refused, nothing is written past the buffer.
    for (int i = 0; i < 200; ++i)
        k.keyboard.character('x');
    EXPECT_EQ(k.keyboard.lineText().size(), kLineBufferSize);
    k.keyboard.keyDown(vk::kReturn);
    ASSERT_EQ(k.link.sends.size(), 2u);
    EXPECT_EQ(k.link.sends[0].size(), kLineBufferSize);
}

TEST(VtKeyboard, LineBufferEnterOnTheLastRowsAsksForAFullRepaint) {
    for (int row : {22, 23, 24}) {
        Keys k;
        k.session.settings.lineBuffer = 1;
        k.host("\033[" + std::to_string(row) + ";1H");
        k.keyboard.keyDown(vk::kReturn);
        k.keyboard.character('\r');
        EXPECT_EQ(k.keyboard.takeLineBufferEnter(), row - 1 > 22) << "row " << row;
        EXPECT_FALSE(k.keyboard.takeLineBufferEnter());
    }
}

TEST(VtKeyboard, LocalEchoOnlyForSingleByteKeys) {
    struct Case {
        int key;
        int cursorColAfter;
        bool repainted;
    };
    const Case cases[] = {
        {vk::kTab, 8, true},  // one byte: echoed through the emulator
        {vk::kF1, 0, false},  // three bytes: not echoed
        {vk::kUp, 0, false},
        {vk::kF1 + 14, 0, false}  // nothing sent, nothing echoed
    };
    for (const auto& c : cases) {
        Keys k;
        k.session.settings.localEcho = 1;
        k.host("\033[1;1H\033H");  // a tab stop at column 0 only
        k.host("\033[1;9H\033H\033[1;1H");
        k.keyboard.keyDown(c.key);
        EXPECT_EQ(k.emulator.screen().cursorCol, c.cursorColAfter) << "key " << c.key;
        const bool repainted =
            std::find(k.view.events.begin(), k.view.events.end(), "repaint") != k.view.events.end();
        EXPECT_EQ(repainted, c.repainted) << "key " << c.key;
    }
}

TEST(VtKeyboard, LocalEchoOfTypedCharactersNeedsTheHostNotEchoing) {
    for (std::uint8_t active : {0, 1}) {
        Keys k;
        k.session.settings.localEcho = 1;
        k.session.localEchoActive = active;
        k.keyboard.character('h');
        k.keyboard.character('i');
        k.keyboard.character('\t');  // not sent, so not echoed either
        EXPECT_EQ(k.row(0), active ? "hi" : "");
        EXPECT_EQ(k.link.sends.size(), 2u);
    }
}

// A command line typed faster than the host answers: characters, then Return as a key-down,
// all before any echo comes back. A host that negotiated echoes the line itself; the line must
// stay whole behind the prompt either way.
TEST(VtKeyboard, ATypedLineStaysWholeWhetherTheHostEchoesOrNot) {
    struct Case {
        std::uint8_t localEchoActive;
        const char* hostAfterReturn;  // what the host sends back
        int cursorColAfterBack;       // a Backspace key-down is echoed only without the host's echo
    };
    const Case cases[] = {
        {0, "ls\r\nout\r\n$ ", 2},  // the host echoes (any telnet command turned echo off)
        {1, "\nout\r\n$ ", 1},      // the host does not echo: the terminal does
    };
    for (const auto& c : cases) {
        Keys k;
        k.session.settings.localEcho = 1;
        k.session.localEchoActive = c.localEchoActive;
        k.host("$ ");
        k.keyboard.character('l');
        k.keyboard.character('s');
        k.keyboard.keyDown(vk::kReturn);
        k.host(c.hostAfterReturn);
        EXPECT_EQ(k.row(0), "$ ls") << "echo active " << int(c.localEchoActive);
        EXPECT_EQ(k.row(1), "out");
        EXPECT_EQ(k.row(2), "$");
        EXPECT_EQ(k.link.sends, (std::vector<Bytes>{{'l'}, {'s'}, {'\r'}}));
        k.keyboard.keyDown(vk::kBack);
        EXPECT_EQ(k.emulator.screen().cursorCol, c.cursorColAfterBack);
    }
}

TEST(VtKeyboard, FullScreenEscapeNeedsThePrefixKey) {
    struct Case {
        std::vector<int> keys;
        bool fullScreen;
        int frameEscapes;
        Bytes sent;
    };
    const Case cases[] = {
        {{vk::kFullScreenPrefix, vk::kEscape}, true, 1, {}},
        {{vk::kEscape}, true, 0, {0x1B}},
        {{vk::kFullScreenPrefix}, true, 0, {}},
        {{vk::kFullScreenPrefix, vk::kTab, vk::kEscape}, true, 0, {0x09, 0x1B}},
        {{vk::kFullScreenPrefix, vk::kEscape}, false, 0, {0x1B}},
    };
    for (const auto& c : cases) {
        Keys k;
        k.session.settings.fullScreenOn.set(c.fullScreen ? 1 : 0);
        for (int key : c.keys)
            k.keyboard.keyDown(key);
        const auto escapes = std::count(k.view.events.begin(), k.view.events.end(), "frame escape");
        EXPECT_EQ(escapes, c.frameEscapes);
        Bytes all;
        for (const auto& send : k.link.sends)
            all.insert(all.end(), send.begin(), send.end());
        EXPECT_EQ(all, c.sent);
    }
}

}  // namespace
}  // namespace qn::vt
