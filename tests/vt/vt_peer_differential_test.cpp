// The vt100 emulation beside libvterm on random host output: scroll regions and origin mode,
// line feeds and reverse index, BS, erasing, line and character editing, modes set several at
// a time, control strings, cursor save and restore, and cursor reports. After every piece both
// screens, cursors and replies must agree.
//
// The grammar leaves out what the program keeps on purpose and the peer does otherwise: its own
// default tab stops and line drawing. Text reaches the margin only in pieces that end by leaving
// the pending-wrap column with CR, CUB, a save and CR, a report and CR, or a restore, a
// character and CR. It also leaves out where libvterm departs from a VT100: CUU and CUD cross a
// region's margins and ICH and DCH do nothing outside it (these run only without a region), a
// mode sequence applies only its first parameter (one mode a sequence here), without autowrap
// the characters past the margin are dropped instead of overwriting it, the cursor report is
// absolute in origin mode (reports only outside it), and a restore keeps the current origin
// and autowrap modes and lets the cursor out of the region (restores only where both modes
// and, in origin mode, the region are as they were at the save, or without a save where both
// are off).

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/vt/vt_test_support.h"
#include "tests/vt/vterm_peer.h"

namespace qn::vt::test {
namespace {

class Grammar {
  public:
    explicit Grammar(std::uint32_t seed) : random_(seed) {}

    std::string piece() {
        switch (below(14)) {
            case 0:
            case 1: {  // text that stops short of the margin
                const int col = between(1, 70);
                return at(between(1, 24), col) + text(between(1, 80 - col - 1));
            }
            case 2: {  // text up to the margin, and over it when it wraps, then off the margin
                const int col = between(70, 80);
                return at(between(1, 24), col) +
                       text(between(1, autowrap_ ? 20 : kScreenColumns + 1 - col)) + offMargin();
            }
            case 3:
                return std::vector<std::string>{
                    "\r\n", "\n", "\r", "\033D", "\033M", "\033E"}[static_cast<std::size_t>(
                    below(6))];
            case 4:
                return std::string(static_cast<std::size_t>(between(1, 4)), '\b');
            case 5:
                return csi(std::to_string(below(3)), below(2) ? 'K' : 'J');
            case 6:
                return region();
            case 7:
                return modes();
            case 8:
                return csi(count(), below(2) ? 'L' : 'M');
            case 9:
                return at(between(1, 24), between(1, 80)) +
                       csi(count(), wholeScreen() ? "ABCDEF"[below(6)] : "CDEF"[below(4)]);
            case 10:
                return at(between(1, 24), between(1, 80)) +
                       csi(count(), wholeScreen() ? "@PX"[below(3)] : 'X');
            case 11:
                return controlString();
            case 12:
                return saveRestoreOrReport();
            default:
                return csi(below(2) ? "7" : "0", 'm') + text(between(0, 5));
        }
    }

    std::string autowrap(bool on) {
        autowrap_ = on;
        return csi("?7", on ? 'h' : 'l');
    }

