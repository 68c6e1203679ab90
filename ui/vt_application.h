#pragma once
// The VT program's application object: its names, its view, its settings sheet and its key
// pad on the shared shell.

#include "ui/program_application.h"
#include "ui/vt_frame.h"
#include "vt/shell/vt_program.h"

namespace qn::ui {

using VtApplicationOptions = ShellOptions;

class VtApplication final
    : public ProgramApplication<vt::VtProgram, CQuillNet_VTView, CQuillNet_VTFrom> {
  public:
    using ProgramApplication::ProgramApplication;
    ~VtApplication() override { finish(); }

    const ShellLayout& layout() const override;

  private:
    ScreenFields screenFields() const override;
    std::string_view versionText() const override { return vt::kVtVersionText; }
    std::unique_ptr<vt::VtProgram> makeProgram(CQuillNet_VTView& view) override;
    void openSettingsSheet() override;
    void openKeyPanel() override;
};

}  // namespace qn::ui
