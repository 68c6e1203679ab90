#include "tools/quillnet-session/session_parallel.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>

#include "common/reader/record_fields.h"
#include "tn5250/telnet/tn_telnet_filter.h"
#include "tools/quillnet-replay/offline_handheld.h"
#include "tools/quillnet-replay/tn_station.h"
#include "tools/quillnet-replay/vt_station.h"
#include "tools/quillnet-session/field_view.h"
#include "tools/quillnet-session/session_tool.h"
#include "vt/settings/vt_key_map.h"
#include "vt/transport/auto_sign_on.h"
#include "vt/transport/vt_telnet_filter.h"

namespace qn::tools {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRows = 24;
// Bytes a session keeps unsent while the host does not read; past it the session fails.
constexpr std::size_t kSendBacklogMax = 256 * 1024;
constexpr std::size_t kReceiveBlock = 4096;
// How often the resident memory is read while the sessions run.
constexpr auto kSampleEvery = 50ms;

// Sends onto a non-blocking socket; what the socket does not take at once waits for it. Over
// TLS every byte the session sends goes through the TLS layer: nothing goes out in clear.
class SocketWire final : public StationWire {
  public:
    int fd = -1;
    bool connected = false;  // for the session's sends: after the connect and the handshake
    bool broken = false;     // a send failed
    bool overflow = false;
    std::vector<std::uint8_t> backlog;  // as it goes on the socket: ciphertext over TLS
    std::unique_ptr<telnet::TlsClient> tls;
    Transcript* transcript = nullptr;
    std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)> mask;

    bool open() const override { return connected; }
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty() || !connected) return;
        if (transcript)
            transcript->sent(mask ? mask(bytes) : std::vector(bytes.begin(), bytes.end()));
        if (!tls) return sendRaw(bytes);
        if (!tls->write(bytes)) {
            connected = false;
            return;
        }
        sendTlsOutput();
    }
    // What the TLS layer has to send: its handshake, its answers, the closing alert.
    void sendTlsOutput() {
        if (!tls->hasOutput()) return;
        std::vector<std::uint8_t> cipher;
        tls->takeOutput(cipher);
        sendRaw(cipher);
    }
    void sendRaw(std::span<const std::uint8_t> bytes) {
        if (broken) return;
        if (backlog.empty()) {
            const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return lost();
            bytes = bytes.subspan(n < 0 ? 0 : static_cast<std::size_t>(n));
        }
        if (bytes.empty()) return;
        if (backlog.size() + bytes.size() > kSendBacklogMax) {
            overflow = true;
            return;
        }
        backlog.insert(backlog.end(), bytes.begin(), bytes.end());
    }
    // The socket is writable again.
    void flush() {
        while (!backlog.empty() && !broken) {
            const ssize_t n = ::send(fd, backlog.data(), backlog.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
                return lost();
            }
            backlog.erase(backlog.begin(), backlog.begin() + n);
        }
    }

  private:
    void lost() {
        broken = true;
        connected = false;
        backlog.clear();
    }
};

// One program's terminal on a socket the loop owns.
class Terminal {
  public:
    virtual ~Terminal() = default;
    virtual OperatorInput& input() = 0;
    virtual bool loadSettings(const std::string& path) = 0;
    virtual void setDeviceName(const std::string&) {}
    // What the program does once the socket has connected.
    virtual void connected() = 0;
    virtual void receive(std::span<const std::uint8_t> bytes) = 0;
    virtual Rows rows() = 0;
    virtual std::pair<int, int> cursor() = 0;
    virtual std::optional<std::string> field(int) { return std::nullopt; }
    virtual int fieldCount() { return 0; }
    virtual bool fieldHidden(int) { return false; }
    virtual HostState hostState() { return {}; }
    virtual bool typingSecret() = 0;
    virtual std::vector<std::string> errors() = 0;

    SocketWire wire;
};

