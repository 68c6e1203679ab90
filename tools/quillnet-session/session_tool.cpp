#include "tools/quillnet-session/session_tool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>

#include "common/reader/record_fields.h"
#include "common/telnet/connection.h"
#include "tn5250/telnet/tn_transport.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/script_steps.h"
#include "tools/quillnet-replay/tn_station.h"
#include "tools/quillnet-replay/vt_station.h"
#include "vt/transport/vt_transport.h"

namespace qn::tools {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kUsage =
    "usage: quillnet-session vt|5250 --host H [--port P] [--settings F] [--timeout S] "
    "[--tls] [--ca-file F] [--insecure] [SCRIPT]\n";
constexpr std::string_view kRegistry =
    "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\nName=QNSESSION\n";
constexpr std::uint16_t kDefaultPort = 23;
constexpr double kTimeoutMaxSeconds = 86400;
// How long past the global time-out a stalled program is given before the process ends.
constexpr auto kStallGrace = 1s;
// Screens kept for a wait to look through.
constexpr std::size_t kScreensKept = 256;

constexpr StepSet kVtSteps{StepKind::Key,  StepKind::Char,      StepKind::Scan,   StepKind::Rfid,
                           StepKind::Wait, StepKind::Expect,    StepKind::Cursor, StepKind::Sleep,
                           StepKind::Dump, StepKind::Disconnect};
constexpr StepSet kTnSteps{StepKind::Key,       StepKind::Char,  StepKind::Scan,  StepKind::Rfid,
                           StepKind::Fn,        StepKind::Tap,   StepKind::Wait,  StepKind::Expect,
                           StepKind::Cursor,    StepKind::Field, StepKind::Sleep, StepKind::Dump,
                           StepKind::Disconnect};

// Standard error, written from the script thread and the read thread.
class Console {
  public:
    explicit Console(std::ostream& err) : err_(err) {}
    void line(std::string_view text) {
        std::lock_guard lock(mutex_);
        err_ << text << '\n';
        err_.flush();
    }

  private:
    std::mutex mutex_;
    std::ostream& err_;
};

using Rows = std::vector<std::string>;

// Every screen the terminal showed, taken on the read thread right after the block that made
// it, so that a wait also sees a screen the host replaced (or the connection ended) at once.
class ScreenWatch {
  public:
    void shown(Rows rows) {
        {
            std::lock_guard lock(mutex_);
            screens_.push_back({++sequence_, std::move(rows)});
            if (screens_.size() > kScreensKept) screens_.pop_front();
        }
        changed_.notify_all();
    }
    void ended() {
        {
            std::lock_guard lock(mutex_);
            ++sequence_;
        }
        changed_.notify_all();
    }
    std::uint64_t mark() const {
        std::lock_guard lock(mutex_);
        return sequence_;
    }
    // The last screen the host showed; empty before the first.
    Rows latest() const {
        std::lock_guard lock(mutex_);
        return screens_.empty() ? Rows{} : screens_.back().second;
    }
    // Whether a screen after `since` satisfies match; waits for news until the deadline.
    template <class Match>
    bool seenSince(std::uint64_t& since, Clock::time_point deadline, Match&& match) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, deadline, [&] { return sequence_ > since; });
        bool seen = false;
        for (const auto& [number, rows] : screens_)
            if (number > since && match(rows)) seen = true;
        since = sequence_;
        return seen;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t sequence_ = 0;
    std::deque<std::pair<std::uint64_t, Rows>> screens_;
};

// A wire that sends on the live connection and records what it sent for the dump.
class LiveWire final : public StationWire {
  public:
    void attach(telnet::ByteSender& target, std::function<bool()> isOpen) {
        target_ = &target;
        isOpen_ = std::move(isOpen);
    }
    bool open() const override { return isOpen_ && isOpen_(); }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty() || !open()) return;
        {
            std::lock_guard lock(mutex_);
            sends_.emplace_back(bytes.begin(), bytes.end());
        }
        target_->sendBytes(bytes);
    }
    std::vector<std::vector<std::uint8_t>> sends() const {
        std::lock_guard lock(mutex_);
        return sends_;
    }

  private:
    telnet::ByteSender* target_ = nullptr;
    std::function<bool()> isOpen_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> sends_;
};

