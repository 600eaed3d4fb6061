#pragma once
// The volume check run when a FAT or NTFS selection is committed: reads the
// boot sector (or its backup) and the first structures of the volume and
// derives the layout values. A rejected check writes nothing.
#include <optional>
#include <string>

#include "common/byte_reader.h"
#include "disk/sector_reader.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// Checks the volume of type fileSystem ("FAT12", "FAT16", "FAT32", "NTFS")
// between start and end (exclusive; the NTFS backup boot sector is read at
// end). On acceptance the fields of that file system are written into
// parameters and true is returned; the other fields keep their values.
bool checkVolume(SectorReader& reader, const std::string& fileSystem, SectorNumber start,
                 SectorNumber end, VolumeParameters& parameters);

// True for 1, 2, 4, ..., 128: the cluster sizes a boot sector may declare.
bool isValidClusterSize(std::uint64_t sectorsPerCluster);

}  // namespace dravolin
