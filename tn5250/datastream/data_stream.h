#pragma once
// The 5250 record assembler and data-stream interpreter. Bytes arrive one by one from the telnet
// layer; the GDS length cuts them into records; inside a record, commands (each after ESC) and
// the orders of a Write To Display are collected whole, then dispatched through the command and
// order tables. Replies leave through the host as framed records. Runs under the session lock.

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "tn5250/datastream/field_encoder.h"
#include "tn5250/datastream/records.h"
#include "tn5250/datastream/tn_host.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

inline constexpr std::uint8_t kEsc = 0x04;
inline constexpr std::size_t kParamSize = 456;
inline constexpr std::uint8_t kAidEnter = 0xF1;
inline constexpr std::uint8_t kAidStructuredField = 0x88;
inline constexpr std::uint8_t kAidNone = 0x00;  // a reply no key caused
inline constexpr std::uint8_t kOpcodeSaveScreen = 0x04;
inline constexpr std::uint8_t kOpcodeNoOperation = 0x00;

// How many bytes a command or order takes, code included.
struct LengthRule {
    enum Kind : std::uint8_t {
        Fixed,         // total bytes
        UpToEsc,       // to the next ESC or the record end
        ToRecordEnd,   // to the record end; ESC bytes belong to it
        LengthField,   // a big-endian field of `size` bytes at `offset` holds the rest
        StartOfField,  // 4 without a format word, else to 3 bytes past the control words
        ScreenImage,   // a saved screen of ours by its own length, anything else to record end
    };
    Kind kind = Fixed;
    std::uint8_t total = 0;
    std::uint8_t offset = 0;
    std::uint8_t size = 0;
    bool countsOwnSize = false;  // the length field's own bytes are not in its value
};

class TnDataStream {
  public:
    enum Phase : std::uint8_t { kHeader = 0, kWaitEsc = 1, kCommand = 2, kOrder = 4, kData = 5 };

    // language, loginName and loginPassword are read from the session when used.
    TnDataStream(TnScreen& screen, const TnSession& session, TnHost& host)
        : screen_(screen), session_(session), host_(host) {}

    // resetScreen: the screen model and the assembler start afresh (connect, disconnect).
    void resetScreen();

    // The record assembler's input: data bytes after the telnet layer, in order.
    void receive(std::span<const std::uint8_t> bytes);
    void dataByte(std::uint8_t byte);

    // The AID record of an attention identifier key, by the pending read mode.
    void sendAid(std::uint8_t aid);
    // The ATTN key's record.
    void sendAttention();
    // Automatic sign-on: the login name into the first field, the password into the second;
    // with both written, Enter is sent. True when Enter went out.
    bool trySignOn();

    Phase phase() const { return phase_; }
    // No part of a record has arrived since the last one ended.
    bool betweenRecords() const { return phase_ == kHeader && recordCount_ == 0; }
    std::uint8_t language() const { return session_.language; }
    TnScreen& screen() { return screen_; }
    // Read commands received since start-up; a scripting tool tells from it that the host asked.
    std::uint32_t readsReceived() const { return readsReceived_; }

    // Command actions.
    void clearUnit();
    void clearUnitAlternate();
    void clearFormatTable();
    void writeToDisplay();
    void writeErrorCode();
    void writeErrorCodeToWindow();
    void readInputFields();
    void readMdtFields();
    void readMdtAlternate();
    void readImmediate();
    void readModifiedImmediateAlternate();
    void readScreen();
    void saveScreen();
    void restoreScreen();
    void savePartialScreen();
    void restorePartialScreen();
    void roll();
    void writeStructuredField();
    void ignoreCommand() {}

    // Order actions.
    void setBufferAddress();
    void insertCursor();
    void moveCursor();
    void repeatToAddress();
    void eraseToAddress();
    void startOfHeader();
    void transparentData();
    void writeExtendedAttribute();
    void startOfField();
    void writeDisplayStructuredField();

    using Action = void (TnDataStream::*)();
    struct TableEntry {
        std::uint8_t code;
        LengthRule rule;
        Action action;
    };

