#include "common/telnet/session_connection.h"

#include <string>
#include <system_error>
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
    // Nothing goes out while a connect is still under way (a scan during "Connecting...").
    if (bytes.empty() || !connected_.load()) return;
    if (auto socket = slot_.current()) socket->sendBytes(bytes);
}

std::optional<ConnectTarget> SessionConnection::lookUpHost(std::string_view hostText,
                                                           std::uint16_t port) {
    const ConnectionsFile file = ConnectionsFile::load(
        parts_.connectionsFile.empty() ? connectionsFilePath() : parts_.connectionsFile);
    lastFailure_ = Failure::None;
    if (!file.error().empty()) {
        lastFailure_ = Failure::Options;
        showError(file.error());
        return std::nullopt;
    }
    ConnectTarget target;
    static_cast<HostOptions&>(target) = hostOptions(file, hostText, port, overrides_);
    options_ = target.options;

    HostLookup lookup = resolveHost(target.host, port, parts_.resolver);
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

    failure = Failure::Tls;
    std::string error;
    auto tls = TlsClient::create(target.tlsSettings(), error);
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
    std::atomic<bool> finished{false};
    std::thread worker;
    if (parts_.waiter != nullptr) {
        try {
            worker = std::thread([&] {
                error = connectAndSecure(*connection, target, failure);
                finished.store(true);
            });
        } catch (const std::system_error&) {
            // No thread to spare: the connect blocks, bounded by its time-out.
        }
    }
    if (worker.joinable()) {
        parts_.waiter->wait([&] { return finished.load(); }, [&] { connection->shutdownLocal(); });
        worker.join();
    } else {
        error = connectAndSecure(*connection, target, failure);
    }
    const bool cancelled = connection->closedLocally();
    if (!error.empty() || cancelled) {
        lastFailure_ = cancelled ? Failure::Cancelled : failure;
        // A refused handshake is closed at once: the host sees the end.
        if (failure == Failure::Tls) connection->shutdownLocal();
        connected_.store(false);
        if (!cancelled) showError(error);
        return nullptr;
    }
    connected_.store(true);
    target_ = target;
    return connection;
}

bool SessionConnection::startReadThread(std::shared_ptr<Socket> connection,
                                        std::unique_ptr<ChunkHandler> handler) {
    std::shared_ptr<ChunkHandler> shared = std::move(handler);
    return slot_.startReader(
        [this, connection = std::move(connection), shared, target = target_]() mutable {
            readThread(std::move(connection), target, *shared);
        });
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
                     ChunkHandler& handler, bool reconnect)
        : owner_(owner), connection_(connection), handler_(handler), reconnect_(reconnect) {}

    void received(std::span<const std::uint8_t> bytes) override { handler_.received(bytes); }
    void afterChunk() override { handler_.afterChunk(); }

    void ended(ReceiveStatus why) override {
        if (owner_.quitting_.load()) return;
        // A host that refused us at the end of the handshake (our client certificate) says
        // why, and would refuse a second connection the same way.
        std::string refused = why == ReceiveStatus::Failed ? connection_->tlsError() : "";
        if (!refused.starts_with(kHandshakeFailed)) refused.clear();
        // Only a receive error: never the host's own close or our disconnect.
        if (why == ReceiveStatus::Failed && reconnect_ && refused.empty()) {
            wantsReconnect_ = true;
            return;
        }
        if (why == ReceiveStatus::Closed) owner_.showError("Server Closed!");
        if (why == ReceiveStatus::Failed)
            owner_.showError(refused.empty() ? "Can not establish connection!" : refused);
        owner_.teardown(connection_);
    }
    bool wantsReconnect() const { return wantsReconnect_; }

  private:
    SessionConnection& owner_;
    const std::shared_ptr<Socket>& connection_;
    ChunkHandler& handler_;
    const bool reconnect_;
    bool wantsReconnect_ = false;
};

void SessionConnection::readThread(std::shared_ptr<Socket> connection, const ConnectTarget& target,
                                   ChunkHandler& handler) {
    if (!connection) {
        if (!quitting_.load()) {
            showError("Connect failed!");
            teardown(connection);
        }
        return;
    }
    while (true) {
        ReadThreadClient client(*this, connection, handler, target.options.reconnect);
        runReadLoop(*connection, client, parts_.services.clock, parts_.pauseAfterPass);
        if (!client.wantsReconnect()) return;
        bool ended = false;
        std::shared_ptr<Socket> fresh = reconnect(connection, target, ended);
        if (ended) return;
        if (!fresh) {
            showError("Can not establish connection!");
            teardown(connection);
            return;
        }
        connection = std::move(fresh);
        handler.restarted();
    }
}

std::shared_ptr<Socket> SessionConnection::reconnect(const std::shared_ptr<Socket>& lost,
                                                     const ConnectTarget& target, bool& ended) {
    std::shared_ptr<Socket> current = lost;
    // The connection was ended (a disconnect, program quit) when it is no longer the slot's.
    auto stillOurs = [&] { return !quitting_.load() && slot_.current() == current; };
    for (int attempt = 0; attempt < kReconnectAttempts; ++attempt) {
        const auto wait = kReconnectWaits[attempt];
        parts_.view.reconnecting(attempt + 1, wait);
        const auto until = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < until) {
            if (!stillOurs()) {
                ended = true;
                return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::shared_ptr<Socket> fresh = Socket::create();
        if (target.tls) fresh->requireTls();
        if (!slot_.replace(current, fresh)) {
            ended = true;
            return nullptr;
        }
        current = fresh;
        Failure failure = Failure::None;
        const std::string error = connectAndSecure(*fresh, target, failure);
        if (fresh->closedLocally()) {
            ended = true;
            return nullptr;
        }
        if (!error.empty()) continue;
        {
            std::lock_guard lock(parts_.sessionLock);
            if (parts_.restartSession) parts_.restartSession();
        }
        parts_.view.chunkReceived();
        return fresh;
    }
    return nullptr;
}

}  // namespace qn::telnet
