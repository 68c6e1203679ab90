#include "plugins/simreader/scanner_source.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "plugins/simreader/hidpos_assembler.h"

namespace qn::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;

speed_t baudConstant(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return B9600;
    }
}

// A byte stream: one read, what came handed over; end of file or a hang-up means gone.
template <class Feed>
ScannerSource::ReadResult readStream(int fd, bool recording, Feed feed) {
    std::uint8_t chunk[kReadChunk];
    while (true) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count > 0) {
            feed(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(count)));
            if (static_cast<std::size_t>(count) < sizeof chunk)
                return ScannerSource::ReadResult::More;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno == EAGAIN) return ScannerSource::ReadResult::More;
        return recording ? ScannerSource::ReadResult::Ended : ScannerSource::ReadResult::Gone;
    }
}

class KeyboardSource final : public ScannerSource {
  public:
    KeyboardSource(std::string name, std::shared_ptr<const Keymap> keymap, KeyOptions options,
                   SystemPaths paths)
        : ScannerSource(ScannerKind::Keyboard, std::move(name), std::move(paths)),
          assembler_(std::move(keymap), options) {}
    ~KeyboardSource() override { close(); }

  private:
    int openDevice(const std::string& node) override {
        const int fd = ScannerSource::openDevice(node);
        if (fd < 0 || !characterDevice_) return fd;
        if (libevdev_new_from_fd(fd, &device_) != 0) {
            device_ = nullptr;
            ::close(fd);
            return -1;
        }
        // Exclusively ours: its keys reach no window while the reader reads it. A grab that
        // fails (another reader holds it) still leaves the scans readable.
        libevdev_grab(device_, LIBEVDEV_GRAB);
        return fd;
    }
    void closeDevice() override {
        if (device_ == nullptr) return;
        libevdev_grab(device_, LIBEVDEV_UNGRAB);
        libevdev_free(device_);
        device_ = nullptr;
    }
    ReadResult readDevice(ScanClock::time_point now, std::vector<ScannerDecode>& out) override {
        if (device_ == nullptr) {
            return readStream(fd_, !characterDevice_ && isRecording(),
                              [&](auto bytes) { assembler_.feedBytes(bytes, now, out); });
        }
        while (true) {
            input_event event{};
            int rc = libevdev_next_event(device_, LIBEVDEV_READ_FLAG_NORMAL, &event);
            if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
                assembler_.feed(event, now, out);
            } else if (rc == LIBEVDEV_READ_STATUS_SYNC) {
                // The kernel dropped events: the scan under way is lost; libevdev's catch-up
                // events only bring the key states back.
                assembler_.eventsDropped();
                while (libevdev_next_event(device_, LIBEVDEV_READ_FLAG_SYNC, &event) ==
                       LIBEVDEV_READ_STATUS_SYNC) {
                }
            } else if (rc == -EAGAIN) {
                return ReadResult::More;
            } else if (rc != -EINTR) {
                return ReadResult::Gone;
            }
        }
    }
    bool isRecording() const {
        struct stat info {};
        return ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    }
    DecodeFramer& framer() override { return assembler_.framer(); }
    void resetAssembler() override { assembler_.reset(); }

    KeyAssembler assembler_;
    libevdev* device_ = nullptr;
};

// The report descriptor of an open hidraw device; empty when it cannot be had.
std::vector<std::uint8_t> hidrawDescriptor(int fd) {
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0 || size <= 0) return {};
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(std::min<int>(size, HID_MAX_DESCRIPTOR_SIZE));
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) != 0) return {};
    return {descriptor.value, descriptor.value + descriptor.size};
}

// A descriptor file given in reader.ini, read up to the size a device's descriptor can have.
std::vector<std::uint8_t> descriptorFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(HID_MAX_DESCRIPTOR_SIZE);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

class HidPosSource final : public ScannerSource {
  public:
    HidPosSource(std::string name, std::size_t maxBytes, SystemPaths paths,
                 std::string descriptorFile)
        : ScannerSource(ScannerKind::HidPos, std::move(name), std::move(paths)),
          descriptorFile_(std::move(descriptorFile)),
          assembler_(maxBytes) {}
    ~HidPosSource() override { close(); }

  private:
    int openDevice(const std::string& node) override {
        const int fd = ScannerSource::openDevice(node);
        if (fd < 0) return fd;
        // Each time it is opened: the scanner plugged in again may be another model. A
        // descriptor that cannot be used leaves the common layout.
        std::vector<std::uint8_t> descriptor;
        if (characterDevice_) {
            descriptor = hidrawDescriptor(fd);
        } else if (!descriptorFile_.empty()) {
            descriptor = descriptorFromFile(descriptorFile_);
        }
        assembler_.setLayout(parseHidPosLayout(descriptor));
        return fd;
    }
    ReadResult readDevice(ScanClock::time_point now, std::vector<ScannerDecode>& out) override {
        if (!characterDevice_) {
            struct stat info {};
            const bool recording = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
            return readStream(fd_, recording,
                              [&](auto bytes) { assembler_.feedBytes(bytes, now, out); });
        }
        std::uint8_t report[kReadChunk];
        while (true) {
            const ssize_t count = ::read(fd_, report, sizeof report);
            if (count > 0) {
                assembler_.feedReport(std::span(report, static_cast<std::size_t>(count)), now, out);
                continue;
            }
            if (count < 0 && errno == EINTR) continue;
            if (count < 0 && errno == EAGAIN) return ReadResult::More;
            return ReadResult::Gone;
        }
    }
    DecodeFramer& framer() override { return dummy_; }
    void resetAssembler() override { assembler_.reset(); }

