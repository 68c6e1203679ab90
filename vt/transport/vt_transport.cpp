#include "vt/transport/vt_transport.h"

#include "vt/settings/vt_key_map.h"
#include "vt/transport/auto_sign_on.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qn::vt {

namespace {

telnet::SessionConnection::Parts connectionParts(VtTransport::Parts& parts) {
    VtTerminal& terminal = parts.terminal;
    return {parts.services,
            parts.sessionLock,
            parts.view,
            parts.trigger,
            parts.resolver,
            parts.pauseAfterPass,
            [&terminal] { terminal.clearScreenChars(); },
            parts.waiter,
            parts.connectionsFile};
}

}  // namespace

VtTransport::VtTransport(Parts parts)
    : parts_(parts), filter_(parts.session, deferredSender_, parts.terminal), connection_([this] {
          telnet::SessionConnection::Parts connection = connectionParts(parts_);
          // A reconnect starts the emulator and the negotiation over, as a connect does.
          connection.restartSession = [this] {
              parts_.terminal.reset();
              filter_.startConnection();
              filter_.setSgaAgreed(true);
          };
          return connection;
      }()) {}

void VtTransport::sendBytes(std::span<const std::uint8_t> bytes) {
    connection_.sendBytes(bytes);
}

// Every chunk repaints; the automatic sign-on answers each prompt once per connection.
class VtTransport::ReadThreadClient final : public telnet::ChunkHandler {
  public:
    explicit ReadThreadClient(VtTransport& transport) : transport_(transport) {}

    void received(std::span<const std::uint8_t> bytes) override { transport_.receiveChunk(bytes); }

    void afterChunk() override {
        transport_.parts_.view.chunkReceived();
        signOn();
    }
    void restarted() override { signOn_ = AutoSignOn(); }

  private:
    void signOn() {
        DeferredVtHost::Batch batch;
        {
            std::lock_guard lock(transport_.parts_.sessionLock);
            signOn_.check(transport_.parts_.session.settings, transport_.parts_.terminal,
                          transport_.parts_.deferred);
            batch = transport_.parts_.deferred.take();
        }
        batch.run(transport_.parts_.deferred.target());
    }

    VtTransport& transport_;
    AutoSignOn signOn_;
};

void VtTransport::connectSession() {
    if (connection_.connected()) return;
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard lock(parts_.sessionLock);
        const VtSettings& s = parts_.session.settings;
        host = std::string(reader::fixedText(s.hostAddress));
        port = s.telnetPort.get();
    }

    const std::optional<telnet::ConnectTarget> target = connection_.lookUpHost(host, port);
    if (!target) return;
    std::shared_ptr<telnet::Socket> connection = connection_.open(*target);
    if (!connection) return;

    Bytes<reader::kMacroFrameSize> macroFrame;
    {
        std::lock_guard lock(parts_.sessionLock);
        parts_.terminal.setEmulation(connection_.options().emulation);
        parts_.terminal.reset();
        filter_.startConnection();
        filter_.setSgaAgreed(true);
        macroFrame = parts_.session.settings.macroFrame;
    }
    runDeferred();
    parts_.view.connected();

    // A frame that fills all ten bytes has no terminator.
    const std::size_t frameLength =
        macroFrame[9] != 0 ? macroFrame.size() : reader::fixedLength(macroFrame);
    if (frameLength != 0) {
        parts_.services.messages.show("MicroFrame");
        connection->sendBytes({macroFrame.data(), frameLength});
    }

    if (!connection_.startReadThread(connection, std::make_unique<ReadThreadClient>(*this))) {
        connection_.showError("Create readthread failed.");
        disconnectSession();
    }

    parts_.trigger.setTriggerKey(0);
    bool triggerOn;
    {
        std::lock_guard lock(parts_.sessionLock);
        const VtSettings& s = parts_.session.settings;
        triggerOn = s.triggerByEscCmd == 0 && connection_.connected() &&
                    (s.rfidReaderOn != 0 || s.barcodeReaderOn != 0);
        if (parts_.session.settingsLoaded == 0) installDefaultKeyMap(parts_.session, false);
    }
    if (triggerOn) parts_.trigger.setTriggerKey(1);
}

bool VtTransport::disconnectCommand() {
    if (!connection_.confirmDisconnect("Disconnect the session?")) return false;
    {
        std::lock_guard lock(parts_.sessionLock);
        parts_.session.localEchoActive = 1;
    }
    disconnectSession();
    return true;
}

void VtTransport::disconnectSession() {
    connection_.disconnectSession();
}

void VtTransport::receiveChunk(std::span<const std::uint8_t> bytes) {
    DeferredVtHost::Batch batch;
    {
        std::lock_guard lock(parts_.sessionLock);
        filter_.receive(bytes);
        batch = parts_.deferred.take();
    }
    batch.run(parts_.deferred.target());
}

void VtTransport::runDeferred() {
    DeferredVtHost::Batch batch;
    {
        std::lock_guard lock(parts_.sessionLock);
        batch = parts_.deferred.take();
    }
    batch.run(parts_.deferred.target());
}

}  // namespace qn::vt
