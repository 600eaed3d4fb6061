#include "fat/fat_search.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "common/text_encoding.h"
#include "fat/cluster_chain.h"
#include "fat/directory_entry.h"
#include "fat/fat_layout.h"
#include "disk/read_ahead.h"
#include "disk/sweep_meeting.h"
#include "fat/result_assembly.h"

namespace dravolin {
namespace {

// Directory sectors read per transfer, and the sectors kept from the previous
// transfer so a long name that starts there can still be gathered (a long
// name spans at most 20 entries, less than two sectors).
constexpr std::uint32_t kDirectoryReadSectors = 256;
constexpr std::uint32_t kHistorySectors = 2;
// Sectors per transfer of the sweep for directory clusters: 128 KiB, which
// stays in the CPU cache while it is copied in and looked at (larger
// transfers made the sweep of a cached image about 15% slower).
constexpr std::uint64_t kSweepReadSectors = 256;
// The read-ahead ring of the sweep: blocks of about 512 KiB, 8 of them.
constexpr std::uint64_t kSweepBlockSectors = 1024;
constexpr std::size_t kSweepBlocks = 8;
// Ranges of at least this many sectors are swept by two threads, the helper
// taking stretches of this many clusters at a time.
constexpr std::uint64_t kParallelMinimumSectors = 8192;
constexpr std::uint64_t kHelperStretchClusters = 512;

int clampPercent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, part * 100 / whole));
}

// Short names are 8-bit OEM text; the statistics show them decoded. The code
// page is asked once per byte value, not once per name.
class OemNames {
 public:
  explicit OemNames(const std::string& codePage) {
    for (int b = 0; b < 256; ++b) {
      if (b < 0x80) table_[b] = std::string(1, static_cast<char>(b));
      else table_[b] = codePageToUtf8(std::string(1, static_cast<char>(b)), codePage);
    }
  }
  // Into out, whose room is kept from name to name.
  void display(std::string& out, const std::string& narrow, const std::u16string& wide) const {
    out.clear();
    if (narrow.empty()) return appendUtf8(out, wide);
    for (char c : narrow) out += table_[static_cast<unsigned char>(c)];
  }

 private:
  std::array<std::string, 256> table_;
};

// A buffer of directory sectors in directory order: a few sectors kept from
// the previous transfer, then the sectors of the current one. It knows which
// of its sectors stayed unreadable (the reader zero-filled them, and a zero
// entry would read as the end of the directory).
class DirectoryBuffer {
 public:
  explicit DirectoryBuffer(SectorReader& reader) : reader_(reader) {
    buffer_.resize(std::size_t{kHistorySectors + kDirectoryReadSectors} * kSectorSize);
    lost_.resize(kHistorySectors + kDirectoryReadSectors, 0);
  }

  void startDirectory() {
    history_ = 0;
    run_ = 0;
  }

  // Reads count sectors (at most kDirectoryReadSectors) as unit-sector calls.
  void read(std::uint64_t first, std::uint32_t count, std::uint32_t unit) {
    keepHistory();
    run_ = std::min(count, kDirectoryReadSectors);
    auto target = std::span<std::byte>(buffer_).subspan(std::size_t{kHistorySectors} * kSectorSize,
                                                        std::size_t{run_} * kSectorSize);
    first_ = first;
    const std::uint64_t losses = reader_.lossCount();
    (void)reader_.ReadSectorsAs(first, run_, target, std::max<std::uint32_t>(unit, 1));
    std::fill_n(lost_.begin() + kHistorySectors, run_, 0);
    // Only a read that lost something looks at which sectors it lost.
    if (reader_.lossCount() != losses)
      for (const SectorRange& r : reader_.unreadable().rangesIn(first, run_))
        for (SectorNumber sector = r.start; sector < r.end; ++sector) lost_[kHistorySectors + (sector - first)] = 1;
  }

  // Whether sector i of the current transfer stayed unreadable, and its number.
  bool lost(std::uint32_t i) const { return lost_[kHistorySectors + i] != 0; }
  SectorNumber sectorNumber(std::uint32_t i) const { return first_ + i; }

  // The byte offset in logical() just past the nearest unreadable sector
  // before sector i that a long name of sector i could reach back to; 0 when
  // there is none. A long name must not be gathered across such a gap.
  std::size_t nameFloor(std::uint32_t i) const {
    const std::uint32_t at = history_ + i;  // sector i's index in logical()
    for (std::uint32_t back = 1; back <= kHistorySectors && back <= at; ++back)
      if (lost_[kHistorySectors - history_ + at - back] != 0) return std::size_t{at - back + 1} * kSectorSize;
    return 0;
  }

