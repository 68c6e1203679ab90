#include "platform/registry.h"

namespace qn::platform {

std::optional<std::string> RegistryKey::text(std::string_view name, std::size_t maxBytes) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    std::string value = it->second.substr(0, maxBytes);
    // A registry string ends at its first terminator.
    if (auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
    return value;
}

namespace {
std::optional<RegistryKey> keyFrom(const IniFile& ini, std::string_view path) {
    const IniSection* section = ini.section(path);
    if (section == nullptr) return std::nullopt;
    return RegistryKey(*section);
}
}  // namespace

std::optional<RegistryKey> IniRegistry::openKey(std::string_view path) const {
    auto ini = IniFile::load(file_);
    if (!ini) return std::nullopt;
    return keyFrom(*ini, path);
}

std::optional<RegistryKey> MemoryRegistry::openKey(std::string_view path) const {
    return keyFrom(ini_, path);
}

}  // namespace qn::platform
