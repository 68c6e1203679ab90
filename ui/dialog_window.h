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

// The window fills the screen of the model's mode. A caption strip at its top carries the caption,
// OK and the close button (Cancel); the controls keep the model's order and relative places, get
// heights from the dialog font's metrics and widths their texts need, and move down or onto a
// line of their own where the handheld's rectangles are too small for the font. The font shrinks
// step by step until every control fits the screen; the large screen is the small one doubled.
class DialogWindow final : public QDialog {
  public:
    enum class Strip {
        OkAndClose,  // a dialog
        CloseOnly,   // a panel whose every button ends it
        None,        // a page of a sheet: the sheet has the strip
    };
    // The model must have been opened (its layout fitted to the screen mode). An embedded
    // window is a page of a sheet: the sheet has the OK and Cancel buttons.
    DialogWindow(dialogs::Dialog& model, QWidget* parent = nullptr, bool embedded = false);
    DialogWindow(dialogs::Dialog& model, QWidget* parent, Strip strip);

    // Shows the model modally; the result is the model's.
    dialogs::DialogResult run();
    // Widgets by control id, for tests.
    QWidget* widget(int controlId) const;
    // Copies the model's state into the widgets.
    void refresh();
    // Cancel, Escape or the window closed: the model's cancel, then the window ends.
    void reject() override;
    // A page: lays the controls out again in the room its sheet leaves it.
    void fitTo(QSize room);
    // The pixel size of the dialog font at the small screen's scale, as last fitted.
    int fontPixels() const { return fontPixels_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build();
    void finishIfClosed();
    void fitControls(QRect area);
    // packing 0: rows where the model has them, a unit, a linked control ("->") or a check
    // box's own control beside the control before it; 1: rows packed closer; 2: rows that fit
    // side by side share a line too, headings apart.
    bool layOut(QRect area, int pixels, int packing);

    dialogs::Dialog& model_;
    bool embedded_;
    int scale_ = 1;  // 2 on the 480 × 640 screen
    int fontPixels_ = 0;
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
