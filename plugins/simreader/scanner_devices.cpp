#include "plugins/simreader/scanner_devices.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "plugins/simreader/hid_descriptor.h"

namespace qn::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSysfsText = 4096;
constexpr std::size_t kMaxDescriptor = 4096;  // HID_MAX_DESCRIPTOR_SIZE

std::string readText(const fs::path& file, std::size_t limit = kMaxSysfsText) {
    std::ifstream in(file, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::vector<std::uint8_t> readBytes(const fs::path& file, std::size_t limit) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes(limit);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::optional<unsigned> parseHex(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

// Entries of a folder whose names start with prefix, ordered by the number after it.
std::vector<fs::path> numberedEntries(const fs::path& folder, std::string_view prefix) {
    std::vector<std::pair<unsigned long, fs::path>> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size()) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) continue;
        found.emplace_back(std::stoul(digits), entry.path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> paths;
    for (auto& [number, path] : found)
        paths.push_back(std::move(path));
    return paths;
}

// The by-id link in folder that points at node, if any.
std::string byIdLink(const fs::path& folder, const fs::path& node) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code linkError;
        fs::path target = fs::read_symlink(entry.path(), linkError);
        if (linkError) continue;
        if (target.is_relative()) target = (folder / target).lexically_normal();
        if (target == node) return entry.path().string();
    }
    return {};
}

// The lowest word of a sysfs capability bitmap ("120013" or "1f 0 ... fffffffe").
unsigned long long lowestCapabilityWord(const std::string& text) {
    const auto space = text.find_last_of(' ');
    const std::string last = space == std::string::npos ? text : text.substr(space + 1);
    if (last.empty() || last.size() > 16) return 0;
    unsigned long long value = 0;
    for (char c : last) {
        auto digit = parseHex(std::string_view(&c, 1), 1);
        if (!digit) return 0;
        value = value * 16 + *digit;
    }
    return value;
}

bool nameSaysScanner(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* word : {"scan", "barcode", "bar code", "imager"}) {
        if (name.find(word) != std::string::npos) return true;
    }
    return false;
}

std::vector<ScannerDevice> keyboards(const SystemPaths& paths) {
    std::vector<ScannerDevice> found;
    // KEY_1 (2), KEY_ENTER (28), KEY_A (30): a device that can type a barcode.
    constexpr unsigned long long kTyping = (1ULL << 2) | (1ULL << 28) | (1ULL << 30);
    for (const auto& entry : numberedEntries(paths.sys / "class/input", "event")) {
        const fs::path device = entry / "device";
        if ((lowestCapabilityWord(readText(device / "capabilities/key")) & kTyping) != kTyping) {
            continue;
        }
        ScannerDevice scanner;
        scanner.kind = ScannerKind::Keyboard;
        scanner.name = readText(device / "name", 256);
        scanner.id.vendor =
            static_cast<std::uint16_t>(parseHex(readText(device / "id/vendor"), 4).value_or(0));
        scanner.id.product =
            static_cast<std::uint16_t>(parseHex(readText(device / "id/product"), 4).value_or(0));
        scanner.node = (paths.dev / "input" / entry.filename()).string();
        scanner.byId = byIdLink(paths.dev / "input/by-id", scanner.node);
        const std::string leds = readText(device / "capabilities/led");
        scanner.likelyScanner = nameSaysScanner(scanner.name) || leds.empty() || leds == "0";
        found.push_back(std::move(scanner));
    }
    return found;
}

// HID_ID=0003:00000C2E:00000B61 and HID_NAME=... of a hidraw node's uevent.
void readHidUevent(const fs::path& file, ScannerDevice& scanner) {
    const std::string text = readText(file);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (line.rfind("HID_NAME=", 0) == 0) scanner.name = std::string(line.substr(9));
        if (line.rfind("HID_ID=", 0) == 0 && line.size() == 7 + 22) {
            scanner.id.vendor =
                static_cast<std::uint16_t>(parseHex(line.substr(7 + 9, 4), 4).value_or(0));
            scanner.id.product =
                static_cast<std::uint16_t>(parseHex(line.substr(7 + 18, 4), 4).value_or(0));
        }
        start = end + 1;
    }
}

