#pragma once
// The VT program's handling of "WM_DECODEDATA": fetches the decode from the reader library,
// checks and edits it by the session's data-output settings, sends it to the host as if typed,
// repaints the view and gives the scanner feedback.
//
// Runs on the UI thread. The session lock is taken only to copy the settings and read the
// emulator's new-line mode; the reader calls, the send, the message boxes, the vibration and
// the sound all run with it released.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "common/scan/decode_processing.h"
#include "platform/message_box.h"
#include "vt/emulator/vt_emulator.h"
#include "vt/settings/vt_settings.h"

namespace qn::vt {

inline constexpr std::uintptr_t kBarcodeDecode = 7;

class VtDecodeHandler {
  public:
    using SendFunction = std::function<void(std::span<const std::uint8_t>)>;
    using RepaintFunction = std::function<void()>;
    // Takes a decode that is a configuration code (true): it is then neither checked nor sent.
    using ConfigurationCodes = std::function<bool(std::span<const std::uint8_t>)>;

    struct Parts {
        platform::MessageBoxes& messages;
        reader::ReaderLibrary& reader;
        device::DeviceLayer& device;
        VtSession& session;
        std::mutex& sessionLock;
        // Read under the session lock for its new-line mode only.
        const VtEmulator& emulator;
        // VtTransport::sendBytes: one send, nothing when unconnected.
        SendFunction send;
        // Invalidates the whole view.
        RepaintFunction repaint;
        ConfigurationCodes configurationCodes;
    };

    explicit VtDecodeHandler(Parts parts);

    // The "WM_DECODEDATA" message: wParam 7 is a barcode, anything else an RFID read.
    void handleDecode(std::uintptr_t wParam);

  private:
    // The settings one decode needs, copied under the session lock.
    struct Snapshot {
        decode::CheckSettings checks;
        decode::EditSettings edit;
        decode::RfidChoice rfid;
        int errorVibrator = 0;
        int scanVibrator = 0;
        int scanBeeper = 0;
        bool feedbackByHost = false;
    };
    Snapshot snapshot();
    void handleBarcode(const Snapshot& settings);
    void handleRfid(const Snapshot& settings);
    void sendAndFeedback(const Snapshot& settings);

    Parts parts_;
    // Kept between decodes so that a scan allocates nothing once they have grown.
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> userData_;
    decode::EditBuffers edit_;
    std::vector<std::uint8_t> output_;
};

}  // namespace qn::vt
