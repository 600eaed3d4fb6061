#include "results/search_log.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>

namespace dravolin {
namespace {

// The first 11 characters of this text, UTF-16LE, open every log.
constexpr std::u16string_view kSignature = u"Korvane Dra";
static_assert(kSignature.size() == 11);

// Fixed sizes, names excluded: what the reader checks a count against.
constexpr std::size_t kFoundFileSystemBytes = 68;
constexpr std::size_t kFoundNameChars = 10;
constexpr std::size_t kNtfsFolderFixed = 49;
constexpr std::size_t kNtfsFileFixed = 53;
constexpr std::size_t kDirectoryFixed = 50;
constexpr std::size_t kFileFixed = 54;
// Each record ends with a one-byte long-name length and a one-byte short-name length.
constexpr std::size_t kNamesMinimum = 2;
constexpr std::size_t kMaxNameLength = 255;

std::uint32_t low32(std::uint64_t value) { return static_cast<std::uint32_t>(value & 0xFFFFFFFFu); }
std::uint32_t high32(std::uint64_t value) { return static_cast<std::uint32_t>(value >> 32); }
std::uint64_t join(std::uint32_t low, std::uint32_t high) { return (std::uint64_t{high} << 32) | low; }

class Writer {
 public:
  void u8(std::uint8_t v) { out_.push_back(std::byte{v}); }
  void u16(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v));
    u8(static_cast<std::uint8_t>(v >> 8));
  }
  void u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v));
    u16(static_cast<std::uint16_t>(v >> 16));
  }
  void u64(std::uint64_t v) {
    u32(low32(v));
    u32(high32(v));
  }
  // Values kept in 64 bits whose field holds 32: the low half is written.
  void u32of(std::uint64_t v) { u32(low32(v)); }
  void chars(std::u16string_view text) {
    for (char16_t c : text) u16(static_cast<std::uint16_t>(c));
  }
  // A one-byte length, then the UTF-16LE characters (at most 255).
  void shortWide(std::u16string_view text) {
    text = text.substr(0, std::min(text.size(), kMaxNameLength));
    u8(static_cast<std::uint8_t>(text.size()));
    chars(text);
  }
  // A one-byte length, then the single-byte characters (at most 255).
  void shortNarrow(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kMaxNameLength));
    u8(static_cast<std::uint8_t>(text.size()));
    for (char c : text) u8(static_cast<std::uint8_t>(c));
  }
  std::vector<std::byte> take() { return std::move(out_); }

 private:
  std::vector<std::byte> out_;
};

std::u16string asciiWide(std::string_view text) { return std::u16string(text.begin(), text.end()); }

void writeParameters(Writer& w, const VolumeParameters& p) {
  for (std::uint64_t v : {p.FatSectors, p.SectorsPerCluster, p.RootDirSectors, p.RootDirStart, p.ReservedSectors,
                          p.ClusterBase, p.Fat1Start, p.Fat2Start, p.MftStart, p.MftMirrStart, p.MftRecordSectors,
                          p.IndexRecordSectors})
    w.u32of(v);
}

void writeHeader(Writer& w, const SearchLogHeader& h) {
  w.chars(kSignature);
  w.u32(static_cast<std::uint32_t>(h.diskIdentification.size()));
  w.chars(h.diskIdentification);
  w.u8(h.selectedDrive);
  w.u8(h.stopped ? static_cast<std::uint8_t>(~h.selectedDrive) : h.selectedDriveCopy);
  w.u8(h.partitionIndex);
  w.shortWide(asciiWide(h.fileSystemType));
  w.u64(h.partitionStart);
  w.u64(h.partitionEnd);
  writeParameters(w, h.volumeParameters);
  writeParameters(w, h.searchVolumeParameters);
  w.shortWide(asciiWide(h.searchFileSystemType));
  w.u32(h.exhaustiveSearch);
  w.u32(h.lostPartitionSearch);
  w.u32(h.lostSearchPass);
  w.u32(h.selectedFoundFileSystem);
}

