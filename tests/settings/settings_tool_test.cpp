// quillnet-settings: dump, new and set, in process and as the installed program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/simreader/test_support.h"
#include "tools/quillnet-settings/settings_tool.h"
#include "vt/settings/vt_settings.h"

namespace qn::tools {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string err;
};

ToolRun run(const std::vector<std::string>& args,
            const std::filesystem::path& deviceRoot = "/none") {
    std::ostringstream out, err;
    ToolRun result;
    result.exit = runSettingsTool(args, out, err, deviceRoot);
    result.out = out.str();
    result.err = err.str();
    return result;
}

using Json = nlohmann::ordered_json;

Json dumpOf(const std::string& file) {
    return Json::parse(run({file.ends_with(".qntn") ? "5250" : "vt", "dump", file}).out);
}

int lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

struct Fixture {
    test::TempDir dir;
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string fresh(const std::string& program, const std::string& name) const {
        EXPECT_EQ(run({program, "new", path(name)}, dir.path()).exit, kExitOk);
        return path(name);
    }
};

TEST(SettingsTool, BadCommandLinesExitWithOneLine) {
    Fixture f;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"vt"},
        {"vt", "dump"},
        {"3270", "dump", f.path("x")},
        {"vt", "frob", f.path("x")},
        {"vt", "dump", f.path("x"), "extra"},
        {"vt", "dump", f.path("missing")},
        {"vt", "dump", f.dir.path().string()},
        {"5250", "set", f.path("missing"), "language=1"},
        {"vt", "new", f.path("no/dir/x.qnvt")},
    };
    for (const auto& args : cases) {
        ToolRun r = run(args, f.dir.path());
        EXPECT_EQ(r.exit, kExitBadInput) << ::testing::PrintToString(args);
        EXPECT_EQ(lines(r.err), 1) << r.err;
    }
}

// One tool running command line after command line answers each as a tool of its own would:
// nothing a line gave (assignments, fields, files, the program) is left for the next.
TEST(SettingsTool, OneToolRunsEachCommandLineAsIfAlone) {
    Fixture f;
    const std::string vt = f.fresh("vt", "a.qnvt"), tn = f.fresh("5250", "a.qntn");
    const std::string vtBytes = test::readFile(vt), tnBytes = test::readFile(tn);
    const std::vector<std::vector<std::string>> lines = {
        {"vt", "set", vt, "telnetPort=1", "hostAddress=a"},
        {"vt", "set", vt},
        {"5250", "set", tn, "language=6"},
        {"vt", "barcode", vt, "telnetPort", "--out", f.path("one.png")},
        {"vt", "barcode", vt, "--out", f.path("all.png")},
        {"vt", "apply", vt},
        {"vt", "dump", vt},
        {"5250", "dump", tn},
        {"--version"},
        {"vt"},
        {"5250", "set", tn, "hostAddress=b"},
        {"5250", "dump", tn},
    };
    auto results = [&](auto&& runLine) {
        test::writeFile(vt, vtBytes);
        test::writeFile(tn, tnBytes);
        std::vector<std::string> all;
        for (const auto& line : lines) {
            std::ostringstream out, err;
            const int exit = runLine(line, out, err);
            all.push_back(std::to_string(exit) + "|" + out.str() + "|" + err.str());
        }
        return all;
    };
    SettingsTool tool(f.dir.path());
    const auto shared = results([&](const auto& line, std::ostream& out, std::ostream& err) {
        return tool.run(line, out, err);
    });
    const auto alone = results([&](const auto& line, std::ostream& out, std::ostream& err) {
        return runSettingsTool(line, out, err, f.dir.path());
    });
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(shared[i], alone[i]) << ::testing::PrintToString(lines[i]);
    EXPECT_THAT(alone[1], ::testing::StartsWith("2|"));
    EXPECT_THAT(alone[5], ::testing::StartsWith("2|"));
}

