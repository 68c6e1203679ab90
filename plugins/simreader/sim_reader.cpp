#include "plugins/simreader/sim_reader.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "plugins/common/plugin_support.h"
#include "plugins/simreader/key_assembler.h"
#include "plugins/simreader/scanner_source.h"

namespace qn::sim {

namespace {

using namespace std::chrono_literals;

constexpr const char* kDecodeMessageName = "WM_DECODEDATA";
// A client has this long to send its whole request; the listener serves one client at a time.
constexpr auto kClientDeadline = 2s;
// How often a scanner that is missing or went away is looked for again; a udev event about its
// kind of device looks at once.
constexpr auto kScannerRetry = 250ms;
// Scanners are read on while the program fetches: a device whose events are not read in time
// loses them (the kernel keeps only a few dozen per reader). Complete decodes wait here.
constexpr std::size_t kMaxQueuedDecodes = 64;

constexpr std::array<std::int32_t, kNotificationValues> kFactoryNotification{1, 1, 1, 2, 3, 1};
// Show UID, show user data, start position, maximum length, decode timeout (s).
constexpr std::array<std::int32_t, 5> kFactoryRfid{1, 0, -1, 10, 3};
constexpr std::int32_t kFactoryRfidValue = 2;

std::string upperHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

// std::to_string would export a libstdc++ table from the plugin.
std::string decimal(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

std::string hexMask(std::uint32_t mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", mask);
    return text;
}

std::string modeText(char mode) {
    return (mode >= 0x21 && mode <= 0x7E) ? std::string(1, mode) : std::string("?");
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Tells of devices of one subsystem coming and going; where udev cannot be reached (a container,
// a test machine) it never fires and the retry interval alone finds a scanner again.
class HotplugMonitor {
  public:
    explicit HotplugMonitor(const char* subsystem) {
        udev_ = udev_new();
        if (udev_ == nullptr) return;
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor_, subsystem, nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            return;
        }
        fd_ = udev_monitor_get_fd(monitor_);
    }
    ~HotplugMonitor() {
        if (monitor_ != nullptr) udev_monitor_unref(monitor_);
        if (udev_ != nullptr) udev_unref(udev_);
    }
    HotplugMonitor(const HotplugMonitor&) = delete;
    HotplugMonitor& operator=(const HotplugMonitor&) = delete;
    int fd() const { return fd_; }
    void drain() {
        if (fd_ < 0) return;
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
        }
    }

  private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    int fd_ = -1;
};

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

SimReader& SimReader::instance() {
    static SimReader reader(plugin::deviceRoot());
    return reader;
}

SimReader::SimReader(std::filesystem::path deviceRoot) : deviceRoot_(std::move(deviceRoot)) {
    loadFreshStateLocked();
}

SimReader::~SimReader() {
    stopThreads();
}

void SimReader::reset() {
    stopThreads();
    std::lock_guard deliverLock(deliverMutex_);
    std::lock_guard lock(mutex_);
    loadFreshStateLocked();
    post_ = nullptr;
    target_ = nullptr;
    haveDecode_ = unfetched_ = false;
    barcode_.clear();
    rfidUid_.clear();
    rfidData_.clear();
    callLog_.clear();
    scannerOpens_ = 0;
    lastSymbology_.clear();
}

void SimReader::loadFreshStateLocked() {
    config_ = loadReaderConfig(deviceRoot_);
    values_ = {};
    loadFactoryValuesLocked();
    values_.activeDevices = config_.activeDevices;
    values_.triggerOn = config_.triggerOn;
}

void SimReader::loadFactoryValuesLocked() {
    for (std::size_t op = 0; op < reader::kEngineOperations.size(); ++op) {
        for (int v = 0; v < reader::kEngineOperations[op].values; ++v) {
            values_.engine[static_cast<std::size_t>(kEngineValueStart[op] + v)] =
                factoryEngineValue(op, v);
        }
    }
    values_.notification = kFactoryNotification;
    values_.rfid = kFactoryRfid;
    for (std::size_t i = 0; i < values_.rfidBlock.size(); ++i) {
        values_.rfidBlock[i] = static_cast<unsigned char>(0x20 + i);
    }
    values_.rfidValue = kFactoryRfidValue;
    // The data-output block: byte 1 is the active-device byte, the others a fixed pattern.
    for (std::size_t i = 0; i < values_.outputBlock.size(); ++i) {
        values_.outputBlock[i] = static_cast<unsigned char>(i);
    }
    values_.outputBlock[0] = 0x01;
    values_.outputBlock[1] = static_cast<unsigned char>(config_.activeDevices & 0xFF);
}

void SimReader::logLocked(std::string entry) {
    callLog_.push_back(std::move(entry));
    if (callLog_.size() > kCallLogEntries) callLog_.pop_front();
}

// ---- lifecycle and masks

int SimReader::initReader(const char* operation) {
    int result;
    {
        std::lock_guard lock(mutex_);
        logLocked(operation);
        if (values_.initialised) return -51;
        result = config_.initResult;
        values_.initialised = result == 1;
    }
    startThreads();
    return result;
}

int SimReader::haltReader(int devices) {
    {
        std::lock_guard lock(mutex_);
        logLocked("HaltReader " + decimal(devices));
    }
    stopThreads();
    std::lock_guard lock(mutex_);
    values_.initialised = false;
    return config_.haltResult;
}

int SimReader::readerType() {
    std::lock_guard lock(mutex_);
    logLocked("GetReaderType");
    return static_cast<int>(config_.readerType);
}

int SimReader::activeDevice() {
    std::lock_guard lock(mutex_);
    logLocked("GetActiveDevice");
    return static_cast<int>(values_.activeDevices);
}

int SimReader::setActiveDevice(int mask) {
    std::lock_guard lock(mutex_);
    values_.activeDevices = static_cast<std::uint32_t>(mask);
    logLocked("SetActiveDevice " + hexMask(values_.activeDevices));
    return 1;
}

int SimReader::setTriggerKey(int on) {
    std::lock_guard lock(mutex_);
    values_.triggerOn = on != 0;
    logLocked("SetTriggerKey " + decimal(on));
    return 1;
}

int SimReader::triggerKeyStatus() {
    std::lock_guard lock(mutex_);
    logLocked("GetTriggerKeyStatus");
    return values_.triggerOn ? 1 : 0;
}

int SimReader::decodeType() {
    std::lock_guard lock(mutex_);
    logLocked("GetDecodeType");
    if (!haveDecode_) return 0;
    return lastKind_ == scan::DecodeKind::Barcode ? QN_DECODE_BARCODE : QN_DECODE_RFID;
}

// ---- the last decode

int SimReader::fetchLocked(scan::DecodeKind kind, const std::string& text, unsigned char* buffer,
                           int size) {
    if (haveDecode_ && lastKind_ == kind && unfetched_) {
        unfetched_ = false;
        fetched_.notify_all();
    }
    return plugin::copyOut(text, buffer, size);
}

int SimReader::barcode(const char* operation, unsigned char* buffer, int size) {
    std::lock_guard lock(mutex_);
    logLocked(operation);
    return fetchLocked(scan::DecodeKind::Barcode, barcode_, buffer, size);
}

int SimReader::outputRecord(int kind, unsigned char* buffer, int size) {
    std::lock_guard lock(mutex_);
    logLocked("GetOutputRecord " + decimal(kind));
    if (kind != QN_DECODE_BARCODE) return plugin::copyOut({}, buffer, size);
    return fetchLocked(scan::DecodeKind::Barcode, barcode_, buffer, size);
}

int SimReader::rfidUid(const char* operation, unsigned char* buffer, int size) {
    std::lock_guard lock(mutex_);
    logLocked(operation);
    return fetchLocked(scan::DecodeKind::Rfid, rfidUid_, buffer, size);
}

int SimReader::rfidData(const char* operation, unsigned char* buffer, int size) {
    std::lock_guard lock(mutex_);
    logLocked(operation);
    return fetchLocked(scan::DecodeKind::Rfid, rfidData_, buffer, size);
}

// ---- settings

int SimReader::dllDefaultSettings(unsigned char* block) {
    std::lock_guard lock(mutex_);
    logLocked("GetDllDefaultSettings");
    if (block == nullptr || !config_.defaultsAvailable) return 0;
    std::array<unsigned char, QN_LIBRARY_DEFAULTS_SIZE> defaults = values_.outputBlock;
    defaults[1] = static_cast<unsigned char>(values_.activeDevices & 0xFF);
    std::memcpy(block, defaults.data(), defaults.size());
    return 1;
}

int SimReader::dataOutputSettings(char mode, unsigned char* block) {
    std::lock_guard lock(mutex_);
    logLocked("DataOutputSettings " + modeText(mode));
    if (block == nullptr) return 0;
    if (mode == 'r') {
        std::memcpy(block, values_.outputBlock.data(), values_.outputBlock.size());
    } else if (mode == 'w') {
        std::memcpy(values_.outputBlock.data(), block, values_.outputBlock.size());
    } else {
        return 0;
    }
    return 1;
}

int SimReader::resetToDefault(int devices) {
    std::lock_guard lock(mutex_);
    logLocked("ResetReaderToDefault " + decimal(devices));
    loadFactoryValuesLocked();
    return 1;
}

int SimReader::dllVersion(char* buffer, int size) {
    std::lock_guard lock(mutex_);
    logLocked("GetDllVer");
    return plugin::copyOut(config_.version, buffer, size);
}

namespace {
// 'r' writes the library's value through the pointer, 'w' takes the pointed value.
void exchange(char mode, int* pointer, std::int32_t& value) {
    if (pointer == nullptr) return;
    if (mode == 'r') {
        *pointer = value;
    } else {
        value = *pointer;
    }
}
}  // namespace

int SimReader::notificationSettings(char mode,
                                    std::span<int* const, kNotificationValues> pointers) {
    std::lock_guard lock(mutex_);
    logLocked("NotificationSettings " + modeText(mode));
    if (mode != 'r' && mode != 'w') return 0;
    for (std::size_t i = 0; i < pointers.size(); ++i) {
        exchange(mode, pointers[i], values_.notification[i]);
    }
    return 1;
}

int SimReader::rfidSettings(char mode, int* showUid, int* showUserData, int* startPosition,
                            int* maximumLength, int* decodeTimeout, unsigned char* block,
                            int blockSize, int* value) {
    std::lock_guard lock(mutex_);
    logLocked("RfidSettings " + modeText(mode));
    if ((mode != 'r' && mode != 'w') || blockSize != QN_RFID_LIBRARY_BLOCK_SIZE) return 0;
    int* const pointers[] = {showUid, showUserData, startPosition, maximumLength, decodeTimeout};
    for (std::size_t i = 0; i < values_.rfid.size(); ++i) {
        exchange(mode, pointers[i], values_.rfid[i]);
    }
    if (block != nullptr) {
        if (mode == 'r') {
            std::memcpy(block, values_.rfidBlock.data(), values_.rfidBlock.size());
        } else {
            std::memcpy(values_.rfidBlock.data(), block, values_.rfidBlock.size());
        }
    }
    exchange(mode, value, values_.rfidValue);
    return 1;
}

int SimReader::engineOperation(std::size_t index, char mode, std::span<int* const> pointers) {
    const reader::EngineOperation& op = reader::kEngineOperations[index];
    std::lock_guard lock(mutex_);
    logLocked(std::string(op.name) + " " + modeText(mode));
    if ((mode != 'r' && mode != 'w') ||
        pointers.size() != static_cast<std::size_t>(op.pointerCount())) {
        return 0;
    }
    int value = 0;
    for (std::size_t p = 0; p < pointers.size(); ++p) {
        // The extra null pointer of an operation carries no value.
        if (op.nullPointerAfter >= 0 && static_cast<int>(p) == op.nullPointerAfter) continue;
        exchange(mode, pointers[p],
                 values_.engine[static_cast<std::size_t>(kEngineValueStart[index] + value)]);
        ++value;
    }
    return 1;
}

int SimReader::beeper(int sound) {
    std::lock_guard lock(mutex_);
    logLocked("Beeper " + decimal(sound));
    return 1;
}

int SimReader::unsupported(const char* operation) {
    std::lock_guard lock(mutex_);
    logLocked(operation);
    return 0;
}

// ---- decodes

int SimReader::registerDecodeTarget(QnPostRegisteredMessage post, void* target) {
    std::lock_guard deliverLock(deliverMutex_);
    std::lock_guard lock(mutex_);
    logLocked(post != nullptr ? "RegisterDecodeTarget" : "RegisterDecodeTarget none");
    post_ = post;
    target_ = post != nullptr ? target : nullptr;
    return 1;
}

scan::ScanReply SimReader::deliver(const scan::ScanRequest& request, ScannerKind source,
                                   std::string symbology) {
    using scan::ReplyStatus;
    const bool isBarcode = request.kind == scan::DecodeKind::Barcode;
    std::unique_lock deliverLock(deliverMutex_);
    std::unique_lock lock(mutex_);
    bool waited = false;
    while (true) {
        if (stopping_) return {ReplyStatus::ShuttingDown, "the reader is halting"};
        if (!values_.triggerOn) return {ReplyStatus::TriggerOff, "the scan trigger is off"};
        if ((values_.activeDevices & (isBarcode ? QN_DEVICE_BARCODE : QN_DEVICE_RFID)) == 0) {
            return {ReplyStatus::DeviceInactive, isBarcode ? "the barcode reader is not active"
                                                           : "the RFID reader is not active"};
        }
        if (post_ == nullptr)
            return {ReplyStatus::NoTarget, "no program is registered for decodes"};
        if (!unfetched_ || waited) break;
        // Give the program its time to fetch the previous decode; conditions may change meanwhile.
        fetched_.wait_for(lock, config_.fetchWait, [this] { return !unfetched_ || stopping_; });
        waited = true;
    }
    const bool replaced = unfetched_;
    if (isBarcode) {
        barcode_ = request.data;
    } else {
        rfidUid_ = upperHex(request.data);
        rfidData_ = upperHex(request.userData);
    }
    lastKind_ = request.kind;
    lastSource_ = source;
    lastSymbology_ = std::move(symbology);
    haveDecode_ = true;
    unfetched_ = true;
    QnPostRegisteredMessage post = post_;
    void* target = target_;
    lock.unlock();
    post(target, kDecodeMessageName, isBarcode ? QN_DECODE_BARCODE : QN_DECODE_RFID);
    if (replaced) return {ReplyStatus::Delivered, "the previous decode was never fetched"};
    return {ReplyStatus::Delivered, {}};
}

// ---- test support

std::string SimReader::callLog() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& entry : callLog_) {
        text += entry;
        text += '\n';
    }
    return text;
}

void SimReader::clearCallLog() {
    std::lock_guard lock(mutex_);
    callLog_.clear();
}

std::string SimReader::socketPath() const {
    std::lock_guard lock(mutex_);
    return socketPath_;
}

bool SimReader::serialOpen() const {
    std::lock_guard lock(mutex_);
    return serialOpen_;
}

int SimReader::scannerOpens() const {
    std::lock_guard lock(mutex_);
    return scannerOpens_;
}

std::pair<std::string, std::string> SimReader::decodeSource() const {
    std::lock_guard lock(mutex_);
    if (!haveDecode_) return {};
    return {scannerKindName(lastSource_), lastSymbology_};
}

// ---- threads

void SimReader::startThreads() {
    std::lock_guard lifecycle(lifecycleMutex_);
    if (listener_.joinable() || !scanners_.empty()) return;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    ReaderConfig config;
    {
        std::lock_guard lock(mutex_);
        socketPath_ = scan::scanSocketPath(deviceRoot_);
        config = config_;
    }
    if (openListenSocket()) listener_ = std::thread([this] { listenLoop(); });
    std::vector<std::unique_ptr<ScannerSource>> sources;
    if (!config.serialPath.empty()) {
        sources.push_back(ScannerSource::serial(config.serialPath, config.baud,
                                                scan::kMaxBarcodeBytes, config.scanner.gap));
    }
    if (!config.scanner.evdev.empty()) {
        // One keymap for every keyboard scanner; a layout that does not compile leaves them off.
        if (auto keymap = Keymap::compile(config.scanner.layout)) {
            const KeyOptions options{config.scanner.terminator, config.scanner.gap,
                                     scan::kMaxBarcodeBytes};
            for (const auto& name : config.scanner.evdev) {
                sources.push_back(ScannerSource::keyboard(name, keymap, options));
            }
        }
    }
    std::string descriptor;
    if (!config.scanner.hidDescriptor.empty()) {
        descriptor = (deviceRoot_ / config.scanner.hidDescriptor).string();
    }
    for (const auto& name : config.scanner.hidraw) {
        sources.push_back(ScannerSource::hidPos(name, scan::kMaxBarcodeBytes, {}, descriptor));
    }
    if (sources.empty()) return;
    poster_ = std::thread([this] { postLoop(); });
    for (auto& source : sources) {
        scanners_.emplace_back(
            [this, owned = std::move(source)]() mutable { scannerLoop(std::move(owned)); });
    }
}

void SimReader::stopThreads() {
    std::lock_guard lifecycle(lifecycleMutex_);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    fetched_.notify_all();
    queued_.notify_all();
    room_.notify_all();
    if (wakeWrite_ >= 0) {
        // Never read: the byte keeps every thread's poll awake until the pipe is closed.
        [[maybe_unused]] auto written = ::write(wakeWrite_, "x", 1);
    }
    if (listener_.joinable()) listener_.join();
    for (auto& scanner : scanners_) {
        if (scanner.joinable()) scanner.join();
    }
    scanners_.clear();
    if (poster_.joinable()) poster_.join();
    closeListenSocket();
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
    std::lock_guard lock(mutex_);
    stopping_ = false;
    queuedDecodes_.clear();
}

bool SimReader::openListenSocket() {
    const std::string path = socketPath();
    sockaddr_un address{};
    if (!fillAddress(path, address) || !scan::prepareSocketFolder(path, deviceRoot_)) return false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) return false;  // never remove what is not ours to remove
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live = probe >= 0 &&
                    ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (probe >= 0) ::close(probe);
        if (live) return false;  // another reader listens there
        ::unlink(path.c_str());
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0 || ::lstat(path.c_str(), &info) != 0) {
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    listenInode_ = info.st_ino;
    return true;
}

