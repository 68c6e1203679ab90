#include "ui/dialog_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace qn::ui {

using dialogs::Control;
using dialogs::ControlClass;

namespace {

// Room under the dialog for OK and Cancel: the handheld had OK in the caption.
constexpr int kButtonBarHeight = 28;
constexpr int kOkId = -1;
constexpr int kCancelId = -2;

QString text(const std::string& bytes) {
    // Single-byte texts of the records: each byte is its Latin-1 character.
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

DialogWindow::DialogWindow(dialogs::Dialog& model, QWidget* parent, bool embedded)
    : QDialog(parent), model_(model), embedded_(embedded) {
    if (embedded) setWindowFlags(Qt::Widget);
    setWindowTitle(text(model.caption()));
    const device::Rect r = model.rect();
    setFixedSize(r.width, r.height + (embedded ? 0 : kButtonBarHeight));
    build();
    refresh();
}

void DialogWindow::build() {
    for (const Control& c : model_.controls()) {
        QWidget* w = nullptr;
        const int id = c.id;
        switch (c.kind) {
            case ControlClass::Static: {
                auto* label = new QLabel(this);
                // A label laid out over more than one line wraps its text.
                label->setWordWrap(c.rect.height > 24);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                w = label;
                break;
            }
            case ControlClass::Button: {
                auto* button = new QPushButton(this);
                connect(button, &QPushButton::clicked, this, [this, id] {
                    model_.click(id);
                    refresh();
                    finishIfClosed();
                });
                w = button;
                break;
            }
            case ControlClass::CheckBox: {
                auto* box = new QCheckBox(this);
                connect(box, &QCheckBox::clicked, this, [this, id](bool checked) {
                    if (refreshing_) return;
                    model_.setChecked(id, checked);
                    refresh();
                });
                w = box;
                break;
            }
            case ControlClass::RadioButton: {
                auto* radio = new QRadioButton(this);
                radio->setAutoExclusive(false);  // the model keeps the groups
                connect(radio, &QRadioButton::clicked, this, [this, id] {
                    if (refreshing_) return;
                    model_.click(id);
                    refresh();
                });
                w = radio;
                break;
            }
            case ControlClass::Spin: {
                // Two arrows, one above the other, stepping the edit before them.
                auto* spin = new QWidget(this);
                auto* column = new QVBoxLayout(spin);
                column->setContentsMargins(0, 0, 0, 0);
                column->setSpacing(0);
                for (int delta : {1, -1}) {
                    auto* arrow = new QToolButton(spin);
                    arrow->setArrowType(delta > 0 ? Qt::UpArrow : Qt::DownArrow);
                    arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
                    arrow->setObjectName(delta > 0 ? QStringLiteral("up") : QStringLiteral("down"));
                    connect(arrow, &QToolButton::clicked, this, [this, id, delta] {
                        model_.step(id, delta);
                        refresh();
                    });
                    column->addWidget(arrow);
                }
                w = spin;
                break;
            }
            case ControlClass::Edit: {
                auto* edit = new QLineEdit(this);
                if (c.password) edit->setEchoMode(QLineEdit::Password);
                connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& value) {
                    if (refreshing_) return;
                    model_.setText(id, value.toLatin1().toStdString());
                    refresh();
                });
                edit->installEventFilter(this);
                w = edit;
                break;
            }
            case ControlClass::ComboBox:
            case ControlClass::ListBox: {
                if (c.kind == ControlClass::ComboBox) {
                    auto* combo = new QComboBox(this);
                    for (const auto& item : c.items)
                        combo->addItem(text(item));
                    combo->setEditable(c.editable);
                    connect(combo, &QComboBox::activated, this, [this, id](int index) {
                        model_.select(id, index);
                        refresh();
                    });
                    if (c.editable) {
                        connect(combo, &QComboBox::editTextChanged, this,
                                [this, id](const QString& value) {
                                    if (refreshing_) return;
                                    model_.setText(id, value.toLatin1().toStdString());
                                });
                    }
                    w = combo;
                } else {
                    auto* list = new QListWidget(this);
                    for (const auto& item : c.items)
                        list->addItem(text(item));
                    connect(list, &QListWidget::currentRowChanged, this, [this, id](int row) {
                        if (refreshing_) return;
                        model_.select(id, row);
                        refresh();
                    });
                    w = list;
                }
                break;
            }
            case ControlClass::GroupBox:
                w = new QGroupBox(this);
                break;
            case ControlClass::ListView: {
                auto* table = new QTableWidget(static_cast<int>(c.cells.size()),
                                               static_cast<int>(c.columns.size()), this);
                table->verticalHeader()->hide();
                table->setEditTriggers(QAbstractItemView::NoEditTriggers);
                table->setShowGrid(true);
                for (int column = 0; column < static_cast<int>(c.columns.size()); ++column) {
                    table->setHorizontalHeaderItem(column,
                                                   new QTableWidgetItem(text(c.columns[column])));
                    if (column < static_cast<int>(c.columnWidths.size()))
                        table->setColumnWidth(column, c.columnWidths[column]);
                }
                for (int row = 0; row < static_cast<int>(c.cells.size()); ++row) {
                    for (int column = 0; column < static_cast<int>(c.cells[row].size()); ++column) {
                        auto* item = new QTableWidgetItem(text(c.cells[row][column]));
                        item->setTextAlignment(Qt::AlignCenter);
                        table->setItem(row, column, item);
                    }
                }
                connect(table, &QTableWidget::cellClicked, this, [this, id](int row, int column) {
                    model_.clickCell(id, row, column);
                    refresh();
                });
                w = table;
                break;
            }
        }
        // A combo box's rectangle includes its dropped list; the closed box is one line.
        w->setGeometry(c.rect.x, c.rect.y, c.rect.width,
                       c.kind == ControlClass::ComboBox ? std::min(c.rect.height, comboHeight())
                                                        : c.rect.height);
        if (!c.fontFace.empty()) {
            QFont font(QString::fromStdString(c.fontFace));
            font.setPointSizeF(c.fontPointTenths / 10.0);
            w->setFont(font);
        }
        widgets_[id] = w;
    }
    refresh();
    // A check box keeps its small-screen width on the large screen, where the substituted font
    // is wider than the handheld's: let its text show while it stays inside the dialog and
    // clear of the controls to its right.
    for (const Control& c : model_.controls()) {
        if (c.kind != ControlClass::CheckBox && c.kind != ControlClass::RadioButton) continue;
        QWidget* w = widgets_.at(c.id);
        int room = model_.rect().width - c.rect.x;
        for (const Control& other : model_.controls()) {
            const bool sameLine =
                other.rect.y < c.rect.y + c.rect.height &&
                c.rect.y < other.rect.y + std::min(other.rect.height, comboHeight());
            if (&other != &c && sameLine && other.rect.x > c.rect.x) {
                room = std::min(room, other.rect.x - c.rect.x - 2);
            }
        }
        const int needed = std::min(w->sizeHint().width(), room);
        if (needed > c.rect.width) w->resize(needed, w->height());
    }
    if (embedded_) return;
    const device::Rect r = model_.rect();
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(r.width - 64, r.height + 2, 60, kButtonBarHeight - 4);
    ok->setGeometry(r.width - 128, r.height + 2, 60, kButtonBarHeight - 4);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (model_.pressOk()) accept();
        refresh();
    });
    connect(cancel, &QPushButton::clicked, this, &DialogWindow::reject);
    widgets_[kOkId] = ok;
    widgets_[kCancelId] = cancel;
}