  private:
    // Runs of Write To Display text, whole orders and the bytes up to the next ESC straight
    // from the receive; false when the byte at p needs the byte-by-byte path.
    bool fastPath(const std::uint8_t*& p, const std::uint8_t* end);
    // Text, an order's first byte, the bytes before an ESC and a command's bytes after its code
    // may run; header bytes, a command's code and an order's parameters go byte by byte.
    bool mayRun() const {
        return phase_ == kData || phase_ == kWaitEsc || (phase_ == kOrder && paramCount_ == 0) ||
               (phase_ == kCommand && paramCount_ > 0);
    }
    // How many of the bytes from p a command past its code takes as they come, with nothing
    // to decide until the last (up to an ESC, to the record's end, the rest of a screen
    // image); 0 when the next byte needs the byte-by-byte path.
    long commandRun(const std::uint8_t* p, const std::uint8_t* stop);
    // Takes them as commandByte would one by one, and runs an image that is complete.
    void takeCommandRun(const std::uint8_t* p, long run);
    // The text table of the session's language, rebuilt when the language changes.
    void headerByte(std::uint8_t byte);
    void commandByte(std::uint8_t byte);
    void orderByte(std::uint8_t byte);
    void writeDataByte(std::uint8_t byte);
    void endRecord();
    // A Write To Display is done when the next command begins or its record ends: the cursor
    // goes where its control characters and orders put it. Nothing else places the cursor.
    void finishWrite();

    void startOrder(std::uint8_t byte);
    void collect(std::uint8_t byte);
    void startCommand(const TableEntry* entry, const LengthRule& rule);
    // Known once enough bytes are present; -1 until then.
    long resolvedTotal();
    void runCommand();
    // A parameter byte by its offset, 0 where it was not kept.
    std::uint8_t param(long offset) const {
        return offset >= 0 && offset < kept() ? param_[std::size_t(offset)] : 0;
    }
    long kept() const { return std::min<long>(paramCount_, long(kParamSize)); }

    void applyControlCharacters();
    void writeMessageText(long from, long to);
    // (row byte, column byte) of an order, 1-based on the wire, to a linear position.
    static long wirePosition(std::uint8_t row, std::uint8_t column);
    void setAddress(std::uint8_t row, std::uint8_t column);

    // The kept reply buffer holding start, lent to one reply, which sendBorrowed sends and
    // hands back (a reply from inside a send finds it empty and allocates its own).
    std::vector<std::uint8_t> borrowBody(std::initializer_list<std::uint8_t> start);
    void sendBorrowed(std::vector<std::uint8_t>&& body, std::uint8_t flags = 0,
                      std::uint8_t opcode = kOpcodePutGet);
    void sendRecord(std::span<const std::uint8_t> body, std::uint8_t flags = 0,
                    std::uint8_t opcode = kOpcodePutGet);
    // Field data of every field (allFields) or of the modified ones, each behind an SBA order
    // when sbaPrefix; stops before the record would pass its largest size.
    void appendFields(std::vector<std::uint8_t>& body, bool allFields, bool sbaPrefix,
                      FieldDataOptions options) const;

    TnScreen& screen_;
    const TnSession& session_;
    TnHost& host_;

    Phase phase_ = kHeader;
    long recordLength_ = 0;
    long recordCount_ = 0;
    std::array<std::uint8_t, kParamSize> param_{};
    long paramCount_ = 0;  // bytes of the command or order so far, kept or not
    LengthRule rule_;
    const TableEntry* entry_ = nullptr;  // the command or order being collected, if known
    long fieldTotal_ = -1;               // a Start Of Field's total once its attribute byte is seen
    // A Write To Display whose cursor placement is still to come.
    bool writeOpen_ = false;
    std::uint32_t readsReceived_ = 0;
    // The bytes of a Restore Screen or Restore Partial Screen after its code, up to the
    // largest image; kept between records so that a restore allocates nothing after the first.
    std::vector<std::uint8_t> image_;
    // Reply buffers, kept so that a reply allocates nothing after the first.
    std::vector<std::uint8_t> body_;
    std::vector<std::uint8_t> wire_;
};

}  // namespace qn::tn