  // The kept sectors and the current transfer, laid end to end.
  ByteSpan logical() const {
    return ByteSpan(buffer_).subspan(std::size_t{kHistorySectors - history_} * kSectorSize,
                                     std::size_t{history_ + run_} * kSectorSize);
  }
  // Byte offset in logical() of sector i of the current transfer.
  std::size_t sectorOffset(std::uint32_t i) const { return std::size_t{history_ + i} * kSectorSize; }
  std::uint32_t sectors() const { return run_; }

 private:
  void keepHistory() {
    const std::uint32_t total = history_ + run_;
    const std::uint32_t keep = std::min(total, kHistorySectors);
    if (keep > 0 && run_ > 0) {
      const std::size_t from = std::size_t{kHistorySectors - history_ + total - keep} * kSectorSize;
      std::memmove(buffer_.data() + std::size_t{kHistorySectors - keep} * kSectorSize, buffer_.data() + from,
                   std::size_t{keep} * kSectorSize);
      std::memmove(lost_.data() + (kHistorySectors - keep), lost_.data() + from / kSectorSize, keep);
    }
    history_ = keep;
    run_ = 0;
  }

  SectorReader& reader_;
  std::vector<std::byte> buffer_;
  std::uint32_t history_ = 0;
  std::uint32_t run_ = 0;
  SectorNumber first_ = 0;
  std::vector<char> lost_;  // per sector of buffer_: stayed unreadable
};

enum class SectorVerdict { Next, EndDirectory };

// What one entry decodes to once the naming rules accepted it.
struct AcceptedEntry {
  DirectoryEntry fields;
  std::uint32_t cluster = 0;
  std::string narrow;     // empty when a long name was found
  std::u16string wide;
  bool deleted = false;
};

// Whether the long-name entries before the short entry at offset run back to
// floor (the end of an unreadable sector) without reaching the first piece of
// their name: such a name lost its first pieces in the gap.
bool longNameCutAt(ByteSpan logical, std::size_t offset, std::size_t floor) {
  const bool deletedShort = readU8(logical, offset) == kDeletedMark;
  for (std::size_t o = offset; o >= floor + kDirectoryEntrySize; o -= kDirectoryEntrySize) {
    const std::size_t e = o - kDirectoryEntrySize;
    if (readU8(logical, e + 11) != kAttributeLongName) return false;
    const std::uint8_t sequence = readU8(logical, e);
    if ((sequence & kLastLongEntryFlag) != 0 && !(deletedShort && sequence == kDeletedMark)) return false;
  }
  return true;
}

// The rules both searches apply to one entry: long-name entries and the "."
// and ".." entries are skipped; the short name must be plausible and the
// cluster not 0 (so empty files are never listed); a long name found before
// the entry replaces the short name and must be plausible too. nameFloor
// (0: none) is where an unreadable sector ends before the entry: a long name
// is gathered only above it, and one cut by it gives way to the short name.
std::optional<AcceptedEntry> acceptEntry(ByteSpan logical, std::size_t offset, bool lowWordOnly,
                                         std::size_t nameFloor) {
  auto raw = logical.subspan(offset, kDirectoryEntrySize);
  AcceptedEntry accepted;
  accepted.fields = decodeDirectoryEntry(raw);
  if (accepted.fields.isLongName() || isDotEntry(raw)) return std::nullopt;
  accepted.cluster = lowWordOnly ? accepted.fields.clusterLow : accepted.fields.cluster();
  ShortName shortName = decodeShortName(raw);
  if (!isListableEntryName(shortName.wide) || accepted.cluster == 0) return std::nullopt;
  accepted.deleted = shortName.deleted;
  std::optional<std::u16string> longName;
  if (nameFloor == 0) longName = readLongName(logical, offset);
  else if (!longNameCutAt(logical, offset, nameFloor))
    longName = readLongName(logical.subspan(nameFloor), offset - nameFloor);
  if (longName) {
    if (!isListableEntryName(*longName)) return std::nullopt;
    accepted.wide = std::move(*longName);
  } else {
    accepted.narrow = std::move(shortName.narrow);
    accepted.wide = std::move(shortName.wide);
  }
  return accepted;
}

// Shared state of one search run.
class FatSearch {
 public:
  FatSearch(Job& job, FatSearchContext& context, FatVolume& volume)
      : job_(job), ctx_(context), volume_(volume), buffer_(context.reader), names_(context.oemCodePage) {
    const std::uint64_t spc = volume.layout().SectorsPerCluster;
    unit_ = static_cast<std::uint32_t>(spc >= 8 ? 8 : spc);
    // A cluster is read as whole groups; with 8 or more sectors per cluster
    // only SectorsPerCluster / 8 groups of 8.
    clusterSectorsRead_ = spc >= 8 ? spc / 8 * 8 : spc;
  }

  // The statistics after an entry: its name is noted before the entry is
  // added (which takes its strings), the counts after.
  void noteName(const AcceptedEntry& entry) { names_.display(statistics_.lastName, entry.narrow, entry.wide); }
  // Where the visited sector's long names may begin (see acceptEntry).
  std::size_t nameFloor() const { return nameFloor_; }

