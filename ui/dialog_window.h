#pragma once
// Any dialog model drawn as Qt widgets: one widget per control at its rectangle, operator
// events fed back to the model, and every widget refreshed from the model after each event.

#include <QDialog>

#include <map>
#include <memory>
#include <vector>

#include "common/dialogs/dialog_model.h"

class QWidget;

namespace qn::ui {

class DialogWindow final : public QDialog {
  public:
    // The model must have been opened (its layout fitted to the screen mode). An embedded
    // window is a page of a sheet: the sheet has the OK and Cancel buttons.
    DialogWindow(dialogs::Dialog& model, QWidget* parent = nullptr, bool embedded = false);

    // Shows the model modally; the result is the model's.
    dialogs::DialogResult run();
    // Widgets by control id, for tests.
    QWidget* widget(int controlId) const;
    // Copies the model's state into the widgets.
    void refresh();
    // Cancel, Escape or the window closed: the model's cancel, then the window ends.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build();
    void finishIfClosed();
    int comboHeight() const;

    dialogs::Dialog& model_;
    bool embedded_;
    std::map<int, QWidget*> widgets_;
    bool refreshing_ = false;
};

// A property sheet: one tab per page; OK stores every page or keeps the sheet open.
class SheetWindow final : public QDialog {
  public:
    SheetWindow(dialogs::PropertySheet& sheet, device::Rect screen, QWidget* parent = nullptr);
    // True when the sheet ended with OK.
    bool run();
    void reject() override;

  private:
    dialogs::PropertySheet& sheet_;
    std::vector<DialogWindow*> pages_;
    bool cancelled_ = false;
};

// Runs nested dialogs as DialogWindows.
class QtDialogRunner final : public dialogs::DialogRunner {
  public:
    explicit QtDialogRunner(QWidget* parent = nullptr) : parent_(parent) {}
    dialogs::DialogResult runModal(dialogs::Dialog& dialog) override;

  private:
    QWidget* parent_;
};

}  // namespace qn::ui
