// connections.ini: any text parses without a fault; a file without an error gives every host
// options within their bounds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/telnet/connection_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto file = qn::telnet::ConnectionsFile::parse(text, "connections.ini");
    if (!file.error().empty()) return 0;
    const std::string_view hosts[] = {"defaults", "host", "127.0.0.1", text.substr(0, 16)};
    for (std::string_view host : hosts) {
        const auto options = file.forHost(host);
        if (options.connectTimeout.count() < 1 || options.connectTimeout.count() > 600)
            std::abort();
        if (options.keepalive.probes < 1 || options.keepalive.probes > 127) std::abort();
    }
    return 0;
}
