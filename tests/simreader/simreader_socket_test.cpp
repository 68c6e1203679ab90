// The simulated reader's receiving threads: the scan socket (bad clients included), the serial
// scanner, and unloading the library while they run.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/reader/reader_abi.h"
#include "plugins/simreader/scan_protocol.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/test_support.h"
#include "tools/quillnet-scan/scan_client.h"

namespace qn::sim {
namespace {

using namespace std::chrono_literals;
using scan::ReplyStatus;

struct Recorder {
    static int post(void* target, const char* /*name*/, std::uintptr_t wParam) {
        auto* self = static_cast<Recorder*>(target);
        {
            std::lock_guard lock(self->mutex);
            self->posts.push_back(wParam);
        }
        self->posted.notify_all();
        return 1;
    }
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return posted.wait_for(lock, timeout, [&] { return posts.size() >= count; });
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return posts.size();
    }
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<std::uintptr_t> posts;
};

// A connected client socket, closed when it goes.
struct Client {
    explicit Client(const std::string& path) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd); }
    void send(const void* data, std::size_t size) {
        [[maybe_unused]] auto sent = ::send(fd, data, size, MSG_NOSIGNAL);
    }
    // The reply, or nullopt when the connection ended without one in time.
    std::optional<scan::ScanReply> reply(std::chrono::milliseconds timeout = 5000ms) {
        std::vector<std::uint8_t> received;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            auto parsed = scan::parseReply(received);
            if (parsed.status == scan::ParseStatus::Complete) return parsed.reply;
            if (parsed.status == scan::ParseStatus::Invalid) return std::nullopt;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            std::uint8_t chunk[256];
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return std::nullopt;
            received.insert(received.end(), chunk, chunk + n);
        }
        return std::nullopt;
    }
    int fd = -1;
    bool connected = false;
};

class SimReaderSocketTest : public ::testing::Test {
  protected:
    void SetUp() override { ::unsetenv("QUILLNET_SCAN_SOCKET"); }

    void load(const std::string& readerIni = "[reader]\ntrigger=1\n") {
        test::writeFile(root / "reader.ini", readerIni);
        plugin.emplace(test::copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so"));
        init = plugin->get<QnInitReaderFn>("InitReader");
        halt = plugin->get<QnHaltReaderFn>("HaltReader");
        registerTarget = plugin->get<QnRegisterDecodeTargetFn>("RegisterDecodeTarget");
        outputRecord = plugin->get<QnGetOutputRecordFn>("GetOutputRecord");
        registerTarget(&Recorder::post, &recorder);
    }

    std::string socketPath() const { return (root / "scan.sock").string(); }

    scan::ClientResult scanBarcode(const std::string& data) {
        return scan::sendScan(socketPath(), {scan::DecodeKind::Barcode, data, {}}, 10s);
    }

    std::string fetch() {
        unsigned char buffer[260] = {};
        int length = outputRecord(7, buffer, sizeof buffer);
        return std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(length));
    }

    test::TempDir root;
    Recorder recorder;
    std::optional<test::Plugin> plugin;
    QnInitReaderFn init = nullptr;
    QnHaltReaderFn halt = nullptr;
    QnRegisterDecodeTargetFn registerTarget = nullptr;
    QnGetOutputRecordFn outputRecord = nullptr;
};