void DialogWindow::refresh() {
    refreshing_ = true;
    for (const Control& c : model_.controls()) {
        QWidget* w = widgets_.at(c.id);
        w->setEnabled(c.enabled);
        w->setVisible(c.visible);
        const QString value = text(c.text);
        if (auto* label = dynamic_cast<QLabel*>(w)) label->setText(value);
        if (auto* button = dynamic_cast<QAbstractButton*>(w)) {
            button->setText(value);
            if (c.kind == ControlClass::CheckBox || c.kind == ControlClass::RadioButton) {
                button->setChecked(c.checked);
            }
        }
        if (auto* edit = dynamic_cast<QLineEdit*>(w)) {
            edit->setReadOnly(c.readOnly);
            if (edit->text() != value) edit->setText(value);
        }
        if (auto* combo = dynamic_cast<QComboBox*>(w)) {
            combo->setCurrentIndex(c.selected);
            if (c.editable && combo->currentText() != value) combo->setEditText(value);
        }
        if (auto* list = dynamic_cast<QListWidget*>(w)) list->setCurrentRow(c.selected);
        if (auto* group = dynamic_cast<QGroupBox*>(w)) group->setTitle(value);
    }
    refreshing_ = false;
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        for (const auto& [id, w] : widgets_) {
            if (w != watched || id < 0 || !model_.control(id).readOnly) continue;
            // A read-only display opens its picker: it must not keep the focus, or closing the
            // picker would give it back and open the picker again.
            w->clearFocus();
            setFocus();
            model_.focus(id);
            refresh();
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void DialogWindow::finishIfClosed() {
    if (model_.isOpen()) return;
    if (model_.result() == dialogs::DialogResult::Ok) {
        accept();
    } else {
        QDialog::reject();
    }
}

void DialogWindow::reject() {
    // Cancel, Escape and the window's close all end here: the model hears of each. A page
    // passes Escape on to its sheet.
    if (embedded_) {
        auto* sheet = qobject_cast<QDialog*>(window());
        if (sheet != nullptr && sheet != this) sheet->reject();
        return;
    }
    if (model_.isOpen()) model_.pressCancel();
    QDialog::reject();
}

int DialogWindow::comboHeight() const {
    // The closed box: one line of the dialog's font.
    return 24;
}

QWidget* DialogWindow::widget(int controlId) const {
    auto it = widgets_.find(controlId);
    return it == widgets_.end() ? nullptr : it->second;
}

dialogs::DialogResult DialogWindow::run() {
    exec();
    return model_.result();
}

SheetWindow::SheetWindow(dialogs::PropertySheet& sheet, device::Rect screen, QWidget* parent)
    : QDialog(parent), sheet_(sheet) {
    setWindowTitle(text(sheet.caption()));
    setFixedSize(screen.width, screen.height + kButtonBarHeight);
    auto* tabs = new QTabWidget(this);
    tabs->setGeometry(0, 0, screen.width, screen.height);
    for (dialogs::Dialog* page : sheet.pages()) {
        auto* window = new DialogWindow(*page, tabs, true);
        pages_.push_back(window);
        tabs->addTab(window, text(page->caption()));
    }
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(screen.width - 64, screen.height + 2, 60, kButtonBarHeight - 4);
    ok->setGeometry(screen.width - 128, screen.height + 2, 60, kButtonBarHeight - 4);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (sheet_.pressOk()) {
            accept();
        } else {
            for (DialogWindow* page : pages_)
                page->refresh();
        }
    });
    connect(cancel, &QPushButton::clicked, this, &SheetWindow::reject);
}

void SheetWindow::reject() {
    // Cancel, Escape and the window's close: every page hears of it.
    if (!cancelled_) sheet_.pressCancel();
    cancelled_ = true;
    QDialog::reject();
}

bool SheetWindow::run() {
    return exec() == QDialog::Accepted;
}

dialogs::DialogResult QtDialogRunner::runModal(dialogs::Dialog& dialog) {
    DialogWindow window(dialog, parent_);
    return window.run();
}

}  // namespace qn::ui
