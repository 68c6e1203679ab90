#include "tests/bench/vt_streams.h"

#include <algorithm>
#include <random>

namespace qn::vt::bench {

namespace {

// std::mt19937 yields the same numbers everywhere; the modulo keeps the mapping ours too.
class Dice {
  public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    int below(int n) { return static_cast<int>(engine_() % static_cast<std::uint32_t>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }

  private:
    std::mt19937 engine_;
};

void appendWords(std::string& out, Dice& dice, int length) {
    static constexpr std::string_view kLetters = "etaoinshrdlucmfwypvbgkqjxzETAOIN0123456789";
    int written = 0;
    while (written < length) {
        const int word = std::min(dice.between(1, 9), length - written);
        for (int i = 0; i < word; ++i) {
            out +=
                kLetters[static_cast<std::size_t>(dice.below(static_cast<int>(kLetters.size())))];
        }
        written += word;
        if (written < length) {
            out += dice.below(8) == 0 ? static_cast<char>(".,:;-/()"[dice.below(8)]) : ' ';
            ++written;
        }
    }
}

void position(std::string& out, int row, int col) {
    out += "\033[" + std::to_string(row) + ';' + std::to_string(col) + 'H';
}

void plainPiece(std::string& out, Dice& dice) {
    appendWords(out, dice, dice.between(0, 79));
    out += "\r\n";
}

// One repaint of a data-entry form: title bar, labelled fields, a status line.
void fullScreenPiece(std::string& out, Dice& dice) {
    out += "\033[H\033[2J\033[7m";
    appendWords(out, dice, 80);
    out += "\033[0m";
    for (int row = 3; row <= 22; ++row) {
        position(out, row, 2);
        appendWords(out, dice, dice.between(6, 20));
        out += ':';
        position(out, row, 30);
        if (dice.below(3) == 0) {
            out += "\033[7m";
            appendWords(out, dice, dice.between(5, 30));
            out += "\033[0m";
        } else {
            appendWords(out, dice, dice.between(5, 40));
        }
        out += "\033[K";
    }
    position(out, 24, 1);
    out += "\033[7m";
    appendWords(out, dice, 60);
    out += "\033[0m\033[K";
    position(out, dice.between(3, 22), 30);
}

void cursorPiece(std::string& out, Dice& dice) {
    switch (dice.below(12)) {
        case 0:
            position(out, dice.between(1, 24), dice.between(1, 80));
            break;
        case 1:
            out += "\033[" + std::to_string(dice.between(1, 5)) + "ABCD"[dice.below(4)];
            break;
        case 2:
            out += "\033[" + std::to_string(dice.below(3)) + 'K';
            break;
        case 3:
            out += dice.below(4) == 0 ? "\033[J" : "\033[2K";
            break;
        case 4:
            out += "\0337";
            position(out, dice.between(1, 24), dice.between(1, 70));
            appendWords(out, dice, dice.between(1, 8));
            out += "\0338";
            break;
        case 5: {
            const int top = dice.between(1, 12);
            out += "\033[" + std::to_string(top) + ';' + std::to_string(dice.between(13, 24)) + 'r';
            for (int i = dice.between(1, 6); i > 0; --i) {
                appendWords(out, dice, dice.between(1, 10));
                out += "\n";
            }
            break;
        }
        case 6:
            out += "\033D\033D";
            break;
        case 7:
            out += "\033M";
            break;
        case 8:
            out += "\033[r";
            break;
        case 9:
            out += "\033[s\033[" + std::to_string(dice.between(1, 24)) + 'd' + "\033[u";
            break;
        default:
            appendWords(out, dice, dice.between(1, 12));
            break;
    }
}

// A box with a title, drawn with the line-drawing set, then a few text lines in it.
void lineDrawPiece(std::string& out, Dice& dice) {
    const int top = dice.between(1, 18);
    const int left = dice.between(1, 50);
    const int width = dice.between(10, 80 - left);
    const int height = dice.between(3, 24 - top);
    position(out, top, left);
    out += "\016l";
    out.append(static_cast<std::size_t>(width - 2), 'q');
    out += "k\017";
    for (int row = top + 1; row < top + height - 1; ++row) {
        position(out, row, left);
        out += "\016x\017";
        appendWords(out, dice, width - 2);
        out += "\016x\017";
    }
    position(out, top + height - 1, left);
    out += "\016m";
    out.append(static_cast<std::size_t>(width - 2), 'q');
    out += "j\017";
    if (dice.below(4) == 0) {
        position(out, top + 2, left);
        out += "\016t";
        out.append(static_cast<std::size_t>(width - 2), 'q');
        out += "u\017";
    }
}

}  // namespace

std::string makeStream(StreamKind kind, std::size_t bytes, std::uint32_t seed) {
    Dice dice(seed);
    std::string out;
    out.reserve(bytes + 4096);
    while (out.size() < bytes) {
        switch (kind) {
            case StreamKind::Plain:
                plainPiece(out, dice);
                break;
            case StreamKind::FullScreen:
                fullScreenPiece(out, dice);
                break;
            case StreamKind::Cursor:
                cursorPiece(out, dice);
                break;
            case StreamKind::LineDraw:
                lineDrawPiece(out, dice);
                break;
        }
    }
    out.resize(bytes);
    return out;
}

}  // namespace qn::vt::bench
