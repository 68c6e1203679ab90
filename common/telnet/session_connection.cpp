#include "common/telnet/session_connection.h"

#include <string>
#include <thread>
#include <utility>

namespace qn::telnet {

SessionConnection::~SessionConnection() {
    // The read threads end at once (their receive is interrupted) and do no teardown now.
    quitting_.store(true);
    slot_.shutdownAndJoin();
}

void SessionConnection::showError(std::string_view text) {
    parts_.services.messages.show(text, "Error", platform::MbButtons::Ok,
                                  platform::MbIcon::Exclamation);
}

void SessionConnection::sendBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (auto socket = slot_.current()) socket->sendBytes(bytes);
}

std::optional<ConnectTarget> SessionConnection::lookUpHost(std::string_view hostText,
                                                           std::uint16_t port) {
    const HostText text = splitHostText(hostText);
    const ConnectionsFile file = ConnectionsFile::load(
        parts_.connectionsFile.empty() ? connectionsFilePath() : parts_.connectionsFile);
    lastFailure_ = Failure::None;
    if (!file.error().empty()) {
        lastFailure_ = Failure::Options;
        showError(file.error());
        return std::nullopt;
    }
    ConnectTarget target;
    target.host = text.host;
    target.options = file.forHost(text.host);
    if (overrides_) overrides_(target.options);
    target.tls = target.options.usesTls(text.tlsPrefix, port);
    options_ = target.options;

    HostLookup lookup = resolveHost(text.host, port, parts_.resolver);
    if (lookup.error != HostError::None) lastFailure_ = Failure::Lookup;
    if (lookup.error == HostError::NameNotResolved) {
        showError("Host IP error !!");
        return std::nullopt;
    }
    if (lookup.error == HostError::InvalidAddress) {
        showError("Invalid Host IP given.");
        return std::nullopt;
    }
    target.addresses = std::move(lookup.addresses);
    return target;
}

std::string SessionConnection::connectAndSecure(Socket& socket, const ConnectTarget& target,
                                                Failure& failure) {
    const auto timeout =
        std::chrono::duration_cast<std::chrono::milliseconds>(target.options.connectTimeout);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const ConnectResult result = socket.connect(target.addresses, timeout);
    if (result == ConnectResult::Cancelled) {
        failure = Failure::Cancelled;
        return {};
    }
    if (result == ConnectResult::SocketFailed) {
        failure = Failure::Socket;
        return "Create socket failed !!";
    }
    if (result != ConnectResult::Connected) {
        failure = Failure::Connect;
        return "Can not establish connection";
    }
    socket.setKeepAlive(target.options.keepalive);
    if (!target.tls) return {};

    // The certificate must name the host as typed: its name, or the address itself.
    std::string serverName = target.host;
    if (serverName.size() > 2 && serverName.front() == '[') {
        serverName = serverName.substr(1, serverName.size() - 2);
    }
    failure = Failure::Tls;
    std::string error;
    auto tls = TlsClient::create(target.options.tlsSettings(serverName), error);
    if (!tls) return error;
    if (!socket.startTls(std::move(tls), deadline, error)) return error;
    failure = Failure::None;
    return {};
}

std::shared_ptr<Socket> SessionConnection::open(const ConnectTarget& target) {
    std::shared_ptr<Socket> connection = Socket::create();
    if (target.tls) connection->requireTls();
    slot_.install(connection);

    std::string error;
    Failure failure = Failure::None;
    if (parts_.waiter != nullptr) {
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            error = connectAndSecure(*connection, target, failure);
            finished.store(true);
        });
        parts_.waiter->wait([&] { return finished.load(); }, [&] { connection->shutdownLocal(); });
        worker.join();
    } else {
        error = connectAndSecure(*connection, target, failure);
    }
    const bool cancelled = connection->closedLocally();
    if (!error.empty() || cancelled) {
        lastFailure_ = cancelled ? Failure::Cancelled : failure;
        connected_.store(false);
        if (!cancelled) showError(error);
        return nullptr;
    }
    connected_.store(true);
    return connection;
}

bool SessionConnection::startReadThread(std::shared_ptr<Socket> connection,
                                        std::unique_ptr<ChunkHandler> handler) {
    std::shared_ptr<ChunkHandler> shared = std::move(handler);
    return slot_.startReader(
        [this, connection = std::move(connection), shared] { readThread(connection, *shared); });
}

bool SessionConnection::confirmDisconnect(std::string_view question) {
    if (!connected_.load()) return false;
    const auto answer = parts_.services.messages.show(question, {}, platform::MbButtons::YesNo,
                                                      platform::MbIcon::Question);
    return answer == platform::MbResult::Yes;
}

void SessionConnection::teardown(const std::shared_ptr<Socket>& ifCurrent) {
    // A read thread of an earlier connection must not end the current one.
    if (!slot_.close(ifCurrent)) return;
    connected_.store(false);
    parts_.trigger.setTriggerKey(0);
    {
        std::lock_guard lock(parts_.sessionLock);
        if (parts_.clearScreen) parts_.clearScreen();
    }
    parts_.view.disconnected();
}

class SessionConnection::ReadThreadClient final : public ReadLoopClient {
  public:
    ReadThreadClient(SessionConnection& owner, const std::shared_ptr<Socket>& connection,
                     ChunkHandler& handler)
        : owner_(owner), connection_(connection), handler_(handler) {}

    void received(std::span<const std::uint8_t> bytes) override { handler_.received(bytes); }
    void afterChunk() override { handler_.afterChunk(); }

    void ended(ReceiveStatus why) override {
        if (owner_.quitting_.load()) return;
        if (why == ReceiveStatus::Closed) owner_.showError("Server Closed!");
        if (why == ReceiveStatus::Failed) owner_.showError("Can not establish connection!");
        owner_.teardown(connection_);
    }

  private:
    SessionConnection& owner_;
    const std::shared_ptr<Socket>& connection_;
    ChunkHandler& handler_;
};

void SessionConnection::readThread(const std::shared_ptr<Socket>& connection,
                                   ChunkHandler& handler) {
    if (!connection) {
        if (!quitting_.load()) {
            showError("Connect failed!");
            teardown(connection);
        }
        return;
    }
    ReadThreadClient client(*this, connection, handler);
    runReadLoop(*connection, client, parts_.services.clock, parts_.pauseAfterPass);
}

}  // namespace qn::telnet
