// Host bytes through the 5250 telnet layer, the record assembler and the interpreter, cut into
// receives of varying size, with the automatic sign-on and an AID key after each: nothing the
// host sends may reach outside a buffer, and the model stays inside its bounds.
//
// Input: byte 0 picks the language (low 3 bits), sign-on and the AID key; byte 1 the receive
// size; the rest is what the host sent.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "tests/fuzz/fuzz_support.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace {

using namespace qn::tn;

// Checks that every reply is a whole framed record.
class CheckingHost final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) std::abort();
        checksum += bytes.back();
    }
    void alarm() override { ++checksum; }
    unsigned checksum = 0;
};

void checkModel(const TnScreen& screen) {
    const ScreenState& s = screen.state;
    bool ok = screen.fields.count() <= kMaxFields && s.messageRow >= 0 && s.messageRow < kRows &&
              s.readMode <= 3 && s.row <= kPlaneRows && s.column >= 0 && s.column < kColumns;
    for (const FieldEntry& f : screen.fields.entries()) {
        ok = ok && f.start() >= 0 && f.start() < kPlanePositions && !ffw::isBypass(f.ffw1);
    }
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    static qn::fuzz::Fresh<TnSession> freshSession;
    static qn::fuzz::Fresh<TnScreen> freshScreen;
    TnSession* const session = &freshSession.make();
    session->language = flags % 8;  // 7 is not a language: it must read as single byte
    session->autoSignOn = (flags >> 3) & 1;
    session->useDeviceName = (flags >> 4) & 1;
    qn::reader::storeText(session->loginName, "guest");
    qn::reader::storeText(session->loginPassword, "secret");
    qn::reader::storeText(session->deviceName, "FUZZ");
    const bool pressKeys = (flags >> 5) & 1;
    // At most 8 receives, each followed by its AID key (a reply over every field): per-receive
    // work would otherwise outweigh the bytes themselves.
    const std::size_t chunk = std::max<std::size_t>(1 + data[1] % 64, size / 8);

    TnScreen* const screen = &freshScreen.make();
    CheckingHost host;
    TnDataStream stream(*screen, *session, host);
    TnTelnetFilter filter(*session, host, stream);
    stream.resetScreen();
    bool signedOn = false;
    for (std::size_t at = 2; at < size; at += chunk) {
        filter.receive({data + at, std::min(chunk, size - at)});
        checkModel(*screen);
        if (session->autoSignOn && !signedOn) signedOn = stream.trySignOn();
        if (pressKeys) {
            stream.sendAid(static_cast<std::uint8_t>(0xF1));
            if (flags & 0x40) stream.sendAttention();
        }
        checkModel(*screen);
    }
    return 0;
}
