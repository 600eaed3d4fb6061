// The exhaustive NTFS search: a sweep of the sector range for MFT records
// ("FILE") and index buffers ("INDX") that does not rely on the volume's own
// MFT, then the numbering of what it found, the check of the volume layout
// and the assembly of the result tree.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/text_encoding.h"
#include "disk/read_ahead.h"
#include "disk/sweep_meeting.h"
#include "ntfs/attribute.h"
#include "ntfs/boot_sector.h"
#include "ntfs/data_runs.h"
#include "ntfs/file_name.h"
#include "ntfs/index_buffer.h"
#include "ntfs/index_root.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_search.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/scan_lists.h"
#include "ntfs/standard_information.h"
#include "partition/volume_boot_record.h"

namespace dravolin {
namespace {

// Sectors per transfer of the sweep: 128 KiB, which stays in the CPU cache
// while it is copied in and looked at (1 MiB copies took three times as
// long).
constexpr std::uint32_t kSweepSectors = 256;
// The read-ahead ring of the sweep: 8 blocks of 4 chunks.
constexpr std::uint32_t kSweepChunksPerBlock = 4;
constexpr std::size_t kSweepBlocks = 8;
// Ranges of at least this many sectors are swept by two threads.
constexpr std::uint64_t kParallelMinimumSectors = 8192;
// The stretches the helper thread takes at a time: 2 MiB.
constexpr std::uint64_t kHelperStretchSectors = 4096;
// Largest index buffer read in the numbering of folders.
constexpr std::uint64_t kMaxIndexBufferBytes = 65536;

int percentOf(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, part * 100 / whole));
}

std::uint64_t low48(std::uint64_t value) { return value & 0x0000FFFFFFFFFFFFull; }

// What the scan knows of the volume before it starts: the size of an MFT
// record and the sectors per cluster (0 when unknown).
struct ScanGeometry {
  std::uint32_t recordSize = 0;
  std::uint64_t sectorsPerCluster = 0;

  // A "FILE" record is taken when its allocated size is the volume's record
  // size; without a boot sector, any of the sizes NTFS formats.
  bool acceptsRecordSize(std::uint32_t size) const {
    if (recordSize != 0) return size == recordSize;
    return size == 1024 || size == 2048 || size == 4096;
  }
  std::uint32_t largestRecordSize() const { return recordSize != 0 ? recordSize : 4096; }
};

ScanGeometry readScanGeometry(NtfsSearchContext& ctx) {
  ScanGeometry geometry;
  geometry.sectorsPerCluster = ctx.parameters.SectorsPerCluster;
  if (ctx.parameters.MftRecordSectors != 0 && ctx.parameters.MftRecordSectors <= kNtfsMaxRecordSize / kSectorSize)
    geometry.recordSize = static_cast<std::uint32_t>(ctx.parameters.MftRecordSectors * kSectorSize);
  const SectorBuffer boot = readSectorOrZeros(ctx.reader, ctx.partitionStart);
  if (auto parsed = parseNtfsBootSector(boot)) {
    if (auto volume = makeNtfsGeometry(*parsed, ctx.partitionStart)) {
      geometry.recordSize = volume->record_size;
      if (geometry.sectorsPerCluster == 0) geometry.sectorsPerCluster = volume->sectorsPerCluster();
    }
  }
  return geometry;
}

// The owner of an index buffer from its first sector: the parent reference
// of the first entry's file name, which is the folder the buffer belongs to.
// Nothing when the buffer declares more than 64 KiB, the first entry does not
// lie in the first sector (before its protected end), or is the end entry,
// or names a parent below 5 or 0xFFFFFFFF.
struct IndexBufferOwner {
  std::uint64_t owner = 0;
  std::uint64_t vcn = 0;
};
std::optional<IndexBufferOwner> readIndexBufferOwner(ByteSpan sector) {
  const std::uint64_t size = std::uint64_t{readU32(sector, 32)} + 24;
  if (size > kMaxIndexBufferBytes) return std::nullopt;
  const std::uint64_t entry = std::uint64_t{readU32(sector, 24)} + 24;
  if (entry + 20 > size || entry + 24 > kSectorSize - 2) return std::nullopt;
  const std::uint16_t flags = readU16(sector, entry + 12);
  const std::uint16_t keyLength = readU16(sector, entry + 10);
  if ((flags & kIndexEntryLast) != 0 || keyLength < 66) return std::nullopt;
  const std::uint64_t owner = low48(readU64(sector, entry + 16));
  if (owner < kNtfsRootId || (owner & 0xFFFFFFFFull) == 0xFFFFFFFFull) return std::nullopt;
  return IndexBufferOwner{owner, readU64(sector, 16)};
}

