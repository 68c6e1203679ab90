// The 5250 interpreter, encoder and field editor: a realistic full-screen Write To Display (24 rows
// of text, 30 input fields) through the telnet layer, the AID record of that screen with every
// field modified, the host's restore of that screen's saved image, and the double-byte encoding
// of a full screen of Japanese fields.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tn5250/codepage/translation.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace {

using namespace qn::tn;
using Bytes = std::vector<std::uint8_t>;

class CountingHost final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sent += bytes.size();
        if (keepLast) last.assign(bytes.begin(), bytes.end());
    }
    void alarm() override {}
    std::size_t sent = 0;
    bool keepLast = false;
    Bytes last;
};

void appendText(Bytes& out, const std::string& text) {
    for (char c : text)
        out.push_back(localToSbcs(0, static_cast<std::uint8_t>(c)));
}

// Clear Unit, Write To Display with a header, a title, 22 rows of captions, 30 input fields
// full of data (two on each of rows 4 to 18) with notes on the rows without fields, the
// function key line and the insert cursor: 1,943 bytes as they arrive on the socket.
Bytes fullScreenRecord() {
    Bytes body{0x04, 0x40, 0x04, 0x11, 0x00, 0x18, 0x01, 0x07,
               0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00};
    auto sba = [&](int row, int column) {
        body.insert(body.end(), {0x11, std::uint8_t(row), std::uint8_t(column)});
    };
    sba(1, 2);
    body.push_back(0x22);
    appendText(body, "ORDER ENTRY - WAREHOUSE 07                                  RF STATION 3");
    for (int row = 2; row <= 23; ++row) {
        sba(row, 2);
        body.push_back(0x20);
        std::string caption = "Line " + std::to_string(row) + " item description";
        while (caption.size() < 37)
            caption += caption.size() % 2 == 0 ? ' ' : '.';
        appendText(body, caption);
        if (row >= 4 && row <= 18) {
            for (int k = 0; k < 2; ++k) {
                sba(row, k == 0 ? 40 : 62);
                body.insert(body.end(),
                            {0x1D, 0x40, std::uint8_t(k == 0 ? 0x00 : 0x07), 0x24, 0x00, 0x10});
                appendText(body, k == 0 ? "A1B2C3D4E5F6G7H8" : "000000000012345");
                body.push_back(0x20);
            }
        } else {
            sba(row, 40);
            body.push_back(0x20);
            appendText(body, "(no entry) ");
        }
    }
    sba(24, 2);
    body.push_back(0x20);
    appendText(body, "F3=Exit   F5=Refresh   F6=Create   F12=Cancel   F24=More keys");
    body.insert(body.end(), {0x13, 0x04, 0x29});
    const std::size_t size = body.size() + 10;
    const std::uint8_t header[] = {std::uint8_t(size >> 8),
                                   std::uint8_t(size),
                                   0x12,
                                   0xA0,
                                   0x00,
                                   0x00,
                                   0x04,
                                   0x00,
                                   0x00,
                                   0x03};
    Bytes wire(std::begin(header), std::end(header));
    for (std::uint8_t b : body) {
        wire.push_back(b);
        if (b == 0xFF) wire.push_back(0xFF);
    }
    wire.insert(wire.end(), {0xFF, 0xEF});
    return wire;
}

struct Terminal {
    explicit Terminal(std::uint8_t language) {
        session->language = language;
        stream.resetScreen();
    }
    std::unique_ptr<TnSession> session = std::make_unique<TnSession>();
    std::unique_ptr<TnScreen> screen = std::make_unique<TnScreen>();
    CountingHost host;
    TnDataStream stream{*screen, *session, host};
    TnTelnetFilter filter{*session, host, stream};
};

// The same bytes received again and again; the full screen's 30 fields must stand after.
void receiveRepeatedly(benchmark::State& state, Terminal& t, const Bytes& wire) {
    for (auto _ : state) {
        t.filter.receive(wire);
        benchmark::DoNotOptimize(t.screen->charAt(3, 40));
    }
    if (t.screen->fields.count() != 30) state.SkipWithError("expected 30 fields");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(wire.size()));
    state.counters["recordBytes"] = double(wire.size());
}

void BM_WriteToDisplayFullScreen(benchmark::State& state) {
    Terminal t(0);
    receiveRepeatedly(state, t, fullScreenRecord());
}
BENCHMARK(BM_WriteToDisplayFullScreen)->Unit(benchmark::kMicrosecond);

