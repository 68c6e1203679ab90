#pragma once
// What the "Barcode Reader" page of both programs shows for the reader library's two masks,
// how its toggles change the active devices, and the lists of the scanner dialogs.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/reader/settings_store.h"

namespace qn::dialogs {

namespace reader_mask {
inline constexpr std::uint32_t kBarcodeReaders = 0xC7;  // reader types with a barcode engine
inline constexpr std::uint32_t kRfidReaders = 0x130;
inline constexpr std::uint32_t kOneDEngines = 0x81;
inline constexpr std::uint32_t kLongRange = 0x02;
inline constexpr std::uint32_t kTwoDEngines = 0x44;
inline constexpr std::uint32_t kBarcodeDevices = 0x07;  // active-device bits
inline constexpr std::uint32_t kRfidDevice = 0x20;
}  // namespace reader_mask

// Enabling and check states of the page's controls for one reading of the masks.
struct ReaderPageState {
    bool barcodeEnabled = false;
    bool barcodeChecked = false;
    bool rfidEnabled = false;
    bool rfidChecked = false;
    bool oneDSettings = false;
    bool longRangeLaser = false;
    bool twoDSettings = false;
    bool rfidSettings = false;
    bool advancedSettings = false;
};

ReaderPageState readerPageState(std::uint32_t readerType, std::uint32_t activeDevices);

// A toggle: the device bits all set when none was active, else all cleared.
std::uint32_t toggleBarcodeDevices(std::uint32_t activeDevices);
std::uint32_t toggleRfidDevice(std::uint32_t activeDevices);

// The sound list of a program: index = sound number, 0 silent.
const std::vector<std::string>& soundListItems(reader::Program program);
// "0 sec" ... "5.0 sec": index = vibration value.
const std::vector<std::string>& vibrationListItems();

// The RFID dialog's hidden list: "None", "1" ... "31", then each printable character quoted.
const std::vector<std::string>& rfidHiddenListItems();

}  // namespace qn::dialogs
