#include "common/telnet/connection_options.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/paths.h"

namespace qn::telnet {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<bool> parseBool(std::string_view text) {
    const std::string v = lower(text);
    if (v == "on" || v == "yes" || v == "true" || v == "1") return true;
    if (v == "off" || v == "no" || v == "false" || v == "0") return false;
    return std::nullopt;
}

// Whole seconds in [low, high].
std::optional<int> parseSeconds(std::string_view text, int low, int high) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<KeepAlive> parseKeepAlive(std::string_view text) {
    if (auto flag = parseBool(text)) {
        KeepAlive keepalive;
        keepalive.on = *flag;
        return keepalive;
    }
    // idle,interval,probes
    std::vector<int> parts;
    while (true) {
        const auto comma = text.find(',');
        auto part = parseSeconds(trim(text.substr(0, comma)), 1, 32767);
        if (!part) return std::nullopt;
        parts.push_back(*part);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (parts.size() != 3 || parts[2] > 127) return std::nullopt;
    KeepAlive keepalive;
    keepalive.idle = std::chrono::seconds(parts[0]);
    keepalive.interval = std::chrono::seconds(parts[1]);
    keepalive.probes = parts[2];
    return keepalive;
}

// Applies one key; the reason when the key or its value is not understood.
std::string apply(ConnectionOptions& options, std::string_view key, std::string_view value) {
    auto flag = [&](auto setter) -> std::string {
        const auto parsed = parseBool(value);
        if (!parsed) return "\"" + std::string(key) + "\" wants on or off";
        setter(*parsed);
        return {};
    };
    if (key == "tls") return flag([&](bool v) { options.tls = v; });
    if (key == "verify") return flag([&](bool v) { options.verify = v; });
    if (key == "reconnect") return flag([&](bool v) { options.reconnect = v; });
    if (key == "ca-file") {
        options.caFile = std::string(value);
        return {};
    }
    if (key == "cert-file") {
        options.certFile = std::string(value);
        return {};
    }
    if (key == "key-file") {
        options.keyFile = std::string(value);
        return {};
    }
    if (key == "fingerprint") {
        if (value.empty()) {
            options.fingerprint.reset();
            return {};
        }
        options.fingerprint = parseFingerprint(value);
        if (!options.fingerprint) return "\"fingerprint\" wants 64 hex digits (SHA-256)";
        return {};
    }
    if (key == "connect-timeout") {
        const auto seconds = parseSeconds(value, 1, 600);
        if (!seconds) return "\"connect-timeout\" wants seconds from 1 to 600";
        options.connectTimeout = std::chrono::seconds(*seconds);
        return {};
    }
    if (key == "keepalive") {
        const auto keepalive = parseKeepAlive(value);
        if (!keepalive) return "\"keepalive\" wants off, on or IDLE,INTERVAL,PROBES";
        options.keepalive = *keepalive;
        return {};
    }
    if (key == "emulation") {
        const std::string v = lower(value);
        if (v == "vt100") {
            options.emulation = Emulation::Vt100;
        } else if (v == "classic") {
            options.emulation = Emulation::Classic;
        } else {
            return "\"emulation\" wants vt100 or classic";
        }
        return {};
    }
    return "unknown key \"" + std::string(key) + "\"";
}

}  // namespace

bool ConnectionOptions::usesTls(bool tlsPrefix, std::uint16_t port) const {
    if (tlsPrefix) return true;
    if (tls) return *tls;
    return port == kTelnetsPort;
}

TlsSettings ConnectionOptions::tlsSettings(std::string serverName) const {
    TlsSettings settings;
    settings.serverName = std::move(serverName);
    settings.verify = verify;
    settings.caFile = caFile;
    settings.fingerprint = fingerprint;
    settings.certFile = certFile;
    settings.keyFile = keyFile;
    return settings;
}

ConnectionsFile ConnectionsFile::parse(std::string_view text, std::string_view fileName) {
    ConnectionsFile file;
    std::string section = "defaults";
    // Every entry is checked once here, so a fault is reported whichever host connects.
    ConnectionOptions scratch;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        auto fail = [&](const std::string& why) {
            file.error_ =
                std::string(fileName) + " line " + std::to_string(lineNumber) + ": " + why;
        };
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']' || trim(line.substr(1, line.size() - 2)).empty()) {
                fail("a section is [host] or [defaults]");
                return file;
            }
            section = lower(trim(line.substr(1, line.size() - 2)));
            file.sections_[section];
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            fail("expected key = value");
            return file;
        }
        const std::string key = lower(trim(line.substr(0, equals)));
        const std::string_view value = trim(line.substr(equals + 1));
        if (const std::string why = apply(scratch, key, value); !why.empty()) {
            fail(why);
            return file;
        }
        file.sections_[section].push_back({key, std::string(value)});
    }
    return file;
}

ConnectionsFile ConnectionsFile::load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text;
    text.resize(kMaxFileBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
        ConnectionsFile file;
        file.error_ = path.string() + " line 1: the file is larger than 64 KB";
        return file;
    }
    return parse(text, path.string());
}

ConnectionOptions ConnectionsFile::forHost(std::string_view host) const {
    ConnectionOptions options;
    for (const std::string& name : {std::string("defaults"), lower(host)}) {
        const auto found = sections_.find(name);
        if (found == sections_.end()) continue;
        for (const Entry& entry : found->second)
            apply(options, entry.key, entry.value);
    }
    return options;
}

std::filesystem::path connectionsFilePath() {
    return platform::settingsDir() / ConnectionsFile::kFileName;
}

HostText splitHostText(std::string_view field) {
    field = field.substr(0, field.find('\0'));
    HostText text;
    if (field.size() >= kTlsPrefix.size() &&
        lower(field.substr(0, kTlsPrefix.size())) == kTlsPrefix) {
        text.tlsPrefix = true;
        field.remove_prefix(kTlsPrefix.size());
    }
    text.host = std::string(field);
    return text;
}

HostOptions hostOptions(const ConnectionsFile& file, std::string_view hostText, std::uint16_t port,
                        const std::function<void(ConnectionOptions&)>& overrides) {
    const HostText text = splitHostText(hostText);
    HostOptions result;
    result.host = text.host;
    result.options = file.forHost(text.host);
    if (overrides) overrides(result.options);
    result.tls = result.options.usesTls(text.tlsPrefix, port);
    return result;
}

TlsSettings HostOptions::tlsSettings() const {
    std::string serverName = host;
    if (serverName.size() > 2 && serverName.front() == '[') {
        serverName = serverName.substr(1, serverName.size() - 2);
    }
    return options.tlsSettings(std::move(serverName));
}

}  // namespace qn::telnet
