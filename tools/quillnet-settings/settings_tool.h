#pragma once
// quillnet-settings: shows, creates and changes settings documents of both programs.
//
//   quillnet-settings vt|5250 dump FILE
//   quillnet-settings vt|5250 new OUT
//   quillnet-settings vt|5250 set FILE name=value ...
//   quillnet-settings vt|5250 apply FILE JSON
//   quillnet-settings vt|5250 barcode FILE [FIELD...] --out PICTURE [--sign | --key KEYFILE]

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qn::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadInput = 2;

// The tool's command line, made once and kept: a caller that runs command line after command
// line in one process (a test, a fuzzer) does not build the parser each time. The reader
// library for "new" is looked for in deviceRoot.
class SettingsTool {
  public:
    explicit SettingsTool(std::filesystem::path deviceRoot);
    ~SettingsTool();
    SettingsTool(const SettingsTool&) = delete;
    SettingsTool& operator=(const SettingsTool&) = delete;

    // Runs one command line (without the program name).
    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

  private:
    struct CommandLine;
    std::unique_ptr<CommandLine> commandLine_;
    std::filesystem::path deviceRoot_;
};

// Runs one command line with a tool of its own.
int runSettingsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::filesystem::path& deviceRoot);

}  // namespace qn::tools
