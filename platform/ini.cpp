#include "platform/ini.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

namespace qn::platform {

namespace {

// Names compare without regard to ASCII case, whatever the process's locale: a table, so that
// comparing two names costs a read per character and no call.
constexpr auto kLower = [] {
    std::array<unsigned char, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c)
        table[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return table;
}();

// The entry of a name, made when the map has none; a name met again, in any case, keeps the
// entry and the spelling it was first met with.
template <class Map>
typename Map::mapped_type& entry(Map& map, std::string_view name) {
    auto it = map.lower_bound(name);
    if (it == map.end() || map.key_comp()(name, it->first)) {
        it = map.emplace_hint(it, std::string(name), typename Map::mapped_type{});
    }
    return it->second;
}

std::string_view trim(std::string_view s) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        // Compared as chars: where char is signed, bytes above 0x7F sort before ASCII.
        const auto x = static_cast<char>(kLower[static_cast<unsigned char>(a[i])]);
        const auto y = static_cast<char>(kLower[static_cast<unsigned char>(b[i])]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    IniSection* current = nullptr;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            if (close == std::string_view::npos) {
                current = nullptr;  // a broken header hides its lines rather than misfiling them
                continue;
            }
            current = &entry(ini.sections_, trim(line.substr(1, close - 1)));
            continue;
        }
        std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos) continue;
        std::string_view key = trim(line.substr(0, eq));
        std::string_view val = trim(line.substr(eq + 1));
        if (key.empty()) continue;
        if (val.size() >= 2 && val.front() == '"' && val.back() == '"') {
            val = val.substr(1, val.size() - 2);
        }
        entry(*current, key).assign(val);
    }
    return ini;
}

std::optional<IniFile> IniFile::load(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxFileBytes) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(size, '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parse(text);
}

const IniSection* IniFile::section(std::string_view name) const {
    auto it = sections_.find(name);
    return it == sections_.end() ? nullptr : &it->second;
}

std::optional<std::string> IniFile::value(std::string_view sectionName,
                                          std::string_view key) const {
    const IniSection* s = section(sectionName);
    if (s == nullptr) return std::nullopt;
    auto it = s->find(key);
    if (it == s->end()) return std::nullopt;
    return it->second;
}

std::optional<long long> IniFile::integer(std::string_view sectionName,
                                          std::string_view key) const {
    auto text = value(sectionName, key);
    if (!text) return std::nullopt;
    return parseInteger(*text);
}

std::optional<long long> parseInteger(std::string_view text) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    long long result = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), result, base);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return negative ? -result : result;
}

}  // namespace qn::platform