  void report() {
    statistics_.value = ctx_.entries.TotalSize;
    statistics_.directories = ctx_.entries.DirectoryCount;
    statistics_.files = ctx_.entries.FileCount;
    job_.updateStatistics(statistics_);
  }

  // Reads a fixed run of sectors (the FAT12/16 root) sector by sector in
  // large transfers; visit is called for each sector.
  // Unreadable sectors are not visited: they are noted as lost to the folder
  // being read and the walk goes on after them.
  template <class Visit>
  void walkFixedArea(std::uint64_t first, std::uint64_t count, Visit&& visit) {
    startFolder();
    for (std::uint64_t done = 0; done < count;) {
      const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kDirectoryReadSectors, count - done));
      buffer_.read(first + done, n, 1);
      for (std::uint32_t i = 0; i < n; ++i)
        if (visitSector(i, visit) == SectorVerdict::EndDirectory) return;
      done += n;
      job_.checkpoint();
    }
  }

  // Reads the first group of a directory's first cluster and tells whether
  // it begins with the "." and ".." entries, or could not be read (the
  // folder's entries may go on in its later clusters).
  bool readFirstGroup(std::uint32_t cluster) {
    startFolder();
    buffer_.read(volume_.clusterToSector(cluster), unit_, unit_);
    return buffer_.lost(0) || beginsDirectory(buffer_.logical().subspan(buffer_.sectorOffset(0), kSectorSize));
  }

  // After readFirstGroup: visits the sectors of that group, then the rest of
  // the chain in directory order, until visit ends the directory. True when
  // visit ended it (an end-of-directory entry), false when the chain did.
  template <class Visit>
  bool walkDirectory(const std::vector<std::uint32_t>& chain, Visit&& visit) {
    for (std::uint32_t i = 0; i < buffer_.sectors(); ++i)
      if (visitSector(i, visit) == SectorVerdict::EndDirectory) return true;
    const std::uint64_t spc = volume_.layout().SectorsPerCluster;
    const bool wholeClusters = clusterSectorsRead_ == spc;
    const auto maxRun = static_cast<std::uint32_t>(
        wholeClusters ? std::max<std::uint64_t>(1, kDirectoryReadSectors / std::max<std::uint64_t>(spc, 1)) : 1);
    bool firstCluster = true;
    for (const ClusterRun& run : splitIntoRuns(chain, maxRun)) {
      const std::uint64_t runStart = volume_.clusterToSector(run.first);
      // Sectors of the run, as (offset within the run, count) pieces read in
      // order: whole clusters when they are read whole, else the groups.
      std::uint64_t offset = 0;
      std::uint64_t total = wholeClusters ? std::uint64_t{run.count} * spc : clusterSectorsRead_;
      if (firstCluster) {
        offset = unit_;  // the first group has been read already
        firstCluster = false;
      }
      while (offset < total) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kDirectoryReadSectors, total - offset));
        buffer_.read(runStart + offset, n, unit_);
        for (std::uint32_t i = 0; i < n; ++i)
          if (visitSector(i, visit) == SectorVerdict::EndDirectory) return true;
        offset += n;
        job_.checkpoint();
      }
    }
    return false;
  }

  // After a walk of the folder folderId: its unreadable sectors become one
  // loss of the search (16 entries each), and a chain that both FATs lost
  // where the folder had not ended yet becomes another.
  void finishFolder(std::uint32_t folderId, const ClusterChain* chain = nullptr, bool ended = false) {
    const std::uint16_t partition = ctx_.lostPartitionSearch ? ctx_.selectedFoundFileSystem : 0;
    if (!lostSectors_.empty()) {
      std::uint64_t count = 0;
      for (const SectorRange& r : lostSectors_) count += r.count();
      addLoss(ReadLoss{ReadLossKind::FolderSectors, folderId, partition, lostSectors_, count * kEntriesPerSector, {}});
      lostSectors_.clear();
    }
    if (chain && !ended && chain->end == ChainEnd::Unreadable)
      addLoss(ReadLoss{ReadLossKind::FatChain, folderId, partition, chain->unreadableFat, 0, {}});
  }

  Job& job_;
  FatSearchContext& ctx_;
  FatVolume& volume_;
  DirectoryBuffer buffer_;
  OemNames names_;
  SearchStatistics statistics_;
  std::uint32_t unit_ = 1;
  std::uint64_t clusterSectorsRead_ = 1;

 private:
  void startFolder() {
    buffer_.startDirectory();
    lostSectors_.clear();
  }

  template <class Visit>
  SectorVerdict visitSector(std::uint32_t i, Visit& visit) {
    if (buffer_.lost(i)) {
      const SectorNumber sector = buffer_.sectorNumber(i);
      if (!lostSectors_.empty() && lostSectors_.back().end == sector) ++lostSectors_.back().end;
      else lostSectors_.push_back({sector, sector + 1});
      return SectorVerdict::Next;
    }
    nameFloor_ = buffer_.nameFloor(i);
    return visit(buffer_.logical(), buffer_.sectorOffset(i));
  }

  // One loss per folder and kind: a folder read twice (the exhaustive
  // search's root) or lost in two places adds to the loss already listed.
  void addLoss(ReadLoss loss) {
    for (ReadLoss& known : ctx_.entries.Losses.list) {
      if (known.kind != loss.kind || known.folderId != loss.folderId || known.partition != loss.partition) continue;
      UnreadableSectors merged;
      for (const SectorRange& r : known.sectors) merged.add(r.start, r.count());
      for (const SectorRange& r : loss.sectors) merged.add(r.start, r.count());
      known.sectors = merged.ranges();
      if (known.kind == ReadLossKind::FolderSectors) known.entriesLost = merged.total() * kEntriesPerSector;
      return;
    }
    ctx_.entries.Losses.add(std::move(loss));
  }

  std::size_t nameFloor_ = 0;
  std::vector<SectorRange> lostSectors_;  // of the folder being read
};

