// The TLS module: one entry point, found by name when the first TLS connection loads it.

#include "common/telnet/tls_openssl.h"

extern "C" __attribute__((visibility("default"))) qn::telnet::TlsClient* qn_tls_create_client(
    const qn::telnet::TlsSettings& settings, std::string& error) {
    return qn::telnet::createOpenSslClient(settings, error).release();
}
