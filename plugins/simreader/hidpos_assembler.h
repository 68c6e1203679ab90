#pragma once
// A HID POS scanner (usage page 0x8C) read through hidraw. Its scanned-data report (report ID 2)
// carries, in a 64-byte report:
//   0      report ID 2
//   1      number of data bytes in this report
//   2..4   AIM symbology identifier (for example "]E0"), zeros when the scanner sends none
//   5..    data, up to the report size - 8 bytes
//   last   bit 0: the decode continues in the next report
// Other reports (status, other report IDs) carry no data and are passed over.

#include <array>
#include <span>

#include "plugins/simreader/scanner_decode.h"

namespace qn::sim {

inline constexpr std::uint8_t kHidPosScannedDataReport = 0x02;
inline constexpr std::size_t kHidPosReportSize = 64;  // a FIFO or file carries reports of this size

class HidPosAssembler {
  public:
    explicit HidPosAssembler(std::size_t maxBytes)
        : framer_(ScannerKind::HidPos, maxBytes, std::chrono::milliseconds(0)) {}

    // One whole report, as one read of a hidraw device returns it.
    void feedReport(std::span<const std::uint8_t> report, ScanClock::time_point now,
                    std::vector<ScannerDecode>& out);
    // Fixed-size reports from a FIFO or file; a report cut between two reads is completed by the
    // next.
    void feedBytes(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                   std::vector<ScannerDecode>& out);
    // Unplugged: a decode still waiting for its continuation is dropped.
    void reset();

  private:
    DecodeFramer framer_;
    std::string symbology_;
    bool continuing_ = false;
    std::array<std::uint8_t, kHidPosReportSize> partial_{};
    std::size_t partialSize_ = 0;
};

}  // namespace qn::sim
