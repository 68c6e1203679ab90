#include "tools/quillnet-replay/replay_5250.h"

#include "tools/quillnet-replay/replay_json.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string_view>

#include "common/device/device.h"
#include "common/reader/reader_library.h"
#include "common/reader/record_fields.h"
#include "platform/library.h"
#include "platform/services.h"
#include "tn5250/datastream/data_stream.h"
#include "tn5250/input/field_editor.h"
#include "tn5250/input/tn_keys.h"
#include "tn5250/input/tn_program_host.h"
#include "tn5250/input/view_input.h"
#include "tn5250/scan/tn_decode_handler.h"
#include "tn5250/screen/screen_model.h"
#include "tn5250/settings/tn_document.h"
#include "tn5250/settings/tn_key_map.h"
#include "tn5250/telnet/tn_telnet_filter.h"

namespace qn::tools {

namespace {

using tn::TnScreen;

// What the reader library hands out for the step being replayed. The replay runs on one
// thread, so plain statics serve the library's C entry points.
struct ScriptedReader {
    static inline std::vector<std::uint8_t> barcode;
    static inline std::vector<std::uint8_t> uid;
    static inline std::vector<std::uint8_t> userData;

    static int copy(const std::vector<std::uint8_t>& what, unsigned char* buffer, int size) {
        if (size <= 0) return 0;
        const int n = std::min(static_cast<int>(what.size()), size - 1);
        std::copy_n(what.begin(), n, buffer);
        return n;
    }
    static int initReader() { return 1; }
    static int decodeData(unsigned char* buffer, int size) { return copy(barcode, buffer, size); }
    static int rfidUid(unsigned char* buffer, int size) { return copy(uid, buffer, size); }
    static int rfidData(unsigned char* buffer, int size) { return copy(userData, buffer, size); }
    static int setVibratorPower(int) { return 1; }
};

// What the operator would notice, in order: sounds, vibrations (the device layer waits while
// the vibrator runs, and nothing else waits during a replay) and message boxes.
class OperatorEvents final : public platform::Clock,
                             public platform::SoundPlayer,
                             public platform::MessageBoxes {
  public:
    TimePoint now() const override { return TimePoint{} + elapsed_; }
    void sleepFor(std::chrono::milliseconds duration) override {
        elapsed_ += duration;
        list.push_back("vibrate " + std::to_string(duration.count()));
    }
    void stop() override {}
    void playAsync(const std::filesystem::path& wavFile) override {
        const auto it = std::ranges::find(device::kSoundNames, wavFile.stem().string());
        list.push_back("sound " + std::to_string(it - device::kSoundNames.begin() + 1));
    }
    platform::MbResult show(std::string_view text, std::string_view, platform::MbButtons,
                            platform::MbIcon) override {
        list.push_back("message " + std::string(text));
        return platform::MbResult::Ok;
    }

    std::vector<std::string> list;

  private:
    std::chrono::milliseconds elapsed_{0};
};

// The handheld's services as the replay has them: a KX2CE whose reader library hands out the
// script's decodes, and every sound, vibration and message box recorded, not played or shown.
struct OfflineServices {
    OfflineServices() {
        using platform::symbolAddress;
        libraries.add(kRoot / "ScanSvc_CE.so",
                      {{{"InitReader", symbolAddress(&ScriptedReader::initReader)},
                        {"GetDecodeData", symbolAddress(&ScriptedReader::decodeData)},
                        {"GetDecodeRfidUID", symbolAddress(&ScriptedReader::rfidUid)},
                        {"GetDecodeRfidData", symbolAddress(&ScriptedReader::rfidData)}}});
        libraries.add(kRoot / "KX2CE_SYS.so",
                      {{{"SetVibratorPower", symbolAddress(&ScriptedReader::setVibratorPower)}}});
    }
    static inline const std::filesystem::path kRoot = "/replay";
    platform::MemoryRegistry registry{"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n"};
    platform::FakeLibraryLoader libraries;
    OperatorEvents events;
    platform::BlockingMessageQueue queue;
    platform::Services services{registry, libraries, events, queue, events, events, kRoot};
};

// The session socket: every send recorded.
struct RecordingSocket final : telnet::ByteSender {
    void sendBytes(std::span<const std::uint8_t> bytes) override {
        sends.emplace_back(bytes.begin(), bytes.end());
    }
    std::vector<std::vector<std::uint8_t>> sends;
};

std::string position(int row, int column) {
    return "{\"row\": " + std::to_string(row) + ", \"col\": " + std::to_string(column) + "}";
}

const char* boolean(bool value) {
    return value ? "true" : "false";
}

// One connection's worth of 5250 terminal, put together as the program does it: the
// interpreter and the editor queue their sends and alarms under the session lock, and they are
// carried out once it is released; scans go through the program's decode handling.
struct Terminal {
    OfflineServices offline;
    device::DeviceLayer device{offline.services};
    reader::ReaderLibrary reader{offline.services};
    tn::TnSessionState state;
    tn::TnDocument document{state, reader, offline.events, {}};
    tn::TnSession& session = state.settings;
    std::mutex sessionLock;
    RecordingSocket socket;
    tn::TnProgramHost effects{socket, device, session, sessionLock};
    tn::DeferredTnHost deferred;
    TnScreen screen;
    tn::TnDataStream stream{screen, session, deferred};
    tn::TnTelnetFilter filter{session, deferred, stream};
    tn::TnFieldEditor editor{screen, stream, session, deferred};
    tn::TnViewInput view{editor, [this](const std::function<void()>& run) { locked(run); }};
    tn::TnDecodeHandler decoder{
        {offline.events, reader, device, session, sessionLock, editor, deferred, effects, {}}};
    std::vector<std::string>& events = offline.events.list;
    bool signedOn = false;

