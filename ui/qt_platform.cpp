#include "ui/qt_platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <memory>

namespace qn::ui {

using platform::MbButtons;
using platform::MbIcon;
using platform::MbResult;

MbResult unshownAnswer(MbButtons buttons) {
    switch (buttons) {
        case MbButtons::Ok:
            return MbResult::Ok;
        case MbButtons::OkCancel:
            return MbResult::Cancel;
        case MbButtons::YesNo:
        case MbButtons::YesNoCancel:
            return MbResult::No;
    }
    return MbResult::Ok;
}

QtMessageBoxes::QtMessageBoxes(QString programTitle) : title_(std::move(programTitle)) {}

void QtMessageBoxes::setQuitting() {
    quitting_.store(true);
    std::lock_guard lock(mutex_);
    answered_.notify_all();
}

MbResult QtMessageBoxes::show(std::string_view text, std::string_view caption, MbButtons buttons,
                              MbIcon icon) {
    if (quitting_.load()) return unshownAnswer(buttons);
    const QString qtext = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const QString qcaption =
        caption.empty()
            ? title_
            : QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
    if (QThread::currentThread() == thread()) return showHere(qtext, qcaption, buttons, icon);

    // Shown by the UI thread; this thread waits for the answer or for the quit.
    struct Pending {
        bool done = false;
        MbResult result = MbResult::Ok;
    };
    auto pending = std::make_shared<Pending>();
    QMetaObject::invokeMethod(
        this,
        [this, pending, qtext, qcaption, buttons, icon] {
            MbResult result = quitting_.load() ? unshownAnswer(buttons)
                                               : showHere(qtext, qcaption, buttons, icon);
            std::lock_guard lock(mutex_);
            pending->result = result;
            pending->done = true;
            answered_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return pending->done || quitting_.load(); });
    return pending->done ? pending->result : unshownAnswer(buttons);
}

MbResult QtMessageBoxes::showHere(const QString& text, const QString& caption, MbButtons buttons,
                                  MbIcon icon) {
    // A box asked for by the read thread finds no active window: parented to the owner, Qt
    // centres it over the program's window.
    QWidget* const owner = owner_ ? owner_->window() : QApplication::activeWindow();
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
        case MbIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MbIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MbIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MbIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case MbIcon::None:
            break;
    }
    switch (buttons) {
        case MbButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MbButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MbButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MbButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MbResult::Ok;
        case QMessageBox::Yes:
            return MbResult::Yes;
        case QMessageBox::No:
            return MbResult::No;
        default:
            return MbResult::Cancel;
    }
}

void QtMessageQueue::post(platform::MessageId id, std::uintptr_t wParam) {
    QMetaObject::invokeMethod(
        this,
        [this, id, wParam] {
            if (handler_) handler_(id, wParam);
        },
        Qt::QueuedConnection);
}

}  // namespace qn::ui
