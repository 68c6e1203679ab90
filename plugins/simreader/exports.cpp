// The C operations of ScanSvc_CE.so. Each forwards to the library's one SimReader.

#include <span>

#include "common/reader/engine_operations.h"
#include "common/reader/reader_abi.h"
#include "plugins/common/plugin_support.h"
#include "plugins/simreader/sim_reader.h"
#include "plugins/simreader/simreader_test_api.h"

namespace {
qn::sim::SimReader& reader() {
    return qn::sim::SimReader::instance();
}
}  // namespace

QN_PLUGIN_EXPORT int InitReader(void) {
    return reader().initReader("InitReader");
}
QN_PLUGIN_EXPORT int InitReaderEx(int /*devices*/) {
    return reader().initReader("InitReaderEx");
}
QN_PLUGIN_EXPORT int HaltReader(int devices) {
    return reader().haltReader(devices);
}
QN_PLUGIN_EXPORT int GetReaderType(void) {
    return reader().readerType();
}
QN_PLUGIN_EXPORT int GetActiveDevice(void) {
    return reader().activeDevice();
}
QN_PLUGIN_EXPORT int SetActiveDevice(int mask) {
    return reader().setActiveDevice(mask);
}
QN_PLUGIN_EXPORT int SetTriggerKey(int on) {
    return reader().setTriggerKey(on);
}
QN_PLUGIN_EXPORT int GetTriggerKeyStatus(void) {
    return reader().triggerKeyStatus();
}
QN_PLUGIN_EXPORT int GetDecodeType(void) {
    return reader().decodeType();
}

QN_PLUGIN_EXPORT int GetOutputRecord(int kind, unsigned char* buffer, int size) {
    return reader().outputRecord(kind, buffer, size);
}
QN_PLUGIN_EXPORT int GetDecodeData(unsigned char* buffer, int size) {
    return reader().barcode("GetDecodeData", buffer, size);
}
QN_PLUGIN_EXPORT int GetDecodeRfidUID(unsigned char* buffer, int size) {
    return reader().rfidUid("GetDecodeRfidUID", buffer, size);
}
QN_PLUGIN_EXPORT int GetDecodeRfidData(unsigned char* buffer, int size) {
    return reader().rfidData("GetDecodeRfidData", buffer, size);
}
QN_PLUGIN_EXPORT int ReadRfidData(unsigned char* buffer, int size) {
    return reader().rfidData("ReadRfidData", buffer, size);
}

QN_PLUGIN_EXPORT int GetDllDefaultSettings(unsigned char* block29) {
    return reader().dllDefaultSettings(block29);
}
QN_PLUGIN_EXPORT int DataOutputSettings(char mode, unsigned char* block29) {
    return reader().dataOutputSettings(mode, block29);
}
QN_PLUGIN_EXPORT int ResetReaderToDefault(int devices) {
    return reader().resetToDefault(devices);
}
QN_PLUGIN_EXPORT int GetDllVer(char* buffer, int size) {
    return reader().dllVersion(buffer, size);
}
QN_PLUGIN_EXPORT int Beeper(int sound) {
    return reader().beeper(sound);
}
// The layout behind these is the real library's own; the simulation has none to offer.
QN_PLUGIN_EXPORT int GetReaderSettings(void* /*settings*/) {
    return reader().unsupported("GetReaderSettings");
}
QN_PLUGIN_EXPORT int SetReaderSettings(const void* /*settings*/) {
    return reader().unsupported("SetReaderSettings");
}

QN_PLUGIN_EXPORT int NotificationSettings(char mode, int* a, int* b, int* c, int* d, int* e,
                                          int* f) {
    int* const pointers[] = {a, b, c, d, e, f};
    return reader().notificationSettings(mode, pointers);
}

