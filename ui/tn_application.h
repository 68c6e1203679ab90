#pragma once
// The 5250 program's application object: its names and command table, what its commands do,
// and its steps of the shared start-up and quit.

#include <memory>

#include "tn5250/shell/tn_program.h"
#include "ui/shell_application.h"
#include "ui/tn_frame.h"

namespace qn::ui {

class TnApplication final : public ShellApplication {
  public:
    TnApplication(platform::Services& services, QtMessageQueue& queue, QtMessageBoxes* messages,
                  ShellOptions options);
    ~TnApplication() override;

    CQuillNetTNFrom* frame() { return static_cast<CQuillNetTNFrom*>(shellWindow()); }
    tn::TnProgram* program() { return program_.get(); }

    // ShellProgram
    const ShellLayout& layout() const override;
    bool commandEnabled(unsigned id) const override;
    void runCommand(unsigned id) override;
    QStringList aboutLines() const override;

  private:
    ScreenFields screenFields() const override;
    std::unique_ptr<CellView> createProgram() override;
    bool startDevice() override { return program_->startDevice(); }
    std::unique_ptr<ShellWindow> createFrame(CellView* view) override;
    void setScreenMode(int mode) override { program_->device().setScreenMode(mode); }
    void refreshView() override;
    reader::StartupRequests loadAtStartup() override { return program_->loadAtStartup(); }
    void connectSession() override { program_->transport().connectSession(); }
    void handleMessage(platform::MessageId id, std::uintptr_t wParam) override;
    bool confirmQuit() override { return program_ && program_->confirmQuit(); }
    void releaseProgram() override;

    void openSettingsSheet();
    void setConfigFile();
    void openKeyPanel();

    CQuillNetTNView* view_ = nullptr;
    std::unique_ptr<tn::TnProgram> program_;
};

}  // namespace qn::ui
