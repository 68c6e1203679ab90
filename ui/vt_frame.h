#pragma once
// CQuillNet_VTFrom: the shared main window around the VT view.

#include "ui/shell_window.h"
#include "ui/vt_view.h"

namespace qn::ui {

class CQuillNet_VTFrom final : public ShellWindow {
  public:
    CQuillNet_VTFrom(ShellProgram& program, CQuillNet_VTView* view)
        : ShellWindow(program, view), view_(view) {}
    CQuillNet_VTView& view() { return *view_; }

  private:
    CQuillNet_VTView* view_;
};

}  // namespace qn::ui
