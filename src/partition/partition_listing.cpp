#include "partition/partition_listing.h"

#include <algorithm>
#include <array>
#include <set>

#include "partition/gpt.h"
#include "partition/mbr.h"
#include "partition/volume_boot_record.h"

namespace dravolin {
namespace {

void addPartition(PartitionListing& listing, FsType name, SectorNumber start,
                  std::uint64_t length, std::uint8_t type, bool logical) {
  PartitionEntry entry;
  entry.ordinal = static_cast<int>(listing.partitions.size()) + 1;
  entry.fileSystem = name;
  entry.start = start;
  entry.end = start + length;
  entry.typeByte = type;
  entry.logical = logical;
  entry.beyondEnd = entry.end > listing.diskSectors;
  listing.partitions.push_back(entry);
}

}  // namespace

std::string PartitionEntry::typeText() const {
  return fileSystem == FsType::Unknown && !typeName.empty() ? typeName : toString(fileSystem);
}

std::string PartitionEntry::label() const {
  return "Partition - " + std::to_string(ordinal) + " ( " + typeText() + " )";
}

std::optional<FsType> identifyPartition(ByteSpan boot, std::uint8_t type, bool logical) {
  // A sector too short to hold the fields is identified by the type alone.
  const VolumeBootRecord record = parseVolumeBootRecord(boot).value_or(VolumeBootRecord{});
  if (record.fat32TypeText.starts_with("FAT32")) return FsType::Fat32;
  if (record.fat16TypeText.starts_with("FAT16")) return FsType::Fat16;
  if (record.fat16TypeText.starts_with("FAT12")) return FsType::Fat12;
  if (record.oemId.starts_with("NTFS")) return FsType::Ntfs;
  // A BitLocker volume sits in a type 0x07 or basic data partition too.
  if (record.oemId == kBitLockerOemId) return std::nullopt;
  // Type 0x07 and GPT basic data hold NTFS and exFAT alike: the OEM name
  // tells them apart.
  if (record.oemId == "EXFAT   ") return FsType::ExFat;
  switch (type) {
    case 0x04: case 0x06: case 0x0E: return FsType::Fat16;
    case 0x0B: case 0x0C: return FsType::Fat32;
    case 0x07: return FsType::Ntfs;
    case 0x01: if (logical) return FsType::Fat16; break;
    default: break;
  }
  return std::nullopt;
}

std::string foreignPartitionName(ByteSpan bootSector, std::uint8_t typeByte) {
  const VolumeBootRecord record = parseVolumeBootRecord(bootSector).value_or(VolumeBootRecord{});
  if (record.oemId == kBitLockerOemId) return "BitLocker";
  switch (typeByte) {
    case 0x82: return "Linux swap";
    case 0x83: return "Linux";
    case 0x8E: return "Linux LVM";
    case 0xFD: return "Linux RAID";
    case 0xA5: return "FreeBSD";
    case 0xA6: return "OpenBSD";
    case 0xA9: return "NetBSD";
    case 0xAF: return "HFS+";
    case 0x27: return "Windows RE";
    case 0x12: return "Recovery";
    case 0xEF: return "EFI System";
    default: return {};
  }
}

std::optional<FsType> identifyWholeVolume(ByteSpan sector0) {
  const VolumeBootRecord record = parseVolumeBootRecord(sector0).value_or(VolumeBootRecord{});
  // The digits after "FAT" decide alone, so "FAT16" and "xxx16" both count.
  auto digits = [](const std::string& text) { return text.size() >= 5 ? text.substr(3, 2) : std::string(); };
  std::optional<FsType> name;
  if (record.fat16TypeText.starts_with("FAT12")) name = FsType::Fat12;
  if (digits(record.fat16TypeText) == "16") name = FsType::Fat16;
  if (digits(record.fat32TypeText) == "32") name = FsType::Fat32;
  if (record.oemId.starts_with("NTFS")) name = FsType::Ntfs;
  if (record.oemId == "EXFAT   ") name = FsType::ExFat;
  return name;
}

namespace {

// The partition structures lie anywhere on the disk, whatever selection was
// committed before: the end guard of the reader is lifted while listing.
class SelectionEndLifted {
 public:
  explicit SelectionEndLifted(SectorReader& reader) : reader_(reader), saved_(reader.selectionEnd()) {
    reader_.setSelectionEnd(0);
  }
  ~SelectionEndLifted() { reader_.setSelectionEnd(saved_); }
  SelectionEndLifted(const SelectionEndLifted&) = delete;
  SelectionEndLifted& operator=(const SelectionEndLifted&) = delete;

