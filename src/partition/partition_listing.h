#pragma once
// The partitions of a disk as the wizard lists them: the whole-volume test on
// sector 0, the four primary entries, then the chain of extended boot
// records. FAT12, FAT16, FAT32, NTFS and exFAT are listed for searching;
// the partitions of some other file systems (foreignPartitionName) are
// listed by name, not searchable.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/file_system_type.h"
#include "disk/sector_reader.h"

namespace dravolin {

inline constexpr std::size_t kMaxPartitions = 26;

struct PartitionEntry {
  int ordinal = 0;             // 1, 2, ...
  FsType fileSystem = FsType::Unknown;  // FAT12, FAT16, FAT32 or NTFS
  SectorNumber start = 0;      // absolute
  SectorNumber end = 0;        // absolute, one past the last sector
  std::uint8_t typeByte = 0;   // 0 for a volume without a table
  bool logical = false;
  // The entry runs past the last sector of the disk; a job on it works on
  // the part that lies on the disk.
  bool beyondEnd = false;
  // GPT entries: the entry's slot in the array, its name, its type GUID as
  // text and that type's common name. A GPT partition without a FAT or NTFS
  // boot sector has fileSystem "UNKNOWN" and is shown by its type name.
  bool gpt = false;
  std::uint32_t gptSlot = 0;
  std::string gptName;
  std::string typeGuid;
  std::string typeName;
  // The type the label and the properties show: the file system, else the
  // GPT type name (or, for an entry of a file system the program does not
  // read, that file system's name).
  std::string typeText() const;
  // Whether the searches can read it: FAT, NTFS or exFAT. The others are
  // listed by their type name, for carving and imaging.
  bool searchable() const { return fileSystem != FsType::Unknown; }
  // "Partition - n ( TYPE )"
  std::string label() const;
};

struct PartitionListing {
  bool hasSignature = false;     // sector 0 carries a boot-record signature
  bool protectiveMbr = false;    // a GPT disk: a primary entry of type 0xEE
  bool gpt = false;              // listed from the GUID partition table
  bool gptFromBackup = false;    // ... through its backup header
  // Lines to show once with the listing ("GPT: primary header damaged; ...").
  std::vector<std::string> notes;
  bool wholeVolume = false;      // sector 0 is itself a boot sector
  std::uint64_t diskSectors = 0; // sectors of the disk listed
  // The disk's logical sector size: its partition table counts in these;
  // the listing's sectors are 512 bytes whatever it is.
  std::uint32_t logicalSectorSize = 512;
  std::vector<PartitionEntry> partitions;
};

// Name by the boot sector ("FAT32" at 82, "FAT16" at 54, "FAT12" at 54,
// "NTFS" at 3), else by the type byte; nullopt when neither is known.
// Logical partitions also take type 0x01 as FAT16.
std::optional<FsType> identifyPartition(ByteSpan bootSector, std::uint8_t typeByte, bool logical);

// The OEM name of a BitLocker volume's boot sector.
inline constexpr const char* kBitLockerOemId = "-FVE-FS-";

// The name of a partition the program lists but does not read (Linux,
// swap, BitLocker, ...) by its boot sector or MBR type byte; empty for
// types it does not list at all.
std::string foreignPartitionName(ByteSpan bootSector, std::uint8_t typeByte);

// The whole-volume test on sector 0: FAT16, FAT32, NTFS (later matches win),
// and FAT12 for a floppy; nullopt when sector 0 is not a boot sector.
std::optional<FsType> identifyWholeVolume(ByteSpan sector0);

// Reads the disk through the reader and lists its partitions. The walk of the
// extended chain ends at an EBR without a link, at a revisited EBR and at 26
// partitions. A protective MBR (type 0xEE) leads to the GUID partition table,
// whose used entries are listed in entry order; when neither of its headers
// is valid, the MBR's own entries are listed and a note says why. The
// reader's selection end is lifted while the listing reads.
PartitionListing listPartitions(SectorReader& reader);

// Marks an entry that runs past the end of the disk.
inline constexpr const char* kBeyondEndText = "beyond the end of the disk";

// Integer percentages of the pie chart, one per partition: each counts only
// what lies on the disk, none is negative and they never add up to more than
// 100.
std::vector<int> partitionPieSlices(const std::vector<PartitionEntry>& partitions, std::uint64_t diskBytes);

}  // namespace dravolin