std::uint64_t partitionEndOf(const FatSearchContext& ctx) {
  if (ctx.partitionEnd > 0) return ctx.partitionEnd;
  if (ctx.reader.selectionEnd() > 0) return static_cast<std::uint64_t>(ctx.reader.selectionEnd());
  return ctx.reader.source().sectorCount();
}

// ---------------------------------------------------------------------------
// The exhaustive search.

class ExhaustivePass {
 public:
  ExhaustivePass(Job& job, FatSearchContext& ctx, FatVolume& volume)
      : search_(job, ctx, volume), job_(job), ctx_(ctx), volume_(volume) {}

  void run() {
    partition_ = ctx_.lostPartitionSearch ? ctx_.selectedFoundFileSystem : 0;
    if (!ctx_.lostPartitionSearch) {
      ctx_.entries.clear();
      ctx_.entries.addLostNode();
      sweep();
      markOrphans();
    }
    root();
    subDirectories();
    // "Lost" came first so that the folders are numbered after it; it is
    // shown only when something lies in it.
    if (!ctx_.lostPartitionSearch) ctx_.entries.removeEmptyLostNode();
    job_.complete(Completion::SearchDone);
  }

 private:
  // Reads the first sector of `count` clusters that start at `first`, one
  // every `stride` sectors, into out (one sector each). A healthy disk is read
  // in one transfer over the whole span; when that fails, each first sector
  // is read on its own through ReadSector, so the bad-sector rules apply to
  // exactly the sectors the sweep looks at.
  void readClusterStarts(ReadAheadStream* stream, std::uint64_t first, std::uint64_t count, std::uint64_t stride,
                         std::vector<std::byte>& span, std::vector<std::byte>& out) {
    SectorReader& reader = ctx_.reader;
    const std::uint64_t spanSectors = (count - 1) * stride + 1;
    out.resize(count * kSectorSize);
    const std::int64_t end = reader.selectionEnd();
    const bool withinSelection = end <= 0 || first + spanSectors - 1 <= static_cast<std::uint64_t>(end);
    if (withinSelection && spanSectors <= kSweepReadSectors) {
      auto copyStarts = [&](ByteSpan whole) {
        for (std::uint64_t i = 0; i < count; ++i)
          std::memcpy(out.data() + i * kSectorSize, whole.data() + i * stride * kSectorSize, kSectorSize);
      };
      // The read-ahead ring holds the span when its transfer succeeded;
      // otherwise the span is read here, as the stream's reader would.
      if (const ByteSpan held = stream ? stream->view(first, static_cast<std::uint32_t>(spanSectors)) : ByteSpan{};
          !held.empty()) {
        copyStarts(held);
        return;
      }
      span.resize(spanSectors * kSectorSize);
      if (reader.source().read(first, static_cast<std::uint32_t>(spanSectors), span) == TransferStatus::Ok) {
        copyStarts(span);
        return;
      }
    }
    for (std::uint64_t i = 0; i < count; ++i)
      (void)reader.ReadSector(first + i * stride, 1, std::span<std::byte>(out).subspan(i * kSectorSize, kSectorSize));
  }

