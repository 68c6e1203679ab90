// The shared decode checks, edits and RFID assembly, case by case.

#include "common/scan/decode_processing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "common/device/device.h"
#include "platform/services.h"

namespace qn::decode {
namespace {

using ::testing::ElementsAre;

std::string text(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}
std::span<const std::uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
template <std::size_t N>
Bytes<N> field(std::string_view s) {
    Bytes<N> f{};
    reader::storeText(f, s);
    return f;
}

// ---- checks

struct CheckCase {
    const char* name;
    std::string data;  // what the library wrote; its size is the reported length
    CheckSettings settings;
    CheckFailure failure;
    std::string result;
};

CheckSettings leading(std::string_view code) {
    CheckSettings s;
    s.checkLeadingCode = true;
    s.leadingCode = field<kLeadingCodeSize>(code);
    return s;
}
CheckSettings maxLength(std::uint8_t length) {
    CheckSettings s;
    s.checkCodeLength = true;
    s.codeLength = length;
    return s;
}
CheckSettings partial(std::uint8_t start, std::uint8_t maximum) {
    CheckSettings s;
    s.readPartialCode = true;
    s.startPosition = start;
    s.maximumLength = maximum;
    return s;
}

class CheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckTest, ChecksAndCuts) {
    const CheckCase& c = GetParam();
    std::vector<std::uint8_t> buffer(kVtRules.bufferSize, 0);
    std::copy(c.data.begin(), c.data.end(), buffer.begin());
    CheckResult result = checkBarcode(buffer, c.data.size(), c.settings);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(text(result.data), c.result);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Barcode, CheckTest, ::testing::Values(
    CheckCase{"NoChecks", "ABC", {}, CheckFailure::None, "ABC"},
    CheckCase{"LeadingMatches", "AB123", leading("AB"), CheckFailure::None, "AB123"},
    CheckCase{"LeadingMismatchLater", "AC123", leading("AB"), CheckFailure::LeadingCode, ""},
    CheckCase{"LeadingLongerThanData", "A", leading("AB"), CheckFailure::LeadingCode, ""},
    CheckCase{"LeadingOnEmptyData", "", leading("A"), CheckFailure::LeadingCode, ""},
    CheckCase{"EmptyLeadingAcceptsAll", "xyz", leading(""), CheckFailure::None, "xyz"},
    CheckCase{"LeadingFullWidth", std::string(41, 'L'), leading(std::string(40, 'L')),
              CheckFailure::None, std::string(41, 'L')},
    CheckCase{"LeadingMeetsZeroInData", std::string("A\0B", 3), leading("AB"),
              CheckFailure::LeadingCode, ""},
    CheckCase{"LengthEqualPasses", "0123456789", maxLength(10), CheckFailure::None, "0123456789"},
    CheckCase{"LengthOverFails", "0123456789A", maxLength(10), CheckFailure::Length, ""},
    CheckCase{"ShorterPasses", "1", maxLength(10), CheckFailure::None, "1"},
    CheckCase{"LengthZeroAcceptsOnlyEmpty", "1", maxLength(0), CheckFailure::Length, ""},
    CheckCase{"PartialMiddle", "ABCDEF", partial(3, 20), CheckFailure::None, "CDEF"},
    CheckCase{"PartialShortMaximum", "ABCDEF", partial(2, 3), CheckFailure::None, "BCD"},
    CheckCase{"PartialPastEndFails", "ABCDEF", partial(8, 20), CheckFailure::PartialCode, ""},
    CheckCase{"PartialJustPastEndEmpty", "ABCDEF", partial(7, 20), CheckFailure::None, ""},
    CheckCase{"PartialZeroMaximum", "ABCDEF", partial(1, 0), CheckFailure::None, ""},
    CheckCase{"PartialStartZeroIsFirst", "ABCDEF", partial(0, 2), CheckFailure::None, "AB"},
    CheckCase{"PartialStopsAtZero", std::string("AB\0CD", 5), partial(1, 20),
              CheckFailure::None, "AB"},
    CheckCase{"DataIsTextUpToZero", std::string("AB\0CD", 5), {}, CheckFailure::None, "AB"},
    // The checks run in order: leading code before length before partial code.
    CheckCase{"LeadingBeforeLength",  "XBCDEFGHIJKL", [] {
                  CheckSettings s = leading("A"); s.checkCodeLength = true; s.codeLength = 3;
                  return s; }(), CheckFailure::LeadingCode, ""},
    CheckCase{"LengthBeforePartial", "ABCDEF", [] {
                  CheckSettings s = partial(9, 3); s.checkCodeLength = true; s.codeLength = 3;
                  return s; }(), CheckFailure::Length, ""},
    CheckCase{"AllPass", "AB0123", [] {
                  CheckSettings s = leading("AB"); s.checkCodeLength = true; s.codeLength = 6;
                  s.readPartialCode = true; s.startPosition = 3; s.maximumLength = 2;
                  return s; }(), CheckFailure::None, "01"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(CheckBounds, ReportedLengthsAreBoundedToTheBuffer) {
    EXPECT_EQ(boundedLength(-5, 260), 0u);
    EXPECT_EQ(boundedLength(0, 260), 0u);
    EXPECT_EQ(boundedLength(259, 260), 259u);
    EXPECT_EQ(boundedLength(260, 260), 259u) << "room for the terminator";
    EXPECT_EQ(boundedLength(1 << 30, 300), 299u);
    EXPECT_EQ(boundedLength(5, 0), 0u);
}

TEST(CheckBounds, ALengthBeyondTheBufferReadsNothingOutside) {
    std::vector<std::uint8_t> buffer(4, 'A');
    CheckSettings s = partial(3, 255);
    CheckResult result = checkBarcode(buffer, 1000, s);
    EXPECT_EQ(result.failure, CheckFailure::None);
    EXPECT_EQ(text(result.data), "AA");
}

// A library that fills the whole buffer it is given and reports a chosen length.
struct FakeBarcode {
    static inline int reported = 0;
    static inline std::vector<std::string> calls;
    static int fill(unsigned char* buffer, int size) {
        std::fill_n(buffer, size, 'D');
        return reported;
    }
    static int outputRecord(int kind, unsigned char* buffer, int size) {
        calls.push_back("GetOutputRecord " + std::to_string(kind) + " " + std::to_string(size));
        return fill(buffer, size);
    }
    static int decodeData(unsigned char* buffer, int size) {
        calls.push_back("GetDecodeData " + std::to_string(size));
        return fill(buffer, size);
    }
};

struct FetchCase {
    ProgramRules rules;
    int reported;
    std::string call;
    std::size_t length;
};

class FetchTest : public ::testing::TestWithParam<FetchCase> {};

TEST_P(FetchTest, FetchesIntoTheProgramsBuffer) {
    const FetchCase& c = GetParam();
    FakeBarcode::reported = c.reported;
    FakeBarcode::calls.clear();
    reader::ReaderOperations ops;
    ops.GetOutputRecord = &FakeBarcode::outputRecord;
    ops.GetDecodeData = &FakeBarcode::decodeData;
    std::vector<std::uint8_t> buffer(3, 'x');
    EXPECT_EQ(readBarcode(ops, c.rules, buffer), c.length);
    EXPECT_THAT(FakeBarcode::calls, ElementsAre(c.call));
    ASSERT_EQ(buffer.size(), c.rules.bufferSize);
    EXPECT_EQ(buffer.back(), 0) << "the terminator survives a library that fills everything";
}

INSTANTIATE_TEST_SUITE_P(Programs, FetchTest,
                         ::testing::Values(FetchCase{kVtRules, 6, "GetOutputRecord 7 260", 6},
                                           FetchCase{kVtRules, 260, "GetOutputRecord 7 260", 259},
                                           FetchCase{kVtRules, -1, "GetOutputRecord 7 260", 0},
                                           FetchCase{kTnRules, 6, "GetDecodeData 300", 6},
                                           FetchCase{kTnRules, 5000, "GetDecodeData 300", 299}));

TEST(Fetch, UnboundOperationFetchesNothing) {
    std::vector<std::uint8_t> buffer{'x'};
    EXPECT_EQ(readBarcode(reader::ReaderOperations{}, kVtRules, buffer), 0u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(260, 0));
}

// ---- messages and the program differences

struct FailureCase {
    CheckFailure failure;
    ProgramRules rules;
    std::string text;
    bool vibrates;
};

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, ShowsTheProgramsMessage) {
    const FailureCase& c = GetParam();
    platform::MemoryRegistry registry{"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\n"};
    platform::FakeLibraryLoader loader;
    platform::RecordingMessageBoxes messages;
    platform::BlockingMessageQueue queue;
    platform::FakeClock clock;
    platform::RecordingSoundPlayer sound;
    platform::Services services{registry, loader, messages, queue, clock, sound, "/root"};
    static std::vector<int> vibratorCalls;
    vibratorCalls.clear();
    loader.add("/root/KX2CE_SYS.so", {{{"SetVibratorPower", platform::symbolAddress(+[](int on) {
                                            vibratorCalls.push_back(on);
                                            return 1;
                                        })}}});
    device::DeviceLayer device{services};
    ASSERT_TRUE(device.detectModel());

    reportFailure(c.failure, c.rules, messages, device, 3);
    if (c.text.empty()) {
        EXPECT_TRUE(messages.texts().empty());
    } else {
        EXPECT_THAT(messages.texts(), ElementsAre(c.text));
    }
    if (c.vibrates) {
        EXPECT_THAT(vibratorCalls, ElementsAre(1, 0));
        EXPECT_THAT(clock.sleeps(), ElementsAre(std::chrono::milliseconds(750)));
    } else {
        EXPECT_TRUE(vibratorCalls.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Programs, FailureTest,
    ::testing::Values(
        FailureCase{CheckFailure::LeadingCode, kVtRules, "Wrong Leading Code! ", false},
        FailureCase{CheckFailure::Length, kVtRules, "Wrong Length! ", false},
        FailureCase{CheckFailure::PartialCode, kVtRules, "Invalidation Setting!!!", false},
        FailureCase{CheckFailure::None, kVtRules, "", false},
        FailureCase{CheckFailure::LeadingCode, kTnRules, "Wrong Leading code! ", true},
        FailureCase{CheckFailure::Length, kTnRules, "Wrong Length! ", false},
        FailureCase{CheckFailure::PartialCode, kTnRules, "Invalidation Setting!!!", true},
        FailureCase{CheckFailure::None, kTnRules, "", false}));

// ---- replacement

struct ReplaceCase {
    std::string text, from, to, result;
};

class ReplaceTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceTest, NonOverlappingLeftToRight) {
    const ReplaceCase& c = GetParam();
    std::vector<std::uint8_t> out{'#'};  // appended to, not replaced
    replaceAll(bytes(c.text), bytes(c.from), bytes(c.to), out);
    EXPECT_EQ(text(out), "#" + c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ReplaceTest,
    ::testing::Values(ReplaceCase{"a-b-c", "-", "+", "a+b+c"}, ReplaceCase{"abc", "", "X", "abc"},
                      ReplaceCase{"xxABxxAB", "AB", "", "xxxx"},
                      ReplaceCase{"aaaa", "aa", "b", "bb"}, ReplaceCase{"aaa", "aa", "b", "ba"},
                      ReplaceCase{"aba", "a", "aa", "aabaa"}, ReplaceCase{"", "a", "b", ""},
                      ReplaceCase{"abc", "abcd", "X", "abc"},
                      ReplaceCase{"abc", "abc", "123456789", "123456789"}));

// ---- the edit pipeline

struct EditCase {
    const char* name;
    std::string data;
    EditSettings settings;
    std::string result;
};

EditSettings edits(std::function<void(EditSettings&)> change) {
    EditSettings s;
    change(s);
    return s;
}

class EditTest : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditTest, BuildsTheWholeResult) {
    const EditCase& c = GetParam();
    EditBuffers buffers;
    std::vector<std::uint8_t> out(500, 'Z');  // leftovers of an earlier, longer result
    editScan(bytes(c.data), c.settings, buffers, out);
    EXPECT_EQ(text(out), c.result);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Pipeline, EditTest, ::testing::Values(
    EditCase{"Nothing", "ABC", {}, "ABC"},
    EditCase{"Prefix", "ABC", edits([](auto& s) {
        s.prefixOn = true; s.prefixCode = field<40>("P>"); }), "P>ABC"},
    EditCase{"PrefixOffIgnoresText", "ABC", edits([](auto& s) {
        s.prefixCode = field<40>("P>"); s.suffixCode = field<40>("<S"); }), "ABC"},
    EditCase{"Suffix", "ABC", edits([](auto& s) {
        s.suffixOn = true; s.suffixCode = field<40>("<S"); }), "ABC<S"},
    EditCase{"EnterIsCr", "ABC", edits([](auto& s) { s.autoEnter = true; }), "ABC\r"},
    EditCase{"EnterInNewLineMode", "ABC", edits([](auto& s) {
        s.autoEnter = true; s.newLineMode = true; }), "ABC\r\n"},
    EditCase{"AllAround", "ABC", edits([](auto& s) {
        s.prefixOn = true; s.prefixCode = field<40>("["); s.suffixOn = true;
        s.suffixCode = field<40>("]"); s.autoEnter = true; }), "[ABC]\r"},
    EditCase{"EmptyDataStillFramed", "", edits([](auto& s) {
        s.prefixOn = true; s.prefixCode = field<40>("P"); s.autoEnter = true; }), "P\r"},
    EditCase{"FullWidthPrefixHasNoTerminator", "x", edits([](auto& s) {
        s.prefixOn = true; s.prefixCode = field<40>(std::string(40, 'p')); }),
             std::string(40, 'p') + "x"},
    // The second pair works on the first pair's result; prefix and suffix are not replaced.
    EditCase{"PairsInOrder", "a-b", edits([](auto& s) {
        s.replaceFrom1 = field<9>("-"); s.replaceTo1 = field<9>("=");
        s.replaceFrom2 = field<9>("="); s.replaceTo2 = field<9>("==");
        s.prefixOn = true; s.prefixCode = field<40>("-"); }), "-a==b"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(EditLimits, TheLargestGrowthIsSentWhole) {
    // Every byte of a full buffer grows to nine, then nine again, framed on both sides.
    const std::string data(kVtRules.bufferSize - 1, 'a');
    EditSettings s;
    s.replaceFrom1 = field<9>("a");
    s.replaceTo1 = field<9>("bbbbbbbbb");
    s.replaceFrom2 = field<9>("b");
    s.replaceTo2 = field<9>("ccccccccc");
    s.prefixOn = true;
    s.prefixCode = field<40>(std::string(40, '<'));
    s.suffixOn = true;
    s.suffixCode = field<40>(std::string(40, '>'));
    s.autoEnter = true;
    s.newLineMode = true;
    EditBuffers buffers;
    std::vector<std::uint8_t> out;
    editScan(bytes(data), s, buffers, out);
    ASSERT_EQ(out.size(), maxEditedLength(data.size()));
    EXPECT_EQ(text(out), std::string(40, '<') + std::string(data.size() * 81, 'c') +
                             std::string(40, '>') + "\r\n");
}

// ---- RFID

struct RfidCase {
    const char* name;
    std::string uid, userData;
    std::string delimiter;  // 9 bytes, zeros skipped
    std::string result;
};

class RfidAssemblyTest : public ::testing::TestWithParam<RfidCase> {};

TEST_P(RfidAssemblyTest, Assembles) {
    const RfidCase& c = GetParam();
    Bytes<reader::kRfidDelimiterSize> delimiter{};
    std::copy_n(c.delimiter.begin(), std::min<std::size_t>(c.delimiter.size(), 9),
                delimiter.begin());
    std::vector<std::uint8_t> out{'x', 'y'};
    assembleRfid(bytes(c.uid), bytes(c.userData), delimiter, out);
    EXPECT_EQ(text(out), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, RfidAssemblyTest,
    ::testing::Values(RfidCase{"UidOnly", "E004", "", std::string(9, '\0'), "E004"},
                      RfidCase{"Nothing", "", "", ",", ""},
                      RfidCase{"Both", "E004", "4869", std::string(",\0;", 3), "E004,;4869"},
                      RfidCase{"BothNoDelimiter", "E004", "4869", std::string(9, '\0'), "E0044869"},
                      RfidCase{"FullDelimiter", "U", "D", "123456789", "U123456789D"},
                      RfidCase{"DataWithoutUid", "", "4869", ",", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Fake library operations: they write what the case says and report a chosen length.
struct FakeRfid {
    static inline std::string uid, data;
    static inline int uidReported = 0, dataReported = 0;
    static inline std::vector<int> sizes;
    static inline std::vector<std::string> calls;
    static int write(const std::string& what, int reported, unsigned char* buffer, int size) {
        sizes.push_back(size);
        std::copy_n(what.begin(), std::min<std::size_t>(what.size(), std::size_t(size)), buffer);
        return reported;
    }
    static int readUid(unsigned char* b, int size) {
        calls.push_back("uid");
        return write(uid, uidReported, b, size);
    }
    static int readData(unsigned char* b, int size) {
        calls.push_back("data");
        return write(data, dataReported, b, size);
    }
};

struct ReadCase {
    const char* name;
    bool showUid, showData;
    int maximumLength;
    int uidReported, dataReported;
    std::vector<std::string> calls;
    std::string result;
};

class RfidReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RfidReadTest, ReadsWhatTheSettingsAskFor) {
    const ReadCase& c = GetParam();
    FakeRfid::uid = "E004A1B2";
    FakeRfid::data = "CAFE";
    FakeRfid::uidReported = c.uidReported;
    FakeRfid::dataReported = c.dataReported;
    FakeRfid::calls.clear();
    FakeRfid::sizes.clear();
    reader::ReaderOperations ops;
    ops.GetDecodeRfidUID = &FakeRfid::readUid;
    ops.GetDecodeRfidData = &FakeRfid::readData;
    RfidChoice choice{c.showUid, c.showData, c.maximumLength, field<9>("|")};
    std::vector<std::uint8_t> uid, data, out;
    readRfid(ops, choice, kVtRules, uid, data, out);
    EXPECT_EQ(FakeRfid::calls, c.calls);
    for (int size : FakeRfid::sizes)
        EXPECT_EQ(size, 260);
    EXPECT_EQ(text(out), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RfidReadTest,
    ::testing::Values(ReadCase{"Both", true, true, 16, 8, 4, {"uid", "data"}, "E004A1B2|CAFE"},
                      ReadCase{"UidOnly", true, false, 16, 8, 4, {"uid"}, "E004A1B2"},
                      ReadCase{"DataOnlySendsNothing", false, true, 16, 8, 4, {"data"}, ""},
                      ReadCase{"MaximumZeroSkipsData", true, true, 0, 8, 4, {"uid"}, "E004A1B2"},
                      ReadCase{"NegativeMaximum", true, true, -1, 8, 4, {"uid"}, "E004A1B2"},
                      ReadCase{"NoUidRead", true, true, 16, 0, 4, {"uid", "data"}, ""},
                      ReadCase{"NoDataRead", true, true, 16, 8, -1, {"uid", "data"}, "E004A1B2"},
                      ReadCase{
                          "ShortReportedLength", true, true, 16, 4, 2, {"uid", "data"}, "E004|CA"},
                      ReadCase{"HugeReportedLengthIsBounded",
                               true,
                               false,
                               16,
                               100000,
                               0,
                               {"uid"},
                               "E004A1B2" + std::string(251, '\0')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RfidRead, UnboundOperationsReadNothing) {
    reader::ReaderOperations ops;
    std::vector<std::uint8_t> uid, data, out{'x'};
    readRfid(ops, RfidChoice{true, true, 10, {}}, kTnRules, uid, data, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(uid.size(), kTnRules.bufferSize);
}

}  // namespace
}  // namespace qn::decode
