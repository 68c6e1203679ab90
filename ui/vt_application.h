#pragma once
// The VT program's application object: its names and command table, what its commands do,
// and its steps of the shared start-up and quit.

#include <memory>

#include "ui/shell_application.h"
#include "ui/vt_frame.h"
#include "vt/shell/vt_program.h"

namespace qn::ui {

using VtApplicationOptions = ShellOptions;

class VtApplication final : public ShellApplication {
  public:
    VtApplication(platform::Services& services, QtMessageQueue& queue, QtMessageBoxes* messages,
                  ShellOptions options);
    ~VtApplication() override;

    CQuillNet_VTFrom* frame() { return static_cast<CQuillNet_VTFrom*>(shellWindow()); }
    vt::VtProgram* program() { return program_.get(); }

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

    // The view until the frame adopts it; then the frame's.
    CQuillNet_VTView* view_ = nullptr;
    std::unique_ptr<vt::VtProgram> program_;
};

}  // namespace qn::ui
