// The dialog renderer: every control class round-trips between widget and model, and every VT
// dialog is drawn in both screen modes (screenshots kept under the build's screenshots folder).

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include "common/dialogs/char_entry_dialog.h"
#include "common/dialogs/engine/engine_dialogs.h"
#include "tests/support/fake_services.h"
#include "ui/dialog_window.h"
#include "vt/dialogs/vt_key_dialogs.h"
#include "vt/dialogs/vt_settings_sheet.h"

using namespace qn;

namespace {

struct Record {
    std::uint8_t flag = 0;
    std::uint8_t number = 7;
    std::uint8_t choice = 0;
    std::uint8_t pick = 1;
    reader::Bytes<9> code{};
};

enum Id { kLabel = 1, kButton, kCheck, kRadioA, kRadioB, kEdit, kCombo, kList, kGroup, kGrid };

class EveryClass final : public dialogs::Dialog {
  public:
    explicit EveryClass(Record& r) : Dialog("Every class", {0, 0, 240, 320}) {
        addGroup(kGroup, "Group", {2, 2, 236, 300});
        addStatic(kLabel, "Label", {8, 20, 60, 14});
        addButton(kButton, "Button", {80, 20, 60, 16});
        addCheck(kCheck, "Check", {8, 40, 80, 14}).number = dialogs::bindFlag(r.flag);
        addRadio(kRadioA, "A", {8, 60, 40, 14}, 1).number = dialogs::bindByte(r.choice);
        addRadio(kRadioB, "B", {60, 60, 40, 14}, 1);
        addEdit(kEdit, {8, 80, 60, 16}).number = dialogs::bindByte(r.number, {{1, 20}});
        addCombo(kCombo, {8, 100, 100, 16}, {"zero", "one", "two"}).number =
            dialogs::bindByte(r.pick);
        addList(kList, {8, 124, 100, 50}, {"x", "y"});
        auto& grid = addListView(kGrid, {8, 180, 220, 100}, {"a", "b"}, {50, 50});
        grid.cells = {{"1", "2"}, {"3", "4"}};
    }
    int buttons = 0;
    int cancels = 0;
    std::vector<std::pair<int, int>> cells;

