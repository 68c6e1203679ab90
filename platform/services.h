#pragma once
// The handheld services one program runs on, owned by the application object and handed down.

#include <filesystem>

#include "platform/clock.h"
#include "platform/library.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"
#include "platform/registry.h"
#include "platform/sound.h"

namespace qn::platform {

struct Services {
    Registry& registry;
    LibraryLoader& libraries;
    MessageBoxes& messages;
    MessageQueue& queue;
    Clock& clock;
    SoundPlayer& sound;
    std::filesystem::path deviceRoot;
};

}  // namespace qn::platform
