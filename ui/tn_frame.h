#pragma once
// CQuillNetTNFrom: the shared main window around the 5250 view.

#include "ui/shell_window.h"
#include "ui/tn_view.h"

namespace qn::ui {

class CQuillNetTNFrom final : public ShellWindow {
  public:
    CQuillNetTNFrom(ShellProgram& program, CQuillNetTNView* view)
        : ShellWindow(program, view), view_(view) {}
    CQuillNetTNView& view() { return *view_; }

  private:
    CQuillNetTNView* view_;
};

}  // namespace qn::ui
