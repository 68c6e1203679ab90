#pragma once
// The step language of the replay and session tools: one step a line, '#' starts a comment.
//
//   recv HEX                  the host's bytes as one receive (replay)
//   key VK                    a key-down (0x70 or 112); the session's key map decides
//   char TEXT                 each byte of TEXT as a character message
//   scan TEXT                 a barcode decode, through the session's decode handling
//   rfid UID [DATA]           an RFID read, assembled by the session's RFID output settings
//   fn N                      a key whose 5250 function is N (1-47); with the keyboard
//                             locked only 44 (Reset) and 25 (ATTN) act
//   tap ROW COL               a stylus tap on a cell (5250)
//   wait TEXT [--row R] [--timeout S]   until the screen shows TEXT (session)
//   wait ready [--timeout S] [--quiet MS]   until the host has answered: 5250, the keyboard
//                             unlocked or a read command came after the last AID; VT, no host
//                             byte for MS (300) (session)
//   expect ROW COL TEXT       the screen holds TEXT there now (session)
//   cursor ROW COL            the cursor is there now (session)
//   field N TEXT              field N (1-based, table order) holds TEXT, trailing blanks and
//                             nulls ignored (session, 5250)
//   sleep MS                  a pause (session)
//   dump [--text]             the report now: JSON, or the 24 screen rows (session)
//   disconnect                the operator's disconnect (session)
//
// Rows and columns count from 0, as in the reports. TEXT is the rest of the line after one
// blank, its trailing blanks dropped; \xHH gives any byte (\x20 a trailing blank, \x23 a '#',
// \x0D carriage return) and \\ a backslash. UID and DATA are single words with the same escapes.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qn::tools {

enum class StepKind : std::uint8_t {
    Recv,
    Key,
    Char,
    Scan,
    Rfid,
    Fn,
    Tap,
    Wait,
    Expect,
    Cursor,
    Field,
    Sleep,
    Dump,
    Disconnect,
};

// Which steps a tool takes.
class StepSet {
  public:
    constexpr StepSet(std::initializer_list<StepKind> kinds) {
        for (StepKind kind : kinds)
            bits_ |= bit(kind);
    }
    constexpr bool has(StepKind kind) const { return (bits_ & bit(kind)) != 0; }

  private:
    static constexpr std::uint32_t bit(StepKind kind) {
        return std::uint32_t{1} << static_cast<unsigned>(kind);
    }
    std::uint32_t bits_ = 0;
};

struct Step {
    StepKind kind = StepKind::Recv;
    int line = 0;
    // recv: the bytes; char, scan, wait, expect, field: the text; rfid: the UID.
    std::vector<std::uint8_t> text;
    std::vector<std::uint8_t> data;  // rfid: the user data
    // key: the virtual key; fn, field: N; tap, expect, cursor: the row; sleep: milliseconds.
    int first = 0;
    int second = 0;                                    // tap, expect, cursor: the column
    std::optional<int> row;                            // wait --row
    std::optional<std::chrono::milliseconds> timeout;  // wait --timeout
    bool asText = false;                               // dump --text
    bool ready = false;                                // wait ready
    std::optional<std::chrono::milliseconds> quiet;    // wait ready --quiet (VT)
};

struct Script {
    std::vector<Step> steps;
    std::string error;  // "line N: ..." when the script is not valid
    bool valid() const { return error.empty(); }
};

// The whole script, checked before anything runs; a step outside allowed is an error.
Script parseScript(std::string_view source, StepSet allowed);

// The name a step is written with.
std::string_view stepName(StepKind kind);

// What the operator's steps act on: a terminal's keyboard, reader and screen.
class OperatorInput {
  public:
    virtual ~OperatorInput() = default;
    virtual void key(int virtualKey) = 0;
    virtual void character(std::uint8_t c) = 0;
    virtual void scan(std::span<const std::uint8_t> decoded) = 0;
    virtual void rfid(std::span<const std::uint8_t> uid,
                      std::span<const std::uint8_t> userData) = 0;
    // 5250 only.
    virtual void function(int) {}
    virtual void tap(int, int) {}
};

// key, char, scan, rfid, fn and tap: the operator's input.
bool isInputStep(StepKind kind);
// Carries out an input step; false (nothing done) for any other step.
bool runInputStep(const Step& step, OperatorInput& input);

}  // namespace qn::tools
