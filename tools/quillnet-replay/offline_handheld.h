#pragma once
// The handheld as the replay and session tools have it: a KX2CE whose reader library hands out
// the script's decodes, and every sound, vibration, trigger switch and message box recorded in
// order as what the operator would notice, none of them played or shown.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/telnet/telnet.h"
#include "platform/services.h"

namespace qn::tools {

// Sounds, vibrations and message boxes. Offline, time passes only while the vibrator runs; live
// (the session tool), sleeping really waits and only the vibrator's runs are events.
class OperatorEvents final : public platform::Clock,
                             public platform::SoundPlayer,
                             public platform::MessageBoxes {
  public:
    explicit OperatorEvents(bool live) : live_(live) {}

    TimePoint now() const override;
    void sleepFor(std::chrono::milliseconds duration) override;
    void stop() override {}
    void playAsync(const std::filesystem::path& wavFile) override;
    // Questions are answered Yes (or OK).
    platform::MbResult show(std::string_view text, std::string_view caption,
                            platform::MbButtons buttons, platform::MbIcon icon) override;

    void add(std::string event);
    // Sees every message box as it is shown, on the showing thread; set before anything runs.
    using MessageObserver = std::function<void(std::string_view text, std::string_view caption)>;
    void observeMessages(MessageObserver observer) { observer_ = std::move(observer); }
    // The vibrator's power: only sleeps on the thread that switched it on are its runs.
    void setVibrator(bool on);
    void clear();
    std::vector<std::string> list() const;
    // The texts of the message boxes with the caption "Error", in order.
    std::vector<std::string> errors() const;

  private:
    const bool live_;
    MessageObserver observer_;
    mutable std::mutex mutex_;
    bool vibratorOn_ = false;
    std::thread::id vibratorThread_;
    std::chrono::milliseconds elapsed_{0};
    std::vector<std::string> list_;
    std::vector<std::string> errors_;
};

// Where a terminal's bytes for the host go: a recording, or a live connection.
class StationWire : public telnet::ByteSender {
  public:
    virtual bool open() const = 0;
};

// A wire open for a whole replay: every send recorded.
struct RecordingWire final : StationWire {
    bool open() const override { return true; }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (!bytes.empty()) sends.emplace_back(bytes.begin(), bytes.end());
    }
    std::vector<std::vector<std::uint8_t>> sends;
};

// The decodes the scripted reader library hands out next.
void setScriptedBarcode(std::span<const std::uint8_t> data);
void setScriptedRfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData);

struct OfflineHandheld {
    // registryText: the Ident key (the model, and the network name a 5250 session may send).
    explicit OfflineHandheld(
        bool live = false,
        std::string_view registryText = "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n");
    ~OfflineHandheld();
    OfflineHandheld(const OfflineHandheld&) = delete;
    OfflineHandheld& operator=(const OfflineHandheld&) = delete;

    static inline const std::filesystem::path kRoot = "/replay";
    platform::MemoryRegistry registry;
    platform::FakeLibraryLoader libraries;
    OperatorEvents events;
    platform::BlockingMessageQueue queue;
    platform::Services services{registry, libraries, events, queue, events, events, kRoot};
};

}  // namespace qn::tools
