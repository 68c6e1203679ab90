// Both programs' settings sheets through the Qt renderer: every page and scanner dialog drawn in
// both screen modes (screenshots under the build's screenshots folder); host and port changed
// on the page, OK and Yes, and the document on disk read back with quillnet-settings; an engine
// value changed in its dialog reaches the simulated reader once the sheet closes.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "common/dialogs/settings_pages.h"
#include "plugins/simreader/simreader_test_api.h"
#include "tests/simreader/test_support.h"
#include "tn5250/dialogs/tn_settings_sheet.h"
#include "ui/dialog_window.h"
#include "vt/dialogs/vt_settings_sheet.h"

using namespace qn;

namespace {

QString screenshotDir() {
    QString dir = QStringLiteral(QN_TEST_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

QString modeName(int mode) {
    return mode == 2 ? QStringLiteral("480x640") : QStringLiteral("240x320");
}

// A device root of its own with a copy of the simulated reader of the given reader type.
struct SimDevice {
    explicit SimDevice(const std::string& type) {
        test::writeFile(root.path() / "reader.ini", "[reader]\ntype=" + type + "\nactive=0x27\n");
        test::copyPlugin(root.path(), "ScanSvc_CE.so", "ScanSvc_CE.so");
        if (!library.load()) qFatal("simulated reader not loaded");
        library.initialise();
    }
    ~SimDevice() {
        library.halt();
        if (auto released = library.releaseLibrary()) released->release();
    }
    test::TempDir root;
    test::TestServices services{root.path()};
    reader::ReaderLibrary library{services.services};
};

class NoRunner final : public dialogs::DialogRunner {
  public:
    dialogs::DialogResult runModal(dialogs::Dialog& d) override {
        d.pressCancel();
        return dialogs::DialogResult::Cancel;
    }
};

void grab(QWidget& window, const QString& name, int mode) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage image = window.grab().toImage();
    QCOMPARE(image.width(), mode == 2 ? 480 : 240);
    QVERIFY(image.save(QStringLiteral("%1/%2-%3.png").arg(screenshotDir(), name, modeName(mode))));
}

// The sheet window's OK (not a page's button of that name).
void pressSheetOk(QDialog& sheet) {
    sheet.findChild<QPushButton*>(QStringLiteral("ok"))->click();
}

QPushButton* buttonNamed(QWidget& parent, const QString& text) {
    for (auto* button : parent.findChildren<QPushButton*>()) {
        if (button->text() == text) return button;
    }
    return nullptr;
}

// Replaces an edit's text as the operator types it.
void retype(QLineEdit* edit, const QString& text) {
    QVERIFY(edit != nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

QLineEdit* editShowing(QWidget& parent, const QString& text) {
    for (auto* edit : parent.findChildren<QLineEdit*>()) {
        if (edit->text() == text) return edit;
    }
    return nullptr;
}

QString dump(const QString& program, const std::string& path) {
    QProcess tool;
    tool.start(QStringLiteral(QN_TEST_BIN_DIR) + QStringLiteral("/quillnet-settings"),
               {program, QStringLiteral("dump"), QString::fromStdString(path)});
    if (!tool.waitForFinished(10000)) return {};
    return QString::fromUtf8(tool.readAllStandardOutput());
}

struct VtRig {
    explicit VtRig(const std::string& type = "0x105") : device(type) {
        document.setDefaultSettings();
        session->settingsLoaded = 1;
        document.setConfigFile((dir.path() / "site.qnvt").string());
        session->settings.activeDeviceByte() = 0x27;
    }
    SimDevice device;
    test::TempDir dir;
    platform::RecordingMessageBoxes& messages() { return device.services.messages; }
    std::unique_ptr<vt::VtSession> session = std::make_unique<vt::VtSession>();
    vt::VtDocument document{*session, device.library, device.services.messages, dir.path()};
};

struct TnRig {
    TnRig() : device("0x105") {
        document.applyDefaults();
        state.settingsLoaded = 1;
        document.setConfigFile((dir.path() / "site.qntn").string());
        state.settings.activeDeviceByte() = 0x27;
    }
    SimDevice device;
    test::TempDir dir;
    platform::RecordingMessageBoxes& messages() { return device.services.messages; }
    tn::TnSessionState state;
    tn::TnDocument document{state, device.library, device.services.messages, dir.path()};
};

// The sheet shown, host and port retyped on its first page, OK, and Yes to the question.
template <class Rig, class Sheet>
void typeHostAndPort(Rig& rig, Sheet& sheet, const QString& host, const QString& port) {
    rig.messages().queueAnswer(platform::MbResult::Yes);
    ui::QtDialogRunner runner;
    dialogs::DialogContext context{rig.messages(), runner, 1};
    ui::SheetWindow window(sheet.open(context), {0, 0, 240, 320});
    window.show();
    QTimer::singleShot(0, [&] {
        retype(editShowing(window, QStringLiteral("192.168.1.100")), host);
        retype(editShowing(window, QStringLiteral("23")), port);
        pressSheetOk(window);
    });
    const bool ok = window.run();
    QVERIFY(ok);
    sheet.finish(ok, reader::askWithMessageBox(rig.messages()));
    QCOMPARE(rig.messages().texts().size(), std::size_t{1});
}

}  // namespace

class SettingsSheetsUiTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void everyPageAndScannerDialogInBothModes() {
        for (int mode : {1, 2}) {
            VtRig vt;
            TnRig tn;
            NoRunner runner;
            dialogs::DialogContext vtContext{vt.messages(), runner, mode};
            dialogs::DialogContext tnContext{tn.messages(), runner, mode};
            vt::VtSettingsSheet vtSheet(*vt.session, vt.document, vt.device.library, vt.messages(),
                                        "KX2CE", 1);
            tn::TnSettingsSheet tnSheet(tn.state, tn.document, tn.device.library, tn.messages());
            dialogs::PropertySheet& vtPages = vtSheet.open(vtContext);
            dialogs::PropertySheet& tnPages = tnSheet.open(tnContext);
            const device::Rect screen{0, 0, mode == 2 ? 480 : 240, mode == 2 ? 640 : 320};
            for (auto [prefix, pages] : {std::pair{"vt", &vtPages}, std::pair{"tn", &tnPages}}) {
                ui::SheetWindow sheet(*pages, screen);
                grab(sheet, QStringLiteral("sheet-%1").arg(QLatin1String(prefix)), mode);
                for (dialogs::Dialog* page : pages->pages()) {
                    ui::DialogWindow window(*page);
                    QString name = QString::fromStdString(page->caption()).toLower();
                    name.replace(QLatin1Char(' '), QLatin1Char('-'));
                    grab(window, QStringLiteral("page-%1-%2").arg(QLatin1String(prefix), name),
                         mode);
                }
            }
            for (const char* name : {"CDlgVTAdvanced", "CDlgVTAdvancedMore", "CDlgRfid"}) {
                dialogs::TableDialog d(*vt::vtScannerTable(name), vtSheet.environment());
                d.open(vtContext);
                ui::DialogWindow window(d);
                grab(window, QStringLiteral("dialog-%1").arg(QLatin1String(name)), mode);
            }
            for (const char* name : {"CDlgTNAdvanced", "CDlgTNAdvancedMore"}) {
                dialogs::TableDialog d(*tn::tnScannerTable(name), tnSheet.environment());
                d.open(tnContext);
                ui::DialogWindow window(d);
                grab(window, QStringLiteral("dialog-%1").arg(QLatin1String(name)), mode);
            }
        }
    }

    // Host and port typed on the first page, OK, Yes: the document on disk holds them.
    void hostAndPortReachTheDocument() {
        {
            VtRig rig;
            vt::VtSettingsSheet sheet(*rig.session, rig.document, rig.device.library,
                                      rig.messages(), "KX2CE", 1);
            typeHostAndPort(rig, sheet, QStringLiteral("dc-picking.local"), QStringLiteral("2323"));
            const QString json = dump(QStringLiteral("vt"), rig.document.currentSettingsPath());
            QVERIFY2(json.contains(QStringLiteral("\"hostAddress\": \"dc-picking.local\"")),
                     qPrintable(json.left(300)));
            QVERIFY(json.contains(QStringLiteral("\"telnetPort\": 2323")));
        }
        {
            TnRig rig;
            tn::TnSettingsSheet sheet(rig.state, rig.document, rig.device.library, rig.messages());
            typeHostAndPort(rig, sheet, QStringLiteral("as400.dc.local"), QStringLiteral("992"));
            const QString json = dump(QStringLiteral("5250"), rig.document.currentSettingsPath());
            QVERIFY2(json.contains(QStringLiteral("\"hostAddress\": \"as400.dc.local\"")),
                     qPrintable(json.left(300)));
            QVERIFY(json.contains(QStringLiteral("\"telnetPort\": 992")));
        }
    }

    // "2D Settings", a symbology box of "4407 Setting" cleared, OK, sheet OK, No: the simulated
    // reader holds the new value afterwards.
    void engineValueReachesTheReader() {
        VtRig rig("0x05");
        const reader::EngineOperation& op = *reader::findEngineOperation("Codabar_2D");
        auto run = reader::engineRun(rig.session->settings.engine, op, reader::Program::Vt);
        run[0].set(1);
        rig.document.syncEngineSettings(reader::kWriteToLibrary);
        rig.messages().queueAnswer(platform::MbResult::No);
        ui::QtDialogRunner runner;
        dialogs::DialogContext context{rig.messages(), runner, 1};
        vt::VtSettingsSheet sheet(*rig.session, rig.document, rig.device.library, rig.messages(),
                                  "KX2CE", 1);
        ui::SheetWindow window(sheet.open(context), {0, 0, 240, 320});
        window.show();
        bool sawFamily = false;
        QTimer::singleShot(0, [&] {
            window.findChild<QTabWidget*>()->setCurrentIndex(1);
            QTimer::singleShot(0, [&] {
                auto* family = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                QVERIFY(family != nullptr);
                sawFamily = family->windowTitle() == QStringLiteral("4407 Setting");
                for (auto* box : family->findChildren<QCheckBox*>()) {
                    if (box->text() == QStringLiteral("Codabar")) box->click();
                }
                buttonNamed(*family, QStringLiteral("OK"))->click();
            });
            buttonNamed(window, QStringLiteral("2D Settings"))->click();
            pressSheetOk(window);
        });
        const bool ok = window.run();
        QVERIFY(ok);
        QVERIFY(sawFamily);
        QCOMPARE(run[0].get(), 0);
        sheet.finish(ok, reader::askWithMessageBox(rig.messages()));
        // What the library holds now, read into a cleared record.
        auto copy = std::make_unique<vt::VtSession>();
        reader::syncEngineSettings(rig.device.library, vt::readerSettings(copy->settings),
                                   reader::kReadFromLibrary);
        QCOMPARE(reader::engineRun(copy->settings.engine, op, reader::Program::Vt)[0].get(), 0);
        run[0].set(1);
        rig.document.syncEngineSettings(reader::kWriteToLibrary);
        reader::syncEngineSettings(rig.device.library, vt::readerSettings(copy->settings),
                                   reader::kReadFromLibrary);
        QCOMPARE(reader::engineRun(copy->settings.engine, op, reader::Program::Vt)[0].get(), 1);
    }
};

QTEST_MAIN(SettingsSheetsUiTest)
#include "settings_sheets_ui_test.moc"