void writeFoundFileSystem(Writer& w, const FoundFileSystem& f) {
  w.u64(f.endSector);
  w.u64(f.startSector);
  w.u32(f.sectorsPerCluster);
  // Sector values of the FAT layout are 32-bit in the log: a FAT volume
  // found past 2^32 sectors loses the high half of these.
  w.u32of(f.clusterBase);
  w.u32of(f.firstFatSector);
  w.u32(f.reservedSectors);
  w.u32(f.rootDirSectors);
  w.u32(f.rootStart);
  w.u32of(f.secondFatSector);
  w.u32(f.sectorsPerFat);
  const std::u16string name = asciiWide(f.name);
  for (std::size_t i = 0; i < kFoundNameChars; ++i) w.u16(i < name.size() ? name[i] : 0);
}

// NTFS times are written as low then high halves; the scan lists keep them whole.
void writeNtfsFolder(Writer& w, const NtfsFolderEntry& f) {
  w.u32(low32(f.times.access));
  w.u32(high32(f.times.access));
  w.u32(low32(f.times.creation));
  w.u32(high32(f.times.creation));
  w.u32(f.fileSystem);
  w.u32(low32(f.times.modification));
  w.u32(high32(f.times.modification));
  // Record numbers, the parent's sequence number, record sectors and
  // clusters beyond 32 bits do not fit the folder record: only the low
  // halves are written, and the sequence numbers not at all.
  w.u32of(f.indexAllocationCluster);
  w.u32of(f.parent.record_number);
  w.u32of(f.recordSector);
  w.u32of(f.indexAllocationCluster);
  w.u32of(f.numberKnown ? f.ownNumber : 0);
  w.u8(f.deleted ? 'y' : 'n');
  w.shortWide(f.name);
  w.u8(0);
}

void writeNtfsFile(Writer& w, const NtfsFileEntry& f, std::uint32_t serial) {
  w.u64(f.times.access);
  w.u64(f.times.creation);
  w.u32(serial);
  w.u64(f.times.modification);
  w.u64(f.size);
  w.u32of(f.parent.record_number);
  // The record sector takes the whole 8-byte field: the high half is 0 for
  // every sector below 2^32, as the layout has it, and keeps larger ones.
  w.u64(f.recordSector);
  w.u32of(f.numberKnown ? f.ownNumber : 0);
  w.u8(f.deleted ? 'y' : 'n');
  w.shortWide(f.name);
  w.u8(0);
}

// A directory or a file record. Both hold the times in the same places; a
// directory starts with a 0 and keeps its partition where a file keeps its
// serial, a file adds its size, and the field before the kind byte is the
// directory's own id or the file's first cluster. The record sector of an
// NTFS entry takes the whole 8-byte extra field: see writeNtfsFile.
template <typename Node>
void writeEntry(Writer& w, const Node& n, std::uint32_t serial) {
  constexpr bool isDirectory = std::is_same_v<Node, DirectoryNode>;
  if constexpr (isDirectory) w.u32(0);
  w.u32(n.times[4]);
  w.u32(n.times[5]);
  w.u32(n.times[2]);
  w.u32(n.times[3]);
  if constexpr (isDirectory)
    w.u32(n.partition);
  else
    w.u32(serial);
  w.u32(n.times[0]);
  w.u32(n.times[1]);
  if constexpr (!isDirectory) w.u64(n.size);
  w.u32(n.parentId);
  w.u64(n.extra);
  if constexpr (isDirectory)
    w.u32(n.ownId);
  else
    w.u32(n.firstCluster);
  w.u8(isDirectory ? 'D' : 'F');
  w.u8(n.deleted == 'y' ? 'y' : 'n');
  w.shortWide(n.wideName);
  w.shortNarrow(n.narrowName);
}

// ---- reading

