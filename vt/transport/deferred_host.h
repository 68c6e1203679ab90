#pragma once
// Collects what the emulator asks of the world while it works under the session lock, and
// carries it out afterwards, in order, with the lock released: no send, sound or vibration
// ever runs while the other thread waits for the lock.

#include <cstdint>
#include <vector>

#include "vt/emulator/vt_host.h"

namespace qn::vt {

class DeferredVtHost final : public VtHost {
  public:
    // A taken set of actions, carried out later on the taking thread.
    class Batch {
      public:
        void run(VtHost& target) const;
        bool empty() const { return actions_.empty(); }

      private:
        friend class DeferredVtHost;
        enum class Kind : std::uint8_t { Send, Sound, Vibrate, Trigger, ActiveDevice, Beep, Caret };
        struct Action {
            Kind kind;
            std::int64_t value;
            std::size_t offset;  // Send: where its bytes start
            std::size_t length;
        };
        std::vector<Action> actions_;
        std::vector<std::uint8_t> bytes_;
    };

    // readerType() is answered at once by target, which also carries out the batches.
    explicit DeferredVtHost(VtHost& target) : target_(target) {}

    void sendBytes(const std::uint8_t* data, std::size_t length) override;
    void playSound(int number) override { add(Batch::Kind::Sound, number); }
    void vibrate(int steps) override { add(Batch::Kind::Vibrate, steps); }
    void setTriggerKey(int on) override { add(Batch::Kind::Trigger, on); }
    std::uint32_t readerType() const override { return target_.readerType(); }
    void setActiveDevice(std::uint32_t mask) override { add(Batch::Kind::ActiveDevice, mask); }
    void beep() override { add(Batch::Kind::Beep, 0); }
    void showCaret(bool visible) override { add(Batch::Kind::Caret, visible ? 1 : 0); }

    // Takes what was collected; call with the session lock held, run it after releasing it.
    Batch take();
    VtHost& target() { return target_; }

  private:
    void add(Batch::Kind kind, std::int64_t value) {
        pending_.actions_.push_back({kind, value, 0, 0});
    }

    VtHost& target_;
    Batch pending_;
};

}  // namespace qn::vt
