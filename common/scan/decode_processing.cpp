#include "common/scan/decode_processing.h"

#include <algorithm>

#include "common/device/device.h"
#include "platform/message_box.h"

namespace qn::decode {

namespace {

using ByteSpan = std::span<const std::uint8_t>;

void append(std::vector<std::uint8_t>& out, ByteSpan bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

ByteSpan fieldText(ByteSpan field) {
    return field.first(reader::fixedLength(field));
}

// Clears the buffer to its full size and returns a pointer and size fit for the library.
unsigned char* clearedBuffer(std::vector<std::uint8_t>& buffer, std::size_t size) {
    buffer.assign(size, 0);
    return buffer.data();
}

}  // namespace

std::size_t boundedLength(int reported, std::size_t bufferSize) {
    if (reported <= 0 || bufferSize == 0) return 0;
    return std::min(static_cast<std::size_t>(reported), bufferSize - 1);
}

ByteSpan textPart(ByteSpan bytes) {
    return fieldText(bytes);
}

std::size_t readBarcode(const reader::ReaderOperations& ops, const ProgramRules& rules,
                        std::vector<std::uint8_t>& buffer) {
    unsigned char* data = clearedBuffer(buffer, rules.bufferSize);
    const int size = static_cast<int>(rules.bufferSize);
    int reported = 0;
    if (rules.barcodeSource == BarcodeSource::OutputRecord) {
        if (ops.GetOutputRecord != nullptr)
            reported = ops.GetOutputRecord(QN_DECODE_BARCODE, data, size);
    } else if (ops.GetDecodeData != nullptr) {
        reported = ops.GetDecodeData(data, size);
    }
    // Whatever the library did, the byte after the bounded data stays the terminator.
    std::size_t length = boundedLength(reported, rules.bufferSize);
    buffer[rules.bufferSize - 1] = 0;
    return length;
}

// ---- checks

CheckSettings checkSettingsOf(const reader::ScanOutputSettings& scan) {
    CheckSettings settings;
    settings.checkLeadingCode = scan.checkLeadingCode != 0;
    settings.leadingCode = scan.leadingCode;
    settings.checkCodeLength = scan.checkCodeLength != 0;
    settings.codeLength = scan.codeLength;
    settings.readPartialCode = scan.readPartialCode != 0;
    settings.startPosition = scan.startPosition;
    settings.maximumLength = scan.maximumLength;
    return settings;
}

CheckResult checkBarcode(ByteSpan buffer, std::size_t length, const CheckSettings& settings) {
    length = std::min(length, buffer.size());
    if (settings.checkLeadingCode) {
        ByteSpan code = fieldText(settings.leadingCode);
        for (std::size_t i = 0; i < code.size(); ++i) {
            // Past the data comes its terminator, which no code byte matches.
            if (i >= length || buffer[i] != code[i]) return {CheckFailure::LeadingCode, {}};
        }
    }
    if (settings.checkCodeLength && length > settings.codeLength) return {CheckFailure::Length, {}};

    ByteSpan data = buffer.first(length);
    if (settings.readPartialCode) {
        // Start Position 0 would begin before the data; it reads as the first byte.
        std::size_t start = settings.startPosition == 0 ? 0 : settings.startPosition - 1u;
        if (length < start) return {CheckFailure::PartialCode, {}};
        data = data.subspan(start);
        data = data.first(std::min<std::size_t>(data.size(), settings.maximumLength));
    }
    return {CheckFailure::None, textPart(data)};
}

std::string_view failureText(CheckFailure failure, const ProgramRules& rules) {
    switch (failure) {
        case CheckFailure::LeadingCode:
            return rules.wrongLeadingCodeText;
        case CheckFailure::Length:
            return kWrongLengthText;
        case CheckFailure::PartialCode:
            return kInvalidationSettingText;
        case CheckFailure::None:
            break;
    }
    return {};
}

void reportFailure(CheckFailure failure, const ProgramRules& rules,
                   platform::MessageBoxes& messages, device::DeviceLayer& device,
                   int errorVibratorSteps) {
    if (failure == CheckFailure::None) return;
    if (rules.vibrateBeforeMessage &&
        (failure == CheckFailure::LeadingCode || failure == CheckFailure::PartialCode))
        device.vibrate(errorVibratorSteps);
    messages.show(failureText(failure, rules));
}

// ---- edits

void replaceAll(ByteSpan text, ByteSpan from, ByteSpan to, std::vector<std::uint8_t>& out) {
    if (from.empty()) {
        append(out, text);
        return;
    }
    auto position = text.begin();
    while (true) {
        auto found = std::search(position, text.end(), from.begin(), from.end());
        out.insert(out.end(), position, found);
        if (found == text.end()) break;
        append(out, to);
        position = found + static_cast<std::ptrdiff_t>(from.size());
    }
}

void EditBuffers::reserve(std::size_t dataLength) {
    const std::size_t once = dataLength * kReplaceSize;
    if (first.capacity() < once) first.reserve(once);
    if (second.capacity() < once * kReplaceSize) second.reserve(once * kReplaceSize);
}

void editScan(ByteSpan data, const EditSettings& settings, EditBuffers& buffers,
              std::vector<std::uint8_t>& out) {
    buffers.reserve(data.size());
    buffers.first.clear();
    replaceAll(data, fieldText(settings.replaceFrom1), fieldText(settings.replaceTo1),
               buffers.first);
    buffers.second.clear();
    replaceAll(buffers.first, fieldText(settings.replaceFrom2), fieldText(settings.replaceTo2),
               buffers.second);

    out.clear();
    if (out.capacity() < maxEditedLength(data.size())) out.reserve(maxEditedLength(data.size()));
    if (settings.prefixOn) append(out, fieldText(settings.prefixCode));
    append(out, buffers.second);
    if (settings.suffixOn) append(out, fieldText(settings.suffixCode));
    if (settings.autoEnter) {
        out.push_back('\r');
        if (settings.newLineMode) out.push_back('\n');
    }
}

// ---- RFID

RfidChoice rfidChoiceOf(const reader::RfidOutputSettings& rfid) {
    RfidChoice choice;
    choice.showUid = rfid.showRfidUid.get() != 0;
    choice.showUserData = rfid.showRfidUserData.get() != 0;
    choice.maximumLength = rfid.rfidMaximumLength.get();
    choice.fieldDelimiter = rfid.rfidFieldDelimiter;
    return choice;
}

void assembleRfid(ByteSpan uid, ByteSpan userData,
                  std::span<const std::uint8_t, reader::kRfidDelimiterSize> delimiter,
                  std::vector<std::uint8_t>& out) {
    out.clear();
    if (userData.empty()) {
        append(out, uid);
        return;
    }
    if (uid.empty()) return;  // user data never goes out without its tag's UID
    append(out, uid);
    for (std::uint8_t byte : delimiter)
        if (byte != 0) out.push_back(byte);
    append(out, userData);
}

void readRfid(const reader::ReaderOperations& ops, const RfidChoice& choice,
              const ProgramRules& rules, std::vector<std::uint8_t>& uidBuffer,
              std::vector<std::uint8_t>& dataBuffer, std::vector<std::uint8_t>& out) {
    const int size = static_cast<int>(rules.bufferSize);
    std::size_t uidLength = 0;
    unsigned char* uid = clearedBuffer(uidBuffer, rules.bufferSize);
    if (choice.showUid && ops.GetDecodeRfidUID != nullptr)
        uidLength = boundedLength(ops.GetDecodeRfidUID(uid, size), rules.bufferSize);

    std::size_t dataLength = 0;
    unsigned char* data = clearedBuffer(dataBuffer, rules.bufferSize);
    if (choice.showUserData && choice.maximumLength > 0 && ops.GetDecodeRfidData != nullptr)
        dataLength = boundedLength(ops.GetDecodeRfidData(data, size), rules.bufferSize);

    assembleRfid(ByteSpan(uidBuffer).first(uidLength), ByteSpan(dataBuffer).first(dataLength),
                 choice.fieldDelimiter, out);
}

}  // namespace qn::decode