class TnTerminal final : public Terminal {
  public:
    TnTerminal() {
        station_.start();
        filter_.setOwnDeviceName(tn::handheldName(handheld_.services.registry));
        wire.mask = [this](std::span<const std::uint8_t> bytes) {
            return maskSend(bytes, station_.screen.fields.entries());
        };
    }
    OperatorInput& input() override { return station_; }
    bool loadSettings(const std::string& path) override {
        return station_.document.loadSettings(path);
    }
    void setDeviceName(const std::string& name) override {
        reader::storeText(station_.session.deviceName, name);
        station_.session.useDeviceName = 1;
    }
    void connected() override {
        station_.locked([&] {
            station_.stream.resetScreen();
            filter_.startConnection();
        });
        const tn::TnSession& s = station_.session;
        station_.reader.setTriggerKey(s.rfidReaderOn != 0 || s.barcodeReaderOn != 0 ? 1 : 0);
    }
    void receive(std::span<const std::uint8_t> bytes) override {
        station_.locked([&] {
            filter_.receive(bytes);
            const tn::TnSession& s = station_.session;
            if (!signedOn_ && s.autoSignOn != 0 && reader::fixedLength(s.loginName) != 0)
                signedOn_ = station_.stream.trySignOn();
        });
    }
    Rows rows() override {
        Rows rows;
        for (int row = 0; row < kRows; ++row)
            rows.push_back(visibleRow(station_.screen, row));
        return rows;
    }
    std::pair<int, int> cursor() override { return station_.cursor(); }
    std::optional<std::string> field(int n) override {
        const auto fields = station_.screen.fields.entries();
        if (n < 1 || static_cast<std::size_t>(n) > fields.size()) return std::nullopt;
        return fieldText(station_.screen, fields[static_cast<std::size_t>(n - 1)]);
    }
    int fieldCount() override { return station_.screen.fields.count(); }
    bool fieldHidden(int n) override {
        const auto fields = station_.screen.fields.entries();
        return n >= 1 && static_cast<std::size_t>(n) <= fields.size() &&
               isNonDisplay(fields[static_cast<std::size_t>(n - 1)]);
    }
    HostState hostState() override {
        return {station_.screen.state.keyboardLocked, station_.stream.readsReceived()};
    }
    bool typingSecret() override {
        const tn::FieldEntry& field = station_.screen.state.currentField;
        return field.isField() && isNonDisplay(field);
    }
    std::vector<std::string> errors() override { return handheld_.events.errors(); }

  private:
    OfflineHandheld handheld_{true, kSessionRegistry};
    TnStation station_{handheld_, wire};
    tn::TnTelnetFilter filter_{station_.session, station_.deferred, station_.stream};
    bool signedOn_ = false;
};

class VtTerminal final : public Terminal {
  public:
    explicit VtTerminal(vt::VtEmulation emulation) {
        station_.emulator.setEmulation(emulation);
        station_.start();
        wire.mask = [this](std::span<const std::uint8_t> bytes) {
            return typingSecret() ? maskTyped(bytes) : std::vector(bytes.begin(), bytes.end());
        };
    }
    OperatorInput& input() override { return station_; }
    bool loadSettings(const std::string& path) override {
        if (!station_.document.loadSettings(path)) return false;
        station_.session.settingsLoaded = 1;
        return true;
    }
    void connected() override {
        vt::VtSession& session = station_.session;
        reader::Bytes<reader::kMacroFrameSize> macroFrame;
        {
            std::lock_guard lock(station_.sessionLock);
            station_.terminal.reset();
            filter_.startConnection();
            filter_.setSgaAgreed(true);
            macroFrame = session.settings.macroFrame;
        }
        station_.runDeferred();
        const std::size_t frameLength =
            macroFrame[9] != 0 ? macroFrame.size() : reader::fixedLength(macroFrame);
        if (frameLength != 0) wire.sendBytes({macroFrame.data(), frameLength});
        station_.reader.setTriggerKey(0);
        bool triggerOn;
        {
            std::lock_guard lock(station_.sessionLock);
            const vt::VtSettings& s = session.settings;
            triggerOn = s.triggerByEscCmd == 0 && (s.rfidReaderOn != 0 || s.barcodeReaderOn != 0);
            if (session.settingsLoaded == 0) vt::installDefaultKeyMap(session, false);
        }
        if (triggerOn) station_.reader.setTriggerKey(1);
    }
    void receive(std::span<const std::uint8_t> bytes) override {
        {
            std::lock_guard lock(station_.sessionLock);
            filter_.receive(bytes);
        }
        station_.runDeferred();
        {
            std::lock_guard lock(station_.sessionLock);
            signOn_.check(station_.session.settings, station_.terminal, station_.deferred);
        }
        station_.runDeferred();
    }
    Rows rows() override {
        Rows rows;
        for (int row = 0; row < kRows; ++row)
            rows.push_back(station_.rowText(row));
        return rows;
    }
    std::pair<int, int> cursor() override { return station_.cursor(); }
    bool typingSecret() override {
        const int row = station_.cursor().first;
        return row >= 0 && row < kRows && isPasswordPrompt(station_.rowText(row));
    }
    std::vector<std::string> errors() override { return handheld_.events.errors(); }

