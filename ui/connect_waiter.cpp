#include "ui/connect_waiter.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qn::ui {

namespace {

// Shorter connects finish without a box flashing up.
constexpr int kShowAfterMs = 300;
constexpr int kPollMs = 20;

}  // namespace

void QtConnectWaiter::wait(const std::function<bool()>& finished,
                           const std::function<void()>& cancel) {
    QDialog box(owner_);
    box.setWindowTitle(QStringLiteral("Connecting..."));
    box.setModal(true);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(new QLabel(QStringLiteral("Connecting..."), &box));
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), &box);
    layout->addWidget(cancelButton);
    QObject::connect(cancelButton, &QPushButton::clicked, &box, [&] {
        cancelButton->setEnabled(false);
        cancel();
    });
    // Closing the box is a cancel too; it stays until the connect has ended.
    QObject::connect(&box, &QDialog::rejected, &box, [&] { cancel(); });

    // First without the operator's input (a second Connect must not start meanwhile), then,
    // once the modal box shows, with it: the box takes the input.
    QElapsedTimer elapsed;
    elapsed.start();
    for (const bool boxShown : {false, true}) {
        if (finished()) break;
        if (boxShown) box.show();
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (finished() || (!boxShown && elapsed.elapsed() >= kShowAfterMs)) loop.quit();
        });
        poll.start(kPollMs);
        loop.exec(boxShown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    }
    box.hide();
}

}  // namespace qn::ui
