#pragma once
// CQuillNet_VTFrom: the main window with its menus, toolbar, notification icon and full-screen
// mode around the terminal view.

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QToolBar>

#include <functional>
#include <map>

#include "ui/vt_view.h"

namespace qn::vt {
class VtProgram;
}

namespace qn::ui {

class CQuillNet_VTFrom final : public QMainWindow {
  public:
    struct Handlers {
        // A command that the frame does not carry out itself.
        std::function<void(unsigned)> command;
        // The close request: true when the program may end.
        std::function<bool()> quit;
        // The notification popup's Exit.
        std::function<void()> trayExit;
    };

    // Takes the view over as its central widget.
    CQuillNet_VTFrom(vt::VtProgram& program, Handlers handlers, CQuillNet_VTView* view);

    CQuillNet_VTView& view() { return *view_; }
    QAction* action(unsigned id) const;
    QMenu* trayMenu() const { return trayMenu_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QToolBar* toolBar() const { return toolBar_; }

    // Key-down messages reaching the frame: 0 enters full screen, Escape leaves it.
    void frameKeyDown(int virtualKey);
    bool fullScreenOn() const;
    // Offered commands after a change of connection or settings.
    void updateCommands();
    void removeTrayIcon();
    // Brings the window to the front (second start, tray double click, Maximize).
    void bringToFront();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QAction* addCommand(QWidget* menu, const QString& text, unsigned id);
    void enterFullScreen();
    void leaveFullScreen();

    vt::VtProgram& program_;
    Handlers handlers_;
    CQuillNet_VTView* view_;
    QToolBar* toolBar_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::map<unsigned, QAction*> actions_;
    QRect normalGeometry_;
};

// Icons of our own for the toolbar, drawn at 16 × 17.
QIcon commandIcon(unsigned id);

}  // namespace qn::ui
