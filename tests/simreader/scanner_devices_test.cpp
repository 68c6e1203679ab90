// Finding scanners: a machine laid out in a temporary sysfs and /dev, names from reader.ini
// resolved against it, and the HID report descriptors that mark a HID POS scanner.

#include <gtest/gtest.h>

#include "plugins/simreader/scanner_devices.h"
#include "tests/simreader/scanner_script.h"
#include "tests/simreader/test_support.h"

namespace qn::sim {
namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

TEST(ScannerDevices, VendorProductAndDescriptors) {
    EXPECT_EQ(parseVendorProduct("0c2e:0B61"), (VendorProduct{0x0C2E, 0x0B61}));
    for (const char* bad : {"0c2e0b61", "c2e:0b61", "0c2e:0b6g", "0c2e:0b610", "", "0c2e-0b61"}) {
        EXPECT_EQ(parseVendorProduct(bad), std::nullopt) << bad;
    }
    const std::vector<std::pair<bytes, bool>> descriptors = {
        {{0x05, 0x8C, 0x09, 0x02, 0xA1, 0x01}, true},        // Usage Page (1 byte)
        {{0x06, 0x8C, 0x00, 0x09, 0x02}, true},              // Usage Page (2 bytes)
        {{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01}, false},       // a keyboard
        {{0x09, 0x8C, 0x05, 0x01}, false},                   // 0x8C as a usage, not a page
        {{0x75, 0x08, 0x95, 0x8C, 0x05, 0x8C}, true},        // 0x8C as a count before the page
        {{0xFE, 0x02, 0x00, 0x05, 0x8C, 0x05, 0x8C}, true},  // a long item passed over
        {{0xFE, 0x05, 0x00, 0x05, 0x8C}, false},             // the page inside a long item
        {{0x06, 0x8C}, false},                               // cut short
        {{}, false},
    };
    for (const auto& [descriptor, expected] : descriptors) {
        EXPECT_EQ(declaresBarcodeScannerPage(descriptor), expected)
            << ::testing::PrintToString(descriptor);
    }
}

class FakeMachine {
  public:
    FakeMachine() {
        inputDevice("event2", "AT Translated Set 2 keyboard", "0001", "0001",
                    "402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe", "7");
        inputDevice("event3", "Barcode Reader ", "0c2e", "0b61",
                    "1000000000007 ff800000000007ff febeffdff3cfffff fffffffffffffffe", "0");
        inputDevice("event4", "Logitech USB Optical Mouse", "046d", "c077", "1f0000 0 0 0 0", "0");
        inputDevice("event10", "USB Keyboard", "1a2c", "0e24", "fffffffffffffffe", "");
        fs::create_directories(dev() / "input/by-id");
        fs::create_symlink("../event3", dev() / "input/by-id/usb-Maker_Scanner-event-kbd");
        hidraw("hidraw0", {0x05, 0x01, 0x09, 0x06},
               "HID_ID=0003:00001A2C:00000E24\nHID_NAME=USB Keyboard\n");
        hidraw("hidraw1", {0x06, 0x8C, 0x00, 0x09, 0x02},
               "HID_ID=0003:00000C2E:00000B61\nHID_NAME=Maker HID POS\n");
        const std::string laidOut = test::hid::trailingIdentifierDescriptor();
        hidraw("hidraw2", bytes(laidOut.begin(), laidOut.end()),
               "HID_ID=0003:00000C2E:00000C01\nHID_NAME=Other HID POS\n");
        fs::create_directories(dev() / "serial/by-id");
        fs::create_symlink("../../ttyACM0", dev() / "serial/by-id/usb-Maker_Serial_Scanner-if00");
    }
    SystemPaths paths() const { return {sys(), dev()}; }
    fs::path sys() const { return root_ / "sys"; }
    fs::path dev() const { return root_ / "dev"; }

