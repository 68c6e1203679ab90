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
