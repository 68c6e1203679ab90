#include "ui/shell_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>

#include "common/device/virtual_keys.h"
#include "ui/file_dialogs.h"

namespace qn::ui {

namespace cmd = shell::command;

QIcon commandIcon(unsigned id) {
    QPixmap pixmap(16, 17);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (id) {
        case cmd::kConfigure:  // a sheet with lines
            p.fillRect(2, 1, 12, 15, Qt::white);
            p.setPen(Qt::black);
            p.drawRect(2, 1, 11, 14);
            for (int y = 4; y <= 12; y += 3)
                p.drawLine(4, y, 11, y);
            break;
        case cmd::kConnect:  // two ends joined
            p.setPen(QPen(QColor(0, 128, 0), 2));
            p.drawLine(1, 8, 15, 8);
            p.fillRect(1, 5, 4, 7, QColor(0, 128, 0));
            p.fillRect(11, 5, 4, 7, QColor(0, 128, 0));
            break;
        case cmd::kDisconnect:  // two ends apart
            p.fillRect(1, 5, 4, 7, QColor(176, 0, 0));
            p.fillRect(11, 5, 4, 7, QColor(176, 0, 0));
            p.setPen(QPen(QColor(176, 0, 0), 2));
            p.drawLine(5, 8, 6, 8);
            p.drawLine(10, 8, 11, 8);
            break;
        case cmd::kKeyPanel:  // a key pad
            p.setPen(Qt::black);
            p.drawRect(1, 3, 13, 10);
            for (int x = 3; x <= 11; x += 4)
                for (int y = 5; y <= 10; y += 4)
                    p.fillRect(x, y, 2, 2, Qt::black);
            break;
        case cmd::kFullScreen:  // four corners
            p.setPen(QPen(Qt::black, 2));
            p.drawLine(1, 1, 5, 1);
            p.drawLine(1, 1, 1, 5);
            p.drawLine(14, 1, 10, 1);
            p.drawLine(14, 1, 14, 5);
            p.drawLine(1, 15, 5, 15);
            p.drawLine(1, 15, 1, 11);
            p.drawLine(14, 15, 10, 15);
            p.drawLine(14, 15, 14, 11);
            break;
        default:  // the program: a small terminal
            p.fillRect(0, 1, 16, 13, Qt::black);
            p.fillRect(2, 3, 12, 9, QColor(0, 96, 160));
            p.setPen(Qt::white);
            p.drawLine(4, 6, 6, 7);
            p.drawLine(6, 7, 4, 8);
            p.drawLine(8, 9, 11, 9);
            p.fillRect(4, 14, 8, 2, Qt::darkGray);
            break;
    }
    return QIcon(pixmap);
}

ShellLayout standardLayout(std::string_view title, std::string_view shortName,
                           const QString& keyPanelText, std::string_view documentFilter) {
    const QString name = QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size()));
    return {name,
            QString::fromLatin1(shortName.data(), static_cast<qsizetype>(shortName.size())),
            {{QStringLiteral("File"),
              {{cmd::kConfigure, QStringLiteral("Configure")},
               {cmd::kOpen, QStringLiteral("Open")},
               {cmd::kSave, QStringLiteral("Save ")},
               {cmd::kSaveAs, QStringLiteral("Save &As...")},
               {cmd::kExit, QStringLiteral("E&xit")},
               {cmd::kSetConfigFile, QStringLiteral("Set Config File...")}}},
             {QStringLiteral("Telnet"),
              {{cmd::kConnect, QStringLiteral("&Connect")},
               {cmd::kDisconnect, QStringLiteral("Disconnect")},
               {cmd::kKeyPanel, keyPanelText}}},
             {QStringLiteral("Help"), {{cmd::kAbout, QStringLiteral("&About %1...").arg(name)}}}},
            {{cmd::kConfigure, {}},
             {cmd::kConnect, {}},
             {0, {}},
             {cmd::kDisconnect, {}},
             {cmd::kKeyPanel, {}},
             {cmd::kFullScreen, QStringLiteral("Full screen")}},
            dialogFilter(documentFilter)};
}

