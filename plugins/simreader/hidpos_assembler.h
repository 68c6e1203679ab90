#pragma once
// A HID POS scanner (usage page 0x8C) read through hidraw. Where a decode sits in its
// scanned-data reports comes from its report descriptor (HidPosLayout). Without a layout, the
// common one is assumed: in a 64-byte report
//   0      report ID 2
//   1      number of data bytes in this report
//   2..4   AIM symbology identifier (for example "]E0"), zeros when the scanner sends none
//   5..    data, up to the report size - 8 bytes
//   last   bit 0: the decode continues in the next report
// Other reports (status, other report IDs) carry no data and are passed over.
//
// With a layout, the data length is the byte count field where the report has one; without
// one, the data field's trailing zero bytes are padding and are dropped (a decode cannot end
// in a NUL byte that way; zeros inside it are kept).

#include <optional>
#include <span>
#include <vector>

#include "plugins/simreader/hid_descriptor.h"
#include "plugins/simreader/scanner_decode.h"

namespace qn::sim {

inline constexpr std::uint8_t kHidPosScannedDataReport = 0x02;
inline constexpr std::size_t kHidPosReportSize = 64;  // a FIFO or file carries reports of this size

class HidPosAssembler {
  public:
    explicit HidPosAssembler(std::size_t maxBytes, std::optional<HidPosLayout> layout = {})
        : framer_(ScannerKind::HidPos, maxBytes, std::chrono::milliseconds(0)) {
        setLayout(std::move(layout));
    }

    // The layout of the scanner now plugged in (nullopt: the common one); drops what was
    // under way.
    void setLayout(std::optional<HidPosLayout> layout);
    const std::optional<HidPosLayout>& layout() const { return layout_; }

    // One whole report, as one read of a hidraw device returns it.
    void feedReport(std::span<const std::uint8_t> report, ScanClock::time_point now,
                    std::vector<ScannerDecode>& out);
    // Reports from a FIFO or file, each of the size its ID declares (kHidPosReportSize without
    // a layout); a report cut between two reads is completed by the next. A first byte that is
    // no declared report ID is skipped.
    void feedBytes(std::span<const std::uint8_t> bytes, ScanClock::time_point now,
                   std::vector<ScannerDecode>& out);
    // Unplugged: a decode still waiting for its continuation is dropped.
    void reset();

  private:
    void feedCommon(std::span<const std::uint8_t> report, ScanClock::time_point now,
                    std::vector<ScannerDecode>& out);
    void feedLaidOut(const HidInputReport& layout, std::span<const std::uint8_t> report,
                     ScanClock::time_point now, std::vector<ScannerDecode>& out);
    void endOrContinue(bool continues, std::vector<ScannerDecode>& out);

    DecodeFramer framer_;
    std::optional<HidPosLayout> layout_;
    std::string symbology_;
    bool continuing_ = false;
    std::vector<std::uint8_t> partial_;
    std::size_t partialSize_ = 0;
    std::size_t partialWanted_ = 0;
};

}  // namespace qn::sim
