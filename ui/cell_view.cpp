#include "ui/cell_view.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "common/device/virtual_keys.h"

namespace qn::ui {

namespace {

// Bounds of the font fields a settings document may hold.
constexpr int kMinFontHeight = 6;
constexpr int kMaxFontHeight = 64;
constexpr int kMaxFontWidth = 32;
constexpr int kGridColumns = 80;

}  // namespace

int virtualKeyFor(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F20) return vk::kF1 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Backspace:
            return vk::kBack;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return vk::kTab;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return vk::kReturn;
        case Qt::Key_Control:
            return vk::kControl;
        case Qt::Key_Escape:
            return vk::kEscape;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return vk::kPageUp;
        case Qt::Key_PageDown:
            return vk::kPageDown;
        case Qt::Key_End:
            return vk::kEnd;
        case Qt::Key_Home:
            return vk::kHome;
        case Qt::Key_Left:
            return vk::kLeft;
        case Qt::Key_Up:
            return vk::kUp;
        case Qt::Key_Right:
            return vk::kRight;
        case Qt::Key_Down:
            return vk::kDown;
        case Qt::Key_Insert:
            return vk::kInsert;
        case Qt::Key_Delete:
            return vk::kDelete;
        default:
            return 0;
    }
}

int characterFor(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) {
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 0x09;
        case Qt::Key_Escape:
            return 0x1B;
        default:
            break;
    }
    if ((modifiers & Qt::ControlModifier) && qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return 1 + (qtKey - Qt::Key_A);
    if (text.size() == 1) {
        const char16_t c = text.at(0).unicode();
        if (c >= 0x20 && c < 0x7F) return c;
        if (c >= 0xA0 && c <= 0xFF) return c;
    }
    return -1;
}

bool scrollBarsShown(reader::LeInt32& setting) {
    const int value = setting.get();
    if (value == 0) return false;
    if (value != 1) setting.set(0);
    return true;
}

namespace {

QFont cellFont(QFont font) {
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setKerning(false);
    return font;
}

QFont cellFont(const QString& family) {
    return cellFont(QFont(family));
}

// A face whose narrowest and widest characters advance alike draws the grid evenly.
bool evenAdvances(const QFont& font) {
    const QFontMetricsF metrics(font);
    return std::abs(metrics.horizontalAdvance(QChar(u'i')) -
                    metrics.horizontalAdvance(QChar(u'W'))) < 0.01;
}

}  // namespace

CellView::CellView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void CellView::fitFont(int height, int width) {
    height = std::clamp(height == 0 ? 16 : height, kMinFontHeight, kMaxFontHeight);
    width = std::clamp(width, 0, kMaxFontWidth);

    QFont font = cellFont(QStringLiteral("Times New Roman"));
    // Where the face is missing the system substitutes; only a fixed-pitch one will do. The
    // system's own fixed font is not always one (some monospaced faces declare proportional
    // metrics), so a face every Debian system has comes first, and the advances decide last.
    if (!QFontInfo(font).fixedPitch()) {
        const QFont candidates[] = {cellFont(QStringLiteral("DejaVu Sans Mono")),
                                    cellFont(QFontDatabase::systemFont(QFontDatabase::FixedFont)),
                                    cellFont(QStringLiteral("Liberation Mono")),
                                    cellFont(QStringLiteral("monospace"))};
        const QFont* chosen = nullptr;
        for (const QFont& candidate : candidates) {
            if (QFontInfo(candidate).fixedPitch()) {
                chosen = &candidate;
                break;
            }
        }
        for (const QFont& candidate : candidates) {
            if (chosen == nullptr && evenAdvances(candidate)) chosen = &candidate;
        }
        font = chosen != nullptr ? *chosen : candidates[0];
    }
    // The largest pixel size whose line fits the cell height, then stretched to the cell width.
    for (int pixels = height; pixels >= 4; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetricsF(font).height() <= height + 0.5) break;
    }
    font.setStretch(QFont::Unstretched);
    if (width > 0) {
        const qreal advance = QFontMetricsF(font).horizontalAdvance(QChar(u'1'));
        if (advance > 0) {
            font.setStretch(
                std::clamp(static_cast<int>(std::lround(100.0 * width / advance)), 1, 4000));
        }
    }
    font_ = font;
    const QFontMetricsF metrics(font_);
    cellWidth_ =
        width > 0
            ? width
            : std::max(1, static_cast<int>(std::lround(metrics.horizontalAdvance(QChar(u'1')))));
    cellHeight_ = height;
    runsAligned_ = std::abs(metrics.horizontalAdvance(QString(kGridColumns, QChar(u'W'))) -
                            kGridColumns * cellWidth_) < 0.5;
    caretCreated_ = true;
    updateScrollRanges();
    viewport()->update();
}

