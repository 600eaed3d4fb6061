#include "app/search_log_operations.h"

#include <cctype>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/format.h"
#include "common/text_encoding.h"
#include "entries/lost_directories.h"
#include "ntfs/mft_reader.h"
#include "ntfs/ntfs_volume.h"

namespace dravolin {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kMaxCachedDisks = 64;

// The log spells the unknown type "Unknown"; the other texts are the usual ones.
std::string logTypeText(FsType type) { return type == FsType::Unknown ? "Unknown" : toString(type); }

FsType typeFromLogText(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return fileSystemTypeFromText(upper).value_or(FsType::Unknown);
}

SearchLogHeader headerFromSession(const Session& session) {
  const WizardState& s = session.state;
  SearchLogHeader h;
  h.diskIdentification = utf8ToUtf16(session.device().model);
  h.selectedDrive = static_cast<std::uint8_t>(s.SelectedDrive);
  h.selectedDriveCopy = static_cast<std::uint8_t>(s.SelectedDrive);
  h.partitionIndex = static_cast<std::uint8_t>(s.selectedPartitionIndex);
  h.fileSystemType = logTypeText(s.FileSystemType);
  h.partitionStart = static_cast<std::uint64_t>(s.PartitionStart);
  h.partitionEnd = static_cast<std::uint64_t>(std::max<std::int64_t>(s.PartitionEnd, 0));
  h.volumeParameters = s.volumeParameters;
  // A search works on a copy of the parameters taken at its start, which
  // nothing changes afterwards: the committed values are that copy.
  h.searchVolumeParameters = s.volumeParameters;
  h.searchFileSystemType = logTypeText(s.FileSystemType);
  h.exhaustiveSearch = s.ExhaustiveSearch ? 1 : 0;
  h.lostPartitionSearch = s.LostPartitionSearch ? 1 : 0;
  h.lostSearchPass = static_cast<std::uint32_t>(s.LostSearchPass);
  h.selectedFoundFileSystem = s.SelectedFoundFileSystem;
  h.stopped = session.searchStop.stopped || session.searchStop.fromStoppedLog;
  return h;
}

// NTFS entries listed by the MFT walk are found again through the MFT run
// list, which a log does not keep: their record sectors go into the log.
void addRecordSectors(Session& session, std::vector<DirectoryNode>& directories, std::vector<FileNode>& files) {
  if (session.state.FileSystemType != FsType::Ntfs || session.mftRunList.empty() || !session.reader()) return;
  const VolumeParameters& p = session.state.volumeParameters;
  auto geometry = readNtfsGeometry(*session.reader(), p, p.ClusterBase,
                                   static_cast<std::uint64_t>(std::max<std::int64_t>(session.state.PartitionEnd, 0)));
  if (!geometry) return;
  for (DirectoryNode& d : directories) {
    if (d.extra != 0 || d.ownId == kLostId) continue;
    if (auto sector = MftNumberToSector(session.mftRunList, *geometry, d.ownId)) d.extra = *sector;
  }
  for (FileNode& f : files) {
    if (f.extra != 0) continue;
    if (auto sector = MftNumberToSector(session.mftRunList, *geometry, f.firstCluster)) f.extra = *sector;
  }
}

std::string systemReason(int code) { return std::strerror(code); }

// Writes all bytes; a short write, a failed write or a failed close is an
// error with the system's reason, and the incomplete file is removed.
Result<void> writeLogFile(const std::string& path, const std::vector<std::byte>& bytes) {
  // An existing log is replaced, never a file a symbolic link points to,
  // and a read-only one is reported (the user made it so) rather than
  // overwritten (which root could).
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
    return makeError(ErrorKind::Io, "Unable to write the log file " + path + ": the file is read-only");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == ELOOP)
    return makeError(ErrorKind::Io, "Unable to write the log file " + path + ": it is a symbolic link");
  if (fd < 0) return makeError(ErrorKind::Io, kLogCannotCreate);
  std::size_t done = 0;
  int error = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (n == 0) {
      error = EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    std::error_code ec;
    fs::remove(path, ec);
    return makeError(ErrorKind::Io, "Unable to write the log file " + path + ": " + systemReason(error));
  }
  return {};
}

