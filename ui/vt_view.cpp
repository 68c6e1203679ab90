#include "ui/vt_view.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <array>
#include <cmath>

#include "vt/shell/vt_program.h"

namespace qn::ui {

namespace {

// Windows-1252 at 0x80..0x9F; the five unassigned bytes show as a middle dot.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0x00B7, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x00B7, 0x017D, 0x00B7, 0x00B7, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x00B7, 0x017E, 0x0178};

// The bytes the emulator's line-drawing set produces, drawn as box characters.
struct BoxChar {
    std::uint8_t byte;
    char16_t box;
};
constexpr BoxChar kBoxChars[] = {{0xB3, 0x2502}, {0xB4, 0x2524}, {0xBF, 0x2510}, {0xC0, 0x2514},
                                 {0xC1, 0x2534}, {0xC2, 0x252C}, {0xC3, 0x251C}, {0xC5, 0x253C},
                                 {0xD9, 0x2518}, {0xDA, 0x250C}};

// Bounds of the font fields a settings document may hold.
constexpr int kMinFontHeight = 6;
constexpr int kMaxFontHeight = 64;
constexpr int kMaxFontWidth = 32;

struct ScreenCopy {
    std::array<std::uint8_t, vt::kScreenCharsSize> chars;
    std::array<std::uint8_t, vt::kCellPlaneSize> reverse;
    int cursorRow;
    int cursorCol;
};

}  // namespace

QChar displayChar(std::uint8_t byte) {
    if (byte == 0) return QChar(u' ');
    if (byte >= 0x80 && byte <= 0x9F) return QChar(kCp1252High[byte - 0x80]);
    for (const auto& entry : kBoxChars) {
        if (entry.byte == byte) return QChar(entry.box);
    }
    return QChar(static_cast<char16_t>(byte));
}

int virtualKeyFor(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F20) return vt::vk::kF1 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
        case Qt::Key_Backspace:
            return vt::vk::kBack;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return vt::vk::kTab;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return vt::vk::kReturn;
        case Qt::Key_Control:
            return vt::vk::kControl;
        case Qt::Key_Escape:
            return vt::vk::kEscape;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return vt::vk::kPageUp;
        case Qt::Key_PageDown:
            return vt::vk::kPageDown;
        case Qt::Key_End:
            return vt::vk::kEnd;
        case Qt::Key_Home:
            return vt::vk::kHome;
        case Qt::Key_Left:
            return vt::vk::kLeft;
        case Qt::Key_Up:
            return vt::vk::kUp;
        case Qt::Key_Right:
            return vt::vk::kRight;
        case Qt::Key_Down:
            return vt::vk::kDown;
        case Qt::Key_Insert:
            return vt::vk::kInsert;
        case Qt::Key_Delete:
            return vt::vk::kDelete;
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

CQuillNet_VTView::CQuillNet_VTView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void CQuillNet_VTView::rebuildFont() {
    int height = 16;
    int width = 8;
    if (program_ != nullptr) {
        std::lock_guard lock(program_->sessionLock());
        height = program_->session().settings.fontHeight;
        width = program_->session().settings.fontWidth;
    }
    height = std::clamp(height == 0 ? 16 : height, kMinFontHeight, kMaxFontHeight);
    width = std::clamp(width, 0, kMaxFontWidth);

    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setKerning(false);
    // Where the face is missing the system substitutes; only a fixed-pitch one will do.
    if (!QFontInfo(font).fixedPitch()) {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setStyleHint(QFont::TypeWriter);
        fixed.setFixedPitch(true);
        fixed.setKerning(false);
        fixed.setWeight(QFont::Normal);
        font = fixed;
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
    runsAligned_ = std::abs(metrics.horizontalAdvance(QString(vt::kScreenColumns, QChar(u'W'))) -
                            vt::kScreenColumns * cellWidth_) < 0.5;
    caretCreated_ = true;
    updateScrollRanges();
    viewport()->update();
}

void CQuillNet_VTView::updateScrollRanges() {
    const int contentWidth = cellWidth_ * vt::kScreenColumns;
    const int contentHeight = cellHeight_ * vt::kBufferRows + 48;
    const QSize area = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, contentWidth - area.width()));
    horizontalScrollBar()->setPageStep(area.width());
    horizontalScrollBar()->setSingleStep(cellWidth_);
    verticalScrollBar()->setRange(0, std::max(0, contentHeight - area.height()));
    verticalScrollBar()->setPageStep(area.height());
    verticalScrollBar()->setSingleStep(rowPitch());
}

void CQuillNet_VTView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    applyScrollBarsSetting();
    updateScrollRanges();
}

