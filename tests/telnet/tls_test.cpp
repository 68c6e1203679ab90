#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <fstream>
#include <future>

#include "common/telnet/connection_options.h"
#include "common/telnet/session_connection.h"
#include "common/telnet/tls.h"
#include "tests/support/fake_services.h"
#include "tests/support/loopback_host.h"
#include "tests/support/tls_rig.h"

namespace qn::telnet {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;
using ::testing::StartsWith;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// The certificates are made once for the whole run: the openssl command is slow.
const test::TestCertificates& certificates() {
    static test::TestCertificates made;
    return made;
}

#define SKIP_WITHOUT_TLS_RIG()                                                                \
    do {                                                                                      \
        if (const std::string why = test::tlsRigMissing(); !why.empty()) GTEST_SKIP() << why; \
        if (!certificates().ok()) GTEST_SKIP() << "the openssl command failed";               \
    } while (false)

// A TLS server in memory, for driving the client's transformer without a network.
class MemoryServer {
  public:
    MemoryServer(const std::filesystem::path& certificate, const std::filesystem::path& key) {
        context_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(context_, certificate.c_str());
        SSL_CTX_use_PrivateKey_file(context_, key.c_str(), SSL_FILETYPE_PEM);
        ssl_ = SSL_new(context_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }
    ~MemoryServer() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }
    void feed(const Bytes& bytes) { BIO_write(in_, bytes.data(), static_cast<int>(bytes.size())); }
    Bytes output() {
        Bytes out(BIO_ctrl_pending(out_));
        if (!out.empty()) BIO_read(out_, out.data(), static_cast<int>(out.size()));
        return out;
    }
    void step() {
        SSL_do_handshake(ssl_);
        ERR_clear_error();
    }
    void write(const Bytes& plain) {
        SSL_write(ssl_, plain.data(), static_cast<int>(plain.size()));
    }
    Bytes read() {
        Bytes plain(4096);
        const int n = SSL_read(ssl_, plain.data(), static_cast<int>(plain.size()));
        plain.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        ERR_clear_error();
        return plain;
    }

  private:
    SSL_CTX* context_;
    SSL* ssl_;
    BIO* in_;
    BIO* out_;
};

// Hands the bytes over in pieces of the given size, as a network that splits records would.
void feedInPieces(TlsClient& client, const Bytes& bytes, std::size_t piece,
                  TlsClient::Step* step = nullptr) {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        client.feed({bytes.data() + at, std::min(piece, bytes.size() - at)});
        if (step != nullptr) *step = client.handshake();
    }
}

TEST(TlsTransformer, HandshakeAndDataSurviveRecordsSplitAtAnyByte) {
    SKIP_WITHOUT_TLS_RIG();
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{100000}}) {
        MemoryServer server(certificates().server(), certificates().key());
        TlsSettings settings;
        settings.serverName = "localhost";
        settings.caFile = certificates().ca();
        std::string error;
        auto client = TlsClient::create(settings, error);
        ASSERT_TRUE(client) << error;

        TlsClient::Step step = client->handshake();
        for (int round = 0; round < 10 && step != TlsClient::Step::Done; ++round) {
            ASSERT_NE(step, TlsClient::Step::Failed) << client->error();
            Bytes toServer;
            client->takeOutput(toServer);
            for (std::size_t at = 0; at < toServer.size(); at += piece) {
                server.feed(Bytes(toServer.begin() + at,
                                  toServer.begin() + std::min(toServer.size(), at + piece)));
                server.step();
            }
            feedInPieces(*client, server.output(), piece, &step);
        }
        ASSERT_EQ(step, TlsClient::Step::Done) << "piece " << piece;
        Bytes finished;
        client->takeOutput(finished);
        server.feed(finished);
        server.step();

        // The host speaks first, as a telnet host does; a telnet IAC run crosses pieces.
        const Bytes hello = bytesOf("\xff\xfd\x18login: ");
        server.write(hello);
        Bytes plain;
        const Bytes records = server.output();
        for (std::size_t at = 0; at < records.size(); at += piece) {
            client->feed({records.data() + at, std::min(piece, records.size() - at)});
            client->read(plain);
        }
        EXPECT_EQ(plain, hello) << "piece " << piece;

        ASSERT_TRUE(client->write(bytesOf("guest\r\n")));
        Bytes toServer;
        client->takeOutput(toServer);
        server.feed(toServer);
        EXPECT_EQ(server.read(), bytesOf("guest\r\n"));
    }
}