// Reads fields in order. A field that runs past the end of the bytes marks
// the reader as failed and reads as 0 (or empty), so a record is read whole
// and checked once: every record reader returns its record only while the
// reader has not failed. Nothing is allocated for a length the bytes cannot
// hold.
class Reader {
 public:
  explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}
  std::size_t left() const { return bytes_.size() - at_; }
  bool failed() const { return failed_; }
  void fail() { failed_ = true; }
  // Whether n more bytes are there; marks the reader failed when not.
  bool has(std::size_t n) {
    if (!failed_ && n <= left()) return true;
    failed_ = true;
    return false;
  }
  void skip(std::size_t n) {
    if (has(n)) at_ += n;
  }
  std::uint8_t u8() { return has(1) ? std::to_integer<std::uint8_t>(bytes_[at_++]) : 0; }
  std::uint16_t u16() {
    const std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | (u8() << 8));
  }
  std::uint32_t u32() {
    const std::uint32_t low = u16();
    return low | (std::uint32_t{u16()} << 16);
  }
  std::uint64_t u64() {
    const std::uint64_t low = u32();
    return low | (std::uint64_t{u32()} << 32);
  }
  std::u16string chars(std::size_t count) {
    if (count > left() / 2) {
      fail();
      return {};
    }
    std::u16string text(count, u'\0');
    for (auto& c : text) c = static_cast<char16_t>(u16());
    return text;
  }
  std::u16string shortWide() { return chars(u8()); }
  std::string shortNarrow() {
    const std::size_t count = u8();
    if (!has(count)) return {};
    std::string text(count, '\0');
    for (auto& c : text) c = static_cast<char>(u8());
    return text;
  }
  // A record count, checked against what is left: each record needs at
  // least minimumRecord bytes, so nothing is allocated for records that
  // cannot be there.
  std::size_t count(std::size_t minimumRecord) {
    const std::uint32_t n = u32();
    if (n > left() / minimumRecord) {
      fail();
      return 0;
    }
    return n;
  }
  char flag(char yes, char no) {
    const auto c = static_cast<char>(u8());
    if (c != yes && c != no) fail();
    return c;
  }

 private:
  std::span<const std::byte> bytes_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

std::unexpected<Error> errorInFile() { return makeError(ErrorKind::Corrupt, kLogErrorInFile); }

// The value read, or "Error in file." when any of its fields was missing or
// out of range.
template <typename T>
Result<T> checked(const Reader& r, T value) {
  if (r.failed()) return errorInFile();
  return value;
}

