#include "tools/quillnet-session/session_tool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <variant>

#include "common/reader/record_fields.h"
#include "common/telnet/connection.h"
#include "tn5250/telnet/tn_transport.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/script_steps.h"
#include "tools/quillnet-replay/tn_station.h"
#include "tools/quillnet-replay/vt_station.h"
#include "tools/quillnet-session/field_view.h"
#include "tools/quillnet-session/session_extras.h"
#include "tools/quillnet-session/session_parallel.h"
#include "vt/transport/vt_transport.h"

namespace qn::tools {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

// Every screen the terminal showed, taken on the read thread right after the block that made
// it, so that a wait also sees a screen the host replaced (or the connection ended) at once.
class ScreenWatch {
  public:
    void shown(Rows rows, HostState state = {}) {
        {
            std::lock_guard lock(mutex_);
            screens_.push_back({++sequence_, std::move(rows)});
            states_.push_back(state);
            if (screens_.size() > kScreensKept) {
                screens_.pop_front();
                states_.pop_front();
            }
            lastByte_ = Clock::now();
        }
        changed_.notify_all();
    }
    // 5250: whether a screen after `since` came with the keyboard unlocked or after a read
    // command beyond `reads`; waits for news until the deadline.
    bool answeredSince(std::uint64_t since, std::uint32_t reads, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        auto answered = [&] {
            for (std::size_t i = 0; i < screens_.size(); ++i) {
                if (screens_[i].first > since &&
                    (!states_[i].keyboardLocked || states_[i].reads > reads))
                    return true;
            }
            return false;
        };
        return changed_.wait_until(lock, deadline, [&] { return ended_ || answered(); }) && !ended_;
    }
    // VT: whether no host byte arrived for `quiet` after `from`; waits until the deadline.
    bool quietSince(Clock::time_point from, std::chrono::milliseconds quiet,
                    Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto calm = std::max(from, lastByte_) + quiet;
            if (Clock::now() >= calm) return true;
            if (Clock::now() >= deadline || ended_) return false;
            changed_.wait_until(lock, std::min(calm, deadline));
        }
    }
    void ended() {
        {
            std::lock_guard lock(mutex_);
            ++sequence_;
            ended_ = true;
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
    std::deque<HostState> states_;
    Clock::time_point lastByte_{};
    bool ended_ = false;
};

// A wire that sends on the live connection and records what it sent for the dump.
class LiveWire final : public StationWire {
  public:
    void attach(telnet::ByteSender& target, std::function<bool()> isOpen) {
        target_ = &target;
        isOpen_ = std::move(isOpen);
    }
    bool open() const override { return isOpen_ && isOpen_(); }
    // What is recorded of a send (the dump, the transcript): non-display data masked.
    void setMask(std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)> mask) {
        mask_ = std::move(mask);
    }
    void setTranscript(Transcript* transcript) { transcript_ = transcript; }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty() || !open()) return;
        {
            std::lock_guard lock(mutex_);
            sends_.push_back(mask_ ? mask_(bytes) : std::vector(bytes.begin(), bytes.end()));
            if (transcript_) transcript_->sent(sends_.back());
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
    std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)> mask_;
    Transcript* transcript_ = nullptr;
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
    // Whether field n is non-display: its content is compared, never printed.
    virtual bool fieldHidden(int) { return false; }
    virtual Rows rows() = 0;
    virtual std::pair<int, int> cursor() = 0;
    virtual std::string report() = 0;
    virtual std::string screenText() = 0;
    virtual OperatorEvents& events() = 0;
    // 5250: the keyboard and the read commands now; VT: always unlocked.
    virtual HostState hostState() { return {}; }
    // Whether what the operator types now is a secret (a non-display field, a password prompt).
    virtual bool typingSecret() = 0;
    virtual void setDeviceName(const std::string&) {}
    virtual void setTranscript(Transcript* transcript) = 0;
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
        return rowsLocked();
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
        std::string text;
        for (const std::string& row : rows())
            text += row + "\n";
        return text;
    }
    OperatorEvents& events() override { return handheld_.events; }
    void setTranscript(Transcript* transcript) override {
        transcript_ = transcript;
        wire_.setTranscript(transcript);
    }

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
    // Under the session lock: the rows as printed.
    virtual Rows rowsLocked() {
        Rows rows;
        for (int row = 0; row < kScreenRows; ++row)
            rows.push_back(station_.rowText(row));
        return rows;
    }
    // On the read thread, after a block that changed the screen.
    void shown(HostState state = {}) {
        Rows now = rows();
        if (transcript_) transcript_->received(now);
        watch_.shown(std::move(now), state);
    }
    void ended() { watch_.ended(); }

    ScreenWatch& watch_;
    Transcript* transcript_ = nullptr;
    OfflineHandheld handheld_{true, kSessionRegistry};
    LiveWire wire_;
    Station station_{handheld_, wire_};
    telnet::SystemResolver resolver_;
};