void SimReader::closeListenSocket() {
    if (listenFd_ < 0) return;
    closeFd(listenFd_);
    const std::string path = socketPath();
    struct stat info {};
    // Remove the socket file only while it is still the one this reader bound.
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) &&
        info.st_ino == listenInode_) {
        ::unlink(path.c_str());
    }
}

void SimReader::listenLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) {
            if (fds[0].revents != 0) return;  // the listening socket broke
            continue;
        }
        int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        serveClient(client);
        ::close(client);
    }
}

void SimReader::serveClient(int client) {
    const auto deadline = std::chrono::steady_clock::now() + kClientDeadline;
    auto reply = [client](const scan::ScanReply& answer) {
        auto bytes = scan::encodeReply(answer);
        [[maybe_unused]] auto sent =
            ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    };
    std::vector<std::uint8_t> received;
    while (true) {
        scan::RequestParse parsed = scan::parseRequest(received);
        if (parsed.status == scan::ParseStatus::Invalid) {
            reply({scan::ReplyStatus::BadRequest, parsed.error});
            return;
        }
        if (parsed.status == scan::ParseStatus::Complete) {
            reply(deliver(parsed.request));
            return;
        }
        const std::size_t wanted = parsed.size != 0 ? parsed.size : scan::kRequestHeaderSize;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            reply({scan::ReplyStatus::BadRequest, "request incomplete in time"});
            return;
        }
        pollfd fds[2] = {{client, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[1].revents != 0) return;
        if (ready == 0) continue;  // the deadline check above answers
        std::uint8_t chunk[1024];
        const std::size_t want = std::min(sizeof chunk, wanted - received.size());
        ssize_t count = ::recv(client, chunk, want, MSG_DONTWAIT);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return;  // the client went away
        received.insert(received.end(), chunk, chunk + count);
    }
}

