#include "common/fleet/record_values.h"

#include <algorithm>
#include <limits>

namespace qn::fleet {

using reader::FieldInfo;
using reader::FieldKind;

namespace {

std::span<const std::uint8_t> withoutTrailingZeros(std::span<const std::uint8_t> bytes) {
    std::size_t n = bytes.size();
    while (n > 0 && bytes[n - 1] == 0)
        --n;
    return bytes.first(n);
}

std::size_t engineOffset(const RecordLayout& layout, const reader::EngineOperation& op) {
    return layout.engineBegin + reader::engineRunOffset(op, layout.program);
}

std::string rangeRule(std::int64_t min, std::int64_t max) {
    return "a number in " + std::to_string(min) + ".." + std::to_string(max);
}

const char* kindRule(const Value& value) {
    if (std::holds_alternative<std::int64_t>(value)) return "a number";
    if (std::holds_alternative<std::string>(value)) return "a text";
    return "a list of numbers";
}

}  // namespace

std::size_t nameCount(const RecordLayout& layout) {
    return layout.fields.size() + reader::kEngineOperations.size();
}

RecordName nameAt(const RecordLayout& layout, std::size_t index) {
    if (index < layout.fields.size()) return {&layout.fields[index], nullptr};
    return {nullptr, &reader::kEngineOperations[index - layout.fields.size()]};
}

std::optional<std::size_t> indexOf(const RecordLayout& layout, std::string_view name) {
    for (std::size_t i = 0; i < nameCount(layout); ++i) {
        if (nameAt(layout, i).name() == name) return i;
    }
    return std::nullopt;
}

bool isSecret(const RecordName& name) {
    return name.field != nullptr && name.field->name.find("Password") != std::string_view::npos;
}

Value readValue(const RecordLayout& layout, const RecordName& name,
                std::span<const std::uint8_t> record) {
    if (name.operation != nullptr) {
        std::vector<std::int64_t> run;
        const std::size_t offset = engineOffset(layout, *name.operation);
        for (int i = 0; i < name.operation->values; ++i) {
            reader::LeInt32 v;
            std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(offset + 4 * i), 4,
                        v.raw.begin());
            run.push_back(v.get());
        }
        return run;
    }
    const FieldInfo& field = *name.field;
    auto bytes = record.subspan(field.offset, field.size);
    switch (field.kind) {
        case FieldKind::Text:
            return std::string(reader::fixedText(bytes));
        case FieldKind::Bytes: {
            auto used = withoutTrailingZeros(bytes);
            return std::string(used.begin(), used.end());
        }
        case FieldKind::U8:
            return std::int64_t{bytes[0]};
        case FieldKind::U16:
            return std::int64_t{bytes[0] | (bytes[1] << 8)};
        case FieldKind::I32: {
            reader::LeInt32 v;
            std::copy_n(bytes.begin(), 4, v.raw.begin());
            return std::int64_t{v.get()};
        }
    }
    return std::int64_t{0};
}

std::optional<std::string> storeValue(const RecordLayout& layout, const RecordName& name,
                                      const Value& value, std::span<std::uint8_t> record) {
    // Made only for an error: most values break no rule.
    auto label = [&name] { return std::string(name.name()); };
    if (name.operation != nullptr) {
        const auto* run = std::get_if<std::vector<std::int64_t>>(&value);
        const auto count = static_cast<std::size_t>(name.operation->values);
        if (run == nullptr) {
            return label() + ": " + kindRule(value) + " given, the operation takes a list of " +
                   std::to_string(count) + " numbers";
        }
        if (run->size() != count) {
            return label() + ": " + std::to_string(run->size()) +
                   " values given, the operation has " + std::to_string(count);
        }
        for (std::size_t i = 0; i < count; ++i) {
            if ((*run)[i] < std::numeric_limits<std::int32_t>::min() ||
                (*run)[i] > std::numeric_limits<std::int32_t>::max()) {
                return label() + "[" + std::to_string(i) + "]: " + std::to_string((*run)[i]) +
                       " is not " + rangeRule(INT32_MIN, INT32_MAX);
            }
        }
        const std::size_t offset = engineOffset(layout, *name.operation);
        for (std::size_t i = 0; i < count; ++i) {
            reader::LeInt32 v;
            v.set(static_cast<std::int32_t>((*run)[i]));
            std::copy_n(v.raw.begin(), 4,
                        record.begin() + static_cast<std::ptrdiff_t>(offset + 4 * i));
        }
        return std::nullopt;
    }
    const FieldInfo& field = *name.field;
    auto bytes = record.subspan(field.offset, field.size);
    if (field.kind == FieldKind::Text || field.kind == FieldKind::Bytes) {
        const auto* text = std::get_if<std::string>(&value);
        if (text == nullptr) {
            return label() + ": " + kindRule(value) + " given, the field takes " +
                   (field.kind == FieldKind::Text ? "a text" : "hex bytes");
        }
        if (text->size() > field.size) {
            return label() + ": " + std::to_string(text->size()) +
                   " bytes given, the field holds " + std::to_string(field.size);
        }
        if (field.kind == FieldKind::Text && text->find('\0') != std::string::npos) {
            return label() + ": a text holds no zero byte";
        }
        std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
        std::copy(text->begin(), text->end(), bytes.begin());
        return std::nullopt;
    }
    const auto* number = std::get_if<std::int64_t>(&value);
    if (number == nullptr)
        return label() + ": " + kindRule(value) + " given, the field takes " +
               rangeRule(field.min, field.max);
    if (*number < field.min || *number > field.max) {
        return label() + ": " + std::to_string(*number) + " is not " +
               rangeRule(field.min, field.max);
    }
    for (std::size_t i = 0; i < field.size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(*number) >> (8 * i));
    }
    return std::nullopt;
}

std::optional<std::string> numbersText(const Value& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
    if (const auto* run = std::get_if<std::vector<std::int64_t>>(&value)) {
        std::string text;
        for (std::size_t i = 0; i < run->size(); ++i) {
            if (i != 0) text += ',';
            text += std::to_string((*run)[i]);
        }
        return text;
    }
    return std::nullopt;
}

std::string showValue(const Value& value, const RecordName& name) {
    constexpr char kHex[] = "0123456789abcdef";
    if (auto numbers = numbersText(value)) return *std::move(numbers);
    const std::string& bytes = std::get<std::string>(value);
    std::string text;
    if (name.field != nullptr && name.field->kind == FieldKind::Bytes) {
        for (const char c : bytes) {
            text += kHex[static_cast<std::uint8_t>(c) >> 4];
            text += kHex[static_cast<std::uint8_t>(c) & 0x0F];
        }
        return text;
    }
    text += '"';
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            text += c;
        } else {
            text += "\\x";
            text += kHex[b >> 4];
            text += kHex[b & 0x0F];
        }
    }
    text += '"';
    return text;
}

std::vector<std::string> describeChanges(const RecordLayout& layout,
                                         std::span<const std::uint8_t> before,
                                         std::span<const std::uint8_t> after) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < nameCount(layout); ++i) {
        const RecordName name = nameAt(layout, i);
        const Value old = readValue(layout, name, before);
        const Value now = readValue(layout, name, after);
        if (old == now) continue;
        if (isSecret(name)) {
            lines.push_back(std::string(name.name()) + ": changed");
        } else {
            lines.push_back(std::string(name.name()) + ": " + showValue(old, name) + " -> " +
                            showValue(now, name));
        }
    }
    return lines;
}

}  // namespace qn::fleet