  // Step 1: every cluster whose first sector begins with "." and ".." naming
  // the cluster itself becomes a numbered directory. An image file in the
  // page cache is swept by two threads at once: this one upwards from the
  // first cluster, a helper downwards from near the last, until they meet
  // (two processor cores copy the pages of the page cache almost twice as
  // fast as one). The helper only notes the directories it sees; this thread
  // numbers them in cluster order after its own. Where the helper could not
  // read, it gives its stretch back and stops, and this thread sweeps it
  // with the bad-sector rules, so every question is asked here and in
  // sector order.
  void sweep() {
    job_.setStatus("Step 1/5 :- Searching Directories. Please Wait...");
    const std::uint64_t spc = volume_.layout().SectorsPerCluster;
    const std::uint64_t end = partitionEndOf(ctx_);
    const std::uint64_t firstSector = volume_.layout().firstDataSector();
    if (spc == 0 || firstSector >= end) return;
    // Clusters [2, lastCluster) start before the end of the range.
    const std::uint64_t lastCluster = std::min<std::uint64_t>(2 + (end - firstSector + spc - 1) / spc, 0x100000000ull);
    sweepEnd_ = end;
    helperSectors_.store(0, std::memory_order_relaxed);
    // The helper ends where its last read, a whole cluster, still lies in
    // the range, the source and any selection.
    std::uint64_t helperEnd = 2;
    const SectorNumber limit = twoThreadSweepEnd(ctx_.reader, firstSector, end, kParallelMinimumSectors);
    if (limit != firstSector) helperEnd = std::min(lastCluster, 2 + (limit - firstSector) / spc - 1);
    if (helperEnd <= 2 + 2 * kHelperStretchClusters) {
      sweepClusters(2, lastCluster, true);
      return;
    }
    SweepMeeting meeting(2, helperEnd);
    SweepHelper<SweptStretch> helper(meeting, kHelperStretchClusters, job_,
                                     [this](std::uint64_t from, std::uint64_t to, SweptStretch& stretch,
                                            const std::function<bool()>& carryOn) {
                                       return sweepStretch(from, to, stretch, carryOn);
                                     });
    bool swept = sweepClusters(2, helperEnd, false, &meeting);
    helper.wait([&] {
      const std::uint64_t reached = firstSector + (meeting.gap().first - 2) * spc;
      job_.setPercent(clampPercent(reached + helperSectors_.load(std::memory_order_relaxed), end));
      job_.checkpoint();
    });
    if (swept && !job_.stopRequested()) {
      const auto [from, to] = meeting.gap();
      swept = sweepClusters(from, to, false);
    }
    // After a stop nothing beyond the cluster reached is taken.
    if (!swept || job_.stopRequested()) return;
    for (auto it = helper.stretches().rbegin(); it != helper.stretches().rend(); ++it) {
      for (const SweptDirectory& d : it->directories) addSweptDirectory(d);
      const SectorNumber last = firstSector + (it->end - 2) * spc;
      // The stretch's clusters, each a report of the search.
      job_.updateStatistics({last, ctx_.entries.DirectoryCount, ctx_.entries.FileCount, lastName_,
                             StatisticsFormat::Sector, 0, static_cast<std::uint32_t>(it->end - it->first)});
    }
    sweepClusters(helperEnd, lastCluster, true);
  }

  // A directory the sweep saw: its first cluster starts with "." naming it.
  struct SweptDirectory {
    std::uint32_t own = 0;
    std::uint32_t parent = 0;
    EntryTimes times{};
  };

  // The directory at the start of cluster, if its first sector shows one.
  static std::optional<SweptDirectory> sweptDirectory(ByteSpan first, std::uint64_t cluster) {
    if (!beginsDirectory(first)) return std::nullopt;
    const std::uint32_t own = makeClusterNumber(first);
    if (own != cluster) return std::nullopt;
    return SweptDirectory{own, makeClusterNumber(first.subspan(kDirectoryEntrySize)), decodeDirectoryEntry(first).times()};
  }

  void addSweptDirectory(const SweptDirectory& d) {
    const std::string name = "Dir" + std::to_string(ctx_.entries.DirectoryCount);
    ctx_.entries.AddDirectoryNode(name, u"", false, d.parent, d.own, 0, d.times, 0);
    lastName_ = name;
  }

