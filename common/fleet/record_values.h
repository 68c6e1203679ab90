#pragma once
// Named values of a session record as fleet settings carry them (JSON files, configuration
// barcodes) and the settings tool shows them: each named field and each engine operation's run
// of values, checked against the field's kind and range before anything is stored.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/reader/engine_operations.h"
#include "common/reader/record_fields.h"
#include "common/reader/settings_store.h"

namespace qn::fleet {

// One program's record: its size, its named fields and where its engine values lie.
struct RecordLayout {
    std::string_view name;  // "vt" or "5250"
    std::size_t size;
    std::span<const reader::FieldInfo> fields;
    reader::Program program;
    std::size_t engineBegin;
};

// A name of a record: a field, or an engine operation (its whole run of values).
struct RecordName {
    const reader::FieldInfo* field = nullptr;
    const reader::EngineOperation* operation = nullptr;
    std::string_view name() const { return field != nullptr ? field->name : operation->name; }
};

// A value in the form its name takes: a number, the bytes of a text or byte string (as stored,
// without the zero fill), or an engine run.
using Value = std::variant<std::int64_t, std::string, std::vector<std::int64_t>>;

// The names in one fixed order, the one configuration codes number them by: the fields as the
// layout lists them, then the engine operations.
std::size_t nameCount(const RecordLayout& layout);
RecordName nameAt(const RecordLayout& layout, std::size_t index);
std::optional<std::size_t> indexOf(const RecordLayout& layout, std::string_view name);

// Values no one but the operator should see in a summary.
bool isSecret(const RecordName& name);

Value readValue(const RecordLayout& layout, const RecordName& name,
                std::span<const std::uint8_t> record);

// Stores the value, or says which rule it breaks ("name: rule") and stores nothing. The record
// must have the layout's size.
std::optional<std::string> storeValue(const RecordLayout& layout, const RecordName& name,
                                      const Value& value, std::span<std::uint8_t> record);

// A number as it is, a run comma-separated; nullopt for a text or byte string. People and
// configuration codes read numbers alike.
std::optional<std::string> numbersText(const Value& value);

// A value for a person: numbers as they are, texts quoted with bytes outside printable ASCII as
// \xNN, byte strings as hex, runs comma-separated.
std::string showValue(const Value& value, const RecordName& name);

// Lines "name: old -> new" for every name whose value differs (secrets say only "changed").
std::vector<std::string> describeChanges(const RecordLayout& layout,
                                         std::span<const std::uint8_t> before,
                                         std::span<const std::uint8_t> after);

}  // namespace qn::fleet
