#include "results/saving.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

#include "common/error.h"
#include "common/format.h"
#include "exfat/exfat_volume.h"
#include "exfat/file_copy.h"
#include "fat/cluster_chain.h"
#include "fat/fat_layout.h"
#include "ntfs/attribute.h"
#include "ntfs/data_stream.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "results/browser_texts.h"
#include "results/destination.h"
#include "results/safe_name.h"
#include "results/save_filters.h"
#include "results/saved_times.h"

namespace dravolin {
namespace fs = std::filesystem;
namespace {

// Keeps what the reader lost while it lives as the current file's own.
struct FileLossWatch {
  FileLossWatch(SectorReader& reader, std::vector<SectorRange>& out) : watch(reader), out(out) {}
  ~FileLossWatch() { out = watch.sectors().ranges(); }
  UnreadableWatch watch;
  std::vector<SectorRange>& out;
};

// Data is read in runs of contiguous clusters of up to this many bytes and
// written in pieces of the same size.
constexpr std::uint64_t kCopyBufferBytes = 4ULL << 20;

// Files written under their partial names wait for one sync of their file
// system before they take their final names: a sync per file would cost a
// journal commit each. At most this many files or bytes wait at a time, so
// that an interrupted run loses little finished work.
constexpr std::size_t kPendingFiles = 4096;
constexpr std::uint64_t kPendingBytes = 256ULL << 20;
constexpr std::uint64_t kEarlyWritebackBytes = 1ULL << 20;

int percentOf(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
}

std::string systemError(int code) { return std::strerror(code); }

// Creates a file that must not exist yet; never follows a link.
int createNewFile(const fs::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
}

// Creates the partial file of a final name in folder; errno tells why not.
int createPartialFile(const fs::path& folder, const fs::path& target, std::uint64_t& serial, fs::path& partial) {
  const auto pid = static_cast<std::uint64_t>(::getpid());
  int fd = -1;
  // A name of this run is new; one taken anyway (a run of the same process
  // number in another namespace) is passed over.
  for (int attempt = 0; attempt < 100; ++attempt) {
    partial = folder / partialFileName(target.filename().string(), pid, ++serial);
    fd = createNewFile(partial);
    if (fd >= 0 || errno != EEXIST) break;
  }
  return fd;
}

// Gives a file its final name without replacing a file that has it. 0, or
// the system error (EEXIST: the name is taken).
int renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // A file system without the flag: a link fails on a taken name.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  // Nor links (FAT): the name was free when checked, nothing else writes here.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Writes all size bytes; the message names the system error that stopped it.
[[nodiscard]] Result<void> writeAll(int fd, const std::byte* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return makeError(ErrorKind::Io, systemError(errno));
    }
    if (n == 0) return makeError(ErrorKind::Io, systemError(ENOSPC));
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return {};
}

// The byte ranges of a stream, below end, that read as zeros without being
// read: its sparse runs (of a compressed stream only the compression units
// that lie wholly in one; a sparse run inside a unit pads its compressed
// clusters) and the bytes past its initialized size. Sorted and merged.
std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroRanges(const NtfsDataStream& stream,
                                                                 std::uint64_t clusterSize, std::uint64_t end) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  if (stream.resident || clusterSize == 0) return ranges;
  const std::uint64_t maxVcn = std::numeric_limits<std::uint64_t>::max() / clusterSize;
  const std::uint64_t unit = stream.isCompressed() ? stream.compressionUnitClusters() : 1;
  for (const DataRun& run : stream.runs) {
    // A run past any byte offset (or whose length wraps) holds nothing below end.
    if (!run.sparse || run.vcn >= maxVcn || run.endVcn() < run.vcn) continue;
    const std::uint64_t first = (run.vcn + unit - 1) / unit * unit;
    const std::uint64_t last = std::min(run.endVcn(), maxVcn) / unit * unit;
    if (first >= last) continue;
    const std::uint64_t from = first * clusterSize;
    const std::uint64_t to = std::min(last * clusterSize, end);
    if (from < to) ranges.emplace_back(from, to);
  }
  if (stream.initialized_size < end) ranges.emplace_back(stream.initialized_size, end);
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
  for (const auto& range : ranges) {
    if (!merged.empty() && range.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, range.second);
    else
      merged.push_back(range);
  }
  return merged;
}

}  // namespace

std::string insufficientSpaceQuestion(std::uint64_t selectedSize) {
  return std::string("Insufficient free space on destination drive. ") + "Selected file/folder requires " +
         formatMegaGiga(selectedSize) + " of free space. Press Yes if you want continue with it.";
}

std::string minutesSecondsText(std::uint64_t seconds) {
  return std::to_string(seconds / 60) + " Min " + std::to_string(seconds % 60) + " Sec";
}

SavingTimes savingTimes(std::uint64_t elapsedSeconds, std::uint64_t selectedSize, std::uint64_t copiedSize) {
  if (elapsedSeconds == 0) return {"00:00:00", "00:00:00"};
  SavingTimes times;
  times.elapsed = minutesSecondsText(elapsedSeconds);
  if (copiedSize == 0) {
    // No rate yet: nothing to divide by.
    times.remaining = "00:00:00";
    return times;
  }
  const std::uint64_t left = selectedSize > copiedSize ? selectedSize - copiedSize : 0;
  const double rate = static_cast<double>(copiedSize) / static_cast<double>(elapsedSeconds);
  times.remaining = minutesSecondsText(static_cast<std::uint64_t>(static_cast<double>(left) / rate));
  return times;
}