TEST(TlsTransformer, GarbageInsteadOfAHandshakeFailsWithAReason) {
    const std::vector<Bytes> garbage{
        bytesOf("\xff\xfd\x18\xff\xfd\x20\xff\xfd\x23"),  // a plain telnet host
        bytesOf("HTTP/1.0 400 Bad Request\r\n\r\n"),      // some other protocol
        Bytes(64, 0),                                     // zeros
        Bytes{0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28},  // the host's refusal alert
    };
    for (const Bytes& bytes : garbage) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        TlsSettings settings;
        settings.serverName = "localhost";
        std::string error;
        auto client = TlsClient::create(settings, error);
        ASSERT_TRUE(client) << error;
        client->handshake();
        client->feed(bytes);
        EXPECT_EQ(client->handshake(), TlsClient::Step::Failed);
        EXPECT_THAT(client->error(), StartsWith("TLS handshake failed: "));
        Bytes plain;
        EXPECT_EQ(client->read(plain), TlsClient::ReadStatus::Failed);
        EXPECT_FALSE(client->write(bytesOf("secret")));
        Bytes out;
        client->takeOutput(out);
        EXPECT_EQ(std::string(out.begin(), out.end()).find("secret"), std::string::npos);
    }
}

// ---- Through stunnel, with certificates of every kind ----

struct FakeView final : ConnectionView {
    void connected() override {}
    void chunkReceived() override {}
    void disconnected() override { ++disconnects; }
    void reconnecting(int attempt, std::chrono::seconds) override { attempts.push_back(attempt); }
    std::atomic<int> disconnects{0};
    std::vector<int> attempts;  // read thread; read after it is joined or idle
};
struct NoTrigger final : TriggerSwitch {
    void setTriggerKey(int) override {}
};

// A session connection with its own connections.ini.
struct Client {
    explicit Client(const std::string& iniText) { std::ofstream(file) << iniText; }
    ~Client() { std::filesystem::remove(file); }

    std::shared_ptr<Socket> open(const std::string& hostText, std::uint16_t port) {
        auto target = connection.lookUpHost(hostText, port);
        return target ? connection.open(*target) : nullptr;
    }
    std::vector<std::string> messages() const { return fake.messages.texts(); }

    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("qn-connections-" + std::to_string(::getpid()) + ".ini");
    test::FakeServices fake;
    std::mutex lock;
    FakeView view;
    NoTrigger trigger;
    // "localhost" may come as ::1 first, where the tunnel does not listen: the next address is
    // tried.
    SystemResolver resolver;
    std::atomic<int> restarts{0};
    SessionConnection connection{
        {fake.services, lock, view, trigger, resolver, 0ms, {}, nullptr, file, [this] {
             ++restarts;
         }}};
};

// Receives until the text has arrived or the connection ended; bounded.
std::string receiveText(Socket& socket, std::size_t want) {
    std::string text;
    auto done = std::async(std::launch::async, [&] {
        std::array<std::uint8_t, 1024> buffer;
        while (text.size() < want) {
            const ReceiveResult r = socket.receive(buffer);
            if (r.status != ReceiveStatus::Data) return r.status;
            text.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.size));
        }
        return ReceiveStatus::Data;
    });
    if (done.wait_for(5s) != std::future_status::ready) socket.shutdownLocal();
    done.get();
    return text;
}

struct CertificateCase {
    const char* name;
    std::filesystem::path (test::TestCertificates::*certificate)() const;
    std::string hostText;
    std::string options;  // lines of the host's section; CA= and PIN= are filled in
    std::string message;  // "" when the connection must work
};

