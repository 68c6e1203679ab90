#pragma once
// The cell grid both terminal views are made of: a fixed-pitch font fitted to the cell size,
// scroll bars over the 80-column screen, following the cursor, the caret, the handheld's
// virtual keys and characters for Qt key events, and repaint requests from the read thread
// that coalesce into one pending paint. Each program adds the painter of its runs and the
// entry points of its input.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QPoint>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>

#include "common/reader/record_fields.h"

class QPainter;

namespace qn::ui {

// The scroll-bar setting of a session record: 1 shows them, 0 hides them, and any other value
// shows them and is stored as 0. Call under the session lock.
bool scrollBarsShown(reader::LeInt32& setting);

// The handheld's virtual key for a Qt key, 0 for none.
int virtualKeyFor(int qtKey);
// The character message a key event gives, or -1 for none.
int characterFor(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text);

class CellView : public QAbstractScrollArea {
  public:
    explicit CellView(QWidget* parent = nullptr);

    // An Escape key-down for the frame (leaving full screen) and keys the view does not take.
    void setFrameKeyHandler(std::function<void(int)> handler) { frameKey_ = std::move(handler); }
    // Called on connect and disconnect, on the UI thread (to update the commands).
    void setConnectionHandler(std::function<void()> handler) { connection_ = std::move(handler); }

    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }
    int rowPitch() const { return cellHeight_ + 2; }
    const QFont& viewFont() const { return font_; }
    bool caretVisible() const { return caretVisible_.load(); }
    // Runs drawn as one text output each in the last paint.
    int lastPaintTextOutputs() const { return lastTextOutputs_; }

    // From any thread: the view is repainted (and follows the cursor) once, however many
    // requests arrive before the UI thread gets to it, and at most once per frame interval.
    void requestRepaint();
    // A host that rewrites the screen without pause gets one repaint per interval, not one
    // per record: the operator cannot read faster than that.
    static constexpr int kFrameIntervalMs = 20;
    // From any thread: the caret shown or hidden at the next paint.
    void setCaretShown(bool shown);

    // One key-down and its character, as the keyboard of the handheld delivers them.
    virtual void keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers,
                                const QString& text) = 0;

  protected:
    // The font for cells of this size; a width of 0 takes the face's own advance.
    void fitFont(int cellHeight, int cellWidth);
    // Scroll bars shown (as needed) or never.
    void showScrollBars(bool shown);
    // Scrolls when the cell lies outside the client area, to the position the program's rule
    // gives for it; positions stay within the scroll range.
    void followCell(int row, int column);
    void updateScrollRanges();
    int scrollX() const;
    int scrollY() const;

    // One run of cells at (x, y) in client coordinates: the cells' background from
    // y - fillAbove to y + cellHeight, then the text as one output. offsets, when given, holds
    // the cell of each character within the run (double-byte characters cover two); each
    // character is then drawn on its cell, as it is when the font is off the grid.
    void drawRun(QPainter& painter, int x, int y, int fillAbove, const QString& text, int cells,
                 bool reverse, const int* offsets = nullptr);
    // The caret: half a cell wide, inverted, at the cell.
    void drawCaret(QPainter& painter, int row, int column);

    // What each program fixes.
    virtual QSize contentSize() const = 0;
    virtual QPoint trackingTarget(int row, int column, int clientWidth, int clientHeight) const = 0;
    virtual void paintCells(QPainter& painter) = 0;
    // The UI thread's part of a repaint request; by default only the repaint.
    virtual void repaintNow() { viewport()->update(); }
    // On every resize, before the scroll ranges are set.
    virtual void applyScrollBarsSetting() {}

    void toFrame(int virtualKey) {
        if (frameKey_) frameKey_(virtualKey);
    }
    void connectionChanged() {
        if (connection_) connection_();
    }
    // The operator sees a lost connection being made again in the window's title, from any
    // thread; endReconnecting puts the title back.
    void showReconnecting(int attempt);
    void endReconnecting() {
        if (reconnecting_.exchange(false)) postTitle(-1);
    }

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; }
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

    bool caretCreated_ = false;
    int lastTextOutputs_ = 0;

  private:
    std::function<void(int)> frameKey_;
    std::function<void()> connection_;
    QFont font_;
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    bool runsAligned_ = true;  // one text output per run keeps every column on the grid
    std::atomic<bool> caretVisible_{true};
    std::atomic<bool> repaintPending_{false};
    QElapsedTimer sinceRepaint_;  // UI thread only

    void paceRepaint();
    void runRepaint();
    void postTitle(int attempt);
    std::atomic<bool> reconnecting_{false};
    QString titleBeforeReconnect_;  // UI thread only
};

}  // namespace qn::ui
