#include "platform/sound.h"

#include <alsa/asoundlib.h>

#include <cstring>
#include <fstream>

namespace qn::platform {

namespace {

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Sound files are short tones; anything larger is not one of ours.
constexpr std::size_t kMaxWaveBytes = 8 * 1024 * 1024;

void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::optional<PcmSound> parseWave(const unsigned char* data, std::size_t size) {
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    PcmSound sound;
    bool haveFormat = false;
    bool haveData = false;
    std::size_t pos = 12;
    while (pos + 8 <= size) {
        const unsigned char* chunk = data + pos;
        std::size_t length = le32(chunk + 4);
        std::size_t body = pos + 8;
        if (length > size - body) return std::nullopt;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || le16(data + body) != 1) return std::nullopt;  // PCM only
            sound.channels = le16(data + body + 2);
            sound.sampleRate = le32(data + body + 4);
            sound.bitsPerSample = le16(data + body + 14);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return std::nullopt;
            sound.frames.assign(data + body, data + body + length);
            haveData = true;
            break;
        }
        pos = body + length + (length & 1);
    }
    if (!haveFormat || !haveData || sound.channels < 1 || sound.channels > 2 ||
        sound.sampleRate < 1000 || sound.sampleRate > 192000 ||
        (sound.bitsPerSample != 8 && sound.bitsPerSample != 16)) {
        return std::nullopt;
    }
    return sound;
}

AlsaSoundPlayer::AlsaSoundPlayer() {
    snd_lib_error_set_handler(silentAlsaErrors);
    worker_ = std::jthread([this](std::stop_token token) { run(token); });
}

AlsaSoundPlayer::~AlsaSoundPlayer() {
    worker_.request_stop();
    stop();
    wake_.notify_all();
}

void AlsaSoundPlayer::stop() {
    std::lock_guard lock(mutex_);
    pending_.reset();
    ++generation_;
}

void AlsaSoundPlayer::playAsync(const std::filesystem::path& wavFile) {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        pending_ = wavFile;
    }
    wake_.notify_all();
}

void AlsaSoundPlayer::run(std::stop_token stopToken) {
    while (true) {
        std::filesystem::path file;
        unsigned generation = 0;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stopToken, [this] { return pending_.has_value(); })) return;
            file = *pending_;
            pending_.reset();
            generation = generation_;
        }
        auto current = [&] {
            std::lock_guard lock(mutex_);
            return generation == generation_ && !stopToken.stop_requested();
        };

        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        std::vector<unsigned char> bytes(kMaxWaveBytes);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        auto sound = parseWave(bytes.data(), static_cast<std::size_t>(in.gcount()));
        if (!sound) continue;

        // Non-blocking open: a busy or absent device means no sound, not a wait.
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) continue;
        snd_pcm_format_t format =
            sound->bitsPerSample == 16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8;
        if (snd_pcm_nonblock(pcm, 0) < 0 ||
            snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, sound->channels,
                               sound->sampleRate, 1, 100000) < 0) {
            snd_pcm_close(pcm);
            continue;
        }
        const std::size_t frameBytes = sound->channels * sound->bitsPerSample / 8;
        const std::size_t totalFrames = sound->frames.size() / frameBytes;
        const std::size_t period = std::max<std::size_t>(sound->sampleRate / 50, 1);  // 20 ms
        std::size_t done = 0;
        bool interrupted = false;
        while (done < totalFrames) {
            if (!current()) {
                interrupted = true;
                break;
            }
            std::size_t count = std::min(period, totalFrames - done);
            snd_pcm_sframes_t written =
                snd_pcm_writei(pcm, sound->frames.data() + done * frameBytes, count);
            if (written < 0) {
                if (snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) break;
                continue;
            }
            done += static_cast<std::size_t>(written);
        }
        if (interrupted) {
            snd_pcm_drop(pcm);
        } else {
            snd_pcm_drain(pcm);
        }
        snd_pcm_close(pcm);
    }
}

void RecordingSoundPlayer::stop() {
    std::lock_guard lock(mutex_);
    events_.push_back("stop");
}

void RecordingSoundPlayer::playAsync(const std::filesystem::path& wavFile) {
    std::lock_guard lock(mutex_);
    events_.push_back("play " + wavFile.filename().string());
}

std::vector<std::string> RecordingSoundPlayer::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

}  // namespace qn::platform
