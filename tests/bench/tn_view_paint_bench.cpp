// Painting the 5250 view: a full 24 × 80 screen of mixed runs (every display kind, a run change
// every few cells) repainted, as a host that rewrites the screen continuously causes it. Runs
// under Qt's offscreen platform against a loopback host.

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "tests/support/loopback_host.h"
#include "tests/tn5250/tn_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/tn_application.h"

namespace {

using namespace qn;
using qn::tn::test::Bytes;

// Rows of runs of 1 to 9 cells, cycling through normal, reverse, underline, reverse and
// underline, and non-display.
Bytes mixedScreen() {
    const std::uint8_t kinds[] = {0x20, 0x21, 0x24, 0x25, 0x27};
    Bytes body{0x04, 0x40, 0x04, 0x11, 0x00, 0x08};
    for (int row = 1; row <= 24; ++row) {
        body.insert(body.end(), {0x11, std::uint8_t(row), 1});
        int column = 1;
        for (int run = 0; column < 80; ++run) {
            body.push_back(kinds[(row + run) % 5]);
            const int cells = 1 + (row * 7 + run * 3) % 9;
            for (int i = 0; i < cells && ++column < 80; ++i)
                body.push_back(std::uint8_t(0xC1 + (column % 9)));
            ++column;
        }
    }
    return qn::tn::test::record(body);
}

void BM_PaintMixedScreen(benchmark::State& state) {
    using namespace qn::ui::test_support;
    qn::test::TempDir root;
    qn::test::TempDir home;
    UiServices s(prepareRoot(root.path(), true),
                 "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\nName=KX2CE\n");
    const bool large = state.range(0) == 2;
    ui::TnApplication app(
        s.services, s.queue, nullptr,
        {home.path(), large ? QSize(480, 640) : QSize(240, 320), uniqueInstanceName()});
    if (app.start().has_value()) {
        state.SkipWithError("no start");
        return;
    }
    qn::test::LoopbackHost host;
    {
        std::lock_guard lock(app.program()->sessionLock());
        reader::storeText(app.program()->session().hostAddress, "127.0.0.1");
        app.program()->session().telnetPort.set(host.port());
    }
    app.program()->transport().connectSession();
    if (!host.waitForClient()) {
        state.SkipWithError("no connection");
        return;
    }
    host.send(mixedScreen());
    eventually([&] {
        std::lock_guard lock(app.program()->sessionLock());
        return app.program()->screen().charAt(23, 2) != 0;
    });
    settle();
    QWidget* viewport = app.frame()->view().viewport();
    for (auto _ : state)
        viewport->repaint();
    state.counters["runs"] = app.frame()->view().lastPaintTextOutputs();
    app.finish();
}
BENCHMARK(BM_PaintMixedScreen)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QT_STYLE_OVERRIDE", "Fusion", 1);
    ::setenv("QT_SCALE_FACTOR", "1", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