// The size of the unnamed $DATA whose attribute ended the walk because it
// runs past the usable part of a torn record: its header, when it lies in
// the intact part, still gives the size (the value itself is not trusted).
// offset is where the walk stopped.
std::optional<std::uint64_t> dataSizeAtDamage(const MftRecord& record, std::size_t offset) {
  const ByteSpan bytes = record.bytes;
  if (!fitsIn(bytes, offset, 24) || readU32(bytes, offset) != static_cast<std::uint32_t>(AttributeType::Data) ||
      readU8(bytes, offset + 9) != 0)
    return std::nullopt;
  if (readU8(bytes, offset + 8) == 0) return readU32(bytes, offset + 16);
  if (!fitsIn(bytes, offset, 56) || readU64(bytes, offset + 16) != 0) return std::nullopt;
  return readU64(bytes, offset + 48);
}

// An NTFS boot sector in the range: its geometry, in 512-byte sectors.
struct BootEntry {
  SectorNumber sector = 0;
  std::uint64_t sectorsPerCluster = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t mftCluster = 0;
};

// What the sweep found in a stretch of the range, in sector order.
struct SweepPart {
  NtfsScanLists lists;
  // Sector of the first copy found of each numbered record.
  std::unordered_map<std::uint64_t, SectorNumber> scanned;
  std::vector<BootEntry> boots;
  bool lastFolder = false;      // whether the last entry taken was a folder
  std::vector<FileName> names;  // the names of the record being taken

  // Appends what later found, which lies after what this part holds: the
  // first copy of a record and the first extent size stay those found first.
  void append(SweepPart&& later) {
    auto move = [](auto& to, auto& from) { to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end())); };
    move(lists.folders, later.lists.folders);
    move(lists.files, later.lists.files);
    move(lists.unlisted, later.lists.unlisted);
    move(lists.indexBuffers, later.lists.indexBuffers);
    for (auto& [number, size] : later.lists.extentSizes) lists.extentSizes.emplace(number, size);
    for (auto& [number, found] : later.lists.extentNames) move(lists.extentNames[number], found);
    lists.tornRecords += later.lists.tornRecords;
    for (auto& [number, sector] : later.scanned) scanned.emplace(number, sector);
    move(boots, later.boots);
    if (!later.lists.folders.empty() || !later.lists.files.empty()) lastFolder = later.lastFolder;
  }
};

class NtfsScan {
 public:
  NtfsScan(Job& job, NtfsSearchContext& ctx) : job_(job), ctx_(ctx) {}

  void run() {
    job_.clearStopRequest();
    ctx_.entries.clear();
    ctx_.mft = MftRunList{};
    start_ = ctx_.partitionStart;
    end_ = ctx_.partitionEnd;
    if (end_ == 0) end_ = ctx_.reader.selectionEnd() > 0 ? static_cast<std::uint64_t>(ctx_.reader.selectionEnd())
                                                         : ctx_.reader.source().sectorCount();
    // A lost-partition search knows no volume: records of every size NTFS
    // formats are taken.
    if (!ctx_.lostResult) geometry_ = readScanGeometry(ctx_);

    job_.setStatus("Step 1/5 :- Searching MFT's/Index Allocation. Please Wait...");
    std::vector<SectorRange> sweptLost;
    if (start_ < end_) {
      UnreadableWatch watch(ctx_.reader);
      sweep();
      sweptLost = watch.sectors().ranges();
    }
    // A stop ends the sweep only; the passes after it run on what was found.
    job_.clearStopRequest();
    if (!ctx_.lostResult) keepRecordsTheMftGives();
    job_.setStatus("Step 2/5 :- Assigning MFT Numbers to Folders. Please Wait...  ");
    numberFoldersFromIndexBuffers();
    // A stop that ended the numbering of folders is used up too: the tree is
    // still built from everything found.
    job_.clearStopRequest();
    job_.setStatus("Step 3/5 :- Assigning MFT Numbers to Files. Please Wait...  ");
    numberByPosition(lists_, &job_);
    takeNamesFromExtensions(lists_);
    job_.checkpoint();
    if (!sweptLost.empty() && !ctx_.lostResult) nameLostRecords(sweptLost);

    job_.setStatus("Step 4.1/5 :- Analysing File System. Please Wait...  ");
    NtfsLayoutAnalysis layouts(lists_.folders, firstIndexBuffers(lists_.indexBuffers),
                               [this](SectorNumber sector) {
                                 return matchesAscii(readSectorOrZeros(ctx_.reader, sector), 0, "INDX");
                               },
                               &job_);
    lists_.indexBuffers.clear();
    if (ctx_.lostResult) {
      findLostLayouts(layouts);
      return;
    }
    layouts.checkKnownLayout(start_, geometry_.sectorsPerCluster, end_);
    job_.checkpoint();
    layouts.inferLayouts(end_);
    layouts.close();
    job_.checkpoint();

    // Outside the lost-partition search every found folder and file is
    // shown, under the partition the result browser shows (0).
    assembleNtfsResults(ctx_.entries, lists_, 0, &job_);
    for (ReadLoss& loss : losses_) ctx_.entries.Losses.add(std::move(loss));
    job_.complete(Completion::SearchDone);
  }

