#include "common/telnet/tls_openssl.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qn::telnet {

namespace {

bool isAddressLiteral(const std::string& text) {
    in6_addr v6;
    in_addr v4;
    return inet_pton(AF_INET6, text.c_str(), &v6) == 1 ||
           inet_pton(AF_INET, text.c_str(), &v4) == 1;
}

// The system's CA store through its hashed folder: certificates are read when a chain asks for
// them, not the whole bundle at every connect. The bundle file only where there is no folder.
void loadSystemStore(SSL_CTX* context) {
    const char* dir = std::getenv(X509_get_default_cert_dir_env());
    if (dir == nullptr || *dir == 0) dir = X509_get_default_cert_dir();
    struct stat info {};
    const bool haveDir = ::stat(dir, &info) == 0 && S_ISDIR(info.st_mode);
    if (const char* file = std::getenv(X509_get_default_cert_file_env());
        file != nullptr && *file) {
        SSL_CTX_load_verify_file(context, file);
    }
    if (!haveDir || SSL_CTX_load_verify_dir(context, dir) != 1) {
        SSL_CTX_set_default_verify_paths(context);
    }
    ERR_clear_error();
}

std::string lastLibraryError(const char* fallback) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : fallback;
}

struct OpenSslState {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;   // owned by ssl
    BIO* out = nullptr;  // owned by ssl
    std::optional<Fingerprint> pinned;
    bool verify = true;

    ~OpenSslState() {
        if (ssl != nullptr) SSL_free(ssl);
        if (context != nullptr) SSL_CTX_free(context);
    }
};

class OpenSslClient final : public TlsClient {
  public:
    explicit OpenSslClient(std::unique_ptr<OpenSslState> state) : state_(std::move(state)) {}

    Step handshake() override;
    bool handshakeDone() const override { return done_; }
    void feed(std::span<const std::uint8_t> cipher) override;
    void takeOutput(std::vector<std::uint8_t>& out) override;
    bool hasOutput() const override;
    ReadStatus read(std::vector<std::uint8_t>& plain) override;
    bool write(std::span<const std::uint8_t> plain) override;
    void close() override;
    const std::string& error() const override { return error_; }
    std::optional<Fingerprint> peerFingerprint() const override;

  private:
    std::string failure(int result);

    std::unique_ptr<OpenSslState> state_;
    bool done_ = false;
    bool received_ = false;  // a plaintext byte has arrived
    std::string error_;
};

}  // namespace

namespace {

// A new context for the settings; nullptr with the reason in error.
SSL_CTX* makeContext(const TlsSettings& settings, bool verify, std::string& error) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        error = "TLS setup failed: " + lastLibraryError("no context");
        return nullptr;
    }
    auto fail = [&](std::string why) -> SSL_CTX* {
        error = std::move(why);
        ERR_clear_error();
        SSL_CTX_free(context);
        return nullptr;
    };
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Records are let go as soon as they are decrypted; no renegotiation from the host.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_RELEASE_BUFFERS);
    if (verify) {
        loadSystemStore(context);
        if (!settings.caFile.empty() &&
            SSL_CTX_load_verify_locations(context, settings.caFile.c_str(), nullptr) != 1) {
            return fail("CA file not readable: " + settings.caFile);
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }
    if (!settings.certFile.empty()) {
        const std::string& keyFile =
            settings.keyFile.empty() ? settings.certFile : settings.keyFile;
        if (SSL_CTX_use_certificate_chain_file(context, settings.certFile.c_str()) != 1) {
            return fail("Client certificate not readable: " + settings.certFile);
        }
        if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(context) != 1) {
            return fail("Client key not readable or not matching: " + keyFile);
        }
    }
    return context;
}

std::string fileStamp(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return path + "|-";
    return path + "|" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec) + "|" + std::to_string(info.st_size);
}

// The last context is kept for the next connection with the same files (a reconnect, the
// next session): making one costs more than the handshake itself.
std::mutex contextMutex;
std::string contextKey;
SSL_CTX* lastContext = nullptr;

SSL_CTX* contextFor(const TlsSettings& settings, bool verify, std::string& error) {
    const std::string key = std::string(verify ? "v|" : "n|") + fileStamp(settings.caFile) +
                            fileStamp(settings.certFile) + fileStamp(settings.keyFile);
    std::lock_guard lock(contextMutex);
    if (lastContext != nullptr && key == contextKey) {
        SSL_CTX_up_ref(lastContext);
        return lastContext;
    }
    SSL_CTX* context = makeContext(settings, verify, error);
    if (context == nullptr) return nullptr;
    if (lastContext != nullptr) SSL_CTX_free(lastContext);
    lastContext = context;
    contextKey = key;
    SSL_CTX_up_ref(context);
    return context;
}

}  // namespace

