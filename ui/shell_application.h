#pragma once
// What both programs' application objects share: the single instance, the start-up order
// around the program's own steps, the decode message on the UI thread, the About box, the
// file dialogs, the settings sheet window, the quit and the exit. Each program derives and
// supplies its program object, its view and frame, and its ShellProgram answers.

#include <QLocalServer>
#include <QObject>
#include <QSize>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "common/dialogs/dialog_model.h"
#include "common/reader/settings_files.h"
#include "platform/services.h"
#include "ui/dialog_window.h"
#include "ui/qt_platform.h"
#include "ui/shell_window.h"

namespace qn::ui {

struct ShellOptions {
    std::filesystem::path settingsDir;
    // 240 × 320 by default, 480 × 640 for screen mode 2.
    QSize windowSize{240, 320};
    // The single-instance rendezvous; one per program and settings folder unless given.
    QString instanceName;
};

// "--screen 480x640" and the like; nullopt for anything else.
std::optional<QSize> parseScreenSize(const QString& text);
// The single-instance name of a program for a settings folder.
QString instanceNameFor(const QString& programName, const std::filesystem::path& settingsDir);
QString latin1(std::string_view text);

class ShellApplication : public QObject, public ShellProgram {
  public:
    // messages: the services' message boxes when they are the Qt ones (told when quitting).
    ShellApplication(platform::Services& services, QtMessageQueue& queue, QtMessageBoxes* messages,
                     ShellOptions options);
    // Derived classes call finish() in their destructor: it needs their parts.
    ~ShellApplication() override = default;

    // Runs start-up. nullopt: running, enter the event loop; a value: end with that code.
    std::optional<int> start();
    // After the event loop: the connection is dropped, the libraries freed.
    void finish();

    ShellWindow* shellWindow() { return frame_.get(); }
    // How often a second start asked this one to come to the front.
    int frontRequests() const { return frontRequests_; }

    // ShellProgram
    bool quitRequested() override;
    void trayExit() override;
    bool fullScreenOn() const override;
    void setFullScreenOn(bool on) override;
    bool taskBarOnFullScreen() const override;

  protected:
    // The session record's full-screen fields and the lock that guards them.
    struct ScreenFields {
        std::mutex& lock;
        reader::LeInt32& fullScreenOn;
        reader::LeInt32& taskBarOnFullScreen;
    };
    virtual ScreenFields screenFields() const = 0;

    // Start-up steps of the program. The view comes first, as the program reports to it.
    virtual std::unique_ptr<CellView> createProgram() = 0;
    // Device name, model, system and reader libraries, defaults; false ends the program.
    virtual bool startDevice() = 0;
    virtual std::unique_ptr<ShellWindow> createFrame(CellView* view) = 0;
    virtual void setScreenMode(int mode) = 0;
    // The font and scroll bars from the session.
    virtual void refreshView() = 0;
    virtual reader::StartupRequests loadAtStartup() = 0;
    virtual void connectSession() = 0;
    // A message posted to the UI thread (the decode message).
    virtual void handleMessage(platform::MessageId id, std::uintptr_t wParam) = 0;
    // The quit question; on OK the readers are halted.
    virtual bool confirmQuit() = 0;
    // At exit: the view detached, the connection closed, the libraries freed.
    virtual void releaseProgram() = 0;

    // For the commands.
    reader::FileChooser chooseOpen();
    reader::FileChooser chooseSave();
    void showAbout();
    int screenMode() const { return screenMode_; }
    const ShellOptions& options() const { return options_; }
    dialogs::DialogContext dialogContext(QtDialogRunner& runner);
    // The settings sheet as a window of the screen's size; true on OK.
    bool runSheet(dialogs::PropertySheet& sheet);

    platform::Services& services_;

  private:
    bool claimSingleInstance();

    QtMessageQueue& queue_;
    QtMessageBoxes* messages_;
    ShellOptions options_;
    std::unique_ptr<ShellWindow> frame_;
    // The view until the frame adopts it.
    std::unique_ptr<CellView> view_;
    std::unique_ptr<QLocalServer> instanceServer_;
    int screenMode_ = 1;
    bool started_ = false;
    bool finished_ = false;
    int frontRequests_ = 0;
};

}  // namespace qn::ui
