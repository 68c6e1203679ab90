#include "common/dialogs/char_entry_dialog.h"

#include <algorithm>
#include <cstdio>

#include "common/dialogs/code_names.h"

namespace qn::dialogs {

namespace {

std::vector<std::string> gridColumns() {
    std::vector<std::string> columns{"  "};
    for (int high = 0; high < 16; ++high) {
        char header[3];
        std::snprintf(header, sizeof header, "%X0", high);
        columns.emplace_back(header);
    }
    return columns;
}

}  // namespace

CharEntryDialog::CharEntryDialog(std::string title, std::size_t limit,
                                 std::span<const std::uint8_t> initial)
    : Dialog("The Grid Control", {0, 0, 240, 320}),
      title_(std::move(title)),
      limit_(std::min(limit, kMaxLimit)),
      initial_(initial.begin(), initial.end()) {
    Control& grid = addListView(kGrid, {2, 2, 236, 236}, gridColumns(), std::vector<int>(17, 50));
    for (int row = 0; row < 16; ++row) {
        char label[3];
        std::snprintf(label, sizeof label, "0%X", row);
        std::vector<std::string> cells{label};
        for (int column = 1; column <= 16; ++column) {
            cells.push_back(codeNameTable()[static_cast<std::size_t>((column - 1) * 16 + row)] +
                            " ");
        }
        grid.cells.push_back(std::move(cells));
    }
    addEdit(kText, {2, 244, 176, 16}).readOnly = true;
    addButton(kClear, "Clear", {184, 244, 54, 16});
}

void CharEntryDialog::onInit() {
    buffer_.fill(0);
    length_ = std::min(fieldLength(initial_, limit_), limit_);
    std::copy_n(initial_.begin(), length_, buffer_.begin());
    refreshText();
}

void CharEntryDialog::refreshText() {
    control(kText).text = formatCodeText(buffer_, length_);
}

void CharEntryDialog::onCell(int, int row, int column) {
    if (column == 0) return;
    if (length_ >= limit_) {
        messages().show("Too many characters");
        return;
    }
    buffer_[length_++] = static_cast<std::uint8_t>((column - 1) * 16 + row);
    buffer_[length_] = 0;
    refreshText();
}

void CharEntryDialog::onChanged(int id) {
    if (id != kClear) return;
    buffer_.fill(0);
    length_ = 0;
    refreshText();
}

}  // namespace qn::dialogs
