#pragma once
// What every program and tool shares on its command line: one version, defined by the build,
// and one way of answering --help, --version and a command line that does not parse.

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qn::cli {

// The version of the build ("3.0").
std::string_view version();
// "NAME VERSION", what --version prints.
std::string versionLine(std::string_view program);

// Adds --version to the app; --help is CLI11's own.
void prepare(CLI::App& app, std::string_view program);

// A transform for whole numbers in decimal digits only: CLI11 alone reads "010" as octal and
// "0x10" as hex.
CLI::Validator decimal();

// Parses args (without the program name). Returns nothing when the program is to go on, else
// the status to exit with: 0 after --help or --version (printed on out), errorStatus after an
// error (one line on err, "NAME: what went wrong").
std::optional<int> parse(CLI::App& app, std::vector<std::string> args, std::ostream& out,
                         std::ostream& err, int errorStatus = 2);

}  // namespace qn::cli
