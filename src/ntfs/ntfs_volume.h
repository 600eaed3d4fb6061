#pragma once
// The geometry of an NTFS volume as the searches and the saving use it: the
// cluster and record sizes from the boot sector (or its backup copy at the
// end of the volume), with the committed volume parameters as the last
// resort when neither copy decodes.
#include <cstdint>
#include <optional>

#include "common/error.h"
#include "disk/sector_reader.h"
#include "ntfs/boot_sector.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// Reads the boot sector at partitionStart, else the backup copy in the last
// sector of the volume (partitionEnd - 1, then partitionEnd, as the volume
// check looks for it). When no copy decodes, the geometry comes from the
// parameters (sectors per cluster, MFT start, record sectors; 1,024-byte
// records when they name none). NotFound when that is not usable either.
[[nodiscard]] Result<NtfsGeometry> readNtfsGeometry(SectorReader& reader, const VolumeParameters& parameters,
                                                    std::uint64_t partitionStart, std::uint64_t partitionEnd);

// The geometry with the MFT placed where the committed parameters found a
// "FILE" record, when that differs from the boot sector's MFT cluster (a
// damaged boot sector whose backup names the MFT); nullopt otherwise.
[[nodiscard]] std::optional<NtfsGeometry> geometryAtParameterMft(const NtfsGeometry& geometry,
                                                                 const VolumeParameters& parameters);

}  // namespace dravolin
