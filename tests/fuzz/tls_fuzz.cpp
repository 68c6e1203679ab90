// The TLS client fed arbitrary bytes as the host's side of the handshake, in pieces whose sizes
// the input chooses: it may fail, never crash, and never hands out plaintext before the
// handshake is done.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/telnet/tls_openssl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    qn::telnet::TlsSettings settings;
    settings.serverName = "localhost";
    // The host's bytes are parsed the same either way; the checks would only load the CA store
    // on every run.
    settings.verify = false;
    std::string error;
    auto client = qn::telnet::createOpenSslClient(settings, error);
    if (!client) std::abort();
    const std::size_t piece = data[0] + 1u;
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> plain;
    client->handshake();
    for (std::size_t at = 1; at < size; at += piece) {
        client->feed({data + at, std::min(piece, size - at)});
        const auto step = client->handshake();
        client->takeOutput(out);
        if (step == qn::telnet::TlsClient::Step::Failed) {
            if (client->error().empty()) std::abort();
            break;
        }
        if (!client->handshakeDone()) continue;
        client->read(plain);
    }
    // Without a real host's keys no handshake can finish, so nothing may have been decrypted.
    if (!plain.empty()) std::abort();
    return 0;
}
