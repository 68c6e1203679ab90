#include "vt/transport/vt_transport.h"

#include "vt/settings/vt_key_map.h"
#include "vt/transport/auto_sign_on.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace qn::vt {

using telnet::ReceiveStatus;

VtTransport::VtTransport(Parts parts)
    : parts_(parts), filter_(parts.session, deferredSender_, parts.terminal) {}

VtTransport::~VtTransport() {
    // The read threads end at once (their receive is interrupted) and do no teardown now.
    quitting_.store(true);
    slot_.shutdownAndJoin();
}

void VtTransport::showError(std::string_view text) {
    parts_.services.messages.show(text, "Error", platform::MbButtons::Ok,
                                  platform::MbIcon::Exclamation);
}

std::shared_ptr<telnet::Socket> VtTransport::currentSocket() const {
    return slot_.current();
}

void VtTransport::sendBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (auto socket = currentSocket()) socket->sendBytes(bytes);
}

void VtTransport::connectSession() {
    if (connected_.load()) return;
    std::string host;
    std::uint16_t port = 0;
    {
        std::lock_guard lock(parts_.sessionLock);
        const VtSettings& s = parts_.session.settings;
        host = std::string(reader::fixedText(s.hostAddress));
        port = s.telnetPort.get();
    }

    telnet::HostLookup lookup = telnet::resolveHost(host, port, parts_.resolver);
    if (lookup.error == telnet::HostError::NameNotResolved) {
        showError("Host IP error !!");
        return;
    }
    if (lookup.error == telnet::HostError::InvalidAddress) {
        showError("Invalid Host IP given.");
        return;
    }

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

    Bytes<reader::kMacroFrameSize> macroFrame;
    {
        std::lock_guard lock(parts_.sessionLock);
        parts_.terminal.reset();
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

    if (!slot_.startReader([this, connection] { readThread(connection); })) {
        showError("Create readthread failed.");
        disconnectSession();
    }

    parts_.trigger.setTriggerKey(0);
    bool triggerOn;
    {
        std::lock_guard lock(parts_.sessionLock);
        const VtSettings& s = parts_.session.settings;
        triggerOn = s.triggerByEscCmd == 0 && connected_.load() &&
                    (s.rfidReaderOn != 0 || s.barcodeReaderOn != 0);
        if (parts_.session.settingsLoaded == 0) installDefaultKeyMap(parts_.session, false);
    }
    if (triggerOn) parts_.trigger.setTriggerKey(1);
}

bool VtTransport::disconnectCommand() {
    if (!connected_.load()) return false;
    auto answer = parts_.services.messages.show(
        "Disconnect the session?", {}, platform::MbButtons::YesNo, platform::MbIcon::Question);
    if (answer != platform::MbResult::Yes) return false;
    {
        std::lock_guard lock(parts_.sessionLock);
        parts_.session.localEchoActive = 1;
    }
    disconnectSession();
    return true;
}

void VtTransport::disconnectSession() {
    teardown(nullptr);
}

void VtTransport::teardown(const std::shared_ptr<Connection>& ifCurrent) {
    // A read thread of an earlier connection must not end the current one.
    if (!slot_.close(ifCurrent)) return;
    connected_.store(false);
    parts_.trigger.setTriggerKey(0);
    {
        std::lock_guard lock(parts_.sessionLock);
        parts_.terminal.clearScreenChars();
    }
    parts_.view.disconnected();
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

class VtTransport::ReadThreadClient final : public telnet::ReadLoopClient {
  public:
    ReadThreadClient(VtTransport& transport, std::shared_ptr<Connection> connection)
        : transport_(transport), connection_(std::move(connection)) {}

    void received(std::span<const std::uint8_t> bytes) override { transport_.receiveChunk(bytes); }

    void afterChunk() override {
        transport_.parts_.view.chunkReceived();
        signOn();
    }

    void ended(ReceiveStatus why) override {
        if (transport_.quitting_.load()) return;
        if (why == ReceiveStatus::Closed) transport_.showError("Server Closed!");
        if (why == ReceiveStatus::Failed) transport_.showError("Can not establish connection!");
        transport_.teardown(connection_);
    }

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
    std::shared_ptr<Connection> connection_;
    AutoSignOn signOn_;
};

void VtTransport::readThread(std::shared_ptr<Connection> connection) {
    ReadThreadClient client(*this, connection);
    if (!connection) {
        if (!quitting_.load()) {
            showError("Connect failed!");
            teardown(connection);
        }
        return;
    }
    telnet::runReadLoop(*connection, client, parts_.services.clock, parts_.pauseAfterPass);
}

}  // namespace qn::vt
