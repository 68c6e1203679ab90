#pragma once
// reader.ini in the device root: what the simulated reader is and how it answers.
//
//   [reader]
//   type=0x15          ; reader-type mask (GetReaderType)
//   active=0x27        ; active-device mask at start (GetActiveDevice)
//   trigger=0          ; trigger state at start (SetTriggerKey changes it)
//   init=1             ; what InitReader returns the first time (1, -51, -102, ... any int)
//   halt=1             ; what HaltReader returns
//   defaults=1         ; 0: GetDllDefaultSettings fails (returns 0, fills nothing)
//   version=TEXT       ; the GetDllVer text (cut to kMaxVersionText)
//   serial=/dev/ttyUSB0; optional: a serial scanner, each line (up to CR or LF) one barcode
//   baud=9600
//   fetch_wait_ms=2000 ; how long a new decode waits for the previous one to be fetched
//
//   [scanner]
//   evdev=NAME         ; keyboard-mode scanners: a device path, a /dev/input/by-id name or
//                      ; vendor:product in hex; several separated by commas (up to 4)
//   hidraw=NAME        ; HID POS scanners, named the same ways
//   hid-descriptor=PATH; the report descriptor (binary) of a HID POS scanner that is a FIFO or
//                      ; file, relative to the device root; none: the common 64-byte layout
//   layout=us          ; the keyboard layout the scanner types in ("de", "de(nodeadkeys)", ...)
//   terminator=Enter   ; the key that ends a decode: Enter or Tab
//   gap-ms=0           ; a decode also ends after this long without a key, or a byte from a
//                      ; serial scanner (0: only at the terminator); 0..10000
//
// A missing or unreadable file, or a line whose value does not parse or is out of range, leaves
// that setting at its default (the values shown above; no serial device).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ini.h"
#include "plugins/simreader/scanner_decode.h"

namespace qn::sim {

inline constexpr std::size_t kMaxVersionText = 99;
inline constexpr std::size_t kMaxScannersPerKind = 4;
inline constexpr std::size_t kMaxScannerName = 255;

struct ScannerConfig {
    std::vector<std::string> evdev;
    std::vector<std::string> hidraw;
    std::string layout = "us";
    ScanTerminator terminator = ScanTerminator::Enter;
    std::chrono::milliseconds gap{0};
    std::string hidDescriptor;
    bool operator==(const ScannerConfig&) const = default;
};

struct ReaderConfig {
    std::uint32_t readerType = 0x15;
    std::uint32_t activeDevices = 0x27;
    bool triggerOn = false;
    int initResult = 1;
    int haltResult = 1;
    bool defaultsAvailable = true;
    std::string version = "ScanSvc_CE 3.0.0 (QuillNet simulated reader)";
    std::string serialPath;
    int baud = 9600;
    std::chrono::milliseconds fetchWait{2000};
    ScannerConfig scanner;
    bool operator==(const ReaderConfig&) const = default;
};

ReaderConfig readerConfigFrom(const platform::IniFile& ini);
ReaderConfig loadReaderConfig(const std::filesystem::path& deviceRoot);

// Baud rates a serial line can be set to.
bool isSupportedBaud(long long baud);

}  // namespace qn::sim
