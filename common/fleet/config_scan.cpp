#include "common/fleet/config_scan.h"

namespace qn::fleet {

ConfigScan::ConfigScan(RecordLayout layout, platform::MessageBoxes& messages,
                       std::filesystem::path settingsDir, Current current, Commit commit)
    : layout_(layout),
      messages_(messages),
      settingsDir_(std::move(settingsDir)),
      current_(std::move(current)),
      commit_(std::move(commit)),
      reader_(layout) {}

bool ConfigScan::handle(std::span<const std::uint8_t> decode) {
    if (!isConfigCode(decode)) return false;
    // Read at every code: a key put in place or taken away counts from the next scan on.
    const SiteKey key = loadSiteKey(settingsDir_);
    if (!key.error.empty()) {
        messages_.show(key.error, {}, platform::MbButtons::Ok, platform::MbIcon::Stop);
        return true;
    }
    const std::string_view code(reinterpret_cast<const char*>(decode.data()), decode.size());
    ConfigCodeReader::Outcome outcome = reader_.add(code, key.bytes);
    if (outcome.result == ConfigCodeReader::Result::Rejected) {
        messages_.show(outcome.message, {}, platform::MbButtons::Ok, platform::MbIcon::Stop);
        return true;
    }
    if (outcome.result == ConfigCodeReader::Result::Waiting) {
        messages_.show(outcome.message, {}, platform::MbButtons::Ok, platform::MbIcon::Information);
        return true;
    }
    const std::vector<std::uint8_t> before = current_();
    if (before.size() != layout_.size) return true;
    std::vector<std::uint8_t> after = before;
    if (auto error = applyAssignments(layout_, outcome.values, after)) {
        messages_.show("This configuration code cannot be applied: " + *error + ".", {},
                       platform::MbButtons::Ok, platform::MbIcon::Stop);
        return true;
    }
    const std::vector<std::string> changes = describeChanges(layout_, before, after);
    if (changes.empty()) {
        messages_.show(kNothingChanges, {}, platform::MbButtons::Ok, platform::MbIcon::Information);
        return true;
    }
    std::string text;
    for (std::size_t i = 0; i < changes.size() && i < kShownChanges; ++i)
        text += changes[i] + "\n";
    if (changes.size() > kShownChanges) {
        text += "and " + std::to_string(changes.size() - kShownChanges) + " more\n";
    }
    text += "\n";
    text += kApplyQuestion;
    if (messages_.show(text, {}, platform::MbButtons::YesNo, platform::MbIcon::Question) ==
        platform::MbResult::Yes) {
        commit_(after);
    }
    return true;
}

}  // namespace qn::fleet
