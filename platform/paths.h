#pragma once

#include <filesystem>

namespace qn::platform {

// The stand-in for the handheld's \Windows\ folder: QUILLNET_DEVICE_ROOT, else the device/
// folder beside the bin/ folder of the running program (a build), else lib/quillnet beside it
// (an installed package).
std::filesystem::path deviceRoot();

// Where settings documents and pointer files live: QUILLNET_HOME, else
// $XDG_CONFIG_HOME/QuillNet, else ~/.config/QuillNet.
std::filesystem::path settingsDir();

// The folder of the running executable.
std::filesystem::path executableDir();

}  // namespace qn::platform
