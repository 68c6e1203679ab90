#pragma once
// The reader settings inside both programs' session records: scanned-data output, RFID output
// and the scan engines' values mirrored from the reader library, with their defaults and the
// copy between the record and the library.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/reader/engine_operations.h"
#include "common/reader/reader_abi.h"
#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "platform/message_box.h"

namespace qn::reader {

enum class Program { Vt, Tn };

inline constexpr std::size_t kHostCommandSize = 46;
inline constexpr std::size_t kMacroFrameSize = 10;
inline constexpr std::size_t kRfidDelimiterSize = 9;

struct RfidOutputSettings {
    LeInt32 showRfidUid;
    LeInt32 showRfidUserData;
    LeInt32 rfidStartPosition;
    LeInt32 rfidMaximumLength;
    Bytes<kRfidDelimiterSize> rfidFieldDelimiter;
    Bytes<3> reserved25;
    LeInt32 rfidDecodeTimeout;
    Bytes<QN_RFID_LIBRARY_BLOCK_SIZE> rfidLibraryBlock;
    Bytes<2> reserved50;
    LeInt32 rfidLibraryValue;
};

static_assert(offsetof(RfidOutputSettings, showRfidUid) == 0);
static_assert(offsetof(RfidOutputSettings, showRfidUserData) == 4);
static_assert(offsetof(RfidOutputSettings, rfidStartPosition) == 8);
static_assert(offsetof(RfidOutputSettings, rfidMaximumLength) == 12);
static_assert(offsetof(RfidOutputSettings, rfidFieldDelimiter) == 16);
static_assert(offsetof(RfidOutputSettings, reserved25) == 25);
static_assert(offsetof(RfidOutputSettings, rfidDecodeTimeout) == 28);
static_assert(offsetof(RfidOutputSettings, rfidLibraryBlock) == 32);
static_assert(offsetof(RfidOutputSettings, reserved50) == 50);
static_assert(offsetof(RfidOutputSettings, rfidLibraryValue) == 52);
static_assert(sizeof(RfidOutputSettings) == 56);

// The engines' values, one run per operation; where each run sits depends on the program.
inline constexpr std::size_t kEngineValueCount = (kVtEngineEnd - kVtEngineBegin) / 4;
static_assert(kTnEngineEnd - kTnEngineBegin == kVtEngineEnd - kVtEngineBegin);

struct EngineSettings {
    std::array<LeInt32, kEngineValueCount> values;
};
static_assert(sizeof(EngineSettings) == 1632);

// Offset of an operation's first value inside EngineSettings.
constexpr std::size_t engineRunOffset(const EngineOperation& op, Program program) {
    return program == Program::Vt ? static_cast<std::size_t>(op.vtOffset - kVtEngineBegin)
                                  : static_cast<std::size_t>(op.tnOffset - kTnEngineBegin);
}

// The run of values of one operation.
std::span<LeInt32> engineRun(EngineSettings& engine, const EngineOperation& op, Program program);
std::span<const LeInt32> engineRun(const EngineSettings& engine, const EngineOperation& op,
                                   Program program);

// The scanned-data output fields that both records have, wherever each record keeps them.
struct ScanOutputSettings {
    Bytes<QN_LIBRARY_DEFAULTS_SIZE>& libraryDefaults;  // byte 1 is activeDeviceByte
    std::uint8_t& prefixOn;
    Bytes<40>& prefixCode;
    std::uint8_t& suffixOn;
    Bytes<40>& suffixCode;
    std::uint8_t& checkLeadingCode;
    Bytes<40>& leadingCode;
    std::uint8_t& checkCodeLength;
    std::uint8_t& codeLength;
    std::uint8_t& readPartialCode;
    std::uint8_t& startPosition;
    std::uint8_t& maximumLength;
    LeInt32& goodBeeper;
    LeInt32& goodVibrator;
    LeInt32& errorBeeper;
    LeInt32& errorVibrator;
    std::uint8_t& rfidReaderOn;
    std::uint8_t& barcodeReaderOn;
};

// Fields that only the VT record has and that the reader defaults set.
struct VtReaderExtras {
    Bytes<kHostCommandSize>& enableCommand;
    Bytes<kHostCommandSize>& disableCommand;
    LeInt32& scanBeeper;
    LeInt32& scanVibrator;
    std::uint8_t& autoEnter;
    Bytes<kMacroFrameSize>& macroFrame;
};

// The reader settings of one session record.
struct ReaderSettings {
    Program program;
    ScanOutputSettings scan;
    RfidOutputSettings& rfid;
    EngineSettings& engine;
    std::optional<VtReaderExtras> vt;  // VT record only
};

inline constexpr char kReadFromLibrary = 'r';
inline constexpr char kWriteToLibrary = 'w';

inline constexpr std::string_view kDllDefaultsFailed = "Failed to get DLL default setting!!";

// The order in which a program walks the engine groups.
std::span<const std::uint32_t> engineGroupOrder(Program program);

// Copies the engine values and the RFID values between the record and the library: 'r' lets
// the library write its values into the record, 'w' gives it the record's values. Only the
// groups of the library's reader type are touched; unresolved operations are skipped. Any
// other mode does nothing.
void syncEngineSettings(const ReaderLibrary& reader, const ReaderSettings& settings, char mode);

// The reader's factory defaults: the library's default block and engine values, then the
// program's own reader defaults. The session defaults run the same steps. Fields outside the
// defaults (prefix, suffix, checks, ...) keep their values.
void resetReaderSettings(const ReaderLibrary& reader, platform::MessageBoxes& messages,
                         const ReaderSettings& settings);

// The named fields of RfidOutputSettings, offsets relative to its start.
std::span<const FieldInfo> rfidOutputFields();

// A session record's field list made whole: the RFID output fields at rfidOffset added, then
// every field in offset order.
void completeRecordFields(std::vector<FieldInfo>& fields, std::size_t rfidOffset);

}  // namespace qn::reader
