#include "tools/quillnet-demohost/tls_front.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>

namespace qn::tools {

namespace {

// A client that does not finish its handshake in this time is dropped.
constexpr int kHandshakeSeconds = 10;

// Copies between the TLS client and the plain session until either side ends.
void relay(SSL* ssl, int clientFd, int sessionFd) {
    std::array<char, 16 * 1024> buffer;
    pollfd fds[2] = {{clientFd, POLLIN, 0}, {sessionFd, POLLIN, 0}};
    bool open = true;
    while (open) {
        // Records already decrypted are not visible to poll.
        if (SSL_pending(ssl) == 0 && ::poll(fds, 2, -1) < 0) break;
        if (SSL_pending(ssl) > 0 || (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const int n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
            if (n <= 0) break;
            for (int done = 0; done < n && open;) {
                const ssize_t w = ::send(sessionFd, buffer.data() + done,
                                         static_cast<std::size_t>(n - done), MSG_NOSIGNAL);
                open = w > 0;
                done += static_cast<int>(std::max<ssize_t>(w, 0));
            }
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::recv(sessionFd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            open = SSL_write(ssl, buffer.data(), static_cast<int>(n)) == n;
        }
        fds[0].revents = fds[1].revents = 0;
    }
    SSL_shutdown(ssl);
}

}  // namespace

struct TlsFront::Context {
    SSL_CTX* ctx = nullptr;
    ~Context() {
        if (ctx != nullptr) SSL_CTX_free(ctx);
    }
};

TlsFront::TlsFront(std::unique_ptr<Context> context) : context_(std::move(context)) {}

TlsFront::~TlsFront() {
    join();
}

std::unique_ptr<TlsFront> TlsFront::create(const std::string& certFile, const std::string& keyFile,
                                           std::string& error) {
    auto context = std::make_unique<Context>();
    context->ctx = SSL_CTX_new(TLS_server_method());
    if (context->ctx == nullptr ||
        SSL_CTX_use_certificate_chain_file(context->ctx, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context->ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context->ctx) != 1) {
        error = "cannot use certificate " + certFile + " with key " + keyFile;
        ERR_clear_error();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context->ctx, TLS1_2_VERSION);
    return std::unique_ptr<TlsFront>(new TlsFront(std::move(context)));
}

void TlsFront::join() {
    if (relay_.joinable()) relay_.join();
}

int TlsFront::wrap(int clientFd) {
    join();
    return wrap(clientFd, relay_);
}

int TlsFront::wrap(int clientFd, std::thread& relayThread) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        ::close(clientFd);
        return -1;
    }
    relayThread = std::thread([ctx = context_->ctx, clientFd, relayFd = pair[1]] {
        SSL* ssl = SSL_new(ctx);
        timeval limit{kHandshakeSeconds, 0};
        ::setsockopt(clientFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (ssl != nullptr && SSL_set_fd(ssl, clientFd) == 1 && SSL_accept(ssl) == 1) {
            timeval none{0, 0};
            ::setsockopt(clientFd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
            relay(ssl, clientFd, relayFd);
        }
        ERR_clear_error();
        if (ssl != nullptr) SSL_free(ssl);
        // The session sees its client go; the client sees the session's end.
        ::shutdown(relayFd, SHUT_RDWR);
        ::close(relayFd);
        ::close(clientFd);
    });
    return pair[0];
}

}  // namespace qn::tools
