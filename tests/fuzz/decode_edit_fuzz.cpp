// The decode checks, edits and RFID assembly over any settings image and any decode: nothing is
// read outside a buffer, and every result stays within the bound the work buffers are sized for.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/scan/decode_processing.h"
#include "vt/settings/vt_settings.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qn;
    if (size < 1) return 0;
    const decode::ProgramRules& rules = (data[0] & 1) ? decode::kTnRules : decode::kVtRules;
    const bool newLineMode = (data[0] & 2) != 0;
    ++data;
    --size;

    // The settings image first (zero-filled when short), the decode after it.
    vt::VtSettings settings{};
    const std::size_t imageBytes = std::min(size, vt::kVtSettingsSize);
    std::memcpy(settings.bytes().data(), data, imageBytes);
    data += imageBytes;
    size -= imageBytes;

    // The buffer as the library leaves it: the decode, then zeros; the reported length may lie.
    // Buffers reused across runs: allocations would cost more than the edits.
    static std::vector<std::uint8_t> buffer;
    static std::vector<std::uint8_t> out;
    static std::vector<std::uint8_t> rfid;
    static decode::EditBuffers buffers;
    buffer.assign(rules.bufferSize, 0);
    const std::size_t copied = std::min(size, rules.bufferSize);
    std::copy_n(data, copied, buffer.begin());
    const int reported = size >= 2 ? static_cast<int>(data[0] | (data[1] << 8)) - 2 : -1;
    const std::size_t length = decode::boundedLength(reported, rules.bufferSize);
    buffer.back() = 0;

    const decode::CheckResult checked = decode::checkBarcode(
        buffer, length, decode::checkSettingsOf(vt::readerSettings(settings).scan));
    if (checked.failure == decode::CheckFailure::None) {
        require(checked.data.size() <= length);
        require(checked.data.empty() ||
                (checked.data.data() >= buffer.data() &&
                 checked.data.data() + checked.data.size() <= buffer.data() + buffer.size()));
        decode::EditSettings edit;
        edit.replaceFrom1 = settings.replaceFrom1;
        edit.replaceTo1 = settings.replaceTo1;
        edit.replaceFrom2 = settings.replaceFrom2;
        edit.replaceTo2 = settings.replaceTo2;
        edit.prefixOn = settings.prefixOn != 0;
        edit.prefixCode = settings.prefixCode;
        edit.suffixOn = settings.suffixOn != 0;
        edit.suffixCode = settings.suffixCode;
        edit.autoEnter = settings.autoEnter != 0;
        edit.newLineMode = newLineMode;
        out.clear();
        decode::editScan(checked.data, edit, buffers, out);
        require(out.size() <= decode::maxEditedLength(checked.data.size()));
        require(std::find(out.begin(), out.end(), 0) == out.end());
    } else {
        require(checked.data.empty());
    }

    // The same bytes as an RFID read: the first half the UID, the rest the user data.
    const std::size_t half = std::min(size / 2, rules.bufferSize - 1);
    const std::size_t rest = std::min(size - half, rules.bufferSize - 1);
    rfid.clear();
    decode::assembleRfid({data, half}, {data + half, rest}, settings.rfid.rfidFieldDelimiter, rfid);
    require(rfid.size() <= half + rest + qn::reader::kRfidDelimiterSize);
    if (half == 0 && rest > 0) require(rfid.empty());
    return 0;
}
