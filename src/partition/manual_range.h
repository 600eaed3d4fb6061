#pragma once
// Validation of a sector range typed by hand, and of the selection committed
// from the partition list, with the wizard's messages.
#include <cstdint>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/file_system_type.h"
#include "disk/sector_source.h"

namespace dravolin {

struct ManualRange {
  SectorNumber start = 0;
  SectorNumber end = 0;  // exclusive
  FsType fileSystem = FsType::Unknown;
};

// Parses a sector number typed by the user: decimal digits only (blanks
// around are allowed).
std::optional<std::uint64_t> parseSectorNumber(const std::string& text);

// Validates the range page: "Start sector is not valid.", "End sector is not
// valid.", "End sector should be bigger than start sector.", "Select
// partition type.". fileSystem is the chosen type; with
// Unknown the committed type stays, which only raw recovery and imaging
// accept (allowUnknown).
[[nodiscard]] Result<ManualRange> validateManualRange(const std::string& startText,
                                                            const std::string& endText,
                                                            FsType fileSystem, FsType committedType,
                                                            bool allowUnknown);

}  // namespace dravolin
