// Real programs from Debian in a pseudo-terminal of 80 × 24 with TERM=vt100, driven by keys as
// an operator would press them. Everything they write goes, receive by receive, into the
// emulator under its vt100 rules and into libvterm; the two screens must agree at the end.
// A program that is not installed skips its case (scripts/setup installs nano, vim, dialog and
// whiptail).

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/vt/vt_test_support.h"
#include "tests/vt/vterm_peer.h"

namespace qn::vt::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string findProgram(const std::string& name) {
    for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

// One program on the slave side of a pseudo-terminal; what it writes is kept read by read.
class PtyProgram {
  public:
    PtyProgram(const std::vector<std::string>& argv, const std::filesystem::path& home) {
        winsize size{};
        size.ws_row = kScreenRows;
        size.ws_col = kScreenColumns;
        pid_ = ::forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            ::setenv("TERM", "vt100", 1);
            ::setenv("LANG", "C", 1);
            ::setenv("LC_ALL", "C", 1);
            ::setenv("HOME", home.c_str(), 1);
            ::unsetenv("COLUMNS");
            ::unsetenv("LINES");
            std::vector<char*> args;
            for (const std::string& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~PtyProgram() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    PtyProgram(const PtyProgram&) = delete;
    PtyProgram& operator=(const PtyProgram&) = delete;

    bool started() const { return pid_ > 0 && fd_ >= 0; }

    // Reads until the program has written nothing for `quiet`, or `limit` has passed.
    void settle(std::chrono::milliseconds quiet = 50ms, std::chrono::milliseconds limit = 5s) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pollfd in{fd_, POLLIN, 0};
            if (::poll(&in, 1, static_cast<int>(quiet.count())) <= 0) return;
            char buffer[1024];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return;
            reads.emplace_back(buffer, static_cast<std::size_t>(n));
        }
    }

    // Each key as one write, then what the program answers.
    void press(const std::vector<std::string>& keys) {
        for (const std::string& key : keys) {
            if (::write(fd_, key.data(), key.size()) != static_cast<ssize_t>(key.size())) return;
            settle();
        }
    }

    std::vector<std::string> reads;

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

std::vector<std::string> times(int n, const std::string& key) {
    return std::vector<std::string>(static_cast<std::size_t>(n), key);
}

const std::string kUp = "\033OA";
const std::string kDown = "\033OB";
const std::string kBack = "\b";

struct Session {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;  // after the program; FILE is the test's data file
    std::vector<std::vector<std::string>> keys;
    // Every non-empty row of the final screen that matches `rowsLike` must match `whole`:
    // records cut or merged by a misplaced update show up here.
    const char* rowsLike;
    const char* whole;
    std::vector<std::string> shown;  // texts the final screen must show
    // What the program's output must use (a pattern), so that the session tries what it is
    // meant to: a scroll region, BS.
    const char* uses;
};

// The data file: numbered stock records, more than a screen of them.
std::string records() {
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "bin A" + std::string(i < 10 ? "0" : "") + std::to_string(i) + " qty " +
                std::to_string(i * 10) + "\n";
    return text;
}

TEST(VtPtyGolden, RealProgramsAgreeWithLibvterm) {
    const Session sessions[] = {
        {"nano: cut and paste lines, scroll past the bottom and back, edit with BS",
         "nano",
         {"--ignorercfiles", "--nohelp", "FILE"},
         {{"\x0b", "\x0b"},  // cut the first two records
          times(3, kDown),
          {"\x15"},  // paste them below the third
          times(30, kDown),
          {"\x05", " 12956"},  // end of line, type, then correct it
          times(3, kBack),
          {"3", "\x0b"},
          times(25, kUp),
          {"\x15"}},
         "bin A",
         R"(bin A\d\d qty \d+( 123)?)",
         {"bin A", "qty"},
         R"(\x1b\[\d+;\d+r)"},
        {"vim: delete and put lines, scroll down and back, an insert corrected with BS",
         "vim",
         {"-u", "NONE", "-i", "NONE", "-N", "-n", "FILE"},
         {{"d", "d", "j", "j", "p"},
          times(30, "j"),
          {"A", " ", "1", "2", "9", "5", "6"},
          times(3, kBack),
          {"3", "\033", "d", "d"},
          times(25, "k"),
          {"P"}},
         "bin A",
         R"(bin A\d\d qty \d+( 123)?)",
         {"bin A", "qty"},
         R"(\x1b\[\d+;\d+r)"},
        {"dialog: a form edited field by field, corrected with BS",
         "dialog",
         {"--ascii-lines",
          "--form",
          "Stock count",
          "14",
          "50",
          "4",
          "Bin:",
          "1",
          "1",
          "A12",
          "1",
          "8",
          "12",
          "0",
          "Qty:",
          "2",
          "1",
          "10",
          "2",
          "8",
          "12",
          "0",
          "Note:",
          "3",
          "1",
          "",
          "3",
          "8",
          "30",
          "0"},
         {{kDown, "12956"}, times(3, kBack), {"3", kDown, "recount"}, times(5, kBack), {"ok"}},
         "Qty:",
         R"(.*\|Qty: +12310 +\| \|)",
         {"Stock count", "Bin:", "A12", "12310", "reok"},
         "\b"},
        {"whiptail: an input box corrected with BS, its box drawn with line drawing",
         "whiptail",
         {"--title", "Stock count", "--inputbox", "Qty for bin A12:", "10", "40", "10"},
         {{"12956"}, times(3, kBack), {"3"}},
         "Qty",
         R"(.*Qty for bin A12: +.*)",
         {"Stock count", "Qty for bin A12:", "10123", "<Ok>"},
         "\x0e"},
    };
    const auto dir =
        std::filesystem::temp_directory_path() / ("qn_vt_pty_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "stock.txt";
    for (const Session& s : sessions) {
        SCOPED_TRACE(s.name);
        const std::string path = findProgram(s.program);
        if (path.empty()) {
            std::printf("[  SKIPPED ] %s is not installed\n", s.program);
            continue;
        }
        std::ofstream(file) << records();
        std::vector<std::string> argv{path};
        for (const std::string& arg : s.arguments)
            argv.push_back(arg == "FILE" ? file.string() : arg);
        PtyProgram program(argv, dir);
        ASSERT_TRUE(program.started());
        program.settle(1s, 15s);
        for (const auto& keys : s.keys)
            program.press(keys);
        program.settle(1s, 15s);
        std::string output;
        for (const std::string& read : program.reads)
            output += read;
        EXPECT_TRUE(std::regex_search(output, std::regex(s.uses))) << "the output never uses it";

        VtSettings settings{};
        applyEmulatorDefaults(settings);
        RecordingVtHost host;
        VtEmulator emulator(settings, host);
        emulator.vtReset();
        VtermPeer peer;
        for (const std::string& read : program.reads) {
            emulator.feed(reinterpret_cast<const std::uint8_t*>(read.data()), read.size());
            peer.feed(read);
        }
        EXPECT_EQ(screenDifference(emulator.screen(), peer), "");

        std::string screen;
        const std::regex whole(s.whole);
        for (int row = 0; row < kScreenRows; ++row) {
            const std::string text = emulatorRow(emulator.screen(), row);
            screen += text + "\n";
            if (text.find(s.rowsLike) != std::string::npos) {
                EXPECT_TRUE(std::regex_match(text, whole)) << "row " << row << ": " << text;
            }
        }
        for (const std::string& text : s.shown)
            EXPECT_NE(screen.find(text), std::string::npos) << text << "\n" << screen;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qn::vt::test