    std::string descriptorFile_;
    HidPosAssembler assembler_;
    DecodeFramer dummy_{ScannerKind::HidPos, 0, std::chrono::milliseconds(0)};  // no gap
};

class SerialSource final : public ScannerSource {
  public:
    SerialSource(std::string path, int baud, std::size_t maxBytes, std::chrono::milliseconds gap)
        : ScannerSource(ScannerKind::Serial, std::move(path), {}),
          baud_(baud),
          assembler_(maxBytes, gap) {}
    ~SerialSource() override { close(); }

  private:
    int openDevice(const std::string& node) override {
        const int fd = ScannerSource::openDevice(node);
        if (fd >= 0 && ::isatty(fd)) {
            // A serial scanner sends raw bytes: no echo, no line editing, no translation.
            termios settings{};
            if (::tcgetattr(fd, &settings) == 0) {
                ::cfmakeraw(&settings);
                settings.c_cflag |= CLOCAL | CREAD;
                ::cfsetispeed(&settings, baudConstant(baud_));
                ::cfsetospeed(&settings, baudConstant(baud_));
                ::tcsetattr(fd, TCSANOW, &settings);
            }
        }
        return fd;
    }
    ReadResult readDevice(ScanClock::time_point now, std::vector<ScannerDecode>& out) override {
        // A serial line is never a recording: its end means the scanner went away.
        return readStream(fd_, false, [&](auto bytes) { assembler_.feed(bytes, now, out); });
    }
    DecodeFramer& framer() override { return assembler_.framer(); }
    void resetAssembler() override { assembler_.framer().discard(); }

    int baud_;
    SerialAssembler assembler_;
};

}  // namespace

std::unique_ptr<ScannerSource> ScannerSource::keyboard(std::string name,
                                                       std::shared_ptr<const Keymap> keymap,
                                                       KeyOptions options, SystemPaths paths) {
    return std::make_unique<KeyboardSource>(std::move(name), std::move(keymap), options,
                                            std::move(paths));
}

std::unique_ptr<ScannerSource> ScannerSource::hidPos(std::string name, std::size_t maxBytes,
                                                     SystemPaths paths,
                                                     std::string descriptorFile) {
    return std::make_unique<HidPosSource>(std::move(name), maxBytes, std::move(paths),
                                          std::move(descriptorFile));
}

std::unique_ptr<ScannerSource> ScannerSource::serial(std::string path, int baud,
                                                     std::size_t maxBytes,
                                                     std::chrono::milliseconds gap) {
    return std::make_unique<SerialSource>(std::move(path), baud, maxBytes, gap);
}

ScannerSource::~ScannerSource() = default;

const char* ScannerSource::subsystem() const {
    switch (kind_) {
        case ScannerKind::Keyboard:
            return "input";
        case ScannerKind::HidPos:
            return "hidraw";
        default:
            return "tty";
    }
}

int ScannerSource::openDevice(const std::string& node) {
    const int flags =
        (kind_ == ScannerKind::Serial ? O_RDWR | O_NOCTTY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(node.c_str(), flags);
    if (fd < 0) return -1;
    struct stat info {};
    const bool recordingAllowed = kind_ != ScannerKind::Serial;
    if (::fstat(fd, &info) != 0 || !(S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode) ||
                                     (recordingAllowed && S_ISREG(info.st_mode)))) {
        ::close(fd);
        return -1;
    }
    characterDevice_ = S_ISCHR(info.st_mode);
    return fd;
}

bool ScannerSource::open() {
    if (fd_ >= 0) return true;
    const std::string node =
        kind_ == ScannerKind::Serial ? name_ : resolveScanner(name_, kind_, paths_);
    if (node.empty()) return false;
    fd_ = openDevice(node);
    return fd_ >= 0;
}

ScannerSource::ReadResult ScannerSource::read(ScanClock::time_point now,
                                              std::vector<ScannerDecode>& out) {
    if (fd_ < 0) return ReadResult::Gone;
    return readDevice(now, out);
}

void ScannerSource::close() {
    if (fd_ < 0) return;
    closeDevice();
    ::close(fd_);
    fd_ = -1;
    characterDevice_ = false;
    resetAssembler();
}

std::optional<std::chrono::milliseconds> ScannerSource::untilExpiry(ScanClock::time_point now) {
    return framer().untilExpiry(now);
}

void ScannerSource::expire(ScanClock::time_point now, std::vector<ScannerDecode>& out) {
    framer().expire(now, out);
}

}  // namespace qn::sim
