// TLS on loopback: the handshake against stunnel beside `openssl s_client` against the same
// tunnel, and 5250 records received plain and through TLS by the read thread's own steps
// (1024-byte receives through the telnet layer into the interpreter).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <thread>
#include <vector>

#include "common/telnet/connection.h"
#include "tests/support/loopback_host.h"
#include "tests/support/tls_rig.h"
#include "tn5250/codepage/translation.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace {

using namespace qn;
using Bytes = std::vector<std::uint8_t>;

const test::TestCertificates& certificates() {
    // The benchmarks live apart from the programs: the module is named where it was built.
    static const int found = ::setenv("QUILLNET_TLS_MODULE", QN_TLS_MODULE, 0);
    (void)found;
    static test::TestCertificates made;
    return made;
}

telnet::Endpoint loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return telnet::Endpoint::fromIpv4(address);
}

bool rigMissing(benchmark::State& state) {
    if (const std::string why = test::tlsRigMissing(); !why.empty()) {
        state.SkipWithError(why.c_str());
        return true;
    }
    if (!certificates().ok()) {
        state.SkipWithError("the openssl command failed");
        return true;
    }
    return false;
}

// Behind the tunnel: accepts every connection and holds it until the client goes, so each
// handshake ends in an orderly session.
class Backend {
  public:
    Backend() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            while (true) {
                const int fd = ::accept(listen_, nullptr, nullptr);
                if (fd < 0) return;
                std::thread([fd] {
                    char drain[256];
                    while (::recv(fd, drain, sizeof drain, 0) > 0) {
                    }
                    ::close(fd);
                }).detach();
            }
        });
    }
    ~Backend() {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    std::uint16_t port() const { return port_; }

  private:
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// Connect and handshake with the CA and host name checked, as a program's TLS connect does.
void BM_TlsHandshake(benchmark::State& state) {
    if (rigMissing(state)) return;
    Backend backend;
    test::Stunnel tunnel({certificates().server(), certificates().key(), backend.port(), {}});
    if (!tunnel.running()) return state.SkipWithError("stunnel did not start");
    telnet::TlsSettings settings;
    settings.serverName = "127.0.0.1";
    settings.caFile = certificates().ca();
    const telnet::Endpoint endpoint = loopback(tunnel.port());
    for (auto _ : state) {
        auto socket = telnet::Socket::create();
        if (socket->connect({&endpoint, 1}, std::chrono::seconds(5)) !=
            telnet::ConnectResult::Connected) {
            return state.SkipWithError("connect failed");
        }
        std::string error;
        auto tls = telnet::TlsClient::create(settings, error);
        if (!tls ||
            !socket->startTls(std::move(tls),
                              std::chrono::steady_clock::now() + std::chrono::seconds(5), error)) {
            return state.SkipWithError(error.c_str());
        }
        socket->shutdownLocal();
    }
}
BENCHMARK(BM_TlsHandshake)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole s_client process: start-up, the same checks, the handshake, the close.
void BM_OpensslSClient(benchmark::State& state) {
    if (rigMissing(state)) return;
    Backend backend;
    test::Stunnel tunnel({certificates().server(), certificates().key(), backend.port(), {}});
    if (!tunnel.running()) return state.SkipWithError("stunnel did not start");
    const std::vector<std::string> command{"/usr/bin/openssl",
                                           "s_client",
                                           "-connect",
                                           "127.0.0.1:" + std::to_string(tunnel.port()),
                                           "-CAfile",
                                           certificates().ca().string(),
                                           "-verify_return_error",
                                           "-verify_ip",
                                           "127.0.0.1",
                                           "-brief"};
    for (auto _ : state) {
        if (test::runQuietly(command) != 0) return state.SkipWithError("s_client failed");
    }
}
BENCHMARK(BM_OpensslSClient)->Unit(benchmark::kMillisecond)->UseRealTime();

// A full-screen Write To Display: 24 rows of text behind Clear Unit, as it arrives on the
// socket (record header, doubled 0xFF, IAC EOR).
Bytes fullScreenRecord() {
    Bytes body{0x04, 0x40, 0x04, 0x11, 0x00, 0x18};
    for (int row = 1; row <= 24; ++row) {
        body.insert(body.end(), {0x11, std::uint8_t(row), 1, 0x20});
        for (int column = 0; column < 76; ++column)
            body.push_back(tn::localToSbcs(0, std::uint8_t('A' + (row + column) % 26)));
    }
    const std::size_t size = body.size() + 10;
    Bytes wire{std::uint8_t(size >> 8), std::uint8_t(size), 0x12, 0xA0, 0, 0, 4, 0, 0, 3};
    wire.insert(wire.end(), body.begin(), body.end());
    wire.insert(wire.end(), {0xFF, 0xEF});
    return wire;
}

class NullHost final : public tn::TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t>) override {}
    void alarm() override {}
};

