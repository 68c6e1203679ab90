// The view's keyboard filter: the full-screen escape, what an unconnected view drops, which
// characters reach the editor, and that every call runs inside the session lock.

#include "tn5250/input/view_input.h"

#include <gtest/gtest.h>

#include "tests/tn5250/tn_test_support.h"
#include "tn5250/input/tn_keys.h"

namespace qn::tn {
namespace {

struct Rig : test::Terminal {
    Rig() {
        // One input field with the keyboard unlocked.
        feed(test::record(
            test::join({test::wtd(0x00, 0x08), test::sba(3, 10), test::sf(0x40, 0x00, 0x24, 5)})));
    }
    TnFieldEditor editor{*screen, stream, *session, host};
    int lockedCalls = 0;
    TnViewInput input{editor, [this](const std::function<void()>& operation) {
                          ++lockedCalls;
                          operation();
                      }};
};

TEST(ViewInput, FullScreenEscapeNeedsThePrefixFirst) {
    const struct {
        const char* name;
        bool fullScreen;
        std::vector<int> keys;
        bool leaves;
    } cases[] = {
        {"prefix then Escape", true, {vk::kFullScreenPrefix, vk::kEscape}, true},
        {"Escape alone", true, {vk::kEscape}, false},
        {"another key in between", true, {vk::kFullScreenPrefix, vk::kF1, vk::kEscape}, false},
        {"not in full screen", false, {vk::kFullScreenPrefix, vk::kEscape}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        TnViewInput::KeyResult last;
        for (int key : c.keys)
            last = rig.input.keyDown(key, c.fullScreen, true);
        EXPECT_EQ(last.leaveFullScreen, c.leaves);
        EXPECT_FALSE(rig.input.fullScreenEscArmed());
        // The escape is the frame's: the editor never saw it.
        if (c.leaves) {
            EXPECT_EQ(rig.lockedCalls, 0);
        }
    }
}

TEST(ViewInput, KeysReachTheEditorOnlyWhenConnected) {
    Rig rig;
    EXPECT_FALSE(rig.input.keyDown(vk::kF1, false, false).redraw);
    EXPECT_TRUE(rig.host.sends.empty());
    EXPECT_FALSE(rig.input.character('A', false));
    EXPECT_EQ(rig.lockedCalls, 0);

    EXPECT_TRUE(rig.input.keyDown(vk::kF1, false, true).redraw);
    EXPECT_EQ(rig.host.sends.size(), 1u);
    EXPECT_EQ(rig.lockedCalls, 1);
}

TEST(ViewInput, KeysWithoutAnEditorMeaningOnlyUpdateTheView) {
    for (int key : {int{'A'}, 0x10, 0x11, 0x84, vk::kFullScreenPrefix}) {
        Rig rig;
        EXPECT_FALSE(rig.input.keyDown(key, false, true).redraw) << key;
        EXPECT_EQ(rig.lockedCalls, 0) << key;
    }
    for (int key : {vk::kBack, vk::kTab, vk::kReturn, vk::kEscape, vk::kPageUp, vk::kDown,
                    vk::kInsert, vk::kDelete, vk::kF1, vk::kF20, vk::kSend, vk::kDeviceEnd}) {
        EXPECT_TRUE(TnViewInput::takesKeyDown(key)) << key;
    }
}

TEST(ViewInput, CharactersFilter) {
    const struct {
        std::uint8_t c;
        bool reaches;
    } cases[] = {{0x00, false}, {0x01, true},  {0x09, true},  {0x1A, true},
                 {0x1B, false}, {0x1F, false}, {0x20, true},  {'a', true},
                 {0x7E, true},  {0x7F, false}, {0x80, false}, {0xFF, false}};
    for (const auto& c : cases) {
        Rig rig;
        rig.input.character(c.c, true);
        EXPECT_EQ(rig.lockedCalls, c.reaches ? 1 : 0) << int(c.c);
    }
}

TEST(ViewInput, TypedTextLandsInTheField) {
    Rig rig;
    for (char c : std::string("ab"))
        rig.input.character(static_cast<std::uint8_t>(c), true);
    EXPECT_EQ(rig.text(2, 10, 3), "ab.");
}

}  // namespace
}  // namespace qn::tn
