// The scan socket's parsers: whatever the bytes, no read outside them, and what parses complete
// encodes back to the same bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "plugins/simreader/scan_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qn::scan;
    std::span<const std::uint8_t> bytes(data, size);

    RequestParse request = parseRequest(bytes);
    if (request.status == ParseStatus::Complete) {
        if (request.size > size || request.size > kMaxRequestSize) std::abort();
        std::vector<std::uint8_t> again = encodeRequest(request.request);
        if (again.size() != request.size || !std::equal(again.begin(), again.end(), data)) {
            std::abort();
        }
    } else if (request.status == ParseStatus::NeedMore && request.size > kMaxRequestSize) {
        std::abort();
    }

    ReplyParse reply = parseReply(bytes);
    if (reply.status == ParseStatus::Complete) {
        if (reply.size > size || reply.reply.text.size() > kMaxReplyText) std::abort();
        std::vector<std::uint8_t> again = encodeReply(reply.reply);
        if (again.size() != reply.size || !std::equal(again.begin(), again.end(), data)) {
            std::abort();
        }
    }
    return 0;
}
