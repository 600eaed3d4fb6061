#pragma once
// The logical sector size an image file was made with. A device says its
// own (BLKSSZGET); an image copied from a disk with 4,096-byte sectors
// keeps that layout and nothing else tells it, so its first structures are
// looked at: the GUID partition table header ("EFI PART") lies in the
// second logical sector, at byte 512 or at byte 4,096; a FAT or NTFS boot
// sector says its bytes per sector, at the start of the image or at the
// start of a partition of the MBR, which counts in the disk's sectors.
#include <cstdint>
#include <span>

#include "disk/sector_source.h"

namespace dravolin {

// Whether the 512 bytes hold a FAT or NTFS boot sector (jump instruction,
// 0x55 0xAA signature, bytes per sector 512 to 4,096, sectors per cluster
// set); its bytes per sector then, 0 otherwise.
std::uint32_t bootSectorBytesPerSector(std::span<const std::byte> sector);

// 512 or 4,096 for the start of an image (the first 8,192 bytes or fewer):
// where the GPT header lies, else the bytes per sector of a boot sector at
// the start. 0 when the start does not tell.
std::uint32_t logicalSectorSizeFromStart(std::span<const std::byte> start);

// The size for an image source: what its start tells, else what the boot
// sector at the first MBR partition found at its start taken in 512-byte
// and in 4,096-byte sectors says; 512 when nothing tells.
std::uint32_t detectLogicalSectorSize(SectorSource& source);

}  // namespace dravolin