// Type names are ASCII; anything else in the log fails the reader.
std::string asciiText(Reader& r, const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == 0 || c > 0x7E) {
      r.fail();
      return {};
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

VolumeParameters readParameters(Reader& r) {
  VolumeParameters p;
  for (std::uint64_t* v : {&p.FatSectors, &p.SectorsPerCluster, &p.RootDirSectors, &p.RootDirStart,
                           &p.ReservedSectors, &p.ClusterBase, &p.Fat1Start, &p.Fat2Start, &p.MftStart,
                           &p.MftMirrStart, &p.MftRecordSectors, &p.IndexRecordSectors})
    *v = r.u32();
  return p;
}

Result<SearchLogHeader> readHeader(Reader& r) {
  SearchLogHeader h;
  r.skip(kSignature.size() * 2);  // written, never examined
  const std::uint32_t n = r.u32();
  h.diskIdentification = r.chars(n);
  h.selectedDrive = r.u8();
  h.selectedDriveCopy = r.u8();
  if (h.selectedDriveCopy == static_cast<std::uint8_t>(~h.selectedDrive)) {
    h.stopped = true;
    h.selectedDriveCopy = h.selectedDrive;
  }
  h.partitionIndex = r.u8();
  h.fileSystemType = asciiText(r, r.shortWide());
  h.partitionStart = r.u64();
  h.partitionEnd = r.u64();
  if (h.partitionStart > h.partitionEnd) r.fail();
  h.volumeParameters = readParameters(r);
  h.searchVolumeParameters = readParameters(r);
  h.searchFileSystemType = asciiText(r, r.shortWide());
  h.exhaustiveSearch = r.u32();
  h.lostPartitionSearch = r.u32();
  h.lostSearchPass = r.u32();
  h.selectedFoundFileSystem = r.u32();
  return checked(r, std::move(h));
}

Result<FoundFileSystem> readFoundFileSystem(Reader& r) {
  FoundFileSystem f;
  f.endSector = r.u64();
  f.startSector = r.u64();
  f.sectorsPerCluster = r.u32();
  f.clusterBase = r.u32();
  f.firstFatSector = r.u32();
  f.reservedSectors = r.u32();
  f.rootDirSectors = r.u32();
  f.rootStart = r.u32();
  f.secondFatSector = r.u32();
  f.sectorsPerFat = r.u32();
  std::u16string name = r.chars(kFoundNameChars);
  name.resize(std::min(name.find(u'\0'), name.size()));
  f.name = asciiText(r, name);
  // An inferred volume has neither start nor end; any other needs start < end.
  if (f.endSector != 0 && f.startSector > f.endSector) r.fail();
  return checked(r, std::move(f));
}

// The end of every NTFS list record: the deleted flag and the name (the
// narrow name is always written empty).
template <typename Entry>
void readNtfsTail(Reader& r, Entry& e) {
  e.numberKnown = e.ownNumber != 0;
  e.deleted = r.flag('y', 'n') == 'y';
  e.name = r.shortWide();
  r.shortNarrow();
}

Result<NtfsFolderEntry> readNtfsFolder(Reader& r) {
  NtfsFolderEntry f;
  const std::uint32_t accessLow = r.u32();
  f.times.access = join(accessLow, r.u32());
  const std::uint32_t creationLow = r.u32();
  f.times.creation = join(creationLow, r.u32());
  f.fileSystem = r.u32();
  const std::uint32_t modificationLow = r.u32();
  f.times.modification = join(modificationLow, r.u32());
  f.indexAllocationCluster = r.u32();
  f.parent.record_number = r.u32();
  f.recordSector = r.u32();
  r.u32();  // the index allocation cluster again
  f.ownNumber = r.u32();
  readNtfsTail(r, f);
  return checked(r, std::move(f));
}

Result<NtfsFileEntry> readNtfsFile(Reader& r) {
  NtfsFileEntry f;
  f.times.access = r.u64();
  f.times.creation = r.u64();
  r.u32();  // serial: the position in the list
  f.times.modification = r.u64();
  f.size = r.u64();
  f.hasData = true;  // the size is the one the scan settled on
  f.parent.record_number = r.u32();
  f.recordSector = r.u64();
  f.ownNumber = r.u32();
  readNtfsTail(r, f);
  return checked(r, std::move(f));
}

// A directory or file record; see writeEntry for the layout.
template <typename Node>
Result<Node> readEntry(Reader& r) {
  constexpr bool isDirectory = std::is_same_v<Node, DirectoryNode>;
  Node n;
  if constexpr (isDirectory) r.u32();
  n.times[4] = r.u32();
  n.times[5] = r.u32();
  n.times[2] = r.u32();
  n.times[3] = r.u32();
  const std::uint32_t partitionOrSerial = r.u32();
  // A file's serial is given again by the insertion.
  if constexpr (isDirectory) n.partition = static_cast<std::uint16_t>(partitionOrSerial & 0xFFFF);
  n.times[0] = r.u32();
  n.times[1] = r.u32();
  if constexpr (!isDirectory) n.size = r.u64();
  n.parentId = r.u32();
  n.extra = r.u64();
  const std::uint32_t ownIdOrCluster = r.u32();
  if constexpr (isDirectory)
    n.ownId = ownIdOrCluster;
  else
    n.firstCluster = ownIdOrCluster;
  const char kindByte = isDirectory ? 'D' : 'F';
  r.flag(kindByte, kindByte);
  n.deleted = r.flag('y', 'n');
  n.wideName = r.shortWide();
  n.narrowName = r.shortNarrow();
  return checked(r, std::move(n));
}

// A count, then that many records, each read by readOne; the first record
// that fails ends the list with its error.
template <typename T>
Result<std::vector<T>> readList(Reader& r, std::size_t minimumRecord, Result<T> (*readOne)(Reader&)) {
  const std::size_t n = r.count(minimumRecord);
  if (r.failed()) return errorInFile();
  std::vector<T> list;
  list.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    Result<T> one = readOne(r);
    if (!one) return std::unexpected(std::move(one.error()));
    list.push_back(std::move(*one));
  }
  return list;
}