  private:
    void inputDevice(const std::string& node, const std::string& name, const std::string& vendor,
                     const std::string& product, const std::string& keys, const std::string& leds) {
        const fs::path device = sys() / "class/input" / node / "device";
        fs::create_directories(device / "id");
        fs::create_directories(device / "capabilities");
        test::writeFile(device / "name", name + "\n");
        test::writeFile(device / "id/vendor", vendor + "\n");
        test::writeFile(device / "id/product", product + "\n");
        test::writeFile(device / "capabilities/key", keys + "\n");
        if (!leds.empty()) test::writeFile(device / "capabilities/led", leds + "\n");
    }
    void hidraw(const std::string& node, const bytes& descriptor, const std::string& uevent) {
        const fs::path device = sys() / "class/hidraw" / node / "device";
        fs::create_directories(device);
        test::writeFile(device / "report_descriptor",
                        std::string(descriptor.begin(), descriptor.end()));
        test::writeFile(device / "uevent", uevent);
    }
    test::TempDir root_;
};

TEST(ScannerDevices, ListsWhatCanScan) {
    FakeMachine machine;
    const auto found = findScannerDevices(machine.paths());
    struct Row {
        ScannerKind kind;
        std::string name;
        VendorProduct id;
        std::string node;
        std::string byId;
        bool likely;
        std::string layout = {};
    };
    const std::string dev = machine.dev().string();
    const std::vector<Row> expected = {
        {ScannerKind::Keyboard,
         "AT Translated Set 2 keyboard",
         {1, 1},
         dev + "/input/event2",
         "",
         false},
        {ScannerKind::Keyboard,
         "Barcode Reader",
         {0x0C2E, 0x0B61},
         dev + "/input/event3",
         dev + "/input/by-id/usb-Maker_Scanner-event-kbd",
         true},
        {ScannerKind::Keyboard, "USB Keyboard", {0x1A2C, 0x0E24}, dev + "/input/event10", "", true},
        {ScannerKind::HidPos,
         "Maker HID POS",
         {0x0C2E, 0x0B61},
         dev + "/hidraw1",
         "",
         true,
         "not readable from its report descriptor: read as report 2 of 64 bytes"},
        {ScannerKind::HidPos,
         "Other HID POS",
         {0x0C2E, 0x0C01},
         dev + "/hidraw2",
         "",
         true,
         "report 7 of 33 bytes: identifier, 28 data bytes, continuation flag"},
        {ScannerKind::Serial,
         "usb-Maker_Serial_Scanner-if00",
         {},
         dev + "/ttyACM0",
         dev + "/serial/by-id/usb-Maker_Serial_Scanner-if00",
         true},
    };
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].kind, expected[i].kind) << i;
        EXPECT_EQ(found[i].name, expected[i].name) << i;
        EXPECT_EQ(found[i].id, expected[i].id) << i;
        EXPECT_EQ(found[i].node, expected[i].node) << i;
        EXPECT_EQ(found[i].byId, expected[i].byId) << i;
        EXPECT_EQ(found[i].likelyScanner, expected[i].likely) << i;
        EXPECT_EQ(found[i].hidLayout, expected[i].layout) << i;
    }

    const std::vector<std::tuple<std::string, ScannerKind, std::string>> names = {
        {"/dev/input/event7", ScannerKind::Keyboard, "/dev/input/event7"},
        {"usb-Maker_Scanner-event-kbd", ScannerKind::Keyboard,
         dev + "/input/by-id/usb-Maker_Scanner-event-kbd"},
        {"0c2e:0b61", ScannerKind::Keyboard, dev + "/input/event3"},
        {"0C2E:0B61", ScannerKind::HidPos, dev + "/hidraw1"},
        {"1a2c:0e24", ScannerKind::HidPos, ""},    // a keyboard's hidraw node is no HID POS scanner
        {"046d:c077", ScannerKind::Keyboard, ""},  // a mouse types nothing
        {"hidraw5", ScannerKind::HidPos, dev + "/hidraw5"},
        {"", ScannerKind::Keyboard, ""},
    };
    for (const auto& [name, kind, node] : names) {
        EXPECT_EQ(resolveScanner(name, kind, machine.paths()), node) << name;
    }
}

}  // namespace
}  // namespace qn::sim
