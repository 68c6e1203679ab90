// The VT program's windows under the offscreen platform: the start-up order, painting of the
// host's screen, keys on the wire, full screen, the quit sequence, the single instance, the
// notification popup's Exit, and screenshots of both screen sizes against the demo host.

#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QImage>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/reader/record_fields.h"
#include "common/reader/settings_files.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/test_support.h"
#include "tests/support/loopback_host.h"
#include "tests/support/tls_rig.h"
#include "tests/ui/ui_test_support.h"
#include "tools/quillnet-demohost/demo_host.h"
#include "ui/vt_application.h"

namespace qn::ui {
namespace {

using namespace std::chrono_literals;
using namespace test_support;
using Bytes = std::vector<std::uint8_t>;
namespace cmd = vt::command;

constexpr const char* kRegistry = "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=KX2CE\nName=KX2CE\n";

struct Program {
    explicit Program(QSize size = {240, 320}, QString instance = uniqueInstanceName(),
                     const char* registry = kRegistry, bool withReader = true)
        : s(prepareRoot(root.path(), withReader), registry),
          app(s.services, s.queue, nullptr, {home.path(), size, std::move(instance)}) {}

    bool start() { return !app.start().has_value(); }
    CQuillNet_VTFrom& frame() { return *app.frame(); }
    CQuillNet_VTView& view() { return app.frame()->view(); }
    vt::VtProgram& program() { return *app.program(); }

