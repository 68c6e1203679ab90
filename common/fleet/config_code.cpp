#include "common/fleet/config_code.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>

#include "platform/ini.h"

namespace qn::fleet {

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::size_t kSignatureBytes = 16;
constexpr std::string_view kDamaged =
    "This configuration code is damaged or cut short (its checksum does not match).";

std::string hex8(std::uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kHex[value & 0x0F];
    return text;
}

std::optional<std::string> fromHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = platform::hexDigit(text[i]), low = platform::hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

template <class Integer>
std::optional<Integer> parseDecimal(std::string_view text) {
    Integer value{};
    if (text.empty() || text.size() > 20) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string signature(std::string_view text, std::span<const std::uint8_t> key) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(text.data()), text.size(), mac.data(), &length);
    std::string hex;
    for (std::size_t i = 0; i < kSignatureBytes; ++i) {
        hex += kHex[mac[i] >> 4];
        hex += kHex[mac[i] & 0x0F];
    }
    return hex;
}

bool plainTextByte(std::uint8_t b) {
    return b > 0x20 && b < 0x7F && b != '%' && b != '&' && b != ';' && b != ',' && b != '=';
}

std::string encodeValue(const Value& value, const RecordName& name) {
    if (auto numbers = numbersText(value)) return *std::move(numbers);
    const std::string& bytes = std::get<std::string>(value);
    const bool hex = name.field->kind == reader::FieldKind::Bytes;
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (!hex && plainTextByte(b)) {
            text += c;
            continue;
        }
        if (!hex) text += '%';
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
    }
    return text;
}

std::optional<Value> decodeValue(std::string_view text, const RecordName& name) {
    if (name.operation != nullptr) {
        std::vector<std::int64_t> run;
        for (std::size_t start = 0;;) {
            const std::size_t comma = text.find(',', start);
            auto number = parseDecimal<std::int64_t>(text.substr(start, comma - start));
            if (!number || run.size() > 64) return std::nullopt;
            run.push_back(*number);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        return run;
    }
    switch (name.field->kind) {
        case reader::FieldKind::Bytes: {
            auto bytes = fromHex(text);
            if (!bytes) return std::nullopt;
            return Value{std::move(*bytes)};
        }
        case reader::FieldKind::Text: {
            std::string bytes;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] != '%') {
                    if (!plainTextByte(static_cast<std::uint8_t>(text[i]))) return std::nullopt;
                    bytes += text[i];
                    continue;
                }
                if (text.size() - i < 3) return std::nullopt;
                auto byte = fromHex(text.substr(i + 1, 2));
                if (!byte) return std::nullopt;
                bytes += *byte;
                i += 2;
            }
            return Value{std::move(bytes)};
        }
        default: {
            auto number = parseDecimal<std::int64_t>(text);
            if (!number) return std::nullopt;
            return Value{*number};
        }
    }
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t at = text.find(separator, start);
        pieces.push_back(text.substr(start, at - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return pieces;
}

}  // namespace

bool isConfigCode(std::span<const std::uint8_t> decode) {
    return decode.size() >= kConfigPrefix.size() &&
           std::equal(kConfigPrefix.begin(), kConfigPrefix.end(), decode.begin());
}

