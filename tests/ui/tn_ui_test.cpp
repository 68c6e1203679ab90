// The 5250 program's windows under the offscreen platform against a scripted 5250 host on
// 127.0.0.1: start-up and its messages, the menus, the pixels of each display kind and of the
// caret, the cursor-tracking scroll at both screen sizes, stylus taps and the mandatory check,
// keys, characters and a scan reaching the wire as the host reads them, the key panel, and
// screenshots of both sizes and of the three keyboard dialogs.

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QMenuBar>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/device/virtual_keys.h"
#include "common/reader/record_fields.h"
#include "common/reader/settings_files.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/test_support.h"
#include "tests/support/loopback_host.h"
#include "tests/tn5250/tn_test_support.h"
#include "tests/ui/ui_test_support.h"
#include "tn5250/dialogs/tn_key_dialogs.h"
#include "tn5250/settings/tn_key_map.h"
#include "tools/quillnet-demohost/demo_host.h"
#include "ui/dialog_window.h"
#include "ui/tn_application.h"

namespace qn::ui {
namespace {

using namespace std::chrono_literals;
using namespace test_support;
using tn::test::Bytes;
using tn::test::join;
using tn::test::record;
using tn::test::reply;
using tn::test::replyBody;
using tn::test::sba;
using tn::test::sf;
using tn::test::wtd;
namespace cmd = tn::command;

constexpr const char* kRegistry = "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\nName=KX2CE\n";
const Bytes kReadMdtFields{0x04, 0x52, 0x00, 0x08};

struct Program {
    explicit Program(QSize size = {240, 320}, const char* registry = kRegistry,
                     bool withReader = true)
        : s(prepareRoot(root.path(), withReader), registry),
          app(s.services, s.queue, nullptr, {home.path(), size, uniqueInstanceName()}) {}

    bool start() { return !app.start().has_value(); }
    CQuillNetTNFrom& frame() { return *app.frame(); }
    CQuillNetTNView& view() { return app.frame()->view(); }
    tn::TnProgram& program() { return *app.program(); }