Saver::Saver(ResultTree& tree, const SavingSettings& settings, SavingSource source)
    : tree_(tree), settings_(settings), source_(std::move(source)) {}

Saver::~Saver() = default;

SavingProgress Saver::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

SavingFields Saver::fields() const {
  const SavingProgress p = progress();
  std::uint64_t seconds = 0;
  if (elapsed_) {
    seconds = elapsed_();
  } else if (const std::int64_t start = startNanoseconds_.load(); start != 0) {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    seconds = now > start ? static_cast<std::uint64_t>((now - start) / 1000000000) : 0;
  }
  const SavingTimes times = savingTimes(seconds, p.SelectedSize, p.CopiedSize);
  return {times.elapsed, times.remaining, sizeInText(p.SelectedSize), sizeInText(p.CopiedSize), p.lastName,
          p.directoryName};
}

void Saver::walk(const fs::path& destination, const Visit& visit, const std::function<bool()>& ended) const {
  if (tree_.itemCount() == 0) return;
  const int mode = settings_.SaveSelectionMode;
  const TreeItem& top = tree_.item(ResultTree::kTopItem);
  if (mode == 0 && !top.checked) return;
  auto topNames = std::make_shared<FolderNameTable>();
  visit(top, destination, true, *topNames);
  struct Level {
    std::size_t item;
    std::size_t next;
    fs::path folder;
    std::shared_ptr<FolderNameTable> names;
  };
  std::vector<Level> stack{{ResultTree::kTopItem, 0, destination, topNames}};
  while (!stack.empty() && !ended()) {
    Level& level = stack.back();
    const TreeItem& parent = tree_.item(level.item);
    if (level.next >= parent.children.size()) {
      stack.pop_back();
      continue;
    }
    const std::size_t childIndex = parent.children[level.next++];
    const TreeItem& child = tree_.item(childIndex);
    if (!selectionAccepts(mode, child.checked)) continue;
    fs::path folder = level.folder / level.names->claim(child.name, true);
    // "Lost" holds no files on FAT; on NTFS the files whose folder is gone
    // are listed there, and saved from there.
    const bool saveFiles = child.id != 0 && (child.id != kLostId || !tree_.isFat());
    auto names = std::make_shared<FolderNameTable>();
    visit(child, folder, saveFiles, *names);
    stack.push_back({childIndex, 0, std::move(folder), std::move(names)});
  }
}

std::uint64_t Saver::dataAreaBytes() const {
  if (!tree_.isFat()) return std::numeric_limits<std::uint64_t>::max();
  auto layout = makeFatLayout(source_.parameters, source_.fileSystemType, source_.partitionEnd);
  if (!layout) return std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t clusters = layout->clusterCount();
  return clusters > 2 ? (clusters - 2) * layout->SectorsPerCluster * kSectorSize : 0;
}

SelectionCount Saver::countSelection(Job& job) const {
  SelectionCount count;
  // A size above the data area counts as what can be saved of it at most.
  const std::uint64_t dataArea = dataAreaBytes();
  FileFilter filter(settings_, tree_.isFat());
  const FoundEntries& entries = tree_.entries();
  job.setStatus("Calculating File Size. Please Wait...");
  walk(
      fs::path{},
      [&](const TreeItem& item, const fs::path&, bool saveFiles, FolderNameTable&) {
        job.checkpoint();
        if (!saveFiles) return;
        for (std::size_t file : entries.childFiles(item.id)) {
          const FileNode& node = entries.FileList[file];
          if (!filter.passesAll(node, tree_.fileName(file))) continue;
          ++count.SelectedFileCount;
          count.SelectedSize += std::min<std::uint64_t>(node.size, dataArea);
        }
        job.setLastName(std::to_string(count.SelectedFileCount) + " / " + formatMegaGiga(count.SelectedSize));
      },
      [&] { return job.stopRequested(); });
  return count;
}

void Saver::addIssue(const fs::path& path, const std::string& error) {
  failures_ = true;
  result_.errors.push_back({path.string(), error});
}

void Saver::updateProgress(Job& job, std::uint64_t fileDone, std::uint64_t fileSize) {
  int overall;
  {
    std::lock_guard lock(mutex_);
    progress_.currentPercent = percentOf(fileDone, fileSize);
    progress_.overallPercent = percentOf(progress_.CopiedSize, progress_.SelectedSize);
    overall = progress_.overallPercent;
  }
  job.setPercent(overall);
}

