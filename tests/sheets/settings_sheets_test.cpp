// Both programs' settings sheets driven headless: what each page shows of the record, what OK
// stores, the checks with the framework's messages, the Barcode Reader page against the reader
// library's masks, the scanner dialogs and the save question.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "common/dialogs/char_entry_dialog.h"
#include "tests/sheets/sheet_test_support.h"
#include "tn5250/dialogs/tn_settings_sheet.h"
#include "tn5250/dialogs/tn_suffix_list.h"
#include "vt/dialogs/vt_settings_sheet.h"

namespace qn {
namespace {

using dialogs::BarcodeReaderPage;
using dialogs::DialogResult;
using dialogs::rowControlId;
using test::ScriptRunner;

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/qn-sheets-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

// A step that composes bytes in the byte-code picker, then OK.
ScriptRunner::Step pickBytes(std::string bytes) {
    return [bytes](dialogs::Dialog& d) {
        EXPECT_EQ(d.caption(), "The Grid Control");
        d.click(dialogs::CharEntryDialog::kClear);
        for (unsigned char b : bytes)
            d.clickCell(dialogs::CharEntryDialog::kGrid, b % 16, b / 16 + 1);
        return test::pressOk(d);
    };
}

std::string title(const dialogs::Dialog& d) {
    auto* picker = dynamic_cast<const dialogs::CharEntryDialog*>(&d);
    return picker ? picker->title() : d.caption();
}

struct Vt {
    explicit Vt(int readerType = 0x05, int active = 0x27) : reader(readerType, active) {
        session->settingsLoaded = 1;
        document.setDefaultSettings();
        // As the library's default block does: the devices active at start.
        session->settings.activeDeviceByte() = static_cast<std::uint8_t>(active);
        messages().clear();
    }
    platform::RecordingMessageBoxes& messages() { return reader.fakes.messages; }
    vt::VtSettings& s() { return session->settings; }
    dialogs::PropertySheet& open(bool connected = false) {
        sheet = std::make_unique<vt::VtSettingsSheet>(*session, document, reader.library,
                                                      messages(), "KX2CE", 1, connected);
        return sheet->open(context);
    }

