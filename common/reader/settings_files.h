#pragma once
// File handling shared by both programs' settings documents: where they live, the pointer file
// that names the document to load, and reading and writing a record as raw bytes.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/message_box.h"

namespace qn::reader {

inline constexpr std::string_view kConfigurationOpenFailed =
    "Failed to Open configuration File!! Please check the path";
inline constexpr std::string_view kShutOffConnectionFirst = "Shut off the connection first!";

// A file dialog: the chosen path, or nullopt when cancelled.
using FileChooser = std::function<std::optional<std::string>()>;
// A Yes/No question: true for Yes.
using Question = std::function<bool(std::string_view text)>;

// The save question as a Yes/No message box.
Question askWithMessageBox(platform::MessageBoxes& messages);

// What the start-up load asks of the shell, in this order.
struct StartupRequests {
    bool connect = false;
    bool fullScreen = false;
};

// The question asked after the settings sheet changed the record.
std::string saveChangeQuestion(std::string_view path);

// At most this many bytes of the pointer file are taken as the path.
inline constexpr std::size_t kPointerFileLimit = 256;

struct DocumentPaths {
    std::string defaultSettingsPath;
    std::string pointerFilePath;
};

// The program's own file is <settings dir>/<program>.exe; both paths are that path without its
// last 4 characters, followed by "_v3." and the extension ("ini" for the pointer file).
DocumentPaths documentPaths(const std::filesystem::path& settingsDir, std::string_view program,
                            std::string_view extension);

// The platform's file dialog reports extensions cut to three letters: a chosen path whose
// extension is the settings extension without its last letter gets that letter back.
std::string completeExtension(std::string path, std::string_view extension);

// The path text of the pointer file, or nullopt when it cannot be opened for reading.
std::optional<std::string> readPointerFile(const std::string& path);

// Replaces the pointer file's content with the path text, without terminator.
bool writePointerFile(const std::string& path, std::string_view text);

// Reads up to record.size() bytes of the file into the record; bytes past the file's end keep
// their values. The count read, or nullopt when the file cannot be opened for reading.
std::optional<std::size_t> readRecordPrefix(const std::string& path,
                                            std::span<std::uint8_t> record);

// readRecordPrefix with the file's size as it was opened, from one opening.
struct FilePrefix {
    std::size_t count = 0;         // bytes read into the record
    std::uintmax_t fileBytes = 0;  // the file's size
};
std::optional<FilePrefix> readFilePrefix(const std::string& path, std::span<std::uint8_t> record);

enum class WriteMode {
    KeepTail,  // bytes of a longer existing file beyond the record stay
    Replace,   // the file is truncated first
};

// Writes the record at the start of the file. A file that did not exist is created readable
// by its owner only: a document holds the login password in clear text. False when the file
// cannot be opened or the record was not written whole.
bool writeRecord(const std::string& path, std::span<const std::uint8_t> record, WriteMode mode);

// Creates the settings folder (owner only) when a document or pointer file is to be written
// into it and it does not exist yet.
void prepareSettingsDir(const std::filesystem::path& settingsDir, const std::string& target);

}  // namespace qn::reader