TEST(TlsThroughStunnel, EachCertificateIsTrustedOrRefusedWithItsReason) {
    SKIP_WITHOUT_TLS_RIG();
    const auto& c = certificates();
    using C = test::TestCertificates;
    const std::vector<CertificateCase> cases{
        {"trusted by the CA file", &C::server, "tls:127.0.0.1", "ca-file = CA", ""},
        {"trusted by name", &C::server, "tls:localhost", "ca-file = CA", ""},
        {"unknown CA", &C::server, "tls:127.0.0.1", "",
         "Certificate not trusted: unable to get local issuer certificate"},
        {"expired", &C::expired, "tls:127.0.0.1", "ca-file = CA",
         "Certificate not trusted: certificate has expired"},
        {"another name", &C::otherName, "tls:127.0.0.1", "ca-file = CA",
         "Certificate not trusted: IP address mismatch"},
        {"another host name", &C::otherName, "tls:localhost", "ca-file = CA",
         "Certificate not trusted: hostname mismatch"},
        {"self-signed", &C::selfSigned, "tls:127.0.0.1", "ca-file = CA",
         "Certificate not trusted: self-signed certificate"},
        {"self-signed but pinned", &C::selfSigned, "tls:127.0.0.1", "fingerprint = PIN", ""},
        {"pinned to another certificate", &C::server, "tls:127.0.0.1",
         "fingerprint = 00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:"
         "99:AA:BB:CC:DD:EE:FF",
         "Certificate fingerprint does not match"},
        {"verification off", &C::selfSigned, "tls:127.0.0.1", "verify = off", ""},
        {"tls by the file alone", &C::server, "127.0.0.1", "tls = on\nca-file = CA", ""},
        {"missing CA file", &C::server, "tls:127.0.0.1", "ca-file = /nonexistent/ca.pem",
         "CA file not readable: /nonexistent/ca.pem"},
    };
    for (const CertificateCase& k : cases) {
        SCOPED_TRACE(k.name);
        test::LoopbackHost backend;
        test::Stunnel tunnel({(c.*k.certificate)(), c.key(), backend.port(), {}});
        ASSERT_TRUE(tunnel.running());
        std::string options = k.options;
        if (auto at = options.find("= CA"); at != std::string::npos)
            options.replace(at + 2, 2, c.ca().string());
        if (auto at = options.find("= PIN"); at != std::string::npos)
            options.replace(at + 2, 3, c.fingerprint((c.*k.certificate)()));
        const std::string host = k.hostText.substr(k.hostText.find(':') + 1);
        Client client("[defaults]\nconnect-timeout = 5\n[" + (host.empty() ? k.hostText : host) +
                      "]\n" + options + "\n");
        // Any host section name works; the text after "tls:" picks it.
        auto socket = client.open(k.hostText, tunnel.port());
        if (!k.message.empty()) {
            EXPECT_EQ(socket, nullptr);
            EXPECT_THAT(client.messages(), ::testing::ElementsAre(k.message));
            EXPECT_FALSE(client.connection.connected());
            continue;
        }
        ASSERT_NE(socket, nullptr) << ::testing::PrintToString(client.messages());
        EXPECT_TRUE(tlsModuleLoaded());
        ASSERT_TRUE(backend.waitForClient());
        backend.send("\xff\xfd\x18login: ");
        EXPECT_EQ(receiveText(*socket, 10), "\xff\xfd\x18login: ");
        socket->sendBytes(bytesOf("guest\r\n"));
        EXPECT_EQ(backend.waitForBytes(7), bytesOf("guest\r\n"));
        backend.closeClient();
        EXPECT_EQ(receiveText(*socket, 1), "");
    }
}

struct CollectingHandler final : ChunkHandler {
    explicit CollectingHandler(std::mutex& m, std::string& t) : mutex(m), text(t) {}
    void received(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex);
        text.append(bytes.begin(), bytes.end());
    }
    void afterChunk() override {}
    void restarted() override {
        std::lock_guard lock(mutex);
        text += "|";
    }
    std::mutex& mutex;
    std::string& text;
};