bool isSocket(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

TEST_F(SimReaderSocketTest, ListensFromInitReaderToHaltReader) {
    load();
    EXPECT_FALSE(isSocket(socketPath()));
    EXPECT_EQ(scanBarcode("x").outcome, scan::ClientResult::Outcome::NoReader);
    ASSERT_EQ(init(), 1);
    EXPECT_TRUE(isSocket(socketPath()));
    char path[200];
    plugin->get<QnSimSocketPathFn>("QnSimSocketPath")(path, sizeof path);
    EXPECT_EQ(path, socketPath());

    auto result = scanBarcode("4006381333931");
    ASSERT_EQ(result.outcome, scan::ClientResult::Outcome::Replied) << result.error;
    EXPECT_EQ(result.reply.status, ReplyStatus::Delivered);
    ASSERT_TRUE(recorder.waitForCount(1, 5s));
    EXPECT_EQ(fetch(), "4006381333931");

    EXPECT_EQ(halt(255), 1);
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_EQ(scanBarcode("x").outcome, scan::ClientResult::Outcome::NoReader);
}

TEST_F(SimReaderSocketTest, TheSocketPathCanComeFromTheEnvironment) {
    test::TempDir elsewhere;
    const std::string path = (elsewhere / "reader.sock").string();
    ::setenv("QUILLNET_SCAN_SOCKET", path.c_str(), 1);
    load();
    init();
    ::unsetenv("QUILLNET_SCAN_SOCKET");
    EXPECT_TRUE(isSocket(path));
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    auto result = scan::sendScan(path, {scan::DecodeKind::Barcode, "env", {}}, 5s);
    EXPECT_EQ(result.reply.status, ReplyStatus::Delivered);
    halt(255);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SimReaderSocketTest, RefusalsReachTheClient) {
    load("[reader]\ntrigger=0\nactive=0x07\n");
    init();
    EXPECT_EQ(scanBarcode("x").reply.status, ReplyStatus::TriggerOff);
    plugin->get<QnSetTriggerKeyFn>("SetTriggerKey")(1);
    auto rfid = scan::sendScan(socketPath(), {scan::DecodeKind::Rfid, "\x01\x02", {}}, 5s);
    EXPECT_EQ(rfid.reply.status, ReplyStatus::DeviceInactive);
    EXPECT_FALSE(rfid.reply.text.empty());
    registerTarget(nullptr, nullptr);
    EXPECT_EQ(scanBarcode("x").reply.status, ReplyStatus::NoTarget);
    halt(255);
}

TEST_F(SimReaderSocketTest, GarbageGetsAnErrorReplyAndTheListenerGoesOn) {
    load();
    init();
    {
        Client client(socketPath());
        ASSERT_TRUE(client.connected);
        client.send("GET / HTTP/1.1\r\n\r\n", 18);
        auto reply = client.reply();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    }
    EXPECT_EQ(scanBarcode("after garbage").reply.status, ReplyStatus::Delivered);
    halt(255);
}

TEST_F(SimReaderSocketTest, TenMegabytesAreRefusedWithoutBlockingTheListener) {
    load();
    init();
    {
        Client client(socketPath());
        ASSERT_TRUE(client.connected);
        // A header that claims 10 MB, then the 10 MB from another thread.
        std::vector<std::uint8_t> header =
            scan::encodeRequest({scan::DecodeKind::Barcode, "x", {}});
        header.resize(scan::kRequestHeaderSize);
        const std::uint32_t huge = 10u << 20;
        std::memcpy(header.data() + 8, &huge, 4);
        client.send(header.data(), header.size());
        std::thread flood([fd = client.fd] {
            std::vector<char> junk(1 << 20, 'j');
            for (int i = 0; i < 10; ++i) {
                if (::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL) < 0) break;
            }
        });
        auto reply = client.reply();
        ::shutdown(client.fd, SHUT_RDWR);
        flood.join();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scanBarcode("after flood").reply.status, ReplyStatus::Delivered);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    halt(255);
}

