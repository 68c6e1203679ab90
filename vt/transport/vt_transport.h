#pragma once
// The VT program's one telnet connection: connect, the read thread, automatic sign-on, the
// macro frame, the scanner trigger at connect and teardown, and the single send path.
//
// Locking: the session record, the emulator and the telnet filter are guarded by the session
// lock. The read thread takes it once per received chunk; sends, sounds, vibrations and message
// boxes always run with it released.

#include <chrono>
#include <filesystem>
#include <mutex>

#include "common/telnet/connection.h"
#include "common/telnet/session_connection.h"
#include "platform/services.h"
#include "vt/emulator/vt_host.h"
#include "vt/settings/vt_settings.h"
#include "vt/transport/deferred_host.h"
#include "vt/transport/vt_telnet_filter.h"

namespace qn::vt {

// What the connection needs of the emulator.
class VtTerminal : public VtDataSink {
  public:
    static constexpr int kColumns = 80;
    virtual void reset() = 0;
    virtual int cursorRow() const = 0;
    // The 80 screen bytes of a row (0..23).
    virtual std::span<const std::uint8_t> rowText(int row) const = 0;
    virtual void clearScreenChars() = 0;
    // The host's rules from its entry in the connection file, set at every connect.
    virtual void setEmulation(telnet::Emulation) {}
};

inline constexpr unsigned kConnectCommandId = 0x8004;
inline constexpr unsigned kDisconnectCommandId = 0x8005;

class VtTransport final : public telnet::ByteSender {
  public:
    struct Parts {
        platform::Services& services;
        VtSession& session;
        std::mutex& sessionLock;
        VtTerminal& terminal;
        // The emulator's host while it runs under the lock; its target carries the requests out
        // (sends back through this transport, sounds, vibration, reader) once the lock is free.
        DeferredVtHost& deferred;
        telnet::ConnectionView& view;
        telnet::TriggerSwitch& trigger;
        telnet::HostResolver& resolver;
        std::chrono::milliseconds pauseAfterPass{100};
        // The "Connecting..." window; none: the connect blocks, bounded by its time-out.
        telnet::ConnectWaiter* waiter = nullptr;
        // Empty: connections.ini in the settings folder.
        std::filesystem::path connectionsFile = {};
    };

    explicit VtTransport(Parts parts);
    VtTransport(const VtTransport&) = delete;
    VtTransport& operator=(const VtTransport&) = delete;

    // The Connect command; UI thread.
    void connectSession();
    // The Disconnect command: asks first. True when the session was disconnected.
    bool disconnectCommand();
    // Teardown, from either thread.
    void disconnectSession();

    // The single path to the host: one send on the session socket; nothing when unconnected.
    void sendBytes(std::span<const std::uint8_t> bytes) override;
    void sendBytes(const std::uint8_t* data, std::size_t length) { sendBytes({data, length}); }

    bool connected() const { return connection_.connected(); }
    // The connection's options and failures (connections.ini, TLS).
    telnet::SessionConnection& connection() { return connection_; }
    // The filter's state, e.g. for the replay tool; guarded by the session lock.
    VtTelnetFilter& filter() { return filter_; }

    // One chunk through the filter and the emulator, as the read thread does it: under the
    // session lock, then the collected answers and requests carried out without it.
    void receiveChunk(std::span<const std::uint8_t> bytes);
    // Carries out what the emulator collected outside a chunk (local echo on the UI thread).
    void runDeferred();

  private:
    class ReadThreadClient;

    Parts parts_;
    // Telnet answers join the emulator's replies in one ordered queue.
    class DeferredSender final : public telnet::ByteSender {
      public:
        explicit DeferredSender(DeferredVtHost& host) : host_(host) {}
        void sendBytes(std::span<const std::uint8_t> bytes) override {
            host_.sendBytes(bytes.data(), bytes.size());
        }

      private:
        DeferredVtHost& host_;
    } deferredSender_{parts_.deferred};
    VtTelnetFilter filter_;
    // Last: destroyed first, so the read threads end while everything they use lives; program
    // quit closes the socket without the teardown.
    telnet::SessionConnection connection_;
};

}  // namespace qn::vt