TEST(TlsThroughStunnel, AClientCertificateWhenTheHostRequiresOne) {
    SKIP_WITHOUT_TLS_RIG();
    const auto& c = certificates();
    for (bool withCertificate : {false, true}) {
        SCOPED_TRACE(withCertificate);
        test::LoopbackHost backend;
        test::Stunnel tunnel({c.server(), c.key(), backend.port(), c.ca()});
        ASSERT_TRUE(tunnel.running());
        std::string ini =
            "[127.0.0.1]\nconnect-timeout = 5\nreconnect = on\nca-file = " + c.ca().string() + "\n";
        if (withCertificate) {
            ini += "cert-file = " + c.client().string() + "\nkey-file = " + c.clientKey().string() +
                   "\n";
        }
        Client client(ini);
        auto socket = client.open("tls:127.0.0.1", tunnel.port());
        if (withCertificate) {
            ASSERT_NE(socket, nullptr) << ::testing::PrintToString(client.messages());
            ASSERT_TRUE(backend.waitForClient());
            backend.send("ready");
            EXPECT_EQ(receiveText(*socket, 5), "ready");
        } else if (socket) {
            // TLS 1.3 ends the client's handshake before the host has judged it: the refusal
            // arrives as the first receive, and no data ever does. It is told as the
            // handshake's failure, and not tried again however reconnect is set.
            std::mutex mutex;
            std::string text;
            ASSERT_TRUE(client.connection.startReadThread(
                socket, std::make_unique<CollectingHandler>(mutex, text)));
            ASSERT_TRUE(test::eventually([&] { return !client.messages().empty(); }, 5s));
            EXPECT_THAT(client.messages(), ::testing::ElementsAre(::testing::AllOf(
                                               StartsWith("TLS handshake failed: "),
                                               ::testing::HasSubstr("certificate required"))));
            EXPECT_EQ(client.restarts.load(), 0);
            std::lock_guard lock(mutex);
            EXPECT_EQ(text, "");
        } else {
            EXPECT_THAT(client.messages(),
                        ::testing::ElementsAre(StartsWith("TLS handshake failed")));
        }
    }
}

// ---- Faults: each ends with a message, nothing hangs ----

