#pragma once
// The 5250 program's one telnet connection: connect (the screen is reset before the socket
// exists), the read thread that feeds each block through the telnet layer into the record
// assembler and afterwards asks for a redraw and tries the automatic sign-on, the scanner
// trigger at connect and teardown, and the single send path.
//
// Locking: the session record, the screen model, the assembler and the telnet layer are
// guarded by the session lock. The read thread takes it once per received block; sends, the
// alarm and message boxes always run with it released.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/telnet/connection.h"
#include "common/telnet/connection_slot.h"
#include "platform/services.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/datastream/tn_host.h"
#include "tn5250/settings/tn_settings.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace qn::tn {

// What the connection asks of the view. connected() runs on the UI thread; redraw() and
// disconnected() may run on the read thread and should post to the UI.
class TnConnectionView {
  public:
    virtual ~TnConnectionView() = default;
    virtual void connected() = 0;
    // The screen changed: invalidate the view and make it follow the cursor.
    virtual void redraw() = 0;
    // Repaint the empty screen and hide the caret.
    virtual void disconnected() = 0;
};

// The reader library's SetTriggerKey.
class TnTriggerSwitch {
  public:
    virtual ~TnTriggerSwitch() = default;
    virtual void setTriggerKey(int on) = 0;
};

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
        TnConnectionView& view;
        TnTriggerSwitch& trigger;
        telnet::HostResolver& resolver;
    };

    explicit TnTransport(Parts parts);
    // Program quit: the socket is closed and the read thread ends without the teardown.
    ~TnTransport() override;
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

    bool connected() const { return connected_.load(); }
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
    using Connection = telnet::Socket;

    void showError(std::string_view text);
    void readThread(std::shared_ptr<Connection> connection);
    void teardown(const std::shared_ptr<Connection>& ifCurrent);

    Parts parts_;
    TnTelnetFilter filter_;

    std::atomic<bool> connected_{false};
    std::atomic<bool> quitting_{false};
    // Last: destroyed first, so the read threads are joined while everything they use lives.
    telnet::ConnectionSlot slot_;
};

}  // namespace qn::tn
