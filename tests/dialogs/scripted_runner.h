#pragma once
// Nested dialogs in tests: each one a script runs (by default it is cancelled), its caption
// remembered.

#include <functional>
#include <string>
#include <vector>

#include "common/dialogs/dialog_model.h"

namespace qn::dialogs {

class ScriptedRunner final : public DialogRunner {
  public:
    std::function<DialogResult(Dialog&)> script = [](Dialog&) { return DialogResult::Cancel; };
    std::vector<std::string> opened;
    DialogResult runModal(Dialog& dialog) override {
        opened.push_back(dialog.caption());
        return script(dialog);
    }
};

}  // namespace qn::dialogs
