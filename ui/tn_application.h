#pragma once
// The 5250 program's application object: its names, its view, its settings sheet and its key
// panel on the shared shell.

#include "tn5250/shell/tn_program.h"
#include "ui/program_application.h"
#include "ui/tn_frame.h"

namespace qn::ui {

class TnApplication final
    : public ProgramApplication<tn::TnProgram, CQuillNetTNView, CQuillNetTNFrom> {
  public:
    using ProgramApplication::ProgramApplication;
    ~TnApplication() override { finish(); }

    const ShellLayout& layout() const override;

  private:
    ScreenFields screenFields() const override;
    std::string_view versionText() const override { return tn::kTnVersionText; }
    std::unique_ptr<tn::TnProgram> makeProgram(CQuillNetTNView& view) override;
    void openSettingsSheet() override;
    void openKeyPanel() override;
};

}  // namespace qn::ui