  private:
    // Telnet answers join the emulator's replies in one ordered queue, as in the transport.
    class Answers final : public telnet::ByteSender {
      public:
        explicit Answers(vt::VtHost& host) : host_(host) {}
        void sendBytes(std::span<const std::uint8_t> bytes) override {
            host_.sendBytes(bytes.data(), bytes.size());
        }

      private:
        vt::VtHost& host_;
    };

    OfflineHandheld handheld_{true, kSessionRegistry};
    VtStation station_{handheld_, wire};
    Answers answers_{station_.deferred};
    vt::VtTelnetFilter filter_{station_.session, answers_, station_.terminal};
    vt::AutoSignOn signOn_;
};

bool rowsShow(const Rows& rows, const Step& step) {
    const std::string_view text(reinterpret_cast<const char*>(step.text.data()), step.text.size());
    if (step.row) {
        return static_cast<std::size_t>(*step.row) < rows.size() &&
               rows[static_cast<std::size_t>(*step.row)].find(text) != std::string::npos;
    }
    return std::ranges::any_of(
        rows, [&](const std::string& row) { return row.find(text) != std::string::npos; });
}

std::string seconds(std::chrono::milliseconds value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", std::chrono::duration<double>(value).count());
    return text;
}

// How every session connects: the host's options, as a single session's connect reads them.
struct Link {
    sockaddr_in address{};
    bool tls = false;
    telnet::TlsSettings tlsSettings;
    std::chrono::milliseconds connectTimeout{};
};

// The loop's buffers, lent to whichever session has bytes to read.
struct LoopBuffers {
    std::vector<std::uint8_t> received = std::vector<std::uint8_t>(kReceiveBlock);
    std::vector<std::uint8_t> plain;  // what one receive held, decrypted
};

// One session: its terminal, its socket and where it stands in the script.
class Session {
  public:
    enum class Phase : std::uint8_t { Waiting, Connecting, Securing, Running, Done };

    Session(int number, const ParallelRequest& request, const Link& link, LoopBuffers& shared,
            std::vector<StepFigures>& figures)
        : number_(number), request_(request), link_(link), shared_(shared), figures_(figures) {
        if (request.tn5250) {
            terminal_ = std::make_unique<TnTerminal>();
        } else {
            terminal_ = std::make_unique<VtTerminal>(request.emulation);
        }
    }
    ~Session() { closeSocket(); }

    Terminal& terminal() { return *terminal_; }
    Phase phase() const { return phase_; }
    int fd() const { return terminal_->wire.fd; }
    Clock::time_point wakeAt() const { return wakeAt_; }
    int status() const { return status_; }
    const StepFailure& failure() const { return failure_; }
    double elapsedSeconds() const {
        return std::chrono::duration<double>(endedAt_ - startedAt_).count();
    }
    bool wantsWrite() const {
        return phase_ == Phase::Connecting || !terminal_->wire.backlog.empty();
    }

    void setStart(Clock::time_point at) { wakeAt_ = at; }
    void watchWritable(int epoll) {
        const bool wanted = wantsWrite();
        if (wanted == watchingWrite_) return;
        epoll_event event{};
        event.events = EPOLLIN | (wanted ? EPOLLOUT : 0u);
        event.data.u32 = static_cast<std::uint32_t>(number_ - 1);
        ::epoll_ctl(epoll, EPOLL_CTL_MOD, fd(), &event);
        watchingWrite_ = wanted;
    }

    // Opens the socket and starts the connect; false when it failed at once.
    bool open(int epoll) {
        startedAt_ = Clock::now();
        // The connect and the handshake together, as a single session's.
        connectUntil_ = startedAt_ + link_.connectTimeout;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return fail("Create socket failed !!", kSessionNoConnection), false;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        terminal_->wire.fd = fd;
        const sockaddr_in& address = link_.address;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            return fail("Can not establish connection", kSessionNoConnection), false;
        }
        phase_ = Phase::Connecting;
        watchingWrite_ = true;
        wakeAt_ = std::min(connectUntil_, request_.deadline);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT;
        event.data.u32 = static_cast<std::uint32_t>(number_ - 1);
        if (::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return fail("Can not establish connection", kSessionNoConnection), false;
        return true;
    }