std::vector<ScannerDevice> hidPosScanners(const SystemPaths& paths) {
    std::vector<ScannerDevice> found;
    for (const auto& entry : numberedEntries(paths.sys / "class/hidraw", "hidraw")) {
        const auto descriptor = readBytes(entry / "device/report_descriptor", kMaxDescriptor);
        if (!declaresBarcodeScannerPage(descriptor)) continue;
        ScannerDevice scanner;
        scanner.kind = ScannerKind::HidPos;
        scanner.hidLayout = hidLayoutSummary(descriptor);
        readHidUevent(entry / "device/uevent", scanner);
        scanner.node = (paths.dev / entry.filename()).string();
        scanner.likelyScanner = true;
        found.push_back(std::move(scanner));
    }
    return found;
}

std::vector<ScannerDevice> serialLines(const SystemPaths& paths) {
    std::vector<ScannerDevice> found;
    const fs::path folder = paths.dev / "serial/by-id";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code linkError;
        fs::path target = fs::read_symlink(entry.path(), linkError);
        if (linkError) continue;
        if (target.is_relative()) target = (folder / target).lexically_normal();
        ScannerDevice scanner;
        scanner.kind = ScannerKind::Serial;
        scanner.name = entry.path().filename().string();
        scanner.node = target.string();
        scanner.byId = entry.path().string();
        scanner.likelyScanner = true;
        found.push_back(std::move(scanner));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.node < b.node; });
    return found;
}

}  // namespace

std::optional<VendorProduct> parseVendorProduct(std::string_view text) {
    if (text.size() != 9 || text[4] != ':') return std::nullopt;
    auto vendor = parseHex(text.substr(0, 4), 4);
    auto product = parseHex(text.substr(5, 4), 4);
    if (!vendor || !product) return std::nullopt;
    return VendorProduct{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

bool declaresBarcodeScannerPage(std::span<const std::uint8_t> descriptor) {
    constexpr std::uint8_t kUsagePageTag = 0x04;  // global item, tag 0
    constexpr std::uint8_t kLongItem = 0xFE;
    std::size_t at = 0;
    while (at < descriptor.size()) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == kLongItem) {
            if (at + 1 >= descriptor.size()) return false;
            at += 3 + descriptor[at + 1];
            continue;
        }
        const std::size_t size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (at + 1 + size > descriptor.size()) return false;
        if ((prefix & 0xFC) == kUsagePageTag && size > 0) {
            unsigned page = 0;
            for (std::size_t i = size; i > 0; --i)
                page = (page << 8) | descriptor[at + i];
            if (page == 0x8C) return true;
        }
        at += 1 + size;
    }
    return false;
}

std::string hidLayoutSummary(std::span<const std::uint8_t> descriptor) {
    if (auto layout = parseHidPosLayout(descriptor)) return describeHidPosLayout(*layout);
    return "not readable from its report descriptor: read as report 2 of 64 bytes";
}

std::vector<ScannerDevice> findScannerDevices(const SystemPaths& paths) {
    std::vector<ScannerDevice> all = keyboards(paths);
    for (auto* more : {&hidPosScanners, &serialLines}) {
        auto found = (*more)(paths);
        std::move(found.begin(), found.end(), std::back_inserter(all));
    }
    return all;
}

std::string resolveScanner(const std::string& name, ScannerKind kind, const SystemPaths& paths) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return name;
    if (auto id = parseVendorProduct(name)) {
        auto candidates = kind == ScannerKind::HidPos ? hidPosScanners(paths) : keyboards(paths);
        for (const auto& device : candidates) {
            if (device.id == *id) return device.node;
        }
        return {};
    }
    if (kind == ScannerKind::HidPos) return (paths.dev / name).string();
    return (paths.dev / "input/by-id" / name).string();
}

}  // namespace qn::sim