SavingResult Saver::save(Job& job, const fs::path& destination, const SelectionCount& count, LogFile& recoveryLog,
                         const std::vector<std::string>& headerLines) {
  result_ = {};
  policy_.reset();
  abortSaving_ = false;
  failures_ = false;
  skipCurrentFile_.store(false);
  {
    std::lock_guard lock(mutex_);
    progress_ = {};
    progress_.SelectedSize = count.SelectedSize;
  }
  startNanoseconds_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count());
  std::vector<std::string> start{kSavingStartLine};
  start.insert(start.end(), headerLines.begin(), headerLines.end());
  recoveryLog.appendLines(start);

  openVolume();
  UnreadableWatch unreadable(source_.reader);
  pending_.clear();
  pendingTargets_.clear();
  pendingBytes_ = 0;
  preparedFolders_.clear();
  namesToSync_ = false;
  // The folders made or written to, parents before their sub-folders.
  std::vector<std::pair<fs::path, std::size_t>> savedFolders;

  try {
    walk(
        destination,
        [&](const TreeItem& item, const fs::path& folder, bool saveFiles, FolderNameTable& names) {
          job.checkpoint();
          {
            std::lock_guard lock(mutex_);
            progress_.directoryName = folder.string();
          }
          job.setStatus(folder.string());
          if (std::string why; !CreateFolderPath(folder, &why)) {
            // The reason names the component that failed when it is not this folder.
            const std::string own = folder.string() + ": ";
            if (why.starts_with(own)) why.erase(0, own.size());
            addIssue(folder, "the folder could not be created: " + why);
            return;
          }
          prepareFolder(folder);
          if (item.directory >= 0) savedFolders.emplace_back(folder, static_cast<std::size_t>(item.directory));
          if (saveFiles) saveDirectoryFiles(item.id, folder, job, names);
        },
        [&] { return abortSaving_ || job.stopRequested(); });
  } catch (...) {
    // Cancelled: the files written whole still take their names.
    finishPending();
    closeFolders();
    closeVolume();
    throw;
  }
  // The files written whole take their names, and the names reach the disk.
  finishPending();
  // Folders take their times after their contents took their names, each
  // sub-folder before its parent (setting a folder's times leaves those of
  // its parent alone).
  const FoundEntries& entries = tree_.entries();
  for (auto it = savedFolders.rbegin(); it != savedFolders.rend(); ++it) {
    if (it->second >= entries.DirectoryList.size()) continue;
    if (const int error = applySavedTimes(it->first, entries.DirectoryList[it->second].times, tree_.isFat());
        error != 0 && error != ENOENT)
      addIssue(it->first, "the folder's times could not be set: " + systemError(error));
    namesToSync_ = true;
  }
  if (namesToSync_) syncFolders();
  closeFolders();
  result_.unreadable = unreadable.sectors().ranges();

  result_.stopped = job.stopRequested();
  result_.aborted = abortSaving_;
  result_.progress = progress();

  const SavingFields f = fields();
  std::vector<std::string> report{"",
                                  "Saving Report :",
                                  "--------------",
                                  "Time Elapsed : " + f.timeElapsed,
                                  "Time Remaining : " + f.timeRemaining,
                                  "Size Required : " + f.sizeRequired,
                                  "Size Copied : " + f.sizeCopied,
                                  "Last Name : " + f.lastName,
                                  "Directory Name : " + f.directoryName};
  // What went wrong is part of the report: a file with unreadable sectors
  // or one that could not be written is never passed over in silence.
  for (const auto& issue : result_.errors) report.push_back("Error : " + issue.path + " : " + issue.error);
  for (const auto& clip : result_.clipped)
    report.push_back("Clipped : " + clip.path + " : its size field claims " + std::to_string(clip.claimedSize) +
                     " bytes, more than the volume holds; saved " + std::to_string(clip.savedSize) + " bytes");
  for (const auto& file : result_.incomplete)
    report.push_back("Incomplete : " + file.path + " : only " + std::to_string(file.savedSize) + " of " +
                     std::to_string(file.size) + " bytes of its data could be found");
  for (const auto& path : result_.encrypted)
    report.push_back("Encrypted : " + path + " : saved as its raw encrypted bytes");
  if (!result_.unreadable.empty())
    report.push_back("Unreadable Sectors : " + describeSectorRanges(result_.unreadable) + " (written as zeros)");
  if (!result_.leftoversRemoved.empty())
    report.push_back("Removed : " + std::to_string(result_.leftoversRemoved.size()) +
                     " partly written file(s) left by an interrupted saving, the first " +
                     result_.leftoversRemoved.front());
  recoveryLog.appendLines(report);

  if (result_.stopped) {
    result_.message = kSavingAbortedMessage;
  } else {
    result_.completed = result_.progress.CopiedSize == result_.progress.SelectedSize && !failures_;
    result_.message = result_.completed ? kSavingCompletedMessage : kSavingNotCompletedMessage;
    recoveryLog.append(result_.message);
  }
  closeVolume();
  job.setPercent(100);
  return result_;
}

std::optional<fs::path> Saver::saveSingleFile(Job& job, std::size_t fileIndex, const fs::path& folder) {
  if (fileIndex >= tree_.entries().FileList.size()) return std::nullopt;
  openVolume();
  const FileNode& node = tree_.entries().FileList[fileIndex];
  const fs::path target = folder / sanitiseName(tree_.fileName(fileIndex));
  std::optional<fs::path> written;
  fs::path partial;
  const int fd = createPartialFile(folder, target, partialSerial_, partial);
  if (fd >= 0) {
    try {
      copyFile(node, fd, target, job);
    } catch (...) {
      ::close(fd);
      ::unlink(partial.c_str());
      closeVolume();
      throw;
    }
    (void)applySavedTimes(fd, node.times, tree_.isFat());
    // Whole and on the disk before it takes the name (and replaces a file of it).
    const bool synced = ::fsync(fd) == 0;
    if (::close(fd) == 0 && synced && ::rename(partial.c_str(), target.c_str()) == 0) written = target;
    else ::unlink(partial.c_str());
  }
  closeVolume();
  return written;
}

void Saver::saveDirectoryFiles(std::uint32_t directoryId, const fs::path& folder, Job& job,
                               FolderNameTable& names) {
  FileFilter filter(settings_, tree_.isFat());
  const FoundEntries& entries = tree_.entries();
  for (std::size_t file : entries.childFiles(directoryId)) {
    if (abortSaving_ || job.stopRequested()) return;
    const FileNode& node = entries.FileList[file];
    if (!filter.passesSelection(node) || !filter.passesDates(node)) continue;
    saveFile(file, tree_.fileName(file), folder, job, names);
  }
}

