#pragma once
// Names read from a disk become file and folder names under the destination
// folder. Whatever the disk holds, a name must stay one component of a path
// inside that folder: no separators, no "." or "..", no control characters,
// never empty, never longer than the file system allows.
#include <string>
#include <string_view>

namespace dravolin {

// The longest component most file systems accept, in bytes.
inline constexpr std::size_t kMaxComponentBytes = 255;

// Returns a name that is exactly one safe path component: '/' and '\\',
// and control characters (below 0x20 and 0x7F) become '_'; "." and ".." become "_" and "__"; an empty name becomes
// "_"; a name longer than 255 bytes is cut at a character boundary, keeping
// its extension when that is short.
std::string sanitiseName(std::string_view name);

}  // namespace dravolin
