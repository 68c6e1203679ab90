// Host screens and the operator's keys, characters, functions, scans and taps, interleaved:
// whatever the host defined and whatever the operator does, editing stays inside the planes and
// the field table, and every reply is a whole record.
//
// Input: byte 0 picks the language, the over-length rule and insert mode; byte 1 the suffixes;
// then steps, each an opcode byte and its operands.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "tests/fuzz/fuzz_support.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/input/view_input.h"

namespace {

using namespace qn::tn;

class CheckingHost final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        // Header, then IAC EOR.
        if (bytes.size() < 12 || bytes[bytes.size() - 2] != 0xFF || bytes.back() != 0xEF)
            std::abort();
    }
    void alarm() override {}
};

void checkModel(const TnScreen& screen) {
    const ScreenState& s = screen.state;
    // A host address on row 0 lies up to 81 positions before the screen, which the data stream
    // keeps; the editor must cope with it.
    bool ok = screen.fields.count() <= kMaxFields && s.row >= -2 && s.row <= kPlaneRows &&
              s.column >= 0 && s.column < kColumns;
    if (s.currentField.isField()) {
        ok = ok && std::ranges::any_of(screen.fields.entries(), [&](const FieldEntry& f) {
                 return f.start() == s.currentField.start();
             });
    }
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static qn::fuzz::Fresh<TnSession> freshSession;
    TnSession* const session = &freshSession.make();
    session->language = data[0] % 8;
    session->overLengthRule = (data[0] >> 3) % 4;
    session->prefixOn = 1;
    session->prefixCode[0] = '>';
    session->suffixOn = (data[0] >> 5) & 1;
    session->suffixCode[0] = 0x09;
    session->lastFieldSuffix = data[1];
    session->otherFieldSuffix = static_cast<std::uint8_t>(data[1] * 7);
    // One screen for every run, reset by the data stream as the program resets it at connect:
    // building a new one cleared its planes three times a run.
    static TnScreen screenStorage;
    TnScreen* const screen = &screenStorage;
    CheckingHost host;
    TnDataStream stream(*screen, *session, host);
    TnFieldEditor editor(*screen, stream, *session, host);
    TnViewInput input(editor, [](const std::function<void()>& operation) { operation(); });
    stream.resetScreen();
    // After the reset, which clears it.
    screen->state.insertMode = (data[0] >> 6) & 1;

    std::size_t at = 2;
    auto take = [&](std::size_t n) {
        n = std::min(n, size - at);
        const std::span<const std::uint8_t> bytes(data + at, n);
        at += n;
        return bytes;
    };
    // Each step may walk a whole field, a scanned character may shift one: 32 steps keep a run
    // short and still reach deep into an operator's session.
    for (int step = 0; step < 32 && at < size; ++step) {
        const std::uint8_t op = data[at++];
        const std::uint8_t operand = at < size ? data[at] : 0;
        switch (op % 8) {
            case 0:  // host bytes
                take(1);
                stream.receive(take(1 + operand % 128));
                break;
            case 1:
                take(1);
                input.keyDown(operand, (op & 0x80) != 0, true);
                break;
            case 2:
                take(1);
                input.character(operand, true);
                break;
            case 3:
                take(1);
                editor.runFunction(operand % 50);
                break;
            case 4: {
                take(1);
                editor.enterScannedData(take(operand % 32));
                break;
            }
            case 5:
                take(1);
                screen->tapCell(operand % 26, (op >> 3) * 3);
                break;
            case 6:
                screen->state.keyboardLocked = false;
                break;
            default:
                editor.typeInField(operand, (op & 0x10) != 0);
                take(1);
                break;
        }
        checkModel(*screen);
    }
    return 0;
}
