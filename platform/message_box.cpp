#include "platform/message_box.h"

namespace qn::platform {

MbResult RecordingMessageBoxes::show(std::string_view text, std::string_view caption,
                                     MbButtons buttons, MbIcon icon) {
    std::lock_guard lock(mutex_);
    shown_.push_back({std::string(text), std::string(caption), buttons, icon});
    if (!answers_.empty()) {
        MbResult answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    switch (buttons) {
        case MbButtons::YesNo:
        case MbButtons::YesNoCancel:
            return MbResult::Yes;
        default:
            return MbResult::Ok;
    }
}

void RecordingMessageBoxes::queueAnswer(MbResult answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

std::vector<ShownMessage> RecordingMessageBoxes::shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

std::vector<std::string> RecordingMessageBoxes::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& m : shown_)
        result.push_back(m.text);
    return result;
}

void RecordingMessageBoxes::clear() {
    std::lock_guard lock(mutex_);
    shown_.clear();
    answers_.clear();
}

}  // namespace qn::platform
