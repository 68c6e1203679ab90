#pragma once
// A tolerant reader for the small INI files of the device root (registry.ini, system.ini,
// reader.ini). Lines that do not parse are skipped; nothing here throws on bad input.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qn::platform {

struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

using IniSection = std::map<std::string, std::string, CaseInsensitiveLess>;

class IniFile {
  public:
    // Files above this size are treated as unreadable: a settings file is a few lines.
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;

    static IniFile parse(std::string_view text);
    // nullopt when the file is missing, unreadable or larger than kMaxFileBytes.
    static std::optional<IniFile> load(const std::filesystem::path& file);

    const IniSection* section(std::string_view name) const;
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // An integer in decimal or 0x hex; nullopt when absent or malformed.
    std::optional<long long> integer(std::string_view section, std::string_view key) const;

  private:
    std::map<std::string, IniSection, CaseInsensitiveLess> sections_;
};

std::optional<long long> parseInteger(std::string_view text);

// The value of a hex digit of either case, or -1.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace qn::platform
