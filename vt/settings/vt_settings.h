#pragma once
// The VT program's session record. Its first 3120 bytes, VtSettings, are the settings image and
// the settings document, byte for byte.

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "common/reader/record_fields.h"
#include "common/reader/settings_store.h"
#include "common/settings/session_state.h"

namespace qn::vt {

using reader::Bytes;
using reader::LeInt32;
using reader::LeUint16;

inline constexpr std::size_t kVtSettingsSize = 3120;

struct VtSettings {
    Bytes<6> reserved0;
    Bytes<20> hostAddress;
    Bytes<80> reserved26;
    LeUint16 telnetPort;
    Bytes<20> loginName;
    std::uint8_t autoSignOn;
    Bytes<15> loginPrompt;
    Bytes<15> passwordPrompt;
    Bytes<20> loginPassword;
    std::uint8_t cursorTracking;
    std::uint8_t fontHeight;
    std::uint8_t fontWidth;
    Bytes<2> reserved182;
    // Scanned-data output, first part.
    Bytes<QN_LIBRARY_DEFAULTS_SIZE> libraryDefaults;
    Bytes<reader::kHostCommandSize> enableCommand;
    Bytes<reader::kHostCommandSize> disableCommand;
    Bytes<reader::kHostCommandSize> spareCommand;
    Bytes<1> reserved351;
    LeInt32 scanBeeper;
    LeInt32 scanVibrator;
    Bytes<4> reserved360;
    Bytes<reader::kHostCommandSize> goodFeedbackCommand;
    Bytes<2> reserved410;
    LeInt32 goodBeeper;
    LeInt32 goodVibrator;
    Bytes<reader::kHostCommandSize> errorFeedbackCommand;
    Bytes<2> reserved466;
    LeInt32 errorBeeper;
    LeInt32 errorVibrator;
    // Terminal fields in between.
    Bytes<28> reserved476;
    Bytes<reader::kMacroFrameSize> macroFrame;
    Bytes<30> terminalType;
    std::uint8_t lineBuffer;
    Bytes<37> reserved545;
    // Scanned-data output, second part.
    std::uint8_t prefixOn;
    Bytes<40> prefixCode;
    std::uint8_t suffixOn;
    Bytes<40> suffixCode;
    std::uint8_t autoEnter;
    std::uint8_t checkLeadingCode;
    Bytes<40> leadingCode;
    std::uint8_t checkCodeLength;
    std::uint8_t codeLength;
    std::uint8_t readPartialCode;
    std::uint8_t startPosition;
    std::uint8_t maximumLength;
    std::uint8_t feedbackByCmd;
    Bytes<9> replaceFrom1;
    Bytes<9> replaceTo1;
    Bytes<9> replaceFrom2;
    Bytes<9> replaceTo2;
    std::uint8_t triggerByEscCmd;
    Bytes<4> reserved749;
    std::uint8_t rfidReaderOn;
    std::uint8_t barcodeReaderOn;
    // Key map: 50 entries of 3 bytes (function index in the middle byte) and 50 codes of 5.
    Bytes<150> keyFunctionTable;
    Bytes<250> keyCodeTable;
    std::uint8_t localEcho;
    Bytes<4> reserved1156;
    reader::EngineSettings engine;
    reader::RfidOutputSettings rfid;
    std::uint8_t autoConnect;
    Bytes<255> reserved2849;
    LeInt32 fullScreenOn;
    LeInt32 scrollBarsSetting;
    LeInt32 autoFullScreen;
    LeInt32 taskBarOnFullScreen;

