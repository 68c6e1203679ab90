#include "platform/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace qn::platform {
namespace {

std::vector<unsigned char> wave(unsigned channels, unsigned rate, unsigned bits,
                                std::size_t dataBytes, const char* format = "WAVE") {
    std::vector<unsigned char> out;
    auto put = [&out](const void* p, std::size_t n) {
        auto b = static_cast<const unsigned char*>(p);
        out.insert(out.end(), b, b + n);
    };
    auto u32 = [&](std::uint32_t v) { put(&v, 4); };
    auto u16 = [&](std::uint16_t v) { put(&v, 2); };
    put("RIFF", 4);
    u32(static_cast<std::uint32_t>(36 + dataBytes));
    put(format, 4);
    put("fmt ", 4);
    u32(16);
    u16(1);
    u16(static_cast<std::uint16_t>(channels));
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(static_cast<std::uint16_t>(channels * bits / 8));
    u16(static_cast<std::uint16_t>(bits));
    put("data", 4);
    u32(static_cast<std::uint32_t>(dataBytes));
    out.resize(out.size() + dataBytes, 0x10);
    return out;
}

TEST(ParseWave, AcceptsPcmAndRejectsTheRest) {
    auto good = wave(1, 22050, 16, 400);
    auto sound = parseWave(good.data(), good.size());
    ASSERT_TRUE(sound.has_value());
    EXPECT_EQ(sound->channels, 1u);
    EXPECT_EQ(sound->sampleRate, 22050u);
    EXPECT_EQ(sound->frames.size(), 400u);

    auto notWave = wave(1, 22050, 16, 10, "AVI ");
    EXPECT_FALSE(parseWave(notWave.data(), notWave.size()));
    auto threeChannels = wave(3, 22050, 16, 10);
    EXPECT_FALSE(parseWave(threeChannels.data(), threeChannels.size()));
    auto oddBits = wave(1, 22050, 12, 10);
    EXPECT_FALSE(parseWave(oddBits.data(), oddBits.size()));
    // A data chunk that claims more than the file holds.
    auto truncated = good;
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(parseWave(truncated.data(), truncated.size()));
    for (std::size_t n = 0; n < 44; ++n)
        EXPECT_FALSE(parseWave(good.data(), n)) << n;
}

TEST(AlsaSoundPlayer, NeverBlocksTheCaller) {
    char pattern[] = "/tmp/qn-sound-XXXXXX";
    std::filesystem::path dir = mkdtemp(pattern);
    auto file = dir / "tone.wav";
    auto bytes = wave(1, 8000, 16, 16000);  // one second
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    auto start = std::chrono::steady_clock::now();
    {
        AlsaSoundPlayer player;
        player.playAsync(file);
        player.playAsync(dir / "missing.wav");
        player.playAsync(file);
        player.stop();
    }  // the destructor ends a playing sound too
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(900));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qn::platform
