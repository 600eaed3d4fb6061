#include "exfat/exfat_search.h"

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "common/text_encoding.h"
#include "disk/read_ahead.h"
#include "entries/lost_directories.h"
#include "exfat/allocation_bitmap.h"
#include "exfat/directory_entry.h"
#include "exfat/exfat_volume.h"

namespace dravolin {
namespace {

// No exFAT directory is larger than 256 MiB.
constexpr std::uint64_t kMaxDirectoryBytes = 256ULL << 20;

EntryTimes timesOf(const ExfatEntrySet& set) {
  EntryTimes t{};
  auto put = [&t](std::size_t slot, const ExfatTimestamp& time) {
    const std::uint64_t fileTime = exfatTimestampToFileTime(time);
    t[slot] = static_cast<std::uint32_t>(fileTime);
    t[slot + 1] = static_cast<std::uint32_t>(fileTime >> 32);
  };
  put(0, set.modified);
  put(2, set.created);
  put(4, set.accessed);
  return t;
}

struct PendingFolder {
  std::uint32_t id = 0;
  std::uint32_t firstCluster = 0;
  std::uint64_t length = 0;  // 0: the root, to the end of its chain
  bool noFatChain = false;
  bool deleted = false;
};

int percentOf(std::uint64_t done, std::uint64_t total) {
  return total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
}

class ExfatLister {
 public:
  ExfatLister(Job& job, ExfatSearchContext& ctx, ExfatVolume& volume) : job_(job), ctx_(ctx), volume_(volume) {}

  // Loads the allocation bitmap named by the root directory.
  void loadBitmap() {
    const auto& g = volume_.geometry();
    const auto clusters = volume_.chain(g.boot.rootCluster, 0).clusters;
    std::vector<std::byte> root(clusters.size() * g.clusterBytes());
    volume_.readClusters(clusters, root);
    for (std::size_t at = 0; at + kExfatEntrySize <= root.size(); at += kExfatEntrySize) {
      const std::uint8_t type = static_cast<std::uint8_t>(root[at]);
      if (type == kExfatEndOfDirectory) break;
      if (type != kExfatBitmapEntry) continue;
      const ByteSpan entry = ByteSpan(root).subspan(at, kExfatEntrySize);
      const std::uint64_t length = std::min<std::uint64_t>(readU64(entry, kTableDataLength), (g.clusterCount + 7) / 8);
      const auto bitmapClusters = volume_.streamClusters(readU32(entry, kTableFirstCluster), length, false);
      std::vector<std::byte> bitmap(bitmapClusters.size() * g.clusterBytes());
      volume_.readClusters(bitmapClusters, bitmap);
      bitmap.resize(std::min<std::size_t>(bitmap.size(), length));
      volume_.setBitmap(std::move(bitmap));
      return;
    }
  }

  void queue(PendingFolder folder) { pending_.push_back(folder); }

  // Lists every queued folder and those found in them. False when stopped.
  bool listAll(bool stopEnds) {
    std::uint64_t done = 0;
    while (!pending_.empty()) {
      const PendingFolder folder = pending_.front();
      pending_.pop_front();
      listFolder(folder);
      ++done;
      job_.setPercent(percentOf(done, done + pending_.size()));
      job_.updateStatistics({ctx_.entries.TotalSize, ctx_.entries.DirectoryCount, ctx_.entries.FileCount, lastName_,
                             StatisticsFormat::Size});
      job_.checkpoint();
      if (stopEnds && job_.stopRequested()) return false;
    }
    return true;
  }

  // The clusters a folder's entries lie in; empty when they cannot be
  // trusted (a deleted folder whose clusters are in use again).
  std::vector<std::uint32_t> folderClusters(const PendingFolder& folder) {
    const auto& g = volume_.geometry();
    if (folder.length == 0) return volume_.chain(folder.firstCluster, kMaxDirectoryBytes / g.clusterBytes()).clusters;
    const std::uint64_t length = std::min(folder.length, kMaxDirectoryBytes);
    std::vector<std::uint32_t> clusters = volume_.streamClusters(folder.firstCluster, length, folder.noFatChain);
    if (!folder.deleted) return clusters;
    const std::uint64_t needed = (length + g.clusterBytes() - 1) / g.clusterBytes();
    if (clusters.size() != needed)
      clusters = contiguousExfatClusters(folder.firstCluster, needed, g.clusterCount);
    if (!volume_.bitmapLoaded()) return clusters;
    for (std::uint32_t c : clusters)
      if (isExfatClusterInUse(volume_.bitmap(), c, g.clusterCount).value_or(true)) return {};
    return clusters;
  }