void Saver::saveFile(std::size_t fileIndex, const std::string& name, const fs::path& folder, Job& job,
                     FolderNameTable& names) {
  const FileNode& node = tree_.entries().FileList[fileIndex];
  FileFilter filter(settings_, tree_.isFat());
  if (!filter.passesFileTests(node, name)) return;
  job.checkpoint();
  fs::path target = folder / names.claim(name, false);
  {
    std::lock_guard lock(mutex_);
    progress_.lastName = name;
    progress_.directoryName = folder.string();
    progress_.currentPercent = 0;
  }
  job.setLastName(name);

  // The replace question is about final names: a file on the disk, or one
  // of this run waiting for its name.
  bool replace = false;
  if (nameTaken(target)) {
    const ExistingDecision decision = policy_.decide(
        target, job.prompter(), [this](const fs::path& path) { return pendingTargets_.contains(path.native()); });
    switch (decision.action) {
      case ExistingAction::Skip: {
        ++result_.skipped;
        if (decision.noFreeName)
          addIssue(target, "every new name (up to " + std::to_string(kMaxRenameAttempts - 1) +
                               ") is taken; the existing file was kept");
        if (decision.countAsCopied) {
          std::lock_guard lock(mutex_);
          progress_.CopiedSize += node.size;
        }
        updateProgress(job, node.size, node.size);
        return;
      }
      case ExistingAction::Overwrite:
        replace = true;
        target = decision.target;
        break;
      case ExistingAction::WriteNew:
        target = decision.target;
        break;
    }
  }
  {
    std::lock_guard lock(mutex_);
    ++progress_.SavedFileCount;
  }
  fs::path partial;
  int fd = -1;
  int createError = 0;
  std::error_code statusError;
  if (replace && fs::is_directory(fs::symlink_status(target, statusError))) {
    createError = EISDIR;  // a folder is never replaced by a file
  } else {
    fd = createPartialFile(target.parent_path(), target, partialSerial_, partial);
    if (fd < 0) createError = errno;
  }
  if (fd < 0) {
    const std::string reason = systemError(createError);
    addIssue(target, "cannot create the file: " + reason);
    const std::string question = std::string(kFileCreationTitle) + "\r\n" + target.string() + " : " + reason +
                                 "\r\nPress Yes to abort the saving, No to skip this file.";
    if (job.prompter().askYesNo(question)) abortSaving_ = true;
    return;
  }

  const std::size_t errorsBefore = result_.errors.size();
  const std::size_t clippedBefore = result_.clipped.size();
  const std::size_t incompleteBefore = result_.incomplete.size();
  const std::uint64_t bytesBefore = result_.bytesWritten;
  std::vector<SectorRange> lost;
  try {
    fileLost_.clear();
    copyFile(node, fd, target, job);
    lost = fileLost_;
  } catch (...) {
    // Cancelled half-way: the partial file goes.
    ::close(fd);
    ::unlink(partial.c_str());
    throw;
  }
  const std::uint64_t written = result_.bytesWritten - bytesBefore;
  // A large file starts its writeback now, so that the sync before the
  // renames finds little left to do; small ones are left to the kernel to
  // write back together.
  if (written >= kEarlyWritebackBytes) (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  // The listing's times, set on the written file: its final name keeps them.
  if (const int error = applySavedTimes(fd, node.times, tree_.isFat()); error != 0)
    addIssue(target, "the file's times could not be set: " + systemError(error));
  if (::close(fd) != 0) addIssue(target, "closing the file failed: " + systemError(errno));

  // Where the sectors written as zeros lie.
  if (!lost.empty()) {
    const std::string where = describeSectorRanges(lost);
    auto issue = std::find_if(result_.errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore),
                              result_.errors.end(), [](const SavingIssue& i) {
                                return i.error.find("unreadable sector(s) were written as zeros") != std::string::npos;
                              });
    if (issue != result_.errors.end()) issue->error += ": " + where;
    else addIssue(target, "unreadable sectors: " + where);
  }
  // A file the Stop cut short never takes its name: a later run would take
  // it for the saved file. (One the user skipped while it was written is
  // kept as far as it goes, named below.)
  if (written < node.size && job.stopRequested() && !skipCurrentFile_.load()) {
    ::unlink(partial.c_str());
    addIssue(target, "the saving was stopped while it was written; the part written was removed");
    return;
  }
  // A file that is not as long as its entry says is named, unless its
  // shortfall is reported already (clipped, incomplete, an error).
  if (written != node.size && result_.errors.size() == errorsBefore && result_.clipped.size() == clippedBefore &&
      result_.incomplete.size() == incompleteBefore) {
    if (written < node.size) {
      const std::string why = skipCurrentFile_.load() ? " (skipped while it was written)" : "";
      addIssue(target, "saved " + std::to_string(written) + " of its listed " + std::to_string(node.size) +
                           " bytes" + why);
    } else {
      addIssue(target, "saved " + std::to_string(written) + " bytes, more than its listed " +
                           std::to_string(node.size));
    }
  }

  if (result_.errors.size() != errorsBefore || result_.clipped.size() != clippedBefore ||
      result_.incomplete.size() != incompleteBefore)
    result_.shortFiles.push_back({target.string(), written, node.size});
  pending_.push_back({partial, target, replace});
  pendingTargets_.insert(target.native());
  pendingBytes_ += written;
  result_.writtenFiles.push_back(target.string());
  ++result_.filesWritten;
  skipCurrentFile_.store(false);
  if (pending_.size() >= kPendingFiles || pendingBytes_ >= kPendingBytes) finishPending();
}

