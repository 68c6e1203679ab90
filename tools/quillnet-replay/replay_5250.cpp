#include "tools/quillnet-replay/replay_5250.h"

#include "tools/quillnet-replay/replay_json.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string_view>

#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "platform/services.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_document.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace qn::tools {

namespace {

using tn::TnScreen;

// The handheld's services as the replay has them: no reader library, nothing shown.
struct OfflineServices {
    platform::MemoryRegistry registry{""};
    platform::FakeLibraryLoader libraries;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services{registry, libraries, messages, queue, clock, sound, {}};
};

// Records every send and turns the alarm into the sound and vibration it would play.
class RecordingTnHost final : public tn::TnHost {
  public:
    explicit RecordingTnHost(const tn::TnSession& session) : session_(session) {}

    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sends.emplace_back(bytes.begin(), bytes.end());
    }
    void alarm() override {
        events.push_back("sound " + std::to_string(session_.errorBeeper.get()));
        const long long steps = session_.errorVibrator.get();
        if (steps > 0) events.push_back("vibrate " + std::to_string(steps * 250));
    }

    std::vector<std::vector<std::uint8_t>> sends;
    std::vector<std::string> events;

  private:
    const tn::TnSession& session_;
};

std::string position(int row, int column) {
    return "{\"row\": " + std::to_string(row) + ", \"col\": " + std::to_string(column) + "}";
}

const char* boolean(bool value) {
    return value ? "true" : "false";
}

// One connection's worth of 5250 terminal: settings, screen, interpreter, telnet layer.
struct Terminal {
    OfflineServices offline;
    reader::ReaderLibrary reader{offline.services};
    tn::TnSessionState state;
    tn::TnDocument document{state, reader, offline.messages, {}};
    tn::TnSession& session = state.record;
    RecordingTnHost host{session};
    TnScreen screen;
    tn::TnDataStream stream{screen, session, host};
    tn::TnTelnetFilter filter{session, host, stream};
    bool signedOn = false;

    // What a connect does before the first receive.
    void connect() {
        stream.resetScreen();
        const bool on = session.rfidReaderOn != 0 || session.barcodeReaderOn != 0;
        host.events.push_back(on ? "trigger 1" : "trigger 0");
    }

    // One receive, and what the read thread does after it.
    void receive(std::span<const std::uint8_t> bytes) {
        filter.receive(bytes);
        if (!signedOn && session.autoSignOn != 0 && reader::fixedLength(session.loginName) != 0) {
            signedOn = stream.trySignOn();
        }
    }

    // A key function: with the keyboard locked only Reset acts. False when the function needs
    // the field editing that the replay does not have.
    bool function(int code) {
        if (screen.state.keyboardLocked && code != 44) {
            host.alarm();
            return true;
        }
        if (code >= 1 && code <= 12) {
            stream.sendAid(static_cast<std::uint8_t>(code + 0x30));
        } else if (code >= 13 && code <= 24) {
            stream.sendAid(static_cast<std::uint8_t>(code + 0xA4));
        } else if (code == 25) {
            stream.sendAttention();
        } else if (code == 35) {
            stream.sendAid(0xF5);
        } else if (code == 36) {
            stream.sendAid(0xF4);
        } else if (code == 45) {
            stream.sendAid(tn::kAidEnter);
        } else if (code == 44) {
            if (screen.state.keyboardLocked) {
                screen.state.keyboardLocked = false;
                if (screen.state.messageShown) {
                    screen.state.messageShown = false;
                    screen.restoreMessageRow();
                }
            }
        } else if (code >= 39 && code <= 43) {
            // no action
        } else {
            return false;
        }
        return true;
    }

