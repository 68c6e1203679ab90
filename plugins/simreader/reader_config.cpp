#include "plugins/simreader/reader_config.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>

namespace qn::sim {

namespace {

constexpr std::array<long long, 11> kBauds{1200,  2400,   4800,   9600,   19200, 38400,
                                           57600, 115200, 230400, 460800, 921600};

template <class T>
void readInteger(const platform::IniFile& ini, const char* key, long long low, long long high,
                 T& target) {
    if (auto value = ini.integer("reader", key); value && *value >= low && *value <= high) {
        target = static_cast<T>(*value);
    }
}

// NAME[,NAME...]: blanks around each name are dropped, so are empty and overlong names; at
// most kMaxScannersPerKind are kept.
std::vector<std::string> scannerNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size() && names.size() < kMaxScannersPerKind) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(start, end - start);
        const auto first = name.find_first_not_of(" \t");
        const auto last = name.find_last_not_of(" \t");
        if (first != std::string::npos) {
            name = name.substr(first, last - first + 1);
            if (name.size() <= kMaxScannerName) names.push_back(name);
        }
        start = end + 1;
    }
    return names;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

ScannerConfig scannerConfigFrom(const platform::IniFile& ini) {
    ScannerConfig scanner;
    if (auto list = ini.value("scanner", "evdev")) scanner.evdev = scannerNames(*list);
    if (auto list = ini.value("scanner", "hidraw")) scanner.hidraw = scannerNames(*list);
    if (auto layout = ini.value("scanner", "layout"); layout && !layout->empty()) {
        scanner.layout = *layout;
    }
    if (auto file = ini.value("scanner", "hid-descriptor")) scanner.hidDescriptor = *file;
    if (auto terminator = ini.value("scanner", "terminator")) {
        if (equalsIgnoringCase(*terminator, "tab")) scanner.terminator = ScanTerminator::Tab;
    }
    if (auto gap = ini.integer("scanner", "gap-ms"); gap && *gap >= 0 && *gap <= 10000) {
        scanner.gap = std::chrono::milliseconds(*gap);
    }
    return scanner;
}

}  // namespace

bool isSupportedBaud(long long baud) {
    return std::find(kBauds.begin(), kBauds.end(), baud) != kBauds.end();
}

ReaderConfig readerConfigFrom(const platform::IniFile& ini) {
    ReaderConfig config;
    constexpr long long kIntMin = std::numeric_limits<int>::min();
    constexpr long long kIntMax = std::numeric_limits<int>::max();
    readInteger(ini, "type", 0, 0xFFFFFFFFLL, config.readerType);
    readInteger(ini, "active", 0, 0xFFFFFFFFLL, config.activeDevices);
    readInteger(ini, "init", kIntMin, kIntMax, config.initResult);
    readInteger(ini, "halt", kIntMin, kIntMax, config.haltResult);
    int flag = -1;
    readInteger(ini, "trigger", 0, 1, flag);
    if (flag >= 0) config.triggerOn = flag == 1;
    flag = -1;
    readInteger(ini, "defaults", 0, 1, flag);
    if (flag >= 0) config.defaultsAvailable = flag == 1;
    if (auto version = ini.value("reader", "version"); version && !version->empty()) {
        config.version = version->substr(0, kMaxVersionText);
    }
    if (auto serial = ini.value("reader", "serial")) config.serialPath = *serial;
    if (auto baud = ini.integer("reader", "baud"); baud && isSupportedBaud(*baud)) {
        config.baud = static_cast<int>(*baud);
    }
    long long waitMs = -1;
    readInteger(ini, "fetch_wait_ms", 0, 10000, waitMs);
    if (waitMs >= 0) config.fetchWait = std::chrono::milliseconds(waitMs);
    config.scanner = scannerConfigFrom(ini);
    return config;
}

ReaderConfig loadReaderConfig(const std::filesystem::path& deviceRoot) {
    auto ini = platform::IniFile::load(deviceRoot / "reader.ini");
    return ini ? readerConfigFrom(*ini) : ReaderConfig{};
}

}  // namespace qn::sim
