#include "tools/quillnet-replay/script_steps.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "platform/ini.h"
#include "tools/quillnet-replay/replay_json.h"

namespace qn::tools {

namespace {

constexpr std::array<std::pair<StepKind, std::string_view>, 14> kStepNames{{
    {StepKind::Recv, "recv"},
    {StepKind::Key, "key"},
    {StepKind::Char, "char"},
    {StepKind::Scan, "scan"},
    {StepKind::Rfid, "rfid"},
    {StepKind::Fn, "fn"},
    {StepKind::Tap, "tap"},
    {StepKind::Wait, "wait"},
    {StepKind::Expect, "expect"},
    {StepKind::Cursor, "cursor"},
    {StepKind::Field, "field"},
    {StepKind::Sleep, "sleep"},
    {StepKind::Dump, "dump"},
    {StepKind::Disconnect, "disconnect"},
}};

constexpr int kRows = 24;
constexpr int kColumns = 80;
constexpr long kSleepMaxMs = 3'600'000;
constexpr double kWaitMaxSeconds = 3600;

// A whole word as a decimal number in [low, high].
std::optional<int> number(std::string_view word, long low, long high) {
    long value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value < low || value > high)
        return std::nullopt;
    return static_cast<int>(value);
}

// A virtual-key code: hex with 0x, else decimal; 1 to 0xFF.
std::optional<int> keyCode(std::string_view word) {
    const bool hexCode = word.starts_with("0x") || word.starts_with("0X");
    if (hexCode) word.remove_prefix(2);
    long value = 0;
    const auto [end, error] =
        std::from_chars(word.data(), word.data() + word.size(), value, hexCode ? 16 : 10);
    if (word.empty() || error != std::errc() || end != word.data() + word.size() || value < 1 ||
        value > 0xFF)
        return std::nullopt;
    return static_cast<int>(value);
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
        const int high = platform::hexDigit(text[i + 2]);
        const int low = platform::hexDigit(text[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
        i += 3;
    }
    return bytes;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The text of a step: the rest of the line after one blank, without the blanks that end it (a
// comment is usually set off by them).
std::string_view stepText(std::string_view rest) {
    if (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && isBlank(rest.back()))
        rest.remove_suffix(1);
    return rest;
}

// Splits off the first blank-separated word.
std::string_view word(std::string_view& rest) {
    while (!rest.empty() && isBlank(rest.front()))
        rest.remove_prefix(1);
    std::size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const std::string_view first = rest.substr(0, end);
    rest.remove_prefix(end);
    return first;
}

// The last blank-separated word of text (already without trailing blanks), and text before it.
std::pair<std::string_view, std::string_view> lastWord(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && !isBlank(text[start - 1]))
        --start;
    std::string_view before = text.substr(0, start);
    while (!before.empty() && isBlank(before.back()))
        before.remove_suffix(1);
    return {before, text.substr(start)};
}

class LineParser {
  public:
    LineParser(Step& step, std::string_view rest) : step_(step), rest_(rest) {}

    // An empty string when the step is complete, else the complaint.
    std::string parse() {
        switch (step_.kind) {
            case StepKind::Recv: {
                auto bytes = parseHex(rest_);
                if (!bytes) return "bad hex";
                step_.text = std::move(*bytes);
                return {};
            }
            case StepKind::Key: {
                const auto code = keyCode(word(rest_));
                if (!code || !word(rest_).empty()) return "key needs a virtual-key code 1 to 0xFF";
                step_.first = *code;
                return {};
            }
            case StepKind::Char:
            case StepKind::Scan:
                if (!text(stepText(rest_))) return kBadEscape;
                if (step_.text.empty()) return std::string(stepName(step_.kind)) + " needs TEXT";
                return {};
            case StepKind::Rfid: {
                const std::string_view uid = word(rest_);
                const std::string_view data = word(rest_);
                if (uid.empty() || !word(rest_).empty()) return "rfid needs UID [DATA]";
                auto uidBytes = unescape(uid);
                auto dataBytes = unescape(data);
                if (!uidBytes || !dataBytes) return kBadEscape;
                step_.text = std::move(*uidBytes);
                step_.data = std::move(*dataBytes);
                return {};
            }
            case StepKind::Fn: {
                const auto code = number(word(rest_), 1, 47);
                if (!code || !word(rest_).empty()) return "fn needs 1 to 47";
                step_.first = *code;
                return {};
            }
            case StepKind::Tap:
                return position(false) ? std::string() : "tap needs ROW COL";
            case StepKind::Cursor:
                return position(true) ? std::string() : "cursor needs ROW 0-23 COL 0-79";
            case StepKind::Expect:
                if (!position(true, /*textFollows=*/true)) return "expect needs ROW COL TEXT";
                if (!text(stepText(rest_))) return kBadEscape;
                if (step_.text.empty()) return "expect needs ROW COL TEXT";
                return {};
            case StepKind::Field: {
                const auto n = number(word(rest_), 1, 255);
                if (!n) return "field needs N (from 1) and TEXT";
                step_.first = *n;
                return text(stepText(rest_)) ? std::string() : kBadEscape;
            }
            case StepKind::Wait:
                return waitStep();
            case StepKind::Sleep: {
                const auto ms = number(word(rest_), 0, kSleepMaxMs);
                if (!ms || !word(rest_).empty()) return "sleep needs MS (0 to 3600000)";
                step_.first = *ms;
                return {};
            }
            case StepKind::Dump: {
                const std::string_view option = word(rest_);
                step_.asText = option == "--text";
                if ((!option.empty() && !step_.asText) || !word(rest_).empty())
                    return "dump takes only --text";
                return {};
            }
            case StepKind::Disconnect:
                return word(rest_).empty() ? std::string() : "disconnect takes nothing";
        }
        return {};
    }

  private:
    static constexpr const char* kBadEscape = "bad escape (\\xHH or \\\\)";

    bool text(std::string_view value) {
        auto bytes = unescape(value);
        if (!bytes) return false;
        step_.text = std::move(*bytes);
        return true;
    }

    bool position(bool onScreen, bool textFollows = false) {
        const long rowMax = onScreen ? kRows - 1 : 9999;
        const long columnMax = onScreen ? kColumns - 1 : 9999;
        const auto row = number(word(rest_), 0, rowMax);
        const auto column = number(word(rest_), 0, columnMax);
        if (!row || !column || (!textFollows && !word(rest_).empty())) return false;
        step_.first = *row;
        step_.second = *column;
        return true;
    }

    // Options are taken from the end of the line, so the text itself may hold blanks.
    std::string waitStep() {
        std::string_view value = stepText(rest_);
        for (;;) {
            const auto [beforeValue, optionValue] = lastWord(value);
            const auto [beforeOption, option] = lastWord(beforeValue);
            if (option == "--row") {
                const auto row = number(optionValue, 0, kRows - 1);
                if (!row) return "wait --row needs 0 to 23";
                step_.row = *row;
            } else if (option == "--timeout") {
                const std::string number(optionValue);
                char* end = nullptr;
                const double seconds = std::strtod(number.c_str(), &end);
                if (number.empty() || *end != '\0' || !(seconds > 0) || seconds > kWaitMaxSeconds)
                    return "wait --timeout needs seconds (up to 3600)";
                step_.timeout = std::chrono::milliseconds(std::lround(seconds * 1000));
            } else if (option == "--quiet") {
                const auto ms = number(optionValue, 1, kSleepMaxMs);
                if (!ms) return "wait --quiet needs MS (1 to 3600000)";
                step_.quiet = std::chrono::milliseconds(*ms);
            } else {
                break;
            }
            value = beforeOption;
        }
        // "ready" alone is the host's readiness; the text "ready" is written \x72eady.
        if (value == "ready") {
            step_.ready = true;
            return step_.row ? "wait ready takes no --row" : std::string();
        }
        if (step_.quiet) return "wait --quiet is for wait ready";
        if (!text(value)) return kBadEscape;
        if (step_.text.empty()) return "wait needs TEXT";
        return {};
    }

    Step& step_;
    std::string_view rest_;
};

}  // namespace

std::string_view stepName(StepKind kind) {
    for (const auto& [k, name] : kStepNames)
        if (k == kind) return name;
    return {};
}

bool isInputStep(StepKind kind) {
    switch (kind) {
        case StepKind::Key:
        case StepKind::Char:
        case StepKind::Scan:
        case StepKind::Rfid:
        case StepKind::Fn:
        case StepKind::Tap:
            return true;
        default:
            return false;
    }
}

bool runInputStep(const Step& step, OperatorInput& input) {
    switch (step.kind) {
        case StepKind::Key:
            input.key(step.first);
            return true;
        case StepKind::Char:
            for (std::uint8_t c : step.text)
                input.character(c);
            return true;
        case StepKind::Scan:
            input.scan(step.text);
            return true;
        case StepKind::Rfid:
            input.rfid(step.text, step.data);
            return true;
        case StepKind::Fn:
            input.function(step.first);
            return true;
        case StepKind::Tap:
            input.tap(step.first, step.second);
            return true;
        default:
            return false;
    }
}

Script parseScript(std::string_view source, StepSet allowed) {
    Script script;
    int lineNumber = 0;
    while (!source.empty()) {
        ++lineNumber;
        const std::size_t end = source.find('\n');
        std::string_view line = source.substr(0, end);
        source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);
        if (const auto hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        std::string_view rest = line;
        const std::string_view name = word(rest);
        if (name.empty()) continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const auto known = std::ranges::find_if(
            kStepNames, [&](const auto& entry) { return entry.second == name; });
        if (known == kStepNames.end()) {
            script.error = where + "unknown step " + std::string(name);
            return script;
        }
        if (!allowed.has(known->first)) {
            script.error = where + "step " + std::string(name) + " is not taken here";
            return script;
        }
        Step step;
        step.kind = known->first;
        step.line = lineNumber;
        if (std::string complaint = LineParser(step, rest).parse(); !complaint.empty()) {
            script.error = where + complaint;
            return script;
        }
        script.steps.push_back(std::move(step));
    }
    return script;
}

}  // namespace qn::tools
