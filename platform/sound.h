#pragma once
// Sound files played asynchronously. Starting a sound stops the one playing; where there is no
// sound device the player stays silent: never an error, never a wait.

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qn::platform {

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    virtual void stop() = 0;
    // Returns at once; the file is played on the player's own thread.
    virtual void playAsync(const std::filesystem::path& wavFile) = 0;
};

// 16-bit or 8-bit PCM from a RIFF/WAVE file; nullopt for anything else.
struct PcmSound {
    unsigned channels = 0;
    unsigned sampleRate = 0;
    unsigned bitsPerSample = 0;
    std::vector<unsigned char> frames;
};
std::optional<PcmSound> parseWave(const unsigned char* data, std::size_t size);

class AlsaSoundPlayer final : public SoundPlayer {
  public:
    AlsaSoundPlayer();
    ~AlsaSoundPlayer() override;
    void stop() override;
    void playAsync(const std::filesystem::path& wavFile) override;

  private:
    void run(std::stop_token stopToken);

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<std::filesystem::path> pending_;
    unsigned generation_ = 0;  // bumped by stop(); the playing sound checks it between periods
    std::jthread worker_;
};

// Test double.
class RecordingSoundPlayer final : public SoundPlayer {
  public:
    void stop() override;
    void playAsync(const std::filesystem::path& wavFile) override;
    // "stop" and "play <file name>" in order.
    std::vector<std::string> events() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace qn::platform