bool Saver::nameTaken(const fs::path& path) const {
  if (pendingTargets_.contains(path.native())) return true;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void Saver::prepareFolder(const fs::path& folder) {
  if (!preparedFolders_.insert(folder.native()).second) return;
  for (const fs::path& removed : removePartialLeftovers(folder)) result_.leftoversRemoved.push_back(removed.string());
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return;
  const auto device = static_cast<std::uint64_t>(st.st_dev);
  for (const auto& handle : syncHandles_)
    if (handle.first == device) return;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) syncHandles_.emplace_back(device, fd);
}

void Saver::syncFolders() {
  for (const auto& handle : syncHandles_) (void)::syncfs(handle.second);
  namesToSync_ = false;
}

void Saver::closeFolders() {
  for (const auto& handle : syncHandles_) ::close(handle.second);
  syncHandles_.clear();
}

void Saver::unwriteFile(const std::string& target) {
  // Recent files are at the end.
  for (auto it = result_.writtenFiles.rbegin(); it != result_.writtenFiles.rend(); ++it) {
    if (*it != target) continue;
    result_.writtenFiles.erase(std::next(it).base());
    if (result_.filesWritten > 0) --result_.filesWritten;
    return;
  }
}

void Saver::finishPending() {
  if (pending_.empty()) return;
  // The data of every pending file reaches the disk before any of them
  // takes its final name, so that no name ever stands for a file cut short.
  int syncError = 0;
  for (const auto& handle : syncHandles_)
    if (::syncfs(handle.second) != 0) syncError = errno;
  namesToSync_ = true;
  for (PendingFile& file : pending_) {
    if (syncError != 0) {
      ::unlink(file.partial.c_str());
      addIssue(file.target, "writing to the disk failed: " + systemError(syncError));
      unwriteFile(file.target.string());
      continue;
    }
    giveFinalName(file);
  }
  pending_.clear();
  pendingTargets_.clear();
  pendingBytes_ = 0;
}

bool Saver::giveFinalName(PendingFile& file) {
  const std::string planned = file.target.string();
  int error = file.replace ? (::rename(file.partial.c_str(), file.target.c_str()) == 0 ? 0 : errno)
                           : renameNoReplace(file.partial, file.target);
  if (error == EEXIST) {
    // The name was taken since it was checked (by another program): the
    // file is kept under a new name rather than replacing that one.
    for (int attempt = 0; attempt < 3 && error == EEXIST; ++attempt) {
      auto fresh = makeNewName(file.target);
      if (!fresh) break;
      error = renameNoReplace(file.partial, *fresh);
      if (error == 0) file.target = *fresh;
    }
    if (error == 0) {
      std::replace(result_.writtenFiles.begin(), result_.writtenFiles.end(), planned, file.target.string());
      return true;
    }
  }
  if (error == 0) return true;
  ::unlink(file.partial.c_str());
  addIssue(file.target, "the written file could not be given its name: " + systemError(error));
  unwriteFile(planned);
  return false;
}

void Saver::openVolume() {
  if (source_.fileSystemType == FsType::ExFat) {
    if (auto geometry = exfatGeometryOf(source_.reader, source_.parameters)) {
      if (source_.partitionEnd > 0 && source_.partitionEnd < geometry->end) geometry->end = source_.partitionEnd;
      exfat_ = std::make_unique<ExfatVolume>(source_.reader, *geometry);
    }
    return;
  }
  if (tree_.isFat()) {
    auto volume = FatVolume::open(source_.reader, source_.parameters, source_.fileSystemType, source_.partitionEnd);
    if (volume) volume_ = std::make_unique<FatVolume>(std::move(*volume));
    return;
  }
  // NTFS volumes: the boot sector of a committed NTFS selection lies at
  // ClusterBase (the volume check sets it to the partition start).
  const std::uint64_t start = source_.parameters.ClusterBase;
  if (auto geometry = readNtfsGeometry(source_.reader, source_.parameters, start, source_.partitionEnd))
    ntfs_ = *geometry;
}

void Saver::closeVolume() {
  volume_.reset();
  exfat_.reset();
  ntfs_.reset();
  loadedMft_ = MftRunList{};
  mftLoadTried_ = false;
}

void Saver::copyFile(const FileNode& node, int fd, const fs::path& target, Job& job) {
  if (source_.fileSystemType == FsType::ExFat) copyExfatFile(node, fd, target, job);
  else if (tree_.isFat()) copyFatFile(node, fd, target, job);
  else copyNtfsFile(node, fd, target, job);
}

