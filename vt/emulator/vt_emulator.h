#pragma once
// The VT100 emulator: turns the host's data bytes into the screen, answers status requests,
// recognises the host's reader commands and runs its device commands.
//
// Threads: the read thread feeds whole chunks, the UI thread echoes typed bytes through
// printChar/controlChar. Neither locks inside: the caller holds the session lock once per chunk
// (feed) or per echoed key, never per byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "vt/emulator/vt_host.h"
#include "vt/emulator/vt_screen.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

// The rules the emulator follows. Vt100: a DEC VT100's, as the host's terminal description
// promises. Classic: the rules of the handheld this program replaces, which host screens built
// for it may rely on: row addressing counts from the scroll region whenever one is set and
// CSI r puts the cursor below its top, BS blanks the cell it backs onto, some erase forms
// return the carriage, a mode sequence is read as one number, control strings are printed, a
// cursor restore leaves the modes alone and puts the cursor back past the last column when it
// was saved there, a cursor report counts that column as the 81st, a line feed keeps a wrap
// waiting, and a count of 0 deletes, erases or moves nothing in DL, DCH, ECH, CNL and CPL.
enum class VtEmulation : std::uint8_t { Vt100, Classic };

// "vt100" or "classic", as a connection file or a command line names them.
std::optional<VtEmulation> parseVtEmulation(std::string_view name);
std::string_view vtEmulationName(VtEmulation emulation);

// What controlChar tells the byte entry.
enum class ControlResult { None, Escape, Cancel };

enum ParserState : std::int32_t {
    kGround = 0,
    kEscape = 1,
    kControlSequence = 2,
    kEscapeIntermediate = 3,
    // Vt100 only: inside DCS, OSC, APC, PM or SOS, and just after an ESC inside one.
    kControlString = 4,
    kControlStringEscape = 5,
};

inline constexpr std::size_t kSeqBufferSize = 256;
// Collected text longer than this is dropped byte by byte; the sequence still ends at its
// final. Room is left for the leading '[' and the final of the host-command text.
inline constexpr std::size_t kSeqCapacity = kSeqBufferSize - 2;
// A device command looks at this many numbers at most.
inline constexpr int kMaxDeviceNumbers = 255;
// Digits of one device-command number that are looked at.
inline constexpr int kMaxDeviceNumberChars = 19;

// A control string without its terminator is given up after this many bytes, so a lost ST
// cannot hide the host's output for the rest of the session.
inline constexpr std::uint32_t kMaxControlString = 4096;

inline constexpr char kAnswerback[] = "qarnebt";

class VtEmulator {
  public:
    // settings is read live (host commands, feedback choices) and written (localEcho).
    VtEmulator(VtSettings& settings, VtHost& host);
    VtEmulator(const VtEmulator&) = delete;
    VtEmulator& operator=(const VtEmulator&) = delete;

    // One received chunk of data bytes, in order. The caller holds the session lock.
    void feed(const std::uint8_t* data, std::size_t length);
    void feed(std::span<const std::uint8_t> bytes) { feed(bytes.data(), bytes.size()); }
    // One data byte: the telnet filter's data sink. A filter should hand over runs of data
    // bytes through feed instead: each call here rereads the host commands.
    void vtReceiveByte(std::uint8_t byte);

    // Vt100 until told otherwise; chosen per host before the connect and kept by vtReset.
    void setEmulation(VtEmulation emulation);
    VtEmulation emulation() const { return emulation_; }

    // At every connect. The parser state and a sequence in progress survive it; the telnet
    // side's sgaAgreed is set by the connect that calls this.
    void vtReset();
    // Character output, also for local echo.
    void printChar(std::uint8_t c);
    // C0 controls, also for local echo of one-byte keys.
    ControlResult controlChar(std::uint8_t c);
    // The local line editor's erase: back one cell and blank it, whatever the emulation.
    void backOverCell();
    // The teardown blanks the characters only.
    void clearScreenChars();

    const VtScreen& screen() const { return screen_; }
    std::int32_t parserState() const { return parserState_; }
    std::span<const std::uint8_t> seqText() const { return {seqBuffer_.data(), seqLength_}; }

  private:
    using Text = std::span<const std::uint8_t>;
    using CsiHandler = void (VtEmulator::*)(Text text);
    struct CsiFinalEntry {
        std::uint8_t final;
        CsiHandler handler;
    };
    // Ordered, ending with final 0; the first entry with the final wins.
    static const CsiFinalEntry CsiFinalTable[];

    // A stored host command as compared: the text from its second byte on.
    struct HostCommand {
        const std::uint8_t* text = nullptr;
        std::size_t length = 0;
    };

