#pragma once
// The 5250 program's handling of "WM_DECODEDATA": fetches the decode from the reader library,
// checks it by the session's data-output settings, types it into the current input field,
// repaints the view and gives the scanner feedback.
//
// Runs on the UI thread. The session lock is taken twice: once to copy the settings and see
// where the cursor is, once for the field entry itself. The reader calls, the entry's sends and
// alarms (collected by the deferring host), the message boxes, the vibration and the sounds all
// run with it released.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "common/scan/decode_processing.h"
#include "platform/message_box.h"
#include "tn5250/datastream/tn_host.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/settings/tn_settings.h"

namespace qn::tn {

inline constexpr std::uintptr_t kBarcodeDecode = 7;
inline constexpr std::string_view kDataTooLongText = "Data too long";

class TnDecodeHandler {
  public:
    using RepaintFunction = std::function<void()>;
    // Takes a decode that is a configuration code (true): it is then neither checked nor entered.
    using ConfigurationCodes = std::function<bool(std::span<const std::uint8_t>)>;

    struct Parts {
        platform::MessageBoxes& messages;
        reader::ReaderLibrary& reader;
        device::DeviceLayer& device;
        TnSession& session;
        std::mutex& sessionLock;
        // Used under the session lock only; it asks the cursor's field and enters the data.
        TnFieldEditor& editor;
        // The host the editor was built on, and where its batch is carried out afterwards:
        // the same pair the transport uses, so a scan's sends share the one send path.
        DeferredTnHost& deferred;
        TnHost& effects;
        // Invalidates the whole view.
        RepaintFunction repaint;
        ConfigurationCodes configurationCodes;
    };

    explicit TnDecodeHandler(Parts parts);

    // The "WM_DECODEDATA" message: wParam 7 is a barcode, anything else an RFID read.
    void handleDecode(std::uintptr_t wParam);

  private:
    // What one decode needs, copied under the session lock.
    struct Snapshot {
        decode::CheckSettings checks;
        decode::RfidChoice rfid;
        int goodBeeper = 0;
        int goodVibrator = 0;
        int errorBeeper = 0;
        int errorVibrator = 0;
        bool cursorInField = false;
    };
    Snapshot snapshot();
    // The checked barcode, or an empty span after a failure (reported) or without data.
    std::span<const std::uint8_t> readBarcode(const Snapshot& settings);
    std::span<const std::uint8_t> readRfid(const Snapshot& settings);
    // The entry under the lock, then the sends and alarms it produced.
    ScanEntry enter(std::span<const std::uint8_t> data);
    void repaint();

    Parts parts_;
    // Kept between decodes so that a scan allocates nothing once they have grown.
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> userData_;
    std::vector<std::uint8_t> rfid_;
};

}  // namespace qn::tn
