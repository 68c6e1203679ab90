// Every dialog, sheet page and panel of both programs opened on both screens: the window fits
// the screen, every control lies inside its window and clear of the others, and every text (for
// lists every entry) fits its control at the font's full height. Screenshots of each are kept
// under the build's screenshots folder.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

#include "common/dialogs/char_entry_dialog.h"
#include "common/dialogs/engine/engine_dialogs.h"
#include "tests/support/fake_services.h"
#include "tn5250/dialogs/tn_key_dialogs.h"
#include "tn5250/dialogs/tn_settings_sheet.h"
#include "ui/dialog_window.h"
#include "vt/dialogs/vt_key_dialogs.h"
#include "vt/dialogs/vt_settings_sheet.h"

using namespace qn;

namespace {

class CancelRunner final : public dialogs::DialogRunner {
  public:
    dialogs::DialogResult runModal(dialogs::Dialog&) override {
        return dialogs::DialogResult::Cancel;
    }
};

QString sizeName(int mode) {
    return mode == 2 ? QStringLiteral("480x640") : QStringLiteral("240x320");
}

QRect inWindow(const QWidget* w) {
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
}

// What does not fit in one control, or an empty text when all does.
QString textFault(QWidget* w) {
    const QFontMetrics fm(w->font());
    const int full = fm.height();
    auto wide = [&](const QString& value, int room) {
        return fm.horizontalAdvance(value) > room
                   ? QStringLiteral("\"%1\" wider than %2 px").arg(value).arg(room)
                   : QString();
    };
    auto low = [&](int room) {
        return full > room ? QStringLiteral("text %1 px high in %2 px").arg(full).arg(room)
                           : QString();
    };
    QStyle* style = w->style();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const QRect room = label->contentsRect();
        if (label->text().isEmpty()) return {};
        const QRect needed =
            fm.boundingRect(QRect(0, 0, room.width(), 100000),
                            label->wordWrap() ? Qt::TextWordWrap : 0, label->text());
        if (needed.width() > room.width() || needed.height() > room.height())
            return QStringLiteral("\"%1\" needs %2x%3 in %4x%5")
                .arg(label->text())
                .arg(needed.width())
                .arg(needed.height())
                .arg(room.width())
                .arg(room.height());
        return {};
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        const QRect room = style->subElementRect(QStyle::SE_LineEditContents, &option, edit);
        // The edit's own margins of 2 pixels left and right and 1 above and below.
        const QString fault = low(room.height() - 2);
        return fault.isEmpty() ? wide(edit->text(), room.width() - 4) : fault;
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = true;
        const QRect room = style->subControlRect(QStyle::CC_ComboBox, &option,
                                                 QStyle::SC_ComboBoxEditField, combo);
        if (QString fault = low(room.height()); !fault.isEmpty()) return fault;
        for (int i = 0; i < combo->count(); ++i) {
            if (QString fault = wide(combo->itemText(i), room.width()); !fault.isEmpty())
                return fault;
        }
        return {};
    }
    if (auto* list = qobject_cast<QListWidget*>(w)) {
        const int room = list->viewport()->width() - 4;
        for (int i = 0; i < list->count(); ++i) {
            if (QString fault = wide(list->item(i)->text(), room); !fault.isEmpty()) return fault;
        }
        return {};
    }
    if (auto* table = qobject_cast<QTableWidget*>(w)) {
        for (int row = 0; row < table->rowCount(); ++row) {
            for (int column = 0; column < table->columnCount(); ++column) {
                const QTableWidgetItem* cell = table->item(row, column);
                if (cell == nullptr) continue;
                if (QString fault = wide(cell->text(), table->columnWidth(column) - 4);
                    !fault.isEmpty())
                    return fault;
                if (QString fault = low(table->rowHeight(row) - 2); !fault.isEmpty()) return fault;
            }
        }
        return {};
    }
    if (auto* box = qobject_cast<QCheckBox*>(w); box != nullptr || qobject_cast<QRadioButton*>(w)) {
        auto* button = qobject_cast<QAbstractButton*>(w);
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room = style->subElementRect(
            box != nullptr ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option,
            button);
        const QRect indicator = style->subElementRect(
            box != nullptr ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator,
            &option, button);
        if (!button->rect().contains(indicator)) return QStringLiteral("square cut");
        const QString fault = low(room.height());
        return fault.isEmpty() ? wide(button->text(), room.width()) : fault;
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth);
        const QString fault = low(button->height() - 2 * frame);
        return fault.isEmpty() ? wide(button->text(), button->width() - 2 * frame) : fault;
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect room =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        return wide(group->title(), room.width());
    }
    if (auto* bar = qobject_cast<QTabBar*>(w)) {
        for (int i = 0; i < bar->count(); ++i) {
            if (QString fault = wide(bar->tabText(i), bar->tabRect(i).width() - 4);
                !fault.isEmpty())
                return fault;
            if (QString fault = low(bar->tabRect(i).height()); !fault.isEmpty()) return fault;
        }
    }
    return {};
}

