// Scanners read by the loaded ScanSvc_CE.so: FIFOs stand in for a keyboard-mode scanner (input
// event records) and a HID POS scanner (64-byte reports, or those of a descriptor file); a
// regular file is a recording.

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "common/reader/reader_abi.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/scanner_script.h"
#include "tests/simreader/test_support.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;

// The write end of a FIFO: plugged once the reader has the read end open.
class FifoScanner {
  public:
    explicit FifoScanner(std::filesystem::path path) : path_(std::move(path)) {
        ::mkfifo(path_.c_str(), 0600);
    }
    ~FifoScanner() { unplug(); }
    const std::filesystem::path& path() const { return path_; }
    bool plug(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd_ >= 0) {
                ::fcntl(fd_, F_SETFL, 0);
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    void write(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    void unplug() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    std::filesystem::path path_;
    int fd_ = -1;
};

struct Decode {
    std::uintptr_t wParam;
    std::string data;
    std::string source;
    std::string symbology;
};

class ScannerPluginTest : public ::testing::Test {
  protected:
    void load(const std::string& readerIni) {
        test::writeFile(root / "reader.ini", readerIni);
        plugin.emplace(test::copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so"));
        getDecodeData = plugin->get<int (*)(unsigned char*, int)>("GetDecodeData");
        decodeSource = plugin->get<QnSimDecodeSourceFn>("QnSimDecodeSource");
        scannerOpens = plugin->get<QnSimScannerOpensFn>("QnSimScannerOpens");
        setTrigger = plugin->get<int (*)(int)>("SetTriggerKey");
        ASSERT_EQ(plugin->get<int (*)()>("InitReader")(), 1);
        plugin->get<int (*)(QnPostRegisteredMessage, void*)>("RegisterDecodeTarget")(&post, this);
        setTrigger(1);
    }
    void TearDown() override {
        if (!plugin) return;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(plugin->get<int (*)(int)>("HaltReader")(255), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }

    // The program's side: each post is fetched at once, as a UI loop with nothing else to do.
    static int post(void* target, const char*, std::uintptr_t wParam) {
        auto* self = static_cast<ScannerPluginTest*>(target);
        unsigned char buffer[300] = {};
        const int length = self->getDecodeData(buffer, sizeof buffer);
        char kind[16] = {}, symbology[8] = {};
        self->decodeSource(kind, sizeof kind, symbology, sizeof symbology);
        std::lock_guard lock(self->mutex);
        self->decodes.push_back({wParam,
                                 std::string(reinterpret_cast<char*>(buffer),
                                             static_cast<std::size_t>(std::max(length, 0))),
                                 kind, symbology});
        self->posted.notify_all();
        return 1;
    }
    std::vector<Decode> waitForDecodes(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(mutex);
        posted.wait_for(lock, timeout, [&] { return decodes.size() >= count; });
        return decodes;
    }
    bool waitForOpens(int count) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (scannerOpens() < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    test::TempDir root;
    std::optional<test::Plugin> plugin;
    int (*getDecodeData)(unsigned char*, int) = nullptr;
    QnSimDecodeSourceFn decodeSource = nullptr;
    QnSimScannerOpensFn scannerOpens = nullptr;
    int (*setTrigger)(int) = nullptr;
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<Decode> decodes;
};

std::string typed(const char* script) {
    return test::eventBytes(test::keyScript(script));
}

TEST_F(ScannerPluginTest, KeyboardScannerThroughTriggerAndUnplug) {
    FifoScanner scanner(root / "kbd");
    load("[reader]\n[scanner]\nevdev=" + scanner.path().string() + "\nlayout=de\n");
    ASSERT_TRUE(scanner.plug());
    scanner.write(typed("Y +LEFTSHIFT Z -LEFTSHIFT 1 ENTER"));
    auto seen = waitForDecodes(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].wParam, static_cast<std::uintptr_t>(QN_DECODE_BARCODE));
    EXPECT_EQ(seen[0].data, "zY1");
    EXPECT_EQ(seen[0].source, "keyboard");

    // Trigger off: scans are discarded, not kept for later.
    setTrigger(0);
    scanner.write(typed("O F F ENTER"));
    std::this_thread::sleep_for(200ms);
    setTrigger(1);
    // Unplugged in the middle of a scan: the complete decode ahead of it is posted, the partial
    // one is not, and the scanner is found again.
    scanner.write(typed("D O N E ENTER P A R T"));
    scanner.unplug();
    ASSERT_TRUE(waitForOpens(2));
    ASSERT_TRUE(scanner.plug());
    scanner.write(typed("A G A I N ENTER"));
    seen = waitForDecodes(3);
    std::vector<std::string> data;
    for (const auto& decode : seen)
        data.push_back(decode.data);
    EXPECT_EQ(data, (std::vector<std::string>{"zY1", "done", "again"}));
}

// A scanner that sends no terminator: the gap ends its decodes, and Tab ends one sooner.
TEST_F(ScannerPluginTest, GapEndsADecodeWithoutATerminator) {
    FifoScanner scanner(root / "kbd");
    load("[scanner]\nevdev=" + scanner.path().string() + "\nterminator=Tab\ngap-ms=40\n");
    ASSERT_TRUE(scanner.plug());
    const auto start = std::chrono::steady_clock::now();
    scanner.write(typed("X +LEFTSHIFT Y -LEFTSHIFT"));
    ASSERT_EQ(waitForDecodes(1).size(), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
    scanner.write(typed("Z ENTER TAB 1"));
    const auto seen = waitForDecodes(3);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].data, "xY");
    EXPECT_EQ(seen[1].data, "z\r");
    EXPECT_EQ(seen[2].data, "1");
}

// Two scanners of different kinds at once, each flooding the reader with decodes: every decode
// arrives whole, each scanner's in its own order.
TEST_F(ScannerPluginTest, TwoScannersAtOnce) {
    FifoScanner keyboard(root / "kbd"), hidpos(root / "hid");
    load("[scanner]\nevdev=" + keyboard.path().string() + "\nhidraw=" + hidpos.path().string() +
         "\n");
    ASSERT_TRUE(keyboard.plug());
    ASSERT_TRUE(hidpos.plug());
    constexpr int kEach = 300;
    auto digits = [](int n) {
        std::string script;
        for (char c : std::to_string(n))
            script += std::string(1, c) + " ";
        return script;
    };
    std::thread typing([&] {
        std::string stream;
        for (int i = 0; i < kEach; ++i)
            stream += typed(("K " + digits(i) + "ENTER").c_str());
        keyboard.write(stream);
    });
    std::thread reporting([&] {
        for (int i = 0; i < kEach; ++i) {
            hidpos.write(test::hidReport("H" + std::string(40, '-'), "]C1", true) +
                         test::hidReport(std::to_string(i)));
        }
    });
    typing.join();
    reporting.join();
    const auto seen = waitForDecodes(2 * kEach);
    ASSERT_EQ(seen.size(), 2u * kEach);
    int nextKey = 0, nextHid = 0;
    for (const auto& decode : seen) {
        if (decode.source == "keyboard") {
            EXPECT_EQ(decode.data, "k" + std::to_string(nextKey++));
            EXPECT_EQ(decode.symbology, "");
        } else {
            EXPECT_EQ(decode.source, "hidpos");
            EXPECT_EQ(decode.data, "H" + std::string(40, '-') + std::to_string(nextHid++));
            EXPECT_EQ(decode.symbology, "]C1");
        }
    }
    EXPECT_EQ(nextKey, kEach);
    EXPECT_EQ(nextHid, kEach);
}

// A HID POS scanner of another layout: reader.ini names its report descriptor, relative to the
// device root, and its reports (of their own sizes, a status report among them) make decodes.
TEST_F(ScannerPluginTest, HidPosLayoutFromADescriptorFile) {
    FifoScanner hidpos(root / "hid");
    test::writeFile(root / "model7.desc", test::hid::trailingIdentifierDescriptor());
    load("[scanner]\nhidraw=" + hidpos.path().string() + "\nhid-descriptor=model7.desc\n");
    ASSERT_TRUE(hidpos.plug());
    auto report7 = [](std::string_view data, std::string_view flag) {
        return test::reportOf(33, {{0, "\x07"}, {1, data}, {29, "]d2"}, {32, flag}});
    };
    hidpos.write(report7(std::string(28, '0'), "\x01") + test::reportOf(2, {{0, "\x03\x01"}}) +
                 report7("\x1D"
                         "17261231",
                         "") +
                 report7("NEXT", ""));
    const auto seen = waitForDecodes(2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].data, std::string(28, '0') +
                                "\x1D"
                                "17261231");
    EXPECT_EQ(seen[0].symbology, "]d2");
    EXPECT_EQ(seen[1].data, "NEXT");
    EXPECT_EQ(seen[1].source, "hidpos");
}

// A recording is read once to its end; a missing scanner and a layout that does not compile
// stop nothing else.
TEST_F(ScannerPluginTest, RecordingsAndMissingScanners) {
    load("[scanner]\nhidraw=" + (root / "scan.hid").string() +
         ",/nonexistent/hidraw9\nevdev=" + (root / "scan.kbd").string() + "\n");
    // The recordings appear whole once the reader is ready, as a scanner plugged in later.
    test::writeFile(root / "hid.tmp",
                    test::hidReport("4006381333931", "]E0") + test::hidReport("cut", "", true));
    test::writeFile(root / "kbd.tmp", typed("Q ENTER"));
    std::filesystem::rename(root / "hid.tmp", root / "scan.hid");
    std::filesystem::rename(root / "kbd.tmp", root / "scan.kbd");
    auto seen = waitForDecodes(2);
    ASSERT_EQ(seen.size(), 2u);
    std::this_thread::sleep_for(600ms);  // past the retry interval: nothing is read again
    seen = waitForDecodes(3, 0ms);
    ASSERT_EQ(seen.size(), 2u);
    auto hid = seen[0].source == "hidpos" ? seen[0] : seen[1];
    auto key = seen[0].source == "hidpos" ? seen[1] : seen[0];
    EXPECT_EQ(hid.data, "4006381333931");
    EXPECT_EQ(hid.symbology, "]E0");
    EXPECT_EQ(key.data, "q");
}

// quillnet-device --watch, as a check on a real scanner: each decode with its scanner's kind.
TEST(QuillnetDeviceWatch, PrintsEachDecodeWithItsScanner) {
    test::TempDir root;
    for (const char* file : {"registry.ini", "KX2CE_SYS.so", "ScanSvc_CE.so"}) {
        std::filesystem::copy_file(test::buildDeviceRoot() / file, root / file);
    }
    FifoScanner scanner(root / "hid");
    test::writeFile(root / "reader.ini", "[scanner]\nhidraw=" + scanner.path().string() + "\n");
    const std::string command = "QUILLNET_DEVICE_ROOT='" + root.path().string() + "' '" +
                                (test::buildBinDir() / "quillnet-device").string() +
                                "' --watch 2 2>/dev/null";
    FILE* tool = ::popen(command.c_str(), "r");
    ASSERT_NE(tool, nullptr);
    // Scans are read once the tool has switched the trigger on.
    std::string output;
    char line[512];
    while (output.find("waiting") == std::string::npos && std::fgets(line, sizeof line, tool)) {
        output += line;
    }
    ASSERT_TRUE(scanner.plug());
    scanner.write(test::hidReport("4006381333931", "]E0") +
                  test::hidReport(std::string("A") + '\x1D' + "B"));
    while (std::size_t n = std::fread(line, 1, sizeof line, tool))
        output.append(line, n);
    EXPECT_EQ(::pclose(tool), 0);
    EXPECT_NE(output.find("\nhidpos ]E0: 4006381333931\nhidpos: A\\x1DB\n"), std::string::npos)
        << output;
}

}  // namespace
}  // namespace qn::sim