    template <class Change>
    void settings(Change change) {
        std::lock_guard lock(program().sessionLock());
        change(program().session().settings);
    }
    void connectTo(std::uint16_t port) {
        settings([&](vt::VtSettings& s) {
            reader::storeText(s.hostAddress, "127.0.0.1");
            s.telnetPort.set(port);
        });
        program().transport().connectSession();
    }
    std::string row(int r) {
        std::lock_guard lock(program().sessionLock());
        std::string text;
        for (auto c : program().emulator().screen().rowChars(r))
            text += c == 0 ? ' ' : static_cast<char>(c);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    std::string dump() {
        std::string text;
        for (int r = 0; r < vt::kScreenRows; ++r)
            text += row(r) + "\n";
        return text;
    }
    bool screenHas(const std::string& text) {
        for (int r = 0; r < vt::kScreenRows; ++r) {
            if (row(r).find(text) != std::string::npos) return true;
        }
        return false;
    }
    QImage grabView() { return view().viewport()->grab().toImage(); }

    test::TempDir root;
    test::TempDir home;
    UiServices s;
    VtApplication app;
};

// Host output followed by a marker on a cleared screen, waited for.
void hostSays(Program& p, test::LoopbackHost& host, const std::string& setup) {
    static int serial = 0;
    const std::string marker = "ready" + std::to_string(++serial);
    host.send(setup + "\033[H\033[2J" + marker);
    ASSERT_TRUE(eventually([&] { return p.row(0) == marker; }));
}

TEST(VtView, ScreenBytesKeysAndCharactersTranslate) {
    struct Glyph {
        std::uint8_t byte;
        char16_t shown;
    };
    const Glyph glyphs[] = {
        {0x00, u' '},      {'A', u'A'},       {0x80, u'\u20AC'}, {0x92, u'\u2019'},
        {0x9F, u'\u0178'}, {0x81, u'\u00B7'}, {0xE9, u'\u00E9'}, {0xDA, u'\u250C'},
        {0xD9, u'\u2518'}, {0xB3, u'\u2502'}, {0xC5, u'\u253C'}, {0xFF, u'\u00FF'},
    };
    for (const auto& g : glyphs)
        EXPECT_EQ(displayChar(g.byte).unicode(), g.shown) << int(g.byte);

    struct Key {
        int qtKey;
        int virtualKey;
    };
    const Key keys[] = {
        {Qt::Key_F1, 0x70},        {Qt::Key_F20, 0x83},    {Qt::Key_F24, 0},
        {Qt::Key_Left, 0x25},      {Qt::Key_Down, 0x28},   {Qt::Key_PageUp, 0x21},
        {Qt::Key_End, 0x23},       {Qt::Key_Insert, 0x2D}, {Qt::Key_Delete, 0x2E},
        {Qt::Key_Backspace, 0x08}, {Qt::Key_Enter, 0x0D},  {Qt::Key_Control, 0x11},
        {Qt::Key_Escape, 0x1B},    {Qt::Key_C, 'C'},       {Qt::Key_7, '7'},
        {Qt::Key_Shift, 0},
    };
    for (const auto& k : keys)
        EXPECT_EQ(virtualKeyFor(k.qtKey), k.virtualKey) << std::hex << k.qtKey;

    struct Character {
        int qtKey;
        Qt::KeyboardModifiers modifiers;
        QString text;
        int character;
    };
    const Character characters[] = {
        {Qt::Key_A, Qt::NoModifier, "a", 'a'},
        {Qt::Key_C, Qt::ControlModifier, "c", 0x03},
        {Qt::Key_Z, Qt::ControlModifier, "", 0x1A},
        {Qt::Key_Return, Qt::NoModifier, "\r", 0x0D},
        {Qt::Key_Tab, Qt::NoModifier, "\t", 0x09},
        {Qt::Key_Up, Qt::NoModifier, "", -1},
        {Qt::Key_unknown, Qt::NoModifier, QString(QChar(u'\u20AC')), -1},
        {Qt::Key_unknown, Qt::NoModifier, QStringLiteral("ab"), -1},
    };
    for (const auto& c : characters)
        EXPECT_EQ(characterFor(c.qtKey, c.modifiers, c.text), c.character) << c.text.toStdString();
}

TEST(VtStartup, EndsAtTheFirstMissingPieceWithItsMessage) {
    struct Case {
        const char* registry;
        bool withReader;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"", true, {}},                                                // no model: silently
        {"[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=ZZ9\n", true, {}},  // unknown model
        {kRegistry, false, {"Can't find the dll file !!"}},
    };
    for (const auto& c : cases) {
        Program p({240, 320}, uniqueInstanceName(), c.registry, c.withReader);
        auto code = p.app.start();
        ASSERT_TRUE(code.has_value()) << c.registry;
        EXPECT_NE(*code, 0);
        EXPECT_EQ(p.app.frame(), nullptr) << "no window before the device is there";
        EXPECT_EQ(p.s.messages.texts(), c.messages);
    }
}

TEST(VtStartup, ShowsTheWindowWithMenusToolbarAndDefaults) {
    for (QSize size : {QSize(240, 320), QSize(480, 640)}) {
        Program p(size);
        ASSERT_TRUE(p.start());
        EXPECT_TRUE(p.s.messages.texts().empty());
        EXPECT_EQ(p.frame().windowTitle(), "QuillNet_VT");
        EXPECT_EQ(p.frame().size(), size);
        EXPECT_EQ(p.program().device().screenMode(), size.width() == 480 ? 2 : 1);
        EXPECT_EQ(p.program().deviceName(), "KX2CE");

        QStringList menus;
        for (QAction* menu : p.frame().menuBar()->actions()) {
            menus << menu->text();
            for (QAction* item : menu->menu()->actions())
                menus << QStringLiteral("  %1 %2")
                             .arg(item->text())
                             .arg(item->data().toUInt(), 0, 16);
        }
        EXPECT_EQ(menus,
                  QStringList({"File", "  Configure 8007", "  Open 8010", "  Save  e103",
                               "  Save &As... e104", "  E&xit e141", "  Set Config File... 801c",
                               "Telnet", "  &Connect 8004", "  Disconnect 8005", "  VTKey 8009",
                               "Help", "  &About QuillNet_VT... e140"}));
        QStringList tools;
        for (QAction* tool : p.frame().toolBar()->actions())
            tools << (tool->isSeparator() ? QStringLiteral("|")
                                          : QString::number(tool->data().toUInt(), 16));
        EXPECT_EQ(tools, QStringList({"8007", "8004", "|", "8005", "8009", "801d"}));
        EXPECT_EQ(p.frame().trayIcon()->toolTip(), "QuillNet_VT");
        EXPECT_EQ(p.frame().trayMenu()->title(), "QuillVT");
        ASSERT_EQ(p.app.aboutLines().size(), 2);
        EXPECT_EQ(p.app.aboutLines()[0], "QuillNet_VT (V 3.031)");
        EXPECT_TRUE(p.app.aboutLines()[1].startsWith("Reader Dll Ver: "));
    }
}

TEST(VtShell, CommandsAreOfferedByConnectionAndSaveState) {
    struct Case {
        unsigned id;
        bool connected;
        bool saved;
        bool enabled;
    };
    const Case cases[] = {
        {cmd::kConnect, false, false, true},     {cmd::kConnect, true, false, false},
        {cmd::kDisconnect, false, false, false}, {cmd::kDisconnect, true, false, true},
        {cmd::kVtKey, false, true, false},       {cmd::kFullScreen, true, true, true},
        {cmd::kSave, true, false, true},         {cmd::kSave, false, true, false},
        {cmd::kOpen, true, true, true},          {cmd::kAbout, false, false, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vt::commandEnabled(c.id, c.connected, c.saved), c.enabled) << std::hex << c.id;

    // The frame's actions follow the connection.
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    EXPECT_TRUE(p.frame().action(cmd::kConnect)->isEnabled());
    EXPECT_FALSE(p.frame().action(cmd::kFullScreen)->isEnabled());
    p.connectTo(host.port());
    ASSERT_TRUE(host.waitForClient());
    EXPECT_FALSE(p.frame().action(cmd::kConnect)->isEnabled());
    EXPECT_TRUE(p.frame().action(cmd::kDisconnect)->isEnabled());
    EXPECT_TRUE(p.frame().action(cmd::kFullScreen)->isEnabled());
    host.closeClient();
    ASSERT_TRUE(eventually([&] { return p.frame().action(cmd::kConnect)->isEnabled(); }));
    EXPECT_EQ(p.s.messages.texts(), std::vector<std::string>{"Server Closed!"});
}

TEST(VtView, PaintsCellsRunsAndTheCaretOnceConnected) {
    Program p;
    ASSERT_TRUE(p.start());
    settle();
    // Before the first connect only the background.
    EXPECT_EQ(darkPixels(p.grabView(), p.view().viewport()->rect()), 0);

    test::LoopbackHost host;
    p.connectTo(host.port());
    ASSERT_TRUE(host.waitForClient());
    EXPECT_TRUE(QFontInfo(p.view().viewFont()).fixedPitch());
    EXPECT_EQ(p.view().cellWidth(), 8);
    EXPECT_EQ(p.view().cellHeight(), 16);

    host.send("\033[H\033[2J\033[7mREVERSE\033[0m normal\r\n\r\nline 3");
    ASSERT_TRUE(eventually([&] { return p.row(2) == "line 3"; }));
    settle();
    const QImage image = p.grabView();

    // Row 0: a reverse run of 7 cells, black with white text, then normal cells.
    const QRect reverse(0, 0, 7 * 8, 16);
    const int reverseDark = darkPixels(image, reverse);
    EXPECT_GT(reverseDark, reverse.width() * reverse.height() * 6 / 10);
    EXPECT_LT(reverseDark, reverse.width() * reverse.height()) << "white text in the run";
    EXPECT_EQ(qGray(image.pixel(1, 1)), 0);
    const int normalDark = darkPixels(image, QRect(8 * 8, 0, 6 * 8, 16));
    EXPECT_GT(normalDark, 20) << "text pixels of 'normal'";
    EXPECT_LT(normalDark, 6 * 8 * 16 / 3);
    // Row 1 is empty; row 2 starts at y = 36 (row pitch 18).
    EXPECT_EQ(darkPixels(image, QRect(0, 16, 80, 18)), 0);
    EXPECT_GT(darkPixels(image, QRect(0, 36, 5 * 8, 16)), 20);
    // The caret: half a cell at the cursor (row 2, column 6), inverted.
    EXPECT_EQ(qGray(image.pixel(6 * 8 + 1, 36 + 8)), 0);
    EXPECT_EQ(qGray(image.pixel(6 * 8 + 5, 36 + 8)), 255) << "caret is cellWidth / 2 wide";

    // A row of 80 normal cells is one text output; a row with a reverse run in the middle is
    // three.
    host.send("\033[H\033[2Jab\033[7mcd\033[0mef");
    ASSERT_TRUE(eventually([&] { return p.row(0) == "abcdef"; }));
    settle();
    p.view().viewport()->repaint();
    int visibleRows = 0;
    for (int r = 0; r < vt::kBufferRows; ++r) {
        const int y = r * 18 - p.view().verticalScrollBar()->value();
        if (y + 16 >= 0 && y - 2 <= p.view().viewport()->height()) ++visibleRows;
    }
    EXPECT_GT(visibleRows, 10);
    EXPECT_EQ(p.view().lastPaintTextOutputs(), 3 + (visibleRows - 1));

    // CSI ? 25 l hides the caret.
    host.send("\033[?25l");
    ASSERT_TRUE(eventually([&] { return !p.view().caretVisible(); }));
}

TEST(VtView, KeepsTheCursorVisibleInANarrowWindow) {
    for (bool tracking : {true, false}) {
        Program p;
        ASSERT_TRUE(p.start());
        p.settings([&](vt::VtSettings& s) { s.cursorTracking = tracking ? 1 : 0; });
        test::LoopbackHost host;
        p.connectTo(host.port());
        ASSERT_TRUE(host.waitForClient());
        host.send("\033[20;80Hx");
        ASSERT_TRUE(eventually([&] { return p.row(19) == std::string(79, ' ') + "x"; }));
        settle();
        auto* bar = p.view().horizontalScrollBar();
        if (tracking) {
            EXPECT_EQ(bar->value(), bar->maximum()) << "as far as the right edge, not further";
            EXPECT_GT(bar->value(), 0);
            EXPECT_GT(p.view().verticalScrollBar()->value(), 0);
        } else {
            EXPECT_EQ(bar->value(), 0);
        }
    }
}

TEST(VtKeys, KeysReachTheWireAsTheModesSay) {
    struct Case {
        const char* setup;  // host output first
        int mappedSlot;     // a code stored in this slot
        const char* mappedCode;
        std::vector<std::pair<int, Qt::KeyboardModifiers>> keys;
        const char* expected;
    };
    const Case cases[] = {
        {"", 0, "", {{Qt::Key_Up, Qt::NoModifier}}, "\033[A"},
        {"\033[?1h", 0, "", {{Qt::Key_Up, Qt::NoModifier}}, "\033OA"},
        {"\033[?1h", 0, "", {{Qt::Key_Left, Qt::NoModifier}}, "\033OD"},
        {"\033[20l", 0, "", {{Qt::Key_Return, Qt::NoModifier}}, "\r"},
        {"\033[20h", 0, "", {{Qt::Key_Return, Qt::NoModifier}}, "\r\n"},
        {"", 0, "", {{Qt::Key_F5, Qt::NoModifier}}, "\033[15~"},
        {"", 5, "\033OT", {{Qt::Key_F5, Qt::NoModifier}}, "\033OT"},
        {"",
         0,
         "",
         {{Qt::Key_Control, Qt::ControlModifier}, {Qt::Key_C, Qt::ControlModifier}},
         "\x03"},
        {"", 0, "", {{Qt::Key_A, Qt::NoModifier}, {Qt::Key_Tab, Qt::NoModifier}}, "a\t"},
        {"", 0, "", {{Qt::Key_Delete, Qt::NoModifier}}, "\x7f"},
    };
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    p.connectTo(host.port());
    ASSERT_TRUE(host.waitForClient());
    std::size_t received = 0;
    for (const auto& c : cases) {
        hostSays(p, host, c.setup);
        p.settings([&](vt::VtSettings& s) {
            s.keyCodeTable.fill(0);
            for (std::size_t i = 0; c.mappedCode[i] != 0; ++i)
                s.keyCodeTable[static_cast<std::size_t>(c.mappedSlot) * 5 + i] =
                    static_cast<std::uint8_t>(c.mappedCode[i]);
        });
        for (const auto& [key, modifiers] : c.keys) {
            const QString text =
                key == Qt::Key_A ? QStringLiteral("a") : (key == Qt::Key_Tab ? "\t" : QString());
            QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
            QApplication::sendEvent(&p.view(), &event);
        }
        const std::string expected = c.expected;
        auto got = host.waitForBytes(received + expected.size());
        ASSERT_EQ(got.size(), received + expected.size()) << expected;
        EXPECT_EQ(std::string(got.begin() + static_cast<std::ptrdiff_t>(received), got.end()),
                  expected);
        received = got.size();
    }
}

TEST(VtKeys, LineBufferAndLocalEchoOnTheWire) {
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    p.connectTo(host.port());
    ASSERT_TRUE(host.waitForClient());

    p.settings([](vt::VtSettings& s) { s.lineBuffer = 1; });
    hostSays(p, host, "");
    QTest::keyClicks(&p.view(), "ok");
    settle();
    EXPECT_TRUE(host.received().empty()) << "the line stays local until Return";
    EXPECT_TRUE(p.row(0).ends_with("ok")) << p.row(0);
    QTest::keyClick(&p.view(), Qt::Key_Return);
    auto got = host.waitForBytes(3);
    EXPECT_EQ(std::string(got.begin(), got.end()), "ok\r");

    // Local echo: a printable key and a one-byte key are echoed, F1 is not.
    p.settings([](vt::VtSettings& s) {
        s.lineBuffer = 0;
        s.localEcho = 1;
    });
    host.send("\033[H\033[2J");
    ASSERT_TRUE(eventually([&] { return p.row(0).empty(); }));
    QTest::keyClick(&p.view(), Qt::Key_Z, Qt::NoModifier);
    QTest::keyClick(&p.view(), Qt::Key_F1);
    got = host.waitForBytes(3 + 1 + 3);
    EXPECT_EQ(std::string(got.begin() + 3, got.end()), "z\033OP");
    EXPECT_EQ(p.row(0), "z");
}

TEST(VtFrame, FullScreenEnterAndLeave) {
    for (bool keepTaskBar : {false, true}) {
        Program p;
        ASSERT_TRUE(p.start());
        p.settings([&](vt::VtSettings& s) { s.taskBarOnFullScreen.set(keepTaskBar ? 1 : 0); });
        test::LoopbackHost host;
        p.connectTo(host.port());
        ASSERT_TRUE(host.waitForClient());
        const QRect before = p.frame().geometry();

        p.frame().action(cmd::kFullScreen)->trigger();
        settle();
        EXPECT_TRUE(p.frame().fullScreenOn());
        EXPECT_TRUE(p.frame().menuBar()->isHidden());
        EXPECT_TRUE(p.frame().toolBar()->isHidden());
        if (keepTaskBar) {
            EXPECT_FALSE(p.frame().isFullScreen());
            EXPECT_EQ(p.frame().frameGeometry(), p.frame().screen()->availableGeometry());
        } else {
            EXPECT_TRUE(p.frame().isFullScreen());
        }

        // Escape alone goes to the host; the escape prefix then Escape leaves full screen.
        QTest::keyClick(&p.view(), Qt::Key_Escape);
        EXPECT_EQ(host.waitForBytes(1), Bytes{0x1B});
        EXPECT_TRUE(p.frame().fullScreenOn());
        p.program().keyboard().keyDown(vt::vk::kFullScreenPrefix);
        QTest::keyClick(&p.view(), Qt::Key_Escape);
        settle();
        EXPECT_FALSE(p.frame().fullScreenOn());
        EXPECT_FALSE(p.frame().menuBar()->isHidden());
        EXPECT_FALSE(p.frame().toolBar()->isHidden());
        EXPECT_EQ(p.frame().geometry().size(), before.size());
        EXPECT_EQ(host.received(), Bytes{0x1B}) << "the prefix and its Escape send nothing";
    }
}

TEST(VtFrame, QuitAsksThenHaltsTheReaders) {
    Program p;
    ASSERT_TRUE(p.start());
    ASSERT_TRUE(p.program().reader().readerInitialised());
    p.s.messages.queueAnswer(platform::MbResult::Cancel);
    EXPECT_FALSE(p.frame().close());
    EXPECT_TRUE(p.frame().isVisible());
    EXPECT_TRUE(p.program().reader().readerInitialised());

    p.s.messages.queueAnswer(platform::MbResult::Ok);
    EXPECT_TRUE(p.frame().close());
    EXPECT_FALSE(p.program().reader().readerInitialised());
    EXPECT_FALSE(p.frame().trayIcon()->isVisible());
    const platform::ShownMessage question{"Do you want to quit?", "Warning",
                                          platform::MbButtons::OkCancel,
                                          platform::MbIcon::Exclamation};
    EXPECT_EQ(p.s.messages.shown(), (std::vector<platform::ShownMessage>{question, question}));
    p.app.finish();
    EXPECT_EQ(p.s.messages.shown().size(), 2u) << "the libraries were freed without complaint";
}

TEST(VtFrame, TrayExitEndsWithCode16WithoutTheQuestion) {
    Program p;
    ASSERT_TRUE(p.start());
    QTimer::singleShot(0, [&] { p.frame().action(cmd::kTrayExit)->trigger(); });
    EXPECT_EQ(QApplication::exec(), 16);
    EXPECT_TRUE(p.s.messages.shown().empty());
    EXPECT_TRUE(p.program().reader().readerInitialised()) << "the readers are not halted";
}

TEST(VtStartup, ASecondStartBringsTheFirstToTheFront) {
    const QString name = uniqueInstanceName();
    Program first({240, 320}, name);
    ASSERT_TRUE(first.start());
    Program second({240, 320}, name);
    auto code = second.app.start();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(second.app.frame(), nullptr);
    EXPECT_TRUE(eventually([&] { return first.app.frontRequests() == 1; }));
}

TEST(VtStartup, ConnectsAndEntersFullScreenAsTheDocumentSays) {
    for (bool savedInFullScreen : {false, true}) {
        test::LoopbackHost host;
        Program p;
        vt::VtSettings document{};
        reader::storeText(document.hostAddress, "127.0.0.1");
        document.telnetPort.set(host.port());
        document.fontHeight = 16;
        document.fontWidth = 8;
        document.cursorTracking = 1;
        document.autoConnect = 1;
        document.autoFullScreen.set(1);
        document.fullScreenOn.set(savedInFullScreen ? 1 : 0);
        const auto paths =
            reader::documentPaths(p.home.path(), vt::kVtProgramName, vt::kVtExtension);
        test::writeFile(paths.defaultSettingsPath,
                        std::string(reinterpret_cast<const char*>(document.bytes().data()),
                                    document.bytes().size()));
        ASSERT_TRUE(p.start());
        EXPECT_TRUE(host.waitForClient());
        EXPECT_TRUE(p.program().connected());
        EXPECT_TRUE(p.frame().fullScreenOn());
        EXPECT_TRUE(p.frame().menuBar()->isHidden())
            << "saved in full screen: " << savedInFullScreen;
        EXPECT_EQ(p.program().session().settingsLoaded, 1);
    }
}

TEST(VtMessageBoxes, AReadThreadBoxNeverHoldsUpTheQuit) {
    struct Case {
        platform::MbButtons buttons;
        platform::MbResult unshown;
    };
    const Case cases[] = {
        {platform::MbButtons::Ok, platform::MbResult::Ok},
        {platform::MbButtons::OkCancel, platform::MbResult::Cancel},
        {platform::MbButtons::YesNo, platform::MbResult::No},
        {platform::MbButtons::YesNoCancel, platform::MbResult::No},
    };
    for (const auto& c : cases) {
        QtMessageBoxes boxes(QStringLiteral("QuillNet_VT"));
        // A box asked for on another thread waits for the UI thread, which is busy here...
        std::atomic<bool> returned{false};
        platform::MbResult result = platform::MbResult::Yes;
        std::thread reader([&] {
            result =
                boxes.show("Server Closed!", "Error", c.buttons, platform::MbIcon::Exclamation);
            returned = true;
        });
        std::this_thread::sleep_for(30ms);
        EXPECT_FALSE(returned.load());
        // ...until the program quits: then it returns at once, unshown.
        boxes.setQuitting();
        reader.join();
        EXPECT_EQ(result, c.unshown);
        EXPECT_EQ(boxes.show("later", "Error", c.buttons, platform::MbIcon::None), c.unshown);
        QCoreApplication::processEvents();  // the queued box finds the program quitting
    }
}

TEST(VtMessageBoxes, ABoxFromTheReadThreadOpensOverTheMainWindow) {
    QWidget window;
    window.setWindowTitle(QStringLiteral("QuillNet_VT"));
    QPalette dark = window.palette();
    dark.setColor(QPalette::Window, QColor(0x33, 0x44, 0x55));
    window.setPalette(dark);
    window.setAutoFillBackground(true);
    window.setGeometry(300, 180, 240, 320);
    window.show();
    QtMessageBoxes boxes(QStringLiteral("QuillNet_VT"));
    boxes.setOwnerWindow(&window);
    QWidget* parent = nullptr;
    QRect shown;
    QTimer::singleShot(50ms, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        parent = box->parentWidget();
        shown = box->frameGeometry();
        // The window with the box where it opened, for the eye.
        QImage shot = window.grab().toImage();
        QPainter painter(&shot);
        painter.drawPixmap(box->geometry().topLeft() - window.geometry().topLeft(), box->grab());
        painter.end();
        std::filesystem::create_directories(QN_TEST_SCREENSHOT_DIR);
        shot.save(QStringLiteral("%1/vt-message-box.png").arg(QN_TEST_SCREENSHOT_DIR));
        box->button(QMessageBox::Ok)->click();
    });
    std::atomic<bool> returned{false};
    std::thread reader([&] {
        boxes.show("Can not establish connection!", "Error", platform::MbButtons::Ok,
                   platform::MbIcon::Exclamation);
        returned = true;
    });
    EXPECT_TRUE(eventually([&] { return returned.load(); }));
    reader.join();
    EXPECT_EQ(parent, &window);
    ASSERT_FALSE(shown.isEmpty());
    const QPoint offset = shown.center() - window.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << shown.x() << "," << shown.y();
}

TEST(VtDecodes, AScanReachesTheHostThroughTheUiThread) {
    Program p;
    ASSERT_TRUE(p.start());
    test::LoopbackHost host;
    p.connectTo(host.port());
    ASSERT_TRUE(host.waitForClient());
    // The same library the program loaded: its test entry delivers a decode as a scan would.
    test::Plugin reader(p.root.path() / "ScanSvc_CE.so");
    auto inject = reader.get<QnSimInjectDecodeFn>("QnSimInjectDecode");
    const std::string data = "0123456789";
    ASSERT_EQ(inject(7, reinterpret_cast<const unsigned char*>(data.data()),
                     static_cast<int>(data.size()), nullptr, 0),
              QN_SIM_DELIVERED);
    // Posted to the event loop: nothing arrives until the UI thread runs.
    auto got = host.waitForBytes(data.size(), 100ms);
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(eventually([&] { return host.received().size() >= data.size(); }));
    got = host.received();
    EXPECT_EQ(std::string(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(data.size())),
              data);
}

TEST(VtScreenshots, PickingScreenAtBothSizes) {
    for (QSize size : {QSize(240, 320), QSize(480, 640)}) {
        tools::DemoHost demo({0, true});
        ASSERT_TRUE(demo.listening());
        ServedDemoHost server(demo);
        {
            Program p(size);
            ASSERT_TRUE(p.start());
            p.settings([](vt::VtSettings& s) {
                s.autoSignOn = 1;
                reader::storeText(s.loginName, "guest");
                reader::storeText(s.loginPassword, "demo");
            });
            p.connectTo(demo.port());
            ASSERT_TRUE(eventually([&] { return p.screenHas("Scan item:"); }));
            QTest::keyClicks(&p.view(), "4711");
            QTest::keyClick(&p.view(), Qt::Key_Return);
            ASSERT_TRUE(eventually([&] { return p.screenHas("Quantity:"); }));
            QTest::keyClicks(&p.view(), "3");
            QTest::keyClick(&p.view(), Qt::Key_Return);
            ASSERT_TRUE(eventually([&] { return p.screenHas("Picked 3 x 4711"); })) << p.dump();
            ASSERT_TRUE(eventually([&] { return p.screenHas("Scan item:"); }));
            settle();
            EXPECT_TRUE(p.screenHas("\xDA---"));  // the box in line drawing

            const QImage shot = p.frame().grab().toImage();
            EXPECT_EQ(shot.size(), size);
            std::filesystem::create_directories(QN_TEST_SCREENSHOT_DIR);
            const QString file = QStringLiteral("%1/vt-%2x%3.png")
                                     .arg(QN_TEST_SCREENSHOT_DIR)
                                     .arg(size.width())
                                     .arg(size.height());
            EXPECT_TRUE(shot.save(file));
            EXPECT_GT(darkPixels(shot, QRect(QPoint(0, 0), size)), 500);
            p.app.finish();
        }
    }
}

// A host that does not answer: the window keeps running its event loop, the "Connecting..."
// box offers Cancel, and a cancelled connect shows no message.
TEST(VtConnect, ConnectingBoxCancels) {
    Program p;
    ASSERT_TRUE(p.start());
    test::FullBacklogListener silent;
    bool sawBox = false;
    int ticks = 0;
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, [&] { ++ticks; });
    painter.start(50);
    QTimer::singleShot(700, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QDialog*>(w);
            if (box == nullptr || !box->isVisible() || box->windowTitle() != "Connecting...")
                continue;
            for (auto* button : box->findChildren<QPushButton*>()) {
                if (button->text() == "Cancel") {
                    sawBox = true;
                    button->click();
                }
            }
        }
    });
    const auto started = std::chrono::steady_clock::now();
    p.connectTo(silent.port());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_TRUE(sawBox);
    EXPECT_GE(ticks, 5) << "the event loop ran while connecting";
    EXPECT_FALSE(p.program().connected());
    EXPECT_TRUE(p.s.messages.texts().empty());
}

}  // namespace
}  // namespace qn::ui