  // Sweeps the clusters [from, to) on this thread: through the read-ahead
  // stream, or without it; with a meeting, only up to where the helper is.
  // False when a stop ended it.
  bool sweepClusters(std::uint64_t from, std::uint64_t to, bool readAhead, SweepMeeting* meeting = nullptr) {
    if (from >= to) return true;
    const std::uint64_t spc = volume_.layout().SectorsPerCluster;
    const std::uint64_t firstSector = volume_.layout().firstDataSector();
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kSweepReadSectors / spc);
    std::uint64_t sector = firstSector + (from - 2) * spc;
    const std::uint64_t end = std::min(sweepEnd_, firstSector + (to - 2) * spc);
    std::optional<ReadAheadStream> stream;
    if (readAhead) {
      // Blocks of whole reads, so that no read straddles two of them.
      const std::uint64_t step = perRead * spc;
      const auto blockSectors = static_cast<std::uint32_t>(step * std::max<std::uint64_t>(1, kSweepBlockSectors / step));
      stream.emplace(ctx_.reader, job_, sector, end, blockSectors, kSweepBlocks);
    }
    std::vector<std::byte>& span = span_;
    std::vector<std::byte>& starts = starts_;
    for (std::uint64_t cluster = from; sector < end && cluster < to;) {
      const std::uint64_t left = (end - sector + spc - 1) / spc;
      std::uint64_t count = std::min<std::uint64_t>({perRead, left, to - cluster});
      if (meeting && (count = meeting->up(cluster, cluster + count) - cluster) == 0) break;
      readClusterStarts(stream ? &*stream : nullptr, sector, count, spc, span, starts);
      for (std::uint64_t i = 0; i < count; ++i, sector += spc, ++cluster) {
        if (auto d = sweptDirectory(ByteSpan(starts).subspan(i * kSectorSize, kSectorSize), cluster))
          addSweptDirectory(*d);
        // With a helper, its clusters count as swept too.
        job_.setPercent(clampPercent(sector + helperSectors_.load(std::memory_order_relaxed), sweepEnd_));
        job_.updateStatistics({sector, ctx_.entries.DirectoryCount, ctx_.entries.FileCount, lastName_,
                               StatisticsFormat::Sector});
        job_.checkpoint();
        // The stop ends the sweep only; the steps after it run on what was
        // found (the request is cleared before step 2).
        if (job_.stopRequested()) return false;
      }
    }
    return true;
  }

  // The folders the helper thread saw in a stretch of clusters.
  struct SweptStretch {
    std::uint64_t first = 0, end = 0;
    std::vector<SweptDirectory> directories;
  };

  // The helper's sweep of the clusters [from, to), on its own thread: the
  // cluster starts read with raw transfers of the source, never through the
  // sector reader. False when a transfer failed or the helper must end.
  bool sweepStretch(std::uint64_t from, std::uint64_t to, SweptStretch& stretch, const std::function<bool()>& carryOn) {
    const std::uint64_t spc = volume_.layout().SectorsPerCluster;
    const std::uint64_t firstSector = volume_.layout().firstDataSector();
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kSweepReadSectors / spc);
    stretch.first = from;
    stretch.end = to;
    for (std::uint64_t cluster = from; cluster < to;) {
      if (!carryOn()) return false;
      const std::uint64_t count = std::min(perRead, to - cluster);
      const std::uint64_t spanSectors = (count - 1) * spc + 1;
      helperSpan_.resize(spanSectors * kSectorSize);
      if (ctx_.reader.source().read(firstSector + (cluster - 2) * spc, static_cast<std::uint32_t>(spanSectors),
                                    helperSpan_) != TransferStatus::Ok)
        return false;
      for (std::uint64_t i = 0; i < count; ++i)
        if (auto d = sweptDirectory(ByteSpan(helperSpan_).subspan(i * spc * kSectorSize, kSectorSize), cluster + i))
          stretch.directories.push_back(*d);
      cluster += count;
      helperSectors_.fetch_add(count * spc, std::memory_order_relaxed);
    }
    return true;
  }

  // Step 2: a directory whose parent was not found goes under "Lost"; so does
  // one caught in a cycle of parents.
  void markOrphans() {
    // A stop that ended the sweep is used up: a later one ends step 4.
    job_.clearStopRequest();
    job_.setStatus("Step 2/5 :- Searching Lost Directories. Please Wait...  ");
    FoundEntries& entries = ctx_.entries;
    const std::size_t count = entries.DirectoryList.size();
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t parent = entries.DirectoryList[i].parentId;
      if (parent == 0) continue;
      if (entries.findDirectory(parent) < 0) entries.setDirectoryParent(i, kLostId);
      job_.setPercent(clampPercent(i, entries.DirectoryCount));
      if (i % 1024 == 0) job_.checkpoint();
    }
    breakParentCycles(entries, 0, 0);
  }

  // The entry rule for one sector; a first byte 0 ends the sector (root) or
  // the directory (sub-directories).
  SectorVerdict processSector(ByteSpan logical, std::size_t sectorOffset, std::uint32_t parent, bool inheritedDeleted,
                              bool lowWordOnly, SectorVerdict onEnd) {
    FoundEntries& entries = ctx_.entries;
    for (std::size_t p = 0; p < kEntriesPerSector; ++p) {
      const std::size_t offset = sectorOffset + p * kDirectoryEntrySize;
      if (readU8(logical, offset) == 0x00) return onEnd;
      auto entry = acceptEntry(logical, offset, lowWordOnly, search_.nameFloor());
      if (!entry) continue;
      if (inheritedDeleted) entry->deleted = true;
      search_.noteName(*entry);
      if (entry->fields.isDirectory()) {
        const std::ptrdiff_t found = entries.findDirectory(entry->cluster, partition_);
        if (found >= 0 && entries.DirectoryList[static_cast<std::size_t>(found)].parentId == parent) {
          const auto index = static_cast<std::size_t>(found);
          // A live entry that named the directory is not undone by a deleted
          // one found after it in the same parent (a renamed folder leaves its
          // old entry behind).
          if (namedLive_.size() <= index) namedLive_.resize(entries.DirectoryList.size(), false);
          if (!(entry->deleted && namedLive_[index])) {
            entries.renameDirectory(index, entry->narrow, entry->wide, entry->deleted);
            if (!entry->deleted) namedLive_[index] = true;
          }
        }
      } else {
        const std::size_t file =
            entries.AddFileNode(std::move(entry->narrow), std::move(entry->wide), entry->deleted, entry->fields.size,
                                parent, entry->cluster, 0, entry->fields.times());
        entries.FileList[file].partition = partition_;
        entries.TotalSize += entry->fields.size;
      }
      search_.report();
    }
    return SectorVerdict::Next;
  }

  // Step 3: the root directory.
  void root() {
    job_.setStatus("Step 3/5 :- Inserting Root Directory & Enumerating Files. Please Wait...  ");
    const FatLayout& layout = volume_.layout();
    auto visit = [&](bool lowWordOnly) {
      return [this, lowWordOnly](ByteSpan logical, std::size_t offset) {
        (void)processSector(logical, offset, 0, false, lowWordOnly, SectorVerdict::Next);
        return SectorVerdict::Next;
      };
    };
    if (layout.type == FatType::Fat32) {
      if (layout.RootDirStart < 2 || layout.RootDirStart > 0xFFFFFFFFull) return;
      const auto rootCluster = static_cast<std::uint32_t>(layout.RootDirStart);
      const ClusterChain chain = directoryClusterChain(volume_, rootCluster, false);
      search_.readFirstGroup(rootCluster);
      search_.walkDirectory(chain.clusters, visit(false));
      search_.finishFolder(0, &chain);
    } else if (layout.RootDirStart != 0) {
      search_.walkFixedArea(layout.RootDirStart, layout.RootDirSectors, visit(true));
      search_.finishFolder(0);
    }
  }

  // Step 4: every directory found, named and listed.
  void subDirectories() {
    job_.setStatus("Step 4/5 :- Inserting Sub Directories & Enumerating Files. Please Wait...  ");
    FoundEntries& entries = ctx_.entries;
    const std::size_t count = entries.DirectoryList.size();
    for (std::size_t i = 0; i < count; ++i) {
      const DirectoryNode& node = entries.DirectoryList[i];
      if (ctx_.lostPartitionSearch && node.partition != partition_) continue;
      const std::uint32_t own = node.ownId;
      const bool deleted = node.isDeleted();
      if (own != kLostId && own >= 2) {
        const ClusterChain chain = directoryClusterChain(volume_, own, deleted);
        if (search_.readFirstGroup(own)) {
          const bool ended = search_.walkDirectory(chain.clusters, [&](ByteSpan logical, std::size_t offset) {
            return processSector(logical, offset, own, deleted, false, SectorVerdict::EndDirectory);
          });
          search_.finishFolder(own, &chain, ended);
        }
      }
      job_.setPercent(clampPercent(i, entries.DirectoryCount));
      job_.checkpoint();
      if (job_.stopRequested()) return;
    }
  }

  FatSearch search_;
  Job& job_;
  FatSearchContext& ctx_;
  FatVolume& volume_;
  std::uint16_t partition_ = 0;
  std::vector<bool> namedLive_;
  // The sweep's state on this thread.
  SectorNumber sweepEnd_ = 0;
  std::string lastName_;
  std::vector<std::byte> span_, starts_;
  std::vector<std::byte> helperSpan_;  // the helper thread's transfers
  std::atomic<std::uint64_t> helperSectors_{0};  // the sectors it swept, for the percentage
};