TEST(TlsFaults, AHostThatIsNotTlsEndsTheConnectWithAMessage) {
    std::vector<test::HandshakeFault> cases{
        {"a plain telnet host", [](test::LoopbackHost& h) { h.send("\xff\xfd\x18\xff\xfd\x1f"); },
         "TLS handshake failed: "}};
    for (test::HandshakeFault& fault : test::handshakeFaults())
        cases.push_back(std::move(fault));
    for (const test::HandshakeFault& k : cases) {
        SCOPED_TRACE(k.name);
        test::LoopbackHost host;
        Client client("[127.0.0.1]\nconnect-timeout = 1\n");
        auto started = std::chrono::steady_clock::now();
        auto open = std::async(std::launch::async,
                               [&] { return client.open("tls:127.0.0.1", host.port()); });
        ASSERT_TRUE(host.waitForClient());
        // The client hello comes first; nothing else may ever be sent.
        const Bytes hello = host.waitForBytes(5);
        ASSERT_GE(hello.size(), 5u);
        EXPECT_EQ(hello[0], 0x16);
        k.host(host);
        ASSERT_EQ(open.wait_for(8s), std::future_status::ready);
        EXPECT_EQ(open.get(), nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_THAT(client.messages(), ::testing::ElementsAre(StartsWith(k.message)));
    }
}

TEST(TlsFaults, APlainConnectionToATlsHostEndsWhenItSpeaks) {
    SKIP_WITHOUT_TLS_RIG();
    test::LoopbackHost backend;
    test::Stunnel tunnel({certificates().server(), certificates().key(), backend.port(), {}});
    ASSERT_TRUE(tunnel.running());
    Client client("");
    auto socket = client.open("127.0.0.1", tunnel.port());
    ASSERT_NE(socket, nullptr);
    socket->sendBytes(bytesOf("guest\r\n"));
    EXPECT_EQ(receiveText(*socket, 1), "");
    EXPECT_FALSE(backend.waitForClient(200ms)) << "the tunnel passed nothing on";
}

// Cancels after a while, as the operator pressing Cancel; counts the waits.
struct CancellingWaiter final : ConnectWaiter {
    void wait(const std::function<bool()>& finished, const std::function<void()>& cancel) override {
        ++waits;
        const auto started = std::chrono::steady_clock::now();
        while (!finished()) {
            if (std::chrono::steady_clock::now() - started > 200ms) cancel();
            std::this_thread::sleep_for(5ms);
        }
    }
    int waits = 0;
};

TEST(TlsFaults, ConnectTimeOutAndCancelAreBounded) {
    test::FullBacklogListener hole;
    {
        Client client("[127.0.0.1]\nconnect-timeout = 1\n");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(client.open("127.0.0.1", hole.port()), nullptr);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GT(took, 900ms);
        EXPECT_LT(took, 4s);
        EXPECT_THAT(client.messages(), ::testing::ElementsAre("Can not establish connection"));
    }
    {
        Client client("");
        CancellingWaiter waiter;
        SessionConnection cancellable{{client.fake.services,
                                       client.lock,
                                       client.view,
                                       client.trigger,
                                       client.resolver,
                                       0ms,
                                       {},
                                       &waiter,
                                       client.file}};
        const auto started = std::chrono::steady_clock::now();
        auto target = cancellable.lookUpHost("127.0.0.1", hole.port());
        ASSERT_TRUE(target);
        EXPECT_EQ(cancellable.open(*target), nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
        EXPECT_EQ(waiter.waits, 1);
        EXPECT_TRUE(client.messages().empty()) << "a cancel is the operator's own: no message";
        EXPECT_FALSE(cancellable.connected());
    }
}

// Serves connections one after another: the first gets "one" and is then reset or closed;
// the second gets "two" and stays.
class SecondChanceHost {
  public:
    explicit SecondChanceHost(bool reset) : reset_(reset) {
        thread_ = std::thread([this] { serve(); });
    }
    ~SecondChanceHost() {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
        if (second_ >= 0) ::close(second_);
    }
    std::uint16_t port() const { return port_; }
    std::atomic<int> accepted{0};

  private:
    void serve() {
        const int first = ::accept(listen_, nullptr, nullptr);
        if (first < 0) return;
        ++accepted;
        ::send(first, "one", 3, MSG_NOSIGNAL);
        std::this_thread::sleep_for(100ms);
        if (reset_) {
            const linger abort{1, 0};
            ::setsockopt(first, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(first);
        second_ = ::accept(listen_, nullptr, nullptr);
        if (second_ < 0) return;
        ++accepted;
        ::send(second_, "two", 3, MSG_NOSIGNAL);
    }
    int makeListener() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd, 2);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        return fd;
    }

    const bool reset_;
    std::uint16_t port_ = 0;
    int listen_ = makeListener();
    int second_ = -1;
    std::thread thread_;
};

TEST(Reconnect, AfterAResetButNeverAfterTheHostsClose) {
    struct ReconnectCase {
        bool reset;
        std::string text;  // what the session received, "|" where it was made again
        std::vector<std::string> messages;
        int restarts;
    };
    const std::vector<ReconnectCase> cases{
        {true, "one|two", {}, 1},
        {false, "one", {"Server Closed!"}, 0},
    };
    for (const ReconnectCase& k : cases) {
        SCOPED_TRACE(k.reset);
        SecondChanceHost host(k.reset);
        Client client("[127.0.0.1]\nreconnect = on\n");
        auto socket = client.open("127.0.0.1", host.port());
        ASSERT_NE(socket, nullptr);
        std::mutex mutex;
        std::string text;
        ASSERT_TRUE(client.connection.startReadThread(
            socket, std::make_unique<CollectingHandler>(mutex, text)));
        const auto received = [&] {
            std::lock_guard lock(mutex);
            return text;
        };
        EXPECT_TRUE(test::eventually([&] { return received() == k.text; }, 4s)) << received();
        if (!k.reset) {
            ASSERT_TRUE(test::eventually([&] { return client.view.disconnects.load() == 1; }));
            std::this_thread::sleep_for(1500ms);  // past the first reconnect's wait
            EXPECT_EQ(host.accepted.load(), 1);
        } else {
            EXPECT_TRUE(client.connection.connected());
            EXPECT_EQ(client.view.attempts, std::vector<int>{1});
            // The operator's disconnect ends it for good, without a message.
            client.connection.disconnectSession();
        }
        EXPECT_EQ(client.restarts.load(), k.restarts);
        EXPECT_EQ(client.messages(), k.messages);
    }
}

// ---- connections.ini ----

TEST(ConnectionsFile, ReadsDefaultsAndHostSections) {
    const ConnectionsFile file = ConnectionsFile::parse(
        "; comment\n[defaults]\nconnect-timeout = 7\nkeepalive = 30,5,3\n\n"
        "[AS400.example]\ntls = on\nverify = off\nreconnect = yes\nemulation = classic\n"
        "fingerprint = " +
            std::string(64, 'a') +
            "\ncert-file = /c.pem\nkey-file = /k.pem\n"
            "[plain]\nkeepalive = off\ntls = no\n",
        "connections.ini");
    ASSERT_EQ(file.error(), "");
    const ConnectionOptions as400 = file.forHost("as400.EXAMPLE");
    EXPECT_EQ(as400.connectTimeout, 7s);
    EXPECT_EQ(as400.keepalive.idle, 30s);
    EXPECT_EQ(as400.keepalive.interval, 5s);
    EXPECT_EQ(as400.keepalive.probes, 3);
    EXPECT_TRUE(as400.usesTls(false, 23));
    EXPECT_FALSE(as400.verify);
    EXPECT_TRUE(as400.reconnect);
    EXPECT_EQ(as400.emulation, Emulation::Classic);
    ASSERT_TRUE(as400.fingerprint);
    EXPECT_EQ((*as400.fingerprint)[31], 0xaa);
    EXPECT_EQ(as400.tlsSettings("x").certFile, "/c.pem");
    EXPECT_EQ(as400.tlsSettings("x").keyFile, "/k.pem");

    const ConnectionOptions plain = file.forHost("plain");
    EXPECT_FALSE(plain.keepalive.on);
    EXPECT_FALSE(plain.usesTls(false, 992)) << "the file may turn the telnets port's TLS off";
    EXPECT_TRUE(plain.usesTls(true, 23)) << "the tls: prefix always wins";

    const ConnectionOptions other = file.forHost("other");
    EXPECT_EQ(other.connectTimeout, 7s);
    EXPECT_TRUE(other.verify);
    EXPECT_FALSE(other.reconnect);
    EXPECT_EQ(other.emulation, Emulation::Vt100);
    EXPECT_TRUE(other.usesTls(false, kTelnetsPort));
    EXPECT_FALSE(other.usesTls(false, 23));
}

TEST(ConnectionsFile, AMalformedLineIsNamedWithItsFileAndLine) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"[h]\ntls = maybe\n", "f.ini line 2: \"tls\" wants on or off"},
        {"\n\nverify\n", "f.ini line 3: expected key = value"},
        {"[h\n", "f.ini line 1: a section is [host] or [defaults]"},
        {"[]\n", "f.ini line 1: a section is [host] or [defaults]"},
        {"colour = red\n", "f.ini line 1: unknown key \"colour\""},
        {"connect-timeout = 0\n", "f.ini line 1: \"connect-timeout\" wants seconds from 1 to 600"},
        {"connect-timeout = 99999999999\n",
         "f.ini line 1: \"connect-timeout\" wants seconds from 1 to 600"},
        {"keepalive = 1,2\n", "f.ini line 1: \"keepalive\" wants off, on or IDLE,INTERVAL,PROBES"},
        {"fingerprint = abc\n", "f.ini line 1: \"fingerprint\" wants 64 hex digits (SHA-256)"},
        {"emulation = vt220\n", "f.ini line 1: \"emulation\" wants vt100 or classic"},
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(ConnectionsFile::parse(text, "f.ini").error(), message) << text;

    // At connect the message is shown and nothing is connected.
    Client client("[defaults]\nverify = of\n");
    EXPECT_EQ(client.open("127.0.0.1", test::unusedLoopbackPort()), nullptr);
    EXPECT_THAT(client.messages(), ::testing::ElementsAre(client.file.string() +
                                                          " line 2: \"verify\" wants on or off"));
    EXPECT_EQ(ConnectionsFile::load("/nonexistent/connections.ini").error(), "");
}

