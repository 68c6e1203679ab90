// Host bytes through the 5250 telnet layer, the record assembler and the interpreter, cut into
// receives of varying size, with the automatic sign-on and the operator's keys after each (Enter
// while the host has the keyboard unlocked, as the program allows it, and Attention, which
// the program sends at any time): nothing the host sends may reach outside a buffer, and the model
// stays inside its bounds. A screen or rectangle the host had saved comes back whole: restoring
// it and saving again gives the same image.
//
// Input: byte 0 picks the language (low 3 bits), sign-on, the AID keys and the restore; byte 1
// the receive size; the rest is what the host sent.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/screen/screen_image.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace {

using namespace qn::tn;

// The length of a run of 0xFF bytes from p, eight at a time.
std::size_t iacRun(const std::uint8_t* p, const std::uint8_t* end) {
    const std::uint8_t* q = p;
    for (std::uint64_t word = 0; end - q >= 8; q += 8) {
        std::memcpy(&word, q, 8);
        if (word != ~std::uint64_t{0}) break;
    }
    while (q < end && *q == 0xFF)
        ++q;
    return static_cast<std::size_t>(q - p);
}

// Framed bytes as the host undoubles them: each stretch without 0xFF, then how many 0xFF the
// run after it stands for. Every 0xFF must be doubled.
template <class Stretch>
void forEachUndoubled(const std::uint8_t* p, const std::uint8_t* end, Stretch stretch) {
    while (p < end) {
        const auto* iac = static_cast<const std::uint8_t*>(
            std::memchr(p, 0xFF, static_cast<std::size_t>(end - p)));
        const std::uint8_t* const stop = iac == nullptr ? end : iac;
        const std::size_t run = iacRun(stop, end);
        if (run % 2 != 0) std::abort();
        stretch(p, stop, run / 2);
        p = stop + run;
    }
}

// A run ends at its 33rd reply, or at the reply that takes its replies past four of the largest
// records: a few reads reach every path a reply has, while each read walks the whole screen,
// and an input of a thousand two-byte reads over a screen of overlapping fields spent
// milliseconds sending the same reply again.
constexpr std::size_t kReplyLimit = 32;
constexpr std::size_t kReplyBytesLimit = 4 * 0x10000;
struct ReplyBudgetSpent {};

// Checks that every reply is a whole framed record, and keeps the last Save Screen reply for a
// run that restores it.
class CheckingHost final : public TnHost {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        check(bytes);
        replyBytes += bytes.size();
        if (++replies > kReplyLimit || replyBytes > kReplyBytesLimit) throw ReplyBudgetSpent{};
    }
    void check(std::span<const std::uint8_t> bytes) {
        if (bytes.size() < 12 || bytes[bytes.size() - 2] != 0xFF || bytes.back() != 0xEF)
            std::abort();
        checksum += bytes[bytes.size() - 3];
        const std::uint8_t* const begin = bytes.data();
        const std::uint8_t* const end = begin + bytes.size() - 2;
        // The record is what is left with each pair of 0xFF taken as one byte. Its header is
        // read that way from its first bytes; the rest is undoubled only for an image restored.
        std::size_t length = 0;
        std::array<std::uint8_t, 10> header{};
        std::size_t headerBytes = 0;
        forEachUndoubled(begin, end,
                         [&](const std::uint8_t* p, const std::uint8_t* stop, std::size_t iacs) {
                             for (auto* q = p; q < stop && headerBytes < header.size(); ++q)
                                 header[headerBytes++] = *q;
                             for (std::size_t i = 0; i < iacs && headerBytes < header.size(); ++i)
                                 header[headerBytes++] = 0xFF;
                             length += static_cast<std::size_t>(stop - p) + iacs;
                         });
        if (headerBytes < header.size() || length != std::size_t(header[0] << 8 | header[1]))
            std::abort();
        saved = header[9] == kOpcodeSaveScreen;
        if (saved && keepImage) lastSave.assign(begin, end);
    }
    void reset() {
        checksum = 0;
        replies = 0;
        replyBytes = 0;
        saved = false;
        lastSave.clear();
    }
    void alarm() override { ++checksum; }
    // The last Save Screen record's body after its header, undoubled as the host reads it:
    // ESC 0x12 and the image. Taken only when wanted, as a run may save many times.
    std::vector<std::uint8_t> image() const {
        std::vector<std::uint8_t> body;
        forEachUndoubled(lastSave.data(), lastSave.data() + lastSave.size(),
                         [&](const std::uint8_t* from, const std::uint8_t* stop, std::size_t iacs) {
                             body.insert(body.end(), from, stop);
                             body.insert(body.end(), iacs, 0xFF);
                         });
        body.erase(body.begin(), body.begin() + 10);  // the header, whole as check() found it
        return body;
    }
    unsigned checksum = 0;
    std::size_t replies = 0;  // sent in this run
    std::size_t replyBytes = 0;
    bool saved = false;
    std::vector<std::uint8_t> lastSave;  // as framed, without IAC EOR
    bool keepImage = false;
};

