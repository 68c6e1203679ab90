#include "plugins/simreader/scan_protocol.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qn::scan {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

void putLe32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A request header written by hand, so that the tests do not lean on the encoder.
Bytes header(std::uint8_t kind, std::uint32_t lengthA, std::uint32_t lengthB,
             std::uint8_t version = 1, std::string_view magic = "QNSQ") {
    Bytes out = bytesOf(magic);
    out.push_back(version);
    out.push_back(kind);
    out.push_back(0);
    out.push_back(0);
    putLe32(out, lengthA);
    putLe32(out, lengthB);
    return out;
}

Bytes firstBytes(Bytes bytes, std::size_t count) {
    bytes.resize(count);
    return bytes;
}

Bytes concat(Bytes a, std::string_view tail) {
    a.insert(a.end(), tail.begin(), tail.end());
    return a;
}

struct RequestCase {
    const char* name;
    Bytes bytes;
    ParseStatus status;
    ScanRequest request;  // when Complete
    std::size_t size;     // Complete, or NeedMore once the header is known (else 0)
};

class RequestTable : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTable, Parses) {
    const RequestCase& c = GetParam();
    RequestParse parsed = parseRequest(c.bytes);
    EXPECT_EQ(parsed.status, c.status);
    EXPECT_EQ(parsed.size, c.size);
    if (c.status == ParseStatus::Complete) {
        EXPECT_EQ(parsed.request, c.request);
    }
    if (c.status == ParseStatus::Invalid) {
        EXPECT_FALSE(parsed.error.empty());
    }
}

const std::string kMaxBarcode(kMaxBarcodeBytes, 'B');

