#pragma once
// The 5250 keyboard dialogs: "Select Object Key" for one key slot, the "Key Mapping" page of
// the settings sheet, and the on-screen "TN5250 Key" panel.

#include <string>

#include "common/dialogs/dialog_model.h"
#include "tn5250/settings/tn_key_map.h"

namespace qn::tn {

class SelectObjectKeyDialog final : public dialogs::Dialog {
  public:
    enum Id { kLabel = 1101, kArrow = 1102, kFunction = 1103 };

    SelectObjectKeyDialog(std::string slotLabel, int functionIndex);
    // On OK the chosen function; a stored index the list does not hold stays as it was
    // unless another is chosen.
    int functionIndex() const { return functionIndex_; }

  protected:
    void onInit() override;
    bool onOk() override;

  private:
    int functionIndex_;
};

class CDlgTNKeyMapping final : public dialogs::Dialog {
  public:
    // Slot k (1..51): its button, the "=>" and the function name.
    static constexpr int buttonId(int slot) { return 1200 + slot; }
    static constexpr int arrowId(int slot) { return 1300 + slot; }
    static constexpr int nameId(int slot) { return 1400 + slot; }
    // The slots with a button, in the page's order; the last, "Del", is hidden.
    static constexpr int kPageSlots[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                         16, 17, 18, 19, 20, 40, 41, 43, 42, 49, 46, 50, 51, 45};
    static constexpr int kDeleteSlot = 45;

    // model and systemInfoDigit come from the device layer.
    CDlgTNKeyMapping(TnSession& session, std::string model, int systemInfoDigit);

  protected:
    void onInit() override;
    void onChanged(int id) override;

  private:
    void refreshName(int slot);

    TnSession& session_;
    std::string model_;
    int systemInfoDigit_;
};

class TnKeyPanel final : public dialogs::Dialog {
  public:
    static constexpr int kButtonCount = 38;
    // The button that gives key function n (1..38).
    static constexpr int buttonId(int function) { return 1016 + function - 1; }
    TnKeyPanel();
    // The key function of the button pressed; 0 when the panel was cancelled.
    int function() const { return result() == dialogs::DialogResult::Ok ? function_ : 0; }

  protected:
    void onChanged(int id) override;

  private:
    int function_ = 0;
};

}  // namespace qn::tn