void Saver::copyExfatFile(const FileNode& node, int fd, const fs::path& target, Job& job) {
  if (node.size == 0) return;
  if (!exfat_) {
    addIssue(target, "the exFAT boot region and its backup are not usable");
    return;
  }
  // Clusters reach 32 MiB: the buffer holds at least one.
  const std::uint64_t bufferBytes = std::max<std::uint64_t>(kCopyBufferBytes, exfat_->geometry().clusterBytes());
  if (buffer_.size() < bufferBytes) buffer_.resize(bufferBytes);
  const ExfatStream stream{node.firstCluster, node.size, node.extra, node.contiguous, node.isDeleted()};
  FileLossWatch fileLoss(source_.reader, fileLost_);
  std::uint64_t done = 0;
  bool writeFailed = false;
  const ExfatCopyOutcome outcome = copyExfatStream(
      *exfat_, stream, buffer_,
      [&](std::span<const std::byte> piece) {
        if (!writePiece(fd, piece.data(), piece.size(), target, job, done, node.size)) {
          writeFailed = true;
          return false;
        }
        return true;
      },
      [&] {
        if (skipCurrentFile_.load() || abortSaving_ || job.stopRequested()) return false;
        job.checkpoint();
        return true;
      });
  if (writeFailed) return;
  if (!outcome.problem.empty()) {
    addIssue(target, outcome.problem);
    return;
  }
  if (outcome.clipped) result_.clipped.push_back({target.string(), node.size, outcome.savableSize});
  if (outcome.chainReplaced && !node.isDeleted())
    addIssue(target, "the FAT chain does not hold the file's size: saved contiguously, may be wrong");
  if (outcome.unreadableSectors > 0)
    addIssue(target, std::to_string(outcome.unreadableSectors) + " unreadable sector(s) were written as zeros");
}

bool Saver::writePiece(int fd, const std::byte* data, std::uint64_t size, const fs::path& target, Job& job,
                       std::uint64_t& done, std::uint64_t total) {
  if (auto written = writeAll(fd, data, static_cast<std::size_t>(size)); !written) {
    addIssue(target, "writing failed: " + written.error().message);
    return false;
  }
  done += size;
  result_.bytesWritten += size;
  {
    std::lock_guard lock(mutex_);
    progress_.CopiedSize += size;
  }
  updateProgress(job, done, total);
  return true;
}

const MftRunList& Saver::mftRunsFor(const FileNode& node) {
  static const MftRunList kNoRuns;
  const MftRunList* mft = source_.mft;
  if (node.extra == 0 && (mft == nullptr || mft->empty()) && ntfs_) {
    if (!mftLoadTried_) {
      mftLoadTried_ = true;
      if (auto loaded = LoadMftRunList(source_.reader, *ntfs_)) loadedMft_ = std::move(*loaded);
    }
    mft = &loadedMft_;
  }
  return mft == nullptr ? kNoRuns : *mft;
}

std::uint64_t Saver::holeBytes(const FileNode& node) {
  if (!ntfs_) return 0;
  const NtfsGeometry& geometry = *ntfs_;
  const MftRunList& mft = mftRunsFor(node);
  auto raw = node.extra != 0 ? ReadRecordAtSector(source_.reader, geometry, node.extra)
                             : ReadMftRecord(source_.reader, mft, geometry, node.firstCluster);
  if (!raw) return 0;
  auto record = readMftRecord(*raw);
  if (!record || record->header.isExtension()) return 0;
  const std::optional<std::uint64_t> number =
      node.extra != 0 ? std::nullopt : std::optional<std::uint64_t>(node.firstCluster);
  auto stream = collectDataStream(*record, number, geometry.cluster_size,
                                  makeRecordFetcher(source_.reader, mft, geometry),
                                  makeClusterReader(source_.reader, geometry));
  if (!stream) return 0;
  std::uint64_t holes = 0;
  for (const auto& [from, to] : zeroRanges(*stream, geometry.cluster_size, savableLength(*stream, geometry.cluster_size)))
    holes += to - from;
  return holes;
}

std::uint64_t Saver::allocatedSize(Job& job, const SelectionCount& count) {
  if (tree_.isFat() || !settings_.SparseHoles) return count.SelectedSize;
  openVolume();
  std::uint64_t holes = 0;
  FileFilter filter(settings_, tree_.isFat());
  const FoundEntries& entries = tree_.entries();
  try {
    walk(
        fs::path{},
        [&](const TreeItem& item, const fs::path&, bool saveFiles, FolderNameTable&) {
          job.checkpoint();
          if (!saveFiles) return;
          for (std::size_t file : entries.childFiles(item.id)) {
            const FileNode& node = entries.FileList[file];
            if (node.size == 0 || !filter.passesAll(node, tree_.fileName(file))) continue;
            holes += std::min(node.size, holeBytes(node));
          }
        },
        [&] { return job.stopRequested(); });
  } catch (...) {
    closeVolume();
    throw;
  }
  closeVolume();
  return count.SelectedSize > holes ? count.SelectedSize - holes : 0;
}

