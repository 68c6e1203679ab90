#include "tn5250/telnet/tn_transport.h"

namespace qn::tn {

using telnet::ReceiveStatus;

TnTransport::TnTransport(Parts parts)
    : parts_(parts), filter_(parts.session, parts.deferred, parts.stream) {
    filter_.setOwnDeviceName(handheldName(parts.services.registry));
}

TnTransport::~TnTransport() {
    // The read threads end at once (their receive is interrupted) and do no teardown now.
    quitting_.store(true);
    slot_.shutdownAndJoin();
}

void TnTransport::showError(std::string_view text) {
    parts_.services.messages.show(text, "Error", platform::MbButtons::Ok,
                                  platform::MbIcon::Exclamation);
}

void TnTransport::sendBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (auto socket = slot_.current()) socket->sendBytes(bytes);
}

void TnTransport::connectSession() {
    if (connected_.load()) return;
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard lock(parts_.sessionLock);
        host = std::string(reader::fixedText(parts_.session.hostAddress));
        port = parts_.session.telnetPort.get();
    }
    const telnet::HostLookup lookup = telnet::resolveHost(host, port, parts_.resolver);
    if (lookup.error == telnet::HostError::NameNotResolved) {
        showError("Host IP error !!");
        return;
    }
    if (lookup.error == telnet::HostError::InvalidAddress) {
        showError("Invalid Host IP given.");
        return;
    }

    // A new connection starts with an empty screen and a fresh assembler.
    withSession([this] { parts_.stream.resetScreen(); });

    std::shared_ptr<Connection> connection = telnet::Socket::create();
    if (!connection) {
        showError("Create socket failed !!");
        return;
    }
    slot_.install(connection);
    if (!connection->connect(lookup.address)) {
        connected_.store(false);
        showError("Can not establish connection");
        return;
    }
    connected_.store(true);
    parts_.view.connected();

    bool triggerOn;
    {
        std::lock_guard lock(parts_.sessionLock);
        triggerOn = parts_.session.rfidReaderOn != 0 || parts_.session.barcodeReaderOn != 0;
    }
    parts_.trigger.setTriggerKey(triggerOn ? 1 : 0);

    const bool started = slot_.startReader([this, connection] { readThread(connection); });
    if (!started) {
        showError("Create read thread failed");
        const auto answer = parts_.services.messages.show(
            "Disconnect session?", {}, platform::MbButtons::YesNo, platform::MbIcon::Question);
        if (answer == platform::MbResult::Yes) disconnectSession();
    }
}

bool TnTransport::disconnectCommand() {
    if (!connected_.load()) return false;
    const auto answer = parts_.services.messages.show(
        "Disconnect session?", {}, platform::MbButtons::YesNo, platform::MbIcon::Question);
    if (answer != platform::MbResult::Yes) return false;
    disconnectSession();
    return true;
}

void TnTransport::disconnectSession() {
    teardown(nullptr);
}

void TnTransport::teardown(const std::shared_ptr<Connection>& ifCurrent) {
    // A read thread of an earlier connection must not end the current one.
    if (!slot_.close(ifCurrent)) return;
    connected_.store(false);
    parts_.trigger.setTriggerKey(0);
    {
        std::lock_guard lock(parts_.sessionLock);
        parts_.stream.resetScreen();
        // Replies collected for the closed connection have nowhere to go.
        parts_.deferred.take();
    }
    parts_.view.disconnected();
}

bool TnTransport::receiveChunk(std::span<const std::uint8_t> bytes) {
    bool redraw = false;
    withSession([&] {
        filter_.receive(bytes);
        redraw = parts_.stream.screen().state.redrawPending;
    });
    return redraw;
}

class TnTransport::ReadThreadClient final : public telnet::ReadLoopClient {
  public:
    ReadThreadClient(TnTransport& transport, std::shared_ptr<Connection> connection)
        : transport_(transport), connection_(std::move(connection)) {}

    void received(std::span<const std::uint8_t> bytes) override {
        redraw_ = transport_.receiveChunk(bytes);
    }

    void afterChunk() override {
        if (redraw_) transport_.parts_.view.redraw();
        if (!signedOn_) signOn();
    }

    void ended(ReceiveStatus why) override {
        if (transport_.quitting_.load()) return;
        if (why == ReceiveStatus::Closed) transport_.showError("Server Closed!");
        if (why == ReceiveStatus::Failed) transport_.showError("Can not establish connection!");
        transport_.teardown(connection_);
    }

  private:
    // Until it has succeeded once in this connection.
    void signOn() {
        transport_.withSession([this] {
            const TnSession& s = transport_.parts_.session;
            if (s.autoSignOn == 0 || reader::fixedLength(s.loginName) == 0) return;
            signedOn_ = transport_.parts_.stream.trySignOn();
        });
    }

    TnTransport& transport_;
    std::shared_ptr<Connection> connection_;
    bool redraw_ = false;
    bool signedOn_ = false;
};

void TnTransport::readThread(std::shared_ptr<Connection> connection) {
    ReadThreadClient client(*this, connection);
    if (!connection) {
        if (!quitting_.load()) {
            showError("Connect failed!");
            teardown(connection);
        }
        return;
    }
    // No pause between receives: records are answered as they come.
    telnet::runReadLoop(*connection, client, parts_.services.clock, std::chrono::milliseconds(0));
}

}  // namespace qn::tn
