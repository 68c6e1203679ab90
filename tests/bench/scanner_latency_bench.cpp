// What an operator feels of a keyboard-mode scanner: from the last key event of a decode (its
// Enter) being written to the scanner's device to the edited bytes at a loopback host, through
// the real parts: the reader library reading a FIFO of input_event records through its keymap,
// "WM_DECODEDATA", decode handling, the telnet transport. 1,000 scans; the median and the 99th
// percentile are reported as counters.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "tests/scan/vt_scan_rig.h"
#include "tests/simreader/scanner_script.h"

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

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void KeyboardScannerLatency(benchmark::State& state) {
    qn::test::TempDir scannerDir;
    const auto fifo = scannerDir / "scanner";
    ::mkfifo(fifo.c_str(), 0600);
    VtScanRig rig("[reader]\ntype=0x25\nactive=0x27\ntrigger=1\n[scanner]\nevdev=" + fifo.string() +
                  "\n");
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
    // The scanner plugs in once the reader has its end open.
    int scanner = -1;
    for (int tries = 0; tries < 1000 && scanner < 0; ++tries) {
        scanner = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (scanner < 0) std::this_thread::sleep_for(milliseconds(5));
    }
    if (scanner < 0) {
        state.SkipWithError("the reader never opened the scanner");
        return;
    }
    ::fcntl(scanner, F_SETFL, 0);

    const std::string barcode = "0123456789012";
    std::string body;
    for (char digit : barcode)
        body += std::string(1, digit) + " ";
    const std::string keys = qn::test::eventBytes(qn::test::keyScript(body));
    const std::string enter = qn::test::eventBytes(qn::test::keyScript("ENTER"));
    const std::size_t perScan = 5 + barcode.size() + 2;

    std::vector<double> hostMicros;
    hostMicros.reserve(kScans);
    std::size_t expected = 0;
    for (auto _ : state) {
        // The scan's keys, given the time a scanner takes to type them; then its Enter.
        if (!writeAll(scanner, keys)) break;
        std::this_thread::sleep_for(milliseconds(2));
        const auto lastKey = steady_clock::now();
        if (!writeAll(scanner, enter) || !rig.handleNextDecode()) {
            state.SkipWithError("a scan was not delivered");
            break;
        }
        expected += perScan;
        rig.host.waitForBytes(expected);
        const auto received = steady_clock::now();
        const double micros = duration<double, std::micro>(received - lastKey).count();
        hostMicros.push_back(micros);
        state.SetIterationTime(micros / 1e6);
    }
    ::close(scanner);
    if (rig.host.received().size() != expected) state.SkipWithError("bytes went missing");
    state.counters["host_median_us"] = percentile(hostMicros, 0.5);
    state.counters["host_p99_us"] = percentile(hostMicros, 0.99);
    state.counters["host_max_us"] = percentile(hostMicros, 1.0);
    state.counters["scans"] = static_cast<double>(hostMicros.size());
}
BENCHMARK(KeyboardScannerLatency)
    ->Iterations(kScans)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