// One program's terminal on a live connection, as the script drives it.
class LiveTerminal {
  public:
    virtual ~LiveTerminal() = default;
    virtual StepSet steps() const = 0;
    virtual bool loadSettings(const std::string& path) = 0;
    virtual std::uint16_t documentPort() = 0;
    // False when the host text does not fit the session's field.
    virtual bool setHost(const std::string& host, std::uint16_t port) = 0;
    virtual void connect() = 0;
    virtual bool connected() const = 0;
    virtual void disconnect() = 0;
    virtual OperatorInput& input() = 0;
    // Field n (from 1) as text without trailing blanks and nulls; nullopt when there is none.
    virtual std::optional<std::string> field(int) { return std::nullopt; }
    virtual int fieldCount() { return 0; }
    virtual Rows rows() = 0;
    virtual std::pair<int, int> cursor() = 0;
    virtual std::string report() = 0;
    virtual std::string screenText() = 0;
    virtual OperatorEvents& events() = 0;
    virtual telnet::SessionConnection& connection() = 0;
};

// What both programs' live terminals share: the handheld, the wire that records what goes out,
// and the station read under its session lock. The program's transport is the derived class's
// own, built last so that it is destroyed (its read thread joined) first.
template <class Station>
class LiveStation : public LiveTerminal {
  public:
    OperatorInput& input() override { return station_; }
    Rows rows() override {
        std::lock_guard lock(station_.sessionLock);
        Rows rows;
        for (int row = 0; row < kScreenRows; ++row)
            rows.push_back(station_.rowText(row));
        return rows;
    }
    std::pair<int, int> cursor() override {
        std::lock_guard lock(station_.sessionLock);
        return station_.cursor();
    }
    std::string report() override {
        const auto sends = wire_.sends();
        std::lock_guard lock(station_.sessionLock);
        return station_.report(sends);
    }
    std::string screenText() override {
        std::lock_guard lock(station_.sessionLock);
        return station_.screenText();
    }
    OperatorEvents& events() override { return handheld_.events; }

  protected:
    static constexpr int kScreenRows = 24;

    explicit LiveStation(ScreenWatch& watch) : watch_(watch) {}

    template <class Transport>
    void attach(Transport& transport) {
        wire_.attach(transport, [&transport] { return transport.connected(); });
        station_.start();
    }
    // The host text into the session's field, the port beside it.
    template <class Record>
    static bool storeHost(Record& record, const std::string& host, std::uint16_t port) {
        if (host.size() > record.hostAddress.size()) return false;
        reader::storeText(record.hostAddress, host);
        record.telnetPort.set(port);
        return true;
    }
    // On the read thread, after a block that changed the screen.
    void shown() { watch_.shown(rows()); }
    void ended() { watch_.ended(); }

    ScreenWatch& watch_;
    OfflineHandheld handheld_{true, kRegistry};
    LiveWire wire_;
    Station station_{handheld_, wire_};
    telnet::SystemResolver resolver_;
};

// The VT program's connection, emulator, keyboard and decode handling.
class VtLive final : public LiveStation<VtStation>, telnet::ConnectionView, telnet::TriggerSwitch {
  public:
    explicit VtLive(ScreenWatch& watch) : LiveStation(watch) { attach(transport_); }

    StepSet steps() const override { return kVtSteps; }
    bool loadSettings(const std::string& path) override {
        if (!station_.document.loadSettings(path)) return false;
        station_.session.settingsLoaded = 1;
        return true;
    }
    std::uint16_t documentPort() override { return station_.session.settings.telnetPort.get(); }
    bool setHost(const std::string& host, std::uint16_t port) override {
        return storeHost(station_.session.settings, host, port);
    }
    void connect() override { transport_.connectSession(); }
    bool connected() const override { return transport_.connected(); }
    void disconnect() override { transport_.disconnectCommand(); }
    telnet::SessionConnection& connection() override { return transport_.connection(); }

  private:
    void connected() override {}
    void chunkReceived() override { shown(); }
    void disconnected() override { ended(); }
    void setTriggerKey(int on) override { station_.reader.setTriggerKey(on); }

    vt::VtTransport transport_{{handheld_.services, station_.session, station_.sessionLock,
                                station_.terminal, station_.deferred, *this, *this, resolver_}};
};

// The 5250 program's connection, interpreter, field editor, key map and decode handling.
class TnLive final : public LiveStation<TnStation>, telnet::ConnectionView, telnet::TriggerSwitch {
  public:
    explicit TnLive(ScreenWatch& watch) : LiveStation(watch) { attach(transport_); }

