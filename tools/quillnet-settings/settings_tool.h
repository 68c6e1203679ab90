#pragma once
// quillnet-settings: shows, creates and changes settings documents of both programs.
//
//   quillnet-settings vt|5250 dump FILE
//   quillnet-settings vt|5250 new OUT
//   quillnet-settings vt|5250 set FILE name=value ...
//   quillnet-settings vt|5250 apply FILE JSON
//   quillnet-settings vt|5250 barcode FILE [FIELD...] --out PICTURE [--sign | --key KEYFILE]

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace qn::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 2;

// Runs one command line (without the program name). The reader library for "new" is looked for
// in deviceRoot.
int runSettingsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::filesystem::path& deviceRoot);

}  // namespace qn::tools
