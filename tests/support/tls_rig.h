#pragma once
// Real TLS peers for connection tests: certificates made with the openssl command in a
// temporary folder, and stunnel on a free port of 127.0.0.1 in front of a loopback host of the
// test's own. Both are started by the test and stopped (and waited for) when the objects go.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/loopback_host.h"

namespace qn::test {

// Why the rig cannot run here, or "" when openssl and stunnel are installed.
std::string tlsRigMissing();

// A CA and certificates signed by it: the server's for 127.0.0.1 and localhost, an expired one,
// one for another name, a client's, and a self-signed one. All share the server key.
class TestCertificates {
  public:
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    bool ok() const { return ok_; }
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    std::filesystem::path ca() const { return path("ca.pem"); }
    std::filesystem::path key() const { return path("server.key"); }
    std::filesystem::path server() const { return path("server.pem"); }
    std::filesystem::path expired() const { return path("expired.pem"); }
    std::filesystem::path otherName() const { return path("other.pem"); }
    std::filesystem::path selfSigned() const { return path("self.pem"); }
    std::filesystem::path client() const { return path("client.pem"); }
    std::filesystem::path clientKey() const { return path("client.key"); }
    // "AB:CD:..." of a certificate file.
    std::string fingerprint(const std::filesystem::path& certificate) const;

  private:
    std::filesystem::path dir_;
    bool ok_ = false;
};

class Stunnel {
  public:
    struct Config {
        std::filesystem::path certificate;
        std::filesystem::path key;
        std::uint16_t backendPort = 0;
        // When set, clients must show a certificate signed by this CA.
        std::filesystem::path requireClientCa;
    };
    explicit Stunnel(const Config& config);
    ~Stunnel();
    Stunnel(const Stunnel&) = delete;
    Stunnel& operator=(const Stunnel&) = delete;

    // False when stunnel did not come up listening within a few seconds.
    bool running() const { return running_; }
    std::uint16_t port() const { return port_; }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    bool running_ = false;
};

// A listener on 127.0.0.1 whose backlog is full: a connect to it gets no answer at all, as from
// a host that is switched off, until the object goes.
class FullBacklogListener {
  public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;
    std::uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    std::vector<int> fillers_;
    std::uint16_t port_ = 0;
};

// Runs a program with its output discarded; its exit status, or -1.
int runQuietly(const std::vector<std::string>& args);

// A host that answers a client hello badly, and the whole message the handshake ends with.
struct HandshakeFault {
    const char* name;
    std::function<void(LoopbackHost&)> host;
    std::string message;
};
// Cut off midway, and silent (under a connect time-out of a second).
std::vector<HandshakeFault> handshakeFaults();

}  // namespace qn::test
