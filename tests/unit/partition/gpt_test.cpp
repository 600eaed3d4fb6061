#include "partition/gpt.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>

#include "disk/memory_source.h"
#include "partition/partition_listing.h"

namespace dravolin {
namespace {

// A 200-sector GPT disk built field by field, with both copies sealed by
// zlib's CRC32: protective MBR, primary header at 1 and its entries at 2-33,
// backup entries at 167-198 and the backup header at 199.
constexpr std::uint64_t kDiskSectors = 200;
constexpr std::size_t kArraySectors = 32;

struct HeaderFields {
  std::uint64_t myLba, alternateLba, entryArrayLba;
  std::uint64_t firstUsable = 34, lastUsable = 166;
  std::uint32_t headerSize = 92, entryCount = 128, entrySize = 128;
};

struct EntryFields {
  std::uint32_t slot;  // 1-based
  const char* typeGuidBytes;  // 16 bytes as stored
  std::uint64_t first, last;
  std::u16string name;
};

// As stored on disk (first three groups little-endian).
const char kBasicData[] = "\xA2\xA0\xD0\xEB\xE5\xB9\x33\x44\x87\xC0\x68\xB6\xB7\x26\x99\xC7";
const char kLinux[] = "\xAF\x3D\xC6\x0F\x83\x84\x72\x47\x8E\x79\x3D\x69\xD8\x47\x7D\xE4";

std::uint32_t zlibCrc(std::span<const std::byte> data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

void writeU64(std::span<std::byte> s, std::size_t at, std::uint64_t v) {
  writeU32(s, at, static_cast<std::uint32_t>(v));
  writeU32(s, at + 4, static_cast<std::uint32_t>(v >> 32));
}

struct GptDisk {
  HeaderFields primary{1, kDiskSectors - 1, 2};
  HeaderFields backup{kDiskSectors - 1, 1, kDiskSectors - 1 - kArraySectors};
  std::vector<EntryFields> entries{
      {1, kBasicData, 40, 59, u"Données"},  // FAT16 boot sector at 40
      {3, kLinux, 60, 99, u"root"},
      {4, kBasicData, 100, 119, u"blank"},  // no boot sector
  };

  void writeArray(MemorySectorSource& disk, const HeaderFields& h) const {
    auto bytes = std::span<std::byte>(disk.bytes()).subspan(h.entryArrayLba * kSectorSize, kArraySectors * kSectorSize);
    std::fill(bytes.begin(), bytes.end(), std::byte{0});
    for (const auto& e : entries) {
      auto entry = bytes.subspan((e.slot - 1) * std::size_t{128}, 128);
      std::memcpy(entry.data(), e.typeGuidBytes, 16);
      entry[16] = std::byte{0x11};  // unique GUID, not checked
      writeU64(entry, 32, e.first);
      writeU64(entry, 40, e.last);
      for (std::size_t i = 0; i < e.name.size(); ++i) writeU16(entry, 56 + 2 * i, e.name[i]);
    }
  }
  void writeHeader(MemorySectorSource& disk, const HeaderFields& h, std::uint32_t arrayCrc) const {
    auto s = disk.sector(h.myLba);
    std::memcpy(s.data(), "EFI PART", 8);
    writeU32(s, 8, 0x00010000);
    writeU32(s, 12, h.headerSize);
    writeU64(s, 24, h.myLba);
    writeU64(s, 32, h.alternateLba);
    writeU64(s, 40, h.firstUsable);
    writeU64(s, 48, h.lastUsable);
    writeU64(s, 72, h.entryArrayLba);
    writeU32(s, 80, h.entryCount);
    writeU32(s, 84, h.entrySize);
    writeU32(s, 88, arrayCrc);
    seal(disk, h.myLba);
  }
  static void seal(MemorySectorSource& disk, std::uint64_t lba) {
    auto s = disk.sector(lba);
    writeU32(s, 16, 0);
    const std::size_t size = std::min<std::size_t>(readU32(s, 12), kSectorSize);
    writeU32(s, 16, zlibCrc(s.first(size)));
  }
  std::vector<std::byte> build() const {
    MemorySectorSource disk(kDiskSectors);
    auto mbr = disk.sector(0);
    mbr[446 + 4] = std::byte{kProtectiveMbrType};
    writeU32(mbr, 446 + 8, 1);
    writeU32(mbr, 446 + 12, kDiskSectors - 1);
    mbr[510] = std::byte{0x55};
    mbr[511] = std::byte{0xAA};
    std::memcpy(disk.sector(40).data() + 54, "FAT16   ", 8);
    for (const HeaderFields* h : {&primary, &backup}) {
      writeArray(disk, *h);
      const std::uint64_t arrayBytes =
          std::min<std::uint64_t>(std::uint64_t{h->entryCount} * h->entrySize, kArraySectors * kSectorSize);
      writeHeader(disk, *h,
                  zlibCrc(std::span<const std::byte>(disk.bytes()).subspan(h->entryArrayLba * kSectorSize, arrayBytes)));
    }
    return std::move(disk.bytes());
  }
};

enum class Outcome { Primary, Backup, NoTable };

struct Row {
  const char* name;
  std::function<void(GptDisk&)> fields;            // before sealing
  std::function<void(MemorySectorSource&)> bytes;  // after sealing
  Outcome outcome;
  std::vector<std::string> labels;                 // "label start-end name"
  std::string note;                                // a note that must be there
};

const std::vector<std::string> kAll = {"Partition - 1 ( FAT16 ) 40-60 Données",
                                       "Partition - 2 ( Linux filesystem ) 60-100 root",
                                       "Partition - 3 ( Microsoft basic data ) 100-120 blank"};

TEST(GptReader, EachDamageFallsBackToTheBackupOrIsRefusedClearly) {
  auto primaryOnly = [](auto change) { return [change](GptDisk& d) { change(d.primary); }; };
  auto both = [](auto change) { return [change](GptDisk& d) { change(d.primary); change(d.backup); }; };
  const std::vector<Row> rows = {
      {"intact", {}, {}, Outcome::Primary, kAll, ""},
      {"bad signature", {}, [](MemorySectorSource& s) { s.sector(1)[0] = std::byte{'X'}; }, Outcome::Backup, kAll,
       "no \"EFI PART\" signature"},
      {"bad header CRC", {}, [](MemorySectorSource& s) { s.sector(1)[60] ^= std::byte{1}; }, Outcome::Backup, kAll,
       "header CRC mismatch"},
      {"bad entry CRC", {}, [](MemorySectorSource& s) { s.sector(2)[100] ^= std::byte{1}; }, Outcome::Backup, kAll,
       "entry array CRC mismatch"},
      {"huge entry count", primaryOnly([](HeaderFields& h) { h.entryCount = 0x80000000u; }), {}, Outcome::Backup,
       kAll, "exceed 131072 bytes"},
      {"entry size 0", primaryOnly([](HeaderFields& h) { h.entrySize = 0; }), {}, Outcome::Backup, kAll,
       "entry size 0"},
      {"entry size odd", primaryOnly([](HeaderFields& h) { h.entrySize = 129; }), {}, Outcome::Backup, kAll,
       "entry size 129"},
      {"header size too big", primaryOnly([](HeaderFields& h) { h.headerSize = 513; }), {}, Outcome::Backup, kAll,
       "header size 513"},
      {"header at the wrong sector", primaryOnly([](HeaderFields& h) { h.myLba = 5; }),
       [](MemorySectorSource& s) {  // the header still lies at sector 1
         std::memcpy(s.sector(1).data(), s.sector(5).data(), kSectorSize);
         std::memset(s.sector(5).data(), 0, kSectorSize);
       },
       Outcome::Backup, kAll, "lies at sector 5, not 1"},
      {"entry array past the end", {},
       [](MemorySectorSource& s) {
         writeU64(s.sector(1), 72, kDiskSectors - 10);
         GptDisk::seal(s, 1);
       },
       Outcome::Backup, kAll, "runs past the end of the disk"},
      {"first usable after last usable", primaryOnly([](HeaderFields& h) { h.firstUsable = 170; }), {},
       Outcome::Backup, kAll, "first usable sector 170 after last usable sector 166"},
      {"both headers damaged", {},
       [](MemorySectorSource& s) {
         s.sector(1)[60] ^= std::byte{1};
         s.sector(kDiskSectors - 1)[60] ^= std::byte{1};
       },
       Outcome::NoTable, {}, "GPT: no valid header (primary: header CRC mismatch; backup: header CRC mismatch)"},
      {"both entry counts huge", both([](HeaderFields& h) { h.entryCount = 0xFFFFFFFFu; }), {}, Outcome::NoTable,
       {}, "GPT: no valid header"},
      {"entry with first sector after last", [](GptDisk& d) { d.entries[1].first = 100, d.entries[1].last = 99; },
       {}, Outcome::Primary,
       {"Partition - 1 ( FAT16 ) 40-60 Données", "Partition - 2 ( Microsoft basic data ) 100-120 blank"},
       "GPT: entry 3 left out: its first sector lies after its last"},
      {"entry starting past the disk end", [](GptDisk& d) { d.entries[1].first = 200, d.entries[1].last = 300; }, {},
       Outcome::Primary,
       {"Partition - 1 ( FAT16 ) 40-60 Données", "Partition - 2 ( Microsoft basic data ) 100-120 blank"},
       "GPT: entry 3 left out: it starts past the end of the disk"},
      {"entry ending at the last 64-bit sector", [](GptDisk& d) { d.entries[1].last = ~std::uint64_t{0}; }, {},
       Outcome::Primary,
       {"Partition - 1 ( FAT16 ) 40-60 Données", "Partition - 2 ( Microsoft basic data ) 100-120 blank"},
       "its last sector lies past the end of any disk"},
      {"entry ending past the disk end is kept", [](GptDisk& d) { d.entries[1].last = 5000; }, {}, Outcome::Primary,
       {"Partition - 1 ( FAT16 ) 40-60 Données", "Partition - 2 ( Linux filesystem ) 60-5001 root beyond",
        "Partition - 3 ( Microsoft basic data ) 100-120 blank"},
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    GptDisk layout;
    if (row.fields) row.fields(layout);
    MemorySectorSource disk(layout.build());
    if (row.bytes) row.bytes(disk);
    SectorReader reader(disk);
    const PartitionListing listing = listPartitions(reader);
    EXPECT_TRUE(listing.protectiveMbr);
    EXPECT_EQ(listing.gpt, row.outcome != Outcome::NoTable);
    EXPECT_EQ(listing.gptFromBackup, row.outcome == Outcome::Backup);
    std::vector<std::string> got;
    for (const auto& p : listing.partitions)
      got.push_back(p.label() + " " + std::to_string(p.start) + "-" + std::to_string(p.end) + " " + p.gptName +
                    (p.beyondEnd ? " beyond" : ""));
    EXPECT_EQ(got, row.labels);
    std::string notes;
    for (const auto& n : listing.notes) notes += n + "\n";
    if (row.outcome == Outcome::Backup) {
      EXPECT_NE(notes.find(kGptBackupUsedText), std::string::npos) << notes;
    }
    if (row.note.empty()) {
      EXPECT_EQ(notes, "");
    } else {
      EXPECT_NE(notes.find(row.note), std::string::npos) << notes;
    }
  }
}

TEST(GptReader, GuidsInTextFormAndTheirNames) {
  GptGuid basic{};
  std::memcpy(basic.data(), kBasicData, 16);
  EXPECT_EQ(formatGuid(basic), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
  EXPECT_EQ(gptTypeName(basic), "Microsoft basic data");
  GptGuid odd{};
  odd[0] = 1;
  EXPECT_EQ(gptTypeName(odd), "Unknown");
  // The CRC of the check string of the IEEE polynomial.
  const char check[] = "123456789";
  EXPECT_EQ(gptCrc32(std::as_bytes(std::span(check, 9))), 0xCBF43926u);
}

TEST(GptReader, ListingReadsPastAnEarlierSelectionEnd) {
  // A selection committed before (ending at sector 50) must not hide the
  // backup header or the boot sectors from a new listing.
  GptDisk layout;
  MemorySectorSource disk(layout.build());
  disk.sector(1)[0] = std::byte{'X'};
  SectorReader reader(disk);
  reader.setSelectionEnd(30);
  const PartitionListing listing = listPartitions(reader);
  ASSERT_EQ(listing.partitions.size(), 3u);
  EXPECT_TRUE(listing.gptFromBackup);
  EXPECT_EQ(listing.partitions[0].fileSystem, FsType::Fat16);
  EXPECT_EQ(reader.selectionEnd(), 30);
}

}  // namespace
}  // namespace dravolin