// The size in bytes of the source a log names, when it can be told: the
// file or device of that name, or a disk of that model in the geometry cache.
std::optional<std::uint64_t> loggedSourceSize(Session& session, const std::string& identification) {
  std::error_code ec;
  if (!identification.empty() && identification.front() == '/' && fs::is_regular_file(identification, ec)) {
    const auto size = fs::file_size(identification, ec);
    if (!ec) return size;
  }
  for (std::uint32_t n = 0; n < kMaxCachedDisks; ++n) {
    const DeviceInfo cached = readCachedDevice(session.config(), n);
    if (cached.sizeBytes != 0 && cached.model == identification) return cached.sizeBytes;
  }
  return std::nullopt;
}

// The disk identification alone, read before the rest so that a log of
// another disk says so even when it is damaged further on.
std::optional<std::u16string> readIdentification(std::span<const std::byte> bytes) {
  constexpr std::size_t kLengthAt = 22;
  if (bytes.size() < kLengthAt + 4) return std::nullopt;
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | std::to_integer<std::uint32_t>(bytes[kLengthAt + i]);
  const std::size_t left = bytes.size() - kLengthAt - 4;
  if (n > left / 2) return std::nullopt;
  std::u16string text(n, u'\0');
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t at = kLengthAt + 4 + 2 * i;
    text[i] = static_cast<char16_t>(std::to_integer<std::uint16_t>(bytes[at]) |
                                    (std::to_integer<std::uint16_t>(bytes[at + 1]) << 8));
  }
  return text;
}

// Saving writes the file name upper-cased ("found.st2c" becomes
// "FOUND.ST2C"): a name typed as it was given to the saving, which does not
// exist, is looked for as the saving wrote it, in the same folder.
std::string existingLogPath(const std::string& typed, SearchLogKind kind) {
  std::error_code ec;
  if (fs::exists(typed, ec)) return typed;
  const std::string saved = searchLogSavePath(typed, kind);
  return saved != typed && fs::exists(saved, ec) ? saved : typed;
}

int percentOf(std::uint64_t done, std::uint64_t total) {
  return total == 0 ? 100 : static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
}

}  // namespace

Result<std::string> saveSearchLog(Session& session, const std::string& path, SearchLogKind kind) {
  if (path.empty())
    return makeError(ErrorKind::InvalidArgument,
                     kind == SearchLogKind::Results ? kLogStep4PathMissing : kLogStep2CPathMissing);
  // The ".ST4" records have no room for what an exFAT file needs besides
  // its first cluster (ValidDataLength, NoFatChain), and their layout is
  // the one FAT and NTFS logs keep: an exFAT result is not written at all.
  if (kind == SearchLogKind::Results && session.state.FileSystemType == FsType::ExFat)
    return makeError(ErrorKind::InvalidArgument, kSearchLogNotForExfatText);
  const std::string target = searchLogSavePath(path, kind);
  SearchLog log;
  log.header = headerFromSession(session);
  // The list of found file systems belongs to the range searched, which the
  // choice of one of them (a narrower selection) must not replace.
  if (kind == SearchLogKind::FoundList && session.state.LostPartitionSearch && session.lostSearch.rangeEnd != 0) {
    log.header.partitionStart = session.lostSearch.rangeStart;
    log.header.partitionEnd = session.lostSearch.rangeEnd;
  }
  if (session.state.LostPartitionSearch) {
    log.foundFileSystems = session.foundFileSystems;
    if (kind == SearchLogKind::FoundList) {
      log.ntfsFolders = session.lostSearch.ntfs.folders;
      log.ntfsFiles = session.lostSearch.ntfs.files;
    }
  }
  log.directories = session.entries.DirectoryList;
  log.files = session.entries.FileList;
  addRecordSectors(session, log.directories, log.files);
  if (auto written = writeLogFile(target, encodeSearchLog(log, kind)); !written)
    return std::unexpected(written.error());
  return target;
}

