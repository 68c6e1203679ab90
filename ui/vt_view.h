#pragma once
// CQuillNet_VTView: paints the VT screen in fixed cells, shows the cursor as a caret, scrolls
// the 80-column screen inside the small window so that the cursor stays visible, and turns key
// events into the handheld's virtual keys and characters.

#include <QAbstractScrollArea>
#include <QFont>

#include <atomic>
#include <cstdint>
#include <functional>

#include "vt/keyboard/vt_keyboard.h"
#include "vt/transport/session_host.h"
#include "vt/transport/vt_transport.h"

namespace qn::vt {
class VtProgram;
}

namespace qn::ui {

// The handheld's virtual key for a Qt key, 0 for none.
int virtualKeyFor(int qtKey);
// The character message a key event gives, or -1 for none.
int characterFor(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text);
// A screen byte as drawn: Windows-1252, with the line-drawing bytes as box characters.
QChar displayChar(std::uint8_t byte);

class CQuillNet_VTView final : public QAbstractScrollArea,
                               public telnet::ConnectionView,
                               public vt::VtViewSignals,
                               public vt::KeyboardView {
  public:
    explicit CQuillNet_VTView(QWidget* parent = nullptr);

    // Set once the program exists; until then the view paints nothing.
    void attach(vt::VtProgram* program) { program_ = program; }
    // An Escape key-down for the frame (leaving full screen) and keys the view does not take.
    void setFrameKeyHandler(std::function<void(int)> handler) { frameKey_ = std::move(handler); }
    // Called on connect and disconnect, on the UI thread (to update the commands).
    void setConnectionHandler(std::function<void()> handler) { connection_ = std::move(handler); }

    void rebuildFont();
    void keepCursorVisible();
    void placeCaret();
    void repaintAfterKey() override;
    void applyScrollBarsSetting();

    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }
    const QFont& viewFont() const { return font_; }
    bool caretVisible() const { return caretVisible_.load(); }
    // Runs of one text output each in the last paint.
    int lastPaintTextOutputs() const { return lastTextOutputs_; }

    // telnet::ConnectionView
    void connected() override;
    void chunkReceived() override;
    void disconnected() override;
    // VtViewSignals (read thread)
    void beep() override;
    void showCaret(bool visible) override;
    // KeyboardView
    void invalidate() override { viewport()->update(); }
    void frameEscape() override;

    // One key-down and its character, as the keyboard of the handheld delivers them.
    void keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; }
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void updateScrollRanges();
    int rowPitch() const { return cellHeight_ + 2; }

    vt::VtProgram* program_ = nullptr;
    std::function<void(int)> frameKey_;
    std::function<void()> connection_;
    QFont font_;
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    bool runsAligned_ = true;  // one text output per run keeps every column on the grid
    std::atomic<bool> caretVisible_{true};
    bool caretCreated_ = false;
    int lastTextOutputs_ = 0;
};

}  // namespace qn::ui
