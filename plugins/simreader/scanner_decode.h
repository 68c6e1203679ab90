#pragma once
// What every kind of scanner hands the reader: complete decodes, put together from bytes, key
// events or reports by one framer with one bound, one terminator rule and one inter-key gap.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qn::sim {

enum class ScannerKind : std::uint8_t { Socket, Serial, Keyboard, HidPos };

// The key that ends a keyboard scanner's decode.
enum class ScanTerminator : std::uint8_t { Enter, Tab };

// The name --watch and the reader's decode source report: "socket", "serial", "keyboard",
// "hidpos".
const char* scannerKindName(ScannerKind kind);

struct ScannerDecode {
    ScannerKind kind = ScannerKind::Socket;
    std::string data;
    std::string symbology;  // an AIM identifier such as "]E0" where the scanner sends one
    bool operator==(const ScannerDecode&) const = default;
};

using ScanClock = std::chrono::steady_clock;

// Collects the bytes of one decode. A decode past the bound, or one marked broken (a character
// the host cannot take, events the kernel dropped), is dropped whole up to its end.
class DecodeFramer {
  public:
    DecodeFramer(ScannerKind kind, std::size_t maxBytes, std::chrono::milliseconds gap);

    void push(std::uint8_t byte, ScanClock::time_point now);
    void markBroken() { broken_ = true; }
    // The decode ends here: appended to out when complete, sound and not empty.
    void finish(std::vector<ScannerDecode>& out, std::string symbology = {});
    // An unplug or a reset: what was collected is dropped.
    void discard();

    // With a gap set, a decode also ends once no byte came for that long.
    void expire(ScanClock::time_point now, std::vector<ScannerDecode>& out);
    // How long until expire() would end the pending decode; nullopt when nothing waits.
    std::optional<std::chrono::milliseconds> untilExpiry(ScanClock::time_point now) const;

    bool pending() const { return !data_.empty() || broken_ || overflow_; }

  private:
    ScannerKind kind_;
    std::size_t maxBytes_;
    std::chrono::milliseconds gap_;
    std::string data_;
    bool overflow_ = false;
    bool broken_ = false;
    ScanClock::time_point last_{};
};

// A serial scanner: each line, up to CR or LF, is one decode.
class SerialAssembler {
  public:
    SerialAssembler(std::size_t maxBytes, std::chrono::milliseconds gap)
        : framer_(ScannerKind::Serial, maxBytes, gap) {}
    void feed(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
              std::vector<ScannerDecode>& out);
    DecodeFramer& framer() { return framer_; }

  private:
    DecodeFramer framer_;
};

}  // namespace qn::sim
