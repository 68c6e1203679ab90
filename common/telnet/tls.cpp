#include "common/telnet/tls.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "platform/ini.h"
#include "platform/paths.h"

namespace qn::telnet {

namespace {

std::mutex loadMutex;
CreateTlsClient createClient = nullptr;
std::string loadError;

// QUILLNET_TLS_MODULE, else beside the program, else in the installed library folder.
void loadModule() {
    std::vector<std::filesystem::path> candidates;
    if (const char* path = std::getenv("QUILLNET_TLS_MODULE"); path != nullptr && *path != 0) {
        candidates.emplace_back(path);
    }
    const std::filesystem::path bin = platform::executableDir();
    candidates.push_back(bin / kTlsModuleName);
    candidates.push_back(bin.parent_path() / "lib" / "quillnet" / kTlsModuleName);
    for (const auto& candidate : candidates) {
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) continue;
        createClient = reinterpret_cast<CreateTlsClient>(::dlsym(module, kTlsEntryPoint));
        if (createClient != nullptr) return;
        ::dlclose(module);
    }
    loadError = std::string("TLS not available: ") + kTlsModuleName + " not found";
}

}  // namespace

std::optional<Fingerprint> parseFingerprint(std::string_view text) {
    Fingerprint result{};
    std::size_t digits = 0;
    int high = -1;
    for (char c : text) {
        if (c == ':' || c == ' ') continue;
        const int value = platform::hexDigit(c);
        if (value < 0 || digits >= 2 * result.size()) return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            result[digits / 2] = static_cast<std::uint8_t>(high << 4 | value);
            high = -1;
        }
        ++digits;
    }
    if (digits != 2 * result.size()) return std::nullopt;
    return result;
}

std::string formatFingerprint(const Fingerprint& fingerprint) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : fingerprint) {
        if (!text.empty()) text += ':';
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

bool tlsModuleLoaded() {
    std::lock_guard lock(loadMutex);
    return createClient != nullptr;
}

std::unique_ptr<TlsClient> TlsClient::create(const TlsSettings& settings, std::string& error) {
    CreateTlsClient create;
    {
        std::lock_guard lock(loadMutex);
        if (createClient == nullptr) loadModule();
        create = createClient;
        if (create == nullptr) {
            error = loadError;
            return nullptr;
        }
    }
    return std::unique_ptr<TlsClient>(create(settings, error));
}

}  // namespace qn::telnet
