#include "tn5250/screen/run_length.h"

#include <algorithm>
#include <cstring>

namespace qn::tn {

namespace {

constexpr std::size_t kMaxLiteral = 128;
constexpr std::size_t kMaxRepeat = 129;

}  // namespace

// Runs of three or more equal bytes are repeated, everything else goes as it is; so nothing
// grows by more than a control byte per 128. One pass: a literal ends where the third of three
// equal bytes shows.
void packRuns(std::span<const std::uint8_t> cells, std::vector<std::uint8_t>& out) {
    const std::uint8_t* const c = cells.data();
    const std::size_t n = cells.size();
    std::size_t i = 0;
    while (i < n) {
        // Blank and null stretches are long: the run is measured eight bytes at a time.
        const std::size_t limit = std::min(n - i, kMaxRepeat);
        const std::uint64_t pattern = c[i] * 0x0101010101010101ull;
        std::size_t run = 1;
        for (std::uint64_t word = 0; run + 8 <= limit; run += 8) {
            std::memcpy(&word, c + i + run, 8);
            if (word != pattern) break;
        }
        while (run < limit && c[i + run] == c[i])
            ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(0x7E + run));
            out.push_back(c[i]);
            i += run;
            continue;
        }
        // The bytes at i have no run of three, so a run found here starts past i.
        std::size_t literal = std::min(n - i, kMaxLiteral);
        const std::size_t last = std::min(n, i + literal + 2);
        std::size_t q = i + 2;  // where the third of three equal bytes may show
        // Eight places at a time: a byte of d is zero where a byte equals the two before it,
        // and the word test is true exactly when some byte of d is zero.
        for (std::uint64_t x = 0, y = 0, z = 0; q + 8 <= last; q += 8) {
            std::memcpy(&x, c + q, 8);
            std::memcpy(&y, c + q - 1, 8);
            std::memcpy(&z, c + q - 2, 8);
            const std::uint64_t d = (x ^ y) | (y ^ z);
            if (((d - 0x0101010101010101ull) & ~d & 0x8080808080808080ull) != 0) break;
        }
        for (; q < last; ++q) {
            if (c[q] == c[q - 1] && c[q - 1] == c[q - 2]) {
                literal = std::min(literal, q - 2 - i);
                break;
            }
        }
        out.push_back(static_cast<std::uint8_t>(literal - 1));
        out.insert(out.end(), c + i, c + i + literal);
        i += literal;
    }
}

// Fills cells exactly from the runs; false when they give more or fewer bytes than that, or
// bytes are left over.
bool unpackRuns(std::span<const std::uint8_t> runs, std::span<std::uint8_t> cells) {
    std::size_t in = 0;
    std::size_t out = 0;
    while (in < runs.size()) {
        const std::uint8_t control = runs[in++];
        if (control < 0x80) {
            const std::size_t count = control + 1u;
            if (in + count > runs.size() || out + count > cells.size()) return false;
            std::copy_n(runs.begin() + long(in), count, cells.begin() + long(out));
            in += count;
            out += count;
        } else {
            const std::size_t count = control - 0x7Eu;
            if (in >= runs.size() || out + count > cells.size()) return false;
            std::fill_n(cells.begin() + long(out), count, runs[in++]);
            out += count;
        }
    }
    return out == cells.size();
}

}  // namespace qn::tn
