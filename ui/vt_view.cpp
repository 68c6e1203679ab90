#include "ui/vt_view.h"

#include <QApplication>
#include <QMetaObject>
#include <QPainter>

#include <array>

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

CQuillNet_VTView::CQuillNet_VTView(QWidget* parent) : CellView(parent) {}

void CQuillNet_VTView::rebuildFont() {
    int height = 16;
    int width = 8;
    if (program_ != nullptr) {
        std::lock_guard lock(program_->sessionLock());
        height = program_->session().settings.fontHeight;
        width = program_->session().settings.fontWidth;
    }
    fitFont(height, width);
}

QSize CQuillNet_VTView::contentSize() const {
    return {cellWidth() * vt::kScreenColumns, cellHeight() * vt::kBufferRows + 48};
}

QPoint CQuillNet_VTView::trackingTarget(int row, int column, int w, int h) const {
    // The cursor to the middle of the window where the screen's edges allow.
    return {std::min(cellWidth() * vt::kScreenColumns - w, column * cellWidth() - w / 2),
            std::min(cellHeight() * vt::kScreenRows - h + 48, row * rowPitch() - h / 2)};
}

void CQuillNet_VTView::applyScrollBarsSetting() {
    bool shown = true;
    if (program_ != nullptr) {
        std::lock_guard lock(program_->sessionLock());
        shown = scrollBarsShown(program_->session().settings.scrollBarsSetting);
    }
    showScrollBars(shown);
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
    followCell(row, col);
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
        const int x = col * cellWidth() - scrollX();
        const int y = row * rowPitch() - scrollY();
        viewport()->update(QRect(x - cellWidth(), y - 2, 2 * cellWidth() + 1, rowPitch() + 1));
    }
    keepCursorVisible();
}

void CQuillNet_VTView::paintCells(QPainter& painter) {
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

    const int sx = scrollX();
    const int sy = scrollY();
    const int viewHeight = viewport()->height();
    QString text;
    for (int row = 0; row < vt::kBufferRows; ++row) {
        const int y = row * rowPitch() - sy;
        if (y + cellHeight() < 0 || y - 2 > viewHeight) continue;
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
            text.resize(end - start);
            for (int col = start; col < end; ++col)
                text[col - start] = displayChar(chars[col]);
            drawRun(painter, start * cellWidth() - sx, y, 2, text, end - start, reverse);
            start = end;
        }
    }
    drawCaret(painter, screen.cursorRow, screen.cursorCol);
}

void CQuillNet_VTView::repaintNow() {
    keepCursorVisible();
    viewport()->update();
}

void CQuillNet_VTView::connected() {
    rebuildFont();
    setCaretShown(true);
    keepCursorVisible();
    viewport()->update();
    connectionChanged();
}

void CQuillNet_VTView::chunkReceived() {
    endReconnecting();
    requestRepaint();
}

void CQuillNet_VTView::disconnected() {
    endReconnecting();
    QMetaObject::invokeMethod(
        this,
        [this] {
            caretCreated_ = false;
            viewport()->update();
            connectionChanged();
        },
        Qt::QueuedConnection);
}

void CQuillNet_VTView::beep() {
    QMetaObject::invokeMethod(
        this, [] { QApplication::beep(); }, Qt::QueuedConnection);
}

void CQuillNet_VTView::showCaret(bool visible) {
    setCaretShown(visible);
}

void CQuillNet_VTView::frameEscape() {
    toFrame(vt::vk::kEscape);
}

void CQuillNet_VTView::keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers,
                                      const QString& text) {
    if (program_ == nullptr) return;
    const int virtualKey = virtualKeyFor(qtKey);
    if (virtualKey != 0) {
        program_->keyboard().keyDown(virtualKey);
        // Without a connection nothing takes the key: the frame sees it (Escape leaves full
        // screen, which the handheld's escape prefix cannot reach on a desktop keyboard).
        if (!program_->connected()) toFrame(virtualKey);
    }
    const int c = characterFor(qtKey, modifiers, text);
    if (c >= 0) program_->keyboard().character(static_cast<std::uint8_t>(c));
}

}  // namespace qn::ui
