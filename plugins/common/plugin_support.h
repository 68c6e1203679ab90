#pragma once
// What both plugins need: their exported C operations, where they were loaded from, and the
// bounded copy of a text into a caller's buffer.

#include <cstddef>
#include <filesystem>
#include <string_view>

// Marks a C operation that the plugin exports; everything else is hidden.
#define QN_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace qn::plugin {

// The plugin's own file, found with dladdr; empty when the loader cannot tell.
std::filesystem::path ownFile();

// The device root the plugin serves: the folder it was loaded from, else QUILLNET_DEVICE_ROOT,
// else the current folder.
std::filesystem::path deviceRoot();

// Copies at most size - 1 bytes of text and a terminating zero; returns the bytes copied.
// A null buffer or a size below 1 copies nothing and returns 0.
int copyOut(std::string_view text, void* buffer, int size);

}  // namespace qn::plugin
