#include "ui/vt_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>

#include "vt/shell/vt_program.h"

namespace qn::ui {

namespace cmd = vt::command;

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
        case cmd::kVtKey:  // a key pad
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

CQuillNet_VTFrom::CQuillNet_VTFrom(vt::VtProgram& program, Handlers handlers,
                                   CQuillNet_VTView* view)
    : program_(program), handlers_(std::move(handlers)), view_(view) {
    setWindowTitle(QString::fromLatin1(vt::kVtProgramName.data(),
                                       static_cast<qsizetype>(vt::kVtProgramName.size())));
    setWindowIcon(commandIcon(0));
    setCentralWidget(view_);

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    addCommand(file, QStringLiteral("Configure"), cmd::kConfigure);
    addCommand(file, QStringLiteral("Open"), cmd::kOpen);
    addCommand(file, QStringLiteral("Save "), cmd::kSave);
    addCommand(file, QStringLiteral("Save &As..."), cmd::kSaveAs);
    addCommand(file, QStringLiteral("E&xit"), cmd::kExit);
    addCommand(file, QStringLiteral("Set Config File..."), cmd::kSetConfigFile);
    QMenu* telnet = menuBar()->addMenu(QStringLiteral("Telnet"));
    addCommand(telnet, QStringLiteral("&Connect"), cmd::kConnect);
    addCommand(telnet, QStringLiteral("Disconnect"), cmd::kDisconnect);
    addCommand(telnet, QStringLiteral("VTKey"), cmd::kVtKey);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    addCommand(help, QStringLiteral("&About QuillNet_VT..."), cmd::kAbout);
    for (QMenu* menu : {file, telnet, help})
        connect(menu, &QMenu::aboutToShow, this, [this] { updateCommands(); });

    // The toolbar's own buttons share the menu commands; the full-screen one has no menu entry.
    toolBar_ = addToolBar(QStringLiteral("Toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setIconSize(QSize(16, 17));
    toolBar_->addAction(actions_[cmd::kConfigure]);
    toolBar_->addAction(actions_[cmd::kConnect]);
    toolBar_->addSeparator();
    toolBar_->addAction(actions_[cmd::kDisconnect]);
    toolBar_->addAction(actions_[cmd::kVtKey]);
    addCommand(toolBar_, QStringLiteral("Full screen"), cmd::kFullScreen);
    for (unsigned id :
         {cmd::kConfigure, cmd::kConnect, cmd::kDisconnect, cmd::kVtKey, cmd::kFullScreen})
        actions_[id]->setIcon(commandIcon(id));

    // The notification icon and its popup "QuillVT".
    trayMenu_ = new QMenu(QStringLiteral("QuillVT"), this);
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

QAction* CQuillNet_VTFrom::addCommand(QWidget* menu, const QString& text, unsigned id) {
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
                if (handlers_.trayExit) handlers_.trayExit();
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
                if (handlers_.command) handlers_.command(id);
                break;
        }
        updateCommands();
    });
    menu->addAction(action);
    actions_[id] = action;
    return action;
}

QAction* CQuillNet_VTFrom::action(unsigned id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CQuillNet_VTFrom::updateCommands() {
    for (auto& [id, action] : actions_)
        action->setEnabled(program_.commandEnabled(id));
}

bool CQuillNet_VTFrom::fullScreenOn() const {
    std::lock_guard lock(program_.sessionLock());
    return program_.session().settings.fullScreenOn.get() != 0;
}

void CQuillNet_VTFrom::frameKeyDown(int virtualKey) {
    if (virtualKey == 0 && !fullScreenOn())
        enterFullScreen();
    else if (virtualKey == vt::vk::kEscape && fullScreenOn())
        leaveFullScreen();
}

void CQuillNet_VTFrom::enterFullScreen() {
    bool keepTaskBar;
    {
        std::lock_guard lock(program_.sessionLock());
        keepTaskBar = program_.session().settings.taskBarOnFullScreen.get() != 0;
        program_.session().settings.fullScreenOn.set(1);
    }
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

void CQuillNet_VTFrom::leaveFullScreen() {
    {
        std::lock_guard lock(program_.sessionLock());
        program_.session().settings.fullScreenOn.set(0);
    }
    if (isFullScreen()) showNormal();
    menuBar()->show();
    toolBar_->show();
    if (normalGeometry_.isValid()) setGeometry(normalGeometry_);
    view_->setFocus();
}

void CQuillNet_VTFrom::removeTrayIcon() {
    tray_->hide();
}

void CQuillNet_VTFrom::bringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void CQuillNet_VTFrom::closeEvent(QCloseEvent* event) {
    if (handlers_.quit && !handlers_.quit()) {
        event->ignore();
        return;
    }
    event->accept();
}

void CQuillNet_VTFrom::keyPressEvent(QKeyEvent* event) {
    const int virtualKey = virtualKeyFor(event->key());
    if (virtualKey != 0) frameKeyDown(virtualKey);
    QMainWindow::keyPressEvent(event);
}

}  // namespace qn::ui
