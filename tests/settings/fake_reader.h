#pragma once
// A reader library made of small C functions behind the fake loader: every call is recorded
// with its mode and pointer list; in 'r' mode each operation writes values that tell where
// they came from.

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/reader/reader_library.h"
#include "platform/services.h"

namespace qn::test {

struct Call {
    std::string name;
    char mode = 0;
    std::vector<bool> nullPointers;   // per pointer position
    std::vector<std::int32_t> given;  // values seen in 'w' mode
};

inline std::vector<Call> gCalls;
inline int gReaderType = 0;
inline int gDefaultsResult = 1;

// The value an operation writes in 'r' mode for its k-th value.
constexpr std::int32_t libraryValue(std::size_t op, std::size_t k) {
    return static_cast<std::int32_t>(1000 + op * 100 + k);
}
inline constexpr std::uint8_t kLibraryBlockByte = 0x5A;

inline int recordEngine(std::size_t op, char mode, std::span<int* const> pointers) {
    Call call{std::string(reader::kEngineOperations[op].name), mode, {}, {}};
    std::size_t k = 0;
    for (int* p : pointers) {
        call.nullPointers.push_back(p == nullptr);
        if (p == nullptr) continue;
        if (mode == 'r') *p = libraryValue(op, k);
        if (mode == 'w') call.given.push_back(*p);
        ++k;
    }
    gCalls.push_back(std::move(call));
    return 1;
}

template <std::size_t>
using IntPointer = int*;

template <std::size_t Op, std::size_t... I>
int fakeEngine(char mode, IntPointer<I>... p) {
    std::array<int*, sizeof...(I)> pointers{p...};
    return recordEngine(Op, mode, pointers);
}

template <std::size_t Op, std::size_t... I>
void* engineAddress(std::index_sequence<I...>) {
    return reinterpret_cast<void*>(&fakeEngine<Op, I...>);
}

template <std::size_t... Op>
std::array<void*, sizeof...(Op)> engineAddresses(std::index_sequence<Op...>) {
    return {engineAddress<Op>(
        std::make_index_sequence<reader::kEngineOperations[Op].pointerCount()>{})...};
}

inline int fakeInitReader() {
    return 1;
}
inline int fakeGetReaderType() {
    return gReaderType;
}
inline int fakeGetActiveDevice() {
    return 0x27;
}
inline int fakeGetDllDefaultSettings(unsigned char* block) {
    gCalls.push_back({"GetDllDefaultSettings", 0, {}, {}});
    std::memset(block, kLibraryBlockByte, QN_LIBRARY_DEFAULTS_SIZE);
    return gDefaultsResult;
}
inline int fakeNotificationSettings(char mode, int* a, int* b, int* c, int* d, int* e, int* f) {
    gCalls.push_back({"NotificationSettings", mode, {}, {*a, *b, *c, *d, *e, *f}});
    return 1;
}
inline int fakeRfidSettings(char mode, int* uid, int* userData, int* start, int* length,
                            int* reserved, int* timeout, unsigned char* block, int blockSize,
                            int* value) {
    Call call{"RfidSettings", mode, {reserved == nullptr}, {blockSize}};
    if (mode == 'r') {
        *uid = 7, *userData = 7, *start = 7, *length = 7, *timeout = 7, *value = 7;
        std::memset(block, 0xAB, static_cast<std::size_t>(blockSize));
    }
    gCalls.push_back(std::move(call));
    return 1;
}

// A loaded and initialised reader library of the given type; `omit` names operations that the
// library does not have.
struct FakeReader {
    explicit FakeReader(int readerType, std::set<std::string> omit = {})
        : services{registry, loader, messages, queue, clock, sound, "/device"}, library(services) {
        gCalls.clear();
        gReaderType = readerType;
        gDefaultsResult = 1;
        std::map<std::string, void*> symbols{
            {"InitReader", platform::symbolAddress(&fakeInitReader)},
            {"GetReaderType", platform::symbolAddress(&fakeGetReaderType)},
            {"GetActiveDevice", platform::symbolAddress(&fakeGetActiveDevice)},
            {"GetDllDefaultSettings", platform::symbolAddress(&fakeGetDllDefaultSettings)},
            {"NotificationSettings", platform::symbolAddress(&fakeNotificationSettings)},
            {"RfidSettings", platform::symbolAddress(&fakeRfidSettings)}};
        auto engines =
            engineAddresses(std::make_index_sequence<reader::kEngineOperations.size()>{});
        for (std::size_t i = 0; i < engines.size(); ++i) {
            symbols[std::string(reader::kEngineOperations[i].name)] = engines[i];
        }
        for (const auto& name : omit)
            symbols.erase(name);
        loader.add("/device/ScanSvc_CE.so", {symbols});
        library.load();
        library.initialise();
        gCalls.clear();
    }

    std::vector<std::string> callNames() const {
        std::vector<std::string> names;
        for (const auto& call : gCalls) {
            names.push_back(call.mode == 0 ? call.name : call.name + " " + call.mode);
        }
        return names;
    }

    platform::MemoryRegistry registry{""};
    platform::FakeLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services;
    reader::ReaderLibrary library;
};

}  // namespace qn::test
