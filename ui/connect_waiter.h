#pragma once
// The "Connecting..." box: while a connect and its handshake run on another thread, the window
// keeps painting and the operator may cancel. A connect that ends quickly shows no box.

#include <QPointer>
#include <QWidget>

#include "common/telnet/session_connection.h"

namespace qn::ui {

class QtConnectWaiter final : public telnet::ConnectWaiter {
  public:
    // The box's owner window.
    void setOwner(QWidget* owner) { owner_ = owner; }
    void wait(const std::function<bool()>& finished, const std::function<void()>& cancel) override;

  private:
    QPointer<QWidget> owner_;
};

}  // namespace qn::ui
