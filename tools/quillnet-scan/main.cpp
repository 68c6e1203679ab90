// quillnet-scan: hands a barcode or an RFID read to the simulated reader, as a trigger pull would.
//
//   quillnet-scan [--socket PATH] [--hex] DATA
//   quillnet-scan [--socket PATH] --rfid --uid HEX [--data HEX]
//
// Exit status: 0 delivered, 1 failed (bad reply, I/O error), 2 no reader listening, 3 refused
// (trigger off, device inactive, no program registered, reader halting), 64 usage error.

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/cli/cli.h"
#include "platform/paths.h"
#include "tools/quillnet-scan/scan_client.h"

namespace {

using namespace std::chrono_literals;

constexpr int kExitDelivered = 0;
constexpr int kExitFailed = 1;
constexpr int kExitNoReader = 2;
constexpr int kExitRefused = 3;
constexpr int kExitUsage = 64;

// Longer than the longest time a reader waits for the previous decode to be fetched.
constexpr auto kReplyTimeout = 15s;

constexpr const char* kUsage =
    "usage: quillnet-scan [--socket PATH] [--hex] DATA | quillnet-scan [--socket PATH] --rfid "
    "--uid HEX [--data HEX]";

struct Options {
    std::string socketPath;
    qn::scan::ScanRequest request;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "quillnet-scan: %s (%s)\n", message.c_str(), kUsage);
    return kExitUsage;
}

struct Parsed {
    bool hex = false, rfid = false;
    std::optional<std::string> uid, data, positional;
};

// Fills options from what the command line gave, or returns the usage problem.
std::string parseArguments(const Parsed& parsed, Options& options) {
    const bool hex = parsed.hex, rfid = parsed.rfid;
    const auto& uid = parsed.uid;
    const auto& data = parsed.data;
    const auto& positional = parsed.positional;
    if (rfid) {
        if (hex || positional) return "--rfid takes --uid HEX [--data HEX], not DATA";
        if (!uid) return "--rfid needs --uid HEX";
        auto uidBytes = qn::scan::decodeHex(*uid);
        if (!uidBytes) return "--uid is not hex";
        if (uidBytes->empty()) return "--uid is empty";
        if (uidBytes->size() > qn::scan::kMaxRfidUidBytes) return "--uid is too long";
        std::string userData;
        if (data) {
            auto dataBytes = qn::scan::decodeHex(*data);
            if (!dataBytes) return "--data is not hex";
            if (dataBytes->size() > qn::scan::kMaxRfidDataBytes) return "--data is too long";
            userData = std::move(*dataBytes);
        }
        options.request = {qn::scan::DecodeKind::Rfid, std::move(*uidBytes), std::move(userData)};
        return {};
    }
    if (uid || data) return "--uid and --data need --rfid";
    if (!positional) return "no DATA given";
    std::string barcode(*positional);
    if (hex) {
        auto bytes = qn::scan::decodeHex(*positional);
        if (!bytes) return "DATA is not hex";
        barcode = std::move(*bytes);
    }
    if (barcode.empty()) return "DATA is empty";
    if (barcode.size() > qn::scan::kMaxBarcodeBytes) return "DATA is too long";
    options.request = {qn::scan::DecodeKind::Barcode, std::move(barcode), {}};
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(
        "Hands a barcode or an RFID read to the simulated reader, as a trigger pull would.");
    qn::cli::prepare(app, "quillnet-scan");
    Options options;
    Parsed parsed;
    std::optional<std::string> socket;
    app.add_option(
        "--socket", socket,
        "The reader's socket (default: QUILLNET_SCAN_SOCKET, else scan.sock in the device root, "
        "else in $XDG_RUNTIME_DIR/quillnet)");
    app.add_flag("--hex", parsed.hex, "DATA is hex digits");
    app.add_flag("--rfid", parsed.rfid, "An RFID read instead of a barcode");
    app.add_option("--uid", parsed.uid, "The RFID UID as hex digits");
    app.add_option("--data", parsed.data, "The RFID user data as hex digits");
    app.add_option("DATA", parsed.positional, "The barcode");
    std::ostringstream out, err;
    const std::optional<int> status =
        qn::cli::parse(app, std::vector<std::string>(argv + 1, argv + argc), out, err, kExitUsage);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    if (status) return *status;
    if (socket) {
        if (socket->empty()) return usageError("--socket needs a path");
        options.socketPath = *socket;
    }
    if (std::string problem = parseArguments(parsed, options); !problem.empty()) {
        return usageError(problem);
    }
    if (options.socketPath.empty())
        options.socketPath = qn::scan::scanSocketPath(qn::platform::deviceRoot());

    using Outcome = qn::scan::ClientResult::Outcome;
    qn::scan::ClientResult result =
        qn::scan::sendScan(options.socketPath, options.request, kReplyTimeout);
    if (result.outcome == Outcome::NoReader) {
        std::fprintf(stderr, "quillnet-scan: %s\n", result.error.c_str());
        return kExitNoReader;
    }
    if (result.outcome == Outcome::Failed) {
        std::fprintf(stderr, "quillnet-scan: %s\n", result.error.c_str());
        return kExitFailed;
    }
    const qn::scan::ScanReply& reply = result.reply;
    if (reply.status == qn::scan::ReplyStatus::Delivered) {
        if (!reply.text.empty())
            std::fprintf(stderr, "quillnet-scan: note: %s\n", reply.text.c_str());
        return kExitDelivered;
    }
    std::string reason =
        reply.text.empty() ? std::string(qn::scan::statusName(reply.status)) : reply.text;
    std::fprintf(stderr, "quillnet-scan: %s: %s\n",
                 qn::scan::isRefusal(reply.status) ? "refused" : "failed", reason.c_str());
    return qn::scan::isRefusal(reply.status) ? kExitRefused : kExitFailed;
}
