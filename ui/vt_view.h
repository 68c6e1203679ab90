#pragma once
// CQuillNet_VTView: the VT screen on the cell grid. Runs of equal reverse value, the caret at
// the emulator's cursor, and keys through the VT keyboard.

#include <cstdint>

#include "ui/cell_view.h"
#include "vt/keyboard/vt_keyboard.h"
#include "vt/transport/session_host.h"
#include "vt/transport/vt_transport.h"

namespace qn::vt {
class VtProgram;
}

namespace qn::ui {

// A screen byte as drawn: Windows-1252, with the line-drawing bytes as box characters.
QChar displayChar(std::uint8_t byte);

class CQuillNet_VTView final : public CellView,
                               public telnet::ConnectionView,
                               public vt::VtViewSignals,
                               public vt::KeyboardView {
  public:
    explicit CQuillNet_VTView(QWidget* parent = nullptr);

    // Set once the program exists; until then the view paints nothing.
    void attach(vt::VtProgram* program) { program_ = program; }

    void rebuildFont();
    void keepCursorVisible();
    void placeCaret();
    void repaintAfterKey() override;
    void applyScrollBarsSetting() override;

    // telnet::ConnectionView
    void connected() override;
    void chunkReceived() override;
    void disconnected() override;
    void reconnecting(int attempt, std::chrono::seconds) override { showReconnecting(attempt); }
    // VtViewSignals (read thread)
    void beep() override;
    void showCaret(bool visible) override;
    // KeyboardView
    void invalidate() override { viewport()->update(); }
    void frameEscape() override;

    void keyDownAndChar(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) override;

  protected:
    QSize contentSize() const override;
    QPoint trackingTarget(int row, int column, int clientWidth, int clientHeight) const override;
    void paintCells(QPainter& painter) override;
    void repaintNow() override;

  private:
    vt::VtProgram* program_ = nullptr;
};

}  // namespace qn::ui