// Serves one connection: the records, then an orderly close; over TLS when a context is given.
class RecordHost {
  public:
    RecordHost(const Bytes& stream, SSL_CTX* tls) : stream_(stream), tls_(tls) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listen_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RecordHost() {
        thread_.join();
        ::close(listen_);
    }
    std::uint16_t port() const { return port_; }

  private:
    void serve() {
        const int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        if (tls_ != nullptr) {
            SSL* ssl = SSL_new(tls_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                for (std::size_t at = 0; at < stream_.size(); at += 16384) {
                    const int n =
                        static_cast<int>(std::min<std::size_t>(16384, stream_.size() - at));
                    if (SSL_write(ssl, stream_.data() + at, n) != n) break;
                }
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
        } else {
            for (std::size_t at = 0; at < stream_.size();) {
                const ssize_t n =
                    ::send(fd, stream_.data() + at, stream_.size() - at, MSG_NOSIGNAL);
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
        }
        ::shutdown(fd, SHUT_WR);
        char drain[64];
        while (::recv(fd, drain, sizeof drain, 0) > 0) {
        }
        ::close(fd);
    }

    const Bytes& stream_;
    SSL_CTX* tls_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

void BM_5250Records(benchmark::State& state, bool tls) {
    if (tls && rigMissing(state)) return;
    constexpr int kRecords = 2000;
    const Bytes record = fullScreenRecord();
    Bytes stream;
    for (int i = 0; i < kRecords; ++i)
        stream.insert(stream.end(), record.begin(), record.end());
    SSL_CTX* context = nullptr;
    if (tls) {
        context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(context, certificates().server().c_str());
        SSL_CTX_use_PrivateKey_file(context, certificates().key().c_str(), SSL_FILETYPE_PEM);
    }
    telnet::TlsSettings settings;
    settings.serverName = "127.0.0.1";
    settings.caFile = certificates().ca();
    auto session = std::make_unique<tn::TnSession>();
    auto screen = std::make_unique<tn::TnScreen>();
    NullHost host;
    tn::TnDataStream interpreter(*screen, *session, host);
    tn::TnTelnetFilter filter(*session, host, interpreter);
    std::array<std::uint8_t, telnet::kReceiveChunk> buffer;
    std::size_t received = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RecordHost server(stream, context);
        const telnet::Endpoint endpoint = loopback(server.port());
        auto socket = telnet::Socket::create();
        socket->connect({&endpoint, 1}, std::chrono::seconds(5));
        if (tls) {
            std::string error;
            auto client = telnet::TlsClient::create(settings, error);
            if (!client || !socket->startTls(
                               std::move(client),
                               std::chrono::steady_clock::now() + std::chrono::seconds(5), error)) {
                state.ResumeTiming();
                return state.SkipWithError(error.c_str());
            }
        }
        filter.startConnection();
        state.ResumeTiming();
        received = 0;
        while (true) {
            const telnet::ReceiveResult r = socket->receive(buffer);
            if (r.status != telnet::ReceiveStatus::Data) break;
            received += r.size;
            filter.receive({buffer.data(), r.size});
        }
        state.PauseTiming();
        socket->shutdownLocal();
        state.ResumeTiming();
    }
    if (received != stream.size()) state.SkipWithError("not every byte arrived");
    state.SetItemsProcessed(std::int64_t(state.iterations()) * kRecords);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(stream.size()));
    if (context != nullptr) SSL_CTX_free(context);
}
BENCHMARK_CAPTURE(BM_5250Records, plain, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_5250Records, tls, true)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