// ---------------------------------------------------------------------------
// The directory tree search.

class TreePass {
 public:
  TreePass(Job& job, FatSearchContext& ctx, FatVolume& volume)
      : search_(job, ctx, volume), job_(job), ctx_(ctx), volume_(volume) {}

  // Returns false when the search was stopped.
  bool run() {
    ctx_.entries.clear();
    pulseStart_ = std::chrono::steady_clock::now();
    rootPass();
    if (job_.stopRequested()) return false;
    return treePass();
  }

 private:
  // The progress bar creeps from 1 to 99 every two seconds and starts over,
  // since the search cannot know how much is left.
  void pulse() {
    const auto now = std::chrono::steady_clock::now();
    if (now - pulseStart_ < std::chrono::seconds(2)) return;
    pulseStart_ = now;
    pulsePosition_ = pulsePosition_ + 1 >= 100 ? 0 : pulsePosition_ + 1;
    job_.setPercent(pulsePosition_);
  }

  SectorVerdict processSector(ByteSpan logical, std::size_t sectorOffset, std::uint32_t parent, bool inheritedDeleted,
                              bool lowWordOnly) {
    FoundEntries& entries = ctx_.entries;
    for (std::size_t p = 0; p < kEntriesPerSector; ++p) {
      const std::size_t offset = sectorOffset + p * kDirectoryEntrySize;
      if (readU8(logical, offset) == 0x00) return SectorVerdict::EndDirectory;
      auto entry = acceptEntry(logical, offset, lowWordOnly, search_.nameFloor());
      if (!entry) continue;
      if (inheritedDeleted) entry->deleted = true;
      search_.noteName(*entry);
      if (entry->fields.isDirectory()) {
        entries.AddDirectoryNode(entry->narrow, entry->wide, entry->deleted, parent, entry->cluster, 0,
                                 entry->fields.times(), 0);
      } else {
        entries.AddFileNode(std::move(entry->narrow), std::move(entry->wide), entry->deleted, entry->fields.size,
                            parent, entry->cluster, 0, entry->fields.times());
        entries.TotalSize += entry->fields.size;
      }
      search_.report();
    }
    pulse();
    return SectorVerdict::Next;
  }

