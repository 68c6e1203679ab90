#include "common/dialogs/reader_page_rules.h"

namespace qn::dialogs {

using namespace reader_mask;

ReaderPageState readerPageState(std::uint32_t readerType, std::uint32_t activeDevices) {
    const bool barcodeActive = (activeDevices & kBarcodeDevices) != 0;
    const bool rfidActive = (activeDevices & kRfidDevice) != 0;
    ReaderPageState s;
    s.barcodeEnabled = (readerType & kBarcodeReaders) != 0;
    s.barcodeChecked = barcodeActive;
    s.rfidEnabled = (readerType & kRfidReaders) != 0;
    s.rfidChecked = rfidActive;
    s.oneDSettings = barcodeActive && (readerType & kOneDEngines) != 0;
    s.longRangeLaser = barcodeActive && (readerType & kLongRange) != 0;
    s.twoDSettings = barcodeActive && (readerType & kTwoDEngines) != 0;
    s.rfidSettings = rfidActive;
    s.advancedSettings = barcodeActive || rfidActive;
    return s;
}

std::uint32_t toggleBarcodeDevices(std::uint32_t activeDevices) {
    return (activeDevices & kBarcodeDevices) == 0 ? activeDevices | kBarcodeDevices
                                                  : activeDevices & ~kBarcodeDevices;
}

std::uint32_t toggleRfidDevice(std::uint32_t activeDevices) {
    return activeDevices ^ kRfidDevice;
}

namespace {

std::vector<std::string> numbered(std::string first, std::string_view prefix) {
    std::vector<std::string> items{std::move(first)};
    for (int n = 1; n <= 9; ++n)
        items.push_back(std::string(prefix) + std::to_string(n));
    return items;
}

}  // namespace

const std::vector<std::string>& soundListItems(reader::Program program) {
    static const std::vector<std::string> vt = numbered("Mute", "S");
    static const std::vector<std::string> tn = numbered("mute", "Sound");
    return program == reader::Program::Vt ? vt : tn;
}

const std::vector<std::string>& vibrationListItems() {
    static const std::vector<std::string> items{
        "0 sec",   "0.5 sec", "1.0 sec", "1.5 sec", "2.0 sec", "2.5 sec",
        "3.0 sec", "3.5 sec", "4.0 sec", "4.5 sec", "5.0 sec",
    };
    return items;
}

const std::vector<std::string>& rfidHiddenListItems() {
    static const std::vector<std::string> items = [] {
        std::vector<std::string> list{"None"};
        for (int n = 1; n <= 31; ++n)
            list.push_back(std::to_string(n));
        for (int c = 32; c <= 126; ++c)
            list.push_back(std::string{'\'', static_cast<char>(c), '\''});
        return list;
    }();
    return items;
}

}  // namespace qn::dialogs
