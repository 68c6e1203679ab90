// Fleet settings: JSON applied to documents, configuration codes read part by part, and the
// QR pictures the tool writes read back by a real decoder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "common/fleet/config_code.h"
#include "common/fleet/config_scan.h"
#include "platform/message_box.h"
#include "tests/simreader/test_support.h"
#include "tools/quillnet-replay/vt_replay.h"
#include "tools/quillnet-settings/settings_dump.h"
#include "tools/quillnet-settings/settings_tool.h"

namespace qn::tools {
namespace {

using ::testing::HasSubstr;
using Reader = fleet::ConfigCodeReader;

int runTool(const std::vector<std::string>& args, std::string* out = nullptr,
            std::string* err = nullptr) {
    std::ostringstream o, e;
    const int status = runSettingsTool(args, o, e, "/none");
    if (out != nullptr) *out = o.str();
    if (err != nullptr) *err = e.str();
    return status;
}

struct Docs {
    test::TempDir dir;
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string fresh(const std::string& program, const std::string& name) const {
        EXPECT_EQ(runTool({program, "new", path(name)}), kExitOk);
        return path(name);
    }
};

TEST(FleetJson, DumpThenApplyOntoAFreshDocumentGivesTheSameBytes) {
    struct Case {
        const char* program;
        std::vector<std::string> changes;
        std::string tail;  // bytes behind the record
    };
    const Case cases[] = {
        {"vt",
         {"hostAddress=h\xe9st\x01\"\\", "telnetPort=2323", "Code93_2D=-1,2147483647,-2147483648",
          "enableCommand=00ff10", "loginPassword=s3cret"},
         "TAIL\x00\xff"},
        {"5250", {"documentTag=eI100", "language=6", "UserPreferences_1D=7,8,9"}, ""},
    };
    for (const Case& c : cases) {
        Docs d;
        const std::string ext = std::string(c.program) == "vt" ? ".qnvt" : ".qntn";
        const std::string source = d.fresh(c.program, "a" + ext);
        std::vector<std::string> set{c.program, "set", source};
        set.insert(set.end(), c.changes.begin(), c.changes.end());
        ASSERT_EQ(runTool(set), kExitOk);
        // Bytes no field shows by name: behind a text's terminator and in a reserved span.
        std::string bytes = test::readFile(source);
        bytes[18] = 'Z';
        bytes[2850] = '\x42';
        test::writeFile(source, bytes + c.tail);
        std::string json;
        ASSERT_EQ(runTool({c.program, "dump", source}, &json), kExitOk);
        test::writeFile(d.path("a.json"), json);

        const std::string target = d.fresh(c.program, "b" + ext);
        std::string err;
        EXPECT_EQ(runTool({c.program, "apply", target, d.path("a.json")}, nullptr, &err), kExitOk)
            << err;
        EXPECT_EQ(test::readFile(target), test::readFile(source)) << c.program;
    }
}

TEST(FleetJson, ABadJsonIsRefusedByNameAndRuleAndTheDocumentStays) {
    const std::pair<std::string, const char*> cases[] = {
        {R"({"hostAdress": "x"})", "unknown field 'hostAdress' in a vt document"},
        {R"({"telnetPort": 65536})", "telnetPort: 65536 is not a number in 0..65535"},
        {R"({"telnetPort": "23"})", "telnetPort: a whole number is wanted"},
        {R"({"telnetPort": 2.5})", "telnetPort: a whole number is wanted"},
        {R"({"hostAddress": "012345678901234567890"})", "hostAddress: 21 bytes given"},
        {R"({"hostAddress": "\u0100"})", "hostAddress: the text has a character past U+00FF"},
        {R"({"hostAddress": "a\u0000b"})", "hostAddress: a text holds no zero byte"},
        {R"({"enableCommand": "1b5"})", "enableCommand: not hex bytes"},
        {R"({"engine": {"Code93_2D": [1, 2]}})", "Code93_2D: 2 values given, the operation has 3"},
        {R"({"engine": {"Code93_2D": [1, 2, 2147483648]}})", "Code93_2D[2]: 2147483648 is not"},
        {R"({"engine": {"Code39": [1]}})", "engine: unknown operation 'Code39'"},
        {R"({"reserved": [{"offset": 3119, "size": 2, "hex": "0000"}]})",
         "not inside a reserved span"},
        {R"({"textTails": [{"field": "hostAddress", "offset": 3, "hex": "0041"}]})",
         "the tail of hostAddress must lie behind its text"},
        {R"({"program": "5250"})", "program: the JSON is for \"5250\""},
        {R"({"trailing": {"offset": 3120, "bytes": 9000, "hex": "00"}})", "trailing: only a dump"},
        {R"({"telnetPort": 1, "loginName": 5})", "loginName: a text in quotes is wanted"},
        {R"({"telnetPort": 1,})", "not JSON: parse error at line 1, column 18"},
        {R"([1])", "the JSON must be an object"},
        {R"({"telnetPort": 23, "telnetPort": 2323})", "telnetPort: given twice in one object"},
        {R"({"engine": {"Code93_2D": [1, 2, 3], "Code93_2D": [3, 2, 1]}})",
         "Code93_2D: given twice in one object"},
        {R"({"telnetPort": 1e999})", "not JSON: number overflow"},
        {std::string(20000, '[') + std::string(20000, ']'), "nests deeper than 8 levels"},
        {"{\"loginName\": \"" + std::string(2 << 20, 'x') + "\"}", "more than the 1048576"},
    };
    for (const auto& [json, error] : cases) {
        Docs d;
        const std::string doc = d.fresh("vt", "a.qnvt");
        const std::string before = test::readFile(doc);
        test::writeFile(d.path("in.json"), json);
        std::string err;
        EXPECT_EQ(runTool({"vt", "apply", doc, d.path("in.json")}, nullptr, &err), kExitBadInput);
        EXPECT_THAT(err, HasSubstr(error)) << json.substr(0, 60);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(test::readFile(doc), before) << error;
    }
}

// The codes for a whole document, read by the reader in the order given.
struct CodeRun {
    std::vector<Reader::Outcome> outcomes;
    std::vector<std::uint8_t> applied;
};

fleet::RecordLayout vtLayout() {
    return *documentKind("vt");
}

std::vector<std::uint8_t> sampleRecord() {
    Docs d;
    const std::string doc = d.fresh("vt", "a.qnvt");
    EXPECT_EQ(runTool({"vt", "set", doc, "hostAddress=wh-7;a&b=c%\xff", "telnetPort=2323",
                       "Code93_2D=-1,0,5", "scanBeeper=3", "loginPassword=pw"}),
              kExitOk);
    const std::string bytes = test::readFile(doc);
    return {bytes.begin(), bytes.end()};
}

CodeRun readCodes(const std::vector<std::string>& codes, std::span<const std::uint8_t> key) {
    CodeRun run;
    Reader reader(vtLayout());
    for (const std::string& code : codes) {
        run.outcomes.push_back(reader.add(code, key));
        if (run.outcomes.back().result == Reader::Result::Complete) {
            run.applied.assign(vtLayout().size, 0);
            EXPECT_EQ(fleet::applyAssignments(vtLayout(), run.outcomes.back().values, run.applied),
                      std::nullopt);
        }
    }
    return run;
}

TEST(ConfigCodes, ASetIsReadWholeOrNotAtAll) {
    const std::vector<std::uint8_t> record = sampleRecord();
    const std::vector<std::uint8_t> key(32, 0x5A), otherKey(32, 0x33);
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < fleet::nameCount(vtLayout()); ++i)
        all.push_back(i);
    const auto plain = fleet::encodeConfigCodes(vtLayout(), record, all, {});
    const auto signedCodes = fleet::encodeConfigCodes(vtLayout(), record, all, key);
    ASSERT_GE(plain.codes.size(), 3u);
    for (const auto& code : signedCodes.codes)
        EXPECT_LE(code.size(), fleet::kMaxCodeText);
    const auto& p = plain.codes;
    std::vector<std::string> reversed(p.rbegin(), p.rend());
    std::string flipped = p[1];
    flipped[30] ^= 0x01;
    std::string version2 = p[0];
    version2[4] = '2';
    const std::string other =
        fleet::encodeConfigCodes(vtLayout(), record, std::vector<std::size_t>{0, 1}, {}).codes[0];
    const std::vector<std::uint8_t> tnRecord(documentKind("5250")->size, 0);
    const std::string otherProgram =
        fleet::encodeConfigCodes(*documentKind("5250"), tnRecord, std::vector<std::size_t>{0}, {})
            .codes[0];

