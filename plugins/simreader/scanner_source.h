#pragma once
// One scanner as the reader's threads see it: a device that is opened (and found again after an
// unplug), read while it has something, and turned into complete decodes by its assembler.
//
// Keyboard-mode scanners are character devices read through libevdev and grabbed, so their keys
// reach no window; a FIFO or a regular file of input_event records stands in for one in tests
// and is not grabbed. HID POS scanners are hidraw devices (one report a read, laid out as the
// device's report descriptor says), or a FIFO or file of reports: 64-byte ones, or those a
// descriptor file declares. A regular file is a recording: read once to its end.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugins/simreader/key_assembler.h"
#include "plugins/simreader/scanner_decode.h"
#include "plugins/simreader/scanner_devices.h"

namespace qn::sim {

class ScannerSource {
  public:
    enum class ReadResult {
        More,   // read on
        Gone,   // unplugged or hung up: open again when it returns
        Ended,  // a recording read to its end
    };

    static std::unique_ptr<ScannerSource> keyboard(std::string name,
                                                   std::shared_ptr<const Keymap> keymap,
                                                   KeyOptions options, SystemPaths paths = {});
    // descriptorFile: the report descriptor for a FIFO or file (empty: the common layout).
    static std::unique_ptr<ScannerSource> hidPos(std::string name, std::size_t maxBytes,
                                                 SystemPaths paths = {},
                                                 std::string descriptorFile = {});
    static std::unique_ptr<ScannerSource> serial(std::string path, int baud, std::size_t maxBytes,
                                                 std::chrono::milliseconds gap);

    virtual ~ScannerSource();
    ScannerSource(const ScannerSource&) = delete;
    ScannerSource& operator=(const ScannerSource&) = delete;

    ScannerKind kind() const { return kind_; }
    // The udev subsystem whose events may mean this scanner came back.
    const char* subsystem() const;

    // True once the device is open (it may have been open already).
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Reads what the device has; complete decodes are appended to out, even when the device
    // went away behind them.
    ReadResult read(ScanClock::time_point now, std::vector<ScannerDecode>& out);
    // Closes the device; a decode under way is dropped.
    void close();

    // The inter-key gap: when the pending decode ends by itself, and ending it.
    std::optional<std::chrono::milliseconds> untilExpiry(ScanClock::time_point now);
    void expire(ScanClock::time_point now, std::vector<ScannerDecode>& out);

  protected:
    ScannerSource(ScannerKind kind, std::string name, SystemPaths paths)
        : kind_(kind), name_(std::move(name)), paths_(std::move(paths)) {}
    virtual int openDevice(const std::string& node);
    virtual void closeDevice() {}
    virtual ReadResult readDevice(ScanClock::time_point now, std::vector<ScannerDecode>& out) = 0;
    virtual DecodeFramer& framer() = 0;
    virtual void resetAssembler() = 0;

    ScannerKind kind_;
    std::string name_;
    SystemPaths paths_;
    int fd_ = -1;
    bool characterDevice_ = false;
};

}  // namespace qn::sim