Result<LoadedLogInfo> loadSearchLog(Session& session, const std::string& path) {
  WizardState& state = session.state;
  // Whatever happens below, a failed load leaves log-loading mode.
  state.LoadFromLog = false;
  session.loadedLog.reset();
  if (path.empty()) return makeError(ErrorKind::InvalidArgument, kLogPathMissing);
  const auto kind = searchLogKindOf(path);
  if (!kind) return makeError(ErrorKind::InvalidArgument, "");
  const std::string readPath = existingLogPath(path, *kind);
  session.activityLog().appendLines({"\r\n", "Step 2 :", "-------", "Load Log File Path : " + readPath});

  auto file = SearchLogFile::open(readPath);
  if (!file) return std::unexpected(file.error());
  if (!session.source()) return makeError(ErrorKind::InvalidArgument, kLogWrongDisk);

  const auto identification = readIdentification(file->bytes());
  if (!identification) return makeError(ErrorKind::Corrupt, kLogErrorInFile);
  const std::uint64_t sourceSectors = session.source()->sectorCount();
  LoadedLogInfo info{readPath, *kind, {}};
  const std::string logged = utf16ToUtf8(*identification);
  if (logged != session.device().model) {
    const auto size = loggedSourceSize(session, logged);
    if (!size || *size != sourceSectors * kSectorSize) return makeError(ErrorKind::InvalidArgument, kLogWrongDisk);
    info.acceptedNote = "The log was written on " + logged + "; it is taken for " + session.device().model +
                        ", which has the same size (an image of the same disk).";
  }

  auto decoded = decodeSearchLog(file->bytes(), *kind);
  { const SearchLogFile read = std::move(*file); }  // unmapped: the log is read
  if (!decoded) return std::unexpected(decoded.error());
  auto log = std::make_shared<SearchLog>(std::move(*decoded));
  // The disk was compared above by its identification and size. The logged
  // selection lies on it: a search cuts its range at the end of the source.
  // A found file system keeps the end its boot sector claims, which may lie
  // past the end of the source (choosing it cuts the range as the search
  // did): only one that starts past the end is not of this disk.
  const SearchLogHeader& h = log->header;
  if (h.partitionEnd > sourceSectors) return makeError(ErrorKind::InvalidArgument, kLogWrongDisk);
  for (const FoundFileSystem& f : log->foundFileSystems)
    if (f.startSector > sourceSectors || f.clusterBase > sourceSectors)
      return makeError(ErrorKind::InvalidArgument, kLogWrongDisk);
  // The volume's sector addresses (rebuilt from the logged start) lie on
  // this source too: files are never read from where the volume is not.
  for (const VolumeParameters* p : {&h.volumeParameters, &h.searchVolumeParameters})
    for (std::uint64_t sector : {p->ClusterBase, p->Fat1Start, p->Fat2Start, p->MftStart, p->MftMirrStart})
      if (sector > sourceSectors) return makeError(ErrorKind::InvalidArgument, kLogWrongDisk);

  // Everything was read and checked: only now does the session change. The
  // selected drive stays the one chosen in Step 1.
  state.selectedPartitionIndex = h.partitionIndex == 0xFF ? -1 : h.partitionIndex;
  state.FileSystemType = typeFromLogText(h.fileSystemType);
  state.PartitionStart = h.partitionStart;
  state.PartitionEnd = static_cast<std::int64_t>(h.partitionEnd);
  state.volumeParameters = h.volumeParameters;
  state.ExhaustiveSearch = h.exhaustiveSearch != 0;
  state.LostPartitionSearch = h.lostPartitionSearch != 0;
  state.LostSearchPass = 0;
  state.SelectedFoundFileSystem = h.selectedFoundFileSystem;
  if (state.LostPartitionSearch) session.foundFileSystems = log->foundFileSystems;
  session.loadedLog = std::move(log);
  state.LoadFromLog = true;

  const std::uint64_t sectors = h.partitionEnd - h.partitionStart;
  session.activityLog().appendLines(
      {"Selected Information : Partition - " + std::to_string(static_cast<unsigned>(h.partitionIndex) + 1) + " (" +
           h.fileSystemType + ")",
       "Partition Type : " + h.fileSystemType, "Partition Size : " + formatPartitionSize(sectors * kSectorSize),
       "Start Sector : " + std::to_string(h.partitionStart), "End Sector : " + std::to_string(h.partitionEnd),
       state.LostPartitionSearch ? "Search Exhaustive : Checked" : "Search Exhaustive : Not Checked"});
  if (!info.acceptedNote.empty()) session.activityLog().appendLines({info.acceptedNote});
  info.stopped = h.stopped;
  if (info.stopped) {
    std::string note = kLogOfStoppedSearch;
    note[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(note[0])));
    session.activityLog().appendLines({note + "."});
  }
  return info;
}

