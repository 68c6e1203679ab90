#pragma once
// The client side of the scan socket: one request, one reply.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "plugins/simreader/scan_protocol.h"

namespace qn::scan {

struct ClientResult {
    enum class Outcome { Replied, NoReader, Failed } outcome = Outcome::Failed;
    ScanReply reply;    // when Replied
    std::string error;  // when NoReader or Failed
};

// Connects, sends the request and waits up to timeout for the reply.
ClientResult sendScan(const std::string& socketPath, const ScanRequest& request,
                      std::chrono::milliseconds timeout);

// Hex digits in pairs, upper or lower case; ':' and white space between bytes are allowed.
std::optional<std::string> decodeHex(std::string_view text);

}  // namespace qn::scan
