#pragma once
// The 5250 program's one telnet connection: connect (the screen is reset before the socket
// exists), the read thread that feeds each block through the telnet layer into the record
// assembler and afterwards asks for a redraw and tries the automatic sign-on, the scanner
// trigger at connect and teardown, and the single send path.
//
// Locking: the session record, the screen model, the assembler and the telnet layer are
// guarded by the session lock. The read thread takes it once per received block; sends, the
// alarm and message boxes always run with it released.

#include <filesystem>
#include <mutex>
#include <utility>

#include "common/telnet/connection.h"
#include "common/telnet/session_connection.h"
#include "platform/services.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/datastream/tn_host.h"
#include "tn5250/settings/tn_settings.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace qn::tn {

class TnTransport final : public telnet::ByteSender {
  public:
    struct Parts {
        platform::Services& services;
        TnSession& session;
        std::mutex& sessionLock;
        // The interpreter, built on `deferred`, so that its replies wait for the lock's release.
        TnDataStream& stream;
        DeferredTnHost& deferred;
        // Where collected replies and alarms are carried out: sends back through this
        // transport, the alarm through the device layer.
        TnHost& effects;
        telnet::ConnectionView& view;
        telnet::TriggerSwitch& trigger;
        telnet::HostResolver& resolver;
        // The "Connecting..." window; none: the connect blocks, bounded by its time-out.
        telnet::ConnectWaiter* waiter = nullptr;
        // Empty: connections.ini in the settings folder.
        std::filesystem::path connectionsFile = {};
    };

    explicit TnTransport(Parts parts);
    TnTransport(const TnTransport&) = delete;
    TnTransport& operator=(const TnTransport&) = delete;

    // The Connect command; UI thread.
    void connectSession();
    // The Disconnect command: asks first. True when the session was disconnected.
    bool disconnectCommand();
    // Teardown, from either thread.
    void disconnectSession();

    // One send on the session socket; nothing when unconnected.
    void sendBytes(std::span<const std::uint8_t> bytes) override;

    bool connected() const { return connection_.connected(); }
    // The connection's options and failures (connections.ini, TLS).
    telnet::SessionConnection& connection() { return connection_; }
    TnTelnetFilter& filter() { return filter_; }

    // One block through the telnet layer and the interpreter, as the read thread does it.
    // Returns whether the screen asks for a redraw.
    bool receiveChunk(std::span<const std::uint8_t> bytes);
    // A UI operation on the session (an AID key, a field edit): runs under the session lock;
    // what it sent or sounded is carried out after the lock is released.
    template <class Operation>
    void withSession(Operation&& operation) {
        DeferredTnHost::Batch batch;
        {
            std::lock_guard lock(parts_.sessionLock);
            std::forward<Operation>(operation)();
            batch = parts_.deferred.take();
        }
        batch.run(parts_.effects);
    }

  private:
    class ReadThreadClient;

    Parts parts_;
    TnTelnetFilter filter_;
    // Last: destroyed first, so the read threads end while everything they use lives; program
    // quit closes the socket without the teardown.
    telnet::SessionConnection connection_;
};

}  // namespace qn::tn
