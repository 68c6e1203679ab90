// The 5250 program's final effects: records to the socket, the alarm as the error sound and
// the error vibration read from the session.

#include "tn5250/input/tn_program_host.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/library.h"
#include "tests/support/fake_services.h"

namespace qn::tn {
namespace {

struct Socket final : telnet::ByteSender {
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t> sent;
};

int setVibratorPower(int) {
    return 1;
}

TEST(ProgramHost, AlarmPlaysTheErrorSoundThenVibrates) {
    const struct {
        int beeper, vibrator;
        std::vector<std::string> sounds;
        std::vector<std::chrono::milliseconds> sleeps;
    } cases[] = {
        {2, 3, {"stop", "play Hwandsw.wav"}, {std::chrono::milliseconds(750)}},
        {6, 0, {"stop", "play VoicBeep.wav"}, {}},
        {0, 1, {"stop"}, {std::chrono::milliseconds(250)}},
    };
    for (const auto& c : cases) {
        test::FakeServices fake("[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n");
        fake.loader.add("/dev-root/KX2CE_SYS.so",
                        {{{"SetVibratorPower", platform::symbolAddress(&setVibratorPower)}}});
        device::DeviceLayer device(fake.services);
        device.detectModel();
        TnSession session{};
        session.errorBeeper.set(c.beeper);
        session.errorVibrator.set(c.vibrator);
        std::mutex lock;
        Socket socket;
        TnProgramHost host(socket, device, session, lock);
        host.alarm();
        EXPECT_EQ(fake.sound.events(), c.sounds) << c.beeper << " " << c.vibrator;
        EXPECT_EQ(fake.clock.sleeps(), c.sleeps) << c.beeper << " " << c.vibrator;
        const std::uint8_t record[] = {0x00, 0x0A, 0xFF, 0xEF};
        host.sendBytes(record);
        EXPECT_EQ(socket.sent, std::vector<std::uint8_t>(std::begin(record), std::end(record)));
    }
}

}  // namespace
}  // namespace qn::tn
