#pragma once
// What a search could not read and what that cost: a folder's sectors that
// stayed unreadable (and how many entries they held), a FAT chain both copies
// of the FAT failed to give, an MFT record or index buffer that could not be
// read. The searches add to the list as they go; the front ends name every
// loss to the user and a run that has any is incomplete.
#include <cstdint>
#include <string>
#include <vector>

#include "disk/unreadable_sectors.h"

namespace dravolin {

enum class ReadLossKind {
  FolderSectors,  // sectors of a folder's entries (FAT directory cluster, NTFS index buffer)
  FatChain,       // the FAT sectors that hold a chain, in both copies
  MftRecord,      // an MFT record (its file or folder is unknown or only partly known)
};

struct ReadLoss {
  ReadLossKind kind = ReadLossKind::FolderSectors;
  // The folder the loss belongs to, as the found entries name it (FAT: the
  // first cluster, NTFS: the record number; kLostId when unknown), and the
  // lost-partition file system it lies on.
  std::uint32_t folderId = 0;
  std::uint16_t partition = 0;
  std::vector<SectorRange> sectors;
  // Folder entries that could not be read (FAT: 16 per sector; NTFS: the
  // index entries the buffer would hold are unknown, 0).
  std::uint64_t entriesLost = 0;
  // NTFS: the records the lost sectors held or pointed to, where known.
  std::vector<std::uint64_t> recordNumbers;
};

struct ReadLosses {
  std::vector<ReadLoss> list;
  void add(ReadLoss loss) { list.push_back(std::move(loss)); }
  bool empty() const { return list.empty(); }
  void clear() { list.clear(); }
};

}  // namespace dravolin
