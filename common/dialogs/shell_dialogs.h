#pragma once
// The two dialogs both programs' shells share: the "Screen" page of the settings sheet and
// "Set Config File".

#include <functional>
#include <optional>
#include <string>

#include "common/dialogs/dialog_model.h"
#include "common/reader/record_fields.h"

namespace qn::dialogs {

// "ScrollBar" and "TaskBar On Full Screen": each click is written into the record at once.
class ScreenPage : public Dialog {
  public:
    enum Id { kScrollBar = 1501, kTaskBar = 1502 };
    ScreenPage(reader::LeInt32& scrollBarsSetting, reader::LeInt32& taskBarOnFullScreen);

  protected:
    void onChanged(int id) override;

  private:
    reader::LeInt32& scrollBarsSetting_;
    reader::LeInt32& taskBarOnFullScreen_;
};

class SetConfigFileDialog final : public Dialog {
  public:
    enum Id { kLabel = 1601, kPath = 1602, kBrowse = 1603 };
    // browse: the platform's file-open dialog; the chosen path with its three-letter extension
    // completed, or nullopt when cancelled.
    SetConfigFileDialog(std::string currentPath,
                        std::function<std::optional<std::string>()> browse);
    const std::string& path() const { return control(kPath).text; }

  protected:
    void onInit() override;
    void onChanged(int id) override;

  private:
    std::string currentPath_;
    std::function<std::optional<std::string>()> browse_;
};

}  // namespace qn::dialogs