    void writable() {
        if (phase_ == Phase::Connecting) {
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(fd(), SOL_SOCKET, SO_ERROR, &error, &size);
            if (error != 0) return fail("Can not establish connection", kSessionNoConnection);
            connectedAt_ = Clock::now();
            if (link_.tls) return startTls();
            begin();
            return advance(Clock::now());
        }
        terminal_->wire.flush();
        if (phase_ == Phase::Securing && terminal_->wire.broken) {
            return fail("TLS handshake failed: the connection was lost", kSessionConnectionLost);
        }
    }

    void readable() {
        if (phase_ != Phase::Running && phase_ != Phase::Securing) return;
        SocketWire& wire = terminal_->wire;
        const std::span<std::uint8_t> buffer = shared_.received;
        for (;;) {
            const ssize_t n = ::recv(fd(), buffer.data(), buffer.size(), 0);
            if (n > 0) {
                const auto bytes = buffer.first(static_cast<std::size_t>(n));
                if (!wire.tls) {
                    deliver(bytes);
                } else {
                    wire.tls->feed(bytes);
                    if (phase_ == Phase::Running) decrypt();
                    // The host's closing alert or a broken record ends what is read.
                    if (hostEnded_ != 0) break;
                }
                if (static_cast<std::size_t>(n) < buffer.size()) break;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n < 0 && errno == EINTR) continue;
            if (phase_ == Phase::Securing) {
                // What came before the end may still finish the handshake.
                shakeHands();
                if (phase_ == Phase::Done) return;
                if (phase_ == Phase::Securing) {
                    return fail(n == 0 ? "TLS handshake failed: the host closed the connection"
                                       : "TLS handshake failed: the connection was lost",
                                kSessionConnectionLost);
                }
            }
            // The host closed (0) or the connection failed.
            hostEnded_ = n == 0 ? kSessionHostClosed : kSessionConnectionLost;
            wire.connected = false;
            break;
        }
        if (phase_ == Phase::Securing) return shakeHands();
        advance(Clock::now());
    }

    // The connect's time, and the handshake's over TLS (ms), once each is done.
    std::optional<double> connectMilliseconds() const { return since(startedAt_, connectedAt_); }
    std::optional<double> handshakeMilliseconds() const { return since(connectedAt_, securedAt_); }
    // Where the session failed, if it did: in the connect, in the handshake or in a step.
    Phase failedIn() const { return failedIn_; }

    // Runs steps until one has to wait for the host or a timer, or the script ends.
    void advance(Clock::time_point now) {
        while (phase_ == Phase::Running) {
            if (step_ >= request_.script.steps.size()) return finish(kSessionDone);
            const Step& step = request_.script.steps[step_];
            if (!stepStarted_) {
                stepStarted_ = true;
                stepBegan_ = now;
                if (transcript_) transcript_->step(step.line, lineText(step));
                if (now >= request_.deadline) return timedOut();
                if (isInputStep(step.kind)) {
                    if (!terminal_->wire.connected) return notConnected();
                    blocksAtInput_ = blocks_;
                    readsAtInput_ = terminal_->hostState().reads;
                    inputAt_ = now;
                    runInputStep(step, terminal_->input());
                    lockedAfterInput_ = terminal_->hostState().keyboardLocked;
                    if (terminal_->wire.overflow)
                        return fail("the host does not read what is sent", kSessionConnectionLost);
                    completeStep(now);
                    continue;
                }
            }
            const int outcome = tryStep(step, now);
            if (outcome < 0) return;  // waits
            if (outcome != kSessionDone) return;
            completeStep(now);
        }
    }

    void timer(Clock::time_point now) {
        if (phase_ == Phase::Waiting) return;
        if (phase_ == Phase::Connecting || phase_ == Phase::Securing) {
            if (now >= request_.deadline) return timedOut();
            if (now < connectUntil_) return;
            if (phase_ == Phase::Connecting) {
                return fail("Can not establish connection", kSessionNoConnection);
            }
            return fail("TLS handshake timed out", kSessionConnectionLost);
        }
        advance(now);
    }

    void setTranscript(Transcript* transcript) {
        transcript_ = transcript;
        terminal_->wire.transcript = transcript;
    }

