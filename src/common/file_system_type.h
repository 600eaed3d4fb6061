#pragma once
// The file systems the engines know, as one value carried from the partition
// listing through the wizard state to the searches and the saving. Its texts
// ("FAT12", "FAT16", "FAT32", "NTFS", "exFAT", "UNKNOWN") are made only where a user
// sees or types them: toText and fileSystemTypeFromText.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dravolin {

enum class FsType : std::uint8_t { Unknown, Fat12, Fat16, Fat32, Ntfs, ExFat };

// "UNKNOWN", "FAT12", "FAT16", "FAT32", "NTFS" or "exFAT".
constexpr std::string_view toText(FsType type) {
  switch (type) {
    case FsType::Fat12: return "FAT12";
    case FsType::Fat16: return "FAT16";
    case FsType::Fat32: return "FAT32";
    case FsType::Ntfs: return "NTFS";
    case FsType::ExFat: return "exFAT";
    case FsType::Unknown: break;
  }
  return "UNKNOWN";
}

inline std::string toString(FsType type) { return std::string(toText(type)); }

// The type named by one of the texts of toText, matched exactly; nothing for
// any other text (the empty one included).
constexpr std::optional<FsType> fileSystemTypeFromText(std::string_view text) {
  for (FsType type : {FsType::Unknown, FsType::Fat12, FsType::Fat16, FsType::Fat32, FsType::Ntfs, FsType::ExFat})
    if (text == toText(type)) return type;
  return std::nullopt;
}

constexpr bool isFat(FsType type) {
  return type == FsType::Fat12 || type == FsType::Fat16 || type == FsType::Fat32;
}

}  // namespace dravolin
