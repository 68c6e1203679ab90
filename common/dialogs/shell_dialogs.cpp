#include "common/dialogs/shell_dialogs.h"

namespace qn::dialogs {

ScreenPage::ScreenPage(reader::LeInt32& scrollBarsSetting, reader::LeInt32& taskBarOnFullScreen)
    : Dialog("Screen", {0, 0, 240, 320}),
      scrollBarsSetting_(scrollBarsSetting),
      taskBarOnFullScreen_(taskBarOnFullScreen) {
    addCheck(kScrollBar, "ScrollBar", {16, 20, 200, 16}).number = bindInt(scrollBarsSetting);
    addCheck(kTaskBar, "TaskBar On Full Screen", {16, 44, 220, 16}).number =
        bindInt(taskBarOnFullScreen);
}

void ScreenPage::onChanged(int id) {
    const Control& box = control(id);
    if (id == kScrollBar) scrollBarsSetting_.set(box.checked ? 1 : 0);
    if (id == kTaskBar) taskBarOnFullScreen_.set(box.checked ? 1 : 0);
}

SetConfigFileDialog::SetConfigFileDialog(std::string currentPath,
                                         std::function<std::optional<std::string>()> browse)
    : Dialog("Set Config File", {0, 0, 240, 320}),
      currentPath_(std::move(currentPath)),
      browse_(std::move(browse)) {
    addStatic(kLabel, "Set load file path:", {8, 12, 160, 14});
    addEdit(kPath, {8, 30, 196, 16});
    addButton(kBrowse, "...", {208, 30, 24, 16});
}

void SetConfigFileDialog::onInit() {
    control(kPath).text = currentPath_;
}

void SetConfigFileDialog::onChanged(int id) {
    if (id != kBrowse || !browse_) return;
    if (auto chosen = browse_()) control(kPath).text = *chosen;
}

}  // namespace qn::dialogs