  private:
    static std::optional<double> since(Clock::time_point from, Clock::time_point to) {
        if (to == Clock::time_point{}) return std::nullopt;
        return std::chrono::duration<double, std::milli>(to - from).count();
    }

    // The TCP connect is done: the handshake, before the session may send a byte.
    void startTls() {
        std::string error;
        terminal_->wire.tls = telnet::TlsClient::create(link_.tlsSettings, error);
        if (!terminal_->wire.tls) return fail(error, kSessionConnectionLost);
        phase_ = Phase::Securing;
        shakeHands();
    }

    // One handshake step over what has been received; the session begins once it is done.
    void shakeHands() {
        SocketWire& wire = terminal_->wire;
        const telnet::TlsClient::Step step = wire.tls->handshake();
        wire.sendTlsOutput();
        if (step == telnet::TlsClient::Step::Failed)
            return fail(wire.tls->error(), kSessionConnectionLost);
        if (wire.broken || wire.overflow)
            return fail("TLS handshake failed: the connection was lost", kSessionConnectionLost);
        if (step != telnet::TlsClient::Step::Done) return;
        securedAt_ = Clock::now();
        begin();
        // The host may have sent its first bytes with the end of its handshake.
        decrypt();
        advance(Clock::now());
    }

    void begin() {
        phase_ = Phase::Running;
        wakeAt_ = request_.deadline;
        // A first quiet wait counts from the connect.
        inputAt_ = Clock::now();
        terminal_->wire.connected = true;
        terminal_->connected();
    }

    // Every plaintext byte the received ciphertext holds, to the terminal.
    void decrypt() {
        SocketWire& wire = terminal_->wire;
        std::vector<std::uint8_t>& plain = shared_.plain;
        plain.clear();
        telnet::TlsClient::ReadStatus status;
        while ((status = wire.tls->read(plain)) == telnet::TlsClient::ReadStatus::Data) {
        }
        // A session ticket or key update may want an answer.
        if (wire.connected) wire.sendTlsOutput();
        if (!plain.empty()) deliver(plain);
        if (status == telnet::TlsClient::ReadStatus::Closed ||
            status == telnet::TlsClient::ReadStatus::Failed) {
            hostEnded_ = status == telnet::TlsClient::ReadStatus::Closed ? kSessionHostClosed
                                                                         : kSessionConnectionLost;
            wire.connected = false;
        }
    }

    void deliver(std::span<const std::uint8_t> bytes) {
        terminal_->receive(bytes);
        lastByte_ = Clock::now();
        ++blocks_;
        if (transcript_) transcript_->received(terminal_->rows());
    }

