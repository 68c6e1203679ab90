#pragma once
// The simulated reader behind the C operations of ScanSvc_CE.so: engine values with factory
// defaults, trigger and active devices, the last decode, and the threads that receive decodes
// (the scan socket, and the scanners reader.ini names: serial, keyboard-mode, HID POS).

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/reader/engine_operations.h"
#include "common/reader/reader_abi.h"
#include "plugins/simreader/reader_config.h"
#include "plugins/simreader/scan_protocol.h"
#include "plugins/simreader/scanner_decode.h"

namespace qn::sim {

class ScannerSource;

inline constexpr std::size_t kCallLogEntries = 4096;
inline constexpr int kNotificationValues = 6;

// Where each operation's run of values starts in the library's flat table of engine values.
inline constexpr auto kEngineValueStart = [] {
    std::array<int, reader::kEngineOperations.size() + 1> start{};
    for (std::size_t i = 0; i < reader::kEngineOperations.size(); ++i) {
        start[i + 1] = start[i] + reader::kEngineOperations[i].values;
    }
    return start;
}();
inline constexpr int kEngineValueCount = kEngineValueStart.back();

// Factory value of an operation's value: 1..97, distinct within one operation.
constexpr std::int32_t factoryEngineValue(std::size_t operation, int value) {
    return static_cast<std::int32_t>((operation * 11 + static_cast<std::size_t>(value) * 7) % 97 +
                                     1);
}

class SimReader {
  public:
    // The library's one reader, created on the first call; unloading the library stops its
    // threads.
    static SimReader& instance();

    explicit SimReader(std::filesystem::path deviceRoot);
    ~SimReader();
    SimReader(const SimReader&) = delete;
    SimReader& operator=(const SimReader&) = delete;

    int initReader(const char* operation);
    int haltReader(int devices);
    int readerType();
    int activeDevice();
    int setActiveDevice(int mask);
    int setTriggerKey(int on);
    int triggerKeyStatus();
    int decodeType();

    // The last decode's texts; each call copies at most size - 1 bytes and a terminator.
    int barcode(const char* operation, unsigned char* buffer, int size);
    int outputRecord(int kind, unsigned char* buffer, int size);
    int rfidUid(const char* operation, unsigned char* buffer, int size);
    int rfidData(const char* operation, unsigned char* buffer, int size);

    int dllDefaultSettings(unsigned char* block);
    int dataOutputSettings(char mode, unsigned char* block);
    int resetToDefault(int devices);
    int dllVersion(char* buffer, int size);
    int notificationSettings(char mode, std::span<int* const, kNotificationValues> pointers);
    int rfidSettings(char mode, int* showUid, int* showUserData, int* startPosition,
                     int* maximumLength, int* decodeTimeout, unsigned char* block, int blockSize,
                     int* value);
    // pointers holds exactly the operation's pointer list; null pointers are skipped.
    int engineOperation(std::size_t index, char mode, std::span<int* const> pointers);
    int beeper(int sound);
    int unsupported(const char* operation);

    // Later decodes are posted through post(target, ...); a null post stops posting. Returns once
    // no post to the previous target can still happen.
    int registerDecodeTarget(QnPostRegisteredMessage post, void* target);

    // Hands a decode to the program as a trigger pull would: refused while the trigger is off,
    // the device inactive or nobody registered; waits up to fetch_wait for the previous decode
    // to be fetched.
    scan::ScanReply deliver(const scan::ScanRequest& request,
                            ScannerKind source = ScannerKind::Socket, std::string symbology = {});

    std::string callLog() const;
    void clearCallLog();
    std::string socketPath() const;
    bool serialOpen() const;
    // How often a keyboard-mode or HID POS scanner was opened (found, or found again).
    int scannerOpens() const;
    // Where the last decode came from, and its symbology identifier when the scanner sent one.
    std::pair<std::string, std::string> decodeSource() const;
    // Back to the state of a freshly loaded library: threads stopped, reader.ini read again.
    void reset();

  private:
    struct Values {
        std::uint32_t activeDevices = 0;
        bool triggerOn = false;
        bool initialised = false;
        std::array<std::int32_t, kEngineValueCount> engine{};
        std::array<std::int32_t, kNotificationValues> notification{};
        std::array<std::int32_t, 5> rfid{};  // show UID, show data, start, maximum, timeout
        std::array<unsigned char, QN_RFID_LIBRARY_BLOCK_SIZE> rfidBlock{};
        std::int32_t rfidValue = 0;
        std::array<unsigned char, QN_LIBRARY_DEFAULTS_SIZE> outputBlock{};
    };

    // reader.ini read afresh, factory values, masks and trigger as configured.
    void loadFreshStateLocked();
    void loadFactoryValuesLocked();
    void logLocked(std::string entry);
    int fetchLocked(scan::DecodeKind kind, const std::string& text, unsigned char* buffer,
                    int size);

    void startThreads();
    void stopThreads();
    bool openListenSocket();
    void closeListenSocket();
    void listenLoop();
    void serveClient(int client);
    void scannerLoop(std::unique_ptr<ScannerSource> source);
    void postLoop();
    void setScannerOpen(ScannerKind kind, bool open);
    // False when woken for shutdown before the time was up.
    bool sleepUnlessWoken(std::chrono::milliseconds duration) const;

    const std::filesystem::path deviceRoot_;

    mutable std::mutex mutex_;  // guards everything below up to the threads
    std::condition_variable fetched_;
    std::condition_variable queued_;
    std::condition_variable room_;
    ReaderConfig config_;
    Values values_;
    QnPostRegisteredMessage post_ = nullptr;
    void* target_ = nullptr;
    scan::DecodeKind lastKind_ = scan::DecodeKind::Barcode;
    bool haveDecode_ = false;
    bool unfetched_ = false;
    bool stopping_ = false;
    bool serialOpen_ = false;
    int scannerOpens_ = 0;
    ScannerKind lastSource_ = ScannerKind::Socket;
    std::string lastSymbology_;
    std::deque<ScannerDecode> queuedDecodes_;  // read from scanners, not yet posted
    int delivering_ = 0;                       // scanner decodes being posted now
    std::string barcode_;
    std::string rfidUid_;
    std::string rfidData_;
    std::string socketPath_;
    std::deque<std::string> callLog_;

    std::mutex deliverMutex_;    // one decode at a time, from store to post
    std::mutex lifecycleMutex_;  // starting and stopping the threads
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int listenFd_ = -1;
    std::uint64_t listenInode_ = 0;
    std::thread listener_;
    std::vector<std::thread> scanners_;
    std::thread poster_;
};

}  // namespace qn::sim