 private:
  // The statistics after an examined sector. Sectors without a record change
  // no count, so one report per chunk covers them; records are reported one
  // in 64 and at the end of each chunk, with the counts of that moment.
  // A chunk's report stands for the reports of its sectors (reports).
  void report(SectorNumber sector, bool force, std::uint32_t reports = 1) {
    if (!force && (++unreported_ & 63) != 0) return;
    unreported_ = 0;
    job_.updateStatistics({sector, main_.lists.folders.size(), main_.lists.files.size(), utf16ToUtf8(lastName()),
                           StatisticsFormat::Sector, main_.lists.tornRecords, reports});
  }

  // Pass 1: every sector of the range is looked at. An image file in the
  // page cache is swept by two threads at once, this one upwards from the
  // start of the range and a helper downwards from near its end until they
  // meet (two processor cores copy the pages of the page cache almost twice
  // as fast as one, and the records, which lie together, are shared out as
  // they come). What the helper found is put after what this thread found.
  // Where the helper could not read, it gives its stretch back and stops,
  // and this thread sweeps it on the plain path, so every question of the
  // bad-sector rules is asked here and in sector order.
  void sweep() {
    main_ = SweepPart{};
    // The helper ends a few chunks before the range (and any selection)
    // ends: a record that starts in its last chunk lies wholly in the range.
    SectorNumber helperEnd = start_;
    if (!ctx_.chunkObserver) {
      const SectorNumber limit = twoThreadSweepEnd(ctx_.reader, start_, end_, kParallelMinimumSectors);
      if (limit != start_) helperEnd = start_ + ((limit - start_) / kSweepSectors - 2) * kSweepSectors;
    }
    if (helperEnd == start_) {
      sweepRange(start_, end_);
      finishSweep();
      return;
    }
    SweepMeeting meeting(start_, helperEnd);
    SweepHelper<SweepPart> helper(meeting, kHelperStretchSectors, job_,
                                  [this](std::uint64_t from, std::uint64_t to, SweepPart& part,
                                         const std::function<bool()>& carryOn) {
                                    return sweepStretch(from, to, part, carryOn);
                                  });
    // Copied, not looked at in place: unmapping pages while another thread
    // of the process runs costs both threads a flush of their address
    // translations, more than the copy.
    bool swept = sweepRange(start_, helperEnd, false, &meeting);
    helper.wait([this] {
      job_.setPercent(percentOf(examined(), end_ - start_));
      job_.checkpoint();
    });
    if (swept && !job_.stopRequested()) {
      // What lies between this thread's last sector and the helper's last
      // stretch: a stretch the helper gave back, or nothing.
      const auto [from, to] = meeting.gap();
      swept = sweepRange(from, to, false);
    }
    // After a stop nothing beyond the sector reached is taken.
    if (swept && !job_.stopRequested()) {
      for (auto it = helper.stretches().rbegin(); it != helper.stretches().rend(); ++it) main_.append(std::move(*it));
      sweepRange(helperEnd, end_);
    }
    finishSweep();
  }

  void finishSweep() {
    lists_ = std::move(main_.lists);
    ctx_.mft.scannedRecords = std::move(main_.scanned);
    bootEntries_ = std::move(main_.boots);
    main_ = SweepPart{};
  }

  // The sectors examined so far, for the percentage.
  std::uint64_t examined() const { return examinedHere_ + examinedByHelper_.load(std::memory_order_relaxed); }

