#pragma once
// Nested dialogs answered by a queue of scripts, in the order they open; an unscripted dialog
// is cancelled.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/dialogs/dialog_model.h"

namespace qn::test {

class ScriptedRunner final : public dialogs::DialogRunner {
  public:
    std::deque<std::function<dialogs::DialogResult(dialogs::Dialog&)>> scripts;
    std::vector<std::string> opened;
    dialogs::DialogResult runModal(dialogs::Dialog& dialog) override {
        opened.push_back(dialog.caption());
        if (scripts.empty()) return dialogs::DialogResult::Cancel;
        auto script = std::move(scripts.front());
        scripts.pop_front();
        return script(dialog);
    }
};

}  // namespace qn::test