    TempDir dir;
    test::MaskReader reader;
    std::unique_ptr<vt::VtSession> session = std::make_unique<vt::VtSession>();
    vt::VtDocument document{*session, reader.library, reader.fakes.messages, dir.path};
    ScriptRunner runner;
    dialogs::DialogContext context{reader.fakes.messages, runner, 1};
    std::unique_ptr<vt::VtSettingsSheet> sheet;
};

// OK on the whole sheet, then the save question answered `answer`; the questions asked.
template <class Program>
std::vector<std::string> okAndAnswer(Program& p, dialogs::PropertySheet& pages, bool answer) {
    std::vector<std::string> asked;
    const bool ok = pages.pressOk();
    p.sheet->finish(ok, [&](std::string_view text) {
        asked.emplace_back(text);
        return answer;
    });
    return asked;
}

TEST(VtSettingsSheet, PagesInOrder) {
    Vt t;
    dialogs::PropertySheet& pages = t.open();
    std::vector<std::string> captions;
    for (const dialogs::Dialog* page : pages.pages())
        captions.push_back(page->caption());
    EXPECT_EQ(captions, (std::vector<std::string>{"Telnet", "Barcode Reader", "Function Key Maping",
                                                  "Screen"}));
    EXPECT_TRUE(okAndAnswer(t, pages, false).empty()) << "OK without changes asks nothing";
}

TEST(CDlgVTTelnet, FieldsOnOpenAndOk) {
    using P = vt::CDlgVTTelnet;
    Vt t;
    reader::storeText(t.s().hostAddress, "warehouse-host-01234");  // 20: no terminator
    t.s().fontWidth = 7, t.s().fontHeight = 14;
    t.s().autoConnect = 1;
    t.s().autoFullScreen.set(1);
    auto& pages = t.open();
    vt::CDlgVTTelnet& page = t.sheet->telnet();
    EXPECT_EQ(page.control(P::kHost).text, "warehouse-host-01234");
    EXPECT_EQ(page.control(P::kPort).text, "23");
    EXPECT_EQ(page.control(P::kFontSize).selected, -1) << "7x14 is not in the list";
    EXPECT_TRUE(page.control(P::kAutoFullScreen).enabled);
    EXPECT_TRUE(page.control(P::kAutoFullScreen).checked);
    EXPECT_TRUE(page.control(P::kTerminal).enabled);
    EXPECT_FALSE(page.control(P::kSessionSelect).visible);
    EXPECT_EQ(page.control(P::kSessionSelect).items.front(), "warehouse-host-01234");

    page.setText(P::kPort, "65559");  // low 16 bits: 23
    page.setText(P::kLoginName, "picker7");
    page.click(P::kAutoConnect);
    EXPECT_FALSE(page.control(P::kAutoFullScreen).enabled);
    EXPECT_FALSE(page.control(P::kAutoFullScreen).checked);
    const auto asked = okAndAnswer(t, pages, false);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(t.s().telnetPort.get(), 23);
    EXPECT_EQ(reader::fixedText(t.s().loginName), "picker7");
    EXPECT_EQ(t.s().autoConnect, 0);
    EXPECT_EQ(t.s().autoFullScreen.get(), 0);
    EXPECT_EQ(t.s().fontWidth, 7) << "no size selected: the stored one stays";
    EXPECT_EQ(t.s().fontHeight, 14);
    EXPECT_EQ(t.s().hostAddress.back(), '4');

    // Reopened: the 20-character host comes back whole; "10x20" stores its cell.
    auto& again = t.open();
    EXPECT_EQ(t.sheet->telnet().control(P::kHost).text, "warehouse-host-01234");
    t.sheet->telnet().select(P::kFontSize, 4);
    okAndAnswer(t, again, false);
    EXPECT_EQ(t.s().fontWidth, 10);
    EXPECT_EQ(t.s().fontHeight, 20);
}

TEST(CDlgVTTelnet, RefusalsKeepTheSheetOpenAndStoreNothing) {
    using P = vt::CDlgVTTelnet;
    struct Case {
        int control;
        std::string text, message;
    };
    const std::vector<Case> cases{
        {P::kPort, "23a", "Enter an integer."},
        {P::kTerminal, std::string(30, 'x'), "Enter no more than 29 characters."},
        {P::kHost, std::string(21, 'h'), "Enter no more than 20 characters."},
        {P::kLoginName, std::string(21, 'n'), "Enter no more than 20 characters."},
    };
    for (const Case& c : cases) {
        Vt t;
        auto& pages = t.open();
        t.sheet->telnet().setText(P::kLoginPrompt, "user:");
        t.sheet->telnet().setText(c.control, c.text);
        EXPECT_FALSE(pages.pressOk()) << c.message;
        EXPECT_EQ(t.messages().texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(reader::fixedText(t.s().loginPrompt), "login:") << "nothing stored";
    }
    Vt t;
    auto& pages = t.open();
    t.sheet->telnet().setText(P::kTerminal, std::string(29, 'x'));
    EXPECT_TRUE(pages.pressOk());
    EXPECT_EQ(reader::fixedText(t.s().terminalType), std::string(29, 'x'));
}

TEST(CDlgVTTelnet, TerminalOfferedOnlyWithoutConnection) {
    Vt t;
    t.open(true);
    EXPECT_FALSE(t.sheet->telnet().control(vt::CDlgVTTelnet::kTerminal).enabled);
    t.sheet->telnet().click(vt::CDlgVTTelnet::kAutoConnect);
    EXPECT_FALSE(t.sheet->telnet().control(vt::CDlgVTTelnet::kTerminal).enabled);
}

TEST(CDlgVTTelnet, MacroFrameThroughThePicker) {
    Vt t;
    auto& pages = t.open();
    t.runner.steps.push_back(pickBytes("\x1b[1;2HABCD"));  // 10 bytes, the limit
    t.sheet->telnet().focus(vt::CDlgVTTelnet::kMacroFrame);
    EXPECT_EQ(t.runner.shown, std::vector<std::string>{"The Grid Control"});
    EXPECT_EQ(t.sheet->telnet().control(vt::CDlgVTTelnet::kMacroFrame).text,
              "ESC [ 1 ; 2 H A B C D ");
    EXPECT_EQ(t.s().macroFrame[0], 0) << "the page writes on OK";
    okAndAnswer(t, pages, false);
    EXPECT_EQ(std::string(t.s().macroFrame.begin(), t.s().macroFrame.end()), "\x1b[1;2HABCD");
}

// --- Barcode Reader page

struct PageCase {
    const char* name;
    int readerType, active;
    std::vector<int> enabled;  // the page's controls in order (Barcode ... Advanced)
};

std::vector<int> enabledOf(BarcodeReaderPage& page) {
    std::vector<int> out;
    for (int id = BarcodeReaderPage::kBarcode; id <= BarcodeReaderPage::kAdvanced; id += 10)
        out.push_back(page.control(id).enabled ? 1 : 0);
    return out;
}

TEST(BarcodeReaderPage, EnablingAndTogglesThroughTheLibrary) {
    const std::vector<PageCase> cases{
        {"long-range only", 0x02, 0x07, {1, 0, 0, 1, 0, 0, 1}},
        {"1D + 2D + RFID", 0x105, 0x27, {1, 1, 1, 0, 1, 1, 1}},
    };
    for (const PageCase& c : cases) {
        Vt t(c.readerType, c.active);
        t.open();
        EXPECT_EQ(enabledOf(t.sheet->barcodeReader()), c.enabled) << c.name;
    }
    // Clearing "Barcode Reader" disables every engine button; Advanced stays for RFID.
    Vt t(0x105, 0x27);
    auto& pages = t.open();
    BarcodeReaderPage& page = t.sheet->barcodeReader();
    page.click(BarcodeReaderPage::kBarcode);
    EXPECT_EQ(test::gSetActiveDevice, std::vector<int>{0x20});
    EXPECT_FALSE(page.control(BarcodeReaderPage::kBarcode).checked);
    EXPECT_EQ(enabledOf(page), (std::vector<int>{1, 1, 0, 0, 0, 1, 1}));
    EXPECT_EQ(t.s().barcodeReaderOn, 0) << "the toggle flips the flag at once";
    page.click(BarcodeReaderPage::kRfid);
    EXPECT_EQ(enabledOf(page), (std::vector<int>{1, 1, 0, 0, 0, 0, 0}));
    page.click(BarcodeReaderPage::kBarcode);
    EXPECT_EQ(test::gSetActiveDevice, (std::vector<int>{0x20, 0x00, 0x07}));
    okAndAnswer(t, pages, false);
    EXPECT_EQ(t.s().activeDeviceByte(), 0x07);
    EXPECT_EQ(t.s().barcodeReaderOn, 1);
    EXPECT_EQ(t.s().rfidReaderOn, 0);
}

TEST(BarcodeReaderPage, LongRangeLaserDoesNothing) {
    Vt t(0x02, 0x07);
    t.open();
    t.sheet->barcodeReader().click(BarcodeReaderPage::kLongRange);
    t.sheet->barcodeReader().click(BarcodeReaderPage::kOneD);  // disabled
    EXPECT_TRUE(t.runner.shown.empty());
}

TEST(BarcodeReaderPage, EngineButtonsOpenTheFamilyOfTheReaderType) {
    struct Case {
        int readerType;
        int button;
        const char* caption;
    };
    for (const Case& c : std::vector<Case>{{0x05, BarcodeReaderPage::kOneD, "950 Setting"},
                                           {0x85, BarcodeReaderPage::kOneD, "955 Setting"},
                                           {0x05, BarcodeReaderPage::kTwoD, "4407 Setting"},
                                           {0x45, BarcodeReaderPage::kTwoD, "4507 Setting"}}) {
        Vt t(c.readerType, 0x07);
        t.open();
        t.sheet->barcodeReader().click(c.button);
        EXPECT_EQ(t.runner.shown, std::vector<std::string>{c.caption});
    }
}

// --- Scanner dialogs

TEST(VtAdvancedBarcodeSettings, EnablingTextsAtOnceAndRanges) {
    Vt t;
    t.s().feedbackByCmd = 0;
    t.open();
    // Prefix ticked and entered, then the dialog cancelled: the prefix stays.
    t.runner.steps.push_back([&](dialogs::Dialog& d) {
        const int prefixCheck = rowControlId(9), prefixText = rowControlId(10);
        EXPECT_FALSE(d.control(prefixText).enabled);
        d.click(prefixCheck);
        EXPECT_TRUE(d.control(prefixText).enabled);
        t.runner.steps.push_front(pickBytes("AB\t"));
        d.focus(prefixText);
        EXPECT_EQ(d.control(prefixText).text, "A B HT ");
        // Out of range: the framework's message, the dialog stays open.
        d.click(rowControlId(3));
        d.setText(rowControlId(4), "51");
        EXPECT_FALSE(d.pressOk());
        d.pressCancel();
        return DialogResult::Cancel;
    });
    t.sheet->barcodeReader().click(BarcodeReaderPage::kAdvanced);
    EXPECT_EQ(reader::fixedText(t.s().prefixCode), "AB\t");
    EXPECT_EQ(t.s().prefixOn, 0) << "the check box is stored on OK only";
    EXPECT_EQ(t.messages().texts(), std::vector<std::string>{"Enter an integer between 1 and 50."});
    EXPECT_EQ(t.runner.shown,
              (std::vector<std::string>{"Advanced Barcode Settings", "The Grid Control"}));
}

TEST(VtAdvancedBarcodeSettings, FeedbackControlRuleAndLists) {
    Vt t;
    t.s().scanVibrator.set(14);
    t.open();
    t.runner.steps.push_back([&](dialogs::Dialog& first) {
        t.runner.steps.push_front([&](dialogs::Dialog& d) {
            const int scanBeeper = rowControlId(5), scanVibrator = rowControlId(6);
            const int byCommand = rowControlId(7), goodCommand = rowControlId(9);
            const int goodBeeper = rowControlId(10);
            EXPECT_EQ(d.control(scanVibrator).selected, 10) << "above 10 shows as 10";
            EXPECT_EQ(d.control(scanBeeper).items.front(), "Mute");
            EXPECT_TRUE(d.control(scanBeeper).enabled);
            EXPECT_FALSE(d.control(goodCommand).enabled);
            d.click(byCommand);
            EXPECT_FALSE(d.control(scanBeeper).enabled);
            EXPECT_FALSE(d.control(scanVibrator).enabled);
            EXPECT_TRUE(d.control(goodCommand).enabled);
            EXPECT_TRUE(d.control(goodBeeper).enabled);
            d.click(rowControlId(2));  // "Ctrl by ESC cmd"
            EXPECT_FALSE(d.control(scanBeeper).enabled) << "the rule holds after a radio click";
            d.select(goodBeeper, 9);
            EXPECT_FALSE(d.control(rowControlId(16)).visible) << "the spare command is hidden";
            return test::pressOk(d);
        });
        EXPECT_EQ(first.caption(), "Advanced Barcode Settings");
        first.click(rowControlId(18));  // "more"
        return test::pressOk(first);
    });
    t.sheet->barcodeReader().click(BarcodeReaderPage::kAdvanced);
    EXPECT_EQ(t.s().feedbackByCmd, 1);
    EXPECT_EQ(t.s().triggerByEscCmd, 1);
    EXPECT_EQ(t.s().goodBeeper.get(), 9);
    EXPECT_EQ(t.s().scanVibrator.get(), 10);
}

TEST(RfidDialog, CoupledBoxesAndHiddenControls) {
    Vt t(0x105, 0x27);
    t.s().rfid.showRfidUid.set(0);
    t.s().rfid.showRfidUserData.set(0);
    t.s().rfid.rfidDecodeTimeout.set(3);
    t.open();
    t.runner.steps.push_back([&](dialogs::Dialog& d) {
        EXPECT_EQ(d.caption(), "RFID");
        EXPECT_FALSE(d.control(rowControlId(2)).enabled);
        for (int row : {6, 7, 8, 9})
            EXPECT_FALSE(d.control(rowControlId(row)).visible) << row;
        d.click(rowControlId(1));  // "Display RFID user data" alone
        EXPECT_TRUE(d.control(rowControlId(0)).checked);
        EXPECT_TRUE(d.control(rowControlId(2)).enabled);
        d.setText(rowControlId(3), "16");
        return test::pressOk(d);
    });
    t.sheet->barcodeReader().click(BarcodeReaderPage::kRfidSettings);
    EXPECT_EQ(t.s().rfid.showRfidUid.get(), 1);
    EXPECT_EQ(t.s().rfid.showRfidUserData.get(), 1);
    EXPECT_EQ(t.s().rfid.rfidMaximumLength.get(), 16);
    EXPECT_EQ(t.s().rfid.rfidDecodeTimeout.get(), 3);

    t.runner.steps.push_back([&](dialogs::Dialog& d) {
        d.click(rowControlId(0));  // clearing the UID clears the user data
        EXPECT_FALSE(d.control(rowControlId(1)).checked);
        EXPECT_FALSE(d.control(rowControlId(5)).enabled);
        return test::pressOk(d);
    });
    t.sheet->barcodeReader().click(BarcodeReaderPage::kRfidSettings);
    EXPECT_EQ(t.s().rfid.showRfidUserData.get(), 0);
}

TEST(ScannerDialogs, PickerCaptionsAndLimits) {
    // Every code text of the scanner dialogs opens the picker under its caption and limit.
    struct Case {
        const char* dialog;
        int row;
        const char* title;
        std::size_t limit;
    };
    const std::vector<Case> cases{
        {"CDlgVTAdvanced", 2, "Leading Code", 9},
        {"CDlgVTAdvanced", 10, "Prefix Code", 9},
        {"CDlgVTAdvanced", 12, "Suffix Code", 9},
        {"CDlgVTAdvanced", 14, "Char replace", 8},
        {"CDlgVTAdvanced", 17, "Char replace", 8},
        {"CDlgVTAdvancedMore", 3, "Enable Command", 45},
        {"CDlgVTAdvancedMore", 4, "Disable Command", 45},
        {"CDlgVTAdvancedMore", 9, "Good FeedBack Command", 45},
        {"CDlgVTAdvancedMore", 13, "Error Feedback Command", 45},
        {"CDlgRfid", 5, "Field delimiter", 1},
    };
    for (const Case& c : cases) {
        Vt t;
        t.open();
        dialogs::TableDialog d(*vt::vtScannerTable(c.dialog), t.sheet->environment());
        d.open(t.context);
        // The check boxes that enable the texts.
        const std::string name = c.dialog;
        for (int row : name == "CDlgVTAdvanced"       ? std::vector{1, 9, 11}
                       : name == "CDlgVTAdvancedMore" ? std::vector{7}
                                                      : std::vector{1})
            d.setChecked(rowControlId(row), true);
        std::string seen;
        t.runner.steps.push_back([&](dialogs::Dialog& picker) {
            seen = title(picker);
            picker.click(dialogs::CharEntryDialog::kClear);
            for (std::size_t i = 0; i <= c.limit; ++i)
                picker.clickCell(dialogs::CharEntryDialog::kGrid, 1, 5);  // 'A'
            return test::pressOk(picker);
        });
        d.focus(rowControlId(c.row));
        EXPECT_EQ(seen, c.title) << c.dialog << " row " << c.row;
        EXPECT_EQ(t.messages().texts(), std::vector<std::string>{"Too many characters"}) << c.title;
    }
}

TEST(SetConfigFileDialog, BrowsedPathGetsTheFourthLetterOfEachProgram) {
    Vt vt;
    struct Tn5250 {
        TempDir dir;
        tn::TnSessionState state;
    } tn5250;
    tn::TnDocument tnDocument{tn5250.state, vt.reader.library, vt.messages(), tn5250.dir.path};
    for (auto [chosen, expected] :
         {std::pair{vt.document.browsedPath("/data/site.qnv"), "/data/site.qnvt"},
          std::pair{tnDocument.browsedPath("/data/site.qnt"), "/data/site.qntn"},
          std::pair{tnDocument.browsedPath("/data/site.txt"), "/data/site.txt"}}) {
        dialogs::SetConfigFileDialog d("/cfg/now", [&] { return std::optional(chosen); });
        d.open(vt.context);
        EXPECT_EQ(d.path(), "/cfg/now");
        d.click(dialogs::SetConfigFileDialog::kBrowse);
        EXPECT_EQ(d.path(), expected);
    }
}

// --- The 5250 sheet

struct Tn {
    explicit Tn(int readerType = 0x05, int active = 0x27) : reader(readerType, active) {
        state.settingsLoaded = 1;
        document.applyDefaults();
        state.settings.activeDeviceByte() = static_cast<std::uint8_t>(active);
        messages().clear();
    }
    platform::RecordingMessageBoxes& messages() { return reader.fakes.messages; }
    tn::TnSession& r() { return state.settings; }
    dialogs::PropertySheet& open() {
        sheet = std::make_unique<tn::TnSettingsSheet>(state, document, reader.library, messages());
        return sheet->open(context);
    }

    TempDir dir;
    test::MaskReader reader;
    tn::TnSessionState state;
    tn::TnDocument document{state, reader.library, reader.fakes.messages, dir.path};
    ScriptRunner runner;
    dialogs::DialogContext context{reader.fakes.messages, runner, 1};
    std::unique_ptr<tn::TnSettingsSheet> sheet;
};

TEST(TnSettingsSheet, PagesInOrderAndNothingAskedWithoutChanges) {
    Tn t;
    auto& pages = t.open();
    std::vector<std::string> captions;
    for (const dialogs::Dialog* page : pages.pages())
        captions.push_back(page->caption());
    EXPECT_EQ(captions, (std::vector<std::string>{"Host", "Others", "Barcode Reader", "Screen"}));
    EXPECT_EQ(t.sheet->barcodeReader().control(BarcodeReaderPage::kRfidSettings).text,
              "RFID Settings");
    EXPECT_TRUE(okAndAnswer(t, pages, false).empty());
}

TEST(CDlgTNHost, ChecksWithTheFrameworkMessages) {
    using P = tn::CDlgTNHost;
    struct Case {
        int control;
        std::string text;
        std::string message;  // empty: accepted
    };
    const std::vector<Case> cases{
        {P::kPort, "65536", "Enter an integer between 0 and 65535."},
        {P::kPort, "0", ""},
        {P::kPort, "-1", "Enter an integer between 0 and 65535."},
        {P::kPort, "x", "Enter an integer."},
        {P::kHost, std::string(25, 'h'), "Enter no more than 24 characters."},
        {P::kHost, std::string(24, 'h'), ""},
        {P::kLoginName, std::string(21, 'n'), "Enter no more than 20 characters."},
        {P::kDeviceName, std::string(11, 'd'), "Enter no more than 10 characters."},
    };
    for (const Case& c : cases) {
        Tn t;
        auto& pages = t.open();
        t.sheet->host().click(P::kOwnDeviceName);
        t.sheet->host().setText(c.control, c.text);
        EXPECT_EQ(pages.pressOk(), c.message.empty()) << c.text;
        EXPECT_EQ(t.messages().texts(), c.message.empty() ? std::vector<std::string>{}
                                                          : std::vector<std::string>{c.message});
    }
    Tn t;
    auto& pages = t.open();
    t.sheet->host().setText(P::kHost, std::string(24, 'h'));
    t.sheet->host().setText(P::kPort, "0");
    ASSERT_TRUE(pages.pressOk());
    EXPECT_EQ(reader::fixedText(t.r().hostAddress), std::string(24, 'h'));
    EXPECT_EQ(t.r().hostAddress[24], 0) << "ends with a zero inside the 50-byte field";
    EXPECT_EQ(t.r().telnetPort.get(), 0);
}

TEST(CDlgTNHost, DeviceNameAndAutoFullScreen) {
    using P = tn::CDlgTNHost;
    Tn t;
    t.r().useDeviceName = 1;
    reader::storeText(t.r().deviceName, "DOCK7");
    t.r().autoConnect = 1;
    t.r().autoFullScreen.set(1);
    auto& pages = t.open();
    tn::CDlgTNHost& page = t.sheet->host();
    EXPECT_TRUE(page.control(P::kOwnDeviceName).checked);
    EXPECT_TRUE(page.control(P::kDeviceName).enabled);
    EXPECT_EQ(page.control(P::kDeviceName).text, "DOCK7");
    page.click(P::kSystemDeviceName);
    EXPECT_FALSE(page.control(P::kDeviceName).enabled);
    EXPECT_EQ(page.control(P::kDeviceName).text, "DOCK7");
    page.click(P::kAutoConnect);
    EXPECT_FALSE(page.control(P::kAutoFullScreen).enabled);
    ASSERT_TRUE(pages.pressOk());
    EXPECT_EQ(t.r().useDeviceName, 0);
    EXPECT_EQ(reader::fixedText(t.r().deviceName), "DOCK7") << "kept while disabled";
    EXPECT_EQ(t.r().autoConnect, 0);
    EXPECT_EQ(t.r().autoFullScreen.get(), 0);
}

TEST(CDlgTNOther, FontFallsBackToTheFirstSize) {
    Tn t;
    t.r().fontWidth = 7, t.r().fontHeight = 14;
    t.r().overLengthRule = 2;
    t.r().language = 4;
    auto& pages = t.open();
    tn::CDlgTNOther& page = t.sheet->others();
    EXPECT_EQ(page.control(tn::CDlgTNOther::kFontSize).selected, 0);
    EXPECT_EQ(page.control(tn::CDlgTNOther::kFontSize).items.front(), "5x10");
    EXPECT_TRUE(page.control(tn::CDlgTNOther::kSplit).checked);
    EXPECT_EQ(page.control(tn::CDlgTNOther::kLanguage).selected, 4);
    page.click(tn::CDlgTNOther::kTruncate);
    okAndAnswer(t, pages, false);
    EXPECT_EQ(t.r().fontWidth, 5);
    EXPECT_EQ(t.r().fontHeight, 10);
    EXPECT_EQ(t.r().overLengthRule, 1);
}

TEST(TnAdvancedBarcodeSettings, SuffixListsPartialCodeAndAlarms) {
    Tn t;
    t.r().lastFieldSuffix = 100;  // a code without an entry
    t.r().otherFieldSuffix = tn::suffixCodeAt(46 + 'A');
    t.open();
    t.runner.steps.push_back([&](dialogs::Dialog& d) {
        const int last = rowControlId(11), other = rowControlId(12);
        EXPECT_EQ(d.control(last).selected, -1);
        EXPECT_EQ(d.control(other).items[std::size_t(d.control(other).selected)], "A");
        EXPECT_FALSE(d.control(rowControlId(10)).visible);
        d.setChecked(rowControlId(5), true);
        d.setText(rowControlId(6), "0");
        d.setText(rowControlId(7), "1");
        t.runner.steps.push_front([](dialogs::Dialog& more) {
            EXPECT_EQ(more.control(rowControlId(6)).items.back(), "Sound9");
            more.select(rowControlId(9), 7);
            return test::pressOk(more);
        });
        d.click(rowControlId(13));  // "More"
        return test::pressOk(d);
    });
    t.sheet->barcodeReader().click(BarcodeReaderPage::kAdvanced);
    EXPECT_EQ(t.r().lastFieldSuffix, 100) << "kept";
    EXPECT_EQ(t.r().otherFieldSuffix, 127 + 'A');
    EXPECT_EQ(t.r().readPartialCode, 1);
    EXPECT_EQ(t.r().startPosition, 1) << "below 2 is stored as 1";
    EXPECT_EQ(t.r().maximumLength, 1);
    EXPECT_EQ(t.r().errorVibrator.get(), 7);
}

}  // namespace
}  // namespace qn
