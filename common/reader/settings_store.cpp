#include "common/reader/settings_store.h"

#include <algorithm>
#include <array>

namespace qn::reader {

namespace {

// Every run must lie inside the engine span, on a value boundary, without overlapping another:
// the record and the library agree on nothing else.
consteval bool runsFitEngineSpan(Program program) {
    std::array<bool, kEngineValueCount> used{};
    for (const auto& op : kEngineOperations) {
        int offset = program == Program::Vt ? op.vtOffset : op.tnOffset;
        int begin = program == Program::Vt ? kVtEngineBegin : kTnEngineBegin;
        int end = program == Program::Vt ? kVtEngineEnd : kTnEngineEnd;
        if (op.values <= 0 || op.pointerCount() > kMaxEnginePointers) return false;
        if ((offset - begin) % 4 != 0 || offset < begin || offset + 4 * op.values > end) {
            return false;
        }
        for (int i = 0; i < op.values; ++i) {
            auto index = static_cast<std::size_t>((offset - begin) / 4 + i);
            if (used[index]) return false;
            used[index] = true;
        }
    }
    for (bool u : used) {
        if (!u) return false;  // the groups fill the span without gaps
    }
    return true;
}
static_assert(runsFitEngineSpan(Program::Vt));
static_assert(runsFitEngineSpan(Program::Tn));

void syncRfid(const ReaderOperations& ops, RfidOutputSettings& rfid, char mode) {
    std::int32_t showUid = rfid.showRfidUid.get();
    std::int32_t showUserData = rfid.showRfidUserData.get();
    std::int32_t startPosition = rfid.rfidStartPosition.get();
    std::int32_t maximumLength = rfid.rfidMaximumLength.get();
    std::int32_t decodeTimeout = rfid.rfidDecodeTimeout.get();
    std::int32_t value = rfid.rfidLibraryValue.get();
    ops.RfidSettings(mode, &showUid, &showUserData, &startPosition, &maximumLength, nullptr,
                     &decodeTimeout, rfid.rfidLibraryBlock.data(), QN_RFID_LIBRARY_BLOCK_SIZE,
                     &value);
    rfid.showRfidUid.set(showUid);
    rfid.showRfidUserData.set(showUserData);
    rfid.rfidStartPosition.set(startPosition);
    rfid.rfidMaximumLength.set(maximumLength);
    rfid.rfidDecodeTimeout.set(decodeTimeout);
    rfid.rfidLibraryValue.set(value);
}

void syncRun(const EngineOperation& op, void* function, std::span<LeInt32> run, char mode) {
    // The library sees plain ints; the record keeps little-endian bytes.
    std::array<std::int32_t, kMaxEnginePointers> values{};
    for (std::size_t i = 0; i < run.size(); ++i)
        values[i] = run[i].get();
    callEngineOperation(op, function, mode, values.data());
    for (std::size_t i = 0; i < run.size(); ++i)
        run[i].set(values[i]);
}

constexpr std::array<std::uint8_t, 5> kEnableCommand{0x1B, '[', '9', '9', 'h'};
constexpr std::array<std::uint8_t, 5> kDisableCommand{0x1B, '[', '9', '9', 'l'};

}  // namespace

std::span<LeInt32> engineRun(EngineSettings& engine, const EngineOperation& op, Program program) {
    return std::span<LeInt32>(engine.values)
        .subspan(engineRunOffset(op, program) / 4, static_cast<std::size_t>(op.values));
}

std::span<const LeInt32> engineRun(const EngineSettings& engine, const EngineOperation& op,
                                   Program program) {
    return std::span<const LeInt32>(engine.values)
        .subspan(engineRunOffset(op, program) / 4, static_cast<std::size_t>(op.values));
}

std::span<const std::uint32_t> engineGroupOrder(Program program) {
    return program == Program::Vt ? std::span<const std::uint32_t>(kVtGroupOrder)
                                  : std::span<const std::uint32_t>(kTnGroupOrder);
}

void syncEngineSettings(const ReaderLibrary& reader, const ReaderSettings& settings, char mode) {
    if (mode != kReadFromLibrary && mode != kWriteToLibrary) return;
    const ReaderOperations& ops = reader.ops();
    const std::uint32_t readerType = reader.readerType();

    // The program gives all feedback itself.
    if (ops.NotificationSettings != nullptr) {
        int off[6] = {};
        ops.NotificationSettings(kWriteToLibrary, &off[0], &off[1], &off[2], &off[3], &off[4],
                                 &off[5]);
    }
    if ((readerType & (QN_READER_RFID | QN_READER_RFID_ALT)) != 0 && ops.RfidSettings != nullptr) {
        syncRfid(ops, settings.rfid, mode);
    }
    for (std::uint32_t group : engineGroupOrder(settings.program)) {
        if ((readerType & group) == 0) continue;
        for (std::size_t i = 0; i < kEngineOperations.size(); ++i) {
            const EngineOperation& op = kEngineOperations[i];
            void* function = reader.engineOperation(i);
            if (op.group != group || function == nullptr) continue;
            syncRun(op, function, engineRun(settings.engine, op, settings.program), mode);
        }
    }
}

void resetReaderSettings(const ReaderLibrary& reader, platform::MessageBoxes& messages,
                         const ReaderSettings& settings) {
    const ScanOutputSettings& scan = settings.scan;
    if (reader.ops().GetDllDefaultSettings != nullptr) {
        int result = reader.ops().GetDllDefaultSettings(scan.libraryDefaults.data());
        syncEngineSettings(reader, settings, kReadFromLibrary);
        if (result != 1) messages.show(kDllDefaultsFailed);
    } else {
        messages.show(kDllDefaultsFailed);
    }

    scan.barcodeReaderOn = 1;
    scan.rfidReaderOn = 1;
    scan.startPosition = 1;
    scan.maximumLength = 20;
    scan.codeLength = 15;
    scan.goodBeeper.set(1);
    scan.goodVibrator.set(0);
    scan.errorBeeper.set(2);
    scan.errorVibrator.set(0);

    RfidOutputSettings& rfid = settings.rfid;
    rfid.showRfidUid.set(1);
    rfid.rfidStartPosition.set(-1);
    rfid.rfidMaximumLength.set(10);
    storeText(rfid.rfidFieldDelimiter, ",");

    // The 4507 engine's Code 128 length limit differs from its library default.
    if (const EngineOperation* code128 = findEngineOperation("Code128_2D_4507")) {
        engineRun(settings.engine, *code128, settings.program)[4].set(10);
    }

    if (settings.vt) {
        const VtReaderExtras& vt = *settings.vt;
        storeBytes(vt.enableCommand, kEnableCommand);
        storeBytes(vt.disableCommand, kDisableCommand);
        vt.scanBeeper.set(1);
        vt.scanVibrator.set(0);
        vt.autoEnter = 1;
        vt.macroFrame.fill(0);
    }
}

std::span<const FieldInfo> rfidOutputFields() {
    using K = FieldKind;
    constexpr std::int64_t kMin = INT32_MIN, kMax = INT32_MAX;
    static constexpr FieldInfo kFields[] = {
        {"showRfidUid", offsetof(RfidOutputSettings, showRfidUid), 4, K::I32, 0, 1},
        {"showRfidUserData", offsetof(RfidOutputSettings, showRfidUserData), 4, K::I32, 0, 1},
        {"rfidStartPosition", offsetof(RfidOutputSettings, rfidStartPosition), 4, K::I32, -1, kMax},
        {"rfidMaximumLength", offsetof(RfidOutputSettings, rfidMaximumLength), 4, K::I32, 0, kMax},
        {"rfidFieldDelimiter", offsetof(RfidOutputSettings, rfidFieldDelimiter), kRfidDelimiterSize,
         K::Bytes},
        {"rfidDecodeTimeout", offsetof(RfidOutputSettings, rfidDecodeTimeout), 4, K::I32, kMin,
         kMax},
        {"rfidLibraryBlock", offsetof(RfidOutputSettings, rfidLibraryBlock),
         QN_RFID_LIBRARY_BLOCK_SIZE, K::Bytes},
        {"rfidLibraryValue", offsetof(RfidOutputSettings, rfidLibraryValue), 4, K::I32, kMin, kMax},
    };
    return kFields;
}

void completeRecordFields(std::vector<FieldInfo>& fields, std::size_t rfidOffset) {
    for (FieldInfo field : rfidOutputFields()) {
        field.offset += rfidOffset;
        fields.push_back(field);
    }
    std::sort(fields.begin(), fields.end(),
              [](const FieldInfo& a, const FieldInfo& b) { return a.offset < b.offset; });
}

}  // namespace qn::reader