    // -1 while the step waits, else its status (a failure already recorded).
    int tryStep(const Step& step, Clock::time_point now) {
        const auto limit = step.timeout.value_or(kDefaultWaitTimeout);
        const auto until = std::min(stepBegan_ + limit, request_.deadline);
        switch (step.kind) {
            case StepKind::Wait: {
                bool seen;
                if (step.ready) {
                    if (!terminal_->wire.connected) return notConnected(), kSessionNoConnection;
                    if (request_.tn5250) {
                        const HostState state = terminal_->hostState();
                        seen = (!state.keyboardLocked &&
                                (!lockedAfterInput_ || blocks_ > blocksAtInput_)) ||
                               (blocks_ > blocksAtInput_ && state.reads > readsAtInput_);
                    } else {
                        const auto calm =
                            std::max(inputAt_, lastByte_) + step.quiet.value_or(kDefaultQuiet);
                        seen = now >= calm;
                        if (!seen) wakeAt_ = std::min(calm, until);
                    }
                } else {
                    seen = rowsShow(terminal_->rows(), step);
                    if (!seen && !terminal_->wire.connected)
                        return notConnected(), kSessionNoConnection;
                }
                if (seen) return kSessionDone;
                if (now >= until) {
                    if (until == request_.deadline) return timedOut(), kSessionTimedOut;
                    const std::string what =
                        step.ready
                            ? "wait ready: the host did not answer in " + seconds(limit) + " s"
                            : "wait: \"" + std::string(step.text.begin(), step.text.end()) +
                                  "\" not on the screen after " + seconds(limit) + " s";
                    return fail(what, kSessionWaitTimedOut), kSessionWaitTimedOut;
                }
                if (step.ready && !request_.tn5250) return -1;
                wakeAt_ = until;
                return -1;
            }
            case StepKind::Sleep: {
                const auto end = stepBegan_ + std::chrono::milliseconds(step.first);
                if (end > request_.deadline) {
                    if (now >= request_.deadline) return timedOut(), kSessionTimedOut;
                    wakeAt_ = request_.deadline;
                    return -1;
                }
                if (now >= end) return kSessionDone;
                wakeAt_ = end;
                return -1;
            }
            case StepKind::Expect: {
                const Rows rows = terminal_->rows();
                const std::string expected(step.text.begin(), step.text.end());
                const std::string actual = rows[static_cast<std::size_t>(step.first)].substr(
                    static_cast<std::size_t>(step.second), expected.size());
                if (actual == expected) return kSessionDone;
                return fail("expect " + std::to_string(step.first) + " " +
                                std::to_string(step.second) + ": \"" + expected +
                                "\" expected, the screen has \"" + actual + "\"",
                            kSessionCheckFailed),
                       kSessionCheckFailed;
            }
            case StepKind::Cursor: {
                const auto [row, column] = terminal_->cursor();
                if (row == step.first && column == step.second) return kSessionDone;
                return fail("cursor " + std::to_string(step.first) + " " +
                                std::to_string(step.second) + " expected, it is at " +
                                std::to_string(row) + " " + std::to_string(column),
                            kSessionCheckFailed),
                       kSessionCheckFailed;
            }
            case StepKind::Field: {
                std::string expected(step.text.begin(), step.text.end());
                while (!expected.empty() && expected.back() == ' ')
                    expected.pop_back();
                const auto actual = terminal_->field(step.first);
                if (actual && *actual == expected) return kSessionDone;
                const std::string what =
                    actual && terminal_->fieldHidden(step.first)
                        ? "a non-display field, not as expected"
                    : actual ? "\"" + expected + "\" expected, it holds \"" + *actual + "\""
                             : "no such field, the screen has " +
                                   std::to_string(terminal_->fieldCount());
                return fail("field " + std::to_string(step.first) + ": " + what,
                            kSessionCheckFailed),
                       kSessionCheckFailed;
            }
            case StepKind::Disconnect:
                disconnectedByScript_ = true;
                terminal_->wire.connected = false;
                closeSocket();
                return kSessionDone;
            default:
                // A dump of N sessions would be N copies: passed over.
                return kSessionDone;
        }
    }

    void completeStep(Clock::time_point now) {
        StepFigures& figures = figures_[step_];
        figures.milliseconds.push_back(
            std::chrono::duration<double, std::milli>(now - stepBegan_).count());
        ++step_;
        stepStarted_ = false;
    }

    std::string lineText(const Step& step) const {
        const auto line = static_cast<std::size_t>(step.line);
        const std::string text = line >= 1 && line <= request_.lines.size()
                                     ? request_.lines[line - 1]
                                     : std::string(stepName(step.kind));
        return isInputStep(step.kind) && terminal_->typingSecret() ? maskedStep(step, text) : text;
    }

    void notConnected() {
        if (disconnectedByScript_) {
            return fail("not connected (the script disconnected)", kSessionNoConnection);
        }
        return fail("the connection has ended",
                    hostEnded_ != 0 ? hostEnded_ : kSessionConnectionLost);
    }
    void timedOut() { fail("timed out (--timeout)", kSessionTimedOut); }

    void fail(const std::string& what, int status) {
        const int line =
            step_ < request_.script.steps.size() ? request_.script.steps[step_].line : 0;
        failure_.what = "line " + std::to_string(line) + ": " + what;
        for (const std::string& row : terminal_->rows())
            failure_.screen += row + "\n";
        if (!failure_.screen.empty()) failure_.screen.pop_back();
        failure_.status = status;
        failedIn_ = phase_;
        // A connect that failed is no step's failure.
        if (phase_ == Phase::Running && step_ < figures_.size()) ++figures_[step_].failures;
        if (transcript_) transcript_->note(failure_.what);
        finish(status);
    }

    void finish(int status) {
        status_ = status;
        phase_ = Phase::Done;
        endedAt_ = Clock::now();
        closeSocket();
    }