    StepSet steps() const override { return kTnSteps; }
    bool loadSettings(const std::string& path) override {
        return station_.document.loadSettings(path);
    }
    std::uint16_t documentPort() override { return station_.session.telnetPort.get(); }
    bool setHost(const std::string& host, std::uint16_t port) override {
        return storeHost(station_.session, host, port);
    }
    void connect() override { transport_.connectSession(); }
    bool connected() const override { return transport_.connected(); }
    void disconnect() override { transport_.disconnectCommand(); }
    telnet::SessionConnection& connection() override { return transport_.connection(); }
    std::optional<std::string> field(int n) override {
        std::lock_guard lock(station_.sessionLock);
        const auto fields = station_.screen.fields.entries();
        if (n < 1 || static_cast<std::size_t>(n) > fields.size()) return std::nullopt;
        const tn::FieldEntry& entry = fields[static_cast<std::size_t>(n - 1)];
        std::string text;
        for (int i = 0; i < entry.length; ++i) {
            const std::uint8_t c = station_.screen.charAtPosition(entry.start() + i);
            text += c == 0 ? ' ' : static_cast<char>(c);
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return text;
    }
    int fieldCount() override {
        std::lock_guard lock(station_.sessionLock);
        return station_.screen.fields.count();
    }

  private:
    void connected() override {}
    void chunkReceived() override { shown(); }
    void disconnected() override { ended(); }
    void setTriggerKey(int on) override { station_.reader.setTriggerKey(on); }

    tn::TnTransport transport_{{handheld_.services, station_.session, station_.sessionLock,
                                station_.stream, station_.deferred, station_.effects, *this, *this,
                                resolver_}};
};

std::string quoted(std::span<const std::uint8_t> text) {
    return "\"" + std::string(text.begin(), text.end()) + "\"";
}

bool rowsShow(const Rows& rows, const Step& step) {
    const std::string_view text(reinterpret_cast<const char*>(step.text.data()), step.text.size());
    if (step.row) {
        return static_cast<std::size_t>(*step.row) < rows.size() &&
               rows[static_cast<std::size_t>(*step.row)].find(text) != std::string::npos;
    }
    return std::ranges::any_of(
        rows, [&](const std::string& row) { return row.find(text) != std::string::npos; });
}

// Runs the steps in order against the live terminal.
class Runner {
  public:
    Runner(LiveTerminal& terminal, ScreenWatch& watch, Console& console, std::ostream& out,
           Clock::time_point deadline, std::chrono::milliseconds timeout)
        : terminal_(terminal),
          watch_(watch),
          console_(console),
          out_(out),
          deadline_(deadline),
          timeout_(timeout) {}

    int run(const Script& script) {
        for (const Step& step : script.steps) {
            where_ = "quillnet-session: line " + std::to_string(step.line) + ": ";
            if (Clock::now() >= deadline_) return timedOut();
            if (isInputStep(step.kind) && !terminal_.connected()) return notConnected();
            // A wait looks at what the host showed since the operator's last input.
            if (isInputStep(step.kind)) since_ = watch_.mark();
            if (const int status = runStep(step); status != kSessionDone) return status;
        }
        return kSessionDone;
    }

  private:
    int runStep(const Step& step) {
        if (runInputStep(step, terminal_.input())) return kSessionDone;
        switch (step.kind) {
            case StepKind::Wait:
                return wait(step);
            case StepKind::Expect: {
                const Rows rows = terminal_.rows();
                const std::string& row = rows[static_cast<std::size_t>(step.first)];
                const std::string expected(step.text.begin(), step.text.end());
                const std::string actual =
                    row.substr(static_cast<std::size_t>(step.second), expected.size());
                if (actual == expected) return kSessionDone;
                return failed("expect " + std::to_string(step.first) + " " +
                                  std::to_string(step.second) + ": " + quoted(step.text) +
                                  " expected, the screen has \"" + actual + "\"",
                              kSessionCheckFailed);
            }
            case StepKind::Cursor: {
                const auto [row, column] = terminal_.cursor();
                if (row == step.first && column == step.second) return kSessionDone;
                return failed("cursor " + std::to_string(step.first) + " " +
                                  std::to_string(step.second) + " expected, it is at " +
                                  std::to_string(row) + " " + std::to_string(column),
                              kSessionCheckFailed);
            }
            case StepKind::Field: {
                std::string expected(step.text.begin(), step.text.end());
                while (!expected.empty() && expected.back() == ' ')
                    expected.pop_back();
                const auto actual = terminal_.field(step.first);
                if (actual && *actual == expected) return kSessionDone;
                if (!actual) {
                    return failed("field " + std::to_string(step.first) +
                                      ": no such field, the screen has " +
                                      std::to_string(terminal_.fieldCount()),
                                  kSessionCheckFailed);
                }
                return failed("field " + std::to_string(step.first) + ": \"" + expected +
                                  "\" expected, it holds \"" + *actual + "\"",
                              kSessionCheckFailed);
            }
            case StepKind::Sleep: {
                const auto until = Clock::now() + std::chrono::milliseconds(step.first);
                std::this_thread::sleep_until(std::min(until, deadline_));
                return until > deadline_ ? timedOut() : kSessionDone;
            }
            case StepKind::Dump:
                out_ << (step.asText ? terminal_.screenText() : terminal_.report());
                out_.flush();
                return kSessionDone;
            case StepKind::Disconnect:
                disconnectedByScript_ = true;
                terminal_.disconnect();
                return kSessionDone;
            default:
                break;
        }
        return kSessionDone;
    }