QN_PLUGIN_EXPORT int RfidSettings(char mode, int* showUid, int* showUserData, int* startPosition,
                                  int* maximumLength, int* /*reserved*/, int* decodeTimeout,
                                  unsigned char* block, int blockSize, int* value) {
    return reader().rfidSettings(mode, showUid, showUserData, startPosition, maximumLength,
                                 decodeTimeout, block, blockSize, value);
}

QN_PLUGIN_EXPORT int RegisterDecodeTarget(QnPostRegisteredMessage post, void* target) {
    return reader().registerDecodeTarget(post, target);
}

// ---- per-symbology operations: exactly their number of int pointers after the mode

#define QN_ENGINE_OPERATIONS(X)          \
    X(UserPreferences_1D, 3)             \
    X(CodaBar_1D, 3)                     \
    X(Industrial25_1D, 7)                \
    X(Interleaved25_1D, 7)               \
    X(Matrix25_1D, 7)                    \
    X(Code39_1D, 5)                      \
    X(Code93_1D, 1)                      \
    X(Code128_1D, 1)                     \
    X(Isbt128_1D, 1)                     \
    X(GS1_128_1D, 3)                     \
    X(I_F_Pharmacode_1D, 4)              \
    X(Msi_1D, 6)                         \
    X(NegativeBarcode_1D, 1)             \
    X(Plessey_1D, 3)                     \
    X(GS1_DataBar_1D, 9)                 \
    X(Telepen_1D, 2)                     \
    X(Ean8_1D, 5)                        \
    X(Ean13UpcA_1D, 9)                   \
    X(Gtin_1D, 1)                        \
    X(UpcE_1D, 8)                        \
    X(UserPreferences_1D_SE955, 7)       \
    X(MiscellaneousOption_1D_SE955, 2)   \
    X(Upc_1D_SE955, 15)                  \
    X(EanJan_1D_SE955, 8)                \
    X(Code39_1D_SE955, 9)                \
    X(Code93_1D_SE955, 3)                \
    X(Interleaved2Of5_1D_SE955, 6)       \
    X(Industrial2Of5_1D_SE955, 3)        \
    X(Chinese2Of5_1D_SE955, 1)           \
    X(Codabar_1D_SE955, 5)               \
    X(Msi_1D_SE955, 6)                   \
    X(GS1_DataBar_1D_SE955, 4)           \
    X(Code128_1D_SE955, 3)               \
    X(Code11_1D_SE955, 5)                \
    X(Upc_2D, 15)                        \
    X(EanJan_2D, 8)                      \
    X(Code39_2D, 9)                      \
    X(Code128_2D, 3)                     \
    X(Code93_2D, 3)                      \
    X(Code11_2D, 5)                      \
    X(Interleaved2Of5_2D, 6)             \
    X(Industrial2Of5_2D, 3)              \
    X(Codabar_2D, 5)                     \
    X(Msi_2D, 6)                         \
    X(PostalCode_2D, 8)                  \
    X(GS1_DataBar_2D, 4)                 \
    X(Composite_2D, 6)                   \
    X(Symbologies_2D, 6)                 \
    X(MacroPDF_2D, 3)                    \
    X(MiscellaneousOption_2D, 2)         \
    X(ImageOptions_2D, 19)               \
    X(UserPreferences_2D, 3)             \
    X(SymbologySecurityLevel_2D, 3)      \
    X(UserPreferences_2D_4507, 3)        \
    X(SymbologySecurityLevel_2D_4507, 3) \
    X(MiscellaneousOption_2D_4507, 2)    \
    X(Upc_2D_4507, 14)                   \
    X(EanJan_2D_4507, 7)                 \
    X(Code39_2D_4507, 9)                 \
    X(Code93_2D_4507, 3)                 \
    X(Interleaved2Of5_2D_4507, 6)        \
    X(Industrial2Of5_2D_4507, 3)         \
    X(Matrix2Of5_2D_4507, 6)             \
    X(Chinese2Of5_2D_4507, 1)            \
    X(Codabar_2D_4507, 5)                \
    X(Msi_2D_4507, 6)                    \
    X(GS1_DataBar_2D_4507, 4)            \
    X(Code128_2D_4507, 5)                \
    X(Code11_2D_4507, 5)                 \
    X(PostalCode_2D_4507, 8)             \
    X(Composite_2D_4507, 6)              \
    X(Symbologies_2D_4507, 12)           \
    X(MacroPDF_2D_4507, 3)               \
    X(ImageOptions_2D_4507, 18)

