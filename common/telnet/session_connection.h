#pragma once
// The connection steps both programs take alike: the host text looked up, the socket created
// and connected, the read thread run and its end handled, the user's disconnect question and
// the teardown, each with its message. A program's transport calls them in its own order around
// its own steps (the screen reset, the macro frame, its trigger rule) and keeps its own texts
// where the two differ.
//
// A read thread is never waited for when a connection ends; one that ends late can only close
// its own connection, never a newer one. Sends, the trigger, views and message boxes always run
// with the session lock released.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "common/telnet/connection.h"
#include "common/telnet/connection_slot.h"
#include "platform/services.h"

namespace qn::telnet {

// What a connection asks of the view. connected() runs on the UI thread; chunkReceived() and
// disconnected() may run on the read thread and should post to the UI.
class ConnectionView {
  public:
    virtual ~ConnectionView() = default;
    // Font and caret set up, cursor made visible, the view repainted.
    virtual void connected() = 0;
    // A received chunk changed the screen: make the cursor visible and repaint without erasing.
    virtual void chunkReceived() = 0;
    // Repaint the emptied screen with erasing; hide and destroy the caret when the view has the
    // focus.
    virtual void disconnected() = 0;
};

// The scanner trigger of the reader library (SetTriggerKey).
class TriggerSwitch {
  public:
    virtual ~TriggerSwitch() = default;
    virtual void setTriggerKey(int on) = 0;
};

// A program's work on the read thread of one connection; a new one for every connection.
class ChunkHandler {
  public:
    virtual ~ChunkHandler() = default;
    // One received chunk, in order.
    virtual void received(std::span<const std::uint8_t> bytes) = 0;
    // After each chunk: the repaint request, the automatic sign-on.
    virtual void afterChunk() = 0;
};

class SessionConnection final : public ByteSender {
  public:
    struct Parts {
        platform::Services& services;
        std::mutex& sessionLock;
        ConnectionView& view;
        TriggerSwitch& trigger;
        HostResolver& resolver;
        // After every receive pass; zero for none.
        std::chrono::milliseconds pauseAfterPass;
        // Teardown, under the session lock: the screen emptied.
        std::function<void()> clearScreen;
    };

    explicit SessionConnection(Parts parts) : parts_(std::move(parts)) {}
    // Program quit: the socket is shut down and the read threads end without the teardown.
    ~SessionConnection() override;
    SessionConnection(const SessionConnection&) = delete;
    SessionConnection& operator=(const SessionConnection&) = delete;

    bool connected() const { return connected_.load(); }

    // The host's address, or nullopt once "Host IP error !!" or "Invalid Host IP given." was
    // shown.
    std::optional<sockaddr_in> lookUpHost(std::string_view hostText, std::uint16_t port);
    // Creates the socket, makes it the session's and connects it: the connection, or nullptr
    // once "Create socket failed !!" or "Can not establish connection" was shown. A socket that
    // did not connect stays the session's, unconnected.
    std::shared_ptr<Socket> open(const sockaddr_in& address);
    // Runs the connection's read thread with the handler. False when no thread could be made;
    // the program reports that in its own words.
    bool startReadThread(std::shared_ptr<Socket> connection, std::unique_ptr<ChunkHandler> handler);

    // The Disconnect command's question (Yes/No): true when connected and answered Yes.
    bool confirmDisconnect(std::string_view question);
    // Teardown, from either thread.
    void disconnectSession() { teardown(nullptr); }

    // One send on the session socket; nothing when unconnected.
    void sendBytes(std::span<const std::uint8_t> bytes) override;
    // A connection error: caption "Error", exclamation icon, OK.
    void showError(std::string_view text);

  private:
    class ReadThreadClient;

    void readThread(const std::shared_ptr<Socket>& connection, ChunkHandler& handler);
    void teardown(const std::shared_ptr<Socket>& ifCurrent);

    Parts parts_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> quitting_{false};
    // Last: destroyed first, so the read threads are joined while everything they use lives.
    ConnectionSlot slot_;
};

}  // namespace qn::telnet
