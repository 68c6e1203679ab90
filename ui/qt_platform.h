#pragma once
// The handheld's message boxes and UI message queue on top of the Qt event loop.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/message_box.h"
#include "platform/message_queue.h"

namespace qn::ui {

// Qt message boxes. A box asked for on another thread is shown by the UI thread while the
// asking thread waits; once the program quits, every box returns at once without showing, so a
// read thread never holds up the exit.
class QtMessageBoxes final : public QObject, public platform::MessageBoxes {
  public:
    explicit QtMessageBoxes(QString programTitle);
    platform::MbResult show(std::string_view text, std::string_view caption,
                            platform::MbButtons buttons, platform::MbIcon icon) override;
    // The window every box is parented to and centred over (the main window). Without one,
    // or once it is gone, a box falls back to the active window.
    void setOwnerWindow(QWidget* owner) { owner_ = owner; }
    // From now on boxes are not shown; waiting threads are released.
    void setQuitting();
    bool quitting() const { return quitting_.load(); }

  private:
    platform::MbResult showHere(const QString& text, const QString& caption,
                                platform::MbButtons buttons, platform::MbIcon icon);
    QString title_;
    QPointer<QWidget> owner_;
    std::atomic<bool> quitting_{false};
    std::mutex mutex_;
    std::condition_variable answered_;
};

// The answer a box gives without being shown: its last (most cautious) button.
platform::MbResult unshownAnswer(platform::MbButtons buttons);

// Posts each message to the UI thread's event loop; the handler runs there, in order.
class QtMessageQueue final : public QObject, public platform::MessageQueue {
  public:
    using Handler = std::function<void(platform::MessageId, std::uintptr_t)>;
    void setHandler(Handler handler) { handler_ = std::move(handler); }
    void post(platform::MessageId id, std::uintptr_t wParam) override;

  private:
    Handler handler_;
};

}  // namespace qn::ui