  protected:
    void onCancel() override { ++cancels; }
    void onChanged(int id) override {
        if (id == kButton) ++buttons;
    }
    void onCell(int, int row, int column) override { cells.emplace_back(row, column); }
};

class CancelRunner final : public dialogs::DialogRunner {
  public:
    dialogs::DialogResult runModal(dialogs::Dialog&) override {
        return dialogs::DialogResult::Cancel;
    }
};

template <class T>
T* as(ui::DialogWindow& window, int id) {
    return qobject_cast<T*>(window.widget(id));
}

QString screenshotDir() {
    QString dir = QStringLiteral(QN_TEST_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

}  // namespace

class DialogWindowTest : public QObject {
    Q_OBJECT

    Record record_;
    platform::RecordingMessageBoxes messages_;
    CancelRunner runner_;
    dialogs::DialogContext context_{messages_, runner_, 1};
    std::unique_ptr<EveryClass> model_;
    std::unique_ptr<ui::DialogWindow> window_;

  private Q_SLOTS:
    // One window over a model with a control of every class; each test drives one class.
    void init() {
        record_ = Record{};
        model_ = std::make_unique<EveryClass>(record_);
        model_->open(context_);
        window_ = std::make_unique<ui::DialogWindow>(*model_);
    }
    void cleanup() {
        window_.reset();
        model_.reset();
    }

    void staticAndGroupShowTheirText() {
        QCOMPARE(as<QLabel>(*window_, kLabel)->text(), QStringLiteral("Label"));
        QCOMPARE(qobject_cast<QGroupBox*>(window_->widget(kGroup))->title(),
                 QStringLiteral("Group"));
        model_->control(kLabel).text = "Changed";
        model_->control(kLabel).visible = false;
        window_->refresh();
        QCOMPARE(as<QLabel>(*window_, kLabel)->text(), QStringLiteral("Changed"));
        QVERIFY(as<QLabel>(*window_, kLabel)->isHidden());
    }

    void buttonClicksReachTheModel() {
        QTest::mouseClick(as<QPushButton>(*window_, kButton), Qt::LeftButton);
        QCOMPARE(model_->buttons, 1);
        model_->control(kButton).enabled = false;
        window_->refresh();
        QVERIFY(!as<QPushButton>(*window_, kButton)->isEnabled());
    }

    void checkBoxRoundTrips() {
        QVERIFY(!as<QCheckBox>(*window_, kCheck)->isChecked());
        as<QCheckBox>(*window_, kCheck)->click();
        QVERIFY(model_->control(kCheck).checked);
        QVERIFY(model_->pressOk());
        QCOMPARE(record_.flag, std::uint8_t{1});
    }

    void radioGroupRoundTrips() {
        QVERIFY(as<QRadioButton>(*window_, kRadioA)->isChecked());
        as<QRadioButton>(*window_, kRadioB)->click();
        QVERIFY(model_->control(kRadioB).checked);
        QVERIFY(!as<QRadioButton>(*window_, kRadioA)->isChecked());
        QVERIFY(model_->pressOk());
        QCOMPARE(record_.choice, std::uint8_t{1});
    }

    void editRoundTrips() {
        QCOMPARE(as<QLineEdit>(*window_, kEdit)->text(), QStringLiteral("7"));
        as<QLineEdit>(*window_, kEdit)->selectAll();
        QTest::keyClicks(as<QLineEdit>(*window_, kEdit), QStringLiteral("12"));
        QCOMPARE(model_->control(kEdit).text, std::string("12"));
        QVERIFY(model_->pressOk());
        QCOMPARE(record_.number, std::uint8_t{12});
    }

    void comboBoxRoundTrips() {
        QCOMPARE(as<QComboBox>(*window_, kCombo)->currentIndex(), 1);
        Q_EMIT as<QComboBox>(*window_, kCombo)->activated(2);
        QCOMPARE(model_->control(kCombo).selected, 2);
        QVERIFY(model_->pressOk());
        QCOMPARE(record_.pick, std::uint8_t{2});
    }

    void listBoxRoundTrips() {
        as<QListWidget>(*window_, kList)->setCurrentRow(1);
        QCOMPARE(model_->control(kList).selected, 1);
        model_->control(kList).selected = 0;
        window_->refresh();
        QCOMPARE(as<QListWidget>(*window_, kList)->currentRow(), 0);
    }

    void listViewCellsReachTheModel() {
        auto* grid = as<QTableWidget>(*window_, kGrid);
        QCOMPARE(grid->horizontalHeaderItem(1)->text(), QStringLiteral("b"));
        QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("4"));
        Q_EMIT grid->cellClicked(1, 0);
        QCOMPARE(model_->cells, (std::vector<std::pair<int, int>>{{1, 0}}));
    }

    void escapeAndClosingCancelTheModel() {
        // Each way of leaving without OK reaches the model's cancel, once.
        for (int way = 0; way < 3; ++way) {
            init();
            window_->show();
            QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
            if (way == 0) QTest::keyClick(window_.get(), Qt::Key_Escape);
            if (way == 1) window_->close();
            if (way == 2) {
                window_->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
            }
            QCOMPARE(model_->cancels, 1);
            QVERIFY(!model_->isOpen());
            QCOMPARE(window_->result(), int(QDialog::Rejected));
            cleanup();
        }
    }

    void sheetWithNestedDialogs();

    // Every engine and symbology dialog drawn on both screens, with every reader bit set so
    // that rows for one reader type show too.
    void everyEngineDialogInBothModes() {
        auto session = std::make_unique<vt::VtSession>();
        platform::RecordingMessageBoxes messages;
        auto environment = dialogs::engines::engineEnvironment(
            session->settings, vt::vtSettingsFields(), nullptr, messages);
        environment.readerType = 0xFFFFFFFF;
        for (int mode : {1, 2}) {
            for (const auto& table : dialogs::engines::engineTables()) {
                CancelRunner runner;
                dialogs::DialogContext context{messages, runner, mode};
                dialogs::TableDialog model(table, environment);
                model.open(context);
                ui::DialogWindow window(model);
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
                const QImage image = window.grab().toImage();
                QCOMPARE(image.width(), mode == 2 ? 480 : 240);
                const QString file =
                    QStringLiteral("%1/engine-%2-%3.png")
                        .arg(screenshotDir(), QString::fromStdString(table.className),
                             mode == 2 ? QStringLiteral("480x640") : QStringLiteral("240x320"));
                QVERIFY(image.save(file));
            }
        }
    }

    void spinControlsStepTheEdit() {
        auto session = std::make_unique<vt::VtSession>();
        platform::RecordingMessageBoxes messages;
        auto environment = dialogs::engines::engineEnvironment(
            session->settings, vt::vtSettingsFields(), nullptr, messages);
        dialogs::TableDialog model(*dialogs::engines::findEngineTable("CDlg4407Code93"),
                                   environment);
        model.open(context_);
        ui::DialogWindow window(model);
        auto* spin = window.widget(dialogs::rowControlId(0, dialogs::kFirstSpin));
        QVERIFY(spin != nullptr);
        spin->findChild<QToolButton*>(QStringLiteral("up"))->click();
        QCOMPARE(model.control(dialogs::rowControlId(0, dialogs::kFirst)).text, std::string("1"));
        spin->findChild<QToolButton*>(QStringLiteral("up"))->click();
        QCOMPARE(as<QLineEdit>(window, dialogs::rowControlId(0, dialogs::kFirst))->text(),
                 QStringLiteral("2"));
        spin->findChild<QToolButton*>(QStringLiteral("down"))->click();
        QCOMPARE(model.control(dialogs::rowControlId(0, dialogs::kFirst)).text, std::string("1"));
    }

    void everyVtDialogInBothModes() {
        for (int mode : {1, 2}) {
            auto session = std::make_unique<vt::VtSession>();
            vt::slotFunction(session->settings, 3) = 25;
            std::vector<std::pair<QString, std::unique_ptr<dialogs::Dialog>>> all;
            all.emplace_back("char-entry", std::make_unique<dialogs::CharEntryDialog>(
                                               "Key Code", 5, std::span<const std::uint8_t>{}));
            all.emplace_back("select-key", std::make_unique<vt::SelectKeyDialog>(
                                               "F1", 1, vt::SelectKeyDialog::Code{}));
            all.emplace_back("key-mapping",
                             std::make_unique<vt::CDlgVTKeyMapping>(session->settings, "KX4CE", 1));
            all.emplace_back("key-panel", std::make_unique<vt::VtKeyPanel>());
            all.emplace_back("screen", std::make_unique<vt::CDlgVTScreen>(session->settings));
            all.emplace_back("set-config-file", std::make_unique<vt::SetConfigFileDialog>(
                                                    "/home/op/QuillNet_VT_v3.qnvt", nullptr));
            for (auto& [name, model] : all) {
                platform::RecordingMessageBoxes messages;
                CancelRunner runner;
                dialogs::DialogContext context{messages, runner, mode};
                model->open(context);
                ui::DialogWindow window(*model);
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
                const QImage image = window.grab().toImage();
                QCOMPARE(image.width(), mode == 2 ? 480 : 240);
                const QString file =
                    QStringLiteral("%1/dialog-%2-%3.png")
                        .arg(screenshotDir(), name,
                             mode == 2 ? QStringLiteral("480x640") : QStringLiteral("240x320"));
                QVERIFY(image.save(file));
            }
        }
    }
};

void DialogWindowTest::sheetWithNestedDialogs() {
    auto session = std::make_unique<vt::VtSession>();
    session->settingsLoaded = 1;
    test::FakeServices fakes;
    reader::ReaderLibrary reader(fakes.services);
    vt::VtDocument document(*session, reader, fakes.messages, QDir::tempPath().toStdString());
    ui::QtDialogRunner runner;
    dialogs::DialogContext context{fakes.messages, runner, 1};
    vt::VtSettingsSheet sheet(*session, document, reader, fakes.messages, "KX2CE", 1);
    dialogs::PropertySheet& pages = sheet.open(context);
    ui::SheetWindow window(pages, {0, 0, 240, 320});

    // In the sheet: map F1 to "PgUp" through "Select A Key", tick a Screen box, then OK.
    QTimer::singleShot(0, [&] {
        auto* f1 = window.findChild<QPushButton*>();
        for (auto* button : window.findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("F1")) f1 = button;
        }
        QTimer::singleShot(0, [] {
            auto* select = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(select != nullptr);
            auto* combo = select->findChild<QComboBox*>();
            Q_EMIT combo->activated(21);
            for (auto* button : select->findChildren<QPushButton*>()) {
                if (button->text() == QStringLiteral("OK")) button->click();
            }
        });
        f1->click();
        for (auto* box : window.findChildren<QCheckBox*>()) {
            if (box->text() == QStringLiteral("ScrollBar")) box->click();
        }
        window.findChild<QPushButton*>(QStringLiteral("ok"))->click();
    });
    QVERIFY(window.run());
    QCOMPARE(vt::slotFunction(session->settings, 1), std::uint8_t{21});
    QCOMPARE(session->settings.scrollBarsSetting.get(), 1);
    std::vector<std::string> asked;
    sheet.finish(true, [&](std::string_view text) {
        asked.emplace_back(text);
        return false;
    });
    QCOMPARE(asked.size(), std::size_t{1});
}

QTEST_MAIN(DialogWindowTest)
#include "dialog_window_test.moc"