    std::span<std::uint8_t, kVtSettingsSize> bytes() {
        return std::span<std::uint8_t, kVtSettingsSize>(reinterpret_cast<std::uint8_t*>(this),
                                                        kVtSettingsSize);
    }
    std::span<const std::uint8_t, kVtSettingsSize> bytes() const {
        return std::span<const std::uint8_t, kVtSettingsSize>(
            reinterpret_cast<const std::uint8_t*>(this), kVtSettingsSize);
    }
    std::uint8_t& activeDeviceByte() { return libraryDefaults[1]; }
};

static_assert(std::is_standard_layout_v<VtSettings> && std::is_trivially_copyable_v<VtSettings>);
static_assert(sizeof(VtSettings) == kVtSettingsSize && alignof(VtSettings) == 1);

#define QN_VT_AT(field, offset) static_assert(offsetof(VtSettings, field) == (offset), #field)
QN_VT_AT(reserved0, 0);
QN_VT_AT(hostAddress, 6);
QN_VT_AT(reserved26, 26);
QN_VT_AT(telnetPort, 106);
QN_VT_AT(loginName, 108);
QN_VT_AT(autoSignOn, 128);
QN_VT_AT(loginPrompt, 129);
QN_VT_AT(passwordPrompt, 144);
QN_VT_AT(loginPassword, 159);
QN_VT_AT(cursorTracking, 179);
QN_VT_AT(fontHeight, 180);
QN_VT_AT(fontWidth, 181);
QN_VT_AT(reserved182, 182);
QN_VT_AT(libraryDefaults, 184);
QN_VT_AT(enableCommand, 213);
QN_VT_AT(disableCommand, 259);
QN_VT_AT(spareCommand, 305);
QN_VT_AT(reserved351, 351);
QN_VT_AT(scanBeeper, 352);
QN_VT_AT(scanVibrator, 356);
QN_VT_AT(reserved360, 360);
QN_VT_AT(goodFeedbackCommand, 364);
QN_VT_AT(reserved410, 410);
QN_VT_AT(goodBeeper, 412);
QN_VT_AT(goodVibrator, 416);
QN_VT_AT(errorFeedbackCommand, 420);
QN_VT_AT(reserved466, 466);
QN_VT_AT(errorBeeper, 468);
QN_VT_AT(errorVibrator, 472);
QN_VT_AT(reserved476, 476);
QN_VT_AT(macroFrame, 504);
QN_VT_AT(terminalType, 514);
QN_VT_AT(lineBuffer, 544);
QN_VT_AT(reserved545, 545);
QN_VT_AT(prefixOn, 582);
QN_VT_AT(prefixCode, 583);
QN_VT_AT(suffixOn, 623);
QN_VT_AT(suffixCode, 624);
QN_VT_AT(autoEnter, 664);
QN_VT_AT(checkLeadingCode, 665);
QN_VT_AT(leadingCode, 666);
QN_VT_AT(checkCodeLength, 706);
QN_VT_AT(codeLength, 707);
QN_VT_AT(readPartialCode, 708);
QN_VT_AT(startPosition, 709);
QN_VT_AT(maximumLength, 710);
QN_VT_AT(feedbackByCmd, 711);
QN_VT_AT(replaceFrom1, 712);
QN_VT_AT(replaceTo1, 721);
QN_VT_AT(replaceFrom2, 730);
QN_VT_AT(replaceTo2, 739);
QN_VT_AT(triggerByEscCmd, 748);
QN_VT_AT(reserved749, 749);
QN_VT_AT(rfidReaderOn, 753);
QN_VT_AT(barcodeReaderOn, 754);
QN_VT_AT(keyFunctionTable, 755);
QN_VT_AT(keyCodeTable, 905);
QN_VT_AT(localEcho, 1155);
QN_VT_AT(reserved1156, 1156);
QN_VT_AT(engine, reader::kVtEngineBegin);
QN_VT_AT(rfid, 2792);
QN_VT_AT(autoConnect, 2848);
QN_VT_AT(reserved2849, 2849);
QN_VT_AT(fullScreenOn, 3104);
QN_VT_AT(scrollBarsSetting, 3108);
QN_VT_AT(autoFullScreen, 3112);
QN_VT_AT(taskBarOnFullScreen, 3116);
#undef QN_VT_AT
static_assert(offsetof(VtSettings, rfid) + sizeof(reader::RfidOutputSettings) == 2848);
static_assert(offsetof(VtSettings, engine) + sizeof(reader::EngineSettings) ==
              reader::kVtEngineEnd);

// The session: the settings image and the run-time values kept beside it, the VT program's
// own (local echo) among them.
struct VtSession : settings::SessionState<VtSettings> {
    std::uint8_t localEchoActive = 1;
};

// The reader settings groups of the image.
reader::ReaderSettings readerSettings(VtSettings& settings);

// Every named field of the image, in offset order, for the settings tool.
std::span<const reader::FieldInfo> vtSettingsFields();

}  // namespace qn::vt
