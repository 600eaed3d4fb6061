#pragma once
// The NTFS boot sector: the geometry every other NTFS reader needs (sector
// and cluster size, where $MFT and its mirror start, the size of an MFT
// record and of an index buffer).
#include <cstdint>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

// Largest cluster NTFS formats (2 MiB); larger values are taken as damage.
inline constexpr std::uint64_t kNtfsMaxClusterSize = 2u * 1024 * 1024;
// Largest MFT record and index buffer accepted.
inline constexpr std::uint32_t kNtfsMaxRecordSize = 64u * 1024;

struct NtfsBootSector {
  std::uint32_t bytes_per_sector = 0;    // the volume's own sector size (512 .. 4096)
  std::uint64_t sectors_per_cluster = 0; // in the volume's own sectors
  std::uint64_t cluster_size = 0;        // bytes
  std::uint64_t total_sectors = 0;       // in the volume's own sectors
  std::uint64_t mft_cluster = 0;
  std::uint64_t mft_mirror_cluster = 0;
  std::uint32_t record_size = 0;         // bytes of one MFT record
  std::uint32_t index_buffer_size = 0;   // bytes of one index buffer
};

// Decodes the boot sector in the first 512 bytes of sector. NotFound when the
// sector is not an NTFS boot sector ("NTFS    " at 3) or when a size field is
// out of the accepted ranges (power-of-two sector size 256..4096, clusters up
// to kNtfsMaxClusterSize, records and index buffers 512..kNtfsMaxRecordSize
// and a multiple of 512).
[[nodiscard]] Result<NtfsBootSector> parseNtfsBootSector(ByteSpan sector);

// Whether a sector met in a sweep may be an NTFS boot sector: the 0x55 0xAA
// signature and an OEM id that starts with "NTFS". parseNtfsBootSector then
// decides whether its fields make a volume.
bool looksLikeNtfsBootSector(ByteSpan sector);

// Where a volume lies and how it is cut up, in 512-byte device sectors.
struct NtfsGeometry {
  std::uint64_t partition_start = 0;  // device sector of the boot sector
  std::uint64_t cluster_size = 0;     // bytes, a multiple of 512
  std::uint32_t record_size = 1024;   // bytes, a multiple of 512
  std::uint64_t mft_cluster = 0;

  std::uint64_t sectorsPerCluster() const { return cluster_size / 512; }
  std::uint32_t sectorsPerRecord() const { return record_size / 512; }
};

// Geometry of a volume whose boot sector lies at device sector
// partition_start. NotFound when the cluster size is below 512 bytes (a
// volume with 256-byte sectors and one sector per cluster is not addressable
// in device sectors).
[[nodiscard]] Result<NtfsGeometry> makeNtfsGeometry(const NtfsBootSector& boot,
                                                    std::uint64_t partition_start);

}  // namespace dravolin
