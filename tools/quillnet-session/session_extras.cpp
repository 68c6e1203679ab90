#include "tools/quillnet-session/session_extras.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>

#include <nlohmann/json.hpp>

#include "tn5250/telnet/tn_telnet_filter.h"
#include "tools/quillnet-replay/replay_json.h"
#include "tools/quillnet-session/field_view.h"
#include "tools/quillnet-session/session_tool.h"

namespace qn::tools {

namespace {

using Json = nlohmann::ordered_json;

// Longest line the long-lived mode takes; a longer one is refused whole.
constexpr std::size_t kServeLineMax = 64 * 1024;
constexpr double kRampMaxSeconds = 3600;

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // XML 1.0 has no control characters but tab and line ends.
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += '?';
                } else if (c >= 0x80) {
                    out += utf8OfLatin1(std::string_view(&ch, 1));
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

Json rowsJson(std::string_view text) {
    Json rows = Json::array();
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        rows.push_back(utf8OfLatin1(text.substr(at, end - at)));
        at = end + 1;
    }
    return rows;
}

void answer(std::ostream& out, const Json& reply) {
    out << reply.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    out.flush();
}

}  // namespace

bool isPasswordPrompt(std::string_view row) {
    std::string lower(row);
    std::ranges::transform(lower, lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("password") != std::string::npos;
}

std::vector<std::uint8_t> maskTyped(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    for (std::uint8_t& b : out)
        if (b >= 0x20 && b != 0x7F) b = '*';
    return out;
}

std::string maskedStep(const Step& step, std::string_view source) {
    switch (step.kind) {
        case StepKind::Char:
        case StepKind::Scan:
        case StepKind::Rfid:
            return std::string(stepName(step.kind)) + " " + std::string(kHiddenText);
        default:
            return std::string(source);
    }
}

std::string utf8OfLatin1(std::string_view bytes) {
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string maskedReport(const std::string& report, const Rows& rows, const tn::TnScreen& screen) {
    Json json = Json::parse(report, nullptr, false);
    if (json.is_discarded()) return report;
    Json shown = Json::array();
    Json shownHex = Json::array();
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        shown.push_back(utf8OfLatin1(rows[static_cast<std::size_t>(row)]));
        const auto hidden = hiddenCells(screen, row);
        std::vector<std::uint8_t> cells;
        const auto chars = screen.charRow(row).first<tn::kColumns>();
        for (std::size_t column = 0; column < hidden.size(); ++column)
            cells.push_back(hidden[column] ? 0 : chars[column]);
        shownHex.push_back(hex(cells));
    }
    Json out;
    for (auto& [key, value] : json.items()) {
        if (key == "screen") {
            out[key] = shown;
        } else if (key == "screenHex") {
            out[key] = shownHex;
        } else {
            out[key] = value;
        }
        if (key == "fields") out["inputFields"] = describeFields(screen);
    }
    for (Json& field : out["inputFields"])
        if (field["text"].is_string())
            field["text"] = utf8OfLatin1(field["text"].get<std::string>());
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Transcript::Transcript(std::ostream& out) : out_(out), start_(std::chrono::steady_clock::now()) {}

void Transcript::write(std::string_view text) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f ", seconds);
    out_ << stamp << text << '\n';
    out_.flush();
}

void Transcript::line(std::string_view what) {
    std::lock_guard lock(mutex_);
    write(what);
}

void Transcript::step(int line, std::string_view text) {
    std::lock_guard lock(mutex_);
    write("step " + std::to_string(line) + ": " + std::string(text));
}

void Transcript::sent(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    write("sent " + hex(bytes));
}

void Transcript::received(const Rows& rows) {
    std::lock_guard lock(mutex_);
    write("screen");
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (row < last_.size() && last_[row] == rows[row]) continue;
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", row);
        out_ << "          " << number << "|" << rows[row] << "|\n";
    }
    last_ = rows;
}

void writeJUnit(std::ostream& out, std::string_view suite, const std::vector<CaseReport>& cases) {
    const auto failures = std::ranges::count_if(cases, [](const CaseReport& c) {
        return c.status == kSessionWaitTimedOut || c.status == kSessionCheckFailed;
    });
    const auto errors = static_cast<long>(std::ranges::count_if(
                            cases, [](const CaseReport& c) { return c.status != kSessionDone; })) -
                        failures;
    double total = 0;
    for (const CaseReport& c : cases)
        total += c.seconds;
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", total);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<testsuites>\n  <testsuite name=\"" << xmlEscaped(suite) << "\" tests=\""
        << cases.size() << "\" failures=\"" << failures << "\" errors=\"" << errors << "\" time=\""
        << time << "\">\n";
    for (const CaseReport& c : cases) {
        std::snprintf(time, sizeof time, "%.3f", c.seconds);
        out << "    <testcase classname=\"" << xmlEscaped(suite) << "\" name=\""
            << xmlEscaped(c.name) << "\" time=\"" << time << "\"";
        if (c.status == kSessionDone) {
            out << "/>\n";
            continue;
        }
        // A check or a wait that found otherwise is a failure; a lost host or a bad run an error.
        const bool failure = c.status == kSessionWaitTimedOut || c.status == kSessionCheckFailed;
        const char* element = failure ? "failure" : "error";
        out << ">\n      <" << element << " message=\"" << xmlEscaped(c.failure.what)
            << "\" type=\"exit " << c.status << "\">" << xmlEscaped(c.failure.what) << "\n"
            << xmlEscaped(c.failure.screen) << "</" << element << ">\n    </testcase>\n";
    }
    out << "  </testsuite>\n</testsuites>\n";
}

