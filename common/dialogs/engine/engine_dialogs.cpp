#include "common/dialogs/engine/engine_dialogs.h"

namespace qn::dialogs::engines {

const DialogTable* findEngineTable(std::string_view className) {
    for (const DialogTable& table : engineTables()) {
        if (table.className == className) return &table;
    }
    return nullptr;
}

std::string_view mainDialogFor(std::uint32_t readerType, bool twoD) {
    if (twoD) return (readerType & 0x40) != 0 ? "CDlg4507Main" : "CDlg4407Main";
    return (readerType & 0x80) != 0 ? "CDlg955Main" : "CDlg950Main";
}

TableEnvironment engineEnvironment(RecordAccess record, const reader::ReaderLibrary* reader,
                                   platform::MessageBoxes& messages,
                                   std::function<reader::ReaderSettings()> settings) {
    TableEnvironment environment{
        .record = std::move(record),
        .readerType = reader != nullptr ? reader->readerType() : 0,
        .find = findEngineTable,
    };
    // "Reset": the engines' factory values, then the program's reader defaults into the
    // record, and the dialog closes without storing its own controls over them.
    environment.actions.emplace(
        std::string(kResetAction),
        [reader, &messages, settings = std::move(settings)](TableDialog& dialog) {
            if (reader != nullptr) {
                if (reader->ops().ResetReaderToDefault != nullptr) {
                    reader->ops().ResetReaderToDefault(7);
                }
                reader::resetReaderSettings(*reader, messages, settings());
            }
            dialog.close();
        });
    return environment;
}

}  // namespace qn::dialogs::engines