Result<void> reloadSearchLogRecords(Session& session, Job& job) {
  std::shared_ptr<SearchLog> log = std::move(session.loadedLog);
  session.loadedLog.reset();
  session.state.LoadFromLog = false;
  if (!log) return makeError(ErrorKind::Corrupt, kLogErrorInFile);
  const std::uint64_t total =
      log->hasNtfsLists ? log->ntfsFolders.size() + log->ntfsFiles.size() : log->directories.size() + log->files.size();
  std::uint64_t done = 0;
  FoundEntries& entries = session.entries;
  auto report = [&](const std::string& name) {
    ++done;
    SearchStatistics statistics{entries.TotalSize, entries.DirectoryCount, entries.FileCount, name,
                                StatisticsFormat::Size, 0};
    if (log->hasNtfsLists) {
      statistics.directories = session.lostSearch.ntfs.folders.size();
      statistics.files = session.lostSearch.ntfs.files.size();
    }
    job.updateStatistics(statistics);
    job.setPercent(percentOf(done, total));
    job.checkpoint();
  };

  if (log->hasNtfsLists) {
    // A ".ST2C" log: the NTFS lists from which the tree of any found file
    // system is built; its result records are not used. Nothing of an
    // earlier search stays: its directory starts belong to another list.
    // The log holds no FAT directory starts, so the FAT second pass finds
    // those of the chosen volume again on the disk; the searched range is
    // the logged selection.
    session.lostSearch.clear();
    session.lostSearch.rangeStart = log->header.partitionStart;
    session.lostSearch.rangeEnd = log->header.partitionEnd;
    session.lostSearch.directoryStartsKept = false;
    for (NtfsFolderEntry& folder : log->ntfsFolders) {
      if (job.stopRequested()) break;
      session.lostSearch.ntfs.folders.push_back(std::move(folder));
      report(utf16ToUtf8(session.lostSearch.ntfs.folders.back().name));
    }
    job.clearStopRequest();
    for (NtfsFileEntry& file : log->ntfsFiles) {
      if (job.stopRequested()) break;
      entries.TotalSize += file.size;
      session.lostSearch.ntfs.files.push_back(std::move(file));
      report(utf16ToUtf8(session.lostSearch.ntfs.files.back().name));
    }
    job.clearStopRequest();
    // A file record of the log carries no file-system number: each file
    // belongs to the found volume that holds its record, as after the scan.
    assignNtfsFilesToVolumes(session.lostSearch.ntfs, session.foundFileSystems);
    return {};
  }

  entries.clear();
  const std::string codePage(kDefaultOemCodePage);
  for (const DirectoryNode& d : log->directories) {
    if (job.stopRequested()) break;
    entries.AddDirectoryNode(d.narrowName, d.wideName, d.isDeleted(), d.parentId, d.ownId, d.extra, d.times,
                             d.partition);
    report(displayName(d.narrowName, d.wideName, codePage));
  }
  job.clearStopRequest();
  for (const FileNode& f : log->files) {
    if (job.stopRequested()) break;
    entries.AddFileNode(f.narrowName, f.wideName, f.isDeleted(), f.size, f.parentId, f.firstCluster, f.extra,
                        f.times);
    entries.TotalSize += f.size;
    report(displayName(f.narrowName, f.wideName, codePage));
  }
  job.clearStopRequest();
  // A log may name parents in a cycle, which no walk from the root reaches:
  // the first folder of each cycle goes under "Lost", as after a search.
  const std::uint32_t rootId = isFat(session.state.FileSystemType) ? 0 : kNtfsRootId;
  std::set<std::uint16_t> partitions;
  for (const DirectoryNode& d : entries.DirectoryList) partitions.insert(d.partition);
  for (std::uint16_t partition : partitions) breakParentCycles(entries, rootId, partition);
  return {};
}

}  // namespace dravolin