void Saver::copyNtfsFile(const FileNode& node, int fd, const fs::path& target, Job& job) {
  // Even an entry of size 0 has its record read: a torn record may have
  // shown no data attribute to the search, and is then no empty file.
  if (!ntfs_) {
    addIssue(target, "the NTFS boot sector and the volume parameters give no usable geometry");
    return;
  }
  const NtfsGeometry& geometry = *ntfs_;
  const MftRunList* mft = &mftRunsFor(node);

  // The file's record: at the sector the scan stored, else by its number
  // through the MFT run list.
  std::uint64_t unreadable = 0;
  FileLossWatch fileLoss(source_.reader, fileLost_);
  source_.reader.setUnreadableSink([&unreadable](SectorNumber) { ++unreadable; });
  struct SinkReset {
    SectorReader& reader;
    ~SinkReset() { reader.setUnreadableSink({}); }
  } sinkReset{source_.reader};
  auto raw = node.extra != 0 ? ReadRecordAtSector(source_.reader, geometry, node.extra)
                             : ReadMftRecord(source_.reader, *mft, geometry, node.firstCluster);
  if (!raw) {
    addIssue(target, "the file's MFT record could not be read: " + raw.error().message);
    return;
  }
  auto record = readMftRecord(*raw);
  if (!record || record->header.isExtension()) {
    addIssue(target, "the file's MFT record is not a usable \"FILE\" record");
    return;
  }
  if (record->torn && !findAttribute(*record, AttributeType::Data)) {
    addIssue(target, "the file's MFT record is torn and its data attribute lies in the torn part");
    return;
  }
  const std::optional<std::uint64_t> number =
      node.extra != 0 ? std::nullopt : std::optional<std::uint64_t>(node.firstCluster);
  // Clusters outside the volume are given as zeros and counted.
  const std::uint64_t spc = geometry.sectorsPerCluster();
  const std::uint64_t volumeClusters =
      source_.partitionEnd > geometry.partition_start ? (source_.partitionEnd - geometry.partition_start) / spc
                                                      : std::numeric_limits<std::uint64_t>::max();
  std::uint64_t outside = 0;
  ReadClusters volumeReader = makeClusterReader(source_.reader, geometry);
  ReadClusters readClusters = [&](std::uint64_t lcn, std::uint64_t count, std::span<std::byte> out) {
    if (lcn >= volumeClusters || count > volumeClusters - lcn) {
      const std::uint64_t inside = lcn >= volumeClusters ? 0 : volumeClusters - lcn;
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(inside * geometry.cluster_size), out.end(), std::byte{0});
      outside += count - inside;
      return inside == 0 ? true : volumeReader(lcn, inside, out.first(inside * geometry.cluster_size));
    }
    return volumeReader(lcn, count, out);
  };
  auto stream = collectDataStream(*record, number, geometry.cluster_size,
                                  makeRecordFetcher(source_.reader, *mft, geometry), readClusters);
  if (!stream) {
    if (stream.error().kind == ErrorKind::Corrupt) {
      addIssue(target, "the file's data attribute is damaged: " + stream.error().message);
      return;
    }
    // Some system files ($Secure, the files of $Extend) keep their data in
    // named streams only: the unnamed stream is empty.
    if (node.size == 0) return;
    addIssue(target, "the file's record holds no data attribute");
    return;
  }
  if (stream->isEncrypted()) result_.encrypted.push_back(target.string());

  const std::uint64_t size = stream->data_size;
  std::uint64_t done = 0;
  if (stream->resident) {
    const std::uint64_t n = std::min<std::uint64_t>(size, stream->resident_value.size());
    writePiece(fd, stream->resident_value.data(), n, target, job, done, size);
    if (n < size) {
      failures_ = true;
      result_.incomplete.push_back({target.string(), size, n});
    }
    return;
  }

  // A stream with a missing extent is saved up to the first cluster that no
  // run covers.
  const std::uint64_t found = savableLength(*stream, geometry.cluster_size);

  if (buffer_.size() < kCopyBufferBytes) buffer_.resize(kCopyBufferBytes);
  bool damaged = false;
  // Sparse runs and the bytes past the initialized size become holes: the
  // file offset moves past them and the size is set at the end (a file
  // system without holes writes the zeros itself).
  const auto holes = settings_.SparseHoles ? zeroRanges(*stream, geometry.cluster_size, found)
                                           : std::vector<std::pair<std::uint64_t, std::uint64_t>>{};
  auto hole = holes.begin();
  bool passedHole = false;
  while (done < found) {
    if (skipCurrentFile_.load() || abortSaving_ || job.stopRequested()) break;
    job.checkpoint();
    while (hole != holes.end() && hole->second <= done) ++hole;
    if (hole != holes.end() && hole->first <= done) {
      const std::uint64_t gap = hole->second - done;
      if (::lseek(fd, static_cast<off_t>(hole->second), SEEK_SET) < 0) {
        addIssue(target, "writing failed: " + systemError(errno));
        return;
      }
      done += gap;
      result_.bytesWritten += gap;
      {
        std::lock_guard lock(mutex_);
        progress_.CopiedSize += gap;
      }
      updateProgress(job, done, size);
      passedHole = true;
      continue;
    }
    const std::uint64_t dataEnd = hole != holes.end() ? std::min(found, hole->first) : found;
    const std::uint64_t piece = std::min<std::uint64_t>(dataEnd - done, kCopyBufferBytes);
    auto out = std::span<std::byte>(buffer_).first(static_cast<std::size_t>(piece));
    auto outcome = readStreamRange(*stream, geometry.cluster_size, done, out, readClusters);
    if (!outcome) {
      addIssue(target, "the data cannot be read: " + outcome.error().message);
      break;
    }
    if (outcome->corrupt_compression || outcome->missing_clusters) damaged = true;
    const std::uint64_t filled = std::min<std::uint64_t>(outcome->bytes, piece);
    if (filled == 0) break;
    if (!writePiece(fd, buffer_.data(), filled, target, job, done, size)) return;
  }
  // The file ends where its data went, also in a hole.
  if (passedHole && ::ftruncate(fd, static_cast<off_t>(done)) != 0) {
    addIssue(target, "writing failed: " + systemError(errno));
    return;
  }
  if (found < size) {
    failures_ = true;
    result_.incomplete.push_back({target.string(), size, done});
    if (stream->runs_damaged) addIssue(target, "the file's data runs are damaged: saved as far as they reach");
  }
  if (damaged) addIssue(target, "parts of the data could not be decoded and were written as zeros");
  if (unreadable > 0)
    addIssue(target, std::to_string(unreadable) + " unreadable sector(s) were written as zeros");
  if (outside > 0)
    addIssue(target, std::to_string(outside) + " cluster(s) beyond the end of the volume were written as zeros");
}

