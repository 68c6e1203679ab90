#pragma once
// The one connection of a session and the read threads of its connections. A read thread is
// never waited for when a connection ends; it is joined once it has finished (when the next
// one starts) or at program quit, after its socket was shut down. A read thread ending late
// can only close its own connection, never a newer one.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/telnet/connection.h"

namespace qn::telnet {

class ConnectionSlot {
  public:
    ConnectionSlot() = default;
    // Program quit: the current socket is shut down and every read thread joined.
    ~ConnectionSlot();
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

    void install(std::shared_ptr<Socket> socket);
    std::shared_ptr<Socket> current() const;
    // Shuts down and forgets the current connection. With ifCurrent, only when that is still
    // the current one; false when it was not.
    bool close(const std::shared_ptr<Socket>& ifCurrent = nullptr);
    // Puts fresh in the place of expected, when that is still the current one.
    bool replace(const std::shared_ptr<Socket>& expected, std::shared_ptr<Socket> fresh);
    // Runs body on a new read thread; finished threads are joined first. False when the
    // system could not make a thread.
    bool startReader(std::function<void()> body);
    // Shuts down the current socket and joins every read thread.
    void shutdownAndJoin();

  private:
    struct Reader {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void joinFinished();

    mutable std::mutex mutex_;
    std::shared_ptr<Socket> current_;
    std::vector<Reader> readers_;
};

}  // namespace qn::telnet