bool endsWithNoCase(const std::string& text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = text[text.size() - tail.size() + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

const char* searchLogExtension(SearchLogKind kind) { return kind == SearchLogKind::Results ? ".ST4" : ".ST2C"; }

std::string searchLogSavePath(const std::string& path, SearchLogKind kind) {
  const std::size_t slash = path.rfind('/');
  const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  std::string out = path;
  for (std::size_t i = nameAt; i < out.size(); ++i)
    if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
  const std::string_view extension = searchLogExtension(kind);
  if (!endsWithNoCase(out, extension)) out += extension;
  return out;
}

std::optional<SearchLogKind> searchLogKindOf(const std::string& path) {
  if (endsWithNoCase(path, ".ST4")) return SearchLogKind::Results;
  if (endsWithNoCase(path, ".ST2C")) return SearchLogKind::FoundList;
  return std::nullopt;
}

std::vector<std::byte> encodeSearchLog(const SearchLog& log, SearchLogKind kind) {
  Writer w;
  writeHeader(w, log.header);
  if (log.header.lostPartitionSearch != 0) {
    w.u32(static_cast<std::uint32_t>(log.foundFileSystems.size()));
    for (const FoundFileSystem& f : log.foundFileSystems) writeFoundFileSystem(w, f);
    if (kind == SearchLogKind::FoundList) {
      w.u32(static_cast<std::uint32_t>(log.ntfsFolders.size()));
      for (const NtfsFolderEntry& f : log.ntfsFolders) writeNtfsFolder(w, f);
      w.u32(static_cast<std::uint32_t>(log.ntfsFiles.size()));
      std::uint32_t serial = 0;
      for (const NtfsFileEntry& f : log.ntfsFiles) writeNtfsFile(w, f, serial++);
    }
  }
  w.u32(static_cast<std::uint32_t>(log.directories.size()));
  for (const DirectoryNode& d : log.directories) writeEntry(w, d, 0);
  w.u32(static_cast<std::uint32_t>(log.files.size()));
  std::uint32_t serial = 0;
  for (const FileNode& f : log.files) writeEntry(w, f, serial++);
  return w.take();
}

Result<SearchLog> decodeSearchLog(std::span<const std::byte> bytes, SearchLogKind kind) {
  Reader r(bytes);
  SearchLog log;
  Result<SearchLogHeader> header = readHeader(r);
  if (!header) return std::unexpected(std::move(header.error()));
  log.header = std::move(*header);
  if (log.header.lostPartitionSearch != 0) {
    auto found = readList(r, kFoundFileSystemBytes, readFoundFileSystem);
    if (!found) return std::unexpected(std::move(found.error()));
    log.foundFileSystems = std::move(*found);
    if (kind == SearchLogKind::FoundList) {
      log.hasNtfsLists = true;
      auto folders = readList(r, kNtfsFolderFixed + kNamesMinimum, readNtfsFolder);
      if (!folders) return std::unexpected(std::move(folders.error()));
      log.ntfsFolders = std::move(*folders);
      auto files = readList(r, kNtfsFileFixed + kNamesMinimum, readNtfsFile);
      if (!files) return std::unexpected(std::move(files.error()));
      log.ntfsFiles = std::move(*files);
    }
  }
  auto directories = readList(r, kDirectoryFixed + kNamesMinimum, readEntry<DirectoryNode>);
  if (!directories) return std::unexpected(std::move(directories.error()));
  log.directories = std::move(*directories);
  auto files = readList(r, kFileFixed + kNamesMinimum, readEntry<FileNode>);
  if (!files) return std::unexpected(std::move(files.error()));
  log.files = std::move(*files);
  if (r.left() != 0) return errorInFile();
  return log;
}

}  // namespace dravolin