    struct Case {
        const char* name;
        std::vector<std::string> codes;
        std::span<const std::uint8_t> key;
        bool complete;
        const char* lastMessage;
    };
    const Case cases[] = {
        {"in order", p, {}, true, ""},
        {"last part first", reversed, {}, true, ""},
        {"signed, with the key", signedCodes.codes, key, true, ""},
        {"signed, no key configured", signedCodes.codes, {}, true, ""},
        {"unsigned, a key configured", {p[0]}, key, false, "not signed with this site's key"},
        {"signed with another key", {signedCodes.codes[0]}, otherKey, false, "not signed"},
        {"a part repeated", {p[0], p[0]}, {}, false, "part 1 of"},
        {"a part missing", {p[0], p[2]}, {}, false, "still to scan: 2"},
        {"cut short", {p[0].substr(0, p[0].size() - 1)}, {}, false, "damaged or cut short"},
        {"a byte changed", {flipped}, {}, false, "damaged or cut short"},
        {"a later version", {version2}, {}, false, "is version 2; this program reads version 1"},
        {"another set between", {p[0], other}, {}, true, ""},
        {"another set's part", {p[0], p[1], other}, {}, true, ""},
        {"for another program", {otherProgram}, {}, false, "is for the 5250 program"},
    };
    for (const Case& c : cases) {
        const CodeRun run = readCodes(c.codes, c.key);
        const bool complete = run.outcomes.back().result == Reader::Result::Complete;
        EXPECT_EQ(complete, c.complete) << c.name << ": " << run.outcomes.back().message;
        EXPECT_THAT(run.outcomes.back().message, HasSubstr(c.lastMessage)) << c.name;
        if (complete && std::string(c.name) != "another set between" &&
            std::string(c.name) != "another set's part") {
            EXPECT_EQ(fleet::describeChanges(vtLayout(), record, run.applied),
                      std::vector<std::string>{})
                << c.name;
        }
    }
    // A part of another set discards what was gathered, and says so.
    const CodeRun mixed = readCodes({p[0], other}, {});
    ASSERT_EQ(mixed.outcomes.back().result, Reader::Result::Complete);
    EXPECT_EQ(mixed.outcomes.back().values.size(), 2u);
    const CodeRun interrupted = readCodes({p[0], p[1], other, p[2]}, {});
    EXPECT_EQ(interrupted.outcomes[3].result, Reader::Result::Waiting);
    EXPECT_THAT(interrupted.outcomes[3].message, HasSubstr("read; still to scan: 1, 2"));
}

TEST(ConfigCodes, AScanThatMerelyStartsLikeOneIsRefusedAndNothingElseIsOne) {
    const std::pair<std::string, bool> cases[] = {
        {"~QNC", true},
        {"~QNC1;vt;00000000;1/1;1=23;00000000", true},
        {"~QNC1;vt;00000000;1/1;1=23", true},
        {"QNC1;vt", false},
        {"~qnc1", false},
        {"012345678905", false},
    };
    for (const auto& [text, isCode] : cases) {
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        EXPECT_EQ(fleet::isConfigCode(bytes), isCode) << text;
        if (!isCode) continue;
        Reader reader(vtLayout());
        EXPECT_EQ(reader.add(text, {}).result, Reader::Result::Rejected) << text;
    }
}

// What zbarimg reads from a picture: the text after "QR-Code:".
std::optional<std::string> zbar(const std::string& picture) {
    const std::string command = "zbarimg -q --raw " + picture + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string text;
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        text.append(chunk, n);
    if (::pclose(pipe) != 0) return std::nullopt;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

TEST(ConfigCodes, TheToolsPicturesDecodeToCodesThatCarryTheDocument) {
    if (std::system("zbarimg --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no zbarimg";
    Docs d;
    const std::string doc = d.fresh("vt", "a.qnvt");
    ASSERT_EQ(runTool({"vt", "set", doc, "hostAddress=wh-7;a&b", "loginPassword=pw", "prefixOn=1"}),
              kExitOk);
    std::string listed;
    ASSERT_EQ(runTool({"vt", "barcode", doc, "--out", d.path("codes.png")}, &listed), kExitOk);
    std::vector<std::string> codes;
    std::istringstream pictures(listed);
    for (std::string picture; std::getline(pictures, picture);) {
        std::optional<std::string> text = zbar(picture);
        ASSERT_TRUE(text) << picture;
        codes.push_back(*text);
    }
    ASSERT_GT(codes.size(), 1u);
    const CodeRun run = readCodes(codes, {});
    ASSERT_EQ(run.outcomes.back().result, Reader::Result::Complete);
    const std::string bytes = test::readFile(doc);
    const std::vector<std::string> differences = fleet::describeChanges(
        vtLayout(), std::vector<std::uint8_t>(bytes.begin(), bytes.end()), run.applied);
    // Everything but the password came across.
    EXPECT_EQ(differences, std::vector<std::string>{"loginPassword: changed"});
}

// A program's side: what the operator is shown and asked, and what reaches the session record.
TEST(ConfigCodes, TheOperatorSeesTheChangesAndDecides) {
    const std::vector<std::uint8_t> key(20, 'k');
    const std::vector<std::uint8_t> site = sampleRecord();
    const std::vector<std::uint8_t> blank(vtLayout().size, 0);
    auto codesFor = [&](std::vector<std::string> names, std::span<const std::uint8_t> signWith) {
        std::vector<std::size_t> indices;
        for (const auto& name : names)
            indices.push_back(*fleet::indexOf(vtLayout(), name));
        return fleet::encodeConfigCodes(vtLayout(), site, indices, signWith).codes;
    };
    struct Case {
        const char* name;
        std::vector<std::string> codes;
        std::string keyFile;  // empty: none in the settings folder
        platform::MbResult answer;
        const char* lastText;
        bool committed;
    };
    const std::string keyText(key.begin(), key.end());
    const Case cases[] = {
        {"yes", codesFor({"telnetPort", "loginPassword"}, {}), "", platform::MbResult::Yes,
         "telnetPort: 0 -> 2323\nloginPassword: changed\n\nApply the configuration from this "
         "barcode?",
         true},
        {"no", codesFor({"telnetPort"}, {}), "", platform::MbResult::No, "telnetPort: 0 -> 2323",
         false},
        {"nothing changes", codesFor({"lineBuffer"}, {}), "", platform::MbResult::Yes,
         "The configuration from this barcode changes nothing.", false},
        {"signed, the key in place", codesFor({"telnetPort"}, key), keyText + "\n",
         platform::MbResult::Yes, "Apply the configuration", true},
        {"unsigned, the key in place", codesFor({"telnetPort"}, {}), keyText,
         platform::MbResult::Yes, "not signed with this site's key", false},
        {"a key too short to serve", codesFor({"telnetPort"}, key), "short",
         platform::MbResult::Yes, "must hold 16 to 1024 bytes", false},
    };
    for (const Case& c : cases) {
        Docs d;
        if (!c.keyFile.empty()) test::writeFile(d.path("site.key"), c.keyFile);
        platform::RecordingMessageBoxes messages;
        std::optional<std::vector<std::uint8_t>> committed;
        fleet::ConfigScan scan(
            vtLayout(), messages, d.dir.path(), [&] { return blank; },
            [&](std::span<const std::uint8_t> r) { committed.emplace(r.begin(), r.end()); });
        messages.queueAnswer(c.answer);
        for (const std::string& code : c.codes) {
            EXPECT_TRUE(
                scan.handle({reinterpret_cast<const std::uint8_t*>(code.data()), code.size()}));
        }
        ASSERT_FALSE(messages.texts().empty()) << c.name;
        EXPECT_THAT(messages.texts().back(), HasSubstr(c.lastText)) << c.name;
        EXPECT_EQ(committed.has_value(), c.committed) << c.name;
        if (committed) {
            EXPECT_EQ(fleet::readValue(vtLayout(), fleet::nameAt(vtLayout(), 1), *committed),
                      fleet::Value{std::int64_t{2323}});
        }
    }
    platform::RecordingMessageBoxes quiet;
    fleet::ConfigScan scan(
        vtLayout(), quiet, "/none", [&] { return blank; }, [](auto) {});
    EXPECT_FALSE(scan.handle(std::vector<std::uint8_t>{'Q', 'N', 'C'}));
    EXPECT_TRUE(quiet.texts().empty());
}

// The "sends" list of a replay report.
std::string sendsOf(const std::string& report) {
    const std::size_t from = report.find("\"sends\": ");
    return from == std::string::npos ? "" : report.substr(from, report.find(']', from) - from);
}

std::string replay(const std::string& steps, const std::string& settings) {
    VtReplayOptions options;
    options.script = true;
    options.settingsPath = settings;
    VtReplayResult result = replayVt({steps.begin(), steps.end()}, options);
    EXPECT_EQ(result.exitCode, 0) << result.error;
    return result.json;
}

// The codes as zbarimg reads them, scanned in the VT program: a later scan is edited by the
// settings they carried, as it would be with the document they were made from.
TEST(ConfigCodes, ScannedCodesChangeTheSessionAndAreNeverSent) {
    if (std::system("zbarimg --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no zbarimg";
    Docs d;
    const std::string fresh = d.fresh("vt", "fresh.qnvt");
    const std::string site = d.fresh("vt", "site.qnvt");
    ASSERT_EQ(runTool({"vt", "set", site, "prefixOn=1", "prefixCode=23503b", "suffixOn=1",
                       "suffixCode=26"}),
              kExitOk);
    std::string listed;
    ASSERT_EQ(runTool({"vt", "barcode", site, "prefixOn", "prefixCode", "suffixOn", "suffixCode",
                       "--out", d.path("c.png")},
                      &listed),
              kExitOk);
    std::string steps;
    std::istringstream pictures(listed);
    for (std::string picture; std::getline(pictures, picture);) {
        std::optional<std::string> text = zbar(picture);
        ASSERT_TRUE(text) << picture;
        std::string line = "scan ";
        for (const char c : *text)
            line += c == '#'    ? std::string("\\x23")
                    : c == '\\' ? std::string("\\\\")
                                : std::string(1, c);
        steps += line + "\n";
    }
    const std::string withCodes = replay(steps + "scan ABC\n", fresh);
    EXPECT_EQ(sendsOf(withCodes), sendsOf(replay("scan ABC\n", site)));
    EXPECT_NE(sendsOf(withCodes), sendsOf(replay("scan ABC\n", fresh)));
    EXPECT_NE(withCodes.find("Apply the configuration from this barcode?"), std::string::npos);
    // A damaged code is not sent either, and changes nothing.
    const std::string damaged =
        replay("scan ~QNC1;vt;00000000;1/1;1=23;00000000\nscan ABC\n", fresh);
    EXPECT_EQ(sendsOf(damaged), sendsOf(replay("scan ABC\n", fresh)));
    EXPECT_NE(damaged.find("damaged or cut short"), std::string::npos);
}

}  // namespace
}  // namespace qn::tools
