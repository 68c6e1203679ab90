// quillnet-scan: hands a barcode or an RFID read to the simulated reader, as a trigger pull would.
//
//   quillnet-scan [--socket PATH] [--hex] DATA
//   quillnet-scan [--socket PATH] --rfid --uid HEX [--data HEX]
//
// Exit status: 0 delivered, 1 failed (bad reply, I/O error), 2 no reader listening, 3 refused
// (trigger off, device inactive, no program registered, reader halting), 64 usage error.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Fills options, or returns the usage problem.
std::string parseArguments(const std::vector<std::string_view>& args, Options& options) {
    bool hex = false, rfid = false;
    std::optional<std::string_view> uid, data, positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        auto valueOf = [&](std::string_view name) -> std::optional<std::string_view> {
            if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
                return arg.substr(name.size() + 1);
            }
            if (arg == name && i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        if (optionsEnded || !arg.starts_with("--")) {
            if (positional) return "more than one DATA argument";
            positional = arg;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--hex") {
            hex = true;
        } else if (arg == "--rfid") {
            rfid = true;
        } else if (arg == "--socket" || arg.starts_with("--socket=")) {
            auto value = valueOf("--socket");
            if (!value || value->empty()) return "--socket needs a path";
            options.socketPath = std::string(*value);
        } else if (arg == "--uid" || arg.starts_with("--uid=")) {
            if (!(uid = valueOf("--uid"))) return "--uid needs hex digits";
        } else if (arg == "--data" || arg.starts_with("--data=")) {
            if (!(data = valueOf("--data"))) return "--data needs hex digits";
        } else {
            return "unknown option " + std::string(arg);
        }
    }

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
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::printf("%s\n", kUsage);
        return kExitDelivered;
    }
    Options options;
    if (std::string problem = parseArguments(args, options); !problem.empty()) {
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
