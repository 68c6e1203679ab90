// Writes the four double-byte tables of the 5250 terminal as C++ source. Each table pairs the
// host double-byte code of one EBCDIC code page with the handheld's local double-byte code; both
// directions come from the C library's own converters (iconv), through Unicode. Run at build
// time; a table that does not keep its required shape fails the build.
//
// usage: qn-gen-dbcs OUTPUT.cpp

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::uint16_t host;
    std::uint16_t local;
};

struct Expected {
    std::uint16_t host;
    std::uint16_t local;
};

// One language's table: where the codes come from and the shape the terminal relies on.
struct TableSource {
    int language;
    const char* name;       // the C++ array
    const char* hostCode;   // iconv name of the host code page
    const char* localCode;  // iconv name of the local code page
    std::uint16_t hostLow, hostHigh;
    std::uint16_t localLow, localHigh;
    Expected first[3];
};

// The host code page 933 module of the C library lacks most of the 11172 modern Hangul
// syllables; its superset 1364 carries them at the same host codes (every pair both know is
// identical), so the Korean table is read from 1364 within 933's double-byte range.
// The Japanese table pairs 930 with IBM's own Shift-JIS (943), which carries the IBM
// extension rows up to 0xFC4B that the local code page shares.
constexpr TableSource kTables[] = {
    {1,
     "kDbcsTraditionalChinese",
     "IBM937",
     "CP950",
     0x4040,
     0x91C7,
     0xA140,
     0xF9D5,
     {{0x4040, 0xA140}, {0x4141, 0xA35C}, {0x4142, 0xA35D}}},
    {2,
     "kDbcsSimplifiedChinese",
     "IBM935",
     "CP936",
     0x4040,
     0x6C9F,
     0x8CE0,
     0xF7FE,
     {{0x4040, 0xA1A1}, {0x4141, 0xA6C1}, {0x4142, 0xA6C2}}},
    {3,
     "kDbcsKorean",
     "IBM1364",
     "CP949",
     0x4040,
     0xD3BD,
     0x8141,
     0xFDFE,
     {{0x4040, 0xA1A1}, {0x4141, 0xA1A2}, {0x4142, 0xA1A3}}},
    {4,
     "kDbcsJapanese",
     "IBM930",
     "IBM943",
     0x4040,
     0x6885,
     0x8140,
     0xFC4B,
     {{0x4040, 0x8140}, {0x4141, 0x83BF}, {0x4142, 0x83C0}}},
};

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            std::fprintf(stderr, "qn-gen-dbcs: no converter from %s to %s\n", from, to);
            std::exit(1);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The whole input converted from the initial shift state, or an empty result on failure.
    std::vector<std::uint8_t> run(const std::uint8_t* input, std::size_t length) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::uint8_t output[32];
        char* in = const_cast<char*>(reinterpret_cast<const char*>(input));
        char* out = reinterpret_cast<char*>(output);
        std::size_t inLeft = length, outLeft = sizeof output;
        if (iconv(cd_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0 ||
            iconv(cd_, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
            return {};
        }
        return {output, output + (sizeof output - outLeft)};
    }

  private:
    iconv_t cd_;
};

bool isPrivateUse(std::uint32_t codePoint) {
    return (codePoint >= 0xE000 && codePoint <= 0xF8FF) || codePoint >= 0xF0000;
}

std::vector<Entry> buildTable(const TableSource& source) {
    Converter toUnicode("UCS-4BE", source.hostCode);
    Converter toLocal(source.localCode, "UCS-4BE");
    std::vector<Entry> table;
    for (unsigned host = source.hostLow; host <= source.hostHigh; ++host) {
        const std::uint8_t first = static_cast<std::uint8_t>(host >> 8);
        const std::uint8_t second = static_cast<std::uint8_t>(host);
        if (second < 0x40 || second == 0xFF) continue;
        // A lone double-byte character between shift-out and shift-in.
        const std::uint8_t shifted[] = {0x0E, first, second, 0x0F};
        const auto unicode = toUnicode.run(shifted, sizeof shifted);
        if (unicode.size() != 4) continue;
        const std::uint32_t codePoint = static_cast<std::uint32_t>(unicode[0]) << 24 |
                                        static_cast<std::uint32_t>(unicode[1]) << 16 |
                                        static_cast<std::uint32_t>(unicode[2]) << 8 | unicode[3];
        // User-defined characters have no agreed meaning on either side.
        if (isPrivateUse(codePoint) || codePoint == 0xFFFD) continue;
        const auto local = toLocal.run(unicode.data(), unicode.size());
        if (local.size() != 2) continue;
        const std::uint16_t localPair = static_cast<std::uint16_t>(local[0] << 8 | local[1]);
        if (localPair < source.localLow || localPair > source.localHigh) continue;
        table.push_back({static_cast<std::uint16_t>(host), localPair});
    }
    return table;
}

// The shape the terminal's searches rely on.
bool check(const TableSource& source, const std::vector<Entry>& table) {
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "qn-gen-dbcs: language %d: %s\n", source.language, what);
        return false;
    };
    if (table.size() < 3) return fail("too few entries");
    for (std::size_t i = 1; i < table.size(); ++i) {
        if (table[i - 1].host >= table[i].host) return fail("not sorted by host pair");
    }
    for (int i = 0; i < 3; ++i) {
        if (table[i].host != source.first[i].host || table[i].local != source.first[i].local) {
            return fail("first entries differ");
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qn-gen-dbcs OUTPUT.cpp\n");
        return 2;
    }
    std::string out =
        "// Generated by qn-gen-dbcs (tools/gen-dbcs) from the C library's code page converters.\n"
        "// Do not edit; the build writes it again.\n\n"
        "#include \"tn5250/codepage/dbcs_tables.h\"\n\n"
        "namespace qn::tn {\n\nnamespace {\n";
    std::string lookup =
        "std::span<const DbcsEntry> dbcsTable(std::uint8_t language) {\n"
        "    switch (language) {\n";
    char line[160];
    for (const TableSource& source : kTables) {
        const auto table = buildTable(source);
        if (!check(source, table)) return 1;
        std::printf("qn-gen-dbcs: language %d (%s to %s): %zu entries\n", source.language,
                    source.hostCode, source.localCode, table.size());
        std::snprintf(line, sizeof line, "\n// host %s, local %s\nconst DbcsEntry %s[%zu] = {\n",
                      source.hostCode, source.localCode, source.name, table.size());
        out += line;
        for (std::size_t i = 0; i < table.size(); ++i) {
            const Entry& e = table[i];
            std::snprintf(line, sizeof line, "%s{0x%02X, 0x%02X, 0x%02X, 0x%02X},",
                          i % 6 == 0 ? "    " : " ", e.host >> 8, e.host & 0xFF, e.local >> 8,
                          e.local & 0xFF);
            out += line;
            if (i % 6 == 5 || i + 1 == table.size()) out += '\n';
        }
        out += "};\n";
        std::snprintf(line, sizeof line, "        case %d:\n            return %s;\n",
                      source.language, source.name);
        lookup += line;
    }
    out += "\n}  // namespace\n\n" + lookup +
           "        default:\n            return {};\n    }\n}\n\n}  // namespace qn::tn\n";

    // Written whole or not at all, so an interrupted build never leaves half a table.
    const std::string temporary = std::string(argv[1]) + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "qn-gen-dbcs: cannot write %s: %s\n", temporary.c_str(),
                     std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), argv[1]) != 0) {
        std::fprintf(stderr, "qn-gen-dbcs: cannot write %s\n", argv[1]);
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
