#pragma once
// Reproducible host output for measuring VT emulators: four kinds of stream, each made from a
// fixed seed, so anyone can regenerate the exact bytes behind a published figure.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qn::vt::bench {

enum class StreamKind {
    Plain,       // printable lines ending in CR LF; the screen scrolls
    FullScreen,  // repeated form repaints: cursor addressing, reverse video, erase
    Cursor,      // dense cursor movement, erase, save/restore, scroll region with LF/IND/RI
    LineDraw,    // boxes drawn with SO/SI line drawing
};

struct StreamInfo {
    StreamKind kind;
    std::string_view name;
};

inline constexpr StreamInfo kStreams[] = {
    {StreamKind::Plain, "plain"},
    {StreamKind::FullScreen, "fullscreen"},
    {StreamKind::Cursor, "cursor"},
    {StreamKind::LineDraw, "linedraw"},
};

inline constexpr std::size_t kDefaultStreamBytes = std::size_t{8} << 20;  // 8 MiB

// Exactly `bytes` bytes of 7-bit host output of the given kind (the last piece is cut).
std::string makeStream(StreamKind kind, std::size_t bytes = kDefaultStreamBytes,
                       std::uint32_t seed = 1);

}  // namespace qn::vt::bench
