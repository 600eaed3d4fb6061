#pragma once
// The volume check of a committed or listed selection, by file-system name:
// the FAT check of the FAT readers for "FAT12", "FAT16" and "FAT32", the
// NTFS check for "NTFS".
#include <string>

#include "common/error.h"
#include "disk/sector_reader.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// True for the names that have a volume check.
bool hasVolumeCheck(const std::string& fileSystem);

// The layout values of the volume of type fileSystem between start and end
// (exclusive): base with that file system's fields replaced. The check's
// error when it rejects the volume; InvalidArgument for a name without one.
[[nodiscard]] Result<VolumeParameters> checkVolume(SectorReader& reader, const std::string& fileSystem,
                                                   SectorNumber start, SectorNumber end,
                                                   const VolumeParameters& base = {});

}  // namespace dravolin