    std::string report() const {
        const tn::ScreenState& s = screen.state;
        std::vector<std::string> text, textHex, attributes, sends;
        for (int row = 0; row < tn::kRows; ++row) {
            const auto chars = screen.charRow(row).first<tn::kColumns>();
            std::string line;
            for (std::uint8_t c : chars)
                line += c == 0 ? ' ' : static_cast<char>(c);
            text.push_back(std::move(line));
            textHex.push_back(hex(chars));
            attributes.push_back(hex(screen.attributeRow(row).first<tn::kColumns>()));
        }
        std::vector<std::uint8_t> sent;
        for (const auto& send : host.sends) {
            sends.push_back(hex(send));
            sent.insert(sent.end(), send.begin(), send.end());
        }

        std::string out = "{\n  \"screen\": ";
        appendStringArray(out, text, true);
        out += ",\n  \"screenHex\": ";
        appendStringArray(out, textHex, true);
        out += ",\n  \"attributes\": ";
        appendStringArray(out, attributes, true);
        out += ",\n  \"fields\": [";
        bool firstField = true;
        for (const tn::FieldEntry& f : screen.fields.entries()) {
            out += firstField ? "\n    " : ",\n    ";
            firstField = false;
            char line[256];
            std::snprintf(line, sizeof line,
                          "{\"number\": %d, \"row\": %d, \"col\": %d, \"length\": %d, "
                          "\"ffw1\": %d, \"ffw2\": %d, \"fcw1\": %d, \"fcw2\": %d, "
                          "\"attribute\": %d, \"resequence\": %d}",
                          f.number, f.row, f.column, static_cast<int>(f.length), f.ffw1, f.ffw2,
                          f.fcw1, f.fcw2, f.attribute, f.resequence);
            out += line;
        }
        out += firstField ? "]" : "\n  ]";
        out += ",\n  \"cursor\": " + position(s.row, s.column);
        out += ",\n  \"insertCursor\": " + position(s.insertCursorRow, s.insertCursorColumn);
        out += ",\n  \"currentField\": " + std::to_string(s.currentField.number);
        out += ",\n  \"keyboardLocked\": " + std::string(boolean(s.keyboardLocked));
        out += ",\n  \"insertMode\": " + std::string(boolean(s.insertMode));
        out += ",\n  \"messageShown\": " + std::string(boolean(s.messageShown));
        out += ",\n  \"messageRow\": " + std::to_string(s.messageRow);
        out += ",\n  \"messageText\": \"" +
               hex(std::span(s.messageText).first(reader::fixedLength(s.messageText))) + "\"";
        out += ",\n  \"readMode\": " + std::to_string(s.readMode);
        out += ",\n  \"sent\": \"" + hex(sent) + "\"";
        out += ",\n  \"sends\": ";
        appendStringArray(out, sends, false);
        out += ",\n  \"events\": ";
        appendStringArray(out, host.events, false);
        out += "\n}\n";
        return out;
    }
};

Tn5250ReplayResult failure(int code, std::string message) {
    return {code, {}, std::move(message)};
}

std::optional<long> number(std::istream& words) {
    std::string word;
    if (!(words >> word)) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(word.c_str(), &end, 10);
    if (end == word.c_str() || *end != '\0') return std::nullopt;
    return value;
}

}  // namespace

Tn5250ReplayResult replay5250(const std::vector<std::uint8_t>& input,
                              const Tn5250ReplayOptions& options) {
    auto terminal = std::make_unique<Terminal>();
    terminal->document.applyDefaults();
    if (options.settingsPath && !terminal->document.loadSettings(*options.settingsPath)) {
        return failure(1, "cannot read settings " + *options.settingsPath);
    }
    if (options.language) {
        if (*options.language < 0 || *options.language > 6) {
            return failure(1, "language must be 0 to 6");
        }
        terminal->session.language = static_cast<std::uint8_t>(*options.language);
    }
    terminal->connect();

    if (!options.script) {
        const std::size_t chunk = options.chunk == 0 ? 1 : options.chunk;
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            terminal->receive(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
        }
        return {0, terminal->report(), {}};
    }

    std::istringstream lines(std::string(input.begin(), input.end()));
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string step;
        if (!(words >> step)) continue;
        if (step == "recv") {
            std::string rest;
            std::getline(words, rest);
            const auto bytes = parseHex(rest);
            if (!bytes) return failure(1, where + "bad hex");
            terminal->receive(*bytes);
        } else if (step == "fn") {
            const auto code = number(words);
            if (!code || *code < 1 || *code > 47) return failure(1, where + "fn needs 1 to 47");
            if (!terminal->function(static_cast<int>(*code))) {
                return failure(
                    2, "unsupported step: fn " + std::to_string(*code) + " (field editing)");
            }
        } else if (step == "tap") {
            const auto row = number(words);
            const auto column = number(words);
            if (!row || !column) return failure(1, where + "tap needs ROW COL");
            terminal->screen.tapCell(static_cast<int>(*row), static_cast<int>(*column));
        } else if (step == "key" || step == "char" || step == "scan" || step == "rfid") {
            return failure(2, "unsupported step: " + step);
        } else {
            return failure(1, where + "unknown step " + step);
        }
    }
    return {0, terminal->report(), {}};
}

