#include "common/cli/cli.h"

#include <algorithm>

namespace qn::cli {

std::string_view version() {
    return QN_VERSION;
}

std::string versionLine(std::string_view program) {
    return std::string(program) + " " + std::string(version());
}

void prepare(CLI::App& app, std::string_view program) {
    app.name(std::string(program));
    app.set_version_flag("--version", versionLine(program), "Print the version and exit");
}

CLI::Validator decimal() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const std::size_t sign = value.starts_with('-') ? 1 : 0;
            const bool ok = value.size() > sign &&
                            std::all_of(value.begin() + static_cast<std::ptrdiff_t>(sign),
                                        value.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!ok) return "needs a decimal number";
            // Leading zeros off, so that the conversion cannot take the number for octal.
            const std::size_t first = value.find_first_not_of('0', sign);
            value.erase(sign, (first == std::string::npos ? value.size() - 1 : first) - sign);
            return {};
        },
        "");
}

std::optional<int> parse(CLI::App& app, std::vector<std::string> args, std::ostream& out,
                         std::ostream& err, int errorStatus) {
    // CLI11 takes the arguments last first.
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        std::ranges::replace(what, '\n', ' ');
        err << app.get_name() << ": " << what << " (--help shows the usage)\n";
        return errorStatus;
    }
    return std::nullopt;
}

}  // namespace qn::cli
