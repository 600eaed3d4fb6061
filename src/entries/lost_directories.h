#pragma once
// Turning found directories into a tree that always reaches every node
// (shared by the FAT and the NTFS searches):
// directories whose parent is missing go under the "Lost" node
// (own id 0x0FFFFFFF), and so do directories caught in a parent cycle (a
// directory that names itself or one of its descendants as parent), which
// could otherwise never be reached from the root.
#include <cstddef>
#include <cstdint>

#include "common/job.h"
#include "entries/found_entries.h"

namespace dravolin {

// For each directory node of the partition, in list order, whose parent id is
// not rootId and names no node of the same partition: parent id becomes
// 0x0FFFFFFF. Then breaks parent cycles the same way (the first node of each
// cycle in list order moves under "Lost"). Reports "Step 5/5 :- Searching
// lost directories. Please Wait...  " and the percentage through the job
// when one is given, and stops early when the job's stop is requested.
// Returns the number of directories moved under "Lost".
std::size_t reattachLostDirectories(FoundEntries& entries, std::uint32_t rootId, std::uint16_t partition,
                                    Job* job = nullptr);

// Moves under "Lost" the first node (in list order) of every parent cycle
// among the directory nodes of the partition. Returns how many were moved.
std::size_t breakParentCycles(FoundEntries& entries, std::uint32_t rootId, std::uint16_t partition);

}  // namespace dravolin