Tn5250BenchResult bench5250(const std::vector<std::uint8_t>& input, std::size_t chunk, int repeat) {
    class NullHost final : public tn::TnHost {
      public:
        void sendBytes(std::span<const std::uint8_t>) override {}
        void alarm() override {}
    };
    auto session = std::make_unique<tn::TnSession>();
    auto screen = std::make_unique<TnScreen>();
    NullHost host;
    tn::TnDataStream stream(*screen, *session, host);
    tn::TnTelnetFilter filter(*session, host, stream);
    stream.resetScreen();
    if (chunk == 0) chunk = 1;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < repeat; ++round) {
        for (std::size_t at = 0; at < input.size(); at += chunk)
            filter.receive(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
    }
    const auto stop = std::chrono::steady_clock::now();
    return {static_cast<double>(input.size()) * repeat,
            std::chrono::duration<double>(stop - start).count()};
}

int runReplay5250(int argc, char** argv) {
    auto usage = [] {
        std::fprintf(stderr,
                     "usage: quillnet-replay 5250 [--settings F.qntn] [--language N] [--chunk N] "
                     "[--script] [--bench [--repeat K]] [FILE]\n");
        return 1;
    };
    if (argc < 2 || std::strcmp(argv[1], "5250") != 0) return usage();
    Tn5250ReplayOptions options;
    bool bench = false;
    long repeat = 1;
    std::string file;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](long& out, long low) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            out = std::strtol(argv[++i], &end, 10);
            return *end == '\0' && out >= low;
        };
        long n = 0;
        if (arg == "--settings" && i + 1 < argc) {
            options.settingsPath = argv[++i];
        } else if (arg == "--language") {
            if (!value(n, 0) || n > 6) return usage();
            options.language = static_cast<int>(n);
        } else if (arg == "--chunk") {
            if (!value(n, 1)) return usage();
            options.chunk = static_cast<std::size_t>(n);
        } else if (arg == "--repeat") {
            if (!value(repeat, 1)) return usage();
        } else if (arg == "--script") {
            options.script = true;
        } else if (arg == "--bench") {
            bench = true;
        } else if (!arg.starts_with("--") && file.empty()) {
            file = arg;
        } else {
            return usage();
        }
    }

    std::vector<std::uint8_t> input;
    if (file.empty()) {
        input.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "quillnet-replay: cannot read %s\n", file.c_str());
            return 1;
        }
        input.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    if (bench) {
        const auto result = bench5250(input, options.chunk, static_cast<int>(repeat));
        std::printf("bytes=%.0f seconds=%.6f MBps=%.1f\n", result.bytes, result.seconds,
                    result.seconds > 0 ? result.bytes / result.seconds / 1e6 : 0.0);
        return 0;
    }
    const auto result = replay5250(input, options);
    if (result.exitCode != 0) {
        std::fprintf(stderr, "quillnet-replay: %s\n", result.error.c_str());
        return result.exitCode;
    }
    std::fputs(result.json.c_str(), stdout);
    return 0;
}

}  // namespace qn::tools
