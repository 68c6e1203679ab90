#include "vt/settings/vt_settings.h"

#include <vector>

namespace qn::vt {

reader::ReaderSettings readerSettings(VtSettings& s) {
    return reader::ReaderSettings{
        reader::Program::Vt,
        reader::ScanOutputSettings{
            s.libraryDefaults, s.prefixOn, s.prefixCode, s.suffixOn, s.suffixCode,
            s.checkLeadingCode, s.leadingCode, s.checkCodeLength, s.codeLength, s.readPartialCode,
            s.startPosition, s.maximumLength, s.goodBeeper, s.goodVibrator, s.errorBeeper,
            s.errorVibrator, s.rfidReaderOn, s.barcodeReaderOn},
        s.rfid,
        s.engine,
        reader::VtReaderExtras{s.enableCommand, s.disableCommand, s.scanBeeper, s.scanVibrator,
                               s.autoEnter, s.macroFrame},
    };
}

std::span<const reader::FieldInfo> vtSettingsFields() {
    using reader::FieldInfo;
    using K = reader::FieldKind;
#define QN_FIELD(name, kind, ...)                                                      \
    FieldInfo {                                                                        \
#name, offsetof(VtSettings, name), sizeof(VtSettings::name), kind, __VA_ARGS__ \
    }
    static const std::vector<FieldInfo> fields = [] {
        std::vector<FieldInfo> list{
            QN_FIELD(hostAddress, K::Text),
            QN_FIELD(telnetPort, K::U16, 0, 65535),
            QN_FIELD(loginName, K::Text),
            QN_FIELD(autoSignOn, K::U8, 0, 1),
            QN_FIELD(loginPrompt, K::Text),
            QN_FIELD(passwordPrompt, K::Text),
            QN_FIELD(loginPassword, K::Text),
            QN_FIELD(cursorTracking, K::U8, 0, 1),
            QN_FIELD(fontHeight, K::U8, 1, 255),
            QN_FIELD(fontWidth, K::U8, 1, 255),
            QN_FIELD(libraryDefaults, K::Bytes),
            QN_FIELD(enableCommand, K::Bytes),
            QN_FIELD(disableCommand, K::Bytes),
            QN_FIELD(spareCommand, K::Bytes),
            QN_FIELD(scanBeeper, K::I32, 0, 9),
            QN_FIELD(scanVibrator, K::I32, 0, 10),
            QN_FIELD(goodFeedbackCommand, K::Bytes),
            QN_FIELD(goodBeeper, K::I32, 0, 9),
            QN_FIELD(goodVibrator, K::I32, 0, 10),
            QN_FIELD(errorFeedbackCommand, K::Bytes),
            QN_FIELD(errorBeeper, K::I32, 0, 9),
            QN_FIELD(errorVibrator, K::I32, 0, 10),
            QN_FIELD(macroFrame, K::Bytes),
            QN_FIELD(terminalType, K::Text),
            QN_FIELD(lineBuffer, K::U8, 0, 1),
            QN_FIELD(prefixOn, K::U8, 0, 1),
            QN_FIELD(prefixCode, K::Bytes),
            QN_FIELD(suffixOn, K::U8, 0, 1),
            QN_FIELD(suffixCode, K::Bytes),
            QN_FIELD(autoEnter, K::U8, 0, 1),
            QN_FIELD(checkLeadingCode, K::U8, 0, 1),
            QN_FIELD(leadingCode, K::Bytes),
            QN_FIELD(checkCodeLength, K::U8, 0, 1),
            QN_FIELD(codeLength, K::U8, 1, 50),
            QN_FIELD(readPartialCode, K::U8, 0, 1),
            QN_FIELD(startPosition, K::U8, 1, 20),
            QN_FIELD(maximumLength, K::U8, 1, 20),
            QN_FIELD(feedbackByCmd, K::U8, 0, 1),
            QN_FIELD(replaceFrom1, K::Bytes),
            QN_FIELD(replaceTo1, K::Bytes),
            QN_FIELD(replaceFrom2, K::Bytes),
            QN_FIELD(replaceTo2, K::Bytes),
            QN_FIELD(triggerByEscCmd, K::U8, 0, 1),
            QN_FIELD(rfidReaderOn, K::U8, 0, 1),
            QN_FIELD(barcodeReaderOn, K::U8, 0, 1),
            QN_FIELD(keyFunctionTable, K::Bytes),
            QN_FIELD(keyCodeTable, K::Bytes),
            QN_FIELD(localEcho, K::U8, 0, 1),
            QN_FIELD(autoConnect, K::U8, 0, 1),
            QN_FIELD(fullScreenOn, K::I32, 0, 1),
            QN_FIELD(scrollBarsSetting, K::I32, 0, 1),
            QN_FIELD(autoFullScreen, K::I32, 0, 1),
            QN_FIELD(taskBarOnFullScreen, K::I32, 0, 1),
        };
        reader::completeRecordFields(list, offsetof(VtSettings, rfid));
        return list;
    }();
#undef QN_FIELD
    return fields;
}

}  // namespace qn::vt
