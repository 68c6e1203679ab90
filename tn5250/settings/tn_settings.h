#pragma once
// The 5250 program's session record: 3144 bytes, saved whole as the settings document.

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "common/reader/record_fields.h"
#include "common/reader/settings_store.h"
#include "common/settings/session_state.h"

namespace qn::tn {

using reader::Bytes;
using reader::LeInt32;
using reader::LeUint16;

inline constexpr std::size_t kTnSessionSize = 3144;

struct TnSession {
    Bytes<6> documentTag;
    std::uint8_t lastFieldSuffix;
    std::uint8_t otherFieldSuffix;
    Bytes<368> reserved8;
    // Scanned-data checks and edits.
    std::uint8_t prefixOn;
    Bytes<40> prefixCode;
    std::uint8_t suffixOn;
    Bytes<40> suffixCode;
    Bytes<1> reserved458;
    std::uint8_t checkLeadingCode;
    Bytes<40> leadingCode;
    std::uint8_t checkCodeLength;
    std::uint8_t codeLength;
    std::uint8_t readPartialCode;
    std::uint8_t startPosition;
    std::uint8_t maximumLength;
    std::uint8_t triggerByHostCmd;
    // Host and sign-on.
    Bytes<20> deviceName;
    Bytes<50> hostAddress;
    Bytes<201> reserved576;
    LeUint16 telnetPort;
    Bytes<21> loginName;
    Bytes<21> loginPassword;
    std::uint8_t language;
    Bytes<3> reserved822;
    std::uint8_t cursorTracking;
    Bytes<3> reserved826;
    // 51 key slots of 3 bytes; the function code of slot k is the byte at 830 + 3k.
    Bytes<153> tnKeyFunctionTable;
    Bytes<250> reserved982;
    std::uint8_t autoSignOn;
    Bytes<2> reserved1233;
    std::uint8_t overLengthRule;
    Bytes<42> reserved1236;
    std::uint8_t fontHeight;
    std::uint8_t fontWidth;
    // Reader block and feedback.
    Bytes<QN_LIBRARY_DEFAULTS_SIZE> libraryDefaults;
    Bytes<3> reserved1309;
    LeInt32 goodBeeper;
    LeInt32 goodVibrator;
    LeInt32 errorBeeper;
    LeInt32 errorVibrator;
    Bytes<106> reserved1328;
    std::uint8_t rfidReaderOn;
    std::uint8_t barcodeReaderOn;
    reader::EngineSettings engine;
    reader::RfidOutputSettings rfid;
    std::uint8_t useDeviceName;
    std::uint8_t autoConnect;
    Bytes<2> reserved3126;
    LeInt32 fullScreenOn;
    LeInt32 scrollBarsSetting;
    LeInt32 taskBarOnFullScreen;
    LeInt32 autoFullScreen;

    std::span<std::uint8_t, kTnSessionSize> bytes() {
        return std::span<std::uint8_t, kTnSessionSize>(reinterpret_cast<std::uint8_t*>(this),
                                                       kTnSessionSize);
    }
    std::span<const std::uint8_t, kTnSessionSize> bytes() const {
        return std::span<const std::uint8_t, kTnSessionSize>(
            reinterpret_cast<const std::uint8_t*>(this), kTnSessionSize);
    }
    std::uint8_t& activeDeviceByte() { return libraryDefaults[1]; }
};

static_assert(std::is_standard_layout_v<TnSession> && std::is_trivially_copyable_v<TnSession>);
static_assert(sizeof(TnSession) == kTnSessionSize && alignof(TnSession) == 1);

#define QN_TN_AT(field, offset) static_assert(offsetof(TnSession, field) == (offset), #field)
QN_TN_AT(documentTag, 0);
QN_TN_AT(lastFieldSuffix, 6);
QN_TN_AT(otherFieldSuffix, 7);
QN_TN_AT(reserved8, 8);
QN_TN_AT(prefixOn, 376);
QN_TN_AT(prefixCode, 377);
QN_TN_AT(suffixOn, 417);
QN_TN_AT(suffixCode, 418);
QN_TN_AT(reserved458, 458);
QN_TN_AT(checkLeadingCode, 459);
QN_TN_AT(leadingCode, 460);
QN_TN_AT(checkCodeLength, 500);
QN_TN_AT(codeLength, 501);
QN_TN_AT(readPartialCode, 502);
QN_TN_AT(startPosition, 503);
QN_TN_AT(maximumLength, 504);
QN_TN_AT(triggerByHostCmd, 505);
QN_TN_AT(deviceName, 506);
QN_TN_AT(hostAddress, 526);
QN_TN_AT(reserved576, 576);
QN_TN_AT(telnetPort, 777);
QN_TN_AT(loginName, 779);
QN_TN_AT(loginPassword, 800);
QN_TN_AT(language, 821);
QN_TN_AT(reserved822, 822);
QN_TN_AT(cursorTracking, 825);
QN_TN_AT(reserved826, 826);
QN_TN_AT(tnKeyFunctionTable, 829);
QN_TN_AT(reserved982, 982);
QN_TN_AT(autoSignOn, 1232);
QN_TN_AT(reserved1233, 1233);
QN_TN_AT(overLengthRule, 1235);
QN_TN_AT(reserved1236, 1236);
QN_TN_AT(fontHeight, 1278);
QN_TN_AT(fontWidth, 1279);
QN_TN_AT(libraryDefaults, 1280);
QN_TN_AT(reserved1309, 1309);
QN_TN_AT(goodBeeper, 1312);
QN_TN_AT(goodVibrator, 1316);
QN_TN_AT(errorBeeper, 1320);
QN_TN_AT(errorVibrator, 1324);
QN_TN_AT(reserved1328, 1328);
QN_TN_AT(rfidReaderOn, 1434);
QN_TN_AT(barcodeReaderOn, 1435);
QN_TN_AT(engine, reader::kTnEngineBegin);
QN_TN_AT(rfid, 3068);
QN_TN_AT(useDeviceName, 3124);
QN_TN_AT(autoConnect, 3125);
QN_TN_AT(reserved3126, 3126);
QN_TN_AT(fullScreenOn, 3128);
QN_TN_AT(scrollBarsSetting, 3132);
QN_TN_AT(taskBarOnFullScreen, 3136);
QN_TN_AT(autoFullScreen, 3140);
#undef QN_TN_AT
static_assert(offsetof(TnSession, engine) + sizeof(reader::EngineSettings) == reader::kTnEngineEnd);

// The session: the record and the run-time values kept beside it.
using TnSessionState = settings::SessionState<TnSession>;

// The reader settings groups of the record.
reader::ReaderSettings readerSettings(TnSession& record);

// Every named field of the record, in offset order, for the settings tool.
std::span<const reader::FieldInfo> tnSessionFields();

}  // namespace qn::tn