TEST(SettingsTool, SetChangesOnlyWhatItIsToldAndAllOrNothing) {
    struct Case {
        std::vector<std::string> assignments;
        const char* error;     // nullptr: accepted
        const char* pointer;   // where the dump shows the change
        const char* expected;  // and what it shows there, as JSON
    };
    const Case cases[] = {
        {{"hostAddress=host-name-of-20-char"}, nullptr, "/hostAddress", "\"host-name-of-20-char\""},
        {{"telnetPort=0x1F90"}, nullptr, "/telnetPort", "8080"},
        {{"enableCommand=1B5b3168"}, nullptr, "/enableCommand", "\"1b5b3168\""},
        {{"macroFrame=0102030405060708090a"}, nullptr, "/macroFrame", "\"0102030405060708090a\""},
        {{"rfidStartPosition=-1", "codeLength=50"}, nullptr, "/codeLength", "50"},
        {{"loginPassword=p\xe9"}, nullptr, "/loginPassword", "\"p\\u00e9\""},
        {{"Code128_2D_4507[4]=-12"}, nullptr, "/engine/Code128_2D_4507", "[0, 0, 0, 0, -12]"},
        {{"Code93_2D=1,2,3"}, nullptr, "/engine/Code93_2D", "[1, 2, 3]"},
        {{"telnetPort=65536"}, "telnetPort: '65536' is not a number in 0..65535", nullptr, nullptr},
        {{"codeLength=0"}, "codeLength: '0' is not a number in 1..50", nullptr, nullptr},
        {{"scanVibrator=ten"}, "scanVibrator: 'ten' is not a number in 0..10", nullptr, nullptr},
        {{"enableCommand=1b5"}, "enableCommand: '1b5' is not hex bytes", nullptr, nullptr},
        {{"hostAddress=host-name-longer-than-twenty"},
         "hostAddress: 28 bytes given, the field holds 20",
         nullptr,
         nullptr},
        {{"macroFrame=0102030405060708090a0b"},
         "macroFrame: 11 bytes given, the field holds 10",
         nullptr,
         nullptr},
        {{"Code93_2D=1,2"}, "Code93_2D: 2 values given, the operation has 3", nullptr, nullptr},
        {{"Code93_2D[3]=1"}, "Code93_2D: index 3 is out of range 0..2", nullptr, nullptr},
        {{"Code93_2D=1,2,99999999999"},
         "Code93_2D: '99999999999' is not a number",
         nullptr,
         nullptr},
        {{"documentTag=eI100"}, "unknown field 'documentTag' in a vt document", nullptr, nullptr},
        {{"hostAddress"}, "'hostAddress' is not name=value", nullptr, nullptr},
        {{"hostAddress=changed", "autoConnect=2"},
         "autoConnect: '2' is not a number in 0..1",
         nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        Fixture f;
        std::string file = f.fresh("vt", "d.qnvt");
        const std::string before = test::readFile(file);
        std::vector<std::string> args{"vt", "set", file};
        args.insert(args.end(), c.assignments.begin(), c.assignments.end());
        ToolRun r = run(args);
        if (c.error != nullptr) {
            EXPECT_EQ(r.exit, kExitBadInput) << c.error;
            EXPECT_THAT(r.err, HasSubstr(c.error));
            EXPECT_EQ(lines(r.err), 1) << r.err;
            EXPECT_EQ(test::readFile(file), before) << c.error;
        } else {
            EXPECT_EQ(r.exit, kExitOk) << r.err;
            EXPECT_EQ(dumpOf(file).at(Json::json_pointer(c.pointer)), Json::parse(c.expected))
                << c.pointer;
        }
    }
}

TEST(SettingsTool, SetKeepsTheTailOfALongerFileAndRefusesAShortOne) {
    Fixture f;
    std::string file = f.fresh("5250", "d.qntn");
    test::writeFile(file, test::readFile(file) + "TAIL");
    ASSERT_EQ(run({"5250", "set", file, "documentTag=eI100", "language=6"}).exit, kExitOk);
    std::string after = test::readFile(file);
    EXPECT_EQ(after.substr(0, 6), std::string("eI100\0", 6));
    EXPECT_EQ(after.substr(3144), "TAIL");

    test::writeFile(file, std::string(100, '\0'));
    ToolRun r = run({"5250", "set", file, "language=1"});
    EXPECT_EQ(r.exit, kExitBadInput);
    EXPECT_THAT(r.err, HasSubstr("100 bytes"));
    EXPECT_EQ(test::readFile(file), std::string(100, '\0'));
}

TEST(SettingsTool, DumpShowsWhatIsThereAndHidesNothing) {
    Fixture f;
    vt::VtSettings s{};
    reader::storeText(s.hostAddress, "host");
    s.hostAddress[10] = 'x';  // behind the terminator
    s.reserved2849[5] = 0x42;
    s.rfid.reserved50[1] = 0x01;
    std::string image(reinterpret_cast<const char*>(s.bytes().data()), s.bytes().size());

    test::writeFile(f.path("full"), image + "xyz");
    ToolRun full = run({"vt", "dump", f.path("full")});
    EXPECT_EQ(full.exit, kExitOk);
    const Json dump = Json::parse(full.out);
    EXPECT_EQ(dump["fileBytes"], 3123);
    EXPECT_EQ(dump["reserved"],
              Json::parse(R"([{"offset": 2842, "size": 2, "hex": "0001"},
        {"offset": 2849, "size": 255, "hex": ")" +
                          std::string(10, '0') + "42" + std::string(498, '0') + R"("}])"));
    EXPECT_EQ(dump["textTails"],
              Json::parse(R"([{"field": "hostAddress", "offset": 10, "hex": "00000000000078"}])"));
    EXPECT_EQ(dump["trailing"], Json::parse(R"({"offset": 3120, "bytes": 3, "hex": "78797a"})"));
    EXPECT_THAT(full.err, HasSubstr("3123 bytes"));

    // Every byte value, in a run whose length is no multiple of the four bytes hex goes by.
    std::string every, everyHex;
    for (int b = 0; b < 259; ++b) {
        every += static_cast<char>(b & 0xFF);
        everyHex += "0123456789abcdef"[(b >> 4) & 0x0F];
        everyHex += "0123456789abcdef"[b & 0x0F];
    }
    test::writeFile(f.path("every"), image + every);
    EXPECT_EQ(Json::parse(run({"vt", "dump", f.path("every")}).out)["trailing"]["hex"], everyHex);

    test::writeFile(f.path("short"), image.substr(0, 108));
    ToolRun shortRun = run({"vt", "dump", f.path("short")});
    EXPECT_EQ(shortRun.exit, kExitOk);
    EXPECT_THAT(shortRun.out, HasSubstr("\"fileBytes\": 108"));
    EXPECT_THAT(shortRun.out, HasSubstr("\"telnetPort\": 0"));
    EXPECT_THAT(shortRun.out, Not(HasSubstr("loginName")));
    EXPECT_EQ(Json::parse(shortRun.out)["engine"], Json::object());
}

TEST(SettingsTool, NewWithoutReaderLibraryLeavesItsFieldsZero) {
    Fixture f;
    ToolRun r = run({"vt", "new", f.path("n.qnvt")}, f.dir.path());
    EXPECT_EQ(r.exit, kExitOk);
    EXPECT_THAT(r.err, HasSubstr("Failed to get DLL default setting!!"));
    ToolRun dump = run({"vt", "dump", f.path("n.qnvt")});
    EXPECT_THAT(dump.out, HasSubstr("\"libraryDefaults\": \"\""));
    EXPECT_EQ(Json::parse(dump.out)["engine"]["UserPreferences_1D"], Json::parse("[0, 0, 0]"));
    EXPECT_THAT(dump.out, HasSubstr("\"rfidDecodeTimeout\": 0"));
}

// The installed program against the build's device root, as a fleet administrator runs it.
struct ProcessRun {
    int exit = -1;
    std::string out;
};

ProcessRun runProgram(const std::vector<std::string>& args, const test::TempDir& scratch) {
    const std::string outFile = (scratch / "stdout").string();
    const std::string program = (test::buildBinDir() / "quillnet-settings").string();
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (auto& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ProcessRun result;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return result;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) result.exit = WEXITSTATUS(status);
    result.out = test::readFile(outFile);
    return result;
}

TEST(SettingsToolProgram, NewThenDumpShowsTheDefaults) {
    test::TempDir scratch;
    const std::string vtFile = (scratch / "d.qnvt").string();
    ASSERT_EQ(runProgram({"vt", "new", vtFile}, scratch).exit, 0);
    ProcessRun vtDump = runProgram({"vt", "dump", vtFile}, scratch);
    EXPECT_EQ(vtDump.exit, 0);
    EXPECT_THAT(vtDump.out, HasSubstr("\"hostAddress\": \"192.168.1.100\""));
    EXPECT_THAT(vtDump.out, HasSubstr("\"telnetPort\": 23,"));
    EXPECT_THAT(vtDump.out, HasSubstr("\"terminalType\": \"vt100\""));
    EXPECT_THAT(vtDump.out, HasSubstr("\"enableCommand\": \"1b5b393968\""));

    const std::string tnFile = (scratch / "d.qntn").string();
    ASSERT_EQ(runProgram({"5250", "new", tnFile}, scratch).exit, 0);
    ProcessRun tnDump = runProgram({"5250", "dump", tnFile}, scratch);
    EXPECT_EQ(tnDump.exit, 0);
    EXPECT_THAT(tnDump.out, HasSubstr("\"documentTag\": \"\""));
    EXPECT_THAT(tnDump.out, HasSubstr("\"useDeviceName\": 1,"));
}

}  // namespace
}  // namespace qn::tools