std::unique_ptr<TlsClient> createOpenSslClient(const TlsSettings& settings, std::string& error) {
    ERR_clear_error();
    auto state = std::make_unique<OpenSslState>();
    state->pinned = settings.fingerprint;
    state->verify = settings.verify && !settings.fingerprint;
    state->context = contextFor(settings, state->verify, error);
    if (state->context == nullptr) return nullptr;
    SSL_CTX* context = state->context;

    state->ssl = SSL_new(context);
    state->in = BIO_new(BIO_s_mem());
    state->out = BIO_new(BIO_s_mem());
    if (state->ssl == nullptr || state->in == nullptr || state->out == nullptr) {
        if (state->in != nullptr) BIO_free(state->in);
        if (state->out != nullptr) BIO_free(state->out);
        error = "TLS setup failed: " + lastLibraryError("out of memory");
        return nullptr;
    }
    // An empty input buffer means "wait for more", not end of stream.
    BIO_set_mem_eof_return(state->in, -1);
    SSL_set_bio(state->ssl, state->in, state->out);
    SSL_set_connect_state(state->ssl);

    const std::string& name = settings.serverName;
    const bool literal = isAddressLiteral(name);
    if (!literal && !name.empty()) SSL_set_tlsext_host_name(state->ssl, name.c_str());
    if (state->verify) {
        X509_VERIFY_PARAM* param = SSL_get0_param(state->ssl);
        const int ok = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str())
                               : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
        if (ok != 1) {
            error = "TLS setup failed: host name not usable: " + name;
            ERR_clear_error();
            return nullptr;
        }
    }
    return std::make_unique<OpenSslClient>(std::move(state));
}

std::string OpenSslClient::failure(int result) {
    const long verified = SSL_get_verify_result(state_->ssl);
    if (state_->verify && verified != X509_V_OK) {
        ERR_clear_error();
        return std::string("Certificate not trusted: ") + X509_verify_cert_error_string(verified);
    }
    const int kind = SSL_get_error(state_->ssl, result);
    if (kind == SSL_ERROR_ZERO_RETURN) return "TLS handshake failed: the host closed the session";
    return "TLS handshake failed: " + lastLibraryError("protocol error");
}

TlsClient::Step OpenSslClient::handshake() {
    if (done_) return Step::Done;
    if (!error_.empty()) return Step::Failed;
    const int result = SSL_do_handshake(state_->ssl);
    if (result == 1) {
        if (state_->pinned) {
            const auto actual = peerFingerprint();
            if (!actual || *actual != *state_->pinned) {
                error_ = "Certificate fingerprint does not match";
                return Step::Failed;
            }
        }
        done_ = true;
        return Step::Done;
    }
    const int kind = SSL_get_error(state_->ssl, result);
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return Step::WantBytes;
    error_ = failure(result);
    return Step::Failed;
}

void OpenSslClient::feed(std::span<const std::uint8_t> cipher) {
    // The callers feed what one receive returned, far below the int range.
    if (!cipher.empty()) BIO_write(state_->in, cipher.data(), static_cast<int>(cipher.size()));
}

bool OpenSslClient::hasOutput() const {
    return BIO_ctrl_pending(state_->out) > 0;
}

void OpenSslClient::takeOutput(std::vector<std::uint8_t>& out) {
    const std::size_t pending = BIO_ctrl_pending(state_->out);
    if (pending == 0) return;
    const std::size_t start = out.size();
    out.resize(start + pending);
    const int n = BIO_read(state_->out, out.data() + start, static_cast<int>(pending));
    out.resize(start + static_cast<std::size_t>(std::max(n, 0)));
}

TlsClient::ReadStatus OpenSslClient::read(std::vector<std::uint8_t>& plain) {
    if (!done_ || !error_.empty()) return ReadStatus::Failed;
    bool any = false;
    std::array<std::uint8_t, 16 * 1024> block;
    while (true) {
        const int n = SSL_read(state_->ssl, block.data(), static_cast<int>(block.size()));
        if (n > 0) {
            plain.insert(plain.end(), block.begin(), block.begin() + n);
            any = true;
            continue;
        }
        const int kind = SSL_get_error(state_->ssl, n);
        if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
            received_ = received_ || any;
            return any ? ReadStatus::Data : ReadStatus::WantBytes;
        }
        if (kind == SSL_ERROR_ZERO_RETURN) {
            received_ = received_ || any;
            return any ? ReadStatus::Data : ReadStatus::Closed;
        }
        // Under TLS 1.3 the host judges our certificate after our side of the handshake has
        // ended: its refusal is the first thing read, and belongs to the handshake.
        error_ = std::string(received_ || any ? "TLS error: " : kHandshakeFailed) +
                 lastLibraryError("protocol error");
        received_ = received_ || any;
        return any ? ReadStatus::Data : ReadStatus::Failed;
    }
}

bool OpenSslClient::write(std::span<const std::uint8_t> plain) {
    if (!done_ || !error_.empty()) return false;
    std::size_t done = 0;
    while (done < plain.size()) {
        const std::size_t chunk = std::min<std::size_t>(plain.size() - done, 16 * 1024);
        const int n = SSL_write(state_->ssl, plain.data() + done, static_cast<int>(chunk));
        if (n <= 0) {
            error_ = "TLS error: " + lastLibraryError("write failed");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void OpenSslClient::close() {
    if (done_ && error_.empty()) SSL_shutdown(state_->ssl);
    ERR_clear_error();
}

std::optional<Fingerprint> OpenSslClient::peerFingerprint() const {
    X509* certificate = SSL_get0_peer_certificate(state_->ssl);
    if (certificate == nullptr) return std::nullopt;
    Fingerprint result{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), result.data(), &length) != 1 ||
        length != result.size()) {
        return std::nullopt;
    }
    return result;
}

}  // namespace qn::telnet
