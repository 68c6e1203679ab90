#pragma once
// The engine and symbology settings dialogs of the four reader families ("950 Setting",
// "955 Setting", "4407 Setting", "4507 Setting"): tables for the generic dialog, the main
// dialog each reader type opens, and the environment that binds them to a program's record.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "common/dialogs/table_dialog.h"
#include "common/reader/reader_library.h"
#include "common/reader/settings_store.h"
#include "platform/message_box.h"

namespace qn::dialogs::engines {

// The action of the main dialogs' "Reset" button.
inline constexpr std::string_view kResetAction = "reset";

// Every table of the four families: main, reader-parameter and symbology dialogs.
std::span<const DialogTable> engineTables();
const DialogTable* findEngineTable(std::string_view className);

// The main dialog behind "1D Settings" (0x80 → 955, else 950) or "2D Settings" (0x40 → 4507,
// else 4407).
std::string_view mainDialogFor(std::uint32_t readerType, bool twoD);

// The dialogs bound to one program's record; settings gives the record's reader settings
// groups. reader may be null where no library object exists: "Reset" then only closes.
TableEnvironment engineEnvironment(RecordAccess record, const reader::ReaderLibrary* reader,
                                   platform::MessageBoxes& messages,
                                   std::function<reader::ReaderSettings()> settings);

// Both programs' records: R is VtSettings or TnSession, found with its readerSettings().
template <class R>
TableEnvironment engineEnvironment(R& record, std::span<const reader::FieldInfo> fields,
                                   const reader::ReaderLibrary* reader,
                                   platform::MessageBoxes& messages) {
    const bool tn = readerSettings(record).program == reader::Program::Tn;
    return engineEnvironment(
        {[&record] { return std::span<std::uint8_t>(record.bytes()); }, tn, fields}, reader,
        messages, [&record] { return readerSettings(record); });
}

}  // namespace qn::dialogs::engines
