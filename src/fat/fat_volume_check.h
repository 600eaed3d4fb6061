#pragma once
// The volume check of a FAT12, FAT16 or FAT32 selection: reads the boot
// sector (FAT32: or its backup six sectors on) and the first sector of the
// second FAT, and derives the layout values the FAT search runs on.
#include "common/error.h"
#include "disk/sector_reader.h"
#include "fat/fat_layout.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// The layout values of the volume at start: base with the FAT fields
// replaced (the fields of other file systems keep their values). NotFound
// without a boot sector signature; Corrupt when the second FAT does not
// start with the media byte or the cluster size is impossible.
[[nodiscard]] Result<VolumeParameters> checkFatVolume(SectorReader& reader, FatType type, SectorNumber start,
                                                      const VolumeParameters& base = {});

}  // namespace dravolin
