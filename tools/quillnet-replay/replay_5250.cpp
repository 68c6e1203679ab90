#include "tools/quillnet-replay/replay_5250.h"

#include "tools/quillnet-replay/replay_json.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string_view>

#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "common/scan/decode_processing.h"
#include "platform/services.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/input/view_input.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_document.h"
#include "tn5250/settings/tn_key_map.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace qn::tools {

namespace {

using tn::TnScreen;

constexpr std::string_view kDataTooLong = "Data too long";

// The handheld's services as the replay has them: no reader library; message boxes are
// recorded, not shown.
struct OfflineServices {
    platform::MemoryRegistry registry{""};
    platform::FakeLibraryLoader libraries;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services{registry, libraries, messages, queue, clock, sound, {}};
};

// Records every send, and the sounds, vibrations and message boxes the operator would notice.
class RecordingTnHost final : public tn::TnHost {
  public:
    explicit RecordingTnHost(const tn::TnSession& session) : session_(session) {}

    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sends.emplace_back(bytes.begin(), bytes.end());
    }
    void alarm() override {
        sound(session_.errorBeeper.get());
        vibrate(session_.errorVibrator.get());
    }

    void sound(int number) { events.push_back("sound " + std::to_string(number)); }
    // Steps of 250 ms; none vibrates nothing.
    void vibrate(long long steps) {
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
    tn::TnFieldEditor editor{screen, stream, session, host};
    // The replay is single-threaded: the view's lock is a plain call.
    tn::TnViewInput view{editor, [](const std::function<void()>& run) { run(); }};
    std::vector<std::uint8_t> decodeBuffer;
    std::vector<std::uint8_t> rfidRead;
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

    // A key whose function is code: with the keyboard locked only Reset acts.
    void function(int code) {
        if (screen.state.keyboardLocked && code != tn::fn::kReset) {
            host.alarm();
            return;
        }
        editor.runFunction(code);
    }

    // A barcode decode as the program's decode handling takes it: into the reader library's
    // buffer, through the session's checks, then into the fields.
    void scan(std::span<const std::uint8_t> decoded) {
        // Nowhere to put it: the error sound and vibration, the decode left unread.
        if (!editor.cursorInCurrentField()) {
            host.alarm();
            return;
        }
        decodeBuffer.assign(decode::kTnRules.bufferSize, 0);
        const std::size_t length = std::min(decoded.size(), decodeBuffer.size() - 1);
        std::copy_n(decoded.begin(), length, decodeBuffer.begin());
        const decode::CheckResult checked = decode::checkBarcode(
            decodeBuffer, length, decode::checkSettingsOf(tn::readerSettings(session).scan));
        if (checked.failure != decode::CheckFailure::None) {
            if (decode::kTnRules.vibrateBeforeMessage &&
                (checked.failure == decode::CheckFailure::LeadingCode ||
                 checked.failure == decode::CheckFailure::PartialCode)) {
                host.vibrate(session.errorVibrator.get());
            }
            message(decode::failureText(checked.failure, decode::kTnRules));
        }
        enter(checked.data);
    }

    // An RFID read: the UID and user data the session's RFID output asks for, as the library
    // would hand them over, assembled and entered like a scan without the barcode checks.
    void rfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) {
        if (!editor.cursorInCurrentField()) {
            host.alarm();
            return;
        }
        const decode::RfidChoice choice = decode::rfidChoiceOf(session.rfid);
        const std::size_t most = decode::kTnRules.bufferSize - 1;
        const auto uidRead = choice.showUid ? uid.first(std::min(uid.size(), most))
                                            : std::span<const std::uint8_t>{};
        const auto dataRead = choice.showUserData && choice.maximumLength > 0
                                  ? userData.first(std::min(userData.size(), most))
                                  : std::span<const std::uint8_t>{};
        decode::assembleRfid(uidRead, dataRead, choice.fieldDelimiter, rfidRead);
        enter(decode::textPart(rfidRead));
    }

    void message(std::string_view text) {
        platform::MessageBoxes& boxes = offline.messages;
        boxes.show(text);
        host.events.push_back("message " + std::string(text));
    }

    // Checked data into the fields, and the scanner's feedback on how it went.
    void enter(std::span<const std::uint8_t> data) {
        if (data.empty()) return;
        switch (editor.enterScannedData(data)) {
            case tn::ScanEntry::Entered:
                host.vibrate(session.goodVibrator.get());
                host.sound(session.goodBeeper.get());
                break;
            case tn::ScanEntry::TooLong:
                host.vibrate(session.errorVibrator.get());
                message(kDataTooLong);
                break;
            case tn::ScanEntry::Refused:  // the editor sounded the alarm
                break;
        }
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

// A virtual-key code: hex with 0x, else decimal.
std::optional<long> keyCode(std::istream& words) {
    std::string word;
    if (!(words >> word)) return std::nullopt;
    const bool hexCode = word.starts_with("0x") || word.starts_with("0X");
    const char* digits = word.c_str() + (hexCode ? 2 : 0);
    char* end = nullptr;
    const long value = std::strtol(digits, &end, hexCode ? 16 : 10);
    if (end == digits || *end != '\0' || value < 1 || value > 0xFF) return std::nullopt;
    return value;
}

// Step text with \xHH for any byte and \\ for the backslash itself.
std::optional<std::vector<std::uint8_t>> unescape(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<std::uint8_t>(text[i]));
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes.push_back('\\');
            ++i;
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x') return std::nullopt;
        const int high = hexDigit(text[i + 2]);
        const int low = hexDigit(text[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        i += 3;
    }
    return bytes;
}

// The text of a char or scan step: the rest of the line after one blank, without the blanks
// that end it (a comment is usually set off by them).
std::string_view stepText(std::string_view rest) {
    if (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r'))
        rest.remove_suffix(1);
    return rest;
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
            terminal->function(static_cast<int>(*code));
        } else if (step == "key") {
            const auto code = keyCode(words);
            if (!code) return failure(1, where + "key needs a virtual-key code 1 to 0xFF");
            terminal->view.keyDown(static_cast<int>(*code), /*fullScreen=*/false,
                                   /*socketOpen=*/true);
        } else if (step == "char" || step == "scan") {
            std::string rest;
            std::getline(words, rest);
            const auto text = unescape(stepText(rest));
            if (!text) return failure(1, where + "bad escape (\\xHH or \\\\)");
            if (text->empty()) return failure(1, where + step + " needs TEXT");
            if (step == "scan") {
                terminal->scan(*text);
            } else {
                for (std::uint8_t c : *text)
                    terminal->view.character(c, /*socketOpen=*/true);
            }
        } else if (step == "rfid") {
            std::string uidWord, dataWord, extra;
            words >> uidWord >> dataWord >> extra;
            if (uidWord.empty() || !extra.empty())
                return failure(1, where + "rfid needs UID [DATA]");
            const auto uid = unescape(uidWord);
            const auto data = unescape(dataWord);
            if (!uid || !data) return failure(1, where + "bad escape (\\xHH or \\\\)");
            terminal->rfid(*uid, *data);
        } else if (step == "tap") {
            const auto row = number(words);
            const auto column = number(words);
            if (!row || !column) return failure(1, where + "tap needs ROW COL");
            terminal->screen.tapCell(static_cast<int>(*row), static_cast<int>(*column));
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
