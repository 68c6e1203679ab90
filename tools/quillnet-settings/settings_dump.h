#pragma once
// What the tool's commands share: the two kinds of document, reading one from a file, and the
// JSON forms of a document: the dump, and applying a dump (or any part of one) to a document.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/fleet/record_values.h"
#include "common/reader/record_fields.h"
#include "common/reader/settings_store.h"

namespace qn::tools {

// Bytes of a file beyond the document that dump shows as hex; the rest is only counted.
inline constexpr std::size_t kTrailingShown = 4096;
// A JSON file to apply: at most this long, objects and lists at most this deep.
inline constexpr std::size_t kMaxJsonBytes = 1 << 20;
inline constexpr int kMaxJsonDepth = 8;

using DocumentKind = fleet::RecordLayout;

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

// A JSON text in the names and forms the dump uses, applied to a whole record. Every member is
// checked; on the first that breaks a rule the record may be partly changed and the error names
// the member and the rule. `trailing` receives the bytes a dump's "trailing" member gives.
// Bytes from hex digits in pairs, either case; none for an odd count or another character.
std::optional<std::vector<std::uint8_t>> bytesOfHex(std::string_view text);

std::optional<std::string> applyJson(const DocumentKind& kind, std::string_view json,
                                     std::span<std::uint8_t> record,
                                     std::optional<std::vector<std::uint8_t>>& trailing);

}  // namespace qn::tools