void Saver::copyFatFile(const FileNode& node, int fd, const fs::path& target, Job& job) {
  if (node.size == 0) return;
  if (!volume_) {
    addIssue(target, tree_.isFat() ? "the volume layout is not usable" : "saving from this file system is not supported");
    return;
  }
  const FatLayout& layout = volume_->layout();
  const std::uint64_t clusterBytes = layout.SectorsPerCluster * kSectorSize;
  const std::uint64_t clusters = (node.size + clusterBytes - 1) / clusterBytes;
  if (node.firstCluster < 2) {
    addIssue(target, "the entry names no data cluster (first cluster " + std::to_string(node.firstCluster) + ")");
    return;
  }

  // The chain by the chosen source: a FAT chain is taken only when it holds
  // exactly the clusters the size needs; otherwise the clusters are taken
  // as contiguous from the first one.
  std::vector<std::uint32_t> chain;
  std::vector<FatCopy> copies;
  switch (settings_.FatCopySource) {
    case 0: copies = {FatCopy::First, FatCopy::Second}; break;
    case 1: copies = {FatCopy::First}; break;
    case 2: copies = {FatCopy::Second}; break;
    default: break;
  }
  std::uint64_t size = node.size;
  if (size > dataAreaBytes()) {
    // A corrupt size field: no volume holds this much. The file is saved as
    // far as a chain that ends properly holds it, else as the clusters from
    // its first one to the last cluster of the volume.
    for (FatCopy copy : copies) {
      auto built = buildClusterChain(*volume_, node.firstCluster, copy, 0);
      if (built && built->end == ChainEnd::EndOfChain) {
        chain = std::move(built->clusters);
        break;
      }
    }
    const std::uint64_t lastCluster = volume_->clusterCount() > 0 ? volume_->clusterCount() - 1 : 0;
    if (chain.empty() && node.firstCluster <= lastCluster)
      chain = contiguousChain(node.firstCluster, lastCluster - node.firstCluster + 1);
    size = std::min<std::uint64_t>(size, std::uint64_t{chain.size()} * clusterBytes);
    result_.clipped.push_back({target.string(), node.size, size});
  } else {
    // FAT16 and FAT32 chains are cut after the clusters the size needs; a
    // FAT12 chain is followed to its end, so a longer one is rejected too.
    // With both copies chosen, a link whose FAT sector stayed unreadable in
    // one is read from the other; a chain that every copy tried lost to
    // unreadable FAT sectors is saved contiguously and the file is marked.
    const std::uint64_t chainBound = layout.type == FatType::Fat12 ? 0 : clusters;
    bool chainLost = !copies.empty();
    for (FatCopy copy : copies) {
      auto built = buildClusterChain(*volume_, node.firstCluster, copy, chainBound, copies.size() > 1);
      if (built && built->clusters.size() == clusters) {
        chain = std::move(built->clusters);
        break;
      }
      if (!built || built->unreadableFat.empty()) chainLost = false;
    }
    if (chain.empty()) {
      chain = contiguousChain(node.firstCluster, clusters);
      if (chainLost) addIssue(target, "chain unreadable: saved contiguously, may be wrong");
    }
  }

  const auto runLimit = static_cast<std::uint32_t>(std::max<std::uint64_t>(1, kCopyBufferBytes / clusterBytes));
  const std::vector<ClusterRun> runs = splitIntoRuns(chain, runLimit);
  const std::uint64_t largest = std::uint64_t{runLimit} * clusterBytes;
  if (buffer_.size() < largest) buffer_.resize(largest);
  const std::uint32_t unit = layout.SectorsPerCluster >= 8 ? 8 : 1;

  // Sectors past the end of the volume or of the source read as zeros.
  std::uint64_t limit = source_.reader.source().sectorCount();
  if (source_.partitionEnd > 0) limit = std::min(limit, source_.partitionEnd);
  std::uint64_t unreadable = 0;
  std::uint64_t outside = 0;
  FileLossWatch fileLoss(source_.reader, fileLost_);
  source_.reader.setUnreadableSink([&unreadable](SectorNumber) { ++unreadable; });

  std::uint64_t done = 0;
  for (const ClusterRun& run : runs) {
    if (done >= size) break;
    if (skipCurrentFile_.load() || abortSaving_ || job.stopRequested()) break;
    job.checkpoint();
    const std::uint64_t first = volume_->clusterToSector(run.first);
    const std::uint64_t sectors = std::uint64_t{run.count} * layout.SectorsPerCluster;
    const std::uint64_t runEnd = first + sectors;
    if (runEnd > limit) outside += runEnd - std::max(first, limit);
    source_.reader.ReadSectorsAs(first, static_cast<std::uint32_t>(sectors), buffer_, unit);
    const std::uint64_t piece = std::min<std::uint64_t>(size - done, sectors * kSectorSize);
    if (auto written = writeAll(fd, buffer_.data(), static_cast<std::size_t>(piece)); !written) {
      source_.reader.setUnreadableSink({});
      addIssue(target, "writing failed: " + written.error().message);
      return;
    }
    done += piece;
    result_.bytesWritten += piece;
    {
      std::lock_guard lock(mutex_);
      progress_.CopiedSize += piece;
    }
    updateProgress(job, done, size);
  }
  source_.reader.setUnreadableSink({});
  if (unreadable > 0)
    addIssue(target, std::to_string(unreadable) + " unreadable sector(s) were written as zeros");
  if (outside > 0)
    addIssue(target, std::to_string(outside) + " sector(s) beyond the end of the volume were written as zeros");
}

}  // namespace dravolin
