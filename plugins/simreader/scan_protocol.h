#pragma once
// The scan socket's wire format, shared by the simulated reader and quillnet-scan.
//
// Request (client → reader), all integers little-endian:
//   0  4  magic "QNSQ"
//   4  1  version (1)
//   5  1  kind: 1 barcode, 2 RFID
//   6  2  reserved, zero
//   8  4  length A: barcode data (1..kMaxBarcodeBytes) or RFID UID (1..kMaxRfidUidBytes)
//  12  4  length B: 0 for a barcode, RFID user data (0..kMaxRfidDataBytes)
//  16     A bytes, then B bytes (raw bytes, any values)
//
// Reply (reader → client), one per request, then the reader closes the connection:
//   0  4  magic "QNSR"
//   4  1  version (1)
//   5  1  status (ReplyStatus)
//   6  2  text length (0..kMaxReplyText)
//   8     text: why a decode was refused, or a note on a delivered one
//
// Every length is checked against its bound before anything is read or allocated for it.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qn::scan {

inline constexpr std::size_t kRequestHeaderSize = 16;
inline constexpr std::size_t kReplyHeaderSize = 8;
inline constexpr std::size_t kMaxBarcodeBytes = 4096;
inline constexpr std::size_t kMaxRfidUidBytes = 64;
inline constexpr std::size_t kMaxRfidDataBytes = 1024;
inline constexpr std::size_t kMaxReplyText = 200;
inline constexpr std::size_t kMaxRequestSize =
    kRequestHeaderSize + kMaxBarcodeBytes + kMaxRfidDataBytes;
inline constexpr std::uint8_t kProtocolVersion = 1;

enum class DecodeKind : std::uint8_t { Barcode = 1, Rfid = 2 };

struct ScanRequest {
    DecodeKind kind = DecodeKind::Barcode;
    std::string data;      // the barcode, or the RFID UID
    std::string userData;  // RFID user data; empty for a barcode
    bool operator==(const ScanRequest&) const = default;
};

enum class ReplyStatus : std::uint8_t {
    Delivered = 0,
    TriggerOff = 1,      // refused: the scan trigger is off
    DeviceInactive = 2,  // refused: the barcode or RFID device is not active
    NoTarget = 3,        // refused: no program registered for decodes
    ShuttingDown = 4,    // refused: the reader is halting
    BadRequest = 5,      // the request did not parse
};

struct ScanReply {
    ReplyStatus status = ReplyStatus::Delivered;
    std::string text;
    bool operator==(const ScanReply&) const = default;
};

enum class ParseStatus {
    Complete,  // a whole message: value and size are set
    NeedMore,  // valid so far; size is the whole message's size once the header is known
    Invalid,   // error says why; the connection is dropped
};

struct RequestParse {
    ParseStatus status = ParseStatus::NeedMore;
    ScanRequest request;
    std::size_t size = 0;
    std::string error;
};

struct ReplyParse {
    ParseStatus status = ParseStatus::NeedMore;
    ScanReply reply;
    std::size_t size = 0;
    std::string error;
};

// Pure functions of the bytes received so far; bytes past one message are left alone.
RequestParse parseRequest(std::span<const std::uint8_t> bytes);
ReplyParse parseReply(std::span<const std::uint8_t> bytes);

// Empty when the request breaks a bound (an empty barcode or UID, a length too large, user data
// on a barcode).
std::vector<std::uint8_t> encodeRequest(const ScanRequest& request);
// A text longer than kMaxReplyText is cut.
std::vector<std::uint8_t> encodeReply(const ScanReply& reply);

// Where a reader listens and quillnet-scan connects: QUILLNET_SCAN_SOCKET, else scan.sock in the
// device root when this user may write there, else $XDG_RUNTIME_DIR/quillnet/scan.sock, else
// /tmp/quillnet-UID/scan.sock.
std::string scanSocketPath(const std::filesystem::path& deviceRoot);
// For a socket in the runtime folder: makes its folder (0700) when missing; false when it cannot
// be made or is not this user's alone. True at once for the device root and a named socket.
bool prepareSocketFolder(const std::string& socketPath, const std::filesystem::path& deviceRoot);

bool isRefusal(ReplyStatus status);
std::string_view statusName(ReplyStatus status);

}  // namespace qn::scan
