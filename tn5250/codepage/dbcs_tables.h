#pragma once
// The double-byte tables of the Chinese, Korean and Japanese languages. Their source is written
// at build time by tools/gen-dbcs from the C library's converters.

#include <cstdint>
#include <span>

namespace qn::tn {

// One host double-byte character and its local double-byte code.
struct DbcsEntry {
    std::uint8_t host1;
    std::uint8_t host2;
    std::uint8_t local1;
    std::uint8_t local2;
};

// The table of language 1 to 4, sorted ascending by host pair with no host pair twice; empty
// for every other language.
std::span<const DbcsEntry> dbcsTable(std::uint8_t language);

}  // namespace qn::tn