TEST_F(SimReaderSocketTest, ASilentClientIsDroppedInTime) {
    load();
    init();
    Client silent(socketPath());
    ASSERT_TRUE(silent.connected);
    silent.send("QNSQ", 4);  // a valid start, then nothing
    auto start = std::chrono::steady_clock::now();
    auto result = scanBarcode("behind a silent client");
    EXPECT_EQ(result.reply.status, ReplyStatus::Delivered);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    auto reply = silent.reply(1000ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    halt(255);
}

TEST_F(SimReaderSocketTest, AClientThatLeavesHalfwayIsForgotten) {
    load();
    init();
    {
        Client client(socketPath());
        std::vector<std::uint8_t> bytes =
            scan::encodeRequest({scan::DecodeKind::Barcode, "half", {}});
        client.send(bytes.data(), bytes.size() - 2);
    }
    EXPECT_EQ(scanBarcode("whole").reply.status, ReplyStatus::Delivered);
    ASSERT_TRUE(recorder.waitForCount(1, 5s));
    EXPECT_EQ(fetch(), "whole");
    halt(255);
}

TEST_F(SimReaderSocketTest, HaltReaderEndsAWaitingDelivery) {
    load("[reader]\ntrigger=1\nfetch_wait_ms=10000\n");
    init();
    ASSERT_EQ(scanBarcode("unfetched").reply.status, ReplyStatus::Delivered);
    std::optional<scan::ClientResult> second;
    std::thread client([&] { second = scanBarcode("waiting"); });
    std::this_thread::sleep_for(200ms);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(halt(255), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    client.join();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->reply.status, ReplyStatus::ShuttingDown);
}

TEST_F(SimReaderSocketTest, AStaleSocketFileIsReplacedButOtherFilesAreLeftAlone) {
    load();
    {
        // A socket file nobody listens on, as a crashed reader leaves it.
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    init();
    EXPECT_EQ(scanBarcode("fresh").reply.status, ReplyStatus::Delivered);
    halt(255);

    test::writeFile(socketPath(), "not a socket");
    init();
    EXPECT_EQ(scanBarcode("x").outcome, scan::ClientResult::Outcome::NoReader);
    halt(255);
    EXPECT_EQ(test::readFile(socketPath()), "not a socket");
}

TEST_F(SimReaderSocketTest, UnloadingWhileListeningStopsTheThreads) {
    load();
    init();
    Client idle(socketPath());
    ASSERT_TRUE(idle.connected);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(plugin->close(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_EQ(scanBarcode("gone").outcome, scan::ClientResult::Outcome::NoReader);
}

TEST_F(SimReaderSocketTest, UnloadingWithoutInitReaderIsQuiet) {
    load();
    EXPECT_EQ(plugin->close(), 0);
}

// A pseudo-terminal stands in for a USB-serial scanner.
class SerialScanner {
  public:
    SerialScanner() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            const char* name = ::ptsname(master_);
            if (name != nullptr) path_ = name;
        }
    }
    ~SerialScanner() { close(); }
    const std::string& path() const { return path_; }
    void write(const std::string& bytes) {
        [[maybe_unused]] auto written = ::write(master_, bytes.data(), bytes.size());
    }
    void close() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string path_;
};

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

TEST_F(SimReaderSocketTest, EachLineFromTheSerialScannerIsABarcode) {
    SerialScanner scanner;
    ASSERT_FALSE(scanner.path().empty());
    load("[reader]\ntrigger=1\nbaud=115200\nserial=" + scanner.path() + "\n");
    init();
    auto serialOpen = plugin->get<QnSimSerialOpenFn>("QnSimSerialOpen");
    ASSERT_TRUE(waitUntil([&] { return serialOpen() == 1; }, 5s));

    scanner.write("4006381333931\r\n");
    ASSERT_TRUE(recorder.waitForCount(1, 5s));
    EXPECT_EQ(fetch(), "4006381333931");

    // A line past the longest barcode is dropped whole; the next line is read as usual.
    scanner.write(std::string(5000, 'Z') + "\r" + "SECOND\n");
    ASSERT_TRUE(recorder.waitForCount(2, 5s));
    EXPECT_EQ(fetch(), "SECOND");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.count(), 2u);

    // Unplugged: the reader keeps running and halts promptly.
    scanner.close();
    EXPECT_TRUE(waitUntil([&] { return serialOpen() == 0; }, 5s));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(halt(255), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(SimReaderSocketTest, AMissingSerialDeviceIsNoError) {
    load("[reader]\ntrigger=1\nserial=/nonexistent/ttyUSB9\n");
    EXPECT_EQ(init(), 1);
    EXPECT_EQ(scanBarcode("socket still works").reply.status, ReplyStatus::Delivered);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(halt(255), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace qn::sim