    void loadHostCommands();
    const std::uint8_t* printRun(const std::uint8_t* p, const std::uint8_t* end);
    const std::uint8_t* collectSequence(const std::uint8_t* p, const std::uint8_t* end);
    void receiveByte(std::uint8_t byte);
    void openControlSequence(std::uint8_t introducer) {
        seqLength_ = 0;
        seqIntroducer_ = introducer;
        parserState_ = kControlSequence;
    }
    void appendSeq(std::uint8_t byte);
    void endControlSequence(std::uint8_t final);
    bool matchHostCommand(std::uint8_t final);
    void escapeFinal(std::uint8_t byte);
    void c1Control(std::uint8_t code);
    void intermediateFinal(std::uint8_t final);
    void privateFunction(std::uint8_t byte);
    const std::uint8_t* consumeControlString(const std::uint8_t* p, const std::uint8_t* end);
    bool classic() const { return emulation_ == VtEmulation::Classic; }

    // Screen primitives; rows are 0-based.
    std::uint8_t* charsAt(int row, int col) {
        return screen_.screenChars.data() + static_cast<std::size_t>(row) * kScreenColumns +
               static_cast<std::size_t>(col);
    }
    std::uint8_t* reverseAt(int row, int col) {
        return screen_.reverseBits.data() + static_cast<std::size_t>(row) * kScreenColumns +
               static_cast<std::size_t>(col);
    }
    int topLine() const { return screen_.noRegion ? 0 : screen_.regionTop - 1; }
    int bottomLine() const { return screen_.noRegion ? kScreenRows - 1 : screen_.regionBottom - 1; }
    void clearCells(int row, int fromCol, int toCol);  // [fromCol, toCol), chars and reverse
    void clearRows(int fromRow, int toRow);            // [fromRow, toRow)
    void moveRows(int toRow, int fromRow, int count);
    void scrollUp();
    void scrollDown();
    void index();  // one line down, scrolling at the bottom line of the region
    void lineFeed();
    void wrapAtMargin();
    void insertBlanks(int count);
    void send(const char* text, std::size_t length);
    void feedback(const LeInt32& vibrator, const LeInt32& beeper);
    void saveCursor();
    void restoreCursor();
    void restoreCursorVt100();
    // A VT100's cursor waits on the last column for the wrap, and a cursor move or line feed
    // ends the wait.
    void dropPendingWrap() {
        if (screen_.cursorCol >= kScreenColumns && !classic())
            screen_.cursorCol = kScreenColumns - 1;
    }
    int editCount(Text text, int limit) const;

    // CsiFinalTable handlers.
    void selectGraphicRendition(Text text);
    void cursorPosition(Text text);
    void eraseInLine(Text text);
    void eraseInDisplay(Text text);
    void cursorUp(Text text);
    void cursorDown(Text text);
    void cursorForward(Text text);
    void cursorBackward(Text text);
    void insertLines(Text text);
    void repeatCharacter(Text text);
    void cursorColumn(Text text);
    void deleteCharacters(Text text);
    void eraseCharacters(Text text);
    void insertCharacters(Text text);
    void cursorRowAbsolute(Text text);
    void setMode(Text text);
    void resetMode(Text text);
    void deviceStatus(Text text);
    void mediaCopy(Text text);
    void deleteLines(Text text);
    void setScrollRegion(Text text);
    void deviceAttributes(Text text);
    void nextLine(Text text);
    void previousLine(Text text);
    void saveCursorSequence(Text text);
    void restoreCursorSequence(Text text);
    void clearTabStop(Text text);
    void terminalParameters(Text text);
    void deviceCommand(Text text);
    void changeMode(Text text, bool set);
    void changeOneMode(bool isPrivate, std::uint32_t mode, bool set);
    void eraseInLineVt100(int selector);
    void eraseInDisplayVt100(int selector);
    void setScrollRegionVt100(std::int32_t top, std::int32_t bottom);
    void moveToHome();

    VtSettings& settings_;
    VtHost& host_;
    VtScreen screen_;
    VtEmulation emulation_ = VtEmulation::Vt100;

    // False only while every reverse flag is 0, so row moves and clears can skip that plane.
    bool reverseAny_ = false;

    std::int32_t parserState_ = kGround;
    std::array<std::uint8_t, kSeqBufferSize> seqBuffer_{};
    std::uint8_t seqLength_ = 0;
    std::uint8_t seqIntroducer_ = 0;
    bool stringEndsAtBel_ = false;  // OSC: BEL ends it as ST does
    std::uint32_t controlStringLength_ = 0;

    bool triggerByEscCmd_ = false;
    std::array<HostCommand, 4> hostCommands_{};  // enable, disable, good, error
    std::uint64_t commandLengths_ = 0;           // bit n: some command is n bytes long
    static_assert(reader::kHostCommandSize <= 64);
    std::array<CsiHandler, 128> csiHandlers_{};  // CsiFinalTable by final byte
};

}  // namespace qn::vt