  void rootPass() {
    const FatLayout& layout = volume_.layout();
    if (layout.type == FatType::Fat32) {
      if (layout.RootDirStart < 2 || layout.RootDirStart > 0xFFFFFFFFull) return;
      const auto rootCluster = static_cast<std::uint32_t>(layout.RootDirStart);
      const ClusterChain chain = directoryClusterChain(volume_, rootCluster, false);
      search_.readFirstGroup(rootCluster);
      // In the root pass an end-of-directory entry ends its sector only.
      search_.walkDirectory(chain.clusters, [&](ByteSpan logical, std::size_t offset) {
        (void)processSector(logical, offset, 0, false, false);
        return SectorVerdict::Next;
      });
      search_.finishFolder(0, &chain);
    } else if (layout.RootDirStart != 0) {
      search_.walkFixedArea(layout.RootDirStart, layout.RootDirSectors, [&](ByteSpan logical, std::size_t offset) {
        (void)processSector(logical, offset, 0, false, true);
        return SectorVerdict::Next;
      });
      search_.finishFolder(0);
    }
  }

  // Walks the directory list from its head; nodes appended on the way are
  // reached by the same walk. Each identifier has one node (the duplicate
  // rule), so each directory is read once and the walk ends even when
  // directories name each other.
  bool treePass() {
    FoundEntries& entries = ctx_.entries;
    for (std::size_t i = 0; i < entries.DirectoryList.size(); ++i) {
      const DirectoryNode& node = entries.DirectoryList[i];
      const std::uint32_t own = node.ownId;
      const bool deleted = node.isDeleted();
      if (own != kLostId && search_.readFirstGroup(own)) {
        const ClusterChain chain = directoryClusterChain(volume_, own, deleted);
        const bool ended = search_.walkDirectory(chain.clusters, [&](ByteSpan logical, std::size_t offset) {
          return processSector(logical, offset, own, deleted, false);
        });
        search_.finishFolder(own, &chain, ended);
      }
      pulse();
      job_.checkpoint();
      if (job_.stopRequested()) return false;
    }
    return true;
  }

  FatSearch search_;
  Job& job_;
  FatSearchContext& ctx_;
  FatVolume& volume_;
  std::chrono::steady_clock::time_point pulseStart_;
  int pulsePosition_ = 0;
};

std::optional<FatVolume> openVolume(FatSearchContext& ctx) {
  auto volume = FatVolume::open(ctx.reader, ctx.parameters, ctx.fileSystemType, partitionEndOf(ctx));
  if (!volume) return std::nullopt;
  return std::move(*volume);
}

}  // namespace

void runFatExhaustiveSearch(Job& job, FatSearchContext& context) {
  auto volume = openVolume(context);
  if (!volume) {
    // Not a FAT layout: nothing can be searched.
    if (!context.lostPartitionSearch) context.entries.clear();
    job.complete(Completion::SearchDone);
    return;
  }
  ExhaustivePass(job, context, *volume).run();
}

void runFatDirectoryTreeSearch(Job& job, FatSearchContext& context) {
  bool finished = true;
  if (auto volume = openVolume(context)) {
    finished = TreePass(job, context, *volume).run();
  } else {
    context.entries.clear();
  }
  FoundEntries& entries = context.entries;
  if (!finished || entries.DirectoryCount != 0 || entries.FileCount != 0) {
    // A later live entry may have given a directory one of its own
    // descendants as parent; such a cycle would hide it from the tree.
    breakParentCycles(entries, 0, 0);
    job.requestStop();
    job.complete(Completion::Stopped);
    return;
  }
  job.prompter().inform(kSwitchingToExhaustiveText);
  context.exhaustiveSearch = true;
  runFatExhaustiveSearch(job, context);
}

}  // namespace dravolin
