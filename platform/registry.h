#pragma once
// The handheld's registry, read-only. On Linux it is registry.ini in the device root, one
// section per key, e.g. [HKEY_LOCAL_MACHINE\Ident] with DeviceModel= and Name= lines.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ini.h"

namespace qn::platform {

class RegistryKey {
  public:
    explicit RegistryKey(IniSection values) : values_(std::move(values)) {}
    // A text value cut to maxBytes, or nullopt when the value does not exist.
    std::optional<std::string> text(std::string_view name, std::size_t maxBytes) const;

  private:
    IniSection values_;
};

class Registry {
  public:
    virtual ~Registry() = default;
    // nullopt when the key cannot be opened.
    virtual std::optional<RegistryKey> openKey(std::string_view path) const = 0;
};

// Reads the INI text afresh on every open, as the real registry would show current values.
class IniRegistry final : public Registry {
  public:
    explicit IniRegistry(std::filesystem::path file) : file_(std::move(file)) {}
    std::optional<RegistryKey> openKey(std::string_view path) const override;

  private:
    std::filesystem::path file_;
};

// Test double: the registry given as INI text.
class MemoryRegistry final : public Registry {
  public:
    explicit MemoryRegistry(std::string_view iniText) : ini_(IniFile::parse(iniText)) {}
    std::optional<RegistryKey> openKey(std::string_view path) const override;

  private:
    IniFile ini_;
};

}  // namespace qn::platform
