#include "vt/scan/vt_decode_handler.h"

namespace qn::vt {

VtDecodeHandler::VtDecodeHandler(Parts parts) : parts_(std::move(parts)) {
    // The largest decode and its largest edit, so that no scan has to grow them.
    const std::size_t data = decode::kVtRules.bufferSize;
    buffer_.reserve(data);
    userData_.reserve(data);
    edit_.reserve(data);
    output_.reserve(decode::maxEditedLength(data));
}

VtDecodeHandler::Snapshot VtDecodeHandler::snapshot() {
    Snapshot copy;
    std::lock_guard lock(parts_.sessionLock);
    VtSettings& s = parts_.session.settings;
    copy.checks = decode::checkSettingsOf(readerSettings(s).scan);
    copy.edit.replaceFrom1 = s.replaceFrom1;
    copy.edit.replaceTo1 = s.replaceTo1;
    copy.edit.replaceFrom2 = s.replaceFrom2;
    copy.edit.replaceTo2 = s.replaceTo2;
    copy.edit.prefixOn = s.prefixOn != 0;
    copy.edit.prefixCode = s.prefixCode;
    copy.edit.suffixOn = s.suffixOn != 0;
    copy.edit.suffixCode = s.suffixCode;
    copy.edit.autoEnter = s.autoEnter != 0;
    copy.edit.newLineMode = parts_.emulator.screen().newLineModeOff == 0;
    copy.rfid = decode::rfidChoiceOf(s.rfid);
    copy.errorVibrator = s.errorVibrator.get();
    copy.scanVibrator = s.scanVibrator.get();
    copy.scanBeeper = s.scanBeeper.get();
    copy.feedbackByHost = s.feedbackByCmd != 0;
    return copy;
}

void VtDecodeHandler::handleDecode(std::uintptr_t wParam) {
    const Snapshot settings = snapshot();
    if (wParam == kBarcodeDecode)
        handleBarcode(settings);
    else
        handleRfid(settings);
}

void VtDecodeHandler::handleBarcode(const Snapshot& settings) {
    const std::size_t length = decode::readBarcode(parts_.reader.ops(), decode::kVtRules, buffer_);
    if (parts_.configurationCodes &&
        parts_.configurationCodes(std::span(buffer_).first(std::min(length, buffer_.size())))) {
        return;
    }
    const decode::CheckResult checked = decode::checkBarcode(buffer_, length, settings.checks);
    if (checked.failure != decode::CheckFailure::None) {
        // The decode is dropped: nothing sent, no feedback.
        decode::reportFailure(checked.failure, decode::kVtRules, parts_.messages, parts_.device,
                              settings.errorVibrator);
        return;
    }
    decode::editScan(checked.data, settings.edit, edit_, output_);
    sendAndFeedback(settings);
}

void VtDecodeHandler::handleRfid(const Snapshot& settings) {
    decode::readRfid(parts_.reader.ops(), settings.rfid, decode::kVtRules, buffer_, userData_,
                     output_);
    sendAndFeedback(settings);
}

void VtDecodeHandler::sendAndFeedback(const Snapshot& settings) {
    // The result goes out as text: up to its first zero byte, without telnet escaping.
    const auto text = decode::textPart(output_);
    if (!text.empty() && parts_.send) parts_.send(text);
    if (parts_.repaint) parts_.repaint();
    if (!settings.feedbackByHost) {
        parts_.device.vibrate(settings.scanVibrator);
        parts_.device.playSound(settings.scanBeeper);
    }
}

}  // namespace qn::vt