// The VT program's connection, emulator, keyboard and decode handling.
class VtLive final : public LiveStation<VtStation>, telnet::ConnectionView, telnet::TriggerSwitch {
  public:
    VtLive(ScreenWatch& watch, vt::VtEmulation emulation) : LiveStation(watch) {
        station_.emulator.setEmulation(emulation);
        attach(transport_);
        wire_.setMask([this](std::span<const std::uint8_t> bytes) {
            return typingSecret() ? maskTyped(bytes) : std::vector(bytes.begin(), bytes.end());
        });
    }
    // The host echoes nothing at a password prompt; what is typed there is the secret.
    bool typingSecret() override {
        const Rows rows = watch_.latest();
        const int row = cursorRow_.load();
        return row >= 0 && static_cast<std::size_t>(row) < rows.size() &&
               isPasswordPrompt(rows[static_cast<std::size_t>(row)]);
    }

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
    void chunkReceived() override {
        cursorRow_ = cursor().first;
        shown();
    }
    void disconnected() override { ended(); }
    void setTriggerKey(int on) override { station_.reader.setTriggerKey(on); }

    std::atomic<int> cursorRow_{-1};
    vt::VtTransport transport_{{handheld_.services, station_.session, station_.sessionLock,
                                station_.terminal, station_.deferred, *this, *this, resolver_}};
};

