#include "plugins/simreader/scan_protocol.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace qn::scan {

namespace {

constexpr std::uint8_t kRequestMagic[4] = {'Q', 'N', 'S', 'Q'};
constexpr std::uint8_t kReplyMagic[4] = {'Q', 'N', 'S', 'R'};

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The part of prefix that has arrived must match; a short read is not yet an error.
bool prefixMatches(std::span<const std::uint8_t> bytes, const std::uint8_t (&magic)[4]) {
    std::size_t n = std::min<std::size_t>(bytes.size(), 4);
    return std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), magic);
}

RequestParse invalidRequest(std::string error) {
    RequestParse result;
    result.status = ParseStatus::Invalid;
    result.error = std::move(error);
    return result;
}

std::string text(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset), length);
}

}  // namespace

RequestParse parseRequest(std::span<const std::uint8_t> bytes) {
    if (!prefixMatches(bytes, kRequestMagic)) return invalidRequest("not a scan request");
    if (bytes.size() > 4 && bytes[4] != kProtocolVersion) {
        return invalidRequest("unsupported protocol version");
    }
    if (bytes.size() > 5 && bytes[5] != static_cast<std::uint8_t>(DecodeKind::Barcode) &&
        bytes[5] != static_cast<std::uint8_t>(DecodeKind::Rfid)) {
        return invalidRequest("unknown decode kind");
    }
    if ((bytes.size() > 6 && bytes[6] != 0) || (bytes.size() > 7 && bytes[7] != 0)) {
        return invalidRequest("reserved bytes not zero");
    }
    if (bytes.size() < kRequestHeaderSize) return {};

    const auto kind = static_cast<DecodeKind>(bytes[5]);
    const std::uint32_t lengthA = le32(bytes.data() + 8);
    const std::uint32_t lengthB = le32(bytes.data() + 12);
    if (kind == DecodeKind::Barcode) {
        if (lengthA == 0) return invalidRequest("empty barcode");
        if (lengthA > kMaxBarcodeBytes) return invalidRequest("barcode too long");
        if (lengthB != 0) return invalidRequest("user data on a barcode");
    } else {
        if (lengthA == 0) return invalidRequest("empty RFID UID");
        if (lengthA > kMaxRfidUidBytes) return invalidRequest("RFID UID too long");
        if (lengthB > kMaxRfidDataBytes) return invalidRequest("RFID user data too long");
    }

    RequestParse result;
    result.size = kRequestHeaderSize + lengthA + lengthB;
    if (bytes.size() < result.size) return result;
    result.status = ParseStatus::Complete;
    result.request.kind = kind;
    result.request.data = text(bytes, kRequestHeaderSize, lengthA);
    result.request.userData = text(bytes, kRequestHeaderSize + lengthA, lengthB);
    return result;
}

ReplyParse parseReply(std::span<const std::uint8_t> bytes) {
    ReplyParse result;
    auto invalid = [&result](std::string error) {
        result.status = ParseStatus::Invalid;
        result.error = std::move(error);
        return result;
    };
    if (!prefixMatches(bytes, kReplyMagic)) return invalid("not a scan reply");
    if (bytes.size() > 4 && bytes[4] != kProtocolVersion) {
        return invalid("unsupported protocol version");
    }
    if (bytes.size() > 5 && bytes[5] > static_cast<std::uint8_t>(ReplyStatus::BadRequest)) {
        return invalid("unknown reply status");
    }
    if (bytes.size() < kReplyHeaderSize) return result;
    const std::size_t length = le16(bytes.data() + 6);
    if (length > kMaxReplyText) return invalid("reply text too long");
    result.size = kReplyHeaderSize + length;
    if (bytes.size() < result.size) return result;
    result.status = ParseStatus::Complete;
    result.reply.status = static_cast<ReplyStatus>(bytes[5]);
    result.reply.text = text(bytes, kReplyHeaderSize, length);
    return result;
}

std::vector<std::uint8_t> encodeRequest(const ScanRequest& request) {
    const bool barcode = request.kind == DecodeKind::Barcode;
    if (!barcode && request.kind != DecodeKind::Rfid) return {};
    if (request.data.empty()) return {};
    if (barcode && (request.data.size() > kMaxBarcodeBytes || !request.userData.empty())) return {};
    if (!barcode &&
        (request.data.size() > kMaxRfidUidBytes || request.userData.size() > kMaxRfidDataBytes)) {
        return {};
    }
    std::vector<std::uint8_t> out(std::begin(kRequestMagic), std::end(kRequestMagic));
    out.push_back(kProtocolVersion);
    out.push_back(static_cast<std::uint8_t>(request.kind));
    out.push_back(0);
    out.push_back(0);
    putLe32(out, static_cast<std::uint32_t>(request.data.size()));
    putLe32(out, static_cast<std::uint32_t>(request.userData.size()));
    out.insert(out.end(), request.data.begin(), request.data.end());
    out.insert(out.end(), request.userData.begin(), request.userData.end());
    return out;
}

std::vector<std::uint8_t> encodeReply(const ScanReply& reply) {
    const std::size_t length = std::min(reply.text.size(), kMaxReplyText);
    std::vector<std::uint8_t> out(std::begin(kReplyMagic), std::end(kReplyMagic));
    out.push_back(kProtocolVersion);
    out.push_back(static_cast<std::uint8_t>(reply.status));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.insert(out.end(), reply.text.begin(),
               reply.text.begin() + static_cast<std::ptrdiff_t>(length));
    return out;
}

std::string scanSocketPath(const std::filesystem::path& deviceRoot) {
    if (const char* path = std::getenv("QUILLNET_SCAN_SOCKET"); path != nullptr && *path != '\0') {
        return path;
    }
    // An installed device root is read-only: the socket goes to the user's runtime folder.
    if (::access(deviceRoot.c_str(), W_OK) == 0) return (deviceRoot / "scan.sock").string();
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/')
        return (std::filesystem::path(runtime) / "quillnet" / "scan.sock").string();
    return "/tmp/quillnet-" + std::to_string(::getuid()) + "/scan.sock";
}

bool prepareSocketFolder(const std::string& socketPath, const std::filesystem::path& deviceRoot) {
    const std::filesystem::path folder = std::filesystem::path(socketPath).parent_path();
    const char* named = std::getenv("QUILLNET_SCAN_SOCKET");
    if (folder.empty() || (named != nullptr && *named != '\0') || folder == deviceRoot) return true;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        if (::mkdir(folder.c_str(), 0700) != 0) return false;
        if (::lstat(folder.c_str(), &info) != 0) return false;
    }
    // Only a folder of this user's that no one else may write to: another user could otherwise
    // put a socket of theirs in the reader's place.
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool isRefusal(ReplyStatus status) {
    return status == ReplyStatus::TriggerOff || status == ReplyStatus::DeviceInactive ||
           status == ReplyStatus::NoTarget || status == ReplyStatus::ShuttingDown;
}

std::string_view statusName(ReplyStatus status) {
    switch (status) {
        case ReplyStatus::Delivered:
            return "delivered";
        case ReplyStatus::TriggerOff:
            return "trigger off";
        case ReplyStatus::DeviceInactive:
            return "device inactive";
        case ReplyStatus::NoTarget:
            return "no program registered";
        case ReplyStatus::ShuttingDown:
            return "reader halting";
        case ReplyStatus::BadRequest:
            return "bad request";
    }
    return "unknown";
}

}  // namespace qn::scan