ShellWindow::ShellWindow(ShellProgram& program, CellView* view) : program_(program), view_(view) {
    const ShellLayout& layout = program_.layout();
    setWindowTitle(layout.title);
    setWindowIcon(commandIcon(0));
    setCentralWidget(view_);

    for (const ShellMenu& entry : layout.menus) {
        QMenu* menu = menuBar()->addMenu(entry.title);
        for (const ShellCommand& command : entry.commands)
            addCommand(menu, command.text, command.id);
        connect(menu, &QMenu::aboutToShow, this, [this] { updateCommands(); });
    }

    // The toolbar's buttons share the menu commands; one on no menu is made here.
    toolBar_ = addToolBar(QStringLiteral("Toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setIconSize(QSize(16, 17));
    for (const ShellCommand& command : layout.toolBar) {
        if (command.id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* action = this->action(command.id);
        if (action == nullptr) {
            action = addCommand(toolBar_, command.text, command.id);
        } else {
            toolBar_->addAction(action);
        }
        action->setIcon(commandIcon(command.id));
    }

    // The notification icon and its popup.
    trayMenu_ = new QMenu(layout.shortName, this);
    addCommand(trayMenu_, QStringLiteral("Maximize"), cmd::kMaximize);
    addCommand(trayMenu_, QStringLiteral("Exit"), cmd::kTrayExit);
    tray_ = new QSystemTrayIcon(commandIcon(0), this);
    tray_->setToolTip(windowTitle());
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) bringToFront();
            });
    if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();

    view_->setFrameKeyHandler([this](int key) { frameKeyDown(key); });
    view_->setConnectionHandler([this] { updateCommands(); });
    updateCommands();
}

QAction* ShellWindow::addCommand(QWidget* menu, const QString& text, unsigned id) {
    auto* action = new QAction(text, this);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] {
        switch (id) {
            case cmd::kExit:
                close();
                break;
            case cmd::kMaximize:
                showNormal();
                bringToFront();
                break;
            case cmd::kTrayExit:
                program_.trayExit();
                break;
            case cmd::kFullScreen:
                frameKeyDown(0);
                break;
            case cmd::kRepaint:
                view_->viewport()->update();
                break;
            case cmd::kNothing:
                break;
            default:
                program_.runCommand(id);
                break;
        }
        updateCommands();
    });
    menu->addAction(action);
    actions_[id] = action;
    return action;
}

QAction* ShellWindow::action(unsigned id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void ShellWindow::updateCommands() {
    for (auto& [id, action] : actions_)
        action->setEnabled(program_.commandEnabled(id));
}

void ShellWindow::frameKeyDown(int virtualKey) {
    if (virtualKey == 0 && !fullScreenOn())
        enterFullScreen();
    else if (virtualKey == vk::kEscape && fullScreenOn())
        leaveFullScreen();
}

void ShellWindow::enterFullScreen() {
    const bool keepTaskBar = program_.taskBarOnFullScreen();
    program_.setFullScreenOn(true);
    normalGeometry_ = geometry();
    menuBar()->hide();
    toolBar_->hide();
    QScreen* screen = this->screen();
    if (keepTaskBar && screen != nullptr) {
        // The desktop's panels stay visible: the window, its frame included, fills the area
        // they leave.
        const QRect frame = frameGeometry();
        const QRect client = geometry();
        const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                               frame.right() - client.right(), frame.bottom() - client.bottom());
        setGeometry(screen->availableGeometry().marginsRemoved(margins));
    } else {
        showFullScreen();
    }
    view_->setFocus();
}

void ShellWindow::leaveFullScreen() {
    program_.setFullScreenOn(false);
    if (isFullScreen()) showNormal();
    menuBar()->show();
    toolBar_->show();
    if (normalGeometry_.isValid()) setGeometry(normalGeometry_);
    view_->setFocus();
}

void ShellWindow::removeTrayIcon() {
    tray_->hide();
}

void ShellWindow::bringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void ShellWindow::closeEvent(QCloseEvent* event) {
    if (!program_.quitRequested()) {
        event->ignore();
        return;
    }
    event->accept();
}

void ShellWindow::keyPressEvent(QKeyEvent* event) {
    const int virtualKey = virtualKeyFor(event->key());
    if (virtualKey != 0) frameKeyDown(virtualKey);
    QMainWindow::keyPressEvent(event);
}

}  // namespace qn::ui
