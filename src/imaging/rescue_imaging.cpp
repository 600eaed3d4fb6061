#include "imaging/rescue_imaging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/bounded_queue.h"

#include "imaging/bad_sector_list.h"
#include "imaging/image_pieces.h"
#include "imaging/rescue_map.h"

namespace dravolin {
namespace fs = std::filesystem;
namespace {

struct FreeMemory {
  void operator()(std::byte* p) const { std::free(p); }
};

std::string localTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

const char* phaseText(RescuePhase phase) {
  switch (phase) {
    case RescuePhase::Copying: return "Copying non-tried blocks...";
    case RescuePhase::Trimming: return "Trimming failed blocks...";
    case RescuePhase::Scraping: return "Scraping failed blocks...";
    case RescuePhase::Retrying: return "Retrying bad sectors...";
    case RescuePhase::Finished: return "Finished";
  }
  return "";
}

int phaseNumber(RescuePhase phase) {
  switch (phase) {
    case RescuePhase::Copying: return 0;
    case RescuePhase::Trimming: return 1;
    case RescuePhase::Scraping: return 2;
    case RescuePhase::Retrying: return 3;
    case RescuePhase::Finished: return 4;
  }
  return 0;
}

// Thrown inside the passes when the image cannot be written: the run ends.
struct WriteFailure {
  std::string message;
};

class RescueRun {
 public:
  RescueRun(Job& job, const ImagingRequest& request, ImagingResult& result, RescueMap map, int imageFd,
            fs::path image)
      : job_(job), request_(request), result_(result), source_(request.source->source()), map_(std::move(map)),
        fd_(imageFd), image_(std::move(image)), start_(request.start), end_(request.end),
        transfer_(std::max<std::uint32_t>(request.transferSectors, 1)) {
    const std::size_t bytes = (std::size_t{transfer_} * kSectorSize + 4095) / 4096 * 4096;
    for (Slot& slot : slots_) {
      slot.memory.reset(static_cast<std::byte*>(std::aligned_alloc(4096, bytes)));
      if (!slot.memory) throw std::bad_alloc();
      (void)free_.push(&slot);
    }
    writer_ = std::thread([this] { writeSlots(); });
    started_ = localTime();
    lastSave_ = std::chrono::steady_clock::now();
    countAll();
  }

  // All passes, or up to a stop. Saves the mapfile however it ends.
  void run() {
    const int retries = std::max(request_.settings.retries, 0);
    if (map_.countIn(BlockStatus::NonTried, start_, end_) > 0) {
      // A copy that was stopped continues with the pass it was in.
      int pass = map_.phase == RescuePhase::Copying ? std::clamp(map_.pass, 1, 2) : 1;
      for (; pass <= 3 && !stopped() && map_.countIn(BlockStatus::NonTried, start_, end_) > 0; ++pass) {
        enter(RescuePhase::Copying, pass);
        copyPass(pass);
      }
    }
    if (!stopped() && map_.countIn(BlockStatus::NonTrimmed, start_, end_) > 0) {
      enter(RescuePhase::Trimming, 1);
      trimPass();
    }
    if (!stopped() && map_.countIn(BlockStatus::NonScraped, start_, end_) > 0) {
      enter(RescuePhase::Scraping, 1);
      scrapePass();
    }
    for (int pass = 1; pass <= retries && !stopped() && map_.countIn(BlockStatus::BadSector, start_, end_) > 0;
         ++pass) {
      enter(RescuePhase::Retrying, pass);
      retryPass(pass);
    }
    if (!stopped() && map_.countIn(BlockStatus::NonTried, start_, end_) == 0 &&
        map_.countIn(BlockStatus::NonTrimmed, start_, end_) == 0 &&
        map_.countIn(BlockStatus::NonScraped, start_, end_) == 0)
      enter(RescuePhase::Finished, 1);
  }

  ~RescueRun() {
    pending_.close();
    if (writer_.joinable()) writer_.join();
  }
  RescueRun(const RescueRun&) = delete;
  RescueRun& operator=(const RescueRun&) = delete;

  // Why the image could not be written, once every read so far is written.
  std::string writeError() {
    std::unique_lock lock(writing_);
    idle_.wait(lock, [&] { return inFlight_ == 0; });
    return writeError_;
  }

