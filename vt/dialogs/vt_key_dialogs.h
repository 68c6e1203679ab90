#pragma once
// The VT keyboard dialogs: "Select A Key" for one key slot, the key mapping page of the
// settings sheet, and the on-screen key panel.

#include <array>
#include <cstdint>
#include <string>

#include "common/dialogs/char_entry_dialog.h"
#include "common/dialogs/dialog_model.h"
#include "vt/settings/vt_key_map.h"

namespace qn::vt {

class SelectKeyDialog final : public dialogs::Dialog {
  public:
    enum Id { kLabel = 1101, kFunction = 1102, kCodeCaption = 1103, kCode = 1104 };
    using Code = std::array<std::uint8_t, kSlotCodeSize>;

    SelectKeyDialog(std::string slotLabel, int functionIndex, const Code& code);

    int functionIndex() const { return functionIndex_; }
    const Code& code() const { return code_; }

  protected:
    void onInit() override;
    void onChanged(int id) override;
    void onFocus(int id) override;
    bool onOk() override;

  private:
    void refreshCode();

    int functionIndex_;
    Code code_;
};

class CDlgVTKeyMapping final : public dialogs::Dialog {
  public:
    // Slot k (1..28): its button, the "=>" and the function name.
    static constexpr int buttonId(int slot) { return 1200 + slot; }
    static constexpr int arrowId(int slot) { return 1240 + slot; }
    static constexpr int nameId(int slot) { return 1280 + slot; }

    // model and systemInfoDigit come from the device layer.
    CDlgVTKeyMapping(VtSettings& settings, std::string model, int systemInfoDigit);

  protected:
    void onInit() override;
    void onChanged(int id) override;

  private:
    void refreshName(int slot);

    VtSettings& settings_;
    std::string model_;
    int systemInfoDigit_;
};

class VtKeyPanel final : public dialogs::Dialog {
  public:
    static constexpr int buttonId(int index) { return 1400 + index; }
    VtKeyPanel();
    // The virtual-key code of the button pressed; 0 when the panel was cancelled.
    int virtualKey() const { return result() == dialogs::DialogResult::Ok ? virtualKey_ : 0; }

  protected:
    void onChanged(int id) override;

  private:
    int virtualKey_ = 0;
};

}  // namespace qn::vt