void CQuillNet_VTView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CQuillNet_VTView::applyScrollBarsSetting() {
    int setting = 1;
    if (program_ != nullptr) {
        std::lock_guard lock(program_->sessionLock());
        auto& field = program_->session().settings.scrollBarsSetting;
        setting = field.get();
        if (setting != 0 && setting != 1) {
            field.set(0);
            setting = 1;
        }
    }
    const auto policy = setting == 0 ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    if (horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
    if (verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
}

void CQuillNet_VTView::keepCursorVisible() {
    if (program_ == nullptr) return;
    int row;
    int col;
    {
        std::lock_guard lock(program_->sessionLock());
        if (program_->session().settings.cursorTracking == 0) return;
        row = program_->emulator().screen().cursorRow;
        col = program_->emulator().screen().cursorCol;
    }
    const int w = viewport()->width();
    const int h = viewport()->height();
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    const int x = col * cellWidth_ - sx;
    const int y = row * rowPitch() - sy;
    if (x >= 0 && x <= w && y >= 0 && y <= h) return;
    // The cursor to the middle of the window where the screen's edges allow.
    const int newX = std::min(cellWidth_ * vt::kScreenColumns - w, col * cellWidth_ - w / 2);
    const int newY = std::min(cellHeight_ * vt::kScreenRows - h + 48, row * rowPitch() - h / 2);
    horizontalScrollBar()->setValue(newX);  // clamped to the scroll range
    verticalScrollBar()->setValue(newY);
    viewport()->update();
}

void CQuillNet_VTView::placeCaret() {
    viewport()->update();
}

void CQuillNet_VTView::repaintAfterKey() {
    if (program_ == nullptr) return;
    if (program_->keyboard().takeLineBufferEnter()) {
        viewport()->update();
    } else {
        int row;
        int col;
        {
            std::lock_guard lock(program_->sessionLock());
            row = program_->emulator().screen().cursorRow;
            col = program_->emulator().screen().cursorCol;
        }
        // The caret may have left the cell before it: both are repainted.
        const int x = col * cellWidth_ - horizontalScrollBar()->value();
        const int y = row * rowPitch() - verticalScrollBar()->value();
        viewport()->update(QRect(x - cellWidth_, y - 2, 2 * cellWidth_ + 1, rowPitch() + 1));
    }
    keepCursorVisible();
}

void CQuillNet_VTView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    lastTextOutputs_ = 0;
    if (program_ == nullptr || !program_->connected()) return;

    ScreenCopy screen;
    {
        std::lock_guard lock(program_->sessionLock());
        const vt::VtScreen& s = program_->emulator().screen();
        screen.chars = s.screenChars;
        screen.reverse = s.reverseBits;
        screen.cursorRow = s.cursorRow;
        screen.cursorCol = s.cursorCol;
    }

    painter.setFont(font_);
    const QFontMetricsF metrics(font_);
    const qreal ascent = metrics.ascent();
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    const int viewHeight = viewport()->height();
    QString text;
    for (int row = 0; row < vt::kBufferRows; ++row) {
        const int y = row * rowPitch() - sy;
        if (y + cellHeight_ < 0 || y - 2 > viewHeight) continue;
        const std::uint8_t* chars =
            screen.chars.data() + static_cast<std::size_t>(row) * vt::kScreenColumns;
        auto reverseAt = [&](int col) {
            return row < vt::kScreenRows &&
                   screen.reverse[static_cast<std::size_t>(row) * vt::kScreenColumns +
                                  static_cast<std::size_t>(col)] != 0;
        };
        int start = 0;
        while (start < vt::kScreenColumns) {
            const bool reverse = reverseAt(start);
            int end = start + 1;
            while (end < vt::kScreenColumns && reverseAt(end) == reverse)
                ++end;
            const int x = start * cellWidth_ - sx;
            const QRect cells(x, y - 2, cellWidth_ * (end - start), cellHeight_ + 2);
            painter.fillRect(cells, reverse ? Qt::black : Qt::white);
            painter.setPen(reverse ? Qt::white : Qt::black);
            painter.setClipRect(cells);
            if (runsAligned_) {
                text.resize(end - start);
                for (int col = start; col < end; ++col)
                    text[col - start] = displayChar(chars[col]);
                painter.drawText(QPointF(x, y + ascent), text);
            } else {
                // A substituted face off the grid: each cell at its own column.
                for (int col = start; col < end; ++col)
                    painter.drawText(QPointF((col - start) * cellWidth_ + x, y + ascent),
                                     QString(displayChar(chars[col])));
            }
            painter.setClipping(false);
            ++lastTextOutputs_;
            start = end;
        }
    }

    if (caretCreated_ && caretVisible_.load()) {
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.fillRect(QRect(screen.cursorCol * cellWidth_ - sx,
                               screen.cursorRow * rowPitch() - sy, cellWidth_ / 2, cellHeight_),
                         Qt::white);
    }
}

void CQuillNet_VTView::connected() {
    rebuildFont();
    caretVisible_.store(true);
    keepCursorVisible();
    viewport()->update();
    if (connection_) connection_();
}

void CQuillNet_VTView::chunkReceived() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            keepCursorVisible();
            viewport()->update();
        },
        Qt::QueuedConnection);
}

void CQuillNet_VTView::disconnected() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            caretCreated_ = false;
            viewport()->update();
            if (connection_) connection_();
        },
        Qt::QueuedConnection);
}

void CQuillNet_VTView::beep() {
    QMetaObject::invokeMethod(
        this, [] { QApplication::beep(); }, Qt::QueuedConnection);
}

void CQuillNet_VTView::showCaret(bool visible) {
    caretVisible_.store(visible);
    QMetaObject::invokeMethod(
        this, [this] { viewport()->update(); }, Qt::QueuedConnection);
}

void CQuillNet_VTView::frameEscape() {
    if (frameKey_) frameKey_(vt::vk::kEscape);
}

void CQuillNet_VTView::keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers,
                                      const QString& text) {
    if (program_ == nullptr) return;
    const int virtualKey = virtualKeyFor(qtKey);
    if (virtualKey != 0) {
        program_->keyboard().keyDown(virtualKey);
        // Without a connection nothing takes the key: the frame sees it (Escape leaves full
        // screen, which the handheld's escape prefix cannot reach on a desktop keyboard).
        if (!program_->connected() && frameKey_) frameKey_(virtualKey);
    }
    const int c = characterFor(qtKey, modifiers, text);
    if (c >= 0) program_->keyboard().character(static_cast<std::uint8_t>(c));
}

void CQuillNet_VTView::keyPressEvent(QKeyEvent* event) {
    keyDownAndChar(event->key(), event->modifiers(), event->text());
    event->accept();
}

}  // namespace qn::ui