// The controls a window shows: the renderer's widgets, the arrows of spin controls, the
// caption strip's buttons and a sheet's tab bar; not the parts Qt makes inside them.
std::vector<QWidget*> controlsOf(QWidget* window) {
    std::vector<QWidget*> found;
    std::function<void(QWidget*)> walk = [&](QWidget* parent) {
        for (QObject* child : parent->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            if (w == nullptr || !w->isVisibleTo(window)) continue;
            if (dynamic_cast<ui::DialogWindow*>(w) != nullptr ||
                qobject_cast<QTabWidget*>(w) != nullptr ||
                w->objectName() == QStringLiteral("captionStrip") ||
                w->metaObject()->className() == QByteArray("QStackedWidget")) {
                walk(w);
                continue;
            }
            if (qobject_cast<QTabBar*>(w) != nullptr) {
                found.push_back(w);
                continue;
            }
            if (QString(w->metaObject()->className()) == QStringLiteral("QWidget")) {
                // A spin control: its arrows are the controls.
                for (auto* arrow : w->findChildren<QToolButton*>())
                    found.push_back(arrow);
                continue;
            }
            found.push_back(w);
        }
    };
    walk(window);
    return found;
}

// The list of faults of one window as shown.
QStringList faults(QWidget* window, QSize screen) {
    QStringList out;
    if (window->width() > screen.width() || window->height() > screen.height())
        out << QStringLiteral("window %1x%2").arg(window->width()).arg(window->height());
    const std::vector<QWidget*> controls = controlsOf(window);
    int lineHeight = 0;
    for (QWidget* w : controls) {
        if (qobject_cast<QComboBox*>(w) != nullptr) lineHeight = std::max(lineHeight, w->height());
    }
    auto name = [](QWidget* w) {
        QString label = w->metaObject()->className();
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            label += QStringLiteral(" \"") + b->text() + '"';
        if (auto* l = qobject_cast<QLabel*>(w)) label += QStringLiteral(" \"") + l->text() + '"';
        return label;
    };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        QWidget* w = controls[i];
        const QRect r = inWindow(w);
        if (!window->rect().contains(r))
            out << QStringLiteral("%1 outside the window at %2,%3 %4x%5")
                       .arg(name(w))
                       .arg(r.x())
                       .arg(r.y())
                       .arg(r.width())
                       .arg(r.height());
        if (QString fault = textFault(w); !fault.isEmpty()) out << name(w) + ": " + fault;
        // A stylus needs buttons at least as tall as a list box.
        const bool small = qobject_cast<QToolButton*>(w) != nullptr ||
                           (qobject_cast<QPushButton*>(w) != nullptr &&
                            qobject_cast<QPushButton*>(w)->text() == QStringLiteral("..."));
        if (small && w->height() < lineHeight)
            out << QStringLiteral("%1 %2 px high, a list box %3")
                       .arg(name(w))
                       .arg(w->height())
                       .arg(lineHeight);
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const QRect other = inWindow(controls[j]);
            if (!r.intersects(other)) continue;
            // A group box frames the controls inside it.
            if ((qobject_cast<QGroupBox*>(w) != nullptr && r.contains(other)) ||
                (qobject_cast<QGroupBox*>(controls[j]) != nullptr && other.contains(r)))
                continue;
            out << name(w) + " overlaps " + name(controls[j]);
        }
    }
    return out;
}

