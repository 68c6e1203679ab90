#pragma once
// Decoded-data processing shared by both programs: fetching a decode into a bounded buffer, the
// barcode checks (leading code, length, partial code), the edits (character replacement,
// prefix, suffix, Enter) and the assembly of an RFID read. Where the programs differ (buffer
// size, message text, vibration before the message) a ProgramRules value says so.
//
// Everything here works on copies of the settings: callers copy them under the session lock
// and run the checks, the edits and the reader calls with it released.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "common/reader/settings_store.h"

namespace qn::platform {
class MessageBoxes;
}
namespace qn::device {
class DeviceLayer;
}

namespace qn::decode {

using reader::Bytes;

inline constexpr std::string_view kWrongLengthText = "Wrong Length! ";
inline constexpr std::string_view kInvalidationSettingText = "Invalidation Setting!!!";

// Where a program fetches a barcode from: GetOutputRecord(7, ...) or GetDecodeData.
enum class BarcodeSource { OutputRecord, DecodeData };

struct ProgramRules {
    BarcodeSource barcodeSource;
    // The data buffer handed to the reader library, its terminator included.
    std::size_t bufferSize;
    std::string_view wrongLeadingCodeText;
    // A leading-code or partial-code failure first vibrates for the error Vibrator duration.
    bool vibrateBeforeMessage;
};

inline constexpr ProgramRules kVtRules{BarcodeSource::OutputRecord, 260, "Wrong Leading Code! ",
                                       false};
inline constexpr ProgramRules kTnRules{BarcodeSource::DecodeData, 300, "Wrong Leading code! ",
                                       true};

inline constexpr std::size_t kPrefixSize = 40;
inline constexpr std::size_t kSuffixSize = 40;
inline constexpr std::size_t kLeadingCodeSize = 40;
inline constexpr std::size_t kReplaceSize = 9;

// The length a library call reported, bounded to what the buffer can hold before its
// terminator; a negative result is no data.
std::size_t boundedLength(int reported, std::size_t bufferSize);

// The text of a byte run: up to its first zero byte.
std::span<const std::uint8_t> textPart(std::span<const std::uint8_t> bytes);

// Clears buffer (resized to the rules' size) and fetches a barcode into it; returns the bounded
// data length, 0 when the operation is unbound.
std::size_t readBarcode(const reader::ReaderOperations& ops, const ProgramRules& rules,
                        std::vector<std::uint8_t>& buffer);

// ---- checks

struct CheckSettings {
    bool checkLeadingCode = false;
    Bytes<kLeadingCodeSize> leadingCode{};
    bool checkCodeLength = false;
    std::uint8_t codeLength = 0;
    bool readPartialCode = false;
    std::uint8_t startPosition = 1;  // 1-based
    std::uint8_t maximumLength = 0;
};

CheckSettings checkSettingsOf(const reader::ScanOutputSettings& scan);

enum class CheckFailure { None, LeadingCode, Length, PartialCode };

struct CheckResult {
    CheckFailure failure = CheckFailure::None;
    // The checked data as text (the cut of Read Partial Code when on); empty after a failure.
    std::span<const std::uint8_t> data;
};

// buffer is the whole zero-filled buffer the library wrote into; length is the data length it
// reported (already bounded). A leading code longer than the data meets the end of the data and
// fails.
CheckResult checkBarcode(std::span<const std::uint8_t> buffer, std::size_t length,
                         const CheckSettings& settings);

std::string_view failureText(CheckFailure failure, const ProgramRules& rules);

// Shows the failure's message box, vibrating first where the rules ask for it. Nothing for
// CheckFailure::None.
void reportFailure(CheckFailure failure, const ProgramRules& rules,
                   platform::MessageBoxes& messages, device::DeviceLayer& device,
                   int errorVibratorSteps);

// ---- edits

// Every non-overlapping occurrence of from, scanned left to right, replaced by to, appended to
// out. An empty from copies the text unchanged.
void replaceAll(std::span<const std::uint8_t> text, std::span<const std::uint8_t> from,
                std::span<const std::uint8_t> to, std::vector<std::uint8_t>& out);

struct EditSettings {
    Bytes<kReplaceSize> replaceFrom1{};
    Bytes<kReplaceSize> replaceTo1{};
    Bytes<kReplaceSize> replaceFrom2{};
    Bytes<kReplaceSize> replaceTo2{};
    bool prefixOn = false;
    Bytes<kPrefixSize> prefixCode{};
    bool suffixOn = false;
    Bytes<kSuffixSize> suffixCode{};
    bool autoEnter = false;
    // The emulator's new-line mode: Enter is CR LF when set, CR alone when reset.
    bool newLineMode = false;
};

// The longest result the edits can make of data of the given length: each replacement may
// grow every byte to a whole "to" text, then prefix, suffix and CR LF.
constexpr std::size_t maxEditedLength(std::size_t dataLength) {
    return dataLength * kReplaceSize * kReplaceSize + kPrefixSize + kSuffixSize + 2;
}

// Work space of the edits, kept by the caller so that a scan allocates nothing.
struct EditBuffers {
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
    void reserve(std::size_t dataLength);
};

// Replacements in order, prefix, suffix, Enter; the whole result lands in out (replaced).
void editScan(std::span<const std::uint8_t> data, const EditSettings& settings,
              EditBuffers& buffers, std::vector<std::uint8_t>& out);

// ---- RFID

struct RfidChoice {
    bool showUid = false;
    bool showUserData = false;
    std::int32_t maximumLength = 0;
    Bytes<reader::kRfidDelimiterSize> fieldDelimiter{};
};

RfidChoice rfidChoiceOf(const reader::RfidOutputSettings& rfid);

// The output of one read: the UID alone without user data; the UID, the delimiter's non-zero
// bytes and the user data with both; nothing when there is user data but no UID.
void assembleRfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData,
                  std::span<const std::uint8_t, reader::kRfidDelimiterSize> delimiter,
                  std::vector<std::uint8_t>& out);

// Reads what the choice asks for from the library into uidBuffer and dataBuffer (each resized
// to the rules' buffer size) and assembles the output into out. Unbound operations read
// nothing.
void readRfid(const reader::ReaderOperations& ops, const RfidChoice& choice,
              const ProgramRules& rules, std::vector<std::uint8_t>& uidBuffer,
              std::vector<std::uint8_t>& dataBuffer, std::vector<std::uint8_t>& out);

}  // namespace qn::decode
