// quillnet-scan, run as a process, → the simulated reader → "WM_DECODEDATA" in the program's
// queue → the data fetched through ReaderLibrary, as the programs do.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "common/reader/reader_library.h"
#include "platform/message_queue.h"
#include "tests/simreader/test_support.h"

namespace qn::test {
namespace {

using namespace std::chrono_literals;

constexpr int kDelivered = 0, kNoReader = 2, kRefused = 3, kUsage = 64;

class ScanEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override { start("[reader]\ntype=0x15\nactive=0x27\n"); }

    void start(const std::string& readerIni) {
        ::unsetenv("QUILLNET_SCAN_SOCKET");
        writeFile(root / "reader.ini", readerIni);
        copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so");
        library.emplace(services.services);
        ASSERT_TRUE(library->load());
        library->initialise();
        ASSERT_TRUE(library->readerInitialised());
    }

    std::string socketPath() const { return (root / "scan.sock").string(); }

    ProcessResult scan(std::vector<std::string> args) {
        args.insert(args.begin(), {"--socket", socketPath()});
        return runTool("quillnet-scan", args);
    }

    // The next "WM_DECODEDATA" of the queue, with its wParam.
    std::optional<std::uintptr_t> nextDecode(std::chrono::milliseconds timeout = 5000ms) {
        auto message = services.queue.waitFor(timeout);
        if (!message) return std::nullopt;
        EXPECT_EQ(message->id, platform::registerWindowMessage("WM_DECODEDATA"));
        return message->wParam;
    }

    std::string fetch(QnGetDecodeRfidFn operation, int size = 260) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(size), 0xEE);
        int length = operation(buffer.data(), size);
        return std::string(reinterpret_cast<char*>(buffer.data()),
                           static_cast<std::size_t>(std::max(length, 0)));
    }

    std::string fetchBarcode() {
        unsigned char buffer[260];
        int length = library->ops().GetOutputRecord(7, buffer, sizeof buffer);
        return std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(length));
    }

    TempDir root;
    TestServices services{root.path()};
    std::optional<reader::ReaderLibrary> library;
};

TEST_F(ScanEndToEndTest, ABarcodeReachesTheProgram) {
    library->setTriggerKey(1);
    ProcessResult result = scan({"ABC-123"});
    ASSERT_EQ(result.exitCode, kDelivered) << result.errorOutput;
    EXPECT_EQ(nextDecode(), 7u);
    EXPECT_EQ(fetchBarcode(), "ABC-123");
    unsigned char buffer[300];
    EXPECT_EQ(library->ops().GetDecodeData(buffer, 300), 7);
}

TEST_F(ScanEndToEndTest, AHexBarcodeMayHoldAnyByte) {
    library->setTriggerKey(1);
    ASSERT_EQ(scan({"--hex", "41001b0D42ff"}).exitCode, kDelivered);
    EXPECT_EQ(nextDecode(), 7u);
    EXPECT_EQ(fetchBarcode(), std::string("A\0\x1b\rB\xff", 6));
}

TEST_F(ScanEndToEndTest, AnRfidReadReachesTheProgram) {
    library->setTriggerKey(1);
    ProcessResult result = scan({"--rfid", "--uid", "e004a1b2", "--data", "48:65:6c:6c:6f"});
    ASSERT_EQ(result.exitCode, kDelivered) << result.errorOutput;
    EXPECT_EQ(nextDecode(), 8u);
    EXPECT_EQ(fetch(library->ops().GetDecodeRfidUID), "E004A1B2");
    EXPECT_EQ(fetch(library->ops().GetDecodeRfidData), "48656C6C6F");
}

TEST_F(ScanEndToEndTest, RefusedWhileTheTriggerIsOff) {
    ProcessResult result = scan({"ABC"});
    EXPECT_EQ(result.exitCode, kRefused);
    EXPECT_NE(result.errorOutput.find("trigger"), std::string::npos) << result.errorOutput;
    EXPECT_EQ(scan({"--rfid", "--uid", "01"}).exitCode, kRefused);
    library->setTriggerKey(1);
    library->setTriggerKey(0);
    EXPECT_EQ(scan({"ABC"}).exitCode, kRefused);
    EXPECT_FALSE(nextDecode(100ms));
}

