#include "imaging/image_creation.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <exception>
#include <thread>

#include "common/bounded_queue.h"
#include "disk/file_source.h"
#include "imaging/bad_sector_list.h"
#include "imaging/image_pieces.h"
#include "imaging/rescue_imaging.h"

namespace dravolin {
namespace fs = std::filesystem;
namespace {

// One transfer in flight: the sectors [first, first + count) and the sectors
// among them that stayed unreadable (zero-filled in bytes).
// Page-aligned, so that a device read with direct transfers fills it with no
// copy through the source's own aligned buffer.
struct AlignedFree {
  void operator()(std::byte* p) const { std::free(p); }
};
constexpr std::size_t kBlockAlignment = 4096;

struct Block {
  std::unique_ptr<std::byte[], AlignedFree> memory;
  std::span<std::byte> bytes;
  SectorNumber first = 0;
  std::uint32_t count = 0;
  std::vector<SectorNumber> lost;
  std::span<std::byte> data() { return bytes.first(std::size_t{count} * kSectorSize); }
};

// Sectors the reader moves between two checkpoints (1 MiB), so that a pause
// or a cancel reaches it within one such read.
constexpr std::uint32_t kReadStepSectors = 2048;

// How the range is cut into transfers: never longer than the transfer size,
// and with pieces never across the end of a piece.
struct TransferPlan {
  SectorNumber start = 0;
  SectorNumber end = 0;
  std::uint32_t transfer = 1;
  std::uint64_t pieceSectors = 0;  // 0: one piece or a disk, no cut
  std::uint32_t countAt(SectorNumber current) const {
    std::uint64_t count = std::min<std::uint64_t>(transfer, end - current);
    if (pieceSectors > 0) count = std::min(count, pieceSectors - (current - start) % pieceSectors);
    return static_cast<std::uint32_t>(count);
  }
};

// The threads around the worker's own: a reader that fills blocks in sector
// order, and the MD5 and SHA-256 hashers that take the blocks the worker has
// written (so the hashes are those of the image) and give them back to the
// reader. Memory in flight is the blocks made at the start. However the copy
// ends, the destructor stops every thread before the worker's files close.
class CopyPipeline {
 public:
  CopyPipeline(Job& job, SectorReader& source, const TransferPlan& plan, std::uint32_t ringBlocks,
               const std::vector<DigestAlgorithm>& digests)
      : job_(job), source_(source), plan_(plan), free_(ringBlocks), read_(ringBlocks) {
    const std::uint64_t total = plan.end > plan.start ? plan.end - plan.start : 0;
    const std::uint64_t blockSectors = std::clamp<std::uint64_t>(total, 1, plan.transfer);
    const std::uint64_t needed = (total + blockSectors - 1) / blockSectors;
    blocks_.resize(static_cast<std::size_t>(std::clamp<std::uint64_t>(needed, 1, ringBlocks)));
    for (Block& block : blocks_) {
      const std::size_t size = (blockSectors * kSectorSize + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
      block.memory.reset(static_cast<std::byte*>(std::aligned_alloc(kBlockAlignment, size)));
      if (!block.memory) throw std::bad_alloc();
      block.bytes = std::span<std::byte>(block.memory.get(), blockSectors * kSectorSize);
      (void)free_.push(&block);
    }
    // One hasher thread per digest, in a chain: written blocks go through
    // each in turn and the last gives them back to the reader.
    for (DigestAlgorithm algorithm : digests) {
      hashers_.push_back(std::make_unique<Hasher>(algorithm, ringBlocks));
    }
    source_.setUnreadableSink([this](SectorNumber sector) { reading_->lost.push_back(sector); });
    try {
      reader_ = std::thread([this] { readBlocks(); });
      for (std::size_t i = 0; i < hashers_.size(); ++i) {
        BoundedQueue<Block*>& out = i + 1 < hashers_.size() ? hashers_[i + 1]->in : free_;
        Hasher& hasher = *hashers_[i];
        hasher.thread = std::thread([&hasher, &out] { hashBlocks(hasher.digest, hasher.in, out); });
      }
    } catch (...) {
      stopAll();
      throw;
    }
  }
  ~CopyPipeline() { stopAll(); }
  CopyPipeline(const CopyPipeline&) = delete;
  CopyPipeline& operator=(const CopyPipeline&) = delete;

  // The next block in sector order, or nullptr when the range has been read.
  // What ended the reader early (a cancel at its checkpoint) is thrown here.
  Block* nextRead() {
    auto block = read_.pop();
    if (block) return *block;
    if (readerFailure_) std::rethrow_exception(readerFailure_);
    return nullptr;
  }

  // Gives a written block to the hashers (back to the reader without any).
  void hashWritten(Block* block) { (void)(hashers_.empty() ? free_ : hashers_.front()->in).push(block); }

  // Stops the reader (blocks read ahead are dropped), lets the hashers take
  // in every block they were given, and returns their digests.
  ImageHashes finish() {
    free_.abort();
    read_.abort();
    if (!hashers_.empty()) hashers_.front()->in.close();
    joinAll();
    ImageHashes hashes;
    for (auto& hasher : hashers_) hashes.of(hasher->algorithm) = hasher->digest.finishHex();
    return hashes;
  }

 private:
  void readBlocks() {
    try {
      for (SectorNumber current = plan_.start; current < plan_.end;) {
        auto block = free_.pop();
        if (!block) return;
        Block& b = **block;
        b.first = current;
        b.count = plan_.countAt(current);
        b.lost.clear();
        reading_ = &b;
        // One-sector calls as far as the reader's rules go; what it could
        // not read comes back as zeros and is written as such.
        for (std::uint32_t done = 0; done < b.count;) {
          job_.checkpoint();
          const std::uint32_t n = std::min(kReadStepSectors, b.count - done);
          (void)source_.ReadSectorsAs(current + done, n, b.data().subspan(std::size_t{done} * kSectorSize), 1);
          done += n;
        }
        if (!read_.push(&b)) return;
        current += b.count;
      }
      read_.close();
    } catch (...) {
      readerFailure_ = std::current_exception();
      read_.abort();
    }
  }

  static void hashBlocks(StreamDigest& digest, BoundedQueue<Block*>& in, BoundedQueue<Block*>& out) {
    while (auto block = in.pop()) {
      digest.update((*block)->data());
      (void)out.push(*block);
    }
    out.close();
  }

  void stopAll() {
    free_.abort();
    read_.abort();
    for (auto& hasher : hashers_) hasher->in.abort();
    joinAll();
  }

  void joinAll() {
    if (reader_.joinable()) reader_.join();
    for (auto& hasher : hashers_)
      if (hasher->thread.joinable()) hasher->thread.join();
    source_.setUnreadableSink({});
  }

  Job& job_;
  SectorReader& source_;
  const TransferPlan plan_;
  std::vector<Block> blocks_;
  struct Hasher {
    Hasher(DigestAlgorithm a, std::uint32_t ringBlocks) : algorithm(a), in(ringBlocks), digest(a) {}
    DigestAlgorithm algorithm;
    BoundedQueue<Block*> in;  // written blocks, for this digest
    StreamDigest digest;
    std::thread thread;
  };
  BoundedQueue<Block*> free_;      // empty blocks, for the reader
  BoundedQueue<Block*> read_;      // read, for the writer
  std::vector<std::unique_ptr<Hasher>> hashers_;
  Block* reading_ = nullptr;       // the block the reader fills (reader thread only)
  std::exception_ptr readerFailure_;
  std::thread reader_;
};

std::vector<DigestAlgorithm> digestsOf(const std::vector<std::string>& names) {
  std::vector<DigestAlgorithm> digests;
  for (const auto& name : names)
    if (auto a = digestAlgorithmNamed(name)) digests.push_back(*a);
  return digests;
}

int percentOf(std::uint64_t current, std::uint64_t end) {
  if (end == 0) return 100;
  std::uint64_t percent = end > UINT64_MAX / 100 ? current / (end / 100) : current * 100 / end;
  return static_cast<int>(std::min<std::uint64_t>(percent, 100));
}

// Pushes what was written to a disk target out of the page cache, so that
// "completed" means the data reached the disk.
bool flushTarget(SectorReader& target) {
  auto* file = dynamic_cast<FileSectorSource*>(&target.source());
  return !file || ::fsync(file->descriptor()) == 0;
}

}  // namespace

void writeImageHashFiles(ImagingResult& result, const fs::path& hashList, const HashListContent& content) {
  if (auto listed = writeHashFiles(hashList, content); listed) {
    result.hashFiles = *listed;
    if (!listed->empty()) result.hashList = listed->front();
  } else {
    result.hashListError = listed.error().message;
  }
}

void appendImageReportLines(std::vector<std::string>& lines, const ImagingResult& result,
                            const std::string& writeError, const std::string& badSectorListError) {
  if (!result.hashes.md5.empty()) lines.push_back("MD5 : " + result.hashes.md5);
  if (!result.hashes.sha1.empty()) lines.push_back("SHA-1 : " + result.hashes.sha1);
  if (!result.hashes.sha256.empty()) lines.push_back("SHA-256 : " + result.hashes.sha256);
  for (const auto& file : result.hashFiles) lines.push_back("Hash File : " + file.string());
  if (!result.hashListError.empty()) lines.push_back("Hash List Error : " + result.hashListError);
  if (!writeError.empty()) lines.push_back("Write Error : " + writeError);
  if (!result.badSectorList.empty()) lines.push_back("Bad Sector List : " + result.badSectorList.string());
  if (!badSectorListError.empty()) lines.push_back("Bad Sector List Error : " + badSectorListError);
  if (result.unreadableSectors > 0) {
    lines.push_back("Unreadable Sector Ranges : " + describeSectorRanges(result.unreadable));
    lines.push_back("Unreadable Sectors : " + std::to_string(result.unreadableSectors));
  }
}

std::string imageCompletedMessage(std::uint64_t unreadableSectors, const fs::path& badSectorList) {
  if (unreadableSectors == 0) return kImageCompleted;
  std::string message = "Image creation completed: " + std::to_string(unreadableSectors) +
                        (unreadableSectors == 1 ? " sector could not be read and was written as zeros"
                                                : " sectors could not be read and were written as zeros");
  if (!badSectorList.empty()) message += " (see " + badSectorList.string() + ")";
  return message;
}

Result<void> runImageCreation(Job& job, const ImagingRequest& request, ImagingResult& result) {
  const ImagingSettings& settings = request.settings;
  const bool toDisk = settings.ImageToDisk;
  // A request without a source, or to a disk without a target, copies
  // nothing and says why.
  if (!request.source || (toDisk && !request.target)) {
    result.error = !request.source ? "imaging without a source" : "imaging to a disk without a target";
    result.completed = false;
    result.message = kImageAborted;
    job.complete(Completion::WorkerFinished);
    return {};
  }
  // With a mapfile the copy is a rescue, in passes that can stop and continue.
  if (!settings.mapfile.empty() && !toDisk) return runRescueImaging(job, request, result);
  SectorReader& source = *request.source;
  const std::uint64_t pieceSectors = std::max<std::uint64_t>(request.pieceSectors, 1);
  const std::uint32_t transfer = std::max<std::uint32_t>(request.transferSectors, 1);
  const SectorNumber end = request.end;

  std::string lastName = toDisk ? settings.ImageTargetLabel : std::string();
  if (!lastName.empty()) job.setLastName(lastName);

  ImagePieceWriter pieces(settings.ImageDestination, settings.overwrite,
                          settings.keepDestinationName && !settings.MultiFileImage);
  // The first piece is made before anything beside it is touched: a copy
  // that may not take the name (another run's image) ends here and leaves
  // that run's files, lists included, as they are.
  if (!toDisk && request.start < end) {
    if (auto created = pieces.createNext(); !created)
      return makeError(created.error().kind, "cannot create the image file " + created.error().message);
    lastName = pieces.pieces().back().string();
    job.setLastName(lastName);
  }
  BadSectorList badSectors(settings.badSectorList);
  UnreadableSectors unreadable;
  // A list of an earlier copy must not vouch for this one, however it ends.
  if (!toDisk && !settings.hashList.empty()) removeHashFiles(settings.hashList);
  const bool cutIntoPieces = !toDisk && settings.MultiFileImage;
  const TransferPlan plan{request.start, end, transfer, cutIntoPieces ? pieceSectors : 0};
  CopyPipeline pipeline(job, source, plan, std::max<std::uint32_t>(request.ringBlocks, 1),
                        digestsOf(settings.hashAlgorithms));

  SectorNumber current = request.start;
  std::uint64_t inPiece = 0;  // sectors already written to the open piece or the target
  std::string writeError;
  while (current < end) {
    job.checkpoint();
    Block* block = pipeline.nextRead();
    if (!block) break;
    // With pieces, a transfer never crosses into the next piece; a full piece
    // is only followed by a new one when there is something left to copy.
    const bool pieceFull = cutIntoPieces && inPiece == pieceSectors;
    const std::uint32_t n = block->count;
    auto data = block->data();
    for (SectorNumber lost : block->lost) {
      badSectors.add(lost);
      unreadable.add(lost);
    }
    if (!block->lost.empty()) {
      result.unreadableSoFar.store(unreadable.total());
      result.badAreasSoFar.store(unreadable.ranges().size());
    }

    if (toDisk) {
      if (!request.target->WriteSector(inPiece, n, data))
        writeError = "cannot write to the target disk at sector " + std::to_string(inPiece);
    } else {
      if (!pieces.isOpen() || pieceFull) {
        if (auto closed = pieces.close(); !closed) {
          writeError = closed.error().message;
          break;
        }
        auto created = pieces.createNext();
        if (!created) return makeError(created.error().kind, "cannot create the image file " + created.error().message);
        inPiece = 0;
        lastName = pieces.pieces().back().string();
        job.setLastName(lastName);
      }
      if (auto written = pieces.write(inPiece, data); !written) writeError = written.error().message;
    }
    if (!writeError.empty()) break;
    pipeline.hashWritten(block);

    current += n;
    inPiece += n;
    // The position the copy has reached; the report stands for the block's
    // sectors, so the display refreshes as the copy goes on.
    SearchStatistics reached{current, 0, 0, lastName, StatisticsFormat::Sector};
    reached.reports = n;
    job.updateStatistics(reached);
    result.sectorsCopied.store(current - request.start);
    job.setPercent(percentOf(current, end));
    if (job.stopRequested()) break;
  }
  const ImageHashes hashes = pipeline.finish();

  if (auto closed = pieces.close(); !closed && writeError.empty()) writeError = closed.error().message;
  if (toDisk && writeError.empty() && !flushTarget(*request.target))
    writeError = "cannot flush the target disk";
  const bool listWritten = badSectors.finish();

  result.currentSector = current;
  result.pieces = pieces.pieces();
  result.unreadableSectors = badSectors.count();
  result.unreadable = unreadable.ranges();
  result.badSectorList = badSectors.writtenPath();
  result.error = writeError;
  result.completed = current == end && writeError.empty();
  result.message = result.completed ? imageCompletedMessage(result.unreadableSectors, result.badSectorList)
                                    : std::string(kImageAborted);
  // After a failed write the image is not what was read: no hashes vouch for it.
  if (writeError.empty()) {
    result.hashes = hashes;
    result.hashedSectors = current - request.start;
    if (!toDisk && !settings.hashList.empty() && !hashes.empty()) {
      writeImageHashFiles(result, settings.hashList,
                          {hashes, result.pieces, current - request.start, end > request.start ? end - request.start : 0});
    }
  }

  if (request.activityLog) {
    std::string elapsed = request.elapsedText ? request.elapsedText() : std::string("0 : 0 : 0");
    std::vector<std::string> lines = {"\r\n",
                                      "Step 3 :",
                                      "-------",
                                      "Analysing Imaging Creation Information : ",
                                      "Time Elapsed : " + elapsed,
                                      "Current Sector : " + std::to_string(current) + " / " + std::to_string(end),
                                      "Last Name : " + lastName,
                                      result.message};
    if (!result.hashes.empty() && !result.completed)
      lines.push_back("Hashes cover the " + std::to_string(current - request.start) + " sectors copied only");
    appendImageReportLines(lines, result, writeError, listWritten ? std::string() : badSectors.error());
    request.activityLog->appendLines(lines);
  }
  job.prompter().inform(result.message);

  // A piece with the next number is left from an earlier, longer image: it
  // goes, so that the pieces on disk are exactly this image.
  // A single image under its own name has no numbered neighbours of ours.
  if (!toDisk && !(settings.keepDestinationName && !settings.MultiFileImage))
    removeStalePiece(settings.ImageDestination, pieces.pieceCount());

  job.complete(Completion::WorkerFinished);
  return {};
}

}  // namespace dravolin
