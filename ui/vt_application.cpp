#include "ui/vt_application.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFileDialog>

#include <QLocalSocket>
#include <QMessageBox>
#include <QRegularExpression>
#include "ui/dialog_window.h"
#include "vt/dialogs/vt_settings_sheet.h"

#include <unistd.h>

namespace qn::ui {

namespace cmd = vt::command;

std::optional<QSize> parseScreenSize(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{3,4})x(\\d{3,4})$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size == QSize(240, 320) || size == QSize(480, 640)) return size;
    return std::nullopt;
}

QString instanceNameFor(const std::filesystem::path& settingsDir) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(settingsDir.string()),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QStringLiteral("QuillNet_VT-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
}

VtApplication::VtApplication(platform::Services& services, QtMessageQueue& queue,
                             QtMessageBoxes* messages, VtApplicationOptions options)
    : services_(services), queue_(queue), messages_(messages), options_(std::move(options)) {
    if (options_.instanceName.isEmpty())
        options_.instanceName = instanceNameFor(options_.settingsDir);
}

VtApplication::~VtApplication() {
    finish();
}

bool VtApplication::claimSingleInstance() {
    // A running instance answers: it comes to the front and this start ends.
    QLocalSocket probe;
    probe.connectToServer(options_.instanceName);
    if (probe.waitForConnected(500)) {
        probe.write("front\n");
        probe.waitForBytesWritten(500);
        probe.disconnectFromServer();
        return false;
    }
    QLocalServer::removeServer(options_.instanceName);
    instanceServer_ = std::make_unique<QLocalServer>();
    instanceServer_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!instanceServer_->listen(options_.instanceName)) return true;
    connect(instanceServer_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = instanceServer_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            ++frontRequests_;
            if (frame_) frame_->bringToFront();
        }
    });
    return true;
}

std::optional<int> VtApplication::start() {
    // Sockets need no start-up here.
    if (!claimSingleInstance()) return 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);

    CQuillNet_VTFrom::Handlers handlers;
    handlers.command = [this](unsigned id) { onCommand(id); };
    handlers.quit = [this] { return onQuit(); };
    handlers.trayExit = [] { QCoreApplication::exit(vt::kTrayExitCode); };
    // The view is made first, as the program reports to it; the frame adopts it later.
    auto standalone = std::make_unique<CQuillNet_VTView>();
    CQuillNet_VTView* viewPtr = standalone.get();
    vt::VtProgram::Views views{*viewPtr, *viewPtr, *viewPtr,
                               [viewPtr] { viewPtr->viewport()->update(); }};
    program_ = std::make_unique<vt::VtProgram>(services_, options_.settingsDir, views);
    view_ = std::move(standalone);

    queue_.setHandler([this](platform::MessageId id, std::uintptr_t wParam) {
        if (program_ && id == program_->decodeMessage()) program_->handleDecode(wParam);
    });

    if (!program_->startDevice()) {
        QApplication::restoreOverrideCursor();
        return 1;
    }

    frame_ = std::make_unique<CQuillNet_VTFrom>(*program_, std::move(handlers), view_.release());
    frame_->view().attach(program_.get());
    if (messages_ != nullptr) messages_->setOwnerWindow(frame_.get());
    program_->device().setScreenMode(device::screenModeForWidth(options_.windowSize.width()));
    frame_->resize(options_.windowSize);
    QApplication::restoreOverrideCursor();
    frame_->show();
    frame_->bringToFront();
    frame_->view().rebuildFont();
    frame_->view().applyScrollBarsSetting();

    const reader::StartupRequests requests = program_->loadAtStartup();
    {
        // A document saved in full screen would leave the flag set on a window that is not:
        // auto-full-screen could not enter it and the keyboard would wait for its escape.
        std::lock_guard lock(program_->sessionLock());
        program_->session().settings.fullScreenOn.set(0);
    }
    frame_->view().rebuildFont();
    frame_->view().applyScrollBarsSetting();
    if (requests.connect) program_->transport().connectSession();
    if (requests.fullScreen) frame_->frameKeyDown(0);
    frame_->updateCommands();
    return std::nullopt;
}