  private:
    int below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    static std::string csi(const std::string& text, char final) { return "\033[" + text + final; }
    std::string count() { return below(4) ? std::to_string(between(0, 6)) : ""; }
    std::string at(int row, int col) {
        return csi(std::to_string(row) + ";" + std::to_string(col), below(2) ? 'H' : 'f');
    }
    std::string text(int length) {
        static constexpr std::string_view kChars = "abcdefghijklmnopqrstuvwxyz0123456789 .:-";
        std::string out;
        for (int i = 0; i < length; ++i)
            out += kChars[static_cast<std::size_t>(below(static_cast<int>(kChars.size())))];
        return out;
    }
    std::string region() {
        if (below(4) == 0) {
            top_ = 1;
            bottom_ = kScreenRows;
            return csi("", 'r');
        }
        top_ = between(1, 12);
        bottom_ = between(top_ + 1, kScreenRows);
        return csi(std::to_string(top_) + ";" + std::to_string(bottom_), 'r');
    }
    bool wholeScreen() const { return top_ == 1 && bottom_ == kScreenRows; }
    // Origin mode, autowrap, or the cursor-key mode as a bystander.
    std::string modes() {
        const bool set = below(2) != 0;
        const char mode = "671"[below(3)];
        if (mode == '7') autowrap_ = set;
        if (mode == '6') origin_ = set;
        return csi(std::string("?") + mode, set ? 'h' : 'l');
    }
    std::string save() {
        saved_ = true;
        savedOrigin_ = origin_;
        savedAutowrap_ = autowrap_;
        savedTop_ = top_;
        savedBottom_ = bottom_;
        return "\0337";
    }
    bool restoreAgrees() const {
        if (!saved_) return !origin_ && !autowrap_;
        return savedOrigin_ == origin_ && savedAutowrap_ == autowrap_ &&
               (!origin_ || (savedTop_ == top_ && savedBottom_ == bottom_));
    }
    std::string saveRestoreOrReport() {
        switch (below(3)) {
            case 0:
                return save();
            case 1:
                if (!restoreAgrees()) return save();
                return below(2) ? "\0338" : "\0338" + text(between(1, 3)) + "\r";
            default:
                return csi(origin_ ? "5" : "6", 'n');
        }
    }
    // Leaves the pending-wrap column (or the last one) for column 0 or one before it.
    std::string offMargin() {
        switch (below(5)) {
            case 0:  // a restore straight after the save leaves the wrap pending
                return save() + (below(2) ? "\0338" + text(1) : "") + "\r";
            case 1:
                return csi(origin_ ? "5" : "6", 'n') + "\r";
            case 2:
                return csi(std::to_string(between(1, 3)), 'D');
            case 3:
                if (restoreAgrees()) return "\0338" + text(1) + "\r";
                return "\r";
            default:
                return "\r";
        }
    }
    std::string controlString() {
        switch (below(3)) {
            case 0:
                return "\033]0;" + text(between(0, 30)) + "\007";
            case 1:
                return "\033]2;" + text(between(0, 30)) + "\033\\";
            default:
                return "\033P1$r" + text(between(0, 10)) + "\033\\";
        }
    }

    std::mt19937 random_;
    int top_ = 1;
    int bottom_ = kScreenRows;
    bool autowrap_ = false;
    bool origin_ = false;
    bool saved_ = false;
    bool savedOrigin_ = false;
    bool savedAutowrap_ = false;
    int savedTop_ = 1;
    int savedBottom_ = kScreenRows;
};

// The stream's last pieces, escaped, for the failure message.
std::string escaped(const std::vector<std::string>& pieces, std::size_t last) {
    std::string out;
    for (std::size_t i = pieces.size() > last ? pieces.size() - last : 0; i < pieces.size(); ++i) {
        for (unsigned char c : pieces[i]) {
            if (c == 0x1B) {
                out += "ESC";
            } else if (c < 0x20) {
                out += "^" + std::string(1, static_cast<char>(c + 0x40));
            } else {
                out += static_cast<char>(c);
            }
        }
        out += " | ";
    }
    return out;
}

TEST(VtPeerDifferential, RandomHostOutputAgreesWithLibvterm) {
    for (std::uint32_t seed = 1; seed <= 120; ++seed) {
        Grammar grammar(seed);
        VtSettings settings{};
        applyEmulatorDefaults(settings);
        RecordingVtHost host;
        VtEmulator emulator(settings, host);
        emulator.vtReset();
        VtermPeer peer;
        // The peer starts with autowrap on and the emulator with it off: the host says which.
        std::vector<std::string> pieces{grammar.autowrap(seed % 2 != 0)};
        for (int n = 0; n < 150; ++n) {
            const std::string& piece = pieces.back();
            emulator.feed(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size());
            peer.feed(piece);
            std::string diff = screenDifference(emulator.screen(), peer);
            const std::string replies = asText(host.sent());
            if (diff.empty() && replies != peer.output()) {
                diff = "replies: ours " + escaped({replies}, 1) + "libvterm " +
                       escaped({peer.output()}, 1);
            }
            if (!diff.empty()) {
                ADD_FAILURE() << "seed " << seed << ", piece " << n << ": " << diff
                              << "\nlast pieces: " << escaped(pieces, 8);
                break;
            }
            pieces.push_back(grammar.piece());
        }
    }
}

}  // namespace
}  // namespace qn::vt::test