  // Sweeps [first, end) on this thread with the sector reader's rules:
  // through the read-ahead stream, or, without it, by plain reads; with a
  // meeting, only up to where the helper is. False when a stop ended it.
  bool sweepRange(SectorNumber from, SectorNumber end, bool readAhead = true, SweepMeeting* meeting = nullptr) {
    std::vector<std::byte> chunk(std::size_t{kSweepSectors} * kSectorSize);
    // The read-ahead stream reads ahead on its own thread, or looks in place
    // at an image file whose pages are in memory.
    std::optional<ReadAheadStream> stream;
    if (readAhead) stream.emplace(ctx_.reader, job_, from, end, kSweepSectors * kSweepChunksPerBlock, kSweepBlocks);
    for (SectorNumber first = from; first < end;) {
      SectorNumber last = std::min<SectorNumber>(first + kSweepSectors, end);
      if (meeting && (last = meeting->up(first, last)) == first) break;
      const auto count = static_cast<std::uint32_t>(last - first);
      // What cannot be read comes back as zeros; the rest is still looked at.
      ByteSpan bytes;
      if (stream) {
        bytes = stream->read(first, count, chunk);
      } else {
        (void)ctx_.reader.ReadSector(first, count, chunk);
        bytes = ByteSpan(chunk).first(std::size_t{count} * kSectorSize);
      }
      examineChunk(main_, bytes, first, count, true);
      if (ctx_.chunkObserver) ctx_.chunkObserver(bytes, first);
      first += count;
      examinedHere_ += count;
      // The sectors without a record changed no count: one report per chunk
      // shows the sector reached.
      report(first - 1, true, count);
      job_.setPercent(percentOf(examined(), end_ - start_));
      job_.checkpoint();
      if (job_.stopRequested()) return false;
    }
    return true;
  }

  // Looks at the count sectors of a chunk at first. bytes may run on past
  // them: a record that starts in the chunk and runs past its end is taken
  // from there when they hold it, else read whole again (this thread only).
  void examineChunk(SweepPart& part, ByteSpan bytes, SectorNumber first, std::uint32_t count, bool here) {
    for (std::uint32_t i = 0; i < count; ++i) {
      const ByteSpan sector = bytes.subspan(std::size_t{i} * kSectorSize, kSectorSize);
      const SectorNumber at = first + i;
      if (matchesAscii(sector, 0, "FILE")) {
        const std::uint32_t size = readU32(sector, 28);
        if (!geometry_.acceptsRecordSize(size)) continue;
        const std::uint32_t sectors = size / kSectorSize;
        std::vector<std::byte>& record = here ? record_ : helperRecord_;
        record.resize(size);
        if (std::size_t{i} * kSectorSize + size <= bytes.size()) {
          std::memcpy(record.data(), bytes.data() + std::size_t{i} * kSectorSize, size);
        } else {
          // The record runs past the chunk: read it whole again.
          (void)ctx_.reader.ReadSector(at, sectors, record);
        }
        if (takeRecord(part, record, at) && here) report(at, false);
      } else if (matchesAscii(sector, 0, "INDX")) {
        if (auto owner = readIndexBufferOwner(sector)) {
          part.lists.indexBuffers.push_back({at, owner->owner, owner->vcn, false});
          if (here) report(at, false);
        }
      } else if (ctx_.lostResult && looksLikeNtfsBootSector(sector)) {
        takeBootSector(part, sector, at);
      }
    }
  }