    // Until the screen holds the text (in the row, if given): the screen now, or one the host
    // showed since the operator's last input, even when the connection has ended since.
    int wait(const Step& step) {
        const auto limit = step.timeout.value_or(kDefaultWaitTimeout);
        auto until = Clock::now() + limit;
        const bool global = until >= deadline_;
        if (global) until = deadline_;
        std::uint64_t since = since_;
        if (rowsShow(terminal_.rows(), step)) return kSessionDone;
        for (;;) {
            // Once the connection has ended, only what it showed before is looked through.
            const bool ended = !terminal_.connected();
            const auto waitUntil = ended ? Clock::now() : until;
            if (watch_.seenSince(since, waitUntil,
                                 [&](const Rows& rows) { return rowsShow(rows, step); }))
                return kSessionDone;
            if (ended) return notConnected();
            if (Clock::now() >= until) {
                if (global) return timedOut();
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%.3g",
                              std::chrono::duration<double>(limit).count());
                return failed(
                    "wait: " + quoted(step.text) + " not on the screen after " + seconds + " s",
                    kSessionWaitTimedOut);
            }
        }
    }

    int notConnected() {
        if (disconnectedByScript_) {
            return failed("not connected (the script disconnected)", kSessionNoConnection);
        }
        const auto errors = terminal_.events().errors();
        const bool closed = std::ranges::find(errors, "Server Closed!") != errors.end();
        return failed("the connection has ended",
                      closed ? kSessionHostClosed : kSessionConnectionLost);
    }

    int timedOut() {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3g",
                      std::chrono::duration<double>(timeout_).count());
        return failed(std::string("timed out after ") + seconds + " s (--timeout)",
                      kSessionTimedOut);
    }

    // What failed, then the screen: as it stands, or the last one the host showed when the
    // connection's end has cleared it.
    int failed(const std::string& what, int status) {
        console_.line(where_ + what);
        std::string screen;
        if (terminal_.connected()) {
            screen = terminal_.screenText();
        } else {
            for (const std::string& row : watch_.latest())
                screen += row + "\n";
        }
        if (!screen.empty() && screen.back() == '\n') screen.pop_back();
        console_.line(screen);
        return status;
    }

    LiveTerminal& terminal_;
    ScreenWatch& watch_;
    Console& console_;
    std::ostream& out_;
    const Clock::time_point deadline_;
    const std::chrono::milliseconds timeout_;
    std::string where_;
    std::uint64_t since_ = 0;
    bool disconnectedByScript_ = false;
};

// Ends the process when the program itself stalls past the global time-out.
class StallGuard {
  public:
    StallGuard(bool active, Clock::time_point deadline, Console& console)
        : console_(console),
          thread_(active ? std::thread([this, deadline] { watch(deadline); }) : std::thread()) {}
    ~StallGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

  private:
    void watch(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (changed_.wait_until(lock, deadline + kStallGrace, [this] { return done_; })) return;
        console_.line("quillnet-session: timed out (--timeout): the program did not return");
        std::fflush(stdout);
        std::_Exit(kSessionTimedOut);
    }