  // Waits for the image writes, then replaces the mapfile. While the rescue
  // runs the image is synced first, so that after a crash the mapfile never
  // claims more than reached the disk by much; the last save leaves the
  // image to the page cache, as a plain copy (and ddrescue) does.
  Result<void> save(bool syncImage = false) {
    if (const std::string failed = writeError(); !failed.empty()) return makeError(ErrorKind::Io, failed);
    if (syncImage && ::fdatasync(fd_) != 0 && errno != EINVAL)
      return makeError(ErrorKind::Io, image_.string() + ": " + std::strerror(errno));
    map_.currentPosition = position_ * kSectorSize;
    const std::string text =
        formatMapfile(map_, {"Mapfile. Created by Dravolin", "Image: " + image_.string(),
                             "Start time:   " + started_, "Current time: " + localTime(),
                             std::string(phaseText(map_.phase)) + " Pass " + std::to_string(map_.pass)});
    lastSave_ = std::chrono::steady_clock::now();
    return saveMapfile(request_.settings.mapfile, text);
  }

  const RescueMap& map() const { return map_; }
  bool stopped() const { return stopped_; }
  bool finished() const { return map_.phase == RescuePhase::Finished; }
  std::uint64_t readErrors() const { return readErrors_; }
  const std::string& saveError() const { return saveError_; }

 private:
  void enter(RescuePhase phase, int pass) {
    map_.phase = phase;
    map_.pass = pass;
    result_.rescue.phase.store(phaseNumber(phase));
    job_.setStatus(std::string(phaseText(phase)) + " Pass " + std::to_string(pass));
    // The end is saved by the caller.
    if (phase != RescuePhase::Finished) saveNow();
  }

  void saveNow() {
    if (auto saved = save(true); !saved) saveError_ = saved.error().message;
  }

  // Between two reads: pause and cancel (checkpoint), stop, the periodic save.
  bool between() {
    job_.checkpoint();
    if (job_.stopRequested()) stopped_ = true;
    if (std::chrono::steady_clock::now() - lastSave_ >= std::chrono::seconds(kMapfileSaveSeconds)) saveNow();
    return !stopped_;
  }

  // Reads [first, first + count) and on success hands it to the writer
  // thread, so the next read overlaps the write.
  bool read(SectorNumber first, std::uint32_t count) {
    position_ = first;
    result_.rescue.position.store(first);
    auto slot = free_.pop();
    if (!slot) throw WriteFailure{"the image writer stopped"};
    Slot& s = **slot;
    s.bytes = std::size_t{count} * kSectorSize;
    s.offset = (first - start_) * kSectorSize;
    const bool ok = source_.read(first, count, std::span<std::byte>(s.memory.get(), s.bytes)) == TransferStatus::Ok;
    if (!ok) {
      (void)free_.push(&s);
      ++readErrors_;
      result_.rescue.readErrors.store(readErrors_);
      return false;
    }
    {
      std::lock_guard lock(writing_);
      if (!writeError_.empty()) throw WriteFailure{writeError_};
      ++inFlight_;
    }
    (void)pending_.push(&s);
    return true;
  }