// The telnet layer's answers: three-byte commands and sub-negotiation replies.
class NegotiationSink final : public qn::telnet::ByteSender {
  public:
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (bytes.size() < 3 || bytes[0] != 0xFF) std::abort();
    }
};

// The last saved screen, or saved rectangle, restored and saved again in one record: the same
// image comes back. Every image saved is one the restore takes.
void restoreAndCompare(TnDataStream& stream, CheckingHost& host, const TnScreen& screen) {
    if (host.lastSave.empty()) return;
    static std::vector<std::uint8_t> record;
    const std::vector<std::uint8_t> image = host.image();
    // ESC 0x13 and a rectangle's image: flag byte, top, left, depth and width at 7 to 11.
    const bool partial = image.size() >= 12 && image[1] == 0x13;
    static TnScreen copy;
    copy = screen;
    const auto saved = std::span(image).subspan(std::min<std::size_t>(2, image.size()));
    if (!(partial ? restorePartialImage(copy, saved) : restoreScreenImage(copy, saved)))
        std::abort();
    const std::size_t size = 10 + image.size() + (partial ? 7 : 2);
    record.assign({std::uint8_t(size >> 8), std::uint8_t(size), 0x12, 0xA0, 0, 0, 4, 0, 0, 5});
    record.insert(record.end(), image.begin(), image.end());
    if (partial) {
        record.insert(record.end(), {kEsc, 0x03, image[7], std::uint8_t(image[8] + 1),
                                     std::uint8_t(image[9] + 1), image[10], image[11]});
    } else {
        record.insert(record.end(), {kEsc, 0x02});
    }
    host.saved = false;
    stream.receive(record);
    if (!host.saved || host.image() != image) std::abort();
}

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
    TnSession* const session = &freshSession.make();
    session->language = flags % 8;  // 7 is not a language: it must read as single byte
    session->autoSignOn = (flags >> 3) & 1;
    session->useDeviceName = (flags >> 4) & 1;
    qn::reader::storeText(session->loginName, "guest");
    qn::reader::storeText(session->loginPassword, "secret");
    qn::reader::storeText(session->deviceName, "FUZZ");
    const bool pressKeys = (flags >> 5) & 1;
    // At most 8 receives, each followed by the keys (Enter replies over every field): per-receive
    // work would otherwise outweigh the bytes themselves.
    const std::size_t chunk = std::max<std::size_t>(1 + data[1] % 64, size / 8);

    // One screen for every run, reset by the data stream as the program resets it at connect:
    // building a new one cleared its planes three times a run.
    static TnScreen screenStorage;
    TnScreen* const screen = &screenStorage;
    static CheckingHost host;  // its buffers are kept across runs
    host.reset();
    host.keepImage = (flags & 0x80) != 0;
    // One stream too, as the program keeps one: reset with the screen, its reply buffers keep
    // their room. The session it reads is made afresh in the same place each run.
    static TnDataStream stream(*screen, *session, host);
    NegotiationSink negotiation;
    TnTelnetFilter filter(*session, negotiation, stream);
    stream.resetScreen();
    bool signedOn = false;
    try {
        for (std::size_t at = 2; at < size; at += chunk) {
            filter.receive({data + at, std::min(chunk, size - at)});
            checkModel(*screen);
            if (session->autoSignOn && !signedOn) signedOn = stream.trySignOn();
            if (pressKeys) {
                if (!screen->state.keyboardLocked) stream.sendAid(static_cast<std::uint8_t>(0xF1));
                if (flags & 0x40) stream.sendAttention();
            }
            checkModel(*screen);
        }
        if ((flags & 0x80) != 0 && stream.betweenRecords())
            restoreAndCompare(stream, host, *screen);
    } catch (const ReplyBudgetSpent&) {
        // Left inside a record, which the next run's reset clears.
    }
    checkModel(*screen);
    return 0;
}
