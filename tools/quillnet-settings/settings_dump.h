#pragma once
// What the tool's commands share: the two kinds of document, reading one from a file, and the
// dump, which lives apart so that the fuzz build can leave its formatting comparisons untraced.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/reader/record_fields.h"
#include "common/reader/settings_store.h"

namespace qn::tools {

// Bytes of a file beyond the document that dump shows as hex; the rest is only counted.
inline constexpr std::size_t kTrailingShown = 4096;

struct DocumentKind {
    std::string_view name;
    std::size_t size;
    std::span<const reader::FieldInfo> fields;
    reader::Program program;
    std::size_t engineBegin;
};

// "vt" or "5250"; nothing for any other name.
std::optional<DocumentKind> documentKind(std::string_view name);

struct ReadFile {
    std::vector<std::uint8_t> bytes;  // at most the limit asked for
    std::uintmax_t fileBytes = 0;
};

// The first `limit` bytes of the file and its length; nothing when it cannot be read.
std::optional<ReadFile> readDocumentFile(const std::string& path, std::size_t limit);

// Writes the document in the file as JSON to out (the program's fields, the engine values by
// operation, non-zero reserved spans, text tails, trailing bytes); a length that is not the
// document's is noted on err. Returns the tool's exit status.
int dumpDocument(const DocumentKind& kind, const std::string& path, std::ostream& out,
                 std::ostream& err);

}  // namespace qn::tools
