#pragma once
// Validation of a sector range typed by hand, and of the selection committed
// from the partition list, with the wizard's messages.
#include <cstdint>
#include <optional>
#include <string>

#include "common/error.h"
#include "disk/sector_source.h"

namespace dravolin {

// The file-system choices of the range page, by list index.
inline constexpr const char* kRangeFileSystems[] = {"FAT16", "FAT32", "NTFS", "UNKNOWN"};

struct ManualRange {
  SectorNumber start = 0;
  SectorNumber end = 0;  // exclusive
  std::string fileSystem;
};

// Parses a sector number typed by the user: decimal digits only (blanks
// around are allowed).
std::optional<std::uint64_t> parseSectorNumber(const std::string& text);

// Validates the range page: "Start sector is not valid.", "End sector is not
// valid.", "End sector should be bigger than start sector.", "Select
// partition type.". fileSystem is one of the names above (or FAT12); with
// "UNKNOWN" the committed type stays, which only raw recovery and imaging
// accept (allowUnknown).
[[nodiscard]] Result<ManualRange> validateManualRange(const std::string& startText,
                                                            const std::string& endText,
                                                            const std::string& fileSystem,
                                                            const std::string& committedType,
                                                            bool allowUnknown);

}  // namespace dravolin