 private:
  SectorReader& reader_;
  std::int64_t saved_;
};

// The used entries of a valid GUID partition table, each identified by its
// boot sector as MBR partitions are, else named after its type GUID.
void listGptPartitions(PartitionListing& listing, SectorReader& reader, const GptTable& table) {
  listing.gpt = true;
  listing.gptFromBackup = table.fromBackup;
  listing.notes.insert(listing.notes.end(), table.notes.begin(), table.notes.end());
  for (const auto& e : table.entries) {
    SectorBuffer boot = readSectorOrZeros(reader, e.firstLba);
    const FsType name = identifyPartition(boot, 0, false).value_or(FsType::Unknown);
    // firstLba <= lastLba < 2^63 - 1: no overflow.
    const std::uint64_t length = e.lastLba - e.firstLba + 1;
    addPartition(listing, name, e.firstLba, length, 0, false);
    PartitionEntry& p = listing.partitions.back();
    if (e.lastLba >= listing.diskSectors) p.beyondEnd = true;
    p.gpt = true;
    p.gptSlot = e.slot;
    p.gptName = e.name;
    p.typeGuid = formatGuid(e.typeGuid);
    p.typeName = gptTypeName(e.typeGuid);
    if (name == FsType::Unknown) {
      const std::string foreign = foreignPartitionName(boot, 0);
      if (!foreign.empty()) p.typeName = foreign;
    }
  }
}

}  // namespace

PartitionListing listPartitions(SectorReader& reader) {
  const SelectionEndLifted lifted(reader);
  PartitionListing listing;
  listing.diskSectors = reader.source().sectorCount();
  listing.logicalSectorSize = reader.source().logicalSectorSize();
  SectorBuffer mbr = readSectorOrZeros(reader, 0);
  listing.hasSignature = hasBootRecordSignature(mbr);
  if (!listing.hasSignature) return listing;

  if (auto whole = identifyWholeVolume(mbr)) {
    listing.wholeVolume = true;
    const VolumeBootRecord record = parseVolumeBootRecord(mbr).value_or(VolumeBootRecord{});
    std::uint64_t total = *whole == FsType::Ntfs ? record.ntfsSectorCount : record.fatSectorCount;
    // Small FAT volumes keep their sector count in the 16-bit field and
    // leave the 32-bit one at 0.
    if (total == 0 && *whole != FsType::Ntfs) total = record.smallSectorCount;
    // NTFS and FAT count their own sectors: a volume made for 4,096-byte
    // sectors holds eight 512-byte sectors in each.
    const std::uint32_t bytesPerSector = record.bytesPerSector;
    if (bytesPerSector > 512 && bytesPerSector <= 4096 && (bytesPerSector & (bytesPerSector - 1)) == 0)
      total *= bytesPerSector / 512;
    // exFAT keeps its length at 72 in its own sectors (shift at 108).
    if (*whole == FsType::ExFat) {
      const std::uint8_t shift = readU8(mbr, 108);
      total = shift >= 9 && shift <= 12 ? readU64(mbr, 72) << (shift - 9) : 0;
      if (total > listing.diskSectors) total = listing.diskSectors;
    }
    addPartition(listing, *whole, 0, total, 0, false);
    return listing;
  }

  const auto primaries = parsePartitionRecord(mbr).value_or(std::vector<PartitionRecordEntry>{});
  listing.protectiveMbr = std::any_of(primaries.begin(), primaries.end(),
                                      [](const auto& e) { return e.type == kProtectiveMbrType; });
  if (listing.protectiveMbr) {
    auto table = readGpt(reader, listing.diskSectors);
    if (table) {
      listGptPartitions(listing, reader, *table);
      return listing;
    }
    listing.notes.push_back(table.error().message);
  }

  // The records count in the disk's logical sectors; the listing in
  // 512-byte sectors (32-bit fields times at most 8: no overflow).
  const std::uint64_t units = reader.source().unitsPerLogicalSector();
  std::optional<SectorNumber> extendedBase;
  for (const auto& entry : primaries) {
    if (isExtendedType(entry.type)) {
      extendedBase = entry.firstSector * units;
      continue;
    }
    if (listing.partitions.size() >= kMaxPartitions) break;
    SectorBuffer boot = readSectorOrZeros(reader, entry.firstSector * units);
    if (auto name = identifyPartition(boot, entry.type, false)) {
      addPartition(listing, *name, entry.firstSector * units, entry.sectorCount * units, entry.type, false);
    } else if (std::string foreign = foreignPartitionName(boot, entry.type); !foreign.empty()) {
      addPartition(listing, FsType::Unknown, entry.firstSector * units, entry.sectorCount * units, entry.type, false);
      listing.partitions.back().typeName = foreign;
    }
  }
  if (!extendedBase) return listing;

  // Each EBR's link is relative to the extended base X, and so are the
  // logical partitions' starts relative to their own EBR.
  const SectorNumber base = *extendedBase;
  std::uint64_t link = 0;
  std::set<SectorNumber> visited;
  while (listing.partitions.size() < kMaxPartitions) {
    SectorNumber ebrSector = base + link;
    if (!visited.insert(ebrSector).second) break;
    SectorBuffer ebr = readSectorOrZeros(reader, ebrSector);
    std::optional<std::uint64_t> next;
    for (const auto& entry : parsePartitionRecord(ebr).value_or(std::vector<PartitionRecordEntry>{})) {
      if (isExtendedType(entry.type)) {
        next = entry.firstSector * units;
        continue;
      }
      if (listing.partitions.size() >= kMaxPartitions) break;
      SectorNumber start = ebrSector + entry.firstSector * units;
      SectorBuffer boot = readSectorOrZeros(reader, start);
      if (auto name = identifyPartition(boot, entry.type, true)) {
        addPartition(listing, *name, start, entry.sectorCount * units, entry.type, true);
      } else if (std::string foreign = foreignPartitionName(boot, entry.type); !foreign.empty()) {
        addPartition(listing, FsType::Unknown, start, entry.sectorCount * units, entry.type, true);
        listing.partitions.back().typeName = foreign;
      }
    }
    if (!next) break;
    link = *next;
  }
  return listing;
}

std::vector<int> partitionPieSlices(const std::vector<PartitionEntry>& partitions, std::uint64_t diskBytes) {
  if (partitions.size() <= 1 || diskBytes == 0) return {100};
  std::vector<int> slices;
  int sum = 0;
  const std::uint64_t diskSectors = diskBytes / kSectorSize;
  for (std::size_t i = 0; i + 1 < partitions.size(); ++i) {
    const auto& p = partitions[i];
    // Only the part of an entry that lies on the disk counts.
    const std::uint64_t end = std::min<std::uint64_t>(p.end, diskSectors);
    const std::uint64_t bytes = (end > p.start ? end - p.start : 0) * kSectorSize;
    std::uint64_t percent = bytes * 100 / diskBytes;  // bytes <= diskBytes: no overflow below 2^57
    percent = std::min<std::uint64_t>(percent, static_cast<std::uint64_t>(100 - sum));
    slices.push_back(static_cast<int>(percent));
    sum += static_cast<int>(percent);
  }
  slices.push_back(100 - sum);
  return slices;
}

}  // namespace dravolin