    template <class Change>
    auto session(Change change) {
        std::lock_guard lock(program().sessionLock());
        return change(program().session());
    }
    template <class Read>
    auto screen(Read read) {
        std::lock_guard lock(program().sessionLock());
        return read(program().screen());
    }
    void connectTo(test::LoopbackHost& host) {
        session([&](tn::TnSession& s) {
            reader::storeText(s.hostAddress, "127.0.0.1");
            s.telnetPort.set(host.port());
        });
        program().transport().connectSession();
    }
    // The host's record, waited for until the model shows its marker cell.
    void show(test::LoopbackHost& host, const Bytes& body, int row, int column, char marker) {
        host.send(record(body));
        ASSERT_TRUE(eventually([&] {
            return screen([&](const tn::TnScreen& m) { return m.charAt(row, column); }) == marker;
        }));
        settle();
    }
    QPoint cursor() {
        return screen([](const tn::TnScreen& m) { return QPoint(m.state.column, m.state.row); });
    }
    tn::FieldEntry field(int index) {
        return screen([&](const tn::TnScreen& m) { return m.fields.entries()[index]; });
    }
    void tap(int row, int column) {
        const int x = column * view().cellWidth() - view().horizontalScrollBar()->value() + 1;
        const int y = row * view().rowPitch() - view().verticalScrollBar()->value() + 1;
        QTest::mouseClick(view().viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    }
    QImage grabView() { return view().viewport()->grab().toImage(); }

    test::TempDir root;
    test::TempDir home;
    UiServices s;
    TnApplication app;
};

TEST(TnView, LocalBytesAreDrawnInTheLanguagesCodePage) {
    struct Case {
        std::uint8_t language;
        Bytes bytes;
        std::u16string text;
        std::vector<int> cells;
        bool wide;
    };
    const Case cases[] = {
        {0, {0x00, 'A', 0x80, 0xE9}, u" A\u20AC\u00E9", {0, 1, 2, 3}, false},
        {6, {0x81, 'z'}, u"\u00B7z", {0, 1}, false},                // a byte CP1252 lacks
        {5, {0xE1, 0xC9}, u"\u03B1\u0399", {0, 1}, false},          // Greek
        {1, {'a', 0xA4, 0x40, 'b'}, u"a\u4E00b", {0, 1, 3}, true},  // Big5
        {4, {0x88, 0x9F, 0xB1}, u"\u4E9C\uFF71", {0, 2}, true},     // Shift-JIS, half-width
        {1, {'a', 0xA4}, u"a\u00B7", {0, 1}, false},  // a lead byte cut off by the run's end
    };
    for (const auto& c : cases) {
        const LocalText shown = localText(c.language, c.bytes.data(), int(c.bytes.size()));
        EXPECT_EQ(shown.text, QString::fromStdU16String(c.text)) << int(c.language);
        EXPECT_EQ(shown.cells, c.cells) << int(c.language);
        EXPECT_EQ(shown.wide, c.wide) << int(c.language);
    }
}

TEST(TnView, RedrawRequestsFromTheReadThreadCoalesce) {
    Program p;
    ASSERT_TRUE(p.start());
    settle();
    struct PaintCounter final : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    p.view().viewport()->installEventFilter(&counter);
    // A host sending a byte per receive: thousands of requests before the UI thread runs.
    std::thread reader([&] {
        for (int i = 0; i < 5000; ++i)
            p.view().chunkReceived();
    });
    reader.join();
    settle();
    EXPECT_GE(counter.paints, 1);
    EXPECT_LE(counter.paints, 2);
    p.view().viewport()->removeEventFilter(&counter);
}

TEST(TnStartup, EndsAtTheFirstMissingPieceWithItsMessage) {
    struct Case {
        const char* registry;
        bool withReader;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"", true, {}},
        {"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=ZZ9\n", true, {}},
        {kRegistry, false, {"Can't find the dll file !!"}},
    };
    for (const auto& c : cases) {
        Program p({240, 320}, c.registry, c.withReader);
        auto code = p.app.start();
        ASSERT_TRUE(code.has_value()) << c.registry;
        EXPECT_NE(*code, 0);
        EXPECT_EQ(p.app.frame(), nullptr);
        EXPECT_EQ(p.s.messages.texts(), c.messages);
    }
}

TEST(TnStartup, ShowsTheWindowWithTheProgramsNamesAndCommands) {
    Program p({480, 640});
    ASSERT_TRUE(p.start());
    EXPECT_TRUE(p.s.messages.texts().empty());
    EXPECT_EQ(p.frame().windowTitle(), "QuillNetTN");
    EXPECT_EQ(p.frame().size(), QSize(480, 640));
    EXPECT_EQ(p.program().device().screenMode(), 2);
    EXPECT_EQ(p.program().state().settingsLoaded, 0) << "no settings file";
    QStringList menus;
    for (QAction* menu : p.frame().menuBar()->actions()) {
        menus << menu->text();
        for (QAction* item : menu->menu()->actions())
            menus << QStringLiteral("  %1 %2").arg(item->text()).arg(item->data().toUInt(), 0, 16);
    }
    EXPECT_EQ(menus, QStringList({"File", "  Configure 8007", "  Open 8010", "  Save  e103",
                                  "  Save &As... e104", "  E&xit e141", "  Set Config File... 801c",
                                  "Telnet", "  &Connect 8004", "  Disconnect 8005", "  TNKey 8009",
                                  "Help", "  &About QuillNetTN... e140"}));
    EXPECT_EQ(p.frame().trayIcon()->toolTip(), "QuillNetTN");
    EXPECT_EQ(p.frame().trayMenu()->title(), "QuillTN");
    EXPECT_EQ(p.app.layout().fileFilter, "Qntn Files (*.qntn)");
    ASSERT_EQ(p.app.aboutLines().size(), 2);
    EXPECT_EQ(p.app.aboutLines()[0], "QuillNetTN (V 3.031)");
    EXPECT_TRUE(p.app.aboutLines()[1].startsWith("Reader Dll Ver: "));
    // The key panel is offered without a connection; full screen is not.
    EXPECT_TRUE(p.frame().action(cmd::kTnKey)->isEnabled());
    EXPECT_FALSE(p.frame().action(cmd::kFullScreen)->isEnabled());
    EXPECT_FALSE(p.frame().action(cmd::kDisconnect)->isEnabled());
}

TEST(TnStartup, ConnectsThenEntersFullScreenAsTheDocumentSays) {
    test::LoopbackHost host;
    Program p;
    auto document = std::make_unique<tn::TnSession>();
    reader::storeText(document->hostAddress, "127.0.0.1");
    document->telnetPort.set(host.port());
    document->fontHeight = 16;
    document->fontWidth = 8;
    document->autoConnect = 1;
    document->autoFullScreen.set(1);
    document->fullScreenOn.set(1);
    const auto paths = reader::documentPaths(p.home.path(), tn::kTnProgramName, tn::kTnExtension);
    test::writeFile(paths.defaultSettingsPath,
                    std::string(reinterpret_cast<const char*>(document->bytes().data()),
                                document->bytes().size()));
    ASSERT_TRUE(p.start());
    EXPECT_TRUE(host.waitForClient());
    EXPECT_TRUE(p.program().connected());
    EXPECT_TRUE(p.frame().fullScreenOn());
    EXPECT_TRUE(p.frame().menuBar()->isHidden());
    EXPECT_EQ(p.program().state().settingsLoaded, 1);
}

TEST(TnView, DrawsEachDisplayKindAndTheCaret) {
    Program p;
    ASSERT_TRUE(p.start());
    settle();
    EXPECT_EQ(darkPixels(p.grabView(), p.view().viewport()->rect()), 0) << "nothing unconnected";
    test::LoopbackHost host;
    p.connectTo(host);
    ASSERT_TRUE(host.waitForClient());
    EXPECT_TRUE(QFontInfo(p.view().viewFont()).fixedPitch());
    ASSERT_EQ(p.view().cellWidth(), 8);
    ASSERT_EQ(p.view().cellHeight(), 16);

    // Row 0: attribute, "AAAA" reverse (cells 1-4), attribute, "BBBB" underlined (6-9),
    // attribute, "CCCC" non-display (11-14), attribute back to normal; the cursor on 16.
    const Bytes a(4, 0xC1), b(4, 0xC2), c(4, 0xC3);
    p.show(host,
           join({wtd(),
                 sba(1, 1),
                 {0x21},
                 a,
                 {0x24},
                 b,
                 {0x27},
                 c,
                 {0x20},
                 sba(3, 1),
                 {0xC4},
                 {0x13, 1, 17}}),
           2, 0, 'D');
    ASSERT_EQ(p.cursor(), QPoint(16, 0));
    const QImage image = p.grabView();

    const QRect reverse(8, 0, 4 * 8, 16);
    const int reverseDark = darkPixels(image, reverse);
    EXPECT_GT(reverseDark, reverse.width() * reverse.height() * 6 / 10);
    EXPECT_LT(reverseDark, reverse.width() * reverse.height()) << "white text in the run";
    EXPECT_EQ(darkPixels(image, QRect(8, 16, 32, 2)), 0) << "the row gap stays white";
    // Underline: one pixel below the cell (y = 17) across the run, not beyond it.
    EXPECT_EQ(darkPixels(image, QRect(48, 17, 32, 1)), 32);
    EXPECT_EQ(darkPixels(image, QRect(40, 17, 8, 1)), 0);
    EXPECT_EQ(darkPixels(image, QRect(80, 17, 8, 1)), 0);
    EXPECT_GT(darkPixels(image, QRect(48, 0, 32, 16)), 20) << "the underlined text itself";
    EXPECT_EQ(darkPixels(image, QRect(88, 0, 32, 18)), 0) << "non-display draws nothing";
    // The caret: half a cell at the cursor, inverted.
    EXPECT_EQ(qGray(image.pixel(16 * 8 + 1, 8)), 0);
    EXPECT_EQ(qGray(image.pixel(16 * 8 + 5, 8)), 255) << "caret is cellWidth / 2 wide";
    // Runs of one kind are one text output each: row 0 has seven runs, the non-display one
    // drawing nothing; every other visible row is one run.
    p.view().viewport()->repaint();
    int visibleRows = 0;
    for (int r = 0; r < tn::kRows; ++r) {
        const int y = r * 18 - p.view().verticalScrollBar()->value();
        if (y + 18 >= 0 && y <= p.view().viewport()->height()) ++visibleRows;
    }
    EXPECT_EQ(p.view().lastPaintTextOutputs(), 6 + (visibleRows - 1));

    // Disconnected: nothing of the model, no caret.
    p.s.messages.queueAnswer(platform::MbResult::Yes);
    ASSERT_TRUE(p.program().transport().disconnectCommand());
    ASSERT_TRUE(eventually([&] { return !p.view().caretVisible(); }));
    settle();
    EXPECT_EQ(darkPixels(p.grabView(), p.view().viewport()->rect()), 0);
}

TEST(TnView, TracksTheCursorOffScreenAtBothSizes) {
    for (QSize size : {QSize(240, 320), QSize(480, 640)}) {
        for (bool tracking : {true, false}) {
            Program p(size);
            ASSERT_TRUE(p.start());
            p.session([&](tn::TnSession& s) { s.cursorTracking = tracking ? 1 : 0; });
            test::LoopbackHost host;
            p.connectTo(host);
            ASSERT_TRUE(host.waitForClient());
            p.show(host, join({wtd(), sba(21, 71), {0xE7}, {0x13, 21, 72}}), 20, 70, 'X');
            ASSERT_EQ(p.cursor(), QPoint(71, 20));
            auto* h = p.view().horizontalScrollBar();
            auto* v = p.view().verticalScrollBar();
            const int w = p.view().viewport()->width();
            const int ht = p.view().viewport()->height();
            if (!tracking) {
                EXPECT_EQ(h->value(), 0);
                EXPECT_EQ(v->value(), 0);
                continue;
            }
            // Horizontally to the cursor's column less half the client; vertically by rows of
            // the cell height alone; within the scroll range.
            const int x = std::clamp(std::min(80 * 8 - w, 71 * 8 - w / 2), 0, h->maximum());
            const int y = std::clamp(std::min(24 * 18 - ht, 20 * 16 - ht / 2), 0, v->maximum());
            EXPECT_EQ(h->value(), x) << size.width();
            EXPECT_EQ(v->value(), y) << size.width();
            if (size.width() == 240) {
                EXPECT_GT(h->value(), 0);
            }
        }
    }
}

TEST(TnView, ATapMovesTheCursorUnlessTheFieldIsHalfFilledMandatory) {
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    p.connectTo(host);
    ASSERT_TRUE(host.waitForClient());
    // Field 1 mandatory fill (row 4), field 2 free (row 6); a marker on row 8.
    p.show(host,
           join({wtd(),
                 sba(5, 3),
                 sf(0x40, 0x07, 0x20, 4),
                 sba(7, 3),
                 sf(0x40, 0x00, 0x20, 4),
                 sba(9, 1),
                 {0xC4}}),
           8, 0, 'D');
    const tn::FieldEntry first = p.field(0);
    const tn::FieldEntry second = p.field(1);
    ASSERT_EQ(first.row, 4);
    ASSERT_EQ(second.row, 6);

    p.tap(first.row, first.column);
    EXPECT_EQ(p.cursor(), QPoint(first.column, first.row));
    QTest::keyClicks(&p.view(), "12");
    const QPoint halfFilled(first.column + 2, first.row);
    ASSERT_EQ(p.cursor(), halfFilled);
    p.tap(second.row, second.column + 1);
    EXPECT_EQ(p.cursor(), halfFilled) << "the half-filled mandatory field keeps the cursor";
    // Inside the same field a tap is taken.
    p.tap(first.row, first.column + 1);
    EXPECT_EQ(p.cursor(), QPoint(first.column + 1, first.row));
    QTest::keyClick(&p.view(), Qt::Key_End);  // FIELD END: after the last character
    p.tap(first.row, first.column + 2);
    QTest::keyClicks(&p.view(), "34");
    p.tap(second.row, second.column + 1);
    EXPECT_EQ(p.cursor(), QPoint(second.column + 1, second.row)) << "filled: the tap is taken";
}

TEST(TnKeys, KeysCharactersAndAScanReachTheWireAsTheHostReadsThem) {
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    p.connectTo(host);
    ASSERT_TRUE(host.waitForClient());
    const Bytes screen = join({{0x04, 0x40},
                               wtd(),
                               sba(4, 2),
                               {0xC9},  // "I" as a marker
                               sba(4, 10),
                               sf(0x40, 0x00, 0x20, 8),
                               kReadMdtFields});
    p.show(host, screen, 3, 1, 'I');
    const tn::FieldEntry item = p.field(0);
    p.tap(item.row, item.column);

    // Typed characters, then Enter: the cursor, the AID and the modified field.
    QTest::keyClicks(&p.view(), "ab12");
    QTest::keyClick(&p.view(), Qt::Key_Return);
    const Bytes typed =
        reply(join({{std::uint8_t(item.row + 1), std::uint8_t(item.column + 5), 0xF1, 0x11,
                     std::uint8_t(item.row + 1), std::uint8_t(item.column + 1)},
                    {0x81, 0x82, 0xF1, 0xF2}}));
    EXPECT_EQ(host.waitForBytes(typed.size()), typed);
    std::size_t seen = typed.size();

    // While the keyboard is locked a character is refused with the alarm; Escape resets.
    QTest::keyClicks(&p.view(), "z");
    settle();
    EXPECT_EQ(host.received().size(), seen);

    // F3 through the default key map: PF3.
    p.show(host, screen, 3, 1, 'I');
    QTest::keyClick(&p.view(), Qt::Key_F3);
    auto sentSince = [&](std::size_t from) {
        const Bytes all = host.received();
        return replyBody(Bytes(all.begin() + static_cast<std::ptrdiff_t>(from), all.end()));
    };
    ASSERT_TRUE(eventually([&] { return sentSince(seen).size() >= 3; }));
    EXPECT_EQ(sentSince(seen)[2], 0x33);
    seen = host.received().size();

    // A scan through the reader library: into the item field, then Enter sends exactly it.
    p.show(host, screen, 3, 1, 'I');
    p.tap(item.row, item.column);
    test::Plugin reader(p.root.path() / "ScanSvc_CE.so");
    auto inject = reader.get<QnSimInjectDecodeFn>("QnSimInjectDecode");
    const std::string data = "4711";
    ASSERT_EQ(inject(7, reinterpret_cast<const unsigned char*>(data.data()),
                     static_cast<int>(data.size()), nullptr, 0),
              QN_SIM_DELIVERED);
    ASSERT_TRUE(eventually([&] {
        return p.screen([&](const tn::TnScreen& m) { return m.charAt(item.row, item.column); }) ==
               '4';
    }));
    QTest::keyClick(&p.view(), Qt::Key_Return);
    const Bytes scanned =
        reply(join({{std::uint8_t(item.row + 1), std::uint8_t(item.column + 5), 0xF1, 0x11,
                     std::uint8_t(item.row + 1), std::uint8_t(item.column + 1)},
                    {0xF4, 0xF7, 0xF1, 0xF1}}));
    const Bytes got = host.waitForBytes(seen + scanned.size());
    EXPECT_EQ(Bytes(got.begin() + static_cast<std::ptrdiff_t>(seen), got.end()), scanned);
}

TEST(TnKeys, ThePanelRunsItsFunctionAndFullScreenLeavesOnThePrefixedEscape) {
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    p.connectTo(host);
    ASSERT_TRUE(host.waitForClient());
    p.show(host, join({wtd(), sba(2, 2), {0xC9}, kReadMdtFields}), 1, 1, 'I');
    // The panel's function goes straight to the editor: "F2" is PF2 whatever slot 2 holds.
    p.session([](tn::TnSession& s) { tn::slotFunction(s, 2) = tn::fn::kEnter; });
    p.program().runPanelFunction(2);
    ASSERT_TRUE(eventually([&] { return replyBody(host.received()).size() >= 3; }));
    EXPECT_EQ(replyBody(host.received())[2], 0x32) << "PF2, not the mapped Enter";

    p.frame().action(cmd::kFullScreen)->trigger();
    settle();
    ASSERT_TRUE(p.frame().fullScreenOn());
    QTest::keyClick(&p.view(), Qt::Key_Escape);
    EXPECT_TRUE(p.frame().fullScreenOn()) << "Escape alone is RESET";
    p.program().keyDown(vk::kFullScreenPrefix, true);
    QTest::keyClick(&p.view(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(p.frame().fullScreenOn());
    EXPECT_FALSE(p.frame().menuBar()->isHidden());
}

// The local text of a screen row, nulls as blanks.
std::string rowText(Program& p, int row) {
    return p.screen([&](const tn::TnScreen& m) {
        std::string text;
        for (int column = 0; column < tn::kColumns; ++column) {
            const std::uint8_t c = m.charAt(row, column);
            text += c == 0 ? ' ' : static_cast<char>(c);
        }
        return text;
    });
}

bool screenShows(Program& p, const std::string& text) {
    for (int row = 0; row < tn::kRows; ++row) {
        if (rowText(p, row).find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(TnEndToEnd, DemoHostSignOnMenuAndAScanFromTheScanTool) {
    std::mutex recordsLock;
    std::vector<Bytes> records;
    tools::DemoHostOptions options;
    options.once = true;
    options.protocol = tools::DemoProtocol::Tn5250;
    options.inboundRecord = [&](const std::vector<std::uint8_t>& record) {
        std::lock_guard lock(recordsLock);
        records.push_back(record);
    };
    tools::DemoHost demo(options);
    ASSERT_TRUE(demo.listening());
    ServedDemoHost server(demo);

    Program p;
    ASSERT_TRUE(p.start());
    // Signed on by the program; each scan ends with Enter.
    p.session([](tn::TnSession& s) {
        s.autoSignOn = 1;
        reader::storeText(s.loginName, "guest");
        reader::storeText(s.loginPassword, "demo");
        s.lastFieldSuffix = tn::fn::kEnter;
        s.otherFieldSuffix = tn::fn::kEnter;
    });
    test::Plugin plugin(p.root.path() / "ScanSvc_CE.so");
    char socketPath[512] = {};
    plugin.get<QnSimSocketPathFn>("QnSimSocketPath")(socketPath, sizeof socketPath);
    auto scan = [&](const std::string& data) {
        test::ToolProcess tool("quillnet-scan", {data},
                               {std::string("QUILLNET_SCAN_SOCKET=") + socketPath});
        return tool.wait().exitCode;
    };
    reader::storeText(p.program().session().hostAddress, "127.0.0.1");
    p.program().session().telnetPort.set(demo.port());
    p.program().transport().connectSession();
    ASSERT_TRUE(eventually([&] { return screenShows(p, "MAIN MENU"); })) << rowText(p, 0);

    ASSERT_EQ(scan("1"), 0);
    ASSERT_TRUE(eventually([&] { return screenShows(p, "PICKING"); }));
    std::size_t before;
    {
        std::lock_guard lock(recordsLock);
        before = records.size();
    }
    ASSERT_EQ(scan("0123456789"), 0);
    ASSERT_TRUE(eventually([&] { return screenShows(p, "BOLT M8 X 40 ZINC"); }));
    EXPECT_TRUE(screenShows(p, "Pick from A0703"));
    EXPECT_EQ(rowText(p, 4).substr(15, 13), "0123456789   ");

    // The host read exactly the item field: cursor after the ten digits, Enter, the field.
    std::lock_guard lock(recordsLock);
    ASSERT_EQ(records.size(), before + 1);
    const Bytes expected = join({{0x00, 0x1A, 0x12, 0xA0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x03},
                                 {0x05, 0x1A, 0xF1, 0x11, 0x05, 0x10},
                                 {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9}});
    EXPECT_EQ(records.back(), expected);
    settle();
    const QImage shot = p.frame().grab().toImage();
    std::filesystem::create_directories(QN_TEST_SCREENSHOT_DIR);
    EXPECT_TRUE(shot.save(QStringLiteral("%1/tn-demo-host.png").arg(QN_TEST_SCREENSHOT_DIR)));
}

TEST(TnScreenshots, SignOnScreenAtBothSizesAndTheKeyboardDialogs) {
    std::filesystem::create_directories(QN_TEST_SCREENSHOT_DIR);
    for (QSize size : {QSize(240, 320), QSize(480, 640)}) {
        Program p(size);
        ASSERT_TRUE(p.start());
        test::LoopbackHost host;
        p.connectTo(host);
        ASSERT_TRUE(host.waitForClient());
        auto text = [](const char* s) {
            Bytes bytes;
            for (; *s != 0; ++s)
                bytes.push_back(tn::localToSbcs(0, static_cast<std::uint8_t>(*s)));
            return bytes;
        };
        p.show(host,
               join({wtd(),
                     sba(1, 2),
                     {0x21},
                     text(" QUILLNET SIGN ON "),
                     {0x20},
                     sba(3, 2),
                     text("User  . . ."),
                     sba(3, 14),
                     sf(0x40, 0x00, 0x24, 10),
                     sba(3, 25),
                     {0x20},
                     sba(4, 2),
                     text("Password  ."),
                     sba(4, 14),
                     sf(0x40, 0x00, 0x27, 10),
                     sba(4, 25),
                     {0x20},
                     sba(6, 2),
                     text("F3=Exit"),
                     sba(3, 15)}),
               5, 1, 'F');
        QTest::keyClicks(&p.view(), "guest");
        settle();
        const QImage shot = p.frame().grab().toImage();
        EXPECT_EQ(shot.size(), size);
        EXPECT_TRUE(shot.save(QStringLiteral("%1/tn-%2x%3.png")
                                  .arg(QN_TEST_SCREENSHOT_DIR)
                                  .arg(size.width())
                                  .arg(size.height())));
    }
    for (int mode : {1, 2}) {
        auto session = std::make_unique<tn::TnSession>();
        tn::installDefaultKeyMap(*session);
        tn::slotFunction(*session, 46) = tn::fn::kFieldExit;
        std::vector<std::pair<QString, std::unique_ptr<dialogs::Dialog>>> all;
        all.emplace_back("tn-key-mapping",
                         std::make_unique<tn::CDlgTNKeyMapping>(*session, "KX4CE", 1));
        all.emplace_back("select-object-key",
                         std::make_unique<tn::SelectObjectKeyDialog>("Fn+LEFT", tn::fn::kRecord));
        all.emplace_back("tn5250-key", std::make_unique<tn::TnKeyPanel>());
        for (auto& [name, model] : all) {
            platform::RecordingMessageBoxes messages;
            QtDialogRunner runner;
            dialogs::DialogContext context{messages, runner, mode};
            model->open(context);
            // The key panel is shown as the program shows it: every key ends it, so no OK.
            DialogWindow window(*model, nullptr,
                                name == "tn5250-key" ? DialogWindow::Strip::CloseOnly
                                                     : DialogWindow::Strip::OkAndClose);
            window.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            const QImage image = window.grab().toImage();
            EXPECT_EQ(image.width(), mode == 2 ? 480 : 240);
            EXPECT_TRUE(image.save(
                QStringLiteral("%1/dialog-%2-%3.png")
                    .arg(QN_TEST_SCREENSHOT_DIR, name,
                         mode == 2 ? QStringLiteral("480x640") : QStringLiteral("240x320"))));
        }
    }
}

}  // namespace
}  // namespace qn::ui
