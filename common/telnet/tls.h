#pragma once
// The client side of one TLS connection as a byte transformer: ciphertext goes in and out
// through memory buffers, plaintext through calls, so the socket, the read thread and the
// teardown keep their shape and tests drive it without a network. Not thread-safe: the owner
// serialises every call (the socket does it under one lock).
//
// Nothing of TLS is set up before the first TLS connection: the library initialises itself
// on the first context made here.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
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
    // nullptr with the reason in error (an unreadable CA file, certificate or key).
    static std::unique_ptr<TlsClient> create(const TlsSettings& settings, std::string& error);
    ~TlsClient();
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    enum class Step { Done, WantBytes, Failed };
    // Advances the handshake; what it has to send collects in the output.
    Step handshake();
    bool handshakeDone() const { return done_; }

    // Ciphertext received from the socket (one receive's worth at a time).
    void feed(std::span<const std::uint8_t> cipher);
    // Moves the ciphertext to send onto the end of out.
    void takeOutput(std::vector<std::uint8_t>& out);
    bool hasOutput() const;

    enum class ReadStatus { Data, WantBytes, Closed, Failed };
    // Appends every plaintext byte the fed ciphertext holds; Data when some were added.
    ReadStatus read(std::vector<std::uint8_t>& plain);
    // Encrypts the bytes into the output; false after a failure.
    bool write(std::span<const std::uint8_t> plain);
    // Queues the closing alert.
    void close();

    // Why the handshake or a read failed, in the operator's words.
    const std::string& error() const { return error_; }
    // The peer certificate's fingerprint, once the handshake is done.
    std::optional<Fingerprint> peerFingerprint() const;

  private:
    struct State;
    explicit TlsClient(std::unique_ptr<State> state);
    std::string failure(int result);

    std::unique_ptr<State> state_;
    bool done_ = false;
    std::string error_;
};

}  // namespace qn::telnet
