#include "vt/transport/vt_transport.h"

#include "vt/settings/vt_key_map.h"
#include "vt/transport/auto_sign_on.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <system_error>

namespace qn::vt {

using telnet::ReceiveStatus;

struct VtTransport::Connection {
    std::shared_ptr<telnet::Socket> socket;
};

VtTransport::VtTransport(Parts parts)
    : parts_(parts), filter_(parts.session, deferredSender_, parts.terminal) {}

VtTransport::~VtTransport() {
    quitting_.store(true);
    std::vector<ReadThread> threads;
    {
        std::lock_guard lock(mutex_);
        if (current_ && current_->socket) current_->socket->shutdownLocal();
        current_.reset();
        threads.swap(threads_);
    }
    // Each read thread ends at once: its receive was interrupted, and it does no teardown now.
    for (auto& reader : threads) {
        if (reader.thread.joinable()) reader.thread.join();
    }
}

void VtTransport::showError(std::string_view text) {
    parts_.services.messages.show(text, "Error", platform::MbButtons::Ok,
                                  platform::MbIcon::Exclamation);
}

std::shared_ptr<telnet::Socket> VtTransport::currentSocket() const {
    std::lock_guard lock(mutex_);
    return current_ ? current_->socket : nullptr;
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

    auto connection = std::make_shared<Connection>();
    connection->socket = telnet::Socket::create();
    if (!connection->socket) {
        showError("Create socket failed !!");
        return;
    }
    {
        std::lock_guard lock(mutex_);
        current_ = connection;
    }
    if (!connection->socket->connect(lookup.address)) {
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
        connection->socket->sendBytes({macroFrame.data(), frameLength});
    }

    reapFinishedThreads();
    try {
        std::lock_guard lock(mutex_);
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([this, connection, done] {
            readThread(connection);
            done->store(true);
        });
        threads_.push_back({std::move(thread), std::move(done)});
    } catch (const std::system_error&) {
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

void VtTransport::reapFinishedThreads() {
    std::vector<ReadThread> finished;
    {
        std::lock_guard lock(mutex_);
        auto ended = std::stable_partition(threads_.begin(), threads_.end(),
                                           [](const ReadThread& t) { return !t.done->load(); });
        std::move(ended, threads_.end(), std::back_inserter(finished));
        threads_.erase(ended, threads_.end());
    }
    // These have left their loop; joining only waits for their last return.
    for (auto& reader : finished)
        reader.thread.join();
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
    {
        std::lock_guard lock(mutex_);
        // A read thread of an earlier connection must not end the current one.
        if (ifCurrent && current_ != ifCurrent) return;
        connected_.store(false);
        if (current_ && current_->socket) current_->socket->shutdownLocal();
        current_.reset();
    }
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
    if (!connection->socket) {
        if (!quitting_.load()) {
            showError("Connect failed!");
            teardown(connection);
        }
        return;
    }
    telnet::runReadLoop(*connection->socket, client, parts_.services.clock, parts_.pauseAfterPass);
}

}  // namespace qn::vt
