#pragma once
// The main window both programs share: menus, toolbar, notification icon with its popup and
// full-screen mode around the program's cell view. What differs between the programs (names,
// the command table with its enabling, what a command does, the quit question, the settings
// behind full screen) comes through ShellProgram.

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QToolBar>

#include <map>
#include <string_view>
#include <vector>

#include "common/shell/shell.h"
#include "ui/cell_view.h"

namespace qn::ui {

struct ShellCommand {
    unsigned id;
    QString text;
};

struct ShellMenu {
    QString title;
    std::vector<ShellCommand> commands;
};

// A program's names and commands.
struct ShellLayout {
    QString title;      // window title, application name and notification tip
    QString shortName;  // the notification popup's title
    std::vector<ShellMenu> menus;
    // The toolbar's commands in order, 0 for a gap; a command on no menu gets its text here.
    std::vector<ShellCommand> toolBar;
    QString fileFilter;  // "Name (*.ext)" for the file dialogs
};

// The menus and toolbar both programs have: "File", "Telnet" with the key panel under
// keyPanelText, "Help" with the About entry; the documents' filter.
ShellLayout standardLayout(std::string_view title, std::string_view shortName,
                           const QString& keyPanelText, std::string_view documentFilter);

class ShellProgram {
  public:
    virtual ~ShellProgram() = default;
    virtual const ShellLayout& layout() const = 0;
    virtual bool commandEnabled(unsigned id) const = 0;
    // A command the window does not carry out itself.
    virtual void runCommand(unsigned id) = 0;
    // The close request: true when the program may end.
    virtual bool quitRequested() = 0;
    // The notification popup's Exit.
    virtual void trayExit() = 0;
    // The About box's lines.
    virtual QStringList aboutLines() const = 0;
    // The full-screen state and setting of the session record.
    virtual bool fullScreenOn() const = 0;
    virtual void setFullScreenOn(bool on) = 0;
    virtual bool taskBarOnFullScreen() const = 0;
};

class ShellWindow : public QMainWindow {
  public:
    // Takes the view over as its central widget.
    ShellWindow(ShellProgram& program, CellView* view);

    CellView& cellView() { return *view_; }
    QAction* action(unsigned id) const;
    QMenu* trayMenu() const { return trayMenu_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QToolBar* toolBar() const { return toolBar_; }

    // Key-down messages reaching the frame: 0 enters full screen, Escape leaves it.
    void frameKeyDown(int virtualKey);
    bool fullScreenOn() const { return program_.fullScreenOn(); }
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

    ShellProgram& program_;
    CellView* view_;
    QToolBar* toolBar_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::map<unsigned, QAction*> actions_;
    QRect normalGeometry_;
};

// Icons of our own for the toolbar, drawn at 16 × 17.
QIcon commandIcon(unsigned id);

}  // namespace qn::ui
