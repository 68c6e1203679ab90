#pragma once
// Connection options per host that the fixed settings records have no room for, read from
// connections.ini in the settings folder at every connect:
//
//   [defaults]            ; applies to every host
//   connect-timeout = 15
//   [as400.example]       ; the host text as typed (without "tls:"), any case
//   tls = on
//   fingerprint = 3A:...  ; SHA-256 of the host's certificate
//
// A file that is missing means the defaults. A malformed line is an error naming the file
// and the line, and the connect stops: a mistyped security option must not be passed over.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/telnet/tls.h"

namespace qn::telnet {

// The VT program's emulation rules: the terminal as the handheld had it, or a closer VT100.
enum class Emulation { Vt100, Classic };

struct KeepAlive {
    bool on = true;
    // Idle time before the first probe, time between probes, probes before the peer is dead:
    // a dead peer is noticed within about two minutes.
    std::chrono::seconds idle{60};
    std::chrono::seconds interval{10};
    int probes = 6;
};

struct ConnectionOptions {
    // nullopt: by the host text and port (the "tls:" prefix or port 992).
    std::optional<bool> tls;
    bool verify = true;
    std::string caFile;
    std::optional<Fingerprint> fingerprint;
    std::string certFile;
    std::string keyFile;
    std::chrono::seconds connectTimeout{15};
    KeepAlive keepalive;
    bool reconnect = false;
    Emulation emulation = Emulation::Vt100;

    // Whether a connection to this port with this host text uses TLS.
    bool usesTls(bool tlsPrefix, std::uint16_t port) const;
    // What the TLS layer needs, for the host name or address the certificate must carry.
    TlsSettings tlsSettings(std::string serverName) const;
};

inline constexpr std::uint16_t kTelnetsPort = 992;
inline constexpr std::string_view kTlsPrefix = "tls:";

class ConnectionsFile {
  public:
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;
    static constexpr std::string_view kFileName = "connections.ini";

    // fileName names the file in messages.
    static ConnectionsFile parse(std::string_view text, std::string_view fileName);
    // A missing file is an empty one.
    static ConnectionsFile load(const std::filesystem::path& file);

    // The first malformed line, "FILE line N: why"; empty when the file is sound.
    const std::string& error() const { return error_; }
    // The defaults section, then the host's own section over it.
    ConnectionOptions forHost(std::string_view host) const;

  private:
    struct Entry {
        std::string key;
        std::string value;
    };
    // Lower-cased section name to its entries, in file order.
    std::map<std::string, std::vector<Entry>> sections_;
    std::string error_;
};

// The file in the settings folder.
std::filesystem::path connectionsFilePath();

// The host text split into the "tls:" prefix and the host proper (up to the field's NUL).
struct HostText {
    std::string host;
    bool tlsPrefix = false;
};
HostText splitHostText(std::string_view field);

// What a connect to the host text (with or without "tls:") at the port is to do: the file's
// defaults and the host's section, the overrides (a tool's command line) over them, and
// whether it uses TLS.
struct HostOptions {
    std::string host;  // without "tls:"
    ConnectionOptions options;
    bool tls = false;

    // The TLS layer's settings for this host: the certificate must name it as typed (a name or
    // the address itself, an IPv6 address without its brackets).
    TlsSettings tlsSettings() const;
};
HostOptions hostOptions(const ConnectionsFile& file, std::string_view hostText, std::uint16_t port,
                        const std::function<void(ConnectionOptions&)>& overrides = {});

}  // namespace qn::telnet