void VtApplication::onCommand(unsigned id) {
    if (!program_) return;
    auto chooseOpen = [this]() -> std::optional<std::string> {
        QString path = QFileDialog::getOpenFileName(frame_.get(), QString(), QString(),
                                                    QStringLiteral("Qnvt Files (*.qnvt)"));
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
    auto chooseSave = [this]() -> std::optional<std::string> {
        QString path = QFileDialog::getSaveFileName(frame_.get(), QString(), QString(),
                                                    QStringLiteral("Qnvt Files (*.qnvt)"));
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
    };
    switch (id) {
        case cmd::kConnect:
            program_->transport().connectSession();
            break;
        case cmd::kDisconnect:
            program_->transport().disconnectCommand();
            break;
        case cmd::kOpen:
            program_->document().open(program_->connected(), chooseOpen);
            frame_->view().rebuildFont();
            break;
        case cmd::kSave:
            program_->document().save();
            break;
        case cmd::kSaveAs:
            program_->document().saveAs(chooseSave);
            break;
        case cmd::kAbout:
            QMessageBox::about(frame_.get(), QStringLiteral("About QuillNet_VT"),
                               aboutLines().join(QLatin1Char('\n')));
            break;
        case cmd::kConfigure:
            openSettingsSheet();
            break;
        case cmd::kSetConfigFile:
            setConfigFile(chooseOpen);
            break;
        case cmd::kVtKey:
            openKeyPanel();
            break;
        default:
            break;
    }
}

dialogs::DialogContext VtApplication::dialogContext(QtDialogRunner& runner) {
    return {services_.messages, runner, program_->device().screenMode()};
}

void VtApplication::openSettingsSheet() {
    QtDialogRunner runner(frame_.get());
    dialogs::DialogContext context = dialogContext(runner);
    vt::VtSettingsSheet sheet(program_->session(), program_->document(), program_->reader(),
                              services_.messages, program_->device().modelName(),
                              program_->device().systemInfoDigit(), program_->connected());
    dialogs::PropertySheet& pages = sheet.open(context);
    const int mode = program_->device().screenMode();
    const device::Rect screen{0, 0, mode == 2 ? 480 : 240, mode == 2 ? 640 : 320};
    const bool ok = SheetWindow(pages, screen, frame_.get()).run();
    sheet.finish(ok, reader::askWithMessageBox(services_.messages));
    frame_->view().rebuildFont();
    frame_->view().applyScrollBarsSetting();
    frame_->view().update();
}

void VtApplication::setConfigFile(const std::function<std::optional<std::string>()>& chooseOpen) {
    QtDialogRunner runner(frame_.get());
    dialogs::DialogContext context = dialogContext(runner);
    vt::SetConfigFileDialog dialog(program_->document().currentSettingsPath(),
                                   [this, &chooseOpen]() -> std::optional<std::string> {
                                       auto chosen = chooseOpen();
                                       if (!chosen) return std::nullopt;
                                       return program_->document().browsedPath(*chosen);
                                   });
    dialog.open(context);
    if (runner.runModal(dialog) != dialogs::DialogResult::Ok) return;
    program_->document().setConfigFile(dialog.path());
    frame_->view().rebuildFont();
    frame_->view().applyScrollBarsSetting();
}

void VtApplication::openKeyPanel() {
    // Only while connected; otherwise the command does nothing.
    if (!program_->connected()) return;
    QtDialogRunner runner(frame_.get());
    dialogs::DialogContext context = dialogContext(runner);
    vt::VtKeyPanel panel;
    panel.open(context);
    runner.runModal(panel);
    // The panel's keys go through the key map like real keys.
    if (const int key = panel.virtualKey(); key != 0) program_->keyboard().keyDown(key);
}

QStringList VtApplication::aboutLines() const {
    QStringList lines;
    lines << QString::fromLatin1(vt::kVtVersionText.data(),
                                 static_cast<qsizetype>(vt::kVtVersionText.size()));
    const std::string version = program_ ? program_->aboutReaderVersion() : std::string();
    lines << QString::fromLatin1(vt::kReaderVersionLabel.data(),
                                 static_cast<qsizetype>(vt::kReaderVersionLabel.size())) +
                 QLatin1Char(' ') + QString::fromLatin1(version.c_str());
    return lines;
}

bool VtApplication::onQuit() {
    if (!program_ || !program_->confirmQuit()) return false;
    if (frame_) frame_->removeTrayIcon();
    return true;
}

void VtApplication::finish() {
    if (finished_) return;
    finished_ = true;
    // No box may hold up the read thread from here on.
    if (messages_ != nullptr) messages_->setQuitting();
    queue_.setHandler({});
    if (frame_) frame_->view().attach(nullptr);
    if (view_) view_->attach(nullptr);
    if (program_) {
        // The socket closes and the read thread ends before the libraries go.
        program_->freeLibraries();
        program_.reset();
    }
    frame_.reset();
    view_.reset();
    instanceServer_.reset();
}

}  // namespace qn::ui