  void writeSlots() {
    while (auto slot = pending_.pop()) {
      Slot& s = **slot;
      std::string failed;
      for (std::size_t done = 0; done < s.bytes && failed.empty();) {
        const ssize_t n = ::pwrite(fd_, s.memory.get() + done, s.bytes - done, static_cast<off_t>(s.offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failed = image_.string() + ": " + std::strerror(n < 0 ? errno : ENOSPC);
        else done += static_cast<std::size_t>(n);
      }
      {
        std::lock_guard lock(writing_);
        if (!failed.empty() && writeError_.empty()) writeError_ = failed;
        --inFlight_;
      }
      idle_.notify_all();
      (void)free_.push(&s);
    }
  }

  void mark(SectorNumber s, SectorNumber e, BlockStatus status) {
    const std::uint64_t finishedBefore = map_.countIn(BlockStatus::Finished, s, e);
    const std::uint64_t untriedBefore = map_.countIn(BlockStatus::NonTried, s, e);
    map_.set(s, e, status);
    if (status == BlockStatus::Finished) rescued_ += (e - s) - finishedBefore;
    if (status != BlockStatus::NonTried) tried_ += untriedBefore;
    result_.rescue.rescuedSectors.store(rescued_);
    result_.sectorsCopied.store(tried_);
    if (status != BlockStatus::Finished || ++marks_ % 64 == 0) updateAreas();
    job_.setPercent(static_cast<int>(end_ > start_ ? tried_ * 100 / (end_ - start_) : 100));
    // What the progress page shows, a few times a second.
    if (const auto now = std::chrono::steady_clock::now(); now - lastStatus_ >= std::chrono::milliseconds(250)) {
      lastStatus_ = now;
      job_.setStatus(std::string(phaseText(map_.phase)) + " Pass " + std::to_string(map_.pass) + " - rescued " +
                     std::to_string(rescued_ * kSectorSize / 1000000) + " of " +
                     std::to_string((end_ - start_) * kSectorSize / 1000000) + " MB, bad areas " +
                     std::to_string(result_.rescue.badAreas.load()) + ", read errors " +
                     std::to_string(readErrors_));
    }
    SearchStatistics reached{position_, 0, 0, image_.string(), StatisticsFormat::Sector};
    reached.reports = static_cast<std::uint32_t>(std::min<std::uint64_t>(e - s, UINT32_MAX));
    job_.updateStatistics(reached);
  }

  void countAll() {
    rescued_ = map_.countIn(BlockStatus::Finished, start_, end_);
    tried_ = (end_ - start_) - map_.countIn(BlockStatus::NonTried, start_, end_);
    result_.rescue.rescuedSectors.store(rescued_);
    result_.sectorsCopied.store(tried_);
    updateAreas();
  }

  void updateAreas() {
    result_.rescue.badAreas.store(map_.failedAreasIn(start_, end_));
    result_.rescue.badSectors.store((end_ - start_) - rescued_ - map_.countIn(BlockStatus::NonTried, start_, end_));
  }

  // Copying: pass 1 skips ahead after an error, further on each error in a
  // row; later passes sweep what is left without skipping. Directions
  // alternate, the first one forwards unless --reverse.
  void copyPass(int pass) {
    const bool forward = (pass % 2 == 1) != request_.settings.reverse;
    const bool skipping = pass == 1;
    const std::uint64_t maxSkip = std::max<std::uint64_t>(kRescueInitialSkipSectors, (end_ - start_) / 100);
    std::uint64_t skip = kRescueInitialSkipSectors;
    std::uint64_t clusters = 0;  // cluster reads left before large reads again
    auto blocks = map_.blocksIn(BlockStatus::NonTried, start_, end_);
    if (!forward) std::reverse(blocks.begin(), blocks.end());
    for (const RescueBlock& block : blocks) {
      SectorNumber low = block.start, high = block.end;  // what is left of the block
      while (low < high) {
        if (!between()) return;
        // Large reads while the disk reads cleanly; after a failed read,
        // clusters until the area reads cleanly again, so that a failed
        // area is at most a cluster long and trimming stays short.
        const std::uint64_t size = clusters > 0 ? kRescueClusterSectors : transfer_;
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, high - low));
        const SectorNumber first = forward ? low : high - n;
        if (read(first, n)) {
          mark(first, first + n, BlockStatus::Finished);
          skip = kRescueInitialSkipSectors;
          if (clusters > 0) --clusters;
        } else if (n > kRescueClusterSectors) {
          // The same sectors again in clusters (the failure path only).
          clusters = (n + kRescueClusterSectors - 1) / kRescueClusterSectors;
          continue;
        } else {
          clusters = transfer_ / kRescueClusterSectors;
          mark(first, first + n, BlockStatus::NonTrimmed);
          if (skipping) {
            // Out of the failing area fast; what is skipped stays non-tried.
            const std::uint64_t jump = std::min<std::uint64_t>(skip, (high - low) - n);
            if (forward) low += jump;
            else high -= jump;
            skip = std::min(skip * 2, maxSkip);
          }
        }
        if (forward) low = std::max(low, first + n);
        else high = std::min(high, first);
      }
    }
  }

  // Trimming: each non-trimmed area from its leading edge forwards and its
  // trailing edge backwards, one sector at a time, up to its first bad
  // sector; an edge next to a bad sector counts as trimmed.
  void trimPass() {
    for (const RescueBlock& block : map_.blocksIn(BlockStatus::NonTrimmed, start_, end_)) {
      SectorNumber low = block.start, high = block.end;
      if (!(low > 0 && map_.statusAt(low - 1) == BlockStatus::BadSector)) {
        while (low < high) {
          if (!between()) return;
          const bool ok = read(low, 1);
          mark(low, low + 1, ok ? BlockStatus::Finished : BlockStatus::BadSector);
          ++low;
          if (!ok) break;
        }
      }
      if (low < high && map_.statusAt(high) != BlockStatus::BadSector) {
        while (low < high) {
          if (!between()) return;
          const bool ok = read(high - 1, 1);
          mark(high - 1, high, ok ? BlockStatus::Finished : BlockStatus::BadSector);
          --high;
          if (!ok) break;
        }
      }
      if (low < high) mark(low, high, BlockStatus::NonScraped);
    }
  }