    template <class Operation>
    void locked(Operation&& operation) {
        tn::DeferredTnHost::Batch batch;
        {
            std::lock_guard lock(sessionLock);
            operation();
            batch = deferred.take();
        }
        batch.run(effects);
    }

    // What a connect does before the first receive; what happened before it is not replayed.
    void connect() {
        device.detectModel();
        reader.load();
        events.clear();
        stream.resetScreen();
        const bool on = session.rfidReaderOn != 0 || session.barcodeReaderOn != 0;
        events.push_back(on ? "trigger 1" : "trigger 0");
    }

    // One receive, and what the read thread does after it.
    void receive(std::span<const std::uint8_t> bytes) {
        locked([&] {
            filter.receive(bytes);
            if (!signedOn && session.autoSignOn != 0 &&
                reader::fixedLength(session.loginName) != 0) {
                signedOn = stream.trySignOn();
            }
        });
    }

    // A key whose function is code: with the keyboard locked only Reset and Attention act.
    void function(int code) {
        locked([&] {
            if (screen.state.keyboardLocked && !tn::actsWhileLocked(code)) {
                editor.alarm();
            } else {
                editor.runFunction(code);
            }
        });
    }

    void scan(std::span<const std::uint8_t> decoded) {
        ScriptedReader::barcode.assign(decoded.begin(), decoded.end());
        decoder.handleDecode(tn::kBarcodeDecode);
    }

    void rfid(std::span<const std::uint8_t> uid, std::span<const std::uint8_t> userData) {
        ScriptedReader::uid.assign(uid.begin(), uid.end());
        ScriptedReader::userData.assign(userData.begin(), userData.end());
        decoder.handleDecode(0);
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
        for (const auto& send : socket.sends) {
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
        appendStringArray(out, events, false);
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
    const std::clock_t cpuStart = std::clock();
    for (int round = 0; round < repeat; ++round) {
        for (std::size_t at = 0; at < input.size(); at += chunk)
            filter.receive(std::span(input).subspan(at, std::min(chunk, input.size() - at)));
    }
    const std::clock_t cpuStop = std::clock();
    const auto stop = std::chrono::steady_clock::now();
    return {static_cast<double>(input.size()) * repeat,
            std::chrono::duration<double>(stop - start).count(),
            static_cast<double>(cpuStop - cpuStart) / CLOCKS_PER_SEC};
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
        auto rate = [&](double seconds) {
            return seconds > 0 ? result.bytes / seconds / 1e6 : 0.0;
        };
        std::printf("bytes=%.0f seconds=%.6f MBps=%.1f cpuSeconds=%.6f cpuMBps=%.1f\n",
                    result.bytes, result.seconds, rate(result.seconds), result.cpuSeconds,
                    rate(result.cpuSeconds));
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
