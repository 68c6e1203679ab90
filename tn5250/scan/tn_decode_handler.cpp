#include "tn5250/scan/tn_decode_handler.h"

#include <optional>

namespace qn::tn {

TnDecodeHandler::TnDecodeHandler(Parts parts) : parts_(std::move(parts)) {
    // The largest decode and the largest RFID read (UID, delimiter, user data).
    const std::size_t data = decode::kTnRules.bufferSize;
    buffer_.reserve(data);
    userData_.reserve(data);
    rfid_.reserve(2 * data + reader::kRfidDelimiterSize);
}

TnDecodeHandler::Snapshot TnDecodeHandler::snapshot() {
    Snapshot copy;
    std::lock_guard lock(parts_.sessionLock);
    TnSession& s = parts_.session;
    copy.checks = decode::checkSettingsOf(readerSettings(s).scan);
    copy.rfid = decode::rfidChoiceOf(s.rfid);
    copy.goodBeeper = s.goodBeeper.get();
    copy.goodVibrator = s.goodVibrator.get();
    copy.errorBeeper = s.errorBeeper.get();
    copy.errorVibrator = s.errorVibrator.get();
    copy.cursorInField = parts_.editor.cursorInCurrentField();
    return copy;
}

void TnDecodeHandler::handleDecode(std::uintptr_t wParam) {
    const Snapshot settings = snapshot();
    if (!settings.cursorInField) {
        // Nowhere to put it: the decode is left in the library unread.
        parts_.device.playSound(settings.errorBeeper);
        parts_.device.vibrate(settings.errorVibrator);
        return;
    }

    const std::span<const std::uint8_t> data =
        wParam == kBarcodeDecode ? readBarcode(settings) : readRfid(settings);
    std::optional<ScanEntry> entry;
    if (!data.empty()) entry = enter(data);

    if (entry == ScanEntry::TooLong) {
        parts_.device.vibrate(settings.errorVibrator);
        parts_.messages.show(kDataTooLongText);
    }
    repaint();
    if (entry == ScanEntry::Entered) {
        parts_.device.vibrate(settings.goodVibrator);
        parts_.device.playSound(settings.goodBeeper);
    }
}

std::span<const std::uint8_t> TnDecodeHandler::readBarcode(const Snapshot& settings) {
    const std::size_t length = decode::readBarcode(parts_.reader.ops(), decode::kTnRules, buffer_);
    if (parts_.configurationCodes &&
        parts_.configurationCodes(std::span(buffer_).first(std::min(length, buffer_.size())))) {
        return {};
    }
    const decode::CheckResult checked = decode::checkBarcode(buffer_, length, settings.checks);
    decode::reportFailure(checked.failure, decode::kTnRules, parts_.messages, parts_.device,
                          settings.errorVibrator);
    return checked.data;
}

std::span<const std::uint8_t> TnDecodeHandler::readRfid(const Snapshot& settings) {
    decode::readRfid(parts_.reader.ops(), settings.rfid, decode::kTnRules, buffer_, userData_,
                     rfid_);
    return decode::textPart(rfid_);
}

ScanEntry TnDecodeHandler::enter(std::span<const std::uint8_t> data) {
    ScanEntry result;
    DeferredTnHost::Batch batch;
    {
        std::lock_guard lock(parts_.sessionLock);
        result = parts_.editor.enterScannedData(data);
        batch = parts_.deferred.take();
    }
    batch.run(parts_.effects);
    return result;
}

void TnDecodeHandler::repaint() {
    if (parts_.repaint) parts_.repaint();
}

}  // namespace qn::tn
