#pragma once
// quillnet-dialogs: the engine and symbology dialogs without a display, for developers. Lists
// the tables, or opens one dialog on a settings document of either program, applies the
// operator's actions given on the command line, and shows every control; with --ok the dialog
// is confirmed and --out writes the record.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace qn::tools {

// deviceRoot: where the reader library is loaded from for "Reset"; without one there, "Reset"
// reports the missing library defaults and applies the program's own.
int runDialogsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::filesystem::path& deviceRoot = {});

}  // namespace qn::tools