#define QN_PARAMS_1 int* p0
#define QN_PARAMS_2 QN_PARAMS_1, int* p1
#define QN_PARAMS_3 QN_PARAMS_2, int* p2
#define QN_PARAMS_4 QN_PARAMS_3, int* p3
#define QN_PARAMS_5 QN_PARAMS_4, int* p4
#define QN_PARAMS_6 QN_PARAMS_5, int* p5
#define QN_PARAMS_7 QN_PARAMS_6, int* p6
#define QN_PARAMS_8 QN_PARAMS_7, int* p7
#define QN_PARAMS_9 QN_PARAMS_8, int* p8
#define QN_PARAMS_10 QN_PARAMS_9, int* p9
#define QN_PARAMS_11 QN_PARAMS_10, int* p10
#define QN_PARAMS_12 QN_PARAMS_11, int* p11
#define QN_PARAMS_13 QN_PARAMS_12, int* p12
#define QN_PARAMS_14 QN_PARAMS_13, int* p13
#define QN_PARAMS_15 QN_PARAMS_14, int* p14
#define QN_PARAMS_16 QN_PARAMS_15, int* p15
#define QN_PARAMS_17 QN_PARAMS_16, int* p16
#define QN_PARAMS_18 QN_PARAMS_17, int* p17
#define QN_PARAMS_19 QN_PARAMS_18, int* p18

#define QN_ARGS_1 p0
#define QN_ARGS_2 QN_ARGS_1, p1
#define QN_ARGS_3 QN_ARGS_2, p2
#define QN_ARGS_4 QN_ARGS_3, p3
#define QN_ARGS_5 QN_ARGS_4, p4
#define QN_ARGS_6 QN_ARGS_5, p5
#define QN_ARGS_7 QN_ARGS_6, p6
#define QN_ARGS_8 QN_ARGS_7, p7
#define QN_ARGS_9 QN_ARGS_8, p8
#define QN_ARGS_10 QN_ARGS_9, p9
#define QN_ARGS_11 QN_ARGS_10, p10
#define QN_ARGS_12 QN_ARGS_11, p11
#define QN_ARGS_13 QN_ARGS_12, p12
#define QN_ARGS_14 QN_ARGS_13, p13
#define QN_ARGS_15 QN_ARGS_14, p14
#define QN_ARGS_16 QN_ARGS_15, p15
#define QN_ARGS_17 QN_ARGS_16, p16
#define QN_ARGS_18 QN_ARGS_17, p17
#define QN_ARGS_19 QN_ARGS_18, p18

namespace {

struct ExportedOperation {
    std::string_view name;
    int pointers;
};

#define QN_EXPORTED_ENTRY(NAME, N) ExportedOperation{#NAME, N},
constexpr ExportedOperation kExported[] = {QN_ENGINE_OPERATIONS(QN_EXPORTED_ENTRY)};
#undef QN_EXPORTED_ENTRY

// The list above must be the shared table, in order and with the same pointer counts.
constexpr bool exportsMatchTable() {
    if (std::size(kExported) != qn::reader::kEngineOperations.size()) return false;
    for (std::size_t i = 0; i < std::size(kExported); ++i) {
        const auto& op = qn::reader::kEngineOperations[i];
        if (kExported[i].name != op.name || kExported[i].pointers != op.pointerCount()) {
            return false;
        }
    }
    return true;
}
static_assert(exportsMatchTable(), "exported engine operations differ from kEngineOperations");

constexpr std::size_t indexOf(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kExported); ++i) {
        if (kExported[i].name == name) return i;
    }
    return std::size(kExported);
}

}  // namespace

