// The settings store against the simulated reader library: what reaches the library is seen in
// its call log, and values written to it come back.

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/test_support.h"
#include "tn5250/settings/tn_document.h"
#include "vt/settings/vt_document.h"

namespace qn {
namespace {

using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;

// A device root of its own holding a copy of the simulated reader with the given type mask.
struct SimDevice {
    explicit SimDevice(const std::string& type) {
        test::writeFile(root / "reader.ini", "[reader]\ntype=" + type + "\n");
        std::filesystem::copy_file(test::buildDeviceRoot() / "ScanSvc_CE.so",
                                   root / "ScanSvc_CE.so");
        if (!library.load()) throw std::runtime_error("simulated reader not loaded");
        library.initialise();
        // The same module again, for the test-only operations.
        handle = ::dlopen((root / "ScanSvc_CE.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        clearLog();
    }
    ~SimDevice() {
        library.halt();
        if (handle != nullptr) ::dlclose(handle);
        if (auto released = library.releaseLibrary()) released->release();
    }
    std::vector<std::string> log() const {
        auto callLog = reinterpret_cast<QnSimCallLogFn>(::dlsym(handle, "QnSimCallLog"));
        std::string text(1 << 16, '\0');
        text.resize(static_cast<std::size_t>(
            std::min<int>(callLog(text.data(), static_cast<int>(text.size())),
                          static_cast<int>(text.size()) - 1)));
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    void clearLog() const {
        reinterpret_cast<QnSimClearCallLogFn>(::dlsym(handle, "QnSimClearCallLog"))();
    }

    test::TempDir root;
    platform::MemoryRegistry registry{""};
    platform::DlLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services{registry, loader, messages, queue, clock, sound, root.path()};
    reader::ReaderLibrary library{services};
    void* handle = nullptr;
};

std::vector<std::string> expectedLog(char mode, std::vector<std::uint32_t> groups) {
    std::vector<std::string> lines{"NotificationSettings w"};
    for (std::uint32_t group : groups) {
        for (const auto& op : reader::kEngineOperations) {
            if (op.group == group) lines.push_back(std::string(op.name) + " " + mode);
        }
    }
    return lines;
}

TEST(SettingsWithSimulatedReader, DefaultsReadOnlyThePresentGroups) {
    SimDevice device("0x41");
    vt::VtSession session;
    vt::VtDocument document(session, device.library, device.messages, device.root.path());
    document.setDefaultSettings();
    std::vector<std::string> expected = expectedLog('r', {0x01, 0x40});
    expected.insert(expected.begin(), "GetDllDefaultSettings");
    EXPECT_EQ(device.log(), expected);
    EXPECT_THAT(device.messages.texts(), IsEmpty());
    EXPECT_NE(session.settings.libraryDefaults[0], 0);
}

TEST(SettingsWithSimulatedReader, WrittenValuesComeBackAndRfidFollowsItsBit) {
    SimDevice device("0x114");
    tn::TnSessionState state;
    tn::TnDocument document(state, device.library, device.messages, device.root.path());
    const auto* op = reader::findEngineOperation("Code39_2D");
    auto run = reader::engineRun(state.settings.engine, *op, reader::Program::Tn);
    for (std::size_t k = 0; k < run.size(); ++k)
        run[k].set(static_cast<std::int32_t>(500 + k));
    state.settings.rfid.rfidMaximumLength.set(33);

    document.syncEngineSettings('w');
    std::vector<std::string> expected = expectedLog('w', {0x04});
    expected.insert(expected.begin() + 1, "RfidSettings w");
    EXPECT_EQ(device.log(), expected);

    state.settings = tn::TnSession{};
    document.syncEngineSettings('r');
    for (std::size_t k = 0; k < run.size(); ++k)
        EXPECT_EQ(run[k].get(), 500 + k);
    EXPECT_EQ(state.settings.rfid.rfidMaximumLength.get(), 33);
}

TEST(SettingsWithSimulatedReader, NoRfidBitLeavesRfidOutputAlone) {
    SimDevice device("0x80");
    vt::VtSession session;
    session.settings.rfid.rfidDecodeTimeout.set(-9);
    vt::VtDocument document(session, device.library, device.messages, device.root.path());
    document.syncEngineSettings('r');
    EXPECT_THAT(device.log(), Not(Contains("RfidSettings r")));
    EXPECT_EQ(session.settings.rfid.rfidDecodeTimeout.get(), -9);
}

}  // namespace
}  // namespace qn
