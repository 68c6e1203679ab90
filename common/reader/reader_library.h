#pragma once
// The reader library ScanSvc_CE.so: loaded from the device root at start-up, every operation
// bound by name (an unresolved one stays null and is skipped by its callers).

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/reader/engine_operations.h"
#include "common/reader/reader_abi.h"
#include "platform/services.h"

namespace qn::reader {

inline constexpr const char* kReaderLibraryFile = "ScanSvc_CE.so";
inline constexpr const char* kDecodeMessageName = "WM_DECODEDATA";

struct ReaderOperations {
    QnInitReaderFn InitReader = nullptr;
    QnInitReaderExFn InitReaderEx = nullptr;
    QnGetReaderTypeFn GetReaderType = nullptr;
    QnGetActiveDeviceFn GetActiveDevice = nullptr;
    QnSetActiveDeviceFn SetActiveDevice = nullptr;
    QnSetTriggerKeyFn SetTriggerKey = nullptr;
    QnGetTriggerKeyStatusFn GetTriggerKeyStatus = nullptr;
    QnHaltReaderFn HaltReader = nullptr;
    QnGetOutputRecordFn GetOutputRecord = nullptr;
    QnGetDecodeDataFn GetDecodeData = nullptr;
    QnGetDecodeRfidFn GetDecodeRfidUID = nullptr;
    QnGetDecodeRfidFn GetDecodeRfidData = nullptr;
    QnGetDllDefaultSettingsFn GetDllDefaultSettings = nullptr;
    QnResetReaderToDefaultFn ResetReaderToDefault = nullptr;
    QnGetDllVerFn GetDllVer = nullptr;
    QnNotificationSettingsFn NotificationSettings = nullptr;
    QnRfidSettingsFn RfidSettings = nullptr;
    QnGetReaderSettingsFn GetReaderSettings = nullptr;
    QnSetReaderSettingsFn SetReaderSettings = nullptr;
    QnGetDecodeTypeFn GetDecodeType = nullptr;
    QnDataOutputSettingsFn DataOutputSettings = nullptr;
    QnReadRfidDataFn ReadRfidData = nullptr;
    QnBeeperFn Beeper = nullptr;
    QnRegisterDecodeTargetFn RegisterDecodeTarget = nullptr;
    // Per-symbology operations, in the order of kEngineOperations; null when unresolved.
    std::array<void*, kEngineOperations.size()> engine{};
};

// Calls a per-symbology operation with exactly its pointer list: the run of values in order,
// with the null pointer of Symbologies_2D_4507 in its place. values points at op.values ints.
int callEngineOperation(const EngineOperation& op, void* function, char mode, std::int32_t* values);

class ReaderLibrary {
  public:
    explicit ReaderLibrary(platform::Services& services);
    ~ReaderLibrary();
    ReaderLibrary(const ReaderLibrary&) = delete;
    ReaderLibrary& operator=(const ReaderLibrary&) = delete;

    // Loads the library from the device root and binds every operation. On failure shows
    // "Can't find the dll file !!" and returns false. Fails too when InitReader is missing.
    bool load();
    bool loaded() const { return library_ != nullptr; }

    // InitReader once per process, its result message, then the two masks. Also registers the
    // program's message queue as the target of "WM_DECODEDATA".
    void initialise();
    // At quit: HaltReader(255) when initialised; clears the flag and both masks.
    void halt();
    // Hands the library over to be freed (the device layer frees it at exit); ops are cleared.
    std::unique_ptr<platform::LoadedLibrary> releaseLibrary();

    const ReaderOperations& ops() const { return ops_; }

    // Engine operation by its index in kEngineOperations (null when unresolved).
    void* engineOperation(std::size_t index) const { return ops_.engine[index]; }

    // Both masks read again where the library gives them; an unresolved operation leaves the
    // mask last read.
    void readMasks();
    // The active devices switched: kept here and handed to SetActiveDevice when resolved.
    void setActiveDevices(std::uint32_t mask);

    std::uint32_t readerType() const { return readerType_; }
    std::uint32_t activeDevices() const { return activeDevices_; }
    bool readerInitialised() const { return readerInitialised_; }
    // The version text of GetDllVer, empty without it.
    std::string versionText() const;

    // SetTriggerKey when resolved; both threads call it.
    void setTriggerKey(int on) const;

  private:
    platform::Services& services_;
    std::unique_ptr<platform::LoadedLibrary> library_;
    ReaderOperations ops_;
    std::uint32_t readerType_ = 0;
    std::uint32_t activeDevices_ = 0;
    bool readerInitialised_ = false;
};

// The text shown for an InitReader result other than 1; empty for 1.
std::string_view initReaderMessage(int result);

}  // namespace qn::reader
