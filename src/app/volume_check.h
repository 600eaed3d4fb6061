#pragma once
// The volume check of a committed or listed selection, by file-system type:
// the FAT check of the FAT readers for FAT12, FAT16 and FAT32, the NTFS
// check for NTFS.
#include "common/file_system_type.h"

#include "common/error.h"
#include "disk/sector_reader.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// True for the types that have a volume check.
bool hasVolumeCheck(FsType fileSystem);

// The layout values of the volume of type fileSystem between start and end
// (exclusive): base with that file system's fields replaced. The check's
// error when it rejects the volume; InvalidArgument for a type without one.
[[nodiscard]] Result<VolumeParameters> checkVolume(SectorReader& reader, FsType fileSystem,
                                                   SectorNumber start, SectorNumber end,
                                                   const VolumeParameters& base = {});

}  // namespace dravolin