QString screenshotDir() {
    QString dir = QStringLiteral(QN_TEST_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

// Shows the window, checks it and keeps its picture.
void check(QWidget& window, const QString& name, int mode) {
    const QSize screen = mode == 2 ? QSize(480, 640) : QSize(240, 320);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().toImage().save(
        QStringLiteral("%1/fit-%2-%3.png").arg(screenshotDir(), name, sizeName(mode))));
    const QStringList found = faults(&window, screen);
    QVERIFY2(found.isEmpty(),
             qPrintable(name + " at " + sizeName(mode) + ":\n  " + found.join("\n  ")));
}

// A sheet: each page in turn.
void checkSheet(ui::SheetWindow& sheet, const QString& name, int mode) {
    auto* tabs = sheet.findChild<QTabWidget*>();
    QVERIFY(tabs != nullptr);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QString page = tabs->tabText(i).toLower();
        page.replace(QLatin1Char(' '), QLatin1Char('-'));
        check(sheet, name + QLatin1Char('-') + page, mode);
    }
}

// Controls that read together share a line; a heading and the row after it, or two rows of their
// own, do not. Without a second text the second control is the one after the first.
struct LineCase {
    const char* dialog;
    const char* first;
    const char* second;
    bool sameLine;
};
constexpr LineCase kLineCases[] = {
    {"CDlgRfid", "Maximum length:", "byte.", true},
    {"CDlgRfid", "byte.", "Field delimiter:", false},
    {"CDlgVTAdvanced", "Input", "Check Leading Code", false},
    {"CDlgVTAdvanced", "Check Leading Code", nullptr, true},
    {"CDlgVTAdvanced", "Check Code Length", nullptr, true},
    {"CDlgVTAdvanced", "Maximum Length:", "Data", false},
    {"CDlgVTAdvanced", "Data", "Prefix Code", false},
    {"CDlgVTAdvanced", "Prefix Code", nullptr, true},
    {"CDlgVTAdvanced", "Suffix Code", nullptr, true},
    {"CDlgVTAdvanced", "Auto Enter", "Char replace", false},
    {"CDlgVTAdvanced", "Char replace", "->", true},
    {"CDlgVTAdvanced", "->", "more", false},
    {"CDlgTNAdvanced", "Input", "Check Leading Code", false},
    {"CDlgTNAdvanced", "Check Leading Code", nullptr, true},
};

void checkLines(const ui::DialogWindow& window, const dialogs::Dialog& model, const QString& name,
                int mode) {
    const auto& controls = model.controls();
    auto find = [&](const char* text) {
        return std::find_if(controls.begin(), controls.end(),
                            [text](const dialogs::Control& c) { return c.text == text; });
    };
    for (const LineCase& line : kLineCases) {
        if (name != QLatin1String(line.dialog)) continue;
        const auto first = find(line.first);
        QVERIFY2(first != controls.end(), line.first);
        const auto second = line.second != nullptr ? find(line.second) : std::next(first);
        QVERIFY2(second != controls.end(), line.first);
        const QRect a = inWindow(window.widget(first->id));
        const QRect b = inWindow(window.widget(second->id));
        const bool shared = a.top() <= b.bottom() && b.top() <= a.bottom();
        QVERIFY2(shared == line.sameLine,
                 qPrintable(QStringLiteral("%1 at %2: \"%3\" and \"%4\" %5 a line")
                                .arg(name, sizeName(mode), QLatin1String(line.first),
                                     QString::fromStdString(second->text),
                                     QLatin1String(line.sameLine ? "do not share" : "share"))));
    }
}

}  // namespace

class ScreenFitTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void everyTableDialog() {
        auto session = std::make_unique<vt::VtSession>();
        test::FakeServices fakes;
        reader::ReaderLibrary reader(fakes.services);
        vt::VtDocument document(*session, reader, fakes.messages, QDir::tempPath().toStdString());
        for (int mode : {1, 2}) {
            CancelRunner runner;
            dialogs::DialogContext context{fakes.messages, runner, mode};
            vt::VtSettingsSheet sheet(*session, document, reader, fakes.messages, "KX4CE", 1);
            sheet.open(context);
            dialogs::TableEnvironment environment = sheet.environment();
            // Every reader bit set: the rows of every reader type show.
            environment.readerType = 0xFFFFFFFF;
            std::vector<const dialogs::DialogTable*> tables;
            for (const auto& table : dialogs::engines::engineTables())
                tables.push_back(&table);
            for (const char* name : {"CDlgVTAdvanced", "CDlgVTAdvancedMore", "CDlgRfid"})
                tables.push_back(vt::vtScannerTable(name));
            for (const dialogs::DialogTable* table : tables) {
                QVERIFY(table != nullptr);
                dialogs::TableDialog model(*table, environment);
                model.open(context);
                ui::DialogWindow window(model);
                check(window, QString::fromStdString(table->className), mode);
                checkLines(window, model, QString::fromStdString(table->className), mode);
            }
            // The 5250 program's scanner dialogs, on its own record.
            tn::TnSessionState state;
            tn::TnDocument tnDocument(state, reader, fakes.messages,
                                      QDir::tempPath().toStdString());
            tn::TnSettingsSheet tnSheet(state, tnDocument, reader, fakes.messages);
            tnSheet.open(context);
            for (const char* name : {"CDlgTNAdvanced", "CDlgTNAdvancedMore"}) {
                QVERIFY(tn::tnScannerTable(name) != nullptr);
                dialogs::TableDialog model(*tn::tnScannerTable(name), tnSheet.environment());
                model.open(context);
                ui::DialogWindow window(model);
                check(window, QLatin1String(name), mode);
                checkLines(window, model, QLatin1String(name), mode);
            }
        }
    }

    void everyHandMadeDialogAndPanel() {
        for (int mode : {1, 2}) {
            auto session = std::make_unique<vt::VtSession>();
            auto tn = std::make_unique<tn::TnSessionState>();
            vt::slotFunction(session->settings, 3) = 25;
            struct Entry {
                QString name;
                std::unique_ptr<dialogs::Dialog> model;
                ui::DialogWindow::Strip strip = ui::DialogWindow::Strip::OkAndClose;
            };
            std::vector<Entry> all;
            const std::uint8_t code[] = {0x1B, '[', 'A'};
            all.push_back({"char-entry", std::make_unique<dialogs::CharEntryDialog>(
                                             "Key Code", 5, std::span<const std::uint8_t>(code))});
            all.push_back({"select-key", std::make_unique<vt::SelectKeyDialog>(
                                             "F1", 1, vt::SelectKeyDialog::Code{})});
            all.push_back(
                {"select-object-key", std::make_unique<tn::SelectObjectKeyDialog>("F1", 1)});
            all.push_back({"vt-key-panel", std::make_unique<vt::VtKeyPanel>(),
                           ui::DialogWindow::Strip::CloseOnly});
            all.push_back({"tn-key-panel", std::make_unique<tn::TnKeyPanel>(),
                           ui::DialogWindow::Strip::CloseOnly});
            all.push_back({"set-config-file", std::make_unique<dialogs::SetConfigFileDialog>(
                                                  "/home/op/QuillNet_VT_v3.qnvt", nullptr)});
            for (Entry& entry : all) {
                platform::RecordingMessageBoxes messages;
                CancelRunner runner;
                dialogs::DialogContext context{messages, runner, mode};
                entry.model->open(context);
                ui::DialogWindow window(*entry.model, nullptr, entry.strip);
                check(window, entry.name, mode);
            }
        }
    }

    void bothSettingsSheets() {
        for (int mode : {1, 2}) {
            const device::Rect screen{0, 0, mode == 2 ? 480 : 240, mode == 2 ? 640 : 320};
            test::FakeServices fakes;
            reader::ReaderLibrary reader(fakes.services);
            CancelRunner runner;
            dialogs::DialogContext context{fakes.messages, runner, mode};
            {
                auto session = std::make_unique<vt::VtSession>();
                session->settingsLoaded = 1;
                vt::VtDocument document(*session, reader, fakes.messages,
                                        QDir::tempPath().toStdString());
                vt::VtSettingsSheet sheet(*session, document, reader, fakes.messages, "KX4CE", 1);
                ui::SheetWindow window(sheet.open(context), screen);
                checkSheet(window, QStringLiteral("sheet-vt"), mode);
            }
            {
                tn::TnSessionState state;
                state.settingsLoaded = 1;
                tn::TnDocument document(state, reader, fakes.messages,
                                        QDir::tempPath().toStdString());
                tn::TnSettingsSheet sheet(state, document, reader, fakes.messages);
                ui::SheetWindow window(sheet.open(context), screen);
                checkSheet(window, QStringLiteral("sheet-tn"), mode);
            }
        }
    }
};

QTEST_MAIN(ScreenFitTest)
#include "screen_fit_test.moc"
