#pragma once
// The handheld's services as most tests want them: every one a recording double, the registry
// given as INI text, and a device root that exists only in the fake library loader.

#include <chrono>
#include <filesystem>
#include <string_view>
#include <thread>

#include "platform/services.h"

namespace qn::test {

struct FakeServices {
    explicit FakeServices(std::string_view registryText = "",
                          std::filesystem::path deviceRoot = "/dev-root")
        : registry(registryText),
          services{registry, loader, messages, queue, clock, sound, std::move(deviceRoot)} {}

    platform::MemoryRegistry registry;
    platform::FakeLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services;
};

// Waits for a condition another thread brings about.
template <class Predicate>
bool eventually(Predicate predicate,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace qn::test
