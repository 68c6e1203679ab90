#include "platform/paths.h"

#include <cstdlib>
#include <system_error>

namespace qn::platform {

namespace {
const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}
}  // namespace

std::filesystem::path executableDir() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

std::filesystem::path deviceRoot() {
    if (const char* root = nonEmptyEnv("QUILLNET_DEVICE_ROOT")) {
        return std::filesystem::absolute(root);
    }
    // The build tree keeps it in device/ beside bin/, the installed package in lib/quillnet.
    const std::filesystem::path prefix = executableDir().parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(prefix / "device", ec) &&
        std::filesystem::is_directory(prefix / "lib" / "quillnet", ec)) {
        return (prefix / "lib" / "quillnet").lexically_normal();
    }
    return (prefix / "device").lexically_normal();
}

std::filesystem::path settingsDir() {
    if (const char* home = nonEmptyEnv("QUILLNET_HOME")) return home;
    if (const char* xdg = nonEmptyEnv("XDG_CONFIG_HOME")) {
        return std::filesystem::path(xdg) / "QuillNet";
    }
    if (const char* home = nonEmptyEnv("HOME")) {
        return std::filesystem::path(home) / ".config" / "QuillNet";
    }
    return std::filesystem::path(".config") / "QuillNet";
}

}  // namespace qn::platform
