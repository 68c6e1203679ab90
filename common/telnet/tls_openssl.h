#pragma once
// The TLS client over OpenSSL's memory buffers: the TLS module's content, also linked directly
// by the fuzz target.

#include <memory>
#include <string>

#include "common/telnet/tls.h"

namespace qn::telnet {

std::unique_ptr<TlsClient> createOpenSslClient(const TlsSettings& settings, std::string& error);

}  // namespace qn::telnet