    Console& console_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

struct Options {
    bool tn5250 = false;
    std::string host;
    std::optional<std::uint16_t> port;
    std::optional<std::string> settings;
    std::chrono::milliseconds timeout = kDefaultSessionTimeout;
    std::optional<std::string> scriptPath;
    bool tls = false;
    std::optional<std::string> caFile;
    bool insecure = false;
};

std::optional<Options> parseArgs(const std::vector<std::string>& args) {
    if (args.empty() || (args[0] != "vt" && args[0] != "5250")) return std::nullopt;
    Options options;
    options.tn5250 = args[0] == "5250";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--host" && hasValue) {
            options.host = args[++i];
        } else if (arg == "--port" && hasValue) {
            char* end = nullptr;
            const long port = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || port < 1 || port > 65535) return std::nullopt;
            options.port = static_cast<std::uint16_t>(port);
        } else if (arg == "--settings" && hasValue) {
            options.settings = args[++i];
        } else if (arg == "--timeout" && hasValue) {
            char* end = nullptr;
            const double seconds = std::strtod(args[++i].c_str(), &end);
            if (*end != '\0' || !(seconds > 0) || seconds > kTimeoutMaxSeconds) return std::nullopt;
            options.timeout = std::chrono::milliseconds(std::lround(seconds * 1000));
        } else if (arg == "--tls") {
            options.tls = true;
        } else if (arg == "--ca-file" && hasValue) {
            options.caFile = args[++i];
        } else if (arg == "--insecure") {
            options.insecure = true;
        } else if (!arg.starts_with("--") && !options.scriptPath) {
            options.scriptPath = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.host.empty()) return std::nullopt;
    return options;
}

}  // namespace

int runSessionTool(const std::vector<std::string>& args, SessionToolIo io) {
    const auto options = parseArgs(args);
    if (!options) {
        io.err << kUsage;
        return kSessionBadInput;
    }
    std::string source;
    if (options->scriptPath) {
        std::ifstream in(*options->scriptPath, std::ios::binary);
        if (!in) {
            io.err << "quillnet-session: cannot read " << *options->scriptPath << "\n";
            return kSessionBadInput;
        }
        source.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        source.assign(std::istreambuf_iterator<char>(io.script), std::istreambuf_iterator<char>());
    }

    const Clock::time_point deadline = Clock::now() + options->timeout;
    Console console(io.err);
    ScreenWatch watch;
    std::unique_ptr<LiveTerminal> terminal;
    if (options->tn5250) {
        terminal = std::make_unique<TnLive>(watch);
    } else {
        terminal = std::make_unique<VtLive>(watch);
    }

    const Script script = parseScript(source, terminal->steps());
    if (!script.valid()) {
        io.err << "quillnet-session: " << script.error << "\n";
        return kSessionBadInput;
    }
    if (options->settings && !terminal->loadSettings(*options->settings)) {
        io.err << "quillnet-session: cannot read settings " << *options->settings << "\n";
        return kSessionBadInput;
    }
    const std::uint16_t port =
        options->port.value_or(options->settings ? terminal->documentPort() : kDefaultPort);
    // The "tls:" prefix is the session field's own way to ask for TLS.
    const std::string hostText = options->tls && !options->host.starts_with(telnet::kTlsPrefix)
                                     ? std::string(telnet::kTlsPrefix) + options->host
                                     : options->host;
    if (!terminal->setHost(hostText, port)) {
        io.err << "quillnet-session: the host name is longer than the session's field\n";
        return kSessionBadInput;
    }

    // The program's connection messages, as the operator would see them.
    terminal->events().observeMessages([&console](std::string_view text, std::string_view caption) {
        if (caption == "Error") console.line(text);
    });

    // connections.ini is read as the programs read it; the command line goes over it.
    if (options->caFile || options->insecure) {
        terminal->connection().setOverrides(
            [caFile = options->caFile, insecure = options->insecure](telnet::ConnectionOptions& o) {
                if (caFile) o.caFile = *caFile;
                if (insecure) {
                    o.verify = false;
                    o.fingerprint.reset();
                }
            });
    }

    int status = kSessionDone;
    {
        StallGuard guard(io.exitOnStall, deadline, console);
        terminal->connect();
        if (!terminal->connected()) {
            // The reason is on standard error already, as the program showed it.
            status = terminal->connection().lastFailure() == telnet::SessionConnection::Failure::Tls
                         ? kSessionConnectionLost
                         : kSessionNoConnection;
        } else {
            Runner runner(*terminal, watch, console, io.out, deadline, options->timeout);
            status = runner.run(script);
        }
        // The end of the script is the operator's disconnect.
        if (terminal->connected()) terminal->disconnect();
        terminal.reset();
    }
    return status;
}

}  // namespace qn::tools
