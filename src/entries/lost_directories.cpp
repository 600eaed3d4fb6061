#include "entries/lost_directories.h"

#include <algorithm>
#include <vector>

namespace dravolin {
namespace {

// FAT names the node in 8-bit text; NTFS, whose names are all UTF-16, in wide text.
void ensureLostNode(FoundEntries& entries, std::uint32_t rootId, std::uint16_t partition) {
  if (entries.findDirectory(kLostId, partition) >= 0) return;
  if (rootId == kNtfsRootId)
    entries.AddDirectoryNode("", u"Lost", false, rootId, kLostId, 0, EntryTimes{}, partition);
  else
    entries.AddDirectoryNode("Lost", u"", false, rootId, kLostId, 0, EntryTimes{}, partition);
}

}  // namespace

std::size_t breakParentCycles(FoundEntries& entries, std::uint32_t rootId, std::uint16_t partition) {
  enum class State : std::uint8_t { Unknown, OnPath, Done };
  const std::size_t count = entries.DirectoryList.size();
  std::vector<State> state(count, State::Unknown);
  std::vector<std::size_t> path;
  std::vector<std::size_t> toMove;
  for (std::size_t start = 0; start < count; ++start) {
    if (state[start] != State::Unknown || entries.DirectoryList[start].partition != partition) continue;
    path.clear();
    std::size_t current = start;
    // Walk up the parents until the root, "Lost", a missing parent, a node
    // already settled, or a node of this very walk (a cycle). Every node is
    // on at most one walk, so the whole pass is linear.
    while (true) {
      state[current] = State::OnPath;
      path.push_back(current);
      const DirectoryNode& node = entries.DirectoryList[current];
      if (node.ownId == kLostId || node.parentId == rootId || node.parentId == kLostId) break;
      const std::ptrdiff_t parent = entries.findDirectory(node.parentId, partition);
      if (parent < 0) break;
      const auto p = static_cast<std::size_t>(parent);
      if (state[p] == State::Done) break;
      if (state[p] == State::OnPath) {
        // The cycle is the part of the path from p on; its first node in
        // list order goes under "Lost".
        auto from = std::find(path.begin(), path.end(), p);
        toMove.push_back(*std::min_element(from, path.end()));
        break;
      }
      current = p;
    }
    for (std::size_t i : path) state[i] = State::Done;
  }
  if (toMove.empty()) return 0;
  for (std::size_t i : toMove) entries.setDirectoryParent(i, kLostId);
  ensureLostNode(entries, rootId, partition);
  return toMove.size();
}

std::size_t reattachLostDirectories(FoundEntries& entries, std::uint32_t rootId, std::uint16_t partition,
                                    Job* job) {
  if (job) job->setStatus("Step 5/5 :- Searching lost directories. Please Wait...  ");
  std::size_t moved = 0;
  std::uint64_t counted = 0;
  const std::size_t count = entries.DirectoryList.size();
  for (std::size_t i = 0; i < count; ++i) {
    const DirectoryNode& node = entries.DirectoryList[i];
    if (node.parentId == rootId || node.partition != partition) continue;
    if (entries.findDirectory(node.parentId, partition) < 0) {
      entries.setDirectoryParent(i, kLostId);
      ++moved;
    }
    ++counted;
    if (job) {
      const std::uint64_t total = std::max<std::uint64_t>(entries.DirectoryCount, 1);
      job->setPercent(static_cast<int>(std::min<std::uint64_t>(100, 100 * counted / total)));
      job->checkpoint();
      if (job->stopRequested()) break;
    }
  }
  if (moved > 0) ensureLostNode(entries, rootId, partition);
  return moved + breakParentCycles(entries, rootId, partition);
}

}  // namespace dravolin