  void listFolder(const PendingFolder& folder) {
    const auto& g = volume_.geometry();
    if (!visited_.insert(folder.firstCluster).second) return;
    const std::vector<std::uint32_t> clusters = folderClusters(folder);
    if (clusters.empty()) return;
    listedClusters_.insert(clusters.begin(), clusters.end());
    std::vector<std::byte> bytes(clusters.size() * g.clusterBytes());
    UnreadableWatch watch(ctx_.reader);
    volume_.readClusters(clusters, bytes);
    if (!watch.sectors().empty()) {
      ReadLoss loss;
      loss.kind = ReadLossKind::FolderSectors;
      loss.folderId = folder.id;
      loss.partition = ctx_.partition;
      loss.sectors = watch.sectors().ranges();
      loss.entriesLost = watch.sectors().total() * (kSectorSize / kExfatEntrySize);
      ctx_.entries.Losses.add(std::move(loss));
    }
    listEntries(bytes, folder.id, folder.deleted);
  }

  // Adds the entry sets of a folder's bytes; folders found are queued.
  void listEntries(ByteSpan bytes, std::uint32_t parentId, bool parentDeleted) {
    std::size_t at = 0;
    while (at + kExfatEntrySize <= bytes.size()) {
      const std::uint8_t type = static_cast<std::uint8_t>(bytes[at]);
      if (type == kExfatEndOfDirectory) break;
      if ((type | kExfatInUse) != kExfatFileEntry) {
        at += kExfatEntrySize;
        continue;
      }
      const EntrySetOutcome outcome = decodeExfatEntrySet(bytes, at);
      if (!outcome.set) {
        at += kExfatEntrySize;
        continue;
      }
      addEntrySet(*outcome.set, parentId, parentDeleted);
      at += outcome.set->entries * kExfatEntrySize;
    }
  }

  void addEntrySet(const ExfatEntrySet& set, std::uint32_t parentId, bool parentDeleted) {
    FoundEntries& entries = ctx_.entries;
    const bool deleted = parentDeleted || !set.inUse;
    lastName_ = utf16ToUtf8(set.name);
    const auto& g = volume_.geometry();
    const bool validCluster = set.firstCluster >= kExfatFirstCluster &&
                              set.firstCluster - kExfatFirstCluster < g.clusterCount;
    if (set.directory) {
      // A folder without a valid cluster gets an id no cluster has.
      const std::uint32_t id = validCluster ? set.firstCluster : nextSyntheticId_--;
      entries.AddDirectoryNode("", set.name, deleted, parentId, id, 0, timesOf(set), ctx_.partition);
      if (validCluster && set.dataLength > 0)
        queue({id, set.firstCluster, set.dataLength, set.noFatChain, deleted});
      return;
    }
    const std::size_t index = entries.AddFileNode("", set.name, deleted, set.dataLength, parentId,
                                                  validCluster ? set.firstCluster : 0, set.validDataLength,
                                                  timesOf(set));
    entries.FileList[index].contiguous = set.noFatChain;
    entries.FileList[index].partition = ctx_.partition;
    entries.TotalSize += set.dataLength;
  }

  // Exhaustive sweep: the heap clusters that begin with a valid entry set,
  // in heap order.
  std::vector<std::uint32_t> sweep() {
    const auto& g = volume_.geometry();
    std::vector<std::uint32_t> found;
    const SectorNumber first = g.heapStart;
    const SectorNumber end = std::min<SectorNumber>(g.clusterSector(kExfatFirstCluster + g.clusterCount),
                                                    g.end);
    ReadAheadStream stream(ctx_.reader, job_, first, end);
    std::vector<std::byte> scratch(kSectorSize);
    for (std::uint64_t i = 0; i < g.clusterCount; ++i) {
      const auto cluster = static_cast<std::uint32_t>(kExfatFirstCluster + i);
      const SectorNumber sector = g.clusterSector(cluster);
      if (sector >= end) break;
      // Only the first sector of a cluster is looked at: a folder's first
      // cluster starts with an entry set (or the root's own entries).
      const ByteSpan head = stream.read(sector, 1, scratch);
      if (looksLikeFolder(head)) found.push_back(cluster);
      if ((i & 0x3FF) == 0) {
        job_.setPercent(percentOf(i, g.clusterCount));
        job_.updateStatistics({sector, found.size(), 0, lastName_, StatisticsFormat::Sector, 0, 1024});
        job_.checkpoint();
        if (job_.stopRequested()) break;
      }
    }
    return found;
  }

