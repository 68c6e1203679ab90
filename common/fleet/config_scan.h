#pragma once
// A program's side of configuration barcodes: a decode that is one is taken here and never sent
// to the host. Parts are gathered scan after scan; a complete set shows what it would change and
// asks before anything changes; a code that fails a check changes nothing and says why.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "common/fleet/config_code.h"
#include "platform/message_box.h"

namespace qn::fleet {

// Lines of changes a question shows at most; the rest are counted.
inline constexpr std::size_t kShownChanges = 12;
inline constexpr std::string_view kNothingChanges =
    "The configuration from this barcode changes nothing.";

class ConfigScan {
  public:
    // The session record as it is now, and the one to put in its place (then saved as the
    // settings sheet saves).
    using Current = std::function<std::vector<std::uint8_t>()>;
    using Commit = std::function<void(std::span<const std::uint8_t> record)>;

    ConfigScan(RecordLayout layout, platform::MessageBoxes& messages,
               std::filesystem::path settingsDir, Current current, Commit commit);

    // True when the decode is a configuration code, whatever became of it.
    bool handle(std::span<const std::uint8_t> decode);

  private:
    RecordLayout layout_;
    platform::MessageBoxes& messages_;
    std::filesystem::path settingsDir_;
    Current current_;
    Commit commit_;
    ConfigCodeReader reader_;
};

}  // namespace qn::fleet
