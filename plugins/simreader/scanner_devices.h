#pragma once
// Finding scanners on a Linux machine: the input devices that type like keyboards, the hidraw
// devices of the HID POS usage page, the USB-serial lines; and a scanner named in reader.ini
// (a path, a by-id name, vendor:product) resolved to its device node. sysfs and /dev are
// parameters so that tests can lay out a machine of their own.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/simreader/scanner_decode.h"

namespace qn::sim {

struct SystemPaths {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

struct VendorProduct {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const VendorProduct&) const = default;
};

// "0c2e:0b61": four hex digits each side.
std::optional<VendorProduct> parseVendorProduct(std::string_view text);

// True when a HID report descriptor declares the bar code scanner usage page (0x8C).
bool declaresBarcodeScannerPage(std::span<const std::uint8_t> descriptor);

struct ScannerDevice {
    ScannerKind kind = ScannerKind::Keyboard;
    std::string name;
    VendorProduct id;
    std::string node;            // /dev/input/event5, /dev/hidraw2, /dev/ttyACM0
    std::string byId;            // its /dev/.../by-id link, empty when none
    bool likelyScanner = false;  // keyboards only: the name says so, or it has no LEDs
    std::string hidLayout;       // HID POS only: where its reports carry a decode
};

// The listing's words for a HID POS scanner's layout, from its report descriptor.
std::string hidLayoutSummary(std::span<const std::uint8_t> descriptor);

// Keyboards (event nodes with letter, digit and Enter keys), HID POS hidraw nodes and USB-serial
// lines, in node order.
std::vector<ScannerDevice> findScannerDevices(const SystemPaths& paths = {});

// The device node a reader.ini name stands for; empty when nothing matches (yet).
std::string resolveScanner(const std::string& name, ScannerKind kind,
                           const SystemPaths& paths = {});

}  // namespace qn::sim