CLI::Validator secondsUpTo(double max, bool zeroTaken) {
    const std::string rule = (zeroTaken ? "0 to " : "more than 0, up to ") +
                             std::to_string(static_cast<long>(max)) + " seconds";
    return CLI::Validator(
        [max, zeroTaken, rule](std::string& value) -> std::string {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            const bool inRange = zeroTaken ? seconds >= 0 : seconds > 0;
            if (value.empty() || *end != '\0' || !inRange || seconds > max) return "needs " + rule;
            return {};
        },
        "SECONDS");
}

ExtraCommandLine addExtraOptions(CLI::App& app, ExtraOptions& options, double& rampSeconds) {
    ExtraCommandLine added;
    const CLI::Validator notEmpty(
        [](std::string& value) { return value.empty() ? std::string("needs a value") : ""; }, "");
    added.serve = app.add_flag("--serve", options.serve,
                               "Take the steps one JSON line at a time on standard input");
    app.add_option("--junit", options.junit, "Write a JUnit report to F")
        ->type_name("F")
        ->check(notEmpty);
    app.add_option("--transcript", options.transcript,
                   "Write what the host and the station sent to F")
        ->type_name("F")
        ->check(notEmpty);
    app.add_option("--device-name", options.deviceName,
                   "The device name, with one printf integer (%d) for the session number")
        ->type_name("PATTERN")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                return !value.empty() && deviceNameOf(value, 1) ? ""
                                                                : "needs one %d at most and "
                                                                  "a name that fits the field";
            },
            ""));
    added.parallel =
        app.add_option("--parallel", options.parallel, "Run N sessions from one event loop")
            ->type_name("N")
            ->transform(cli::decimal())
            ->check(CLI::Range(1, kParallelMax));
    app.add_option("--ramp", rampSeconds, "Start the parallel sessions over S seconds")
        ->type_name("S")
        ->check(secondsUpTo(kRampMaxSeconds, true));
    return added;
}

std::optional<std::string> deviceNameOf(const std::string& pattern, int n) {
    // One conversion at most, an integer one: the pattern is never a format string otherwise.
    std::size_t conversions = 0;
    for (std::size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] != '%') continue;
        if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
            ++at;
            continue;
        }
        std::size_t spec = at + 1;
        while (spec < pattern.size() &&
               (std::isdigit(static_cast<unsigned char>(pattern[spec])) || pattern[spec] == '0'))
            ++spec;
        if (spec >= pattern.size() || pattern[spec] != 'd' || spec - at > 3) return std::nullopt;
        ++conversions;
        at = spec;
    }
    if (conversions > 1) return std::nullopt;
    char name[64];
    const int length = std::snprintf(name, sizeof name, pattern.c_str(), n);
    if (length <= 0 || static_cast<std::size_t>(length) > tn::kDeviceNameMax) return std::nullopt;
    return std::string(name, static_cast<std::size_t>(length));
}

int serveSteps(std::istream& in, std::ostream& out, StepSet allowed, const ServeHooks& hooks) {
    int status = kSessionDone;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) continue;
        auto refuse = [&](const std::string& error) {
            answer(out, {{"ok", false}, {"error", error}, {"exit", kSessionBadInput}});
            if (status == kSessionDone) status = kSessionBadInput;
        };
        if (line.size() > kServeLineMax) {
            refuse("request " + std::to_string(number) + ": longer than 65536 bytes");
            continue;
        }
        const Json request = Json::parse(line, nullptr, false);
        if (request.is_discarded() || !request.is_object() || !request.contains("step") ||
            !request["step"].is_string()) {
            refuse("request " + std::to_string(number) + ": {\"step\": \"...\"} expected");
            continue;
        }
        const std::string text = request["step"].get<std::string>();
        Script script = parseScript(text, allowed);
        if (!script.valid() || script.steps.size() != 1) {
            refuse("request " + std::to_string(number) + ": " +
                   (script.valid() ? "one step expected" : script.error));
            continue;
        }
        Step& step = script.steps.front();
        step.line = number;
        std::string printed;
        const int result = hooks.run(step, text, printed);
        if (result != kSessionDone) {
            const StepFailure& failure = hooks.failure();
            answer(out, {{"ok", false},
                         {"error", utf8OfLatin1(failure.what)},
                         {"screen", rowsJson(failure.screen)},
                         {"exit", result}});
            if (status == kSessionDone) status = result;
            continue;
        }
        Json reply{{"ok", true}};
        if (step.kind == StepKind::Dump && step.asText) {
            reply["screen"] = rowsJson(printed);
        } else if (step.kind == StepKind::Dump) {
            Json dump = Json::parse(printed, nullptr, false);
            reply["dump"] = dump.is_discarded() ? Json(utf8OfLatin1(printed)) : std::move(dump);
        }
        answer(out, reply);
    }
    return status;
}

}  // namespace qn::tools