#define QN_ENGINE_EXPORT(NAME, N)                                                   \
    QN_PLUGIN_EXPORT int NAME(char mode, QN_PARAMS_##N) {                           \
        int* const pointers[] = {QN_ARGS_##N};                                      \
        return reader().engineOperation(indexOf(#NAME), mode, std::span(pointers)); \
    }
QN_ENGINE_OPERATIONS(QN_ENGINE_EXPORT)
#undef QN_ENGINE_EXPORT

// ---- test-only operations

static_assert(QN_SIM_DELIVERED == static_cast<int>(qn::scan::ReplyStatus::Delivered));
static_assert(QN_SIM_TRIGGER_OFF == static_cast<int>(qn::scan::ReplyStatus::TriggerOff));
static_assert(QN_SIM_DEVICE_INACTIVE == static_cast<int>(qn::scan::ReplyStatus::DeviceInactive));
static_assert(QN_SIM_NO_TARGET == static_cast<int>(qn::scan::ReplyStatus::NoTarget));
static_assert(QN_SIM_SHUTTING_DOWN == static_cast<int>(qn::scan::ReplyStatus::ShuttingDown));
static_assert(QN_SIM_BAD_REQUEST == static_cast<int>(qn::scan::ReplyStatus::BadRequest));

QN_PLUGIN_EXPORT int QnSimCallLog(char* buffer, int size) {
    std::string log = reader().callLog();
    qn::plugin::copyOut(log, buffer, size);
    return static_cast<int>(log.size());
}

QN_PLUGIN_EXPORT void QnSimClearCallLog(void) {
    reader().clearCallLog();
}

QN_PLUGIN_EXPORT int QnSimSocketPath(char* buffer, int size) {
    return qn::plugin::copyOut(reader().socketPath(), buffer, size);
}

QN_PLUGIN_EXPORT int QnSimSerialOpen(void) {
    return reader().serialOpen() ? 1 : 0;
}

QN_PLUGIN_EXPORT int QnSimScannerOpens(void) {
    return reader().scannerOpens();
}

QN_PLUGIN_EXPORT int QnSimDecodeSource(char* kind, int kindSize, char* symbology,
                                       int symbologySize) {
    auto [source, id] = reader().decodeSource();
    if (source.empty()) return 0;
    qn::plugin::copyOut(source, kind, kindSize);
    qn::plugin::copyOut(id, symbology, symbologySize);
    return 1;
}

QN_PLUGIN_EXPORT int QnSimInjectDecode(int kind, const unsigned char* data, int dataSize,
                                       const unsigned char* userData, int userDataSize) {
    if (kind != QN_DECODE_BARCODE && kind != QN_DECODE_RFID) return QN_SIM_BAD_REQUEST;
    if (data == nullptr || dataSize < 1 || userDataSize < 0 ||
        (userData == nullptr && userDataSize > 0)) {
        return QN_SIM_BAD_REQUEST;
    }
    qn::scan::ScanRequest request;
    request.kind =
        kind == QN_DECODE_BARCODE ? qn::scan::DecodeKind::Barcode : qn::scan::DecodeKind::Rfid;
    request.data.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(dataSize));
    if (userDataSize > 0) {
        request.userData.assign(reinterpret_cast<const char*>(userData),
                                static_cast<std::size_t>(userDataSize));
    }
    // The same bounds as a request from the socket.
    if (qn::scan::encodeRequest(request).empty()) return QN_SIM_BAD_REQUEST;
    return static_cast<int>(reader().deliver(request).status);
}

QN_PLUGIN_EXPORT void QnSimReset(void) {
    reader().reset();
}
