#include "plugins/common/plugin_support.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace qn::plugin {

namespace {
// Any address inside this module names the module to dladdr: the static helper is linked into
// each plugin, so each finds its own file.
void anchor() {}
}  // namespace

std::filesystem::path ownFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&anchor), &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] == '\0') {
        return {};
    }
    std::error_code ec;
    auto file = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::filesystem::path() : file.lexically_normal();
}

std::filesystem::path deviceRoot() {
    if (auto file = ownFile(); !file.empty()) return file.parent_path();
    if (const char* root = std::getenv("QUILLNET_DEVICE_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    std::error_code ec;
    return std::filesystem::current_path(ec);
}

int copyOut(std::string_view text, void* buffer, int size) {
    if (buffer == nullptr || size < 1) return 0;
    std::size_t count = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    auto* out = static_cast<unsigned char*>(buffer);
    if (count > 0) std::memcpy(out, text.data(), count);
    out[count] = 0;
    return static_cast<int>(count);
}

}  // namespace qn::plugin
