#pragma once
// CQuillNetTNView: the 5250 screen on the cell grid. Runs of equal display kind (reverse,
// underline, non-display), the handheld's code page for the local bytes of the model, the
// caret at the model's cursor while connected, stylus taps moving the cursor between fields,
// and keys and characters through the program's view input.

#include <QMouseEvent>

#include <cstdint>

#include "tn5250/telnet/tn_transport.h"
#include "ui/cell_view.h"

namespace qn::tn {
class TnProgram;
}

namespace qn::ui {

class CQuillNetTNView final : public CellView, public telnet::ConnectionView {
  public:
    explicit CQuillNetTNView(QWidget* parent = nullptr);

    // Set once the program exists; until then the view paints nothing.
    void attach(tn::TnProgram* program) { program_ = program; }

    void rebuildFont();
    void applyScrollBarsSetting() override;
    // Scrolls to the cursor when it lies outside the client area and tracking is on.
    void followCursor();
    // After a key, a character, a tap or the key panel.
    void postKeyUpdate(bool redraw);
    // The cell under a client point, as a tap takes it.
    QPoint cellAt(QPoint client) const;

    // telnet::ConnectionView
    void connected() override;
    void chunkReceived() override;
    void disconnected() override;
    void reconnecting(int attempt, std::chrono::seconds) override { showReconnecting(attempt); }

    void keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) override;

  protected:
    QSize contentSize() const override;
    QPoint trackingTarget(int row, int column, int clientWidth, int clientHeight) const override;
    void paintCells(QPainter& painter) override;
    void repaintNow() override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    tn::TnProgram* program_ = nullptr;
};

// The text of local bytes (single bytes and double-byte pairs of the language's code page) as
// drawn, and for each character the cell it starts on. Nulls are blanks.
struct LocalText {
    QString text;
    std::vector<int> cells;
    bool wide = false;  // a double-byte character is among them
};
LocalText localText(std::uint8_t language, const std::uint8_t* bytes, int count);

}  // namespace qn::ui