bool SimReader::sleepUnlessWoken(std::chrono::milliseconds duration) const {
    pollfd fd{wakeRead_, POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(duration.count())) == 0;
}

void SimReader::setScannerOpen(ScannerKind kind, bool open) {
    std::lock_guard lock(mutex_);
    if (kind == ScannerKind::Serial) {
        serialOpen_ = open;
    } else if (open) {
        ++scannerOpens_;
    }
}

void SimReader::postLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
        queued_.wait(lock, [this] { return stopping_ || !queuedDecodes_.empty(); });
        if (stopping_) return;
        ScannerDecode decode = std::move(queuedDecodes_.front());
        queuedDecodes_.pop_front();
        room_.notify_all();
        ++delivering_;
        lock.unlock();
        deliver({scan::DecodeKind::Barcode, std::move(decode.data), {}}, decode.kind,
                std::move(decode.symbology));
        lock.lock();
        --delivering_;
    }
}

void SimReader::scannerLoop(std::unique_ptr<ScannerSource> source) {
    HotplugMonitor hotplug(source->subsystem());
    std::vector<ScannerDecode> decodes;
    auto post = [&] {
        for (auto& decode : decodes) {
            std::unique_lock lock(mutex_);
            // A program far behind holds the scanner back rather than lose its scans.
            room_.wait(lock,
                       [this] { return stopping_ || queuedDecodes_.size() < kMaxQueuedDecodes; });
            if (stopping_) break;
            if (!queuedDecodes_.empty() || delivering_ > 0 || unfetched_) {
                queuedDecodes_.push_back(std::move(decode));
                queued_.notify_one();
                continue;
            }
            // Nothing ahead of it and nothing to wait for: posted from here, a thread switch
            // sooner.
            ++delivering_;
            lock.unlock();
            deliver({scan::DecodeKind::Barcode, std::move(decode.data), {}}, decode.kind,
                    std::move(decode.symbology));
            lock.lock();
            --delivering_;
        }
        decodes.clear();
    };
    bool counted = false;
    auto close = [&] {
        source->close();
        if (counted) setScannerOpen(source->kind(), false);
        counted = false;
    };
    bool ended = false;  // a recording read to its end is not read again
    bool gone = false;   // a device that went away is looked for after the retry interval
    while (true) {
        if (!source->isOpen() && (ended || std::exchange(gone, false) || !source->open())) {
            // Wait for the scanner to come (back): a udev event, or the retry interval.
            pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {hotplug.fd(), POLLIN, 0}};
            const int timeout = ended ? -1 : static_cast<int>(kScannerRetry.count());
            if (::poll(fds, hotplug.fd() >= 0 ? 2 : 1, timeout) < 0 && errno != EINTR) break;
            if (fds[0].revents != 0) break;
            if (fds[1].revents != 0) hotplug.drain();
            continue;
        }
        if (!counted) {
            setScannerOpen(source->kind(), true);
            counted = true;
        }
        pollfd fds[2] = {{source->fd(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const auto gapLeft = source->untilExpiry(ScanClock::now());
        const int timeout = gapLeft ? static_cast<int>(gapLeft->count()) : -1;
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if (ready == 0) {
            source->expire(ScanClock::now(), decodes);
            post();
            continue;
        }
        const auto result = source->read(ScanClock::now(), decodes);
        // Complete decodes read before an unplug are posted; what was under way is dropped.
        post();
        if (result != ScannerSource::ReadResult::More) {
            ended = result == ScannerSource::ReadResult::Ended;
            gone = !ended;
            close();
        }
    }
    close();
}

}  // namespace qn::sim
