#pragma once
// The client side of one TLS connection as a byte transformer: ciphertext goes in and out
// through memory buffers, plaintext through calls, so the socket, the read thread and the
// teardown keep their shape and tests drive it without a network. Not thread-safe: the owner
// serialises every call (the socket does it under one lock).
//
// Nothing of TLS is loaded before the first TLS connection: the implementation over the TLS
// library is a module of its own, loaded by the first create().

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qn::telnet {

using Fingerprint = std::array<std::uint8_t, 32>;  // SHA-256 of the certificate (DER)

struct TlsSettings {
    // The host name or IP address the certificate must name; for a name it is also sent as
    // the server name.
    std::string serverName;
    // Chain and name checked against the system's CA store and caFile.
    bool verify = true;
    std::string caFile;
    // A pinned certificate: the peer's certificate must have this fingerprint; it then needs
    // no chain to a trusted CA.
    std::optional<Fingerprint> fingerprint;
    // A client certificate and its key (PEM), for hosts that require one.
    std::string certFile;
    std::string keyFile;
};

// "AB:CD:..." or "abcd..." (64 hex digits, colons optional); nullopt when malformed.
std::optional<Fingerprint> parseFingerprint(std::string_view text);
std::string formatFingerprint(const Fingerprint& fingerprint);

class TlsClient {
  public:
    // The first call loads the TLS module (and with it the TLS library); nullptr with the
    // reason in error when it cannot be loaded, or when the CA file, certificate or key cannot
    // be read.
    static std::unique_ptr<TlsClient> create(const TlsSettings& settings, std::string& error);
    virtual ~TlsClient() = default;

    enum class Step { Done, WantBytes, Failed };
    // Advances the handshake; what it has to send collects in the output.
    virtual Step handshake() = 0;
    virtual bool handshakeDone() const = 0;

    // Ciphertext received from the socket (one receive's worth at a time).
    virtual void feed(std::span<const std::uint8_t> cipher) = 0;
    // Moves the ciphertext to send onto the end of out.
    virtual void takeOutput(std::vector<std::uint8_t>& out) = 0;
    virtual bool hasOutput() const = 0;

    enum class ReadStatus { Data, WantBytes, Closed, Failed };
    // Appends every plaintext byte the fed ciphertext holds; Data when some were added.
    virtual ReadStatus read(std::vector<std::uint8_t>& plain) = 0;
    // Encrypts the bytes into the output; false after a failure.
    virtual bool write(std::span<const std::uint8_t> plain) = 0;
    // Queues the closing alert.
    virtual void close() = 0;

    // Why the handshake or a read failed, in the operator's words.
    virtual const std::string& error() const = 0;
    // The peer certificate's fingerprint, once the handshake is done.
    virtual std::optional<Fingerprint> peerFingerprint() const = 0;
};

// How every message of a handshake that failed begins.
inline constexpr std::string_view kHandshakeFailed = "TLS handshake failed: ";

// Whether this process has loaded the TLS module (only a TLS connection does).
bool tlsModuleLoaded();

// The module's entry point: a new client, or nullptr with the reason in error.
using CreateTlsClient = TlsClient* (*)(const TlsSettings& settings, std::string& error);
inline constexpr const char* kTlsModuleName = "libqn_tls.so";
inline constexpr const char* kTlsEntryPoint = "qn_tls_create_client";

}  // namespace qn::telnet
