#include "tn5250/telnet/tn_transport.h"

#include <string>

namespace qn::tn {

namespace {

telnet::SessionConnection::Parts connectionParts(TnTransport::Parts& parts) {
    TnDataStream& stream = parts.stream;
    DeferredTnHost& deferred = parts.deferred;
    return {parts.services, parts.sessionLock, parts.view, parts.trigger, parts.resolver,
            // No pause between receives: records are answered as they come.
            std::chrono::milliseconds(0),
            [&stream, &deferred] {
                stream.resetScreen();
                // Replies collected for the closed connection have nowhere to go.
                deferred.take();
            },
            parts.waiter, parts.connectionsFile};
}

}  // namespace

TnTransport::TnTransport(Parts parts)
    : parts_(parts), filter_(parts.session, parts.deferred, parts.stream), connection_([this] {
          telnet::SessionConnection::Parts connection = connectionParts(parts_);
          // A reconnect negotiates afresh: the same device name goes to the host again, so a
          // host that kept the job on the device error gives it back.
          connection.restartSession = [this] {
              parts_.stream.resetScreen();
              filter_.startConnection();
          };
          return connection;
      }()) {
    filter_.setOwnDeviceName(handheldName(parts.services.registry));
}

void TnTransport::sendBytes(std::span<const std::uint8_t> bytes) {
    connection_.sendBytes(bytes);
}

// A block that changed the screen repaints; the automatic sign-on is tried after each block
// until it has succeeded once in this connection.
class TnTransport::ReadThreadClient final : public telnet::ChunkHandler {
  public:
    explicit ReadThreadClient(TnTransport& transport) : transport_(transport) {}

    void received(std::span<const std::uint8_t> bytes) override {
        redraw_ = transport_.receiveChunk(bytes);
    }

    void afterChunk() override {
        if (redraw_) transport_.parts_.view.chunkReceived();
        if (!signedOn_) signOn();
    }
    void restarted() override { signedOn_ = false; }

  private:
    void signOn() {
        transport_.withSession([this] {
            const TnSession& s = transport_.parts_.session;
            if (s.autoSignOn == 0 || reader::fixedLength(s.loginName) == 0) return;
            signedOn_ = transport_.parts_.stream.trySignOn();
        });
    }

    TnTransport& transport_;
    bool redraw_ = false;
    bool signedOn_ = false;
};

void TnTransport::connectSession() {
    if (connection_.connected()) return;
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard lock(parts_.sessionLock);
        host = std::string(reader::fixedText(parts_.session.hostAddress));
        port = parts_.session.telnetPort.get();
    }
    const std::optional<telnet::ConnectTarget> target = connection_.lookUpHost(host, port);
    if (!target) return;

    // A new connection starts with an empty screen, a fresh assembler and the telnet layer in
    // its data state.
    withSession([this] {
        parts_.stream.resetScreen();
        filter_.startConnection();
    });

    std::shared_ptr<telnet::Socket> connection = connection_.open(*target);
    if (!connection) return;
    parts_.view.connected();

    bool triggerOn;
    {
        std::lock_guard lock(parts_.sessionLock);
        triggerOn = parts_.session.rfidReaderOn != 0 || parts_.session.barcodeReaderOn != 0;
    }
    parts_.trigger.setTriggerKey(triggerOn ? 1 : 0);

    if (!connection_.startReadThread(connection, std::make_unique<ReadThreadClient>(*this))) {
        connection_.showError("Create read thread failed");
        const auto answer = parts_.services.messages.show(
            "Disconnect session?", {}, platform::MbButtons::YesNo, platform::MbIcon::Question);
        if (answer == platform::MbResult::Yes) disconnectSession();
    }
}

bool TnTransport::disconnectCommand() {
    if (!connection_.confirmDisconnect("Disconnect session?")) return false;
    disconnectSession();
    return true;
}

void TnTransport::disconnectSession() {
    connection_.disconnectSession();
}

bool TnTransport::receiveChunk(std::span<const std::uint8_t> bytes) {
    bool redraw = false;
    withSession([&] {
        filter_.receive(bytes);
        redraw = parts_.stream.screen().state.redrawPending;
    });
    return redraw;
}

}  // namespace qn::tn
