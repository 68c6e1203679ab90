#include "tools/quillnet-replay/offline_handheld.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "common/device/device.h"
#include "common/reader/reader_abi.h"
#include "platform/library.h"

namespace qn::tools {

namespace {

// The reader library's C entry points. A tool runs one handheld at a time, and only its
// script thread takes decodes, so plain statics serve them.
struct ScriptedReader {
    static inline std::mutex mutex;
    static inline std::vector<std::uint8_t> barcode;
    static inline std::vector<std::uint8_t> uid;
    static inline std::vector<std::uint8_t> userData;
    static inline OperatorEvents* events = nullptr;

    static int copy(const std::vector<std::uint8_t>& what, unsigned char* buffer, int size) {
        if (size <= 0) return 0;
        std::lock_guard lock(mutex);
        const int n = std::min(static_cast<int>(what.size()), size - 1);
        std::copy_n(what.begin(), n, buffer);
        return n;
    }
    static void record(std::string event) {
        std::lock_guard lock(mutex);
        if (events != nullptr) events->add(std::move(event));
    }
    static int initReader() { return 1; }
    // Barcode engines and the RFID reader.
    static int readerType() { return 0x27; }
    // The library's own output defaults: on, every reader active.
    static int defaultSettings(unsigned char* block) {
        if (block == nullptr) return 0;
        std::fill_n(block, QN_LIBRARY_DEFAULTS_SIZE, 0);
        block[0] = 0x01;
        block[1] = static_cast<unsigned char>(readerType());
        return 1;
    }
    static int decodeData(unsigned char* buffer, int size) { return copy(barcode, buffer, size); }
    // The VT program asks for the barcode through the output record.
    static int outputRecord(int kind, unsigned char* buffer, int size) {
        return kind == QN_DECODE_BARCODE ? copy(barcode, buffer, size) : 0;
    }
    static int rfidUid(unsigned char* buffer, int size) { return copy(uid, buffer, size); }
    static int rfidData(unsigned char* buffer, int size) { return copy(userData, buffer, size); }
    static int setTriggerKey(int on) {
        record("trigger " + std::to_string(on));
        return 1;
    }
    static int setActiveDevice(int mask) {
        char text[32];
        std::snprintf(text, sizeof text, "active 0x%02x", static_cast<unsigned>(mask) & 0xFFu);
        record(text);
        return 1;
    }
    static int setVibratorPower(int on) {
        std::lock_guard lock(mutex);
        if (events != nullptr) events->setVibrator(on != 0);
        return 1;
    }
};

}  // namespace

OperatorEvents::TimePoint OperatorEvents::now() const {
    if (live_) return std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    return TimePoint{} + elapsed_;
}

void OperatorEvents::setVibrator(bool on) {
    std::lock_guard lock(mutex_);
    vibratorOn_ = on;
    vibratorThread_ = std::this_thread::get_id();
}

void OperatorEvents::sleepFor(std::chrono::milliseconds duration) {
    bool vibrating;
    {
        std::lock_guard lock(mutex_);
        vibrating = vibratorOn_ && vibratorThread_ == std::this_thread::get_id();
    }
    if (vibrating) add("vibrate " + std::to_string(duration.count()));
    if (live_) {
        std::this_thread::sleep_for(duration);
    } else {
        std::lock_guard lock(mutex_);
        elapsed_ += duration;
    }
}

void OperatorEvents::playAsync(const std::filesystem::path& wavFile) {
    const auto it = std::ranges::find(device::kSoundNames, wavFile.stem().string());
    add("sound " + std::to_string(it - device::kSoundNames.begin() + 1));
}

platform::MbResult OperatorEvents::show(std::string_view text, std::string_view caption,
                                        platform::MbButtons buttons, platform::MbIcon) {
    {
        std::lock_guard lock(mutex_);
        list_.push_back("message " + std::string(text));
        if (caption == "Error") errors_.emplace_back(text);
    }
    if (observer_) observer_(text, caption);
    const bool question =
        buttons == platform::MbButtons::YesNo || buttons == platform::MbButtons::YesNoCancel;
    return question ? platform::MbResult::Yes : platform::MbResult::Ok;
}

void OperatorEvents::add(std::string event) {
    std::lock_guard lock(mutex_);
    list_.push_back(std::move(event));
}

void OperatorEvents::clear() {
    std::lock_guard lock(mutex_);
    list_.clear();
    errors_.clear();
}

std::vector<std::string> OperatorEvents::list() const {
    std::lock_guard lock(mutex_);
    return list_;
}

std::vector<std::string> OperatorEvents::errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

void setScriptedBarcode(std::span<const std::uint8_t> data) {
    std::lock_guard lock(ScriptedReader::mutex);
    ScriptedReader::barcode.assign(data.begin(), data.end());
}

void setScriptedRfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) {
    std::lock_guard lock(ScriptedReader::mutex);
    ScriptedReader::uid.assign(uid.begin(), uid.end());
    ScriptedReader::userData.assign(userData.begin(), userData.end());
}

OfflineHandheld::OfflineHandheld(bool live, std::string_view registryText)
    : registry(registryText), events(live) {
    using platform::symbolAddress;
    libraries.add(kRoot / "ScanSvc_CE.so",
                  {{{"InitReader", symbolAddress(&ScriptedReader::initReader)},
                    {"GetReaderType", symbolAddress(&ScriptedReader::readerType)},
                    {"GetDllDefaultSettings", symbolAddress(&ScriptedReader::defaultSettings)},
                    {"SetTriggerKey", symbolAddress(&ScriptedReader::setTriggerKey)},
                    {"SetActiveDevice", symbolAddress(&ScriptedReader::setActiveDevice)},
                    {"GetDecodeData", symbolAddress(&ScriptedReader::decodeData)},
                    {"GetOutputRecord", symbolAddress(&ScriptedReader::outputRecord)},
                    {"GetDecodeRfidUID", symbolAddress(&ScriptedReader::rfidUid)},
                    {"GetDecodeRfidData", symbolAddress(&ScriptedReader::rfidData)}}});
    libraries.add(kRoot / "KX2CE_SYS.so",
                  {{{"SetVibratorPower", symbolAddress(&ScriptedReader::setVibratorPower)}}});
    std::lock_guard lock(ScriptedReader::mutex);
    ScriptedReader::events = &events;
}

OfflineHandheld::~OfflineHandheld() {
    std::lock_guard lock(ScriptedReader::mutex);
    if (ScriptedReader::events == &events) ScriptedReader::events = nullptr;
}

}  // namespace qn::tools