TEST(ConnectionsFile, KeepAliveIntervalsReachTheSocket) {
    test::LoopbackHost host;
    Client client("[127.0.0.1]\nkeepalive = 11,3,4\n");
    auto socket = client.open("127.0.0.1", host.port());
    ASSERT_NE(socket, nullptr);
    ASSERT_TRUE(host.waitForClient());
    // The descriptor is the socket's own; read the options back from the kernel.
    int fd = -1;
    for (int candidate = 3; candidate < 1024 && fd < 0; ++candidate) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (getpeername(candidate, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            ntohs(peer.sin_port) == host.port()) {
            fd = candidate;
        }
    }
    ASSERT_GE(fd, 0);
    auto option = [&](int level, int name) {
        int value = 0;
        socklen_t length = sizeof value;
        getsockopt(fd, level, name, &value, &length);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 11);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 3);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 4);
}

TEST(Fingerprints, ParseAndFormat) {
    const std::string colons =
        "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:"
        "CD:EF";
    const auto parsed = parseFingerprint(colons);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(formatFingerprint(*parsed), colons);
    std::string bare = colons;
    std::erase(bare, ':');
    EXPECT_EQ(parseFingerprint(bare), parsed);
    for (std::string bad : {bare + "0", bare.substr(1), "zz" + bare.substr(2), std::string()})
        EXPECT_FALSE(parseFingerprint(bad)) << bad;
}

}  // namespace
}  // namespace qn::telnet