INSTANTIATE_TEST_SUITE_P(
    ScanProtocol, RequestTable,
    ::testing::Values(
        RequestCase{"barcode", concat(header(1, 6, 0), "ABC123"), ParseStatus::Complete,
                    {DecodeKind::Barcode, "ABC123", ""}, 22},
        RequestCase{"barcode_control_bytes", concat(header(1, 3, 0), std::string("\0\r\x1b", 3)),
                    ParseStatus::Complete,
                    {DecodeKind::Barcode, std::string("\0\r\x1b", 3), ""}, 19},
        RequestCase{"barcode_longest", concat(header(1, kMaxBarcodeBytes, 0), kMaxBarcode),
                    ParseStatus::Complete, {DecodeKind::Barcode, kMaxBarcode, ""},
                    16 + kMaxBarcodeBytes},
        RequestCase{"rfid_uid_and_data", concat(header(2, 2, 3), "\x04\xA1XYZ"),
                    ParseStatus::Complete, {DecodeKind::Rfid, "\x04\xA1", "XYZ"}, 21},
        RequestCase{"rfid_uid_only", concat(header(2, 4, 0), "\xDE\xAD\xBE\xEF"),
                    ParseStatus::Complete, {DecodeKind::Rfid, "\xDE\xAD\xBE\xEF", ""}, 20},
        RequestCase{"trailing_bytes_left_alone", concat(header(1, 1, 0), "AQNSQ"),
                    ParseStatus::Complete, {DecodeKind::Barcode, "A", ""}, 17},
        RequestCase{"empty", {}, ParseStatus::NeedMore, {}, 0},
        RequestCase{"magic_only", bytesOf("QNSQ"), ParseStatus::NeedMore, {}, 0},
        RequestCase{"header_truncated", firstBytes(header(1, 6, 0), 15),
                    ParseStatus::NeedMore, {}, 0},
        RequestCase{"payload_truncated", concat(header(1, 6, 0), "ABC"), ParseStatus::NeedMore,
                    {}, 22},
        RequestCase{"rfid_data_truncated", concat(header(2, 2, 3), "\x04\xA1X"),
                    ParseStatus::NeedMore, {}, 21},
        RequestCase{"garbage", bytesOf("GET / HTTP/1.1\r\n\r\n"), ParseStatus::Invalid, {}, 0},
        RequestCase{"garbage_first_byte", bytesOf("X"), ParseStatus::Invalid, {}, 0},
        RequestCase{"reply_magic", concat(header(1, 1, 0, 1, "QNSR"), "A"), ParseStatus::Invalid,
                    {}, 0},
        RequestCase{"bad_version", concat(header(1, 1, 0, 2), "A"), ParseStatus::Invalid, {}, 0},
        RequestCase{"bad_kind", concat(header(3, 1, 0), "A"), ParseStatus::Invalid, {}, 0},
        RequestCase{"kind_zero", concat(header(0, 1, 0), "A"), ParseStatus::Invalid, {}, 0},
        RequestCase{"reserved_not_zero",
                    [] {
                        Bytes b = concat(header(1, 1, 0), "A");
                        b[7] = 1;
                        return b;
                    }(),
                    ParseStatus::Invalid, {}, 0},
        RequestCase{"empty_barcode", header(1, 0, 0), ParseStatus::Invalid, {}, 0},
        RequestCase{"barcode_too_long", header(1, kMaxBarcodeBytes + 1, 0), ParseStatus::Invalid,
                    {}, 0},
        RequestCase{"barcode_10_megabytes", header(1, 10u << 20, 0), ParseStatus::Invalid, {}, 0},
        RequestCase{"barcode_length_all_ones", header(1, 0xFFFFFFFFu, 0), ParseStatus::Invalid,
                    {}, 0},
        RequestCase{"barcode_with_user_data", concat(header(1, 1, 1), "AB"), ParseStatus::Invalid,
                    {}, 0},
        RequestCase{"empty_uid", header(2, 0, 4), ParseStatus::Invalid, {}, 0},
        RequestCase{"uid_too_long", header(2, kMaxRfidUidBytes + 1, 0), ParseStatus::Invalid, {},
                    0},
        RequestCase{"rfid_data_too_long", header(2, 4, kMaxRfidDataBytes + 1),
                    ParseStatus::Invalid, {}, 0},
        RequestCase{"rfid_data_all_ones", header(2, 4, 0xFFFFFFFFu), ParseStatus::Invalid, {},
                    0}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST(ScanProtocol, EncodedRequestsParseBack) {
    const ScanRequest requests[] = {
        {DecodeKind::Barcode, "4006381333931", ""},
        {DecodeKind::Barcode, std::string("\0\x01\xff", 3), ""},
        {DecodeKind::Barcode, kMaxBarcode, ""},
        {DecodeKind::Rfid, "\xE0\x04\x01\x00", ""},
        {DecodeKind::Rfid, std::string(kMaxRfidUidBytes, 'U'), std::string(kMaxRfidDataBytes, 'D')},
    };
    for (const ScanRequest& request : requests) {
        Bytes bytes = encodeRequest(request);
        ASSERT_FALSE(bytes.empty());
        RequestParse parsed = parseRequest(bytes);
        EXPECT_EQ(parsed.status, ParseStatus::Complete);
        EXPECT_EQ(parsed.size, bytes.size());
        EXPECT_EQ(parsed.request, request);
        // Every proper prefix is "need more", never an error.
        for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
            EXPECT_EQ(parseRequest(std::span(bytes.data(), cut)).status, ParseStatus::NeedMore);
        }
    }
}

TEST(ScanProtocol, EncoderRefusesWhatBreaksABound) {
    EXPECT_TRUE(encodeRequest({DecodeKind::Barcode, "", ""}).empty());
    EXPECT_TRUE(
        encodeRequest({DecodeKind::Barcode, std::string(kMaxBarcodeBytes + 1, 'x'), ""}).empty());
    EXPECT_TRUE(encodeRequest({DecodeKind::Barcode, "A", "user"}).empty());
    EXPECT_TRUE(encodeRequest({DecodeKind::Rfid, "", "data"}).empty());
    EXPECT_TRUE(
        encodeRequest({DecodeKind::Rfid, std::string(kMaxRfidUidBytes + 1, 'u'), ""}).empty());
    EXPECT_TRUE(
        encodeRequest({DecodeKind::Rfid, "u", std::string(kMaxRfidDataBytes + 1, 'd')}).empty());
}

TEST(ScanProtocol, RepliesRoundTrip) {
    const ScanReply replies[] = {
        {ReplyStatus::Delivered, ""},
        {ReplyStatus::TriggerOff, "the scan trigger is off"},
        {ReplyStatus::DeviceInactive, "the RFID reader is not active"},
        {ReplyStatus::BadRequest, std::string(kMaxReplyText, 'e')},
    };
    for (const ScanReply& reply : replies) {
        Bytes bytes = encodeReply(reply);
        ReplyParse parsed = parseReply(bytes);
        ASSERT_EQ(parsed.status, ParseStatus::Complete);
        EXPECT_EQ(parsed.reply, reply);
        EXPECT_EQ(parseReply(std::span(bytes.data(), bytes.size() - 1)).status,
                  ParseStatus::NeedMore);
    }
}

TEST(ScanProtocol, LongReplyTextIsCut) {
    Bytes bytes = encodeReply({ReplyStatus::TriggerOff, std::string(1000, 't')});
    ReplyParse parsed = parseReply(bytes);
    ASSERT_EQ(parsed.status, ParseStatus::Complete);
    EXPECT_EQ(parsed.reply.text.size(), kMaxReplyText);
}

TEST(ScanProtocol, BadRepliesAreInvalid) {
    EXPECT_EQ(parseReply(bytesOf("HTTP/1.1 200")).status, ParseStatus::Invalid);
    Bytes unknownStatus = encodeReply({ReplyStatus::Delivered, ""});
    unknownStatus[5] = 99;
    EXPECT_EQ(parseReply(unknownStatus).status, ParseStatus::Invalid);
    Bytes longText = encodeReply({ReplyStatus::Delivered, ""});
    longText[6] = 0xFF;
    longText[7] = 0xFF;
    EXPECT_EQ(parseReply(longText).status, ParseStatus::Invalid);
}

TEST(ScanProtocol, WhichStatusesAreRefusals) {
    EXPECT_FALSE(isRefusal(ReplyStatus::Delivered));
    EXPECT_TRUE(isRefusal(ReplyStatus::TriggerOff));
    EXPECT_TRUE(isRefusal(ReplyStatus::DeviceInactive));
    EXPECT_TRUE(isRefusal(ReplyStatus::NoTarget));
    EXPECT_TRUE(isRefusal(ReplyStatus::ShuttingDown));
    EXPECT_FALSE(isRefusal(ReplyStatus::BadRequest));
}

}  // namespace
// Where the reader listens and quillnet-scan connects, by the same rule: a named socket, else
// the device root when it can be written, else the user's runtime folder, else /tmp.
TEST(ScanProtocol, SocketPathFollowsTheDeviceRootsWritability) {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("qn_sock_" + std::to_string(::getpid()));
    fs::create_directories(base / "root");
    const std::string tmpFallback = "/tmp/quillnet-" + std::to_string(::getuid()) + "/scan.sock";
    const struct {
        std::optional<std::string> named, runtime;
        fs::path root;
        std::string expected;
    } cases[] = {
        {"/x/named.sock", "/run/user/7", "/nonexistent/root", "/x/named.sock"},
        {"", "/run/user/7", base / "root", (base / "root" / "scan.sock").string()},
        {std::nullopt, "/run/user/7", "/nonexistent/root", "/run/user/7/quillnet/scan.sock"},
        {std::nullopt, std::nullopt, "/nonexistent/root", tmpFallback},
        {std::nullopt, "relative", "/nonexistent/root", tmpFallback},
    };
    for (const auto& c : cases) {
        auto set = [](const char* name, const std::optional<std::string>& value) {
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        };
        set("QUILLNET_SCAN_SOCKET", c.named);
        set("XDG_RUNTIME_DIR", c.runtime);
        EXPECT_EQ(scanSocketPath(c.root), c.expected) << c.root;
    }
    ::unsetenv("QUILLNET_SCAN_SOCKET");

    // The runtime folder is made private; one others may write to is refused.
    const fs::path runtime = base / "runtime";
    fs::create_directories(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string path = scanSocketPath("/nonexistent/root");
    EXPECT_TRUE(prepareSocketFolder(path, "/nonexistent/root"));
    struct stat info {};
    ASSERT_EQ(::stat((runtime / "quillnet").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ::chmod((runtime / "quillnet").c_str(), 0777);
    EXPECT_FALSE(prepareSocketFolder(path, "/nonexistent/root"));
    // The device root itself is taken as it is.
    ::chmod((base / "root").c_str(), 0777);
    EXPECT_TRUE(prepareSocketFolder((base / "root" / "scan.sock").string(), base / "root"));
    ::unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(base);
}

}  // namespace qn::scan
