// The VT emulator over the four generated streams, fed in 1024-byte receives as the read
// thread does, under each emulation.

#include <benchmark/benchmark.h>

#include <string>

#include "tests/bench/vt_streams.h"
#include "vt/emulator/vt_emulator.h"

namespace {

using namespace qn::vt;

// Replies and device actions go nowhere; they are rare in these streams.
class NullHost : public VtHost {
  public:
    void sendBytes(const std::uint8_t*, std::size_t length) override { sent += length; }
    void playSound(int) override {}
    void vibrate(int) override {}
    void setTriggerKey(int) override {}
    std::uint32_t readerType() const override { return 0x07; }
    void setActiveDevice(std::uint32_t) override {}
    void beep() override {}
    void showCaret(bool) override {}
    std::size_t sent = 0;
};

constexpr std::size_t kChunk = 1024;

const std::string& stream(bench::StreamKind kind) {
    static std::string streams[4];
    std::string& s = streams[static_cast<int>(kind)];
    if (s.empty()) s = bench::makeStream(kind);
    return s;
}

void feedStream(benchmark::State& state, bench::StreamKind kind,
                VtEmulation emulation = VtEmulation::Vt100) {
    const std::string& bytes = stream(kind);
    VtSettings settings{};
    NullHost host;
    VtEmulator emulator(settings, host);
    emulator.setEmulation(emulation);
    emulator.vtReset();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
            emulator.feed(data + at, std::min(kChunk, bytes.size() - at));
        }
        benchmark::DoNotOptimize(emulator.screen().screenChars.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

BENCHMARK_CAPTURE(feedStream, plain, bench::StreamKind::Plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, fullscreen, bench::StreamKind::FullScreen)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, cursor, bench::StreamKind::Cursor)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, linedraw, bench::StreamKind::LineDraw)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, plain_classic, bench::StreamKind::Plain, VtEmulation::Classic)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, fullscreen_classic, bench::StreamKind::FullScreen,
                  VtEmulation::Classic)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, cursor_classic, bench::StreamKind::Cursor, VtEmulation::Classic)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(feedStream, linedraw_classic, bench::StreamKind::LineDraw, VtEmulation::Classic)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
