#include "ui/dialog_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

#include <algorithm>
#include <functional>

namespace qn::ui {

using dialogs::Control;
using dialogs::ControlClass;

namespace {

constexpr int kOkId = -1;
constexpr int kCancelId = -2;
// The handheld's screen, which the models' rectangles are drawn for.
constexpr int kDesignWidth = 240;
// The dialog font's pixel sizes tried, largest first, at the small screen's scale.
constexpr int kLargestPixels = 12;
constexpr int kSmallestPixels = 8;

QString text(const std::string& bytes) {
    // Single-byte texts of the records: each byte is its Latin-1 character.
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QFont dialogFont(int pixels) {
    QFont font(QString::fromLatin1(device::kDialogFontFace));
    font.setPixelSize(pixels);
    return font;
}

int scaleFor(int screenWidth) {
    return std::max(1, screenWidth / kDesignWidth);
}

// The strip at the top of a window: its caption, then OK and the close button. Returns its
// height.
int addCaptionStrip(QWidget* window, const QString& caption, int width, int scale, bool withOk,
                    const std::function<void()>& ok, const std::function<void()>& close) {
    const QFont font = dialogFont(kLargestPixels * scale);
    const QFontMetrics metrics(font);
    const int height = metrics.height() + 8 * scale;
    auto* strip = new QWidget(window);
    strip->setObjectName(QStringLiteral("captionStrip"));
    strip->setGeometry(0, 0, width, height);
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
    strip->setPalette(palette);
    const int pad = 2 * scale;
    const int buttonHeight = height - 2 * pad;
    int right = width - pad;
    auto addButton = [&](const QString& label, const char* name,
                         const std::function<void()>& action) {
        auto* button = new QPushButton(label, strip);
        button->setObjectName(QLatin1String(name));
        button->setFont(font);
        button->setFocusPolicy(Qt::NoFocus);
        const int buttonWidth =
            std::max(buttonHeight, metrics.horizontalAdvance(label) + 12 * scale);
        right -= buttonWidth;
        button->setGeometry(right, pad, buttonWidth, buttonHeight);
        right -= pad;
        QObject::connect(button, &QPushButton::clicked, window, action);
        return button;
    };
    // The close button is Cancel, Escape and the window's close all in one.
    addButton(QString(QChar(0x00D7)), "cancel", close)->setAccessibleName(QStringLiteral("Cancel"));
    if (withOk) addButton(QStringLiteral("OK"), "ok", ok);
    auto* title = new QLabel(strip);
    title->setObjectName(QStringLiteral("caption"));
    QFont bold = font;
    bold.setBold(true);
    title->setFont(bold);
    title->setGeometry(pad * 2, 0, std::max(0, right - pad * 2), height);
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A caption longer than its room is shortened: the window's title keeps it whole.
    title->setText(QFontMetrics(bold).elidedText(caption, Qt::ElideRight, title->width()));
    return height;
}

bool tall(const Control& c) {
    return c.kind == ControlClass::ListBox || c.kind == ControlClass::ListView ||
           (c.kind == ControlClass::Static && c.designRect.height > 24);
}

}  // namespace

DialogWindow::DialogWindow(dialogs::Dialog& model, QWidget* parent, bool embedded)
    : DialogWindow(model, parent, embedded ? Strip::None : Strip::OkAndClose) {}

DialogWindow::DialogWindow(dialogs::Dialog& model, QWidget* parent, Strip strip)
    : QDialog(parent), model_(model), embedded_(strip == Strip::None) {
    if (embedded_) setWindowFlags(Qt::Widget);
    setWindowTitle(text(model.caption()));
    const device::Rect r = model.rect();
    scale_ = scaleFor(r.width);
    setFixedSize(r.width, r.height);
    build();
    refresh();
    int top = 0;
    if (!embedded_) {
        top = addCaptionStrip(
            this, windowTitle(), r.width, scale_, strip == Strip::OkAndClose,
            [this] {
                if (model_.pressOk()) accept();
                refresh();
            },
            [this] { reject(); });
        if (auto* ok = findChild<QPushButton*>(QStringLiteral("ok"))) widgets_[kOkId] = ok;
        widgets_[kCancelId] = findChild<QPushButton*>(QStringLiteral("cancel"));
    }
    fitControls(QRect(0, top, r.width, r.height - top));
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
                // Two arrows side by side, each as tall as the line, stepping the edit before
                // them: a stylus needs targets that size.
                auto* spin = new QWidget(this);
                for (int delta : {-1, 1}) {
                    auto* arrow = new QToolButton(spin);
                    arrow->setArrowType(delta > 0 ? Qt::UpArrow : Qt::DownArrow);
                    arrow->setObjectName(delta > 0 ? QStringLiteral("up") : QStringLiteral("down"));
                    connect(arrow, &QToolButton::clicked, this, [this, id, delta] {
                        model_.step(id, delta);
                        refresh();
                    });
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
        widgets_[id] = w;
    }
}

void DialogWindow::fitTo(QSize room) {
    fitControls(QRect(QPoint(0, 0), room));
}

void DialogWindow::fitControls(QRect area) {
    // The largest font at which everything fits; at each size first the model's own places, then
    // the lines packed closer, then short lines joined. The large screen takes the small
    // screen's choice, doubled, so that both look alike.
    // Rows are joined only where no font size down to the last but one fits otherwise.
    std::vector<std::pair<int, int>> tries;
    for (int pixels = kLargestPixels; pixels > kSmallestPixels; --pixels) {
        tries.emplace_back(pixels, 0);
        tries.emplace_back(pixels, 1);
    }
    for (int pixels = kLargestPixels; pixels >= kSmallestPixels; --pixels)
        tries.emplace_back(pixels, 2);
    const int scale = scale_;
    for (const auto& [pixels, packing] : tries) {
        scale_ = 1;
        const QRect small(area.x() / scale, area.y() / scale, area.width() / scale,
                          area.height() / scale);
        const bool fits = layOut(small, pixels, packing);
        scale_ = scale;
        if (fits && (scale == 1 || layOut(area, pixels, packing))) return;
        if (fits) break;
    }
    for (const auto& [pixels, packing] : tries) {
        if (layOut(area, pixels, packing)) return;
    }
    layOut(area, kSmallestPixels, 2);
}

namespace {

// One control as the layout places it.
struct Item {
    const Control* control;
    QWidget* widget;
    int designX, designRight;  // scaled
    int need = 0;              // the least width that shows its text
    int want = 0;              // the width it gets when there is room
    bool wraps = false;        // a label may break its text into lines
    int x = 0, width = 0, line = 0, height = 0;
};

// A row: controls whose rectangles share lines on the handheld's screen.
struct Row {
    std::vector<Item> items;
    int designTop = 0, designBottom = 0;
};

int longestWord(const QFontMetrics& metrics, const QString& value) {
    int widest = 0;
    for (const QString& word : value.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        widest = std::max(widest, metrics.horizontalAdvance(word));
    return widest;
}

// Places a row's items on as few lines as the width allows, each item where the model has it
// when there is room, never before the item to its left. Returns false when an item cannot fit.
bool placeRow(Row& row, int left, int right, int gap) {
    std::vector<Item>& items = row.items;
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.designX < b.designX; });
    std::size_t first = 0;
    int line = 0;
    while (first < items.size()) {
        // As many items as fit on this line at their least widths.
        std::size_t end = first;
        int used = 0;
        while (end < items.size()) {
            const int width = used + (end > first ? gap : 0) + items[end].need;
            if (end > first && left + width > right) break;
            if (left + width > right) return false;
            used = width;
            ++end;
        }
        // Spin arrows do not start a line: their edit moves down with them.
        if (end < items.size() && end > first + 1 &&
            items[end].control->kind == ControlClass::Spin &&
            items[end].control->buddy == items[end - 1].control->id) {
            --end;
            used -= items[end].need + gap;
        }
        int spare = std::max(0, right - left - used);
        // Room to spare goes to the items that want more, in order.
        for (std::size_t i = first; i < end; ++i) {
            Item& item = items[i];
            const int extra = std::min(spare, std::max(0, item.want - item.need));
            item.width = std::min(item.need + extra, right - left);
            spare -= extra;
        }
        // Left to right at the model's places where possible, then pushed back from the right.
        int cursor = left;
        for (std::size_t i = first; i < end; ++i) {
            Item& item = items[i];
            item.x = std::max(line == 0 ? item.designX : left, cursor);
            cursor = item.x + item.width + gap;
        }
        int limit = right;
        for (std::size_t i = end; i-- > first;) {
            Item& item = items[i];
            item.x = std::min(item.x, limit - item.width);
            item.line = line;
            limit = item.x - gap;
        }
        if (items[first].x < left) return false;
        first = end;
        ++line;
    }
    return true;
}

bool oneLine(const Row& row) {
    return std::none_of(row.items.begin(), row.items.end(),
                        [](const Item& item) { return tall(*item.control); });
}

const Item& leftmost(const Row& row) {
    return *std::min_element(row.items.begin(), row.items.end(),
                             [](const Item& a, const Item& b) { return a.designX < b.designX; });
}

const Item& rightmost(const Row& row) {
    return *std::max_element(row.items.begin(), row.items.end(),
                             [](const Item& a, const Item& b) { return a.designX < b.designX; });
}

bool takesInput(ControlClass kind) {
    return kind == ControlClass::Edit || kind == ControlClass::ComboBox ||
           kind == ControlClass::Spin;
}

// A one-word label ending in a full stop, alone on its row: the unit of the control before it
// ("byte.").
bool isUnit(const Row& row) {
    if (row.items.size() != 1 || row.items.front().control->kind != ControlClass::Static)
        return false;
    const QString value = text(row.items.front().control->text);
    return value.size() > 1 && value.endsWith(QLatin1Char('.')) &&
           !value.contains(QLatin1Char(' '));
}

// Any other label alone on its row heads the rows below it ("Input", "Data").
bool isHeading(const Row& row) {
    return row.items.size() == 1 && row.items.front().control->kind == ControlClass::Static &&
           !isUnit(row);
}

// A caption without letters or digits ("->") links its control to the control before it.
bool isLink(const Row& row) {
    const Item& first = leftmost(row);
    if (row.items.size() < 2 || first.control->kind != ControlClass::Static) return false;
    const QString value = text(first.control->text);
    return !value.isEmpty() &&
           std::none_of(value.begin(), value.end(), [](QChar ch) { return ch.isLetterOrNumber(); });
}

// Whether a row reads as the end of the row before it: a unit after its control, a linked
// pair, a check box's own uncaptioned edit after it.
bool continues(const Row& before, const Row& row) {
    if (!oneLine(before) || !oneLine(row)) return false;
    if (isUnit(row)) return takesInput(rightmost(before).control->kind);
    if (isLink(row)) return !isHeading(before);
    return before.items.size() == 1 &&
           before.items.front().control->kind == ControlClass::CheckBox &&
           leftmost(row).control->kind == ControlClass::Edit;
}

void append(Row& to, Row& row) {
    // Later rows' controls come after the earlier ones on the line.
    int shift = 0;
    for (const Item& item : to.items)
        shift = std::max(shift, item.designRight);
    for (Item& item : row.items) {
        item.designX += shift;
        to.items.push_back(item);
    }
    to.designBottom = row.designBottom;
}

// Joins the rows the dialog means as one line; with packing 2 also whole rows of one-line
// controls that fit side by side, headings kept on lines of their own. A joined row too wide
// for the screen wraps onto a second line rather than into the next row.
std::vector<Row> joinRows(std::vector<Row> rows, int packing, int width, int gap) {
    std::vector<Row> joined;
    for (Row& row : rows) {
        if (!joined.empty() && continues(joined.back(), row)) {
            // The room a check box leaves on its line goes to its control.
            Row& before = joined.back();
            if (before.items.size() == 1 &&
                before.items.front().control->kind == ControlClass::CheckBox)
                before.items.front().want = before.items.front().need;
            append(before, row);
        } else {
            joined.push_back(std::move(row));
        }
    }
    if (packing < 2) return joined;
    auto needs = [gap](const Row& row) {
        int sum = -gap;
        for (const Item& item : row.items)
            sum += item.need + gap;
        return sum;
    };
    std::vector<Row> packed;
    for (Row& row : joined) {
        if (!packed.empty() && oneLine(packed.back()) && oneLine(row) &&
            !isHeading(packed.back()) && !isHeading(row) &&
            needs(packed.back()) + gap + needs(row) <= width) {
            append(packed.back(), row);
        } else {
            packed.push_back(std::move(row));
        }
    }
    return packed;
}

}  // namespace

bool DialogWindow::layOut(QRect area, int pixels, int packing) {
    const int s = scale_;
    const bool keepDesign = packing == 0;
    const QFont font = dialogFont(pixels * s);
    const QFontMetrics metrics(font);
    for (const auto& [id, w] : widgets_) {
        if (id >= 0) w->setFont(font);
    }
    const int gap = 2 * s;
    const int margin = 2 * s;
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int buttonMargin = style()->pixelMetric(QStyle::PM_ButtonMargin);
    // One height for every one-line control: the font's full height inside a frame, and never
    // less than a check box's square.
    const int indicator = std::max(metrics.height() - 2, 13);
    const int lineHeight = std::max(metrics.height() + 2 * frame + 2, indicator + 2);

    // The squares of check boxes and radio buttons grow with the font.
    const QString squares =
        QStringLiteral("::indicator { width: %1px; height: %1px; }").arg(indicator);
    for (const auto& [id, w] : widgets_) {
        if (qobject_cast<QCheckBox*>(w) != nullptr)
            w->setStyleSheet(QStringLiteral("QCheckBox") + squares);
        if (qobject_cast<QRadioButton*>(w) != nullptr)
            w->setStyleSheet(QStringLiteral("QRadioButton") + squares);
    }
    // A grid's columns: as wide as the model has them at this scale, and as their cells need.
    for (const Control& c : model_.controls()) {
        auto* table = qobject_cast<QTableWidget*>(widgets_.at(c.id));
        if (table == nullptr) continue;
        table->verticalHeader()->setDefaultSectionSize(lineHeight);
        table->verticalHeader()->setMinimumSectionSize(lineHeight);
        for (int column = 0; column < table->columnCount(); ++column) {
            int width = column < static_cast<int>(c.columnWidths.size())
                            ? c.columnWidths[static_cast<std::size_t>(column)] * s
                            : 0;
            for (int row = 0; row < table->rowCount(); ++row) {
                if (const QTableWidgetItem* cell = table->item(row, column))
                    width = std::max(width, metrics.horizontalAdvance(cell->text()) + 4 * s + 4);
            }
            table->setColumnWidth(column, width);
        }
    }

    // Group boxes frame the controls inside them; the rest are laid out in rows.
    std::vector<const Control*> groups;
    std::vector<Row> rows;
    std::vector<const Control*> order;
    for (const Control& c : model_.controls()) {
        if (c.kind == ControlClass::GroupBox) {
            groups.push_back(&c);
        } else {
            order.push_back(&c);
        }
    }
    std::stable_sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
        return a->designRect.y < b->designRect.y;
    });
    for (const Control* c : order) {
        const device::Rect d = c->designRect;
        QWidget* w = widgets_.at(c->id);
        Item item{c, w, d.x * s, (d.x + d.width) * s};
        const QString value = text(c->text);
        const int designWidth = d.width * s;
        switch (c->kind) {
            case ControlClass::Static:
                item.wraps = true;
                item.need = longestWord(metrics, value) + 2;
                item.want = std::max(designWidth, metrics.horizontalAdvance(value) + 2);
                break;
            case ControlClass::Button:
                item.need = metrics.horizontalAdvance(value) + 2 * (buttonMargin + frame);
                item.need = std::max(item.need, lineHeight);
                item.want = std::max(designWidth, item.need);
                break;
            case ControlClass::CheckBox:
            case ControlClass::RadioButton:
                item.need = w->sizeHint().width();
                item.want = std::max(designWidth, item.need);
                break;
            case ControlClass::Edit: {
                const int frameWidth = 2 * frame + 6;
                const int shown = metrics.horizontalAdvance(value) + frameWidth;
                item.need = std::max(
                    shown,
                    std::min(designWidth,
                             metrics.horizontalAdvance(QStringLiteral("00000")) + frameWidth));
                item.want = std::max(designWidth, shown);
                break;
            }
            case ControlClass::ComboBox: {
                // Its longest entry beside the arrow.
                int widest = metrics.horizontalAdvance(value);
                for (const auto& entry : c->items)
                    widest = std::max(widest, metrics.horizontalAdvance(text(entry)));
                item.need = widest + 4 * frame + 12 + lineHeight;
                item.want = std::max(designWidth, item.need);
                break;
            }
            case ControlClass::ListBox: {
                int widest = 0;
                for (const auto& entry : c->items)
                    widest = std::max(widest, metrics.horizontalAdvance(text(entry)));
                item.need =
                    widest + 2 * frame + 8 + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
                item.want = std::max(designWidth, item.need);
                break;
            }
            case ControlClass::Spin:
                item.need = item.want = 2 * lineHeight;
                break;
            case ControlClass::ListView:
            case ControlClass::GroupBox:
                item.need = item.want = designWidth;
                break;
        }
        // A row takes the controls whose lines overlap its own; tall ones join without
        // widening it.
        const int top = d.y;
        const int bottom = d.y + std::max(1, d.height);
        if (rows.empty() || top >= rows.back().designBottom) {
            rows.push_back({{}, top, tall(*c) ? top + 1 : bottom});
        } else if (!tall(*c)) {
            rows.back().designBottom = std::max(rows.back().designBottom, bottom);
        }
        rows.back().items.push_back(item);
    }

    const int left = area.left() + margin;
    const int right = area.right() + 1 - margin;
    rows = joinRows(std::move(rows), packing, right - left, gap);
    bool fits = true;
    int previousBottom = area.top();
    int previousDesignBottom = 0;
    std::vector<QRect> placed;
    struct Frame {
        const Control* control;
        QRect rect;
    };
    std::vector<Frame> frames;
    auto inside = [](const device::Rect& outer, const device::Rect& inner) {
        return inner.x >= outer.x && inner.y >= outer.y &&
               inner.x + inner.width <= outer.x + outer.width &&
               inner.y + inner.height <= outer.y + outer.height;
    };
    for (Row& row : rows) {
        if (!placeRow(row, left, right, gap)) fits = false;
        // The row's top: where the model has it, else just below the rows above.
        const int designGap = std::max(0, row.designTop - previousDesignBottom) * s;
        int top = previousBottom + std::clamp(designGap, gap, keepDesign ? designGap : 2 * gap);
        if (keepDesign) top = std::max(top, area.top() + row.designTop * s);
        // A group box's caption comes before the first row inside it; a row after the box
        // comes below its frame.
        for (const Control* g : groups) {
            const device::Rect d = g->designRect;
            if (d.y <= row.designTop && inside(d, row.items.front().control->designRect)) {
                bool first = true;
                for (const Frame& f : frames)
                    first = first && f.control != g;
                if (first) {
                    int frameTop =
                        previousBottom +
                        (frames.empty() && rows.front().designTop == row.designTop ? 0 : gap);
                    if (keepDesign) frameTop = std::max(frameTop, area.top() + d.y * s);
                    frames.push_back({g, QRect(d.x * s, frameTop, d.width * s, 0)});
                    top = std::max(top, frameTop + metrics.height() + 2 * gap);
                }
            }
        }
        for (const Frame& f : frames) {
            if (f.control->designRect.y + f.control->designRect.height <= row.designTop &&
                f.rect.height() > 0)
                top = std::max(top, f.rect.bottom() + 1 + gap);
        }
        // Line by line: one-line controls take the line height, labels the lines their text
        // needs at their width, lists and grids their own height.
        int lineTop = top;
        int lines = 0;
        for (const Item& item : row.items)
            lines = std::max(lines, item.line + 1);
        for (int line = 0; line < lines; ++line) {
            int height = lineHeight;
            for (Item& item : row.items) {
                if (item.line != line) continue;
                const Control& c = *item.control;
                if (c.kind == ControlClass::Static) {
                    const QRect needed = metrics.boundingRect(QRect(0, 0, item.width, 100000),
                                                              Qt::TextWordWrap, text(c.text));
                    item.height = std::max(needed.height() <= metrics.height() ? lineHeight : 0,
                                           needed.height());
                    if (tall(c)) item.height = std::max(item.height, c.designRect.height * s);
                } else if (tall(c)) {
                    item.height = std::max(c.designRect.height * s, lineHeight * 2);
                } else {
                    item.height = lineHeight;
                }
                height = std::max(height, item.height);
            }
            for (Item& item : row.items) {
                if (item.line != line) continue;
                // One-line controls share the line's height; a taller line centres nothing.
                if (!tall(*item.control) && item.height < height &&
                    item.control->kind != ControlClass::Static)
                    item.height = lineHeight;
                item.widget->setGeometry(item.x, lineTop, item.width, item.height);
                if (item.control->kind == ControlClass::Spin) {
                    const auto arrows = item.widget->findChildren<QToolButton*>();
                    const int half = item.width / 2;
                    arrows.front()->setGeometry(0, 0, half, item.height);
                    arrows.back()->setGeometry(half, 0, item.width - half, item.height);
                }
                if (auto* label = qobject_cast<QLabel*>(item.widget)) {
                    label->setWordWrap(item.height > lineHeight ||
                                       metrics.horizontalAdvance(label->text()) > item.width);
                    label->setAlignment(
                        Qt::AlignLeft |
                        (item.height > lineHeight ? Qt::AlignTop : Qt::AlignVCenter));
                }
                previousBottom = std::max(previousBottom, lineTop + item.height);
            }
            lineTop += height + gap;
        }
        previousDesignBottom = row.designBottom;
        // Frames close below the last row inside them.
        for (Frame& f : frames) {
            if (inside(f.control->designRect, row.items.front().control->designRect))
                f.rect.setBottom(previousBottom + 2 * gap);
        }
    }
    int bottom = previousBottom;
    for (const Frame& f : frames)
        bottom = std::max(bottom, f.rect.bottom() + 1);
    for (const Frame& f : frames) {
        QRect r = f.rect;
        r.setLeft(std::max(r.left(), area.left()));
        r.setRight(std::min(r.right(), area.right()));
        widgets_.at(f.control->id)->setGeometry(r);
    }
    // A group box with no control inside keeps its own place.
    for (const Control* g : groups) {
        bool framed = false;
        for (const Frame& f : frames)
            framed = framed || f.control == g;
        if (!framed) {
            const device::Rect d = g->designRect;
            widgets_.at(g->id)->setGeometry(d.x * s, area.top() + d.y * s, d.width * s,
                                            std::max(d.height * s, lineHeight));
        }
    }
    fontPixels_ = pixels;
    return fits && bottom <= area.bottom() + 1 - margin;
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
    setFixedSize(screen.width, screen.height);
    const int scale = scaleFor(screen.width);
    const int top = addCaptionStrip(
        this, windowTitle(), screen.width, scale, true,
        [this] {
            if (sheet_.pressOk()) {
                accept();
            } else {
                for (DialogWindow* page : pages_)
                    page->refresh();
            }
        },
        [this] { reject(); });
    auto* tabs = new QTabWidget(this);
    tabs->setDocumentMode(true);
    tabs->setFont(dialogFont(kLargestPixels * scale));
    // Whole page names; the bar scrolls where they are more than the screen is wide.
    tabs->setElideMode(Qt::ElideNone);
    tabs->setUsesScrollButtons(true);
    tabs->setGeometry(0, top, screen.width, screen.height - top);
    for (dialogs::Dialog* page : sheet.pages()) {
        auto* window = new DialogWindow(*page, tabs, true);
        pages_.push_back(window);
        tabs->addTab(window, text(page->caption()));
    }
    const QSize room(screen.width, screen.height - top - tabs->tabBar()->sizeHint().height());
    for (DialogWindow* page : pages_) {
        page->setFixedSize(room);
        page->fitTo(room);
    }
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
