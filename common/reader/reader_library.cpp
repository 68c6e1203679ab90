#include "common/reader/reader_library.h"

#include <utility>

namespace qn::reader {

namespace {

template <std::size_t... I>
int callWithPointers(void* function, char mode, std::int32_t* const* pointers,
                     std::index_sequence<I...>) {
    using Fn = int (*)(char, decltype((void)I, static_cast<int*>(nullptr))...);
    return reinterpret_cast<Fn>(function)(mode, pointers[I]...);
}

template <std::size_t N>
int callN(void* function, char mode, std::int32_t* const* pointers) {
    return callWithPointers(function, mode, pointers, std::make_index_sequence<N>{});
}

using Caller = int (*)(void*, char, std::int32_t* const*);

template <std::size_t... N>
constexpr std::array<Caller, sizeof...(N)> makeCallers(std::index_sequence<N...>) {
    return {&callN<N>...};
}

// One caller per pointer count 0..kMaxEnginePointers, each with the exact C prototype.
constexpr auto kCallers = makeCallers(std::make_index_sequence<kMaxEnginePointers + 1>{});

int postToQueue(void* target, const char* messageName, std::uintptr_t wParam) {
    if (target == nullptr || messageName == nullptr) return 0;
    static_cast<platform::MessageQueue*>(target)->post(platform::registerWindowMessage(messageName),
                                                       wParam);
    return 1;
}

}  // namespace

int callEngineOperation(const EngineOperation& op, void* function, char mode,
                        std::int32_t* values) {
    if (function == nullptr) return 0;
    std::array<std::int32_t*, kMaxEnginePointers> pointers{};
    int next = 0;
    for (int i = 0; i < op.values; ++i) {
        if (i == op.nullPointerAfter) pointers[next++] = nullptr;
        pointers[next++] = values + i;
    }
    if (op.nullPointerAfter == op.values) pointers[next++] = nullptr;
    return kCallers[static_cast<std::size_t>(next)](function, mode, pointers.data());
}

std::string_view initReaderMessage(int result) {
    switch (result) {
        case 1:
            return {};
        case -51:
            return "Reader is already initialized!!";
        case -102:
            return "Failed to initialize the specific reader!!";
        case -103:
            return "Failed to initialize both barcode reader and RFID reader!!";
        case -111:
            return "Failed to initialize the barcode reader!!";
        case -112:
            return "Failed to initialize the RFID reader!!";
        case -113:
            return "Failed to initialize readers!!";
        case -133:
            return "Cannot find reader!!";
        default:
            return "Failed to initialize reader, Unkown Error!!";
    }
}

ReaderLibrary::ReaderLibrary(platform::Services& services) : services_(services) {}

ReaderLibrary::~ReaderLibrary() {
    if (ops_.RegisterDecodeTarget != nullptr) ops_.RegisterDecodeTarget(nullptr, nullptr);
}

bool ReaderLibrary::load() {
    library_ = services_.libraries.load(services_.deviceRoot / kReaderLibraryFile);
    if (library_ == nullptr) {
        services_.messages.show("Can't find the dll file !!");
        return false;
    }
    const platform::LoadedLibrary& lib = *library_;
    auto bind = [&lib](auto& slot, const char* name) {
        slot = platform::bindOperation<std::remove_reference_t<decltype(slot)>>(lib, name);
    };
    bind(ops_.InitReader, "InitReader");
    bind(ops_.InitReaderEx, "InitReaderEx");
    bind(ops_.GetReaderType, "GetReaderType");
    bind(ops_.GetActiveDevice, "GetActiveDevice");
    bind(ops_.SetActiveDevice, "SetActiveDevice");
    bind(ops_.SetTriggerKey, "SetTriggerKey");
    bind(ops_.GetTriggerKeyStatus, "GetTriggerKeyStatus");
    bind(ops_.HaltReader, "HaltReader");
    bind(ops_.GetOutputRecord, "GetOutputRecord");
    bind(ops_.GetDecodeData, "GetDecodeData");
    bind(ops_.GetDecodeRfidUID, "GetDecodeRfidUID");
    bind(ops_.GetDecodeRfidData, "GetDecodeRfidData");
    bind(ops_.GetDllDefaultSettings, "GetDllDefaultSettings");
    bind(ops_.ResetReaderToDefault, "ResetReaderToDefault");
    bind(ops_.GetDllVer, "GetDllVer");
    bind(ops_.NotificationSettings, "NotificationSettings");
    bind(ops_.RfidSettings, "RfidSettings");
    bind(ops_.GetReaderSettings, "GetReaderSettings");
    bind(ops_.SetReaderSettings, "SetReaderSettings");
    bind(ops_.GetDecodeType, "GetDecodeType");
    bind(ops_.DataOutputSettings, "DataOutputSettings");
    bind(ops_.ReadRfidData, "ReadRfidData");
    bind(ops_.Beeper, "Beeper");
    bind(ops_.RegisterDecodeTarget, "RegisterDecodeTarget");
    for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
        ops_.engine[i] = lib.symbol(std::string(kEngineOperations[i].name).c_str());
    }
    // Without InitReader the library is of no use: treat it as not found.
    if (ops_.InitReader == nullptr) {
        ops_ = {};
        library_.reset();
        services_.messages.show("Can't find the dll file !!");
        return false;
    }
    return true;
}

void ReaderLibrary::initialise() {
    if (ops_.InitReader == nullptr || readerInitialised_) return;
    int result = ops_.InitReader();
    if (result == 1) {
        readerInitialised_ = true;
    } else {
        services_.messages.show(initReaderMessage(result));
    }
    readerType_ = ops_.GetReaderType ? static_cast<std::uint32_t>(ops_.GetReaderType()) : 0;
    activeDevices_ = ops_.GetActiveDevice ? static_cast<std::uint32_t>(ops_.GetActiveDevice()) : 0;
    if (ops_.RegisterDecodeTarget != nullptr) {
        ops_.RegisterDecodeTarget(&postToQueue, &services_.queue);
    }
}

void ReaderLibrary::readMasks() {
    if (ops_.GetReaderType != nullptr) {
        readerType_ = static_cast<std::uint32_t>(ops_.GetReaderType());
    }
    if (ops_.GetActiveDevice != nullptr) {
        activeDevices_ = static_cast<std::uint32_t>(ops_.GetActiveDevice());
    }
}

void ReaderLibrary::setActiveDevices(std::uint32_t mask) {
    activeDevices_ = mask;
    if (ops_.SetActiveDevice != nullptr) ops_.SetActiveDevice(static_cast<int>(mask));
}

void ReaderLibrary::halt() {
    if (!readerInitialised_) return;
    int result = ops_.HaltReader ? ops_.HaltReader(255) : 0;
    if (result != 1) services_.messages.show("Failed to Halt Reader!!");
    readerInitialised_ = false;
    readerType_ = 0;
    activeDevices_ = 0;
}

std::unique_ptr<platform::LoadedLibrary> ReaderLibrary::releaseLibrary() {
    // Nothing may post into a queue that outlives the binding.
    if (ops_.RegisterDecodeTarget != nullptr) ops_.RegisterDecodeTarget(nullptr, nullptr);
    ops_ = {};
    return std::move(library_);
}

std::string ReaderLibrary::versionText() const {
    if (ops_.GetDllVer == nullptr) return {};
    char buffer[100] = {};
    ops_.GetDllVer(buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

void ReaderLibrary::setTriggerKey(int on) const {
    if (ops_.SetTriggerKey != nullptr) ops_.SetTriggerKey(on);
}

}  // namespace qn::reader
