#include "tn5250/settings/tn_settings.h"

#include <vector>

namespace qn::tn {

reader::ReaderSettings readerSettings(TnSession& s) {
    return reader::ReaderSettings{
        reader::Program::Tn,
        reader::ScanOutputSettings{
            s.libraryDefaults, s.prefixOn, s.prefixCode, s.suffixOn, s.suffixCode,
            s.checkLeadingCode, s.leadingCode, s.checkCodeLength, s.codeLength, s.readPartialCode,
            s.startPosition, s.maximumLength, s.goodBeeper, s.goodVibrator, s.errorBeeper,
            s.errorVibrator, s.rfidReaderOn, s.barcodeReaderOn},
        s.rfid,
        s.engine,
        std::nullopt,
    };
}

std::span<const reader::FieldInfo> tnSessionFields() {
    using reader::FieldInfo;
    using K = reader::FieldKind;
#define QN_FIELD(name, kind, ...)                                                    \
    FieldInfo {                                                                      \
#name, offsetof(TnSession, name), sizeof(TnSession::name), kind, __VA_ARGS__ \
    }
    static const std::vector<FieldInfo> fields = [] {
        std::vector<FieldInfo> list{
            QN_FIELD(documentTag, K::Text),
            QN_FIELD(lastFieldSuffix, K::U8, 0, 255),
            QN_FIELD(otherFieldSuffix, K::U8, 0, 255),
            QN_FIELD(prefixOn, K::U8, 0, 1),
            QN_FIELD(prefixCode, K::Bytes),
            QN_FIELD(suffixOn, K::U8, 0, 1),
            QN_FIELD(suffixCode, K::Bytes),
            QN_FIELD(checkLeadingCode, K::U8, 0, 1),
            QN_FIELD(leadingCode, K::Bytes),
            QN_FIELD(checkCodeLength, K::U8, 0, 1),
            QN_FIELD(codeLength, K::U8, 1, 50),
            QN_FIELD(readPartialCode, K::U8, 0, 1),
            QN_FIELD(startPosition, K::U8, 1, 20),
            QN_FIELD(maximumLength, K::U8, 1, 20),
            QN_FIELD(triggerByHostCmd, K::U8, 0, 1),
            QN_FIELD(deviceName, K::Text),
            QN_FIELD(hostAddress, K::Text),
            QN_FIELD(telnetPort, K::U16, 0, 65535),
            QN_FIELD(loginName, K::Text),
            QN_FIELD(loginPassword, K::Text),
            QN_FIELD(language, K::U8, 0, 6),
            QN_FIELD(cursorTracking, K::U8, 0, 1),
            QN_FIELD(tnKeyFunctionTable, K::Bytes),
            QN_FIELD(autoSignOn, K::U8, 0, 1),
            QN_FIELD(overLengthRule, K::U8, 0, 2),
            QN_FIELD(fontHeight, K::U8, 1, 255),
            QN_FIELD(fontWidth, K::U8, 1, 255),
            QN_FIELD(libraryDefaults, K::Bytes),
            QN_FIELD(goodBeeper, K::I32, 0, 9),
            QN_FIELD(goodVibrator, K::I32, 0, 10),
            QN_FIELD(errorBeeper, K::I32, 0, 9),
            QN_FIELD(errorVibrator, K::I32, 0, 10),
            QN_FIELD(rfidReaderOn, K::U8, 0, 1),
            QN_FIELD(barcodeReaderOn, K::U8, 0, 1),
            QN_FIELD(useDeviceName, K::U8, 0, 1),
            QN_FIELD(autoConnect, K::U8, 0, 1),
            QN_FIELD(fullScreenOn, K::I32, 0, 1),
            QN_FIELD(scrollBarsSetting, K::I32, 0, 1),
            QN_FIELD(taskBarOnFullScreen, K::I32, 0, 1),
            QN_FIELD(autoFullScreen, K::I32, 0, 1),
        };
        reader::completeRecordFields(list, offsetof(TnSession, rfid));
        return list;
    }();
#undef QN_FIELD
    return fields;
}

}  // namespace qn::tn