  // The helper's sweep of the stretch [first, end), on its own thread: raw
  // transfers of the source, each chunk with the sectors a record starting
  // in it may run into, so it never reads through the sector reader. False
  // when a transfer failed or the helper must end.
  bool sweepStretch(SectorNumber from, SectorNumber end, SweepPart& part, const std::function<bool()>& carryOn) {
    // The sectors of the longest record taken, past the chunk.
    const auto tail = static_cast<std::uint32_t>(geometry_.largestRecordSize() / kSectorSize - 1);
    helperChunk_.resize(std::size_t{kSweepSectors + tail} * kSectorSize);
    for (SectorNumber first = from; first < end;) {
      if (!carryOn()) return false;
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kSweepSectors, end - first));
      const auto bytes = std::span<std::byte>(helperChunk_).first(std::size_t{count + tail} * kSectorSize);
      if (ctx_.reader.source().read(first, count + tail, bytes) != TransferStatus::Ok) return false;
      examineChunk(part, bytes, first, count, false);
      first += count;
      examinedByHelper_.fetch_add(count, std::memory_order_relaxed);
    }
    return true;
  }

  void takeBootSector(SweepPart& part, ByteSpan sector, SectorNumber at) {
    auto boot = parseNtfsBootSector(sector);
    if (!boot) return;
    auto geometry = makeNtfsGeometry(*boot, at);
    if (!geometry || geometry->sectorsPerCluster() == 0) return;
    const std::uint64_t scale = boot->bytes_per_sector / kSectorSize;
    if (scale == 0 || boot->total_sectors == 0 || boot->total_sectors > (std::uint64_t{1} << 48)) return;
    part.boots.push_back({at, geometry->sectorsPerCluster(), boot->total_sectors * scale, boot->mft_cluster});
  }

  // Whether the volume laid out from start holds an MFT record where its boot
  // sector puts $MFT.
  bool mftRecordAt(SectorNumber start, const BootEntry& boot) {
    if (boot.mftCluster > (std::uint64_t{1} << 48) / boot.sectorsPerCluster) return false;
    const SectorNumber sector = start + boot.mftCluster * boot.sectorsPerCluster;
    if (sector < start || sector >= start + boot.totalSectors) return false;
    return matchesAscii(readSectorOrZeros(ctx_.reader, sector), 0, "FILE");
  }

  // The lost-partition form of the layout checks. Each boot sector is taken
  // where its $MFT is found: at its own position, or, for the backup copy at
  // a volume's last sector, total sectors before it (the primary's place),
  // so that a volume whose primary boot sector was wiped keeps its real
  // start. A layout already checked is not checked again.
  void findLostLayouts(NtfsLayoutAnalysis& layouts) {
    NtfsLostResult& result = *ctx_.lostResult;
    std::set<SectorNumber> checked;
    for (const BootEntry& boot : bootEntries_) {
      SectorNumber start = boot.sector;
      if (!mftRecordAt(start, boot) && boot.sector >= boot.totalSectors &&
          mftRecordAt(boot.sector - boot.totalSectors, boot))
        start = boot.sector - boot.totalSectors;
      if (!checked.insert(start).second) continue;
      const SectorNumber end = start + boot.totalSectors;
      const std::size_t before = layouts.fileSystems().size();
      layouts.checkKnownLayout(start, boot.sectorsPerCluster, end);
      if (layouts.fileSystems().size() > before) result.layouts.push_back({start, boot.sectorsPerCluster, end, false});
      job_.checkpoint();
    }
    const std::size_t known = layouts.fileSystems().size();
    layouts.inferLayouts(end_);
    for (std::size_t i = known; i < layouts.fileSystems().size(); ++i)
      result.layouts.push_back({layouts.fileSystems()[i].start, layouts.fileSystems()[i].sectorsPerCluster, end_, true});
    job_.checkpoint();
    result.lists = std::move(lists_);
    lists_ = NtfsScanLists{};
  }

  // Decodes one "FILE" record into the lists. False when it is not a usable
  // record (the sector is then skipped as a non-record).
  bool takeRecord(SweepPart& part, std::span<std::byte> bytes, SectorNumber sector) {
    auto record = readMftRecord(bytes);
    if (!record) return false;
    // A torn record keeps only the sectors before the first that did not
    // carry the sequence number; readMftRecord cut it there.
    if (record->torn) ++part.lists.tornRecords;
    const MftRecordHeader& header = record->header;
    AttributeCursor walk(*record);
    // The first copy found of a numbered record is kept for the saving; the
    // mirror copies of the first records repeat them.
    if (header.record_number) part.scanned.emplace(*header.record_number, sector);

    if (header.isExtension()) {
      // An extension holds attributes of its base record and is never a
      // file of its own; the extent of the data at VCN 0 gives the size of
      // a file whose base record does not hold it.
      while (const AttributeHeader* next = walk.next()) {
        const AttributeHeader& attribute = *next;
        if (attribute.is(AttributeType::Data) && attribute.name.empty() && attribute.first_vcn == 0)
          part.lists.extentSizes.emplace(header.base_reference.record_number, attribute.size());
        if (attribute.is(AttributeType::FileName) && !attribute.non_resident && attribute.name.empty()) {
          if (auto name = parseFileName(attribute.value))
            part.lists.extentNames[header.base_reference.record_number].push_back(
                {header.base_reference.sequence_number, std::move(*name)});
        }
      }
      part.lists.unlisted.push_back({sector, header.record_number});
      return true;
    }

    std::vector<FileName>& names = part.names;
    names.clear();
    std::optional<StandardInformation> standard;
    std::optional<std::uint64_t> dataSize;
    std::optional<std::uint64_t> indexRootOwner;
    std::uint64_t indexAllocationCluster = 0;
    bool attributeList = false;
    while (const AttributeHeader* next = walk.next()) {
      const AttributeHeader& attribute = *next;
      if (attribute.is(AttributeType::AttributeList)) attributeList = true;
      if (attribute.is(AttributeType::FileName) && !attribute.non_resident && attribute.name.empty()) {
        if (auto name = parseFileName(attribute.value)) names.push_back(std::move(*name));
      } else if (attribute.is(AttributeType::StandardInformation) && !attribute.non_resident && !standard) {
        if (auto value = parseStandardInformation(attribute.value)) standard = *value;
      } else if (attribute.is(AttributeType::Data) && attribute.name.empty() && attribute.first_vcn == 0 &&
                 !dataSize) {
        dataSize = attribute.size();
      } else if (attribute.is(AttributeType::IndexRoot) && !attribute.non_resident && attribute.name == kIndexNameI30) {
        if (auto root = parseIndexRoot(attribute.value); root && !root->node.entries.empty()) {
          const auto& first = root->node.entries.front();
          if (first.file_name && first.file_name->parent.record_number != 0)
            indexRootOwner = first.file_name->parent.record_number;
        }
      } else if (attribute.is(AttributeType::IndexAllocation) && attribute.non_resident &&
                 attribute.name == kIndexNameI30 && attribute.first_vcn == 0) {
        if (auto runs = decodeDataRuns(attribute.runs, 0); runs && !runs->empty() && !runs->front().sparse)
          indexAllocationCluster = runs->front().lcn;
      }
    }
    if (walk.damaged() && !dataSize) dataSize = dataSizeAtDamage(*record, walk.offset());
    const auto chosen = bestFileNameIndex(names);
    FileName* best = chosen ? &names[*chosen] : nullptr;
    // The kind and state the MFT walk gives the record: a folder whenever the
    // directory flag is set (0x07, a folder of $Extend such as $Deleted,
    // included), deleted when the in-use flag is clear.
    const bool folder = header.isDirectory();
    const bool deleted = !header.inUse();
    if (!best && dataSize.value_or(0) == 0 && !folder && !attributeList) {
      // A record never used, emptied or reserved (records 12 to 15 hold an
      // empty stream and no name): nothing to show, but it holds a place.
      part.lists.unlisted.push_back({sector, header.record_number});
      return true;
    }
    NtfsTimes times;
    if (standard) {
      times = {standard->modification_time, standard->creation_time, standard->access_time};
    } else if (best) {
      times = {best->modification_time, best->creation_time, best->access_time};
    }
    std::u16string name = best ? std::move(best->name) : std::u16string{};
    const FileReference parent = best ? best->parent : FileReference{};

    if (folder) {
      NtfsFolderEntry entry;
      entry.name = std::move(name);
      entry.deleted = deleted;
      entry.times = times;
      entry.parent = parent;
      if (header.record_number) {
        entry.ownNumber = *header.record_number;
        entry.numberKnown = true;
      } else if (indexRootOwner) {
        entry.ownNumber = *indexRootOwner;
        entry.numberKnown = true;
      }
      entry.sequenceNumber = header.sequence_number;
      entry.recordSector = sector;
      entry.indexAllocationCluster = indexAllocationCluster;
      part.lists.folders.push_back(std::move(entry));
      part.lastFolder = true;
    } else {
      NtfsFileEntry entry;
      entry.deleted = deleted;
      entry.times = times;
      entry.size = dataSize.value_or(0);
      entry.hasData = dataSize.has_value();
      entry.parent = parent;
      if (header.record_number) {
        entry.ownNumber = *header.record_number;
        entry.numberKnown = true;
      } else if (auto system = systemFileNumber(name)) {
        entry.ownNumber = *system;
        entry.numberKnown = true;
      }
      entry.name = std::move(name);
      entry.sequenceNumber = header.sequence_number;
      entry.recordSector = sector;
      part.lists.files.push_back(std::move(entry));
      part.lastFolder = false;
    }
    return true;
  }

  // The records that lay in the sectors the sweep could not read, where
  // their numbers follow from the records found around them: the last
  // numbered record before the gap and the first after it lie as far apart
  // as their numbers say (one stretch of the MFT), or the gap lies within a
  // found record. Consecutive lost records make one loss.
  void nameLostRecords(const std::vector<SectorRange>& lost) {
    const std::uint64_t perRecord = geometry_.recordSize / kSectorSize;
    if (perRecord == 0) return;
    std::vector<std::pair<SectorNumber, std::uint64_t>> known;  // sector, number
    for (const NtfsFolderEntry& f : lists_.folders)
      if (f.numberKnown) known.emplace_back(f.recordSector, f.ownNumber);
    for (const NtfsFileEntry& f : lists_.files)
      if (f.numberKnown) known.emplace_back(f.recordSector, f.ownNumber);
    for (const NtfsUnlistedRecord& r : lists_.unlisted)
      if (r.ownNumber) known.emplace_back(r.recordSector, *r.ownNumber);
    std::sort(known.begin(), known.end());
    std::optional<ReadLoss> open;
    auto add = [&](std::uint64_t number, SectorRange sectors) {
      if (open && open->recordNumbers.back() + 1 >= number) {
        if (open->recordNumbers.back() != number) open->recordNumbers.push_back(number);
        if (open->sectors.back().end >= sectors.start) open->sectors.back().end = std::max(open->sectors.back().end, sectors.end);
        else open->sectors.push_back(sectors);
        return;
      }
      if (open) losses_.push_back(std::move(*open));
      open = ReadLoss{ReadLossKind::MftRecord, kLostId, 0, {sectors}, 0, {number}};
    };
    for (const SectorRange& gap : lost) {
      auto after = std::lower_bound(known.begin(), known.end(), std::pair{gap.end, std::uint64_t{0}});
      auto before = std::upper_bound(known.begin(), known.end(), std::pair{gap.start, ~std::uint64_t{0}});
      if (before == known.begin()) continue;
      --before;
      const auto [from, number] = *before;
      const bool within = gap.end <= from + perRecord;
      const bool stretch = after != known.end() && (after->first - from) % perRecord == 0 &&
                           after->second > number && (after->first - from) / perRecord == after->second - number;
      if (!within && !stretch) continue;
      for (std::uint64_t k = (gap.start - from) / perRecord; from + k * perRecord < gap.end; ++k) {
        const SectorNumber recordStart = from + k * perRecord;
        add(number + k, {std::max(gap.start, recordStart), std::min(gap.end, recordStart + perRecord)});
      }
    }
    if (open) losses_.push_back(std::move(*open));
  }

  // Copies of MFT records found outside $MFT (older copies in free clusters,
  // in $LogFile) only serve records the MFT cannot give: when the volume's
  // MFT run list loads, a record the sweep found within its runs stands for
  // its number, and every copy of that number found elsewhere is dropped,
  // so it neither adds a second entry nor takes the record's place for the
  // saving.
  void keepRecordsTheMftGives() {
    auto geometry = readNtfsGeometry(ctx_.reader, ctx_.parameters, start_, end_);
    if (!geometry) return;
    auto mft = LoadMftRunList(ctx_.reader, *geometry);
    if (!mft || mft->runs.empty()) return;
    const std::uint64_t spc = geometry->sectorsPerCluster();
    if (spc == 0 || end_ <= geometry->partition_start) return;
    std::vector<SectorRange> runs;
    for (const DataRun& run : mft->runs) {
      if (run.sparse || run.lcn > (end_ - geometry->partition_start) / spc) continue;
      const SectorNumber first = geometry->partition_start + run.lcn * spc;
      runs.push_back({first, first + std::min(run.length, (end_ - first) / spc) * spc});
    }
    std::sort(runs.begin(), runs.end(), [](const SectorRange& a, const SectorRange& b) { return a.start < b.start; });
    auto inMft = [&runs](SectorNumber sector) {
      auto after = std::upper_bound(runs.begin(), runs.end(), sector,
                                    [](SectorNumber s, const SectorRange& r) { return s < r.start; });
      return after != runs.begin() && sector < std::prev(after)->end;
    };
    // The numbers the MFT gives, with the sector of their record there.
    std::unordered_map<std::uint64_t, SectorNumber> given;
    auto note = [&](bool known, std::uint64_t number, SectorNumber sector) {
      if (known && inMft(sector)) given.emplace(number, sector);
    };
    for (const NtfsFolderEntry& f : lists_.folders) note(f.numberKnown, f.ownNumber, f.recordSector);
    for (const NtfsFileEntry& f : lists_.files) note(f.numberKnown, f.ownNumber, f.recordSector);
    for (const NtfsUnlistedRecord& r : lists_.unlisted) note(r.ownNumber.has_value(), r.ownNumber.value_or(0), r.recordSector);
    if (given.empty()) return;
    auto stale = [&](bool known, std::uint64_t number, SectorNumber sector) {
      return known && !inMft(sector) && given.contains(number);
    };
    std::erase_if(lists_.folders, [&](const NtfsFolderEntry& f) { return stale(f.numberKnown, f.ownNumber, f.recordSector); });
    std::erase_if(lists_.files, [&](const NtfsFileEntry& f) { return stale(f.numberKnown, f.ownNumber, f.recordSector); });
    std::erase_if(lists_.unlisted, [&](const NtfsUnlistedRecord& r) {
      return stale(r.ownNumber.has_value(), r.ownNumber.value_or(0), r.recordSector);
    });
    // The saving reads extension records where the MFT holds them.
    for (const auto& [number, sector] : given) ctx_.mft.scannedRecords[number] = sector;
  }

  // Pass 2: folders whose records do not carry their number take it from the
  // index entries that name them in their parent's index buffers.
  void numberFoldersFromIndexBuffers() {
    FolderNumbersFromIndex matcher(lists_.folders);
    const std::size_t count = lists_.indexBuffers.size();
    std::vector<std::byte> buffer;
    for (std::size_t i = 0; i < count; ++i) {
      // When every folder has its number there is nothing to read.
      if (!matcher.empty()) {
        const SectorNumber sector = lists_.indexBuffers[i].sector;
        const SectorBuffer first = readSectorOrZeros(ctx_.reader, sector);
        const std::uint64_t size = declaredIndexBufferSize(first) / kSectorSize * kSectorSize;
        if (size > 0 && size <= kMaxIndexBufferBytes) {
          buffer.assign(size, std::byte{0});
          const std::uint64_t losses = ctx_.reader.lossCount();
          (void)ctx_.reader.ReadSector(sector, static_cast<std::uint32_t>(size / kSectorSize), buffer);
          // An index buffer that could not be read whole: its folder's
          // entries there are unknown (the records they name are listed
          // where the sweep found them).
          if (ctx_.reader.lossCount() != losses && !ctx_.lostResult) {
            auto lost = ctx_.reader.unreadable().rangesIn(sector, size / kSectorSize);
            if (!lost.empty())
              losses_.push_back(ReadLoss{ReadLossKind::FolderSectors, static_cast<std::uint32_t>(
                                             std::min<std::uint64_t>(lists_.indexBuffers[i].owner, kLostId)),
                                         0, std::move(lost), 0, {}});
          }
          if (auto index = readIndexBuffer(buffer)) {
            if (index->torn) ++lists_.tornRecords;
            matcher.apply(index->node);
          }
        }
      }
      job_.setPercent(percentOf(i + 1, count));
      job_.checkpoint();
      if (job_.stopRequested()) return;
    }
  }

  Job& job_;
  NtfsSearchContext& ctx_;
  SectorNumber start_ = 0;
  SectorNumber end_ = 0;
  ScanGeometry geometry_;
  NtfsScanLists lists_;
  // The name of the last folder or file the sweep took.
  std::u16string_view lastName() const {
    const NtfsScanLists& lists = main_.lists;
    if (main_.lastFolder) return lists.folders.empty() ? std::u16string_view{} : lists.folders.back().name;
    return lists.files.empty() ? std::u16string_view{} : lists.files.back().name;
  }

  SweepPart main_;  // what the sweep found, while it runs
  std::vector<ReadLoss> losses_;  // what could not be read, added to the result at its end
  std::uint64_t unreported_ = 0;
  std::vector<BootEntry> bootEntries_;
  std::vector<std::byte> record_, helperRecord_;  // a record being taken, on each thread
  std::vector<std::byte> helperChunk_;            // the helper thread's transfers
  std::uint64_t examinedHere_ = 0;
  std::atomic<std::uint64_t> examinedByHelper_{0};
};

}  // namespace

void runNtfsExhaustiveSearch(Job& job, NtfsSearchContext& context) { NtfsScan(job, context).run(); }

}  // namespace dravolin