  void scrapePass() {
    for (const RescueBlock& block : map_.blocksIn(BlockStatus::NonScraped, start_, end_)) {
      for (SectorNumber s = block.start; s < block.end; ++s) {
        if (!between()) return;
        mark(s, s + 1, read(s, 1) ? BlockStatus::Finished : BlockStatus::BadSector);
      }
    }
  }

  void retryPass(int pass) {
    const bool forward = (pass % 2 == 1) != request_.settings.reverse;
    auto blocks = map_.blocksIn(BlockStatus::BadSector, start_, end_);
    if (!forward) std::reverse(blocks.begin(), blocks.end());
    for (const RescueBlock& block : blocks) {
      for (SectorNumber i = 0; i < block.end - block.start; ++i) {
        if (!between()) return;
        const SectorNumber s = forward ? block.start + i : block.end - 1 - i;
        if (read(s, 1)) mark(s, s + 1, BlockStatus::Finished);
      }
    }
  }

  Job& job_;
  const ImagingRequest& request_;
  ImagingResult& result_;
  SectorSource& source_;
  RescueMap map_;
  int fd_;
  fs::path image_;
  SectorNumber start_, end_;
  std::uint32_t transfer_;
  // Buffers between the reads and the writer thread.
  struct Slot {
    std::unique_ptr<std::byte[], FreeMemory> memory;
    std::size_t bytes = 0;
    std::uint64_t offset = 0;
  };
  static constexpr std::size_t kSlots = 4;
  Slot slots_[kSlots];
  BoundedQueue<Slot*> free_{kSlots};
  BoundedQueue<Slot*> pending_{kSlots};
  std::mutex writing_;
  std::condition_variable idle_;
  int inFlight_ = 0;
  std::string writeError_;
  std::thread writer_;
  std::string started_;
  std::chrono::steady_clock::time_point lastSave_;
  std::chrono::steady_clock::time_point lastStatus_{};
  SectorNumber position_ = 0;
  std::uint64_t rescued_ = 0;
  std::uint64_t tried_ = 0;
  std::uint64_t readErrors_ = 0;
  std::uint64_t marks_ = 0;
  bool stopped_ = false;
  std::string saveError_;
};

// The digests of a file, one reading thread per digest (the file is fresh in
// the page cache, so the digests, not the reads, set the pace).
ImageHashes hashImageFile(const fs::path& path, const std::vector<std::string>& names, Job& job) {
  ImageHashes hashes;
  std::vector<std::thread> threads;
  std::vector<std::pair<DigestAlgorithm, std::string>> out;
  for (const auto& name : names)
    if (auto a = digestAlgorithmNamed(name)) out.emplace_back(*a, std::string());
  for (auto& [algorithm, hex] : out) {
    threads.emplace_back([&path, &job, algorithm = algorithm, &hex = hex] {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return;
      StreamDigest digest(algorithm);
      std::vector<std::byte> chunk(4u << 20);
      bool failed = false;
      for (;;) {
        if (job.cancelRequested()) {
          failed = true;
          break;
        }
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        digest.update(std::span<const std::byte>(chunk.data(), static_cast<std::size_t>(n)));
      }
      ::close(fd);
      if (!failed) hex = digest.finishHex();
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& [algorithm, hex] : out) hashes.of(algorithm) = hex;
  return hashes;
}

}  // namespace

Result<void> runRescueImaging(Job& job, const ImagingRequest& request, ImagingResult& result) {
  const ImagingSettings& settings = request.settings;
  const SectorNumber start = request.start, end = std::max(request.start, request.end);
  const fs::path image = imageFileName(settings.ImageDestination, 0, settings.keepDestinationName);

  // The mapfile of an earlier run is continued; without one everything is
  // non-tried. A mapfile that cannot be read is never replaced.
  RescueMap map(end);
  bool resuming = false;
  if (auto loaded = loadMapfile(settings.mapfile); loaded) {
    map = std::move(*loaded);
    map.extendTo(end);
    resuming = true;
  } else if (loaded.error().kind != ErrorKind::NotFound) {
    return makeError(loaded.error().kind, "cannot continue the mapfile " + loaded.error().message);
  }
  // The finished areas of a mapfile are in its image: without the image
  // they would be zeros that nothing reads again.
  std::error_code ec;
  if (resuming && map.countIn(BlockStatus::Finished, start, end) > 0 && !fs::exists(image, ec))
    return makeError(ErrorKind::NotFound, "cannot continue the mapfile " + settings.mapfile.string() + ": its image " +
                                              image.string() + " is missing");
  // A new rescue makes its image as a new file (or replaces it when asked);
  // a rescue that continues writes into the image it began, never truncating it.
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (!resuming) flags |= settings.overwrite ? O_TRUNC : O_EXCL;
  const int fd = ::open(image.c_str(), flags, 0644);
  if (fd < 0)
    return makeError(ErrorKind::Io, "cannot create the image file " + image.string() + ": " +
                                        (errno == EEXIST ? std::string("the file already exists; it is replaced only "
                                                                       "when overwriting is asked for")
                                                         : std::string(std::strerror(errno))));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // The image has the size of the range; sectors never read stay zeros.
  struct stat st{};
  if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < (end - start) * kSectorSize &&
      ::ftruncate(fd, static_cast<off_t>((end - start) * kSectorSize)) != 0)
    return makeError(ErrorKind::Io, image.string() + ": " + std::strerror(errno));
  job.setLastName(image.string());

  if (!settings.hashList.empty()) removeHashFiles(settings.hashList);
  RescueRun run(job, request, result, std::move(map), fd, image);
  std::string writeError;
  try {
    run.run();
    writeError = run.writeError();
  } catch (const WriteFailure& failure) {
    writeError = failure.message;
  } catch (...) {
    // A cancel: what was read is kept in the mapfile.
    (void)run.save();
    throw;
  }
  std::string saveError;
  if (auto saved = run.save(); !saved) saveError = saved.error().message;
  else if (!run.saveError().empty()) saveError = run.saveError();

  const RescueMap& done = run.map();
  const bool finished = run.finished() && writeError.empty() && saveError.empty();
  BadSectorList badSectors(settings.badSectorList);
  UnreadableSectors unreadable;
  // The bad sectors ('-'); areas not yet trimmed or scraped are not known bad.
  for (const RescueBlock& b : done.blocksIn(BlockStatus::BadSector, start, end))
    for (SectorNumber s = b.start; s < b.end; ++s) unreadable.add(s);
  for (const SectorRange& r : unreadable.ranges())
    for (SectorNumber s = r.start; s < r.end; ++s) badSectors.add(s);
  const bool listWritten = badSectors.finish();

  result.currentSector = result.rescue.position.load();
  result.pieces = {image};
  result.unreadableSectors = badSectors.count();
  result.unreadable = unreadable.ranges();
  result.badSectorList = badSectors.writtenPath();
  result.error = !writeError.empty() ? writeError : saveError.empty() ? std::string() : "the mapfile: " + saveError;
  result.completed = finished;
  if (finished) result.sectorsCopied.store(end - start);
  result.message = finished ? imageCompletedMessage(result.unreadableSectors, result.badSectorList)
                            : std::string(kImageAborted);
  const std::uint64_t rescued = done.countIn(BlockStatus::Finished, start, end);
  if (writeError.empty() && !settings.hashAlgorithms.empty()) {
    result.hashes = hashImageFile(image, settings.hashAlgorithms, job);
    result.hashedSectors = finished ? end - start : rescued;
    if (!settings.hashList.empty() && !result.hashes.empty()) {
      // A stopped rescue's hashes are those of the image as it stands:
      // the sectors rescued so far, zeros elsewhere.
      writeImageHashFiles(result, settings.hashList,
                          {result.hashes, result.pieces, finished ? end - start : rescued, end - start});
    }
  }

  if (request.activityLog) {
    std::string elapsed = request.elapsedText ? request.elapsedText() : std::string("0 : 0 : 0");
    std::vector<std::string> lines = {"\r\n",
                                      "Step 3 :",
                                      "-------",
                                      "Analysing Imaging Creation Information : ",
                                      "Time Elapsed : " + elapsed,
                                      "Current Sector : " + std::to_string(result.currentSector) + " / " +
                                          std::to_string(end),
                                      "Last Name : " + image.string(),
                                      result.message,
                                      "Mapfile : " + settings.mapfile.string(),
                                      "Rescued : " + std::to_string(rescued * kSectorSize) + " of " +
                                          std::to_string((end - start) * kSectorSize) + " bytes",
                                      "Bad Areas : " + std::to_string(done.failedAreasIn(start, end)),
                                      "Read Errors : " + std::to_string(run.readErrors())};
    if (!result.hashes.empty() && !finished)
      lines.push_back("Hashes cover the image as it stands: " + std::to_string(rescued) + " of " +
                      std::to_string(end - start) + " sectors rescued");
    appendImageReportLines(lines, result, result.error, listWritten ? std::string() : badSectors.error());
    request.activityLog->appendLines(lines);
  }
  job.prompter().inform(result.message);
  job.complete(Completion::WorkerFinished);
  return {};
}

}  // namespace dravolin