int CellView::scrollX() const {
    return horizontalScrollBar()->value();
}

int CellView::scrollY() const {
    return verticalScrollBar()->value();
}

void CellView::updateScrollRanges() {
    const QSize content = contentSize();
    const QSize area = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, content.width() - area.width()));
    horizontalScrollBar()->setPageStep(area.width());
    horizontalScrollBar()->setSingleStep(cellWidth_);
    verticalScrollBar()->setRange(0, std::max(0, content.height() - area.height()));
    verticalScrollBar()->setPageStep(area.height());
    verticalScrollBar()->setSingleStep(rowPitch());
}

void CellView::showScrollBars(bool shown) {
    const auto policy = shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    if (horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
    if (verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
}

void CellView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    applyScrollBarsSetting();
    updateScrollRanges();
}

void CellView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CellView::followCell(int row, int column) {
    const int w = viewport()->width();
    const int h = viewport()->height();
    const int x = column * cellWidth_ - scrollX();
    const int y = row * rowPitch() - scrollY();
    if (x >= 0 && x <= w && y >= 0 && y <= h) return;
    const QPoint target = trackingTarget(row, column, w, h);
    horizontalScrollBar()->setValue(target.x());  // clamped to the scroll range
    verticalScrollBar()->setValue(target.y());
    viewport()->update();
}

void CellView::requestRepaint() {
    // One paint pending at a time: a host that sends a byte per receive cannot flood the queue.
    if (repaintPending_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this, [this] { paceRepaint(); }, Qt::QueuedConnection);
}

void CellView::paceRepaint() {
    const qint64 since = sinceRepaint_.isValid() ? sinceRepaint_.elapsed() : kFrameIntervalMs;
    if (since < kFrameIntervalMs) {
        QTimer::singleShot(static_cast<int>(kFrameIntervalMs - since), this,
                           [this] { runRepaint(); });
        return;
    }
    runRepaint();
}

void CellView::runRepaint() {
    // Cleared first: a request arriving while this one paints gets its own turn.
    repaintPending_.store(false);
    sinceRepaint_.restart();
    repaintNow();
}

void CellView::setCaretShown(bool shown) {
    caretVisible_.store(shown);
    requestRepaint();
}

void CellView::drawRun(QPainter& painter, int x, int y, int fillAbove, const QString& text,
                       int cells, bool reverse, const int* offsets) {
    const QRect area(x, y - fillAbove, cellWidth_ * cells, cellHeight_ + fillAbove);
    painter.fillRect(area, reverse ? Qt::black : Qt::white);
    painter.setPen(reverse ? Qt::white : Qt::black);
    painter.setClipRect(area);
    const qreal baseline = y + QFontMetricsF(font_).ascent();
    if (runsAligned_ && offsets == nullptr) {
        painter.drawText(QPointF(x, baseline), text);
    } else {
        // A substituted face off the grid, or wide characters: each on its own cell.
        for (qsizetype i = 0; i < text.size(); ++i) {
            const int cell = offsets != nullptr ? offsets[i] : static_cast<int>(i);
            painter.drawText(QPointF(x + cell * cellWidth_, baseline), QString(text.at(i)));
        }
    }
    painter.setClipping(false);
    ++lastTextOutputs_;
}

void CellView::drawCaret(QPainter& painter, int row, int column) {
    if (!caretCreated_ || !caretVisible_.load()) return;
    painter.setCompositionMode(QPainter::CompositionMode_Difference);
    painter.fillRect(QRect(column * cellWidth_ - scrollX(), row * rowPitch() - scrollY(),
                           cellWidth_ / 2, cellHeight_),
                     Qt::white);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void CellView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    lastTextOutputs_ = 0;
    painter.setFont(font_);
    paintCells(painter);
}

void CellView::keyPressEvent(QKeyEvent* event) {
    keyDownAndChar(event->key(), event->modifiers(), event->text());
    event->accept();
}

void CellView::showReconnecting(int attempt) {
    reconnecting_.store(true);
    postTitle(attempt);
}

void CellView::postTitle(int attempt) {
    QMetaObject::invokeMethod(
        this,
        [this, attempt] {
            QWidget* top = window();
            if (attempt < 0) {
                if (!titleBeforeReconnect_.isEmpty()) top->setWindowTitle(titleBeforeReconnect_);
                titleBeforeReconnect_.clear();
                return;
            }
            if (titleBeforeReconnect_.isEmpty()) titleBeforeReconnect_ = top->windowTitle();
            top->setWindowTitle(QStringLiteral("Reconnecting (%1)...").arg(attempt));
        },
        Qt::QueuedConnection);
}

}  // namespace qn::ui
