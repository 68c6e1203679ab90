// What an operator feels of a scan: from the simulated reader posting "WM_DECODEDATA" to the
// edited bytes leaving the session socket, through the real parts (reader library, decode
// handling, telnet transport, a loopback host). 1,000 scans; the median and the 99th percentile
// are reported as counters, for the send returning and for the host having the bytes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/scan/vt_scan_rig.h"

namespace {

using namespace std::chrono;
using qn::test::VtScanRig;

constexpr int kScans = 1000;

double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
    return samples[index];
}

void ScanLatency(benchmark::State& state) {
    VtScanRig rig;
    auto& s = rig.session.settings;
    // A typical edit: a leading-code check, a prefix, a suffix and Enter.
    s.checkLeadingCode = 1;
    qn::reader::storeText(s.leadingCode, "01");
    s.prefixOn = 1;
    qn::reader::storeText(s.prefixCode, "SCAN:");
    s.suffixOn = 1;
    qn::reader::storeText(s.suffixCode, ";");
    s.autoEnter = 1;
    if (!rig.modelFound || !rig.readerLoaded) {
        state.SkipWithError("the device root's plugins did not load");
        return;
    }
    rig.transport.connectSession();
    if (!rig.host.waitForClient() || !rig.transport.connected()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    auto inject = rig.simPlugin->get<QnSimInjectDecodeFn>("QnSimInjectDecode");
    const std::string barcode = "0123456789012";
    const std::size_t perScan = 5 + barcode.size() + 2;

    std::vector<double> sendMicros, receiveMicros;
    sendMicros.reserve(kScans);
    receiveMicros.reserve(kScans);
    std::size_t expected = 0;
    for (auto _ : state) {
        const int status =
            inject(QN_DECODE_BARCODE, reinterpret_cast<const unsigned char*>(barcode.data()),
                   static_cast<int>(barcode.size()), nullptr, 0);
        if (status != QN_SIM_DELIVERED || !rig.handleNextDecode()) {
            state.SkipWithError("a scan was not delivered");
            break;
        }
        expected += perScan;
        rig.host.waitForBytes(expected);
        const auto received = steady_clock::now();
        const auto posted = rig.queue.lastPost();
        const auto sent =
            steady_clock::time_point(steady_clock::duration(rig.lastSendReturned.load()));
        const double toSend = duration<double, std::micro>(sent - posted).count();
        const double toHost = duration<double, std::micro>(received - posted).count();
        sendMicros.push_back(toSend);
        receiveMicros.push_back(toHost);
        state.SetIterationTime(toSend / 1e6);
    }
    if (rig.host.received().size() != expected) state.SkipWithError("bytes went missing");
    state.counters["send_median_us"] = percentile(sendMicros, 0.5);
    state.counters["send_p99_us"] = percentile(sendMicros, 0.99);
    state.counters["host_median_us"] = percentile(receiveMicros, 0.5);
    state.counters["host_p99_us"] = percentile(receiveMicros, 0.99);
    state.counters["scans"] = static_cast<double>(sendMicros.size());
}
BENCHMARK(ScanLatency)->Iterations(kScans)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