TEST_F(ScanEndToEndTest, RefusedWhileTheDeviceIsInactive) {
    library->setTriggerKey(1);
    library->ops().SetActiveDevice(0x20);
    ProcessResult barcode = scan({"ABC"});
    EXPECT_EQ(barcode.exitCode, kRefused);
    EXPECT_NE(barcode.errorOutput.find("barcode reader is not active"), std::string::npos);
    ASSERT_EQ(scan({"--rfid", "--uid", "0102"}).exitCode, kDelivered);
    EXPECT_EQ(nextDecode(), 8u);
    fetch(library->ops().GetDecodeRfidUID);

    library->ops().SetActiveDevice(0x07);
    ProcessResult rfid = scan({"--rfid", "--uid", "0102"});
    EXPECT_EQ(rfid.exitCode, kRefused);
    EXPECT_NE(rfid.errorOutput.find("RFID reader is not active"), std::string::npos);
    EXPECT_EQ(scan({"ABC"}).exitCode, kDelivered);
    EXPECT_EQ(nextDecode(), 7u);
}

TEST_F(ScanEndToEndTest, NoReaderListening) {
    library->halt();
    ProcessResult result = scan({"ABC"});
    EXPECT_EQ(result.exitCode, kNoReader);
    EXPECT_NE(result.errorOutput.find("no reader"), std::string::npos);
    EXPECT_EQ(
        runTool("quillnet-scan", {"--socket", (root / "nothing.sock").string(), "x"}).exitCode,
        kNoReader);
}

TEST_F(ScanEndToEndTest, TheDefaultSocketIsInTheDeviceRoot) {
    library->setTriggerKey(1);
    ProcessResult result =
        runTool("quillnet-scan", {"FROM-ROOT"},
                {"QUILLNET_SCAN_SOCKET", "QUILLNET_DEVICE_ROOT=" + root.path().string()});
    ASSERT_EQ(result.exitCode, kDelivered) << result.errorOutput;
    EXPECT_EQ(nextDecode(), 7u);
    EXPECT_EQ(fetchBarcode(), "FROM-ROOT");

    // QUILLNET_SCAN_SOCKET wins over the device root.
    result = runTool("quillnet-scan", {"x"},
                     {"QUILLNET_SCAN_SOCKET=" + (root / "other.sock").string(),
                      "QUILLNET_DEVICE_ROOT=" + root.path().string()});
    EXPECT_EQ(result.exitCode, kNoReader);
}

TEST_F(ScanEndToEndTest, AScanWaitsUntilTheProgramFetchedThePreviousOne) {
    library.reset();
    start("[reader]\nfetch_wait_ms=5000\n");
    library->setTriggerKey(1);
    ASSERT_EQ(scan({"FIRST"}).exitCode, kDelivered);
    ASSERT_EQ(nextDecode(), 7u);

    ToolProcess second("quillnet-scan", {"--socket", socketPath(), "SECOND"});
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(second.running()) << "the second scan must wait for the first to be fetched";
    EXPECT_EQ(fetchBarcode(), "FIRST");
    ProcessResult result = second.wait();
    EXPECT_EQ(result.exitCode, kDelivered) << result.errorOutput;
    EXPECT_EQ(nextDecode(), 7u);
    EXPECT_EQ(fetchBarcode(), "SECOND");
}

TEST_F(ScanEndToEndTest, UsageErrorsAreOneLineAndExit64) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--rfid"},
        {"--rfid", "--uid"},
        {"--rfid", "--uid", "xyz"},
        {"--rfid", "--uid", "123"},
        {"--rfid", "--uid", ""},
        {"--rfid", "--uid", "01", "--data", "0g"},
        {"--rfid", "--uid", "01", "DATA"},
        {"--uid", "01"},
        {"--hex", "4"},
        {"--hex", "zz"},
        {"--hex", ""},
        {""},
        {"--socket"},
        {"--socket=", "x"},
        {"--frobnicate", "x"},
        {"one", "two"},
        {std::string(4097, 'L')},
        {"--rfid", "--uid", std::string(130, 'a')},
    };
    for (const auto& args : bad) {
        ProcessResult result = runTool("quillnet-scan", args);
        std::string shown;
        for (const auto& arg : args)
            shown += "[" + arg.substr(0, 20) + "] ";
        EXPECT_EQ(result.exitCode, kUsage) << shown;
        EXPECT_EQ(std::count(result.errorOutput.begin(), result.errorOutput.end(), '\n'), 1)
            << shown << result.errorOutput;
    }
    EXPECT_FALSE(nextDecode(50ms));
}

TEST_F(ScanEndToEndTest, DataAfterDoubleDashMayStartWithADash) {
    library->setTriggerKey(1);
    ASSERT_EQ(scan({"--", "--not-an-option"}).exitCode, kDelivered);
    EXPECT_EQ(nextDecode(), 7u);
    EXPECT_EQ(fetchBarcode(), "--not-an-option");
}

}  // namespace
}  // namespace qn::test
