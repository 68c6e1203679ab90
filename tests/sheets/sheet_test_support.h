#pragma once
// A reader library whose masks a test sets and whose SetActiveDevice it sees, and a dialog
// runner that plays a script against each nested dialog.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "common/dialogs/dialog_model.h"
#include "common/reader/reader_library.h"
#include "tests/support/fake_services.h"

namespace qn::test {

inline int gSheetReaderType = 0;
inline int gSheetActiveDevices = 0;
inline std::vector<int> gSetActiveDevice;

inline int sheetInitReader() {
    return 1;
}
inline int sheetGetReaderType() {
    return gSheetReaderType;
}
inline int sheetGetActiveDevice() {
    return gSheetActiveDevices;
}
inline int sheetSetActiveDevice(int mask) {
    gSetActiveDevice.push_back(mask);
    gSheetActiveDevices = mask;
    return 1;
}

struct MaskReader {
    MaskReader(int readerType, int activeDevices) : library(fakes.services) {
        gSheetReaderType = readerType;
        gSheetActiveDevices = activeDevices;
        gSetActiveDevice.clear();
        fakes.loader.add(fakes.services.deviceRoot / reader::kReaderLibraryFile,
                         {{{"InitReader", platform::symbolAddress(&sheetInitReader)},
                           {"GetReaderType", platform::symbolAddress(&sheetGetReaderType)},
                           {"GetActiveDevice", platform::symbolAddress(&sheetGetActiveDevice)},
                           {"SetActiveDevice", platform::symbolAddress(&sheetSetActiveDevice)}}});
        library.load();
        library.initialise();
    }
    FakeServices fakes;
    reader::ReaderLibrary library;
};

// Each nested dialog is handed to the next step of the script, which acts on it and says how
// it ends; without a step a dialog is cancelled. The captions of all nested dialogs are kept.
class ScriptRunner final : public dialogs::DialogRunner {
  public:
    using Step = std::function<dialogs::DialogResult(dialogs::Dialog&)>;
    dialogs::DialogResult runModal(dialogs::Dialog& dialog) override {
        shown.push_back(dialog.caption());
        if (steps.empty()) {
            dialog.pressCancel();
            return dialogs::DialogResult::Cancel;
        }
        Step step = std::move(steps.front());
        steps.pop_front();
        return step(dialog);
    }
    std::deque<Step> steps;
    std::vector<std::string> shown;
};

// A step that presses OK (the dialog's checks decide).
inline dialogs::DialogResult pressOk(dialogs::Dialog& dialog) {
    return dialog.pressOk() ? dialogs::DialogResult::Ok : dialogs::DialogResult::Cancel;
}

}  // namespace qn::test
