#pragma once
// Modal message boxes. The programs show Qt boxes; tests record the exact texts.

#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qn::platform {

enum class MbButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MbIcon { None, Exclamation, Question, Information, Stop };
enum class MbResult { Ok, Cancel, Yes, No };

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // An empty caption means the program's own title. Blocks until answered.
    virtual MbResult show(std::string_view text, std::string_view caption = {},
                          MbButtons buttons = MbButtons::Ok, MbIcon icon = MbIcon::None) = 0;
};

struct ShownMessage {
    std::string text;
    std::string caption;
    MbButtons buttons = MbButtons::Ok;
    MbIcon icon = MbIcon::None;
    bool operator==(const ShownMessage&) const = default;
};

// Test double: records every box and answers from a queue (then the box's first button).
class RecordingMessageBoxes final : public MessageBoxes {
  public:
    MbResult show(std::string_view text, std::string_view caption, MbButtons buttons,
                  MbIcon icon) override;
    void queueAnswer(MbResult answer);
    std::vector<ShownMessage> shown() const;
    std::vector<std::string> texts() const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<ShownMessage> shown_;
    std::deque<MbResult> answers_;
};

}  // namespace qn::platform
