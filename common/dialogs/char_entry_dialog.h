#pragma once
// The byte-code picker ("The Grid Control"): the operator composes a byte string from a 16 × 16
// grid of byte names, control characters included, up to the caller's limit.

#include <cstdint>
#include <span>
#include <vector>

#include "common/dialogs/dialog_model.h"

namespace qn::dialogs {

class CharEntryDialog final : public Dialog {
  public:
    enum Id { kGrid = 1001, kText = 1002, kClear = 1003 };
    // The largest limit any caller passes (the host commands).
    static constexpr std::size_t kMaxLimit = 45;

    // title: the window title the caller gives ("Key Code", "Macro Frame", ...); limit: the most
    // bytes the composed string may hold; initial: the current bytes (fixed-width rule applies).
    CharEntryDialog(std::string title, std::size_t limit, std::span<const std::uint8_t> initial);

    const std::string& title() const { return title_; }
    // The composed bytes, valid after OK.
    std::span<const std::uint8_t> bytes() const { return {buffer_.data(), length_}; }
    std::size_t length() const { return length_; }

  protected:
    void onInit() override;
    void onChanged(int id) override;
    void onCell(int id, int row, int column) override;

  private:
    void refreshText();

    std::string title_;
    std::size_t limit_;
    std::vector<std::uint8_t> initial_;
    std::array<std::uint8_t, kMaxLimit + 1> buffer_{};
    std::size_t length_ = 0;
};

}  // namespace qn::dialogs
