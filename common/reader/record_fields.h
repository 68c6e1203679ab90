#pragma once
// Building blocks of the session records: every field is made of bytes, so a record has no
// padding of its own, its offsets are exactly those of the file format, and integers read the
// same on any host.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qn::reader {

template <std::size_t N>
using Bytes = std::array<std::uint8_t, N>;

// A little-endian 32-bit integer field.
struct LeInt32 {
    Bytes<4> raw{};

    constexpr std::int32_t get() const {
        std::uint32_t v =
            static_cast<std::uint32_t>(raw[0]) | (static_cast<std::uint32_t>(raw[1]) << 8) |
            (static_cast<std::uint32_t>(raw[2]) << 16) | (static_cast<std::uint32_t>(raw[3]) << 24);
        return static_cast<std::int32_t>(v);
    }
    constexpr void set(std::int32_t value) {
        auto v = static_cast<std::uint32_t>(value);
        for (std::size_t i = 0; i < 4; ++i)
            raw[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
};

// A little-endian unsigned 16-bit integer field.
struct LeUint16 {
    Bytes<2> raw{};

    constexpr std::uint16_t get() const {
        return static_cast<std::uint16_t>(raw[0] | (raw[1] << 8));
    }
    constexpr void set(std::uint16_t value) {
        raw[0] = static_cast<std::uint8_t>(value);
        raw[1] = static_cast<std::uint8_t>(value >> 8);
    }
};

static_assert(sizeof(LeInt32) == 4 && alignof(LeInt32) == 1);
static_assert(sizeof(LeUint16) == 2 && alignof(LeUint16) == 1);

// The length of a fixed-width text or byte string: up to its first zero byte, or the whole
// width when it has none.
inline std::size_t fixedLength(std::span<const std::uint8_t> field) {
    return static_cast<std::size_t>(std::find(field.begin(), field.end(), 0) - field.begin());
}

// The text of a fixed-width field; never reaches past the field.
inline std::string_view fixedText(std::span<const std::uint8_t> field) {
    return {reinterpret_cast<const char*>(field.data()), fixedLength(field)};
}

// Stores a text in a fixed-width field: the field is zero-filled, then receives as many bytes
// as fit. A text that fills the field has no terminating zero.
inline void storeText(std::span<std::uint8_t> field, std::string_view text) {
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    std::size_t n = std::min(text.size(), field.size());
    std::copy_n(reinterpret_cast<const std::uint8_t*>(text.data()), n, field.begin());
}

inline void storeBytes(std::span<std::uint8_t> field, std::span<const std::uint8_t> bytes) {
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    std::copy_n(bytes.begin(), std::min(bytes.size(), field.size()), field.begin());
}

// How a named field of a record is shown and changed by the settings tool.
enum class FieldKind {
    Text,   // single-byte text, fixed width
    Bytes,  // byte string (codes, frames, key tables, library blocks)
    U8,
    U16,
    I32,
};

struct FieldInfo {
    std::string_view name;
    std::size_t offset;
    std::size_t size;
    FieldKind kind;
    std::int64_t min = 0;  // numbers only
    std::int64_t max = 0;
};

}  // namespace qn::reader
