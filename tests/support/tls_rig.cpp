#include "tests/support/tls_rig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/loopback_host.h"

extern char** environ;

namespace qn::test {

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kStunnel = "/usr/bin/stunnel4";

std::filesystem::path makeTempDir(const char* stem) {
    std::string pattern = (std::filesystem::temp_directory_path() / stem).string() + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

pid_t spawn(const std::vector<std::string>& args, bool ownGroup) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    return rc == 0 ? pid : -1;
}

bool listening(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

int runQuietly(const std::vector<std::string>& args) {
    const pid_t pid = spawn(args, false);
    if (pid < 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string tlsRigMissing() {
    if (::access(kOpenssl, X_OK) != 0) return "no openssl command (scripts/setup installs it)";
    if (::access(kStunnel, X_OK) != 0) return "no stunnel4 (scripts/setup installs it)";
    return {};
}

TestCertificates::TestCertificates() : dir_(makeTempDir("qn-certs-")) {
    if (dir_.empty() || !tlsRigMissing().empty()) return;
    const std::string d = dir_.string() + "/";
    auto ext = [&](const std::string& name, const std::string& text) {
        std::ofstream(d + name) << text << "\n";
        return d + name;
    };
    const std::string serverExt = ext("server.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1");
    const std::string otherExt = ext("other.ext", "subjectAltName=DNS:other.example");
    const std::string clientExt = ext("client.ext", "extendedKeyUsage=clientAuth");
    const std::vector<std::string> key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                       "-nodes"};
    auto req = [&](std::vector<std::string> args) {
        std::vector<std::string> all{kOpenssl, "req"};
        all.insert(all.end(), args.begin(), args.end());
        return runQuietly(all) == 0;
    };
    auto sign = [&](const std::string& out, const std::string& csr, const std::string& extFile,
                    const std::string& days) {
        return runQuietly({kOpenssl, "x509", "-req", "-in", d + csr, "-CA", d + "ca.pem", "-CAkey",
                           d + "ca.key", "-CAcreateserial", "-out", d + out, "-days", days,
                           "-extfile", extFile}) == 0;
    };
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), key.begin(), key.end());
        return args;
    };
    ok_ = req(with({"-x509", "-keyout", d + "ca.key", "-out", d + "ca.pem", "-days", "2", "-subj",
                    "/CN=QuillNet Test CA"})) &&
          req(with(
              {"-keyout", d + "server.key", "-out", d + "server.csr", "-subj", "/CN=localhost"})) &&
          req(with(
              {"-keyout", d + "client.key", "-out", d + "client.csr", "-subj", "/CN=handheld"})) &&
          sign("server.pem", "server.csr", serverExt, "2") &&
          sign("other.pem", "server.csr", otherExt, "2") &&
          sign("client.pem", "client.csr", clientExt, "2") &&
          // Valid for no time at all: expired a second later.
          sign("expired.pem", "server.csr", serverExt, "0") &&
          req({"-x509", "-key", d + "server.key", "-out", d + "self.pem", "-days", "2", "-subj",
               "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"});
    if (ok_) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string TestCertificates::fingerprint(const std::filesystem::path& certificate) const {
    const std::string out = (dir_ / "fingerprint.txt").string();
    std::string command = std::string(kOpenssl) + " x509 -noout -fingerprint -sha256 -in '" +
                          certificate.string() + "' > '" + out + "'";
    if (std::system(command.c_str()) != 0) return {};
    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    const auto equals = line.find('=');
    return equals == std::string::npos ? std::string() : line.substr(equals + 1);
}

Stunnel::Stunnel(const Config& config) : dir_(makeTempDir("qn-stunnel-")) {
    if (dir_.empty() || !tlsRigMissing().empty()) return;
    port_ = unusedLoopbackPort();
    std::ostringstream conf;
    conf << "foreground = yes\npid =\nsyslog = no\ndebug = 3\noutput = " << (dir_ / "log").string()
         << "\n[test]\naccept = 127.0.0.1:" << port_
         << "\nconnect = 127.0.0.1:" << config.backendPort
         << "\ncert = " << config.certificate.string() << "\nkey = " << config.key.string() << "\n";
    if (!config.requireClientCa.empty()) {
        conf << "verifyChain = yes\nCAfile = " << config.requireClientCa.string() << "\n";
    }
    const std::string file = (dir_ / "stunnel.conf").string();
    std::ofstream(file) << conf.str();
    pid_ = spawn({kStunnel, file}, true);
    if (pid_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (listening(port_)) {
            running_ = true;
            break;
        }
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Stunnel::~Stunnel() {
    if (pid_ > 0) {
        // Its group: the tunnel and any child it made, nothing else.
        ::kill(-pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (::waitpid(pid_, nullptr, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(-pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

FullBacklogListener::FullBacklogListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 0);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    // Never accepted: these fill the queue, and the kernel drops further handshakes.
    for (int i = 0; i < 4; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers_.push_back(filler);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

FullBacklogListener::~FullBacklogListener() {
    for (int filler : fillers_)
        ::close(filler);
    ::close(fd_);
}

std::vector<HandshakeFault> handshakeFaults() {
    return {
        {"cut off midway",
         [](LoopbackHost& h) {
             // A server hello record announced at 80 bytes, 20 of them sent.
             h.send(std::string("\x16\x03\x03\x00\x50\x02\x00\x00\x4c\x03\x03", 11) +
                    std::string(9, 'x'));
             h.closeClient();
         },
         "TLS handshake failed: the host closed the connection"},
        {"silent", [](LoopbackHost&) {}, "TLS handshake timed out"},
    };
}

}  // namespace qn::test
