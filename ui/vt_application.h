#pragma once
// The VT program's application object: the start-up order, the single instance, the decode
// message, the commands the frame hands over, the quit sequence and the exit.

#include <QLocalServer>
#include <QObject>
#include <QSize>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/services.h"
#include "ui/dialog_window.h"
#include "ui/qt_platform.h"
#include "ui/vt_frame.h"
#include "vt/shell/vt_program.h"

namespace qn::ui {

struct VtApplicationOptions {
    std::filesystem::path settingsDir;
    // 240 × 320 by default, 480 × 640 for screen mode 2.
    QSize windowSize{240, 320};
    // The single-instance rendezvous; one per settings folder unless given.
    QString instanceName;
};

// "--screen 480x640" and the like; nullopt for anything else.
std::optional<QSize> parseScreenSize(const QString& text);
// The single-instance name for a settings folder.
QString instanceNameFor(const std::filesystem::path& settingsDir);

class VtApplication final : public QObject {
  public:
    // messages: the services' message boxes when they are the Qt ones (told when quitting).
    VtApplication(platform::Services& services, QtMessageQueue& queue, QtMessageBoxes* messages,
                  VtApplicationOptions options);
    ~VtApplication() override;

    // Runs start-up. nullopt: running, enter the event loop; a value: end with that code.
    std::optional<int> start();
    // After the event loop: the connection is dropped, the libraries freed.
    void finish();

    CQuillNet_VTFrom* frame() { return frame_.get(); }
    vt::VtProgram* program() { return program_.get(); }
    // How often a second start asked this one to come to the front.
    int frontRequests() const { return frontRequests_; }
    // The About box's lines.
    QStringList aboutLines() const;

  private:
    bool claimSingleInstance();
    void onCommand(unsigned id);
    bool onQuit();
    // The dialogs of the File and Telnet menus.
    dialogs::DialogContext dialogContext(QtDialogRunner& runner);
    void openSettingsSheet();
    void setConfigFile(const std::function<std::optional<std::string>()>& chooseOpen);
    void openKeyPanel();

    platform::Services& services_;
    QtMessageQueue& queue_;
    QtMessageBoxes* messages_;
    VtApplicationOptions options_;
    // The view outlives the program: the program's connection reports to it until destroyed.
    std::unique_ptr<CQuillNet_VTFrom> frame_;
    // The view until the frame adopts it.
    std::unique_ptr<CQuillNet_VTView> view_;
    std::unique_ptr<vt::VtProgram> program_;
    std::unique_ptr<QLocalServer> instanceServer_;
    bool finished_ = false;
    int frontRequests_ = 0;
};

}  // namespace qn::ui