  static bool looksLikeFolder(ByteSpan head) {
    const std::uint8_t type = readU8(head, 0);
    if ((type | kExfatInUse) != kExfatFileEntry) return false;
    return decodeExfatEntrySet(head, 0).set.has_value();
  }

  // Whether the cluster holds entries of a folder listed already.
  bool wasListed(std::uint32_t cluster) const { return listedClusters_.contains(cluster); }

 private:
  Job& job_;
  ExfatSearchContext& ctx_;
  ExfatVolume& volume_;
  std::deque<PendingFolder> pending_;
  std::unordered_set<std::uint32_t> visited_;
  std::unordered_set<std::uint32_t> listedClusters_;
  std::string lastName_;
  std::uint32_t nextSyntheticId_ = 0x0FFFFFFE;
};

std::optional<ExfatVolume> openVolume(ExfatSearchContext& ctx) {
  auto geometry = exfatGeometryOf(ctx.reader, ctx.parameters);
  if (!geometry) return std::nullopt;
  if (ctx.partitionEnd > 0 && ctx.partitionEnd < geometry->end) geometry->end = ctx.partitionEnd;
  return ExfatVolume(ctx.reader, *geometry);
}

void startEntries(ExfatSearchContext& ctx) {
  if (!ctx.lostPartitionSearch) ctx.entries.clear();
}

}  // namespace

void runExfatTreeSearch(Job& job, ExfatSearchContext& context) {
  startEntries(context);
  bool finished = true;
  if (auto volume = openVolume(context)) {
    ExfatLister lister(job, context, *volume);
    job.setStatus("Searching Directories. Please Wait...");
    lister.loadBitmap();
    lister.queue({0, volume->geometry().boot.rootCluster, 0, false, false});
    finished = lister.listAll(true);
  }
  FoundEntries& entries = context.entries;
  if (!finished || entries.DirectoryCount != 0 || entries.FileCount != 0) {
    breakParentCycles(entries, 0, context.partition);
    job.requestStop();
    job.complete(Completion::Stopped);
    return;
  }
  job.prompter().inform(kSwitchingToExhaustiveText);
  context.exhaustiveSearch = true;
  runExfatExhaustiveSearch(job, context);
}

void runExfatExhaustiveSearch(Job& job, ExfatSearchContext& context) {
  startEntries(context);
  if (!context.lostPartitionSearch || context.entries.findDirectory(kLostId) < 0) context.entries.addLostNode();
  auto volume = openVolume(context);
  if (!volume) {
    job.complete(Completion::SearchDone);
    return;
  }
  ExfatLister lister(job, context, *volume);
  job.setStatus("Step 1/3 :- Searching Directories. Please Wait...");
  const std::vector<std::uint32_t> found = lister.sweep();
  job.clearStopRequest();
  lister.loadBitmap();
  job.setStatus("Step 2/3 :- Inserting Root Directory & Enumerating Files. Please Wait...  ");
  lister.queue({0, volume->geometry().boot.rootCluster, 0, false, false});
  bool going = lister.listAll(true);
  // Folders the tree did not reach: each under "Lost" (their entry in a
  // parent is gone, and with it the length).
  job.setStatus("Step 3/3 :- Inserting Lost Directories & Enumerating Files. Please Wait...  ");
  const auto& g = volume->geometry();
  for (std::uint32_t cluster : found) {
    if (!going) break;
    if (lister.wasListed(cluster) || context.entries.findDirectory(cluster, context.partition) >= 0) continue;
    const std::u16string name = utf8ToUtf16("Dir" + std::to_string(cluster));
    context.entries.AddDirectoryNode("", name, true, kLostId, cluster, 0, EntryTimes{}, context.partition);
    // Its chain when the FAT still holds one (a live folder whose parent
    // entry is gone), else the one cluster.
    const std::optional<std::uint32_t> link = volume->fatEntry(cluster);
    const bool chained = link && *link != 0 && *link != kExfatBadCluster;
    lister.queue({cluster, cluster, chained ? 0 : g.clusterBytes(), !chained, false});
    going = lister.listAll(true);
  }
  reattachLostDirectories(context.entries, 0, context.partition, &job);
  job.complete(Completion::SearchDone);
}

}  // namespace dravolin
