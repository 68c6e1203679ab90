// The tolerant INI parser of the device root's files: any text parses without a fault, and the
// values it finds read back without one.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qn::platform::IniFile ini = qn::platform::IniFile::parse(text);
    for (std::string_view section : {"reader", "system", "HKEY_LOCAL_MACHINE\\Ident"}) {
        if (const auto* values = ini.section(section)) {
            for (const auto& [key, value] : *values) {
                (void)ini.value(section, key);
                (void)ini.integer(section, key);
                (void)qn::platform::parseInteger(value);
            }
        }
    }
    (void)qn::platform::parseInteger(text);
    return 0;
}