// The 5250 program's connection, interpreter, field editor, key map and decode handling.
class TnLive final : public LiveStation<TnStation>, telnet::ConnectionView, telnet::TriggerSwitch {
  public:
    explicit TnLive(ScreenWatch& watch) : LiveStation(watch) {
        attach(transport_);
        wire_.setMask([this](std::span<const std::uint8_t> bytes) {
            std::lock_guard lock(fieldsMutex_);
            return maskSend(bytes, fieldsShown_);
        });
    }
    HostState hostState() override {
        std::lock_guard lock(station_.sessionLock);
        return hostStateLocked();
    }
    bool typingSecret() override {
        std::lock_guard lock(station_.sessionLock);
        const tn::FieldEntry& field = station_.screen.state.currentField;
        return field.isField() && isNonDisplay(field);
    }
    void setDeviceName(const std::string& name) override {
        std::lock_guard lock(station_.sessionLock);
        reader::storeText(station_.session.deviceName, name);
        station_.session.useDeviceName = 1;
    }
    std::string report() override {
        const auto sends = wire_.sends();
        std::lock_guard lock(station_.sessionLock);
        return maskedReport(station_.report(sends), rowsLocked(), station_.screen);
    }

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
        return fieldText(station_.screen, fields[static_cast<std::size_t>(n - 1)]);
    }
    int fieldCount() override {
        std::lock_guard lock(station_.sessionLock);
        return station_.screen.fields.count();
    }
    bool fieldHidden(int n) override {
        std::lock_guard lock(station_.sessionLock);
        const auto fields = station_.screen.fields.entries();
        return n >= 1 && static_cast<std::size_t>(n) <= fields.size() &&
               isNonDisplay(fields[static_cast<std::size_t>(n - 1)]);
    }

  private:
    Rows rowsLocked() override {
        Rows rows;
        for (int row = 0; row < kScreenRows; ++row)
            rows.push_back(visibleRow(station_.screen, row));
        return rows;
    }
    HostState hostStateLocked() const {
        return {station_.screen.state.keyboardLocked, station_.stream.readsReceived()};
    }
    void connected() override {}
    void chunkReceived() override {
        HostState state;
        {
            std::lock_guard lock(station_.sessionLock);
            state = hostStateLocked();
            std::lock_guard fieldsLock(fieldsMutex_);
            const auto entries = station_.screen.fields.entries();
            fieldsShown_.assign(entries.begin(), entries.end());
        }
        shown(state);
    }
    void disconnected() override { ended(); }
    void setTriggerKey(int on) override { station_.reader.setTriggerKey(on); }

    // The field table as the host last showed it, for masking what is sent.
    std::mutex fieldsMutex_;
    std::vector<tn::FieldEntry> fieldsShown_;
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

    int run(const Script& script, const std::vector<std::string>& lines) {
        for (const Step& step : script.steps) {
            const auto line = static_cast<std::size_t>(step.line);
            const std::string_view text = line >= 1 && line <= lines.size()
                                              ? std::string_view(lines[line - 1])
                                              : std::string_view();
            if (const int status = runOne(step, text); status != kSessionDone) return status;
        }
        return kSessionDone;
    }

    // One step; a failure's text and screen are kept for the reports.
    int runOne(const Step& step, std::string_view source = {}) {
        where_ = "quillnet-session: line " + std::to_string(step.line) + ": ";
        failure_ = {};
        const bool secret = isInputStep(step.kind) && terminal_.typingSecret();
        if (transcript_)
            transcript_->step(step.line, secret ? maskedStep(step, source) : std::string(source));
        if (Clock::now() >= deadline_) return timedOut();
        if (isInputStep(step.kind) && !terminal_.connected()) return notConnected();
        // A wait looks at what the host showed since the operator's last input.
        if (isInputStep(step.kind)) {
            since_ = watch_.mark();
            readsAtInput_ = terminal_.hostState().reads;
            inputAt_ = Clock::now();
        }
        const int status = runStep(step);
        if (isInputStep(step.kind)) lockedAfterInput_ = terminal_.hostState().keyboardLocked;
        return status;
    }
    const StepFailure& failure() const { return failure_; }
    void setTranscript(Transcript* transcript) { transcript_ = transcript; }

  private:
    int runStep(const Step& step) {
        if (runInputStep(step, terminal_.input())) return kSessionDone;
        switch (step.kind) {
            case StepKind::Wait:
                return step.ready ? waitReady(step) : wait(step);
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
                if (terminal_.fieldHidden(step.first)) {
                    return failed("field " + std::to_string(step.first) +
                                      ": a non-display field, not as expected",
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

    // Until the host has answered the operator's last input (5250), or has been quiet (VT).
    int waitReady(const Step& step) {
        const auto limit = step.timeout.value_or(kDefaultWaitTimeout);
        auto until = Clock::now() + limit;
        const bool global = until >= deadline_;
        if (global) until = deadline_;
        if (!terminal_.connected()) return notConnected();
        bool ready;
        if (terminal_.steps().has(StepKind::Fn)) {
            ready = (!lockedAfterInput_ && !terminal_.hostState().keyboardLocked) ||
                    watch_.answeredSince(since_, readsAtInput_, until);
        } else {
            ready = watch_.quietSince(inputAt_, step.quiet.value_or(kDefaultQuiet), until);
        }
        if (!terminal_.connected()) return notConnected();
        if (ready) return kSessionDone;
        if (global) return timedOut();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3g",
                      std::chrono::duration<double>(limit).count());
        return failed(std::string("wait ready: the host did not answer in ") + seconds + " s",
                      kSessionWaitTimedOut);
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
        failure_.what = where_ + what;
        std::string screen;
        if (terminal_.connected()) {
            screen = terminal_.screenText();
        } else {
            for (const std::string& row : watch_.latest())
                screen += row + "\n";
        }
        if (!screen.empty() && screen.back() == '\n') screen.pop_back();
        console_.line(screen);
        failure_.screen = screen;
        failure_.status = status;
        if (transcript_) transcript_->note(failure_.what);
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
    // What the host had done when the operator last acted: wait ready waits past it.
    std::uint32_t readsAtInput_ = 0;
    bool lockedAfterInput_ = true;
    Clock::time_point inputAt_ = Clock::now();
    bool disconnectedByScript_ = false;
    StepFailure failure_;
    Transcript* transcript_ = nullptr;
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
    bool timeoutGiven = false;
    std::optional<std::string> scriptPath;
    std::optional<vt::VtEmulation> emulation;
    ExtraOptions extra;
    bool tls = false;
    std::optional<std::string> caFile;
    bool insecure = false;
};

// The options, or the exit status when the tool is not to run (--help, --version or a command
// line that does not parse, reported on out or err).
std::variant<Options, int> parseArgs(const std::vector<std::string>& args, std::ostream& out,
                                     std::ostream& err) {
    CLI::App app(
        "One of the two programs, headless, against a live host, driven by a script "
        "(SCRIPT, else standard input). It connects only to HOST.");
    cli::prepare(app, "quillnet-session");
    app.require_subcommand(1);
    Options options;
    double timeoutSeconds = 0, rampSeconds = 0;
    std::string emulation;
    for (const char* name : {"vt", "5250"}) {
        const bool tn5250 = name[0] == '5';
        CLI::App* kind =
            app.add_subcommand(name, std::string("The ") + (tn5250 ? "5250" : "VT") + " program");
        kind->callback([&options, tn5250] { options.tn5250 = tn5250; });
        // An option given twice counts with its last value, as scripts append overrides.
        kind->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        kind->add_option("--host", options.host, "The host to connect to (\"tls:\" for TLS)")
            ->type_name("H")
            ->required()
            ->check(CLI::Validator(
                [](std::string& host) { return host.empty() ? std::string("needs a host") : ""; },
                ""));
        kind->add_option("--port", options.port, "The port (else the document's, else 23)")
            ->type_name("P")
            ->transform(cli::decimal())
            ->check(CLI::Range(1, 65535));
        kind->add_option("--settings", options.settings, "The settings document")->type_name("F");
        kind->add_option("--timeout", timeoutSeconds, "The whole session's time limit (60 s)")
            ->type_name("S")
            ->check(secondsUpTo(kTimeoutMaxSeconds, false));
        if (!tn5250) {
            kind->add_option("--emulation", emulation, "The emulator's rules (vt100 unless given)")
                ->type_name("vt100|classic")
                ->check(CLI::Validator(
                    [](std::string& value) -> std::string {
                        return vt::parseVtEmulation(value) ? "" : "must be vt100 or classic";
                    },
                    ""));
        }
        kind->add_flag("--tls", options.tls, "Connect over TLS");
        kind->add_option("--ca-file", options.caFile, "Trust this CA too")->type_name("F");
        kind->add_flag("--insecure", options.insecure, "Do not check the host's certificate");
        const ExtraCommandLine extra = addExtraOptions(*kind, options.extra, rampSeconds);
        CLI::Option* script = kind->add_option("SCRIPT", options.scriptPath,
                                               "The step file (standard input "
                                               "without it)");
        // The long-lived mode reads its steps from standard input, one session only.
        extra.serve->excludes(script)->excludes(extra.parallel);
    }
    if (std::optional<int> status = cli::parse(app, args, out, err, kSessionBadInput))
        return *status;
    if (timeoutSeconds > 0) {
        options.timeout = std::chrono::milliseconds(std::lround(timeoutSeconds * 1000));
        options.timeoutGiven = true;
    }
    options.extra.ramp = std::chrono::milliseconds(std::lround(rampSeconds * 1000));
    if (!emulation.empty()) options.emulation = vt::parseVtEmulation(emulation);
    return options;
}

// connections.ini is read as the programs read it; the command line goes over it.
std::function<void(telnet::ConnectionOptions&)> connectionOverrides(const Options& options) {
    if (!options.caFile && !options.insecure && !options.emulation) return {};
    std::optional<telnet::Emulation> emulation;
    if (options.emulation) {
        emulation = *options.emulation == vt::VtEmulation::Classic ? telnet::Emulation::Classic
                                                                   : telnet::Emulation::Vt100;
    }
    return [caFile = options.caFile, insecure = options.insecure,
            emulation](telnet::ConnectionOptions& o) {
        if (caFile) o.caFile = *caFile;
        if (insecure) {
            o.verify = false;
            o.fingerprint.reset();
        }
        if (emulation) o.emulation = *emulation;
    };
}

}  // namespace

namespace {

// Opens a report file; the tool refuses to run when it cannot write it.
std::unique_ptr<std::ofstream> openReport(const std::optional<std::string>& path,
                                          std::ostream& err) {
    if (!path) return nullptr;
    auto file = std::make_unique<std::ofstream>(*path, std::ios::binary | std::ios::trunc);
    if (!*file) {
        err << "quillnet-session: cannot write " << *path << "\n";
        return nullptr;
    }
    return file;
}

std::vector<std::string> linesOf(std::string_view source) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at <= source.size()) {
        const std::size_t end = std::min(source.find('\n', at), source.size());
        std::string line(source.substr(at, end - at));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

}  // namespace

int runSessionTool(const std::vector<std::string>& args, SessionToolIo io) {
    auto parsed = parseArgs(args, io.out, io.err);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const std::optional<Options> options = std::get<Options>(std::move(parsed));
    const ExtraOptions& extra = options->extra;
    std::string source;
    if (extra.serve) {
        // The steps come one by one on standard input.
    } else if (options->scriptPath) {
        std::ifstream in(*options->scriptPath, std::ios::binary);
        if (!in) {
            io.err << "quillnet-session: cannot read " << *options->scriptPath << "\n";
            return kSessionBadInput;
        }
        source.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        source.assign(std::istreambuf_iterator<char>(io.script), std::istreambuf_iterator<char>());
    }
    const std::string caseName = extra.serve           ? std::string("serve")
                                 : options->scriptPath ? *options->scriptPath
                                                       : std::string("standard input");
    const std::string suite = std::string("quillnet-session.") + (options->tn5250 ? "5250" : "vt");

    // A long-lived session has no overall time limit unless one is asked for.
    const auto timeout = extra.serve && !options->timeoutGiven
                             ? std::chrono::milliseconds(std::lround(kTimeoutMaxSeconds * 1000))
                             : options->timeout;
    const Clock::time_point started = Clock::now();
    const Clock::time_point deadline = started + timeout;
    Console console(io.err);
    ScreenWatch watch;
    std::unique_ptr<LiveTerminal> terminal;
    if (options->tn5250) {
        terminal = std::make_unique<TnLive>(watch);
    } else {
        terminal =
            std::make_unique<VtLive>(watch, options->emulation.value_or(vt::VtEmulation::Vt100));
    }

    const Script script = extra.serve ? Script{} : parseScript(source, terminal->steps());
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
    auto junit = openReport(extra.junit, io.err);
    auto transcriptFile = openReport(extra.transcript, io.err);
    if ((extra.junit && !junit) || (extra.transcript && !transcriptFile)) return kSessionBadInput;

    if (extra.parallel > 0) {
        terminal.reset();
        ParallelRequest request{options->tn5250, hostText, port,   options->settings,
                                deadline,        extra,    script, linesOf(source)};
        request.emulation = options->emulation.value_or(vt::VtEmulation::Vt100);
        request.overrides = connectionOverrides(*options);
        std::vector<CaseReport> cases;
        const int status = runParallel(request, io.out, io.err, cases, transcriptFile.get());
        if (junit) writeJUnit(*junit, suite, cases);
        return status;
    }
    if (extra.deviceName) terminal->setDeviceName(*deviceNameOf(*extra.deviceName, 1));
    std::optional<Transcript> transcript;
    if (transcriptFile) {
        transcript.emplace(*transcriptFile);
        transcript->line("connect " + options->host + " " + std::to_string(port));
        terminal->setTranscript(&*transcript);
    }

    // The program's connection messages, as the operator would see them.
    terminal->events().observeMessages(
        [&console, &transcript](std::string_view text, std::string_view caption) {
            if (caption != "Error") return;
            console.line(text);
            if (transcript) transcript->note(text);
        });

    if (auto overrides = connectionOverrides(*options))
        terminal->connection().setOverrides(std::move(overrides));

    int status = kSessionDone;
    StepFailure failure;
    {
        StallGuard guard(io.exitOnStall, deadline, console);
        terminal->connect();
        if (!terminal->connected()) {
            // The reason is on standard error already, as the program showed it.
            status = terminal->connection().lastFailure() == telnet::SessionConnection::Failure::Tls
                         ? kSessionConnectionLost
                         : kSessionNoConnection;
            const auto errors = terminal->events().errors();
            failure = {errors.empty() ? std::string("not connected") : errors.back(), {}, status};
            if (extra.serve) {
                io.out << "{\"ok\":false,\"error\":\"not connected\",\"exit\":" << status << "}\n";
            }
        } else if (extra.serve) {
            std::ostringstream printed;
            Runner runner(*terminal, watch, console, printed, deadline, timeout);
            runner.setTranscript(transcript ? &*transcript : nullptr);
            const ServeHooks hooks{[&](const Step& step, std::string_view text, std::string& out) {
                                       printed.str({});
                                       const int result = runner.runOne(step, text);
                                       out = printed.str();
                                       if (result != kSessionDone && failure.status == kSessionDone)
                                           failure = runner.failure();
                                       return result;
                                   },
                                   [&]() -> const StepFailure& { return runner.failure(); },
                                   [&] { return terminal->connected(); }};
            status = serveSteps(io.script, io.out, terminal->steps(), hooks);
        } else {
            Runner runner(*terminal, watch, console, io.out, deadline, timeout);
            runner.setTranscript(transcript ? &*transcript : nullptr);
            status = runner.run(script, linesOf(source));
            failure = runner.failure();
        }
        // The end of the script is the operator's disconnect.
        if (terminal->connected()) terminal->disconnect();
        terminal.reset();
    }
    if (transcript) transcript->line("end, exit " + std::to_string(status));
    if (junit) {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        writeJUnit(*junit, suite, {{caseName, seconds, status, failure}});
    }
    return status;
}

}  // namespace qn::tools
