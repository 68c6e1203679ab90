// quillnet-dialogs, run in process: the tables listed, a dialog opened on either program's
// settings document, changed, confirmed and written back.

#include "tools/quillnet-dialogs/dialogs_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "tests/simreader/test_support.h"
#include "tn5250/settings/tn_settings.h"
#include "vt/settings/vt_settings.h"

namespace qn::tools {
namespace {

using ::testing::HasSubstr;

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun run(std::vector<std::string> args, const std::filesystem::path& root = {}) {
    std::ostringstream out, err;
    const int status = runDialogsTool(args, out, err, root);
    return {status, out.str(), err.str()};
}

TEST(DialogsTool, ListsEveryTable) {
    const ToolRun r = run({"list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 67);
    EXPECT_THAT(r.out, HasSubstr("CDlg4407ReaderPara \"4507 Reader Setting\"\n"));
}

TEST(DialogsTool, ChangesADialogOnEitherProgramsDocument) {
    test::TempDir dir;
    struct Case {
        const char* program;
        std::size_t size;
        int offset;  // UserPreferences_1D_SE955 value 1
    };
    for (const Case& c :
         {Case{"vt", vt::kVtSettingsSize, 1160}, Case{"5250", tn::kTnSessionSize, 1436}}) {
        const std::string file = (dir / (std::string("s.") + c.program)).string();
        ToolRun r = run(
            {"show", c.program, "CDlg955ReaderPara", "--select", "1000=1", "--ok", "--out", file});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string bytes = test::readFile(file);
        ASSERT_EQ(bytes.size(), c.size);
        EXPECT_EQ(bytes[static_cast<std::size_t>(c.offset)], 20) << "(1 + 1) x 10";
        r = run({"show", c.program, "CDlg955ReaderPara", "--settings", file});
        EXPECT_THAT(r.out, HasSubstr("1000 combobox selected 1 \"2 sec\""));
        EXPECT_THAT(r.out, HasSubstr("static \"Aim pattern Duration:\" hidden"));
    }
}

TEST(DialogsTool, AnOutOfRangeNumberIsRefusedWithTheFrameworksMessage) {
    const ToolRun r = run({"show", "vt", "CDlg4407Code93", "--text", "1004=99", "--ok"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Enter an integer between 1 and 55.\n");
    EXPECT_EQ(run({"show", "vt", "CDlgNone"}).status, 2);
    EXPECT_EQ(run({"show", "vt", "CDlg4407Code93", "--click", "7"}).status, 2);
}

// "Reset" on a document whose reader fields were changed: with the device root's reader library
// its defaults and the program's come back silently; without one the missing defaults are
// reported and the program's own still come back.
TEST(DialogsTool, ResetUsesTheDeviceRootsReaderOrReportsItsAbsence) {
    test::TempDir dir;
    const std::filesystem::path withReader = dir / "with";
    const std::filesystem::path without = dir / "without";
    std::filesystem::create_directories(withReader);
    std::filesystem::create_directories(without);
    test::writeFile(withReader / "reader.ini", "[reader]\ntype=0x05\nactive=0x27\n");
    test::copyPlugin(withReader, "ScanSvc_CE.so", "ScanSvc_CE.so");
    struct Case {
        std::filesystem::path root;
        std::string err;
    };
    for (const Case& c :
         {Case{withReader, ""}, Case{without, "Failed to get DLL default setting!!\n"}}) {
        auto changed = std::make_unique<vt::VtSettings>();
        readerSettings(*changed).scan.maximumLength = 99;
        const std::string file = (dir / "s.vt").string();
        test::writeFile(file, std::string(reinterpret_cast<const char*>(changed->bytes().data()),
                                          changed->bytes().size()));
        const ToolRun r = run(
            {"show", "vt", "CDlg4407Main", "--settings", file, "--click", "1170", "--out", file},
            c.root);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.err) << c.root;
        auto reset = std::make_unique<vt::VtSettings>();
        const std::string bytes = test::readFile(file);
        ASSERT_EQ(bytes.size(), reset->bytes().size());
        std::copy(bytes.begin(), bytes.end(), reset->bytes().begin());
        EXPECT_EQ(readerSettings(*reset).scan.maximumLength, 20) << c.root;
    }
}

}  // namespace
}  // namespace qn::tools
