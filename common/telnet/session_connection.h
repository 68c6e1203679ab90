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
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/telnet/connection.h"
#include "common/telnet/connection_options.h"
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
    // A lost connection is being made again (connections.ini's reconnect): attempt n of
    // kReconnectAttempts starts after the wait. Read thread.
    virtual void reconnecting(int attempt, std::chrono::seconds wait) {
        (void)attempt;
        (void)wait;
    }
};

// Reconnect attempts after a receive error, and the waits before them.
inline constexpr int kReconnectAttempts = 6;
inline constexpr std::chrono::seconds kReconnectWaits[kReconnectAttempts] = {
    std::chrono::seconds(1), std::chrono::seconds(2),  std::chrono::seconds(4),
    std::chrono::seconds(8), std::chrono::seconds(15), std::chrono::seconds(30)};

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
    // The connection was made again after it was lost: what holds for one connection (the
    // automatic sign-on's progress) starts over.
    virtual void restarted() {}
};

// Keeps the window painting while a connect and handshake run on another thread (a modal
// "Connecting..." with Cancel). Without one, the connect runs on the calling thread, bounded
// by its time-out.
class ConnectWaiter {
  public:
    virtual ~ConnectWaiter() = default;
    // Returns once finished() is true; cancel() asks the connect to stop (it then finishes
    // within a fraction of a second).
    virtual void wait(const std::function<bool()>& finished,
                      const std::function<void()>& cancel) = 0;
};

// Where to connect and how: the host's options and its addresses.
struct ConnectTarget : HostOptions {
    std::vector<Endpoint> addresses;
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
        ConnectWaiter* waiter = nullptr;
        // The options file; empty for connections.ini in the settings folder.
        std::filesystem::path connectionsFile = {};
        // A reconnect has succeeded: under the session lock, the program's state made ready for
        // a fresh connection (the emulator or screen reset, the telnet layer's negotiation
        // from its start, so a 5250 station sends the same device name again).
        std::function<void()> restartSession = {};
    };

    explicit SessionConnection(Parts parts) : parts_(std::move(parts)) {}
    // Program quit: the socket is shut down and the read threads end without the teardown.
    ~SessionConnection() override;
    SessionConnection(const SessionConnection&) = delete;
    SessionConnection& operator=(const SessionConnection&) = delete;

    bool connected() const { return connected_.load(); }

    // The host's options (connections.ini) and addresses, or nullopt once the file's fault,
    // "Host IP error !!" or "Invalid Host IP given." was shown. The host text may start with
    // "tls:".
    std::optional<ConnectTarget> lookUpHost(std::string_view hostText, std::uint16_t port);
    // Creates the socket, makes it the session's and connects it (each address in turn, within
    // the time-out), then the TLS handshake when the target asks for it: the connection, or
    // nullptr once "Create socket failed !!", "Can not establish connection" or the TLS
    // failure's reason was shown (nothing when the operator cancelled). A socket that did not
    // connect stays the session's, unconnected.
    std::shared_ptr<Socket> open(const ConnectTarget& target);
    // The options of the last host looked up (UI thread).
    const ConnectionOptions& options() const { return options_; }
    // Applied to every host's options after connections.ini (a tool's command line).
    void setOverrides(std::function<void(ConnectionOptions&)> overrides) {
        overrides_ = std::move(overrides);
    }

    enum class Failure { None, Options, Lookup, Socket, Connect, Tls, Cancelled };
    // Why the last connect failed (UI thread).
    Failure lastFailure() const { return lastFailure_; }
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

    void readThread(std::shared_ptr<Socket> connection, const ConnectTarget& target,
                    ChunkHandler& handler);
    // After a receive error with reconnect on: the new connection, or nullptr when every attempt
    // failed or the connection was ended meanwhile (then `ended` says so).
    std::shared_ptr<Socket> reconnect(const std::shared_ptr<Socket>& lost,
                                      const ConnectTarget& target, bool& ended);
    void teardown(const std::shared_ptr<Socket>& ifCurrent);

    // The connect and handshake, on whichever thread runs them; the message to show, if any.
    std::string connectAndSecure(Socket& socket, const ConnectTarget& target, Failure& failure);

    Parts parts_;
    ConnectionOptions options_;
    ConnectTarget target_;  // of the last connection opened (UI thread)
    std::function<void(ConnectionOptions&)> overrides_;
    Failure lastFailure_ = Failure::None;
    std::atomic<bool> connected_{false};
    std::atomic<bool> quitting_{false};
    // Last: destroyed first, so the read threads are joined while everything they use lives.
    ConnectionSlot slot_;
};

}  // namespace qn::telnet