    void closeSocket() {
        SocketWire& wire = terminal_->wire;
        // The closing alert, as far as the socket takes it at once.
        if (wire.tls && wire.connected) {
            wire.tls->close();
            wire.sendTlsOutput();
        }
        wire.connected = false;
        if (wire.fd >= 0) ::close(wire.fd);
        wire.fd = -1;
        wire.tls.reset();
        wire.backlog = {};
    }

    const int number_;
    const ParallelRequest& request_;
    const Link& link_;
    LoopBuffers& shared_;
    std::vector<StepFigures>& figures_;
    std::unique_ptr<Terminal> terminal_;
    Phase phase_ = Phase::Waiting;
    Phase failedIn_ = Phase::Waiting;
    bool watchingWrite_ = false;
    Clock::time_point wakeAt_{};
    Clock::time_point startedAt_{};
    Clock::time_point connectUntil_{};
    Clock::time_point connectedAt_{};
    Clock::time_point securedAt_{};
    Clock::time_point endedAt_{};
    std::size_t step_ = 0;
    bool stepStarted_ = false;
    Clock::time_point stepBegan_{};
    Clock::time_point inputAt_{};
    Clock::time_point lastByte_{};
    std::uint64_t blocks_ = 0;
    std::uint64_t blocksAtInput_ = 0;
    std::uint32_t readsAtInput_ = 0;
    bool lockedAfterInput_ = true;
    bool disconnectedByScript_ = false;
    int hostEnded_ = 0;
    int status_ = kSessionDone;
    StepFailure failure_;
    Transcript* transcript_ = nullptr;
};

std::optional<sockaddr_in> resolve(const std::string& host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) return address;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return address;
}

// The process's resident and peak resident memory in KiB, from /proc.
std::pair<long, long> residentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    long rss = 0, peak = 0;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) rss = std::strtol(line.c_str() + 6, nullptr, 10);
        if (line.starts_with("VmHWM:")) peak = std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return {rss, peak};
}

int connectedNow(const std::vector<std::unique_ptr<Session>>& sessions) {
    return static_cast<int>(std::ranges::count_if(sessions, [](const auto& session) {
        return session->phase() == Session::Phase::Running && session->terminal().wire.connected;
    }));
}

// "n N, p50 ... ms, p90, p99, max, failures F" of the times (sorted here).
std::string timesText(std::vector<double>& milliseconds, int failures) {
    std::ranges::sort(milliseconds);
    char text[160];
    std::snprintf(
        text, sizeof text, "n %zu, p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms, failures %d",
        milliseconds.size(), percentile(milliseconds, 0.5), percentile(milliseconds, 0.9),
        percentile(milliseconds, 0.99), milliseconds.empty() ? 0.0 : milliseconds.back(), failures);
    return text;
}

}  // namespace

double percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