std::uint32_t crc32(std::string_view text) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : text)
        crc = table[(crc ^ static_cast<std::uint8_t>(c)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

SiteKey readKeyFile(const std::filesystem::path& file) {
    SiteKey key;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        key.error = "The site key " + file.string() + " cannot be read.";
        return key;
    }
    std::string bytes;
    bytes.resize(kMaxKeyBytes + 3);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.pop_back();
    if (bytes.size() < kMinKeyBytes || bytes.size() > kMaxKeyBytes) {
        key.error = "The site key " + file.string() + " must hold " + std::to_string(kMinKeyBytes) +
                    " to " + std::to_string(kMaxKeyBytes) + " bytes.";
        return key;
    }
    key.bytes.assign(bytes.begin(), bytes.end());
    return key;
}

SiteKey loadSiteKey(const std::filesystem::path& settingsDir) {
    const std::filesystem::path file = settingsDir / kSiteKeyFile;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return {};
    return readKeyFile(file);
}

EncodedCodes encodeConfigCodes(const RecordLayout& layout, std::span<const std::uint8_t> record,
                               std::span<const std::size_t> names,
                               std::span<const std::uint8_t> key) {
    EncodedCodes encoded;
    if (names.empty()) {
        encoded.error = "no values to put into a code";
        return encoded;
    }
    std::string body;
    for (const std::size_t index : names) {
        const RecordName name = nameAt(layout, index);
        if (!body.empty()) body += '&';
        body += std::to_string(index) + "=" + encodeValue(readValue(layout, name, record), name);
    }
    const std::string set = hex8(crc32(std::string(layout.name) + ";" + body));
    // The header at its longest (two-digit part numbers), the signature and the checksum.
    const std::size_t overhead = 6 + layout.name.size() + 1 + 8 + 1 + 5 + 1 +
                                 (key.empty() ? 0 : 2 + 2 * kSignatureBytes) + 9;
    const std::size_t chunk = kMaxCodeText - overhead;
    const std::size_t count = (body.size() + chunk - 1) / chunk;
    if (count > static_cast<std::size_t>(kMaxParts)) {
        encoded.error = "the values need " + std::to_string(count) + " codes, more than " +
                        std::to_string(kMaxParts);
        return encoded;
    }
    for (std::size_t k = 0; k < count; ++k) {
        std::string code = std::string(kConfigPrefix) + std::to_string(kConfigVersion) + ";" +
                           std::string(layout.name) + ";" + set + ";" + std::to_string(k + 1) +
                           "/" + std::to_string(count) + ";" + body.substr(k * chunk, chunk);
        if (!key.empty()) code += ";s" + signature(code, key);
        code += ";" + hex8(crc32(code));
        encoded.codes.push_back(std::move(code));
    }
    return encoded;
}

ParsedBody parseConfigBody(const RecordLayout& layout, std::string_view body) {
    ParsedBody parsed;
    std::vector<std::uint8_t> scratch(layout.size, 0);
    std::vector<bool> seen(nameCount(layout), false);
    for (std::string_view item : split(body, '&')) {
        const std::size_t equals = item.find('=');
        auto index = parseDecimal<std::size_t>(item.substr(0, equals));
        if (equals == std::string_view::npos || !index || *index >= nameCount(layout)) {
            parsed.error = "an entry names no field of a " + std::string(layout.name) + " document";
            return parsed;
        }
        const RecordName name = nameAt(layout, *index);
        if (seen[*index]) {
            parsed.error = std::string(name.name()) + ": given twice";
            return parsed;
        }
        seen[*index] = true;
        std::optional<Value> value = decodeValue(item.substr(equals + 1), name);
        if (!value) {
            parsed.error =
                std::string(name.name()) + ": the value is not written as the field's kind";
            return parsed;
        }
        if (auto error = storeValue(layout, name, *value, scratch)) {
            parsed.error = *error;
            return parsed;
        }
        parsed.values.push_back({*index, std::move(*value)});
    }
    return parsed;
}

std::optional<std::string> applyAssignments(const RecordLayout& layout,
                                            std::span<const Assignment> values,
                                            std::span<std::uint8_t> record) {
    for (const Assignment& assignment : values) {
        if (auto error =
                storeValue(layout, nameAt(layout, assignment.index), assignment.value, record)) {
            return error;
        }
    }
    return std::nullopt;
}

std::string ConfigCodeReader::missingParts() const {
    std::string list;
    for (int k = 1; k <= count_; ++k) {
        if (chunks_.contains(k)) continue;
        if (!list.empty()) list += ", ";
        list += std::to_string(k);
    }
    return list;
}

ConfigCodeReader::Outcome ConfigCodeReader::add(std::string_view code,
                                                std::span<const std::uint8_t> key) {
    Outcome outcome;
    auto reject = [&](std::string message) {
        outcome.message = std::move(message);
        return outcome;
    };
    if (code.substr(0, kConfigPrefix.size()) != kConfigPrefix) return reject(std::string(kDamaged));
    const std::string_view rest = code.substr(kConfigPrefix.size());
    const auto version = parseDecimal<int>(rest.substr(0, rest.find(';')));
    if (!version) return reject(std::string(kDamaged));
    if (*version != kConfigVersion) {
        return reject("This configuration code is version " + std::to_string(*version) +
                      "; this program reads version " + std::to_string(kConfigVersion) + ".");
    }
    const std::size_t last = code.rfind(';');
    if (last == std::string_view::npos || code.size() - last != 9)
        return reject(std::string(kDamaged));
    const std::string_view checked = code.substr(0, last);
    if (hex8(crc32(checked)) != code.substr(last + 1)) return reject(std::string(kDamaged));

    std::vector<std::string_view> pieces = split(checked, ';');
    // Version, program, set, part, chunk, and the signature when it was signed.
    if (pieces.size() != 5 && pieces.size() != 6) return reject(std::string(kDamaged));
    // A signature is checked only against a key, but it always has its form.
    if (pieces.size() == 6 && (pieces[5].size() != 1 + 2 * kSignatureBytes || pieces[5][0] != 's' ||
                               !fromHex(pieces[5].substr(1)))) {
        return reject(std::string(kDamaged));
    }
    if (pieces[1] != layout_.name) {
        if (pieces[1] != "vt" && pieces[1] != "5250") return reject(std::string(kDamaged));
        return reject("This configuration code is for the " + std::string(pieces[1]) + " program.");
    }
    if (!key.empty()) {
        const std::size_t signedLength =
            checked.size() - (pieces.size() == 6 ? pieces[5].size() + 1 : 0);
        if (pieces.size() != 6 ||
            CRYPTO_memcmp(signature(checked.substr(0, signedLength), key).data(),
                          pieces[5].data() + 1, 2 * kSignatureBytes) != 0) {
            return reject("This configuration code is not signed with this site's key.");
        }
    }
    const auto set = fromHex(pieces[2]);
    const std::size_t slash = pieces[3].find('/');
    const auto part = parseDecimal<int>(pieces[3].substr(0, slash));
    std::optional<int> count;
    if (slash != std::string_view::npos) count = parseDecimal<int>(pieces[3].substr(slash + 1));
    if (!set || set->size() != 4 || !part || !count || *part < 1 || *part > *count ||
        *count > kMaxParts) {
        return reject(std::string(kDamaged));
    }
    const std::uint32_t setId = static_cast<std::uint32_t>(
        static_cast<std::uint8_t>((*set)[0]) << 24 | static_cast<std::uint8_t>((*set)[1]) << 16 |
        static_cast<std::uint8_t>((*set)[2]) << 8 | static_cast<std::uint8_t>((*set)[3]));

    std::string note;
    if (!chunks_.empty() && (setId != set_ || *count != count_)) {
        note = "The " + std::to_string(chunks_.size()) +
               " part(s) read before belong to another configuration and were discarded. ";
        chunks_.clear();
    }
    set_ = setId;
    count_ = *count;
    const std::string partName =
        "Configuration code part " + std::to_string(*part) + " of " + std::to_string(*count);
    if (chunks_.contains(*part)) {
        outcome.result = Result::Waiting;
        outcome.message = partName + " was already read; still to scan: " + missingParts() + ".";
        return outcome;
    }
    chunks_[*part] = std::string(pieces[4]);
    if (static_cast<int>(chunks_.size()) < count_) {
        outcome.result = Result::Waiting;
        outcome.message = note + partName + " read; still to scan: " + missingParts() + ".";
        return outcome;
    }
    std::string body;
    for (const auto& [k, chunk] : chunks_)
        body += chunk;
    chunks_.clear();
    if (crc32(std::string(layout_.name) + ";" + body) != set_) {
        return reject("The parts of this configuration do not belong together.");
    }
    ParsedBody parsed = parseConfigBody(layout_, body);
    if (!parsed.error.empty()) {
        return reject("This configuration code cannot be applied: " + parsed.error + ".");
    }
    outcome.result = Result::Complete;
    outcome.values = std::move(parsed.values);
    return outcome;
}

}  // namespace qn::fleet
