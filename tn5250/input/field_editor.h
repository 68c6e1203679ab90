#pragma once
// The operator's side of the 5250 screen: key functions, typing into input fields under their
// shift and edit rules, cursor movement between fields, field exit with right adjustment, the
// sign keys, and the entry of scanned data. Nothing reaches the host until an AID key.
//
// Runs on the UI thread under the session lock, like the interpreter it shares the model with;
// its sends and alarms go through the same host, so a deferring host carries them out in order
// once the lock is released.

#include <cstdint>
#include <span>
#include <vector>

#include "tn5250/datastream/data_stream.h"
#include "tn5250/datastream/tn_host.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

// How a scan's entry ended.
enum class ScanEntry : std::uint8_t {
    Entered,  // typed into the fields (possibly cut to the field by the over-length rule)
    Refused,  // keyboard locked or the cursor in no field: the alarm was sounded
    TooLong,  // rule "Reject": nothing entered; the caller vibrates and shows "Data too long"
};

inline constexpr std::uint8_t kOverLengthReject = 0;
inline constexpr std::uint8_t kOverLengthTruncate = 1;
inline constexpr std::uint8_t kOverLengthSplit = 2;

class TnFieldEditor {
  public:
    TnFieldEditor(TnScreen& screen, TnDataStream& stream, const TnSession& session, TnHost& host)
        : screen_(screen), stream_(stream), session_(session), host_(host) {
        // A decode, its prefix and its suffix: a scan allocates nothing.
        text_.reserve(kScanTextReserve);
        piece_.reserve(kScanTextReserve);
    }

    // A key-down the view passes on. Returns whether the screen must be redrawn.
    bool keyDown(int virtualKey);
    // A character message (printable, or a control character 0x01-0x1A).
    bool typeChar(std::uint8_t byte);
    // Key function 1-47; other codes do nothing. Returns whether the screen must be redrawn.
    bool runFunction(int code);
    // One character into the current field. Returns whether an Enter AID went out.
    bool typeInField(std::uint8_t byte, bool autoAdvance);
    // The arrow keys: one position or one row, the mandatory checks deciding whether the cursor
    // may leave the current field.
    bool moveCursor(int virtualKey);
    // Scanned data (already checked): prefix, data and suffix into the fields.
    ScanEntry enterScannedData(std::span<const std::uint8_t> data);

    // The configured error sound and vibration.
    void alarm() { host_.alarm(); }

    // Whether the cursor is on a position of the current input field.
    bool cursorInCurrentField() const;

  private:
    bool inField() const { return screen_.state.currentField.isField(); }
    // The table entry of the current field (the current field is a copy of it).
    FieldEntry* currentEntry();
    void setModified();
    // Makes the entry current with the cursor on its first position.
    void enterField(const FieldEntry& entry);
    void nextField();
    void previousField();
    void firstField();

    // Cells of the current field that hold data: its first position to its last, the sign
    // position of a signed-numeric field left out.
    int dataEnd() const;
    // The last position in [first, last] holding a character; first - 1 when none does.
    int lastNonNull(int first, int last) const;
    void shiftLeft(int from, int last);
    void deleteChar();
    void backspace();
    void fieldExit();
    void fieldPlus();
    void fieldMinus();
    void cursorAfterLastNonBlank();
    void reset();
    void eraseInput();
    bool charAllowed(std::uint8_t byte, bool secondHalf) const;
    enum class Typed : std::uint8_t { Stored, Dropped, EnterSent };
    Typed typeOne(std::uint8_t byte, bool autoAdvance);

    // One piece of scanned text into the current field.
    enum class Piece : std::uint8_t { Continue, Stop, TooLong };
    Piece enterPiece(std::span<const std::uint8_t> piece);
    // Every cell of the current field nulled, MDT set, the cursor on its first position.
    void nullCurrentField();
    void applySuffix();

    static constexpr std::size_t kScanTextReserve = 512;

    TnScreen& screen_;
    TnDataStream& stream_;
    const TnSession& session_;
    TnHost& host_;
    std::vector<std::uint8_t> text_;
    std::vector<std::uint8_t> piece_;
};

}  // namespace qn::tn
