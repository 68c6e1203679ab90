// The system library stand-in: SetVibratorPower and GetSysInfo, configured by system.ini in the
// device root:
//
//   [system]
//   digit=3                 ; the character at byte 22 of the record; anything but a single
//                           ; decimal digit (or no file at all) gives '0'
//   vibrator=PATH           ; optional: a sysfs brightness file or an evdev force-feedback device
//   vibrator_kind=auto      ; auto (a /dev/input/ path is evdev), brightness or evdev
//
// The file is read afresh on each call, so a test or an operator can change it under a running
// program. Every SetVibratorPower call is recorded, vibrator or not. A vibrator that cannot be
// driven makes SetVibratorPower return 0; nothing blocks: files are opened non-blocking.

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "common/device/system_abi.h"
#include "platform/ini.h"
#include "plugins/common/plugin_support.h"
#include "plugins/sysplugin/sysplugin_test_api.h"

namespace {

constexpr char kDefaultDigit = '0';
constexpr int kModelNameBytes = 16;  // the model name sits at the start of the record
// The vibrator is switched off explicitly; the effect's own length only caps a forgotten "off".
constexpr unsigned short kRumbleCapMs = 10000;

enum class VibratorKind { None, Brightness, Evdev };

struct SystemConfig {
    char digit = kDefaultDigit;
    VibratorKind vibratorKind = VibratorKind::None;
    std::string vibratorPath;
};

SystemConfig loadSystemConfig() {
    SystemConfig config;
    auto ini = qn::platform::IniFile::load(qn::plugin::deviceRoot() / "system.ini");
    if (!ini) return config;
    if (auto digit = ini->value("system", "digit");
        digit && digit->size() == 1 && (*digit)[0] >= '0' && (*digit)[0] <= '9') {
        config.digit = (*digit)[0];
    }
    auto path = ini->value("system", "vibrator");
    if (!path || path->empty()) return config;
    config.vibratorPath = *path;
    std::string kind = ini->value("system", "vibrator_kind").value_or("auto");
    if (kind == "evdev") {
        config.vibratorKind = VibratorKind::Evdev;
    } else if (kind == "brightness") {
        config.vibratorKind = VibratorKind::Brightness;
    } else if (kind == "auto") {
        config.vibratorKind = config.vibratorPath.starts_with("/dev/input/")
                                  ? VibratorKind::Evdev
                                  : VibratorKind::Brightness;
    }
    return config;
}

bool writeBrightness(const std::string& path, bool on) {
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode));
    // A plain file (a test's stand-in for sysfs) holds just the last value written.
    if (ok && S_ISREG(info.st_mode)) ok = ::ftruncate(fd, 0) == 0;
    if (ok) ok = ::write(fd, on ? "1" : "0", 1) == 1;
    ::close(fd);
    return ok;
}

// A force-feedback rumble kept uploaded while the vibrator is on.
class EvdevRumble {
  public:
    EvdevRumble() = default;
    EvdevRumble(const EvdevRumble&) = delete;
    EvdevRumble& operator=(const EvdevRumble&) = delete;
    ~EvdevRumble() { stop(); }

    bool start(const std::string& path) {
        stop();
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
            ::close(fd);
            return false;
        }
        ff_effect effect{};
        effect.type = FF_RUMBLE;
        effect.id = -1;
        effect.u.rumble.strong_magnitude = 0xC000;
        effect.u.rumble.weak_magnitude = 0x8000;
        effect.replay.length = kRumbleCapMs;
        if (::ioctl(fd, EVIOCSFF, &effect) < 0) {
            ::close(fd);
            return false;
        }
        fd_ = fd;
        effectId_ = effect.id;
        if (!play(1)) {
            stop();
            return false;
        }
        return true;
    }

    // Stops and removes the effect; true when none was playing or it stopped cleanly.
    bool stop() {
        if (fd_ < 0) return true;
        bool ok = play(0);
        ok = ::ioctl(fd_, EVIOCRMFF, effectId_) == 0 && ok;
        ::close(fd_);
        fd_ = -1;
        effectId_ = -1;
        return ok;
    }

  private:
    bool play(int value) {
        input_event event{};
        event.type = EV_FF;
        event.code = static_cast<unsigned short>(effectId_);
        event.value = value;
        return ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
    }

    int fd_ = -1;
    int effectId_ = -1;
};

std::mutex gMutex;
std::deque<int> gRecordedCalls;
EvdevRumble gRumble;

std::string modelName() {
    std::string stem = qn::plugin::ownFile().stem().string();
    if (stem.ends_with("_SYS")) stem.resize(stem.size() - 4);
    return stem;
}

}  // namespace

QN_PLUGIN_EXPORT int SetVibratorPower(int on) {
    SystemConfig config = loadSystemConfig();
    std::lock_guard lock(gMutex);
    gRecordedCalls.push_back(on);
    if (gRecordedCalls.size() > QN_SYS_MAX_RECORDED_CALLS) gRecordedCalls.pop_front();
    switch (config.vibratorKind) {
        case VibratorKind::None:
            return gRumble.stop() ? 1 : 0;
        case VibratorKind::Brightness:
            return writeBrightness(config.vibratorPath, on != 0) ? 1 : 0;
        case VibratorKind::Evdev:
            return (on != 0 ? gRumble.start(config.vibratorPath) : gRumble.stop()) ? 1 : 0;
    }
    return 0;
}

QN_PLUGIN_EXPORT int GetSysInfo(unsigned char* record) {
    if (record == nullptr) return 0;
    SystemConfig config = loadSystemConfig();
    std::memset(record, 0, QN_SYSINFO_SIZE);
    std::string model = modelName();
    std::memcpy(record, model.data(), std::min<std::size_t>(model.size(), kModelNameBytes));
    record[QN_SYSINFO_DIGIT_OFFSET] = static_cast<unsigned char>(config.digit);
    return 1;
}

QN_PLUGIN_EXPORT int QnSysRecordedCalls(int* out, int max) {
    std::lock_guard lock(gMutex);
    if (out != nullptr && max > 0) {
        std::size_t count = std::min(gRecordedCalls.size(), static_cast<std::size_t>(max));
        std::copy_n(gRecordedCalls.begin(), count, out);
    }
    return static_cast<int>(gRecordedCalls.size());
}

QN_PLUGIN_EXPORT void QnSysClearRecordedCalls(void) {
    std::lock_guard lock(gMutex);
    gRecordedCalls.clear();
}