void BM_AidRecordAllModified(benchmark::State& state) {
    Terminal t(0);
    t.filter.receive(fullScreenRecord());
    t.filter.receive(Bytes{0x00, 0x0E, 0x12, 0xA0, 0, 0, 4, 0, 0, 3, 0x04, 0x52, 0x00, 0x08});
    for (FieldEntry& field : t.screen->fields.entries()) {
        field.ffw1 |= ffw::kModified;
        for (int i = 0; i < field.length; ++i)
            t.screen->setCharAtPosition(field.start() + i, std::uint8_t('0' + i % 10));
    }
    for (auto _ : state) {
        t.stream.sendAid(kAidEnter);
        benchmark::DoNotOptimize(t.host.sent);
    }
    state.counters["recordBytes"] =
        benchmark::Counter(double(t.host.sent) / double(state.iterations()));
}
BENCHMARK(BM_AidRecordAllModified)->Unit(benchmark::kMicrosecond);

// The host's Restore Screen of the full screen's saved image, as it arrives on the socket (the
// Save Screen reply sent back: the interpreter reads only a record's length from its header).
void BM_RestoreFullScreen(benchmark::State& state) {
    Terminal t(0);
    t.filter.receive(fullScreenRecord());
    t.host.keepLast = true;
    t.filter.receive(Bytes{0x00, 0x0C, 0x12, 0xA0, 0, 0, 4, 0, 0, 3, 0x04, 0x02, 0xFF, 0xEF});
    const Bytes wire = t.host.last;
    t.host.keepLast = false;
    receiveRepeatedly(state, t, wire);
}
BENCHMARK(BM_RestoreFullScreen)->Unit(benchmark::kMicrosecond);

// 24 fields of 80 cells, each holding 40 double-byte characters taken across the table.
void BM_DbcsEncodeJapaneseScreen(benchmark::State& state) {
    Terminal t(4);
    const auto table = dbcsTable(4);
    std::size_t pick = 0;
    for (int row = 0; row < kRows; ++row) {
        t.screen->addField(0, std::uint8_t(row), 0x48, 0, 0, 0, 0x44, kColumns, 0);
        for (int column = 0; column < kColumns; column += 2) {
            const DbcsEntry& e = table[(pick += 97) % table.size()];
            t.screen->setChar(row, column, e.local1);
            t.screen->setChar(row, column + 1, e.local2);
        }
    }
    Bytes out;
    for (auto _ : state) {
        out.clear();
        for (const FieldEntry& field : t.screen->fields.entries())
            appendFieldData(*t.screen, 4, field, {.dropTrailing = true, .nullsAsBlanks = true},
                            out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["characters"] = double(kRows * kColumns / 2);
    state.counters["encodedBytes"] = double(out.size());
}
BENCHMARK(BM_DbcsEncodeJapaneseScreen)->Unit(benchmark::kMicrosecond);

// The operator's side of one scan on the full screen: a 13-digit barcode with a prefix and a
// field-exit suffix into the current field (nulled first, typed character by character under
// the field's rules), Enter with its Read MDT Fields record, and Reset for the next round.
void BM_ScanEntryAndEnter(benchmark::State& state) {
    Terminal t(0);
    t.filter.receive(fullScreenRecord());
    t.filter.receive(Bytes{0x00, 0x0E, 0x12, 0xA0, 0, 0, 4, 0, 0, 3, 0x04, 0x52, 0x00, 0x08});
    t.session->prefixOn = 1;
    qn::reader::storeText(t.session->prefixCode, "S");
    t.session->suffixOn = 1;
    qn::reader::storeText(t.session->suffixCode, "\r");
    TnFieldEditor editor(*t.screen, t.stream, *t.session, t.host);
    const std::string barcode = "0123456789012";
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(barcode.data()),
                                             barcode.size());
    const FieldEntry first = t.screen->fields.entries()[0];
    for (auto _ : state) {
        t.screen->setPosition(first.start());
        t.screen->locateField(first.row, first.column);
        if (editor.enterScannedData(data) != ScanEntry::Entered) {
            state.SkipWithError("the scan was not entered");
            break;
        }
        editor.runFunction(45);
        editor.runFunction(44);
    }
    state.counters["recordBytes"] =
        benchmark::Counter(double(t.host.sent) / double(state.iterations()));
}
BENCHMARK(BM_ScanEntryAndEnter)->Unit(benchmark::kMicrosecond);

}  // namespace

// --write-record FILE writes the full-screen record for `quillnet-replay 5250 --bench`.
int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--write-record") {
        const auto wire = fullScreenRecord();
        std::FILE* out = std::fopen(argv[2], "wb");
        if (out == nullptr || std::fwrite(wire.data(), 1, wire.size(), out) != wire.size()) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
        std::fclose(out);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
