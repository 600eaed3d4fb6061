#pragma once
// Names read from a disk become file and folder names under the destination
// folder. Whatever the disk holds, a name must stay one component of a path
// inside that folder: no separators, no "." or "..", no control characters,
// never empty, never longer than the file system allows.
#include <string>
#include <string_view>
#include <unordered_map>

namespace dravolin {

// The longest component most file systems accept, in bytes.
inline constexpr std::size_t kMaxComponentBytes = 255;

// Returns a name that is exactly one safe path component: '/' and '\\',
// and control characters (below 0x20 and 0x7F) become '_'; "." and ".." become "_" and "__"; an empty name becomes
// "_"; a name longer than 255 bytes is cut at a character boundary, keeping
// its extension when that is short.
std::string sanitiseName(std::string_view name);

// The safe names given to the entries of one destination folder. Two
// entries whose names differ (or a file and a folder) but are the same once
// made safe (a file ".." and a folder "..", both "__") get distinct names:
// the later one is numbered as an existing file is renamed ("__0", "a_0.txt",
// ...). The same name of the same kind always gets the same safe name.
class FolderNameTable {
 public:
  std::string claim(std::string_view name, bool folder);

 private:
  std::unordered_map<std::string, std::string> owners_;  // safe name -> kind and name that took it
};

}  // namespace dravolin
