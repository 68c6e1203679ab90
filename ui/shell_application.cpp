#include "ui/shell_application.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QLocalSocket>
#include <QMessageBox>
#include <QRegularExpression>

#include <unistd.h>

#include "ui/file_dialogs.h"

namespace qn::ui {

std::optional<QSize> parseScreenSize(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{3,4})x(\\d{3,4})$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size == QSize(240, 320) || size == QSize(480, 640)) return size;
    return std::nullopt;
}

QString instanceNameFor(const QString& programName, const std::filesystem::path& settingsDir) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(settingsDir.string()),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QStringLiteral("%1-%2-%3")
        .arg(programName)
        .arg(::getuid())
        .arg(QString::fromLatin1(digest));
}

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

ShellApplication::ShellApplication(platform::Services& services, QtMessageQueue& queue,
                                   QtMessageBoxes* messages, ShellOptions options)
    : services_(services), queue_(queue), messages_(messages), options_(std::move(options)) {}

bool ShellApplication::claimSingleInstance() {
    if (options_.instanceName.isEmpty())
        options_.instanceName = instanceNameFor(layout().title, options_.settingsDir);
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

std::optional<int> ShellApplication::start() {
    // Sockets need no start-up here.
    if (!claimSingleInstance()) return 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    view_ = createProgram();
    started_ = true;
    queue_.setHandler(
        [this](platform::MessageId id, std::uintptr_t wParam) { handleMessage(id, wParam); });

    if (!startDevice()) {
        QApplication::restoreOverrideCursor();
        return 1;
    }

    frame_ = createFrame(view_.release());
    // Boxes open centred over the program's window, whichever thread asks for them.
    if (messages_ != nullptr) messages_->setOwnerWindow(frame_.get());
    screenMode_ = device::screenModeForWidth(options_.windowSize.width());
    setScreenMode(screenMode_);
    frame_->resize(options_.windowSize);
    QApplication::restoreOverrideCursor();
    frame_->show();
    frame_->bringToFront();
    refreshView();

    const reader::StartupRequests requests = loadAtStartup();
    // A document saved in full screen would leave the flag set on a window that is not:
    // auto-full-screen could not enter it and the keyboard would wait for its escape.
    setFullScreenOn(false);
    refreshView();
    if (requests.connect) connectSession();
    if (requests.fullScreen) frame_->frameKeyDown(0);
    frame_->updateCommands();
    return std::nullopt;
}

bool ShellApplication::quitRequested() {
    if (!confirmQuit()) return false;
    if (frame_) frame_->removeTrayIcon();
    return true;
}

void ShellApplication::trayExit() {
    QCoreApplication::exit(shell::kTrayExitCode);
}

bool ShellApplication::fullScreenOn() const {
    const ScreenFields fields = screenFields();
    std::lock_guard lock(fields.lock);
    return fields.fullScreenOn.get() != 0;
}

void ShellApplication::setFullScreenOn(bool on) {
    const ScreenFields fields = screenFields();
    std::lock_guard lock(fields.lock);
    fields.fullScreenOn.set(on ? 1 : 0);
}

bool ShellApplication::taskBarOnFullScreen() const {
    const ScreenFields fields = screenFields();
    std::lock_guard lock(fields.lock);
    return fields.taskBarOnFullScreen.get() != 0;
}

void ShellApplication::finish() {
    if (finished_) return;
    finished_ = true;
    // No box may hold up the read thread from here on.
    if (messages_ != nullptr) {
        messages_->setQuitting();
        messages_->setOwnerWindow(nullptr);
    }
    queue_.setHandler({});
    // The socket closes and the read thread ends before the libraries go.
    if (started_) releaseProgram();
    frame_.reset();
    view_.reset();
    instanceServer_.reset();
}

reader::FileChooser ShellApplication::chooseOpen() {
    return fileOpenChooser(frame_.get(), layout().fileFilter);
}

reader::FileChooser ShellApplication::chooseSave() {
    return fileSaveChooser(frame_.get(), layout().fileFilter);
}

void ShellApplication::showAbout() {
    QMessageBox::about(frame_.get(), QStringLiteral("About ") + layout().title,
                       aboutLines().join(QLatin1Char('\n')));
}

dialogs::DialogContext ShellApplication::dialogContext(QtDialogRunner& runner) {
    return {services_.messages, runner, screenMode_};
}

bool ShellApplication::runSheet(dialogs::PropertySheet& sheet) {
    const device::Rect screen{0, 0, screenMode_ == 2 ? 480 : 240, screenMode_ == 2 ? 640 : 320};
    return SheetWindow(sheet, screen, frame_.get()).run();
}

}  // namespace qn::ui
