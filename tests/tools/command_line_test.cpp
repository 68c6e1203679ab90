// Every tool's command line, run as installed: --help and --version answer the same way
// everywhere, and a command line that does not parse ends with the tool's own status.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ToolRun run(const std::string& tool, const std::string& args) {
    const auto base = std::filesystem::temp_directory_path() /
                      ("qn_cli_" + std::to_string(::getpid()) + "_" + tool);
    const std::string out = base.string() + ".out", err = base.string() + ".err";
    const std::string command = std::string(QN_TEST_BIN_DIR) + "/" + tool + " " + args +
                                " </dev/null >" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    ToolRun result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

TEST(CommandLine, EveryToolAnswersHelpVersionAndABadOption) {
    const struct {
        const char* tool;
        const char* subcommand;  // the help of a subcommand names it too
        const char* required;    // what makes the command line whole but for the bad option
        int badStatus;
    } tools[] = {
        {"quillnet-settings", "vt dump", "x.qnvt", 2},
        {"quillnet-scan", "", "DATA", 64},
        {"quillnet-session", "5250", "--host 127.0.0.1", 2},
        {"quillnet-session", "vt", "--host 127.0.0.1", 2},
        {"quillnet-demohost", "vt", "", 2},
        {"quillnet-replay", "vt", "", 1},
        {"quillnet-replay", "5250", "", 1},
        {"quillnet-device", "", "", 64},
        {"quillnet-dialogs", "show", "vt CDlg955ReaderPara", 2},
    };
    for (const auto& t : tools) {
        const std::string tool = t.tool, sub = t.subcommand;
        const std::string usage = "Usage: " + tool + (sub.empty() ? "" : " " + sub) + " ";
        SCOPED_TRACE(tool + " " + sub);

        ToolRun r = run(tool, sub + " --help");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(usage), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--help"), std::string::npos);
        EXPECT_EQ(r.err, "");

        r = run(tool, "--version");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, tool + " " + QN_TEST_VERSION + "\n");
        EXPECT_EQ(r.err, "");

        // One line on standard error, naming the tool and the option; nothing on standard output.
        r = run(tool, sub + " " + t.required + " --no-such-option");
        EXPECT_EQ(r.status, t.badStatus);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(tool + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("--no-such-option"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

}  // namespace
