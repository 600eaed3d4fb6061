#pragma once
// The volume check run when an NTFS selection is committed: reads the boot
// sector (or its backup) and the first MFT record and derives the layout
// values. A rejected check changes nothing.
#include <optional>
#include <string>

#include "common/byte_reader.h"
#include "common/error.h"
#include "disk/sector_reader.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// Checks the NTFS volume between start and end (exclusive; the backup boot
// sector is read at end, or in the sector before it). On acceptance returns
// base with the NTFS fields replaced; Corrupt otherwise. The FAT check lives
// with the FAT readers (fat/fat_volume_check.h).
[[nodiscard]] Result<VolumeParameters> checkNtfsVolume(SectorReader& reader, SectorNumber start, SectorNumber end,
                                                       const VolumeParameters& base = {});

// True for 1, 2, 4, ..., 128: the cluster sizes a boot sector may declare.
bool isValidClusterSize(std::uint64_t sectorsPerCluster);

}  // namespace dravolin