int runParallel(const ParallelRequest& request, std::ostream& out, std::ostream& err,
                std::vector<CaseReport>& cases, std::ostream* transcriptOut) {
    // connections.ini once for all the sessions, as a single session's connect reads it.
    const telnet::ConnectionsFile file =
        telnet::ConnectionsFile::load(telnet::connectionsFilePath());
    if (!file.error().empty()) {
        err << file.error() << "\n";
        return kSessionNoConnection;
    }
    const telnet::HostOptions host =
        telnet::hostOptions(file, request.host, request.port, request.overrides);
    const auto address = resolve(host.host, request.port);
    if (!address) {
        err << "Host IP error !!\n";
        return kSessionNoConnection;
    }
    Link link;
    link.address = *address;
    link.tls = host.tls;
    if (host.tls) link.tlsSettings = host.tlsSettings();
    link.connectTimeout = host.options.connectTimeout;
    LoopBuffers buffers;
    const int count = request.extra.parallel;
    std::vector<StepFigures> figures(request.script.steps.size());
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Step& step = request.script.steps[i];
        figures[i].line = step.line;
        const auto line = static_cast<std::size_t>(step.line);
        figures[i].text =
            line >= 1 && line <= request.lines.size() ? request.lines[line - 1] : std::string();
    }
    const long baseKib = residentKib().first;
    std::vector<std::unique_ptr<Session>> sessions;
    sessions.reserve(static_cast<std::size_t>(count));
    std::optional<Transcript> transcript;
    if (transcriptOut) transcript.emplace(*transcriptOut);
    const Clock::time_point start = Clock::now();
    for (int n = 1; n <= count; ++n) {
        auto session = std::make_unique<Session>(n, request, link, buffers, figures);
        if (request.settings && !session->terminal().loadSettings(*request.settings)) {
            err << "quillnet-session: cannot read settings " << *request.settings << "\n";
            return kSessionBadInput;
        }
        if (request.extra.deviceName && request.tn5250)
            session->terminal().setDeviceName(*deviceNameOf(*request.extra.deviceName, n));
        // Started evenly over the ramp: session n at (n-1)/N of it.
        session->setStart(start + request.extra.ramp * (n - 1) / count);
        if (n == 1 && transcript) session->setTranscript(&*transcript);
        sessions.push_back(std::move(session));
    }

    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        err << "quillnet-session: no event loop\n";
        return kSessionConnectionLost;
    }
    std::vector<epoll_event> events(256);
    long peakKib = baseKib;
    int mostAtOnce = 0;
    Clock::time_point nextSample{};
    for (;;) {
        Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        int live = 0;
        for (auto& session : sessions) {
            if (session->phase() == Session::Phase::Waiting && now >= session->wakeAt() &&
                !session->open(epoll)) {
                continue;
            }
            if (session->phase() == Session::Phase::Done) continue;
            ++live;
            if (session->phase() != Session::Phase::Waiting && now >= session->wakeAt())
                session->timer(now);
            if (session->phase() == Session::Phase::Done) continue;
            next = std::min(next, session->wakeAt());
            // Writable matters only while connecting or with sends waiting.
            if (session->phase() != Session::Phase::Waiting) session->watchWritable(epoll);
        }
        if (live == 0) break;
        mostAtOnce = std::max(mostAtOnce, connectedNow(sessions));
        now = Clock::now();
        const auto wait = next == Clock::time_point::max()
                              ? 1000ms
                              : std::chrono::ceil<std::chrono::milliseconds>(next - now);
        const int ready = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()),
                                       static_cast<int>(std::clamp<long>(wait.count(), 0, 1000)));
        for (int i = 0; i < ready; ++i) {
            Session& session = *sessions[events[static_cast<std::size_t>(i)].data.u32];
            const auto what = events[static_cast<std::size_t>(i)].events;
            if ((what & EPOLLOUT) != 0) session.writable();
            if ((what & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) session.readable();
        }
        if (Clock::now() >= nextSample) {
            peakKib = std::max(peakKib, residentKib().first);
            nextSample = Clock::now() + kSampleEvery;
        }
    }
    peakKib = std::max(peakKib, residentKib().first);
    ::close(epoll);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    int status = kSessionDone;
    int passed = 0;
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const Session& session = *sessions[i];
        const std::string name =
            "session " + std::to_string(i + 1) +
            (request.extra.deviceName && request.tn5250
                 ? " (" + *deviceNameOf(*request.extra.deviceName, static_cast<int>(i + 1)) + ")"
                 : std::string());
        cases.push_back({name, session.elapsedSeconds(), session.status(), session.failure()});
        if (session.status() == kSessionDone) {
            ++passed;
            continue;
        }
        if (status == kSessionDone) status = session.status();
        err << "quillnet-session: " << name << ": " << session.failure().what << "\n";
    }

    char line[512];
    std::snprintf(line, sizeof line,
                  "sessions %d, passed %d, failed %d, %.3f s, %d at once; memory %.1f KiB a "
                  "session (%ld KiB resident at most, %ld KiB before)\n",
                  count, passed, count - passed, elapsed, mostAtOnce,
                  double(peakKib - baseKib) / count, peakKib, baseKib);
    out << line;
    // The connect and the handshake come before the first step and count in none.
    std::vector<double> connects, handshakes;
    int connectFailures = 0, handshakeFailures = 0;
    for (const auto& session : sessions) {
        if (const auto ms = session->connectMilliseconds()) connects.push_back(*ms);
        if (const auto ms = session->handshakeMilliseconds()) handshakes.push_back(*ms);
        if (session->failedIn() == Session::Phase::Connecting) ++connectFailures;
        if (session->failedIn() == Session::Phase::Securing) ++handshakeFailures;
    }
    out << "connect: " << timesText(connects, connectFailures) << "\n";
    if (link.tls) out << "handshake: " << timesText(handshakes, handshakeFailures) << "\n";
    for (StepFigures& step : figures) {
        out << "line " << step.line << ": " << timesText(step.milliseconds, step.failures) << ": "
            << step.text << "\n";
    }
    out.flush();
    return status;
}

}  // namespace qn::tools
