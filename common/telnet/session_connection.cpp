#include "common/telnet/session_connection.h"

#include <string>
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

std::optional<sockaddr_in> SessionConnection::lookUpHost(std::string_view hostText,
                                                         std::uint16_t port) {
    const HostLookup lookup = resolveHost(hostText, port, parts_.resolver);
    if (lookup.error == HostError::NameNotResolved) {
        showError("Host IP error !!");
        return std::nullopt;
    }
    if (lookup.error == HostError::InvalidAddress) {
        showError("Invalid Host IP given.");
        return std::nullopt;
    }
    return lookup.address;
}

std::shared_ptr<Socket> SessionConnection::open(const sockaddr_in& address) {
    std::shared_ptr<Socket> connection = Socket::create();
    if (!connection) {
        showError("Create socket failed !!");
        return nullptr;
    }
    slot_.install(connection);
    if (!connection->connect(address)) {
        connected_.store(false);
        showError("Can not establish connection");
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
