// The exhaustive NTFS search over volumes made by mkntfs and ntfs-3g, with
// their .mft.tsv manifests (record numbers and parents from fls and istat)
// as the oracle: every live and deleted folder and file is listed with its
// name, its own MFT number, its parent's number and its path from the root;
// its record lies at the sector kept in extra; extension records are never
// listed alone. The damaged copies: record 0 of the MFT wiped (the scan does
// not need it), a torn record (counted in the statistics, still listed from
// its intact first sector), and records in the header layout older than
// Windows XP (numbers from index roots, index entries and positions).
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "common/text_encoding.h"
#include "disk/file_source.h"
#include "ntfs/mft_reader.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_search.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

class ScanJob final : public Job {
 public:
  std::vector<std::string> statuses;
  SearchStatistics lastStatistics;
  std::uint64_t tornSeen = 0;
  Completion completion = Completion::None;
  ScriptedPrompter prompts;
  std::function<void(ScanJob&, const SearchStatistics&)> onStatistics;
  std::function<void(ScanJob&, const std::string&)> onStatus;

  void setPercent(int) override {}
  void setStatus(const std::string& text) override {
    statuses.push_back(text);
    if (onStatus) onStatus(*this, text);
  }
  void setLastName(const std::string&) override {}
  void updateStatistics(const SearchStatistics& statistics) override {
    lastStatistics = statistics;
    tornSeen = std::max(tornSeen, statistics.tornRecords);
    if (onStatistics) onStatistics(*this, statistics);
  }
  void checkpoint() override {}
  bool stopRequested() const override { return stop_.load(); }
  void requestStop() override { stop_.store(true); }
  void clearStopRequest() override { stop_.store(false); }
  void complete(Completion c) override { completion = c; }
  Prompter& prompter() override { return prompts; }

 private:
  std::atomic<bool> stop_{false};
};

struct ManifestRow {
  bool live = false;
  bool folder = false;
  std::uint64_t size = 0;
  std::string path;
  std::uint32_t number = 0;
  std::uint32_t parent = 0;
  std::string attributes;
};

std::vector<ManifestRow> readManifest(const fs::path& file) {
  std::vector<ManifestRow> rows;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() < 9) continue;
    rows.push_back({f[1] == "live", f[2] == "folder", std::stoull(f[3]), f[5],
                    static_cast<std::uint32_t>(std::stoul(f[6])), static_cast<std::uint32_t>(std::stoul(f[7])), f[8]});
  }
  return rows;
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

struct Scan {
  std::unique_ptr<FileSectorSource> source;
  std::unique_ptr<SectorReader> reader;
  FoundEntries entries;
  MftRunList mft;
  bool exhaustive = true;
  ScanJob job;

  void run(const fs::path& image) {
    auto opened = FileSectorSource::open(image.string());
    ASSERT_TRUE(opened) << opened.error().message;
    source = std::move(*opened);
    reader = std::make_unique<SectorReader>(*source);
    // The volume parameters the volume check gives these images.
    VolumeParameters parameters;
    parameters.SectorsPerCluster = 8;
    parameters.MftRecordSectors = 2;
    NtfsSearchContext context{.reader = *reader, .parameters = parameters, .entries = entries, .mft = mft,
                              .exhaustiveSearch = exhaustive, .partitionStart = 0,
                              .partitionEnd = source->sectorCount()};
    runNtfsExhaustiveSearch(job, context);
  }

  // The path of a directory node from the root through parent ids.
  std::string pathOf(std::uint32_t id) const {
    std::string path;
    for (int depth = 0; depth < 64 && id != kNtfsRootId; ++depth) {
      const std::ptrdiff_t d = entries.findDirectory(id);
      if (d < 0) return "?" + path;
      const DirectoryNode& node = entries.DirectoryList[d];
      path = "/" + utf16ToUtf8(node.wideName) + path;
      id = node.parentId;
    }
    return path;
  }

  // The number of the record at the sector: the one it carries, or, for
  // records in the old layout, its place in the MFT (one run from the
  // cluster the boot sector names, in these images).
  std::optional<std::uint32_t> numberAt(std::uint64_t sector) {
    NtfsGeometry geometry;
    geometry.cluster_size = 4096;
    auto bytes = ReadRecordAtSector(*reader, geometry, sector);
    if (!bytes) return std::nullopt;
    auto record = readMftRecord(*bytes);
    if (!record) return std::nullopt;
    if (record->header.record_number) return *record->header.record_number;
    const SectorBuffer boot = readSectorOrZeros(*reader, 0);
    const std::uint64_t mftStart = readU64(boot, 0x30) * readU8(boot, 13);
    if (sector < mftStart) return std::nullopt;
    return static_cast<std::uint32_t>((sector - mftStart) / 2);
  }
};

struct ImageCase {
  friend void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.image; }
  std::string what;
  std::string image;
  std::string manifest;
  std::uint64_t tornRecords;
};

const ImageCase kImages[] = {
    {"ntfs img", "ntfs.img", "ntfs.img.mft.tsv", 0},
    {"ntfs full img", "ntfs-full.img", "ntfs-full.img.mft.tsv", 0},
    {"MFT record 0 wiped", "damaged/ntfs-mft-record0-wiped.img", "ntfs-full.img.mft.tsv", 0},
    {"a torn record", "damaged/ntfs-torn-record.img", "ntfs-full.img.mft.tsv", 1},
    {"records without their own number", "damaged/ntfs-old-record-format.img", "ntfs-full.img.mft.tsv", 0},
};

class NtfsScanImageTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(NtfsScanImageTest, ListsEveryManifestEntryWithItsNumberParentAndPath) {
  const ImageCase& c = GetParam();
  const fs::path image = fixturePath(c.image);
  const auto rows = readManifest(fixturePath(c.manifest));
  ASSERT_GT(rows.size(), 50u) << "missing fixture manifest " << c.manifest;
  const std::string before = sha256File(image);
  Scan scan;
  scan.run(image);
  if (HasFatalFailure()) return;
  const FoundEntries& entries = scan.entries;
  EXPECT_EQ(scan.job.completion, Completion::SearchDone);
  EXPECT_TRUE(scan.mft.empty()) << "after a scan the records are read from their sectors";
  EXPECT_EQ(scan.job.tornSeen, c.tornRecords);
  EXPECT_LT(entries.findDirectory(kNtfsRootId), 0) << "the root is not listed";

  std::multimap<std::uint32_t, std::size_t> filesByNumber;
  for (std::size_t i = 0; i < entries.FileList.size(); ++i) filesByNumber.emplace(entries.FileList[i].firstCluster, i);

  for (const ManifestRow& row : rows) {
    SCOPED_TRACE(row.path);
    if (row.folder) {
      const std::ptrdiff_t d = entries.findDirectory(row.number);
      ASSERT_GE(d, 0) << "folder " << row.number << " not listed";
      const DirectoryNode& node = entries.DirectoryList[d];
      EXPECT_EQ(utf16ToUtf8(node.wideName), baseName(row.path));
      EXPECT_EQ(node.parentId, row.parent);
      EXPECT_EQ(node.isDeleted(), !row.live);
      EXPECT_EQ(scan.pathOf(row.number), row.path);
      EXPECT_EQ(scan.numberAt(node.extra), row.number) << "extra is the record's sector";
      continue;
    }
    auto [from, to] = filesByNumber.equal_range(row.number);
    ASSERT_EQ(std::distance(from, to), 1) << "file " << row.number << " must be listed once";
    const FileNode& node = entries.FileList[from->second];
    EXPECT_EQ(utf16ToUtf8(node.wideName), baseName(row.path));
    EXPECT_EQ(node.parentId, row.parent);
    EXPECT_EQ(node.isDeleted(), !row.live);
    EXPECT_EQ(node.size, row.size);
    EXPECT_EQ(scan.pathOf(node.parentId) + "/" + baseName(row.path), row.path);
    EXPECT_EQ(scan.numberAt(node.extra), row.number) << "extra is the record's sector";
    // Extension records that hold part of the file's data are not files.
    const auto records = row.attributes.find("data-records=");
    if (records != std::string::npos) {
      std::istringstream numbers(row.attributes.substr(records + 13));
      for (std::string n; std::getline(numbers, n, '/');) {
        if (std::stoul(n) != row.number) {
          EXPECT_EQ(filesByNumber.count(static_cast<std::uint32_t>(std::stoul(n))), 0u)
              << "extension record " << n << " listed as a file";
        }
      }
    }
  }
  // The system files are listed once each (the $MFTMirr copies of the first
  // four records are the same records) with their numbers, and no record
  // without a name is listed (the reserved records 12 to 15 hold none).
  const std::map<std::string, std::uint32_t> systemFiles = {
      {"$MFT", 0}, {"$MFTMirr", 1}, {"$LogFile", 2}, {"$Volume", 3}, {"$AttrDef", 4},
      {"$Bitmap", 6}, {"$Boot", 7}, {"$BadClus", 8}, {"$Secure", 9}, {"$UpCase", 10}};
  std::map<std::string, int> systemSeen;
  for (const FileNode& node : entries.FileList) {
    EXPECT_FALSE(node.wideName.empty()) << "nameless record " << node.firstCluster << " listed";
    const std::string name = utf16ToUtf8(node.wideName);
    auto it = systemFiles.find(name);
    if (it == systemFiles.end() || node.parentId != kNtfsRootId) continue;
    ++systemSeen[name];
    EXPECT_EQ(node.firstCluster, it->second) << name;
  }
  for (const auto& [name, number] : systemFiles) {
    // Record 0 is zeros in the wiped copy; its $MFTMirr copy stands in.
    EXPECT_EQ(systemSeen[name], 1) << name;
  }
  EXPECT_EQ(sha256File(image), before) << "the scan must not write to its source";
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsScanImageTest, ::testing::ValuesIn(kImages), NameFromWhat{});

// A stop during the sweep ends the sweep only: the numbering, the layout
// checks and the assembly still run, and what was found before the stop is
// listed with its true numbers and parents.
TEST(NtfsScanStopTest, StopDuringTheSweepStillBuildsTheTree) {
  const fs::path image = fixturePath("ntfs-full.img");
  const auto rows = readManifest(fixturePath("ntfs-full.img.mft.tsv"));
  ASSERT_GT(rows.size(), 50u);
  Scan full;
  full.run(image);
  if (HasFatalFailure()) return;

  Scan scan;
  scan.job.onStatistics = [](ScanJob& job, const SearchStatistics& s) {
    if (s.format == StatisticsFormat::Sector && s.files >= 100) job.requestStop();
  };
  scan.run(image);
  if (HasFatalFailure()) return;
  const FoundEntries& entries = scan.entries;
  EXPECT_EQ(scan.job.completion, Completion::SearchDone);
  EXPECT_GE(entries.FileCount, 100u);
  EXPECT_LT(entries.FileCount, full.entries.FileCount) << "the sweep ended early";
  const auto& statuses = scan.job.statuses;
  for (const char* text : {"Step 2/5 :- Assigning MFT Numbers to Folders. Please Wait...  ",
                           "Step 3/5 :- Assigning MFT Numbers to Files. Please Wait...  ",
                           "Step 4.1/5 :- Analysing File System. Please Wait...  ",
                           "Step 4.3/5 :- Dumping Files/Folders information for Selected File System. Please Wait...  ",
                           "Step 5/5 :- Searching lost directories. Please Wait...  "})
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), text), statuses.end()) << text;

  std::map<std::uint32_t, const ManifestRow*> byNumber;
  for (const ManifestRow& row : rows) byNumber[row.number] = &row;
  std::size_t checked = 0;
  for (const FileNode& node : entries.FileList) {
    auto it = byNumber.find(node.firstCluster);
    if (it == byNumber.end() || it->second->folder) continue;
    if (utf16ToUtf8(node.wideName) == "File" + std::to_string(node.firstCluster)) {
      // Its name lies in an extension record the sweep did not reach: it is
      // named by its number.
      EXPECT_EQ(node.parentId, kLostId) << node.firstCluster;
      continue;
    }
    EXPECT_EQ(utf16ToUtf8(node.wideName), baseName(it->second->path));
    // The parent is listed too, or the file sits under "Lost".
    if (node.parentId != kLostId) {
      EXPECT_EQ(node.parentId, it->second->parent);
    }
    ++checked;
  }
  EXPECT_GE(checked, 50u);
}

// A stop while folders are numbered from index entries ends that pass only:
// the tree still holds every folder and file (the assembly is not cut short
// by a stop that was meant for an earlier pass).
TEST(NtfsScanStopTest, StopWhileNumberingFoldersStillListsEverything) {
  const fs::path image = fixturePath("damaged/ntfs-old-record-format.img");
  Scan full;
  full.run(image);
  if (HasFatalFailure()) return;
  Scan scan;
  scan.job.onStatus = [](ScanJob& job, const std::string& text) {
    if (text.starts_with("Step 2/5")) job.requestStop();
  };
  scan.run(image);
  if (HasFatalFailure()) return;
  EXPECT_EQ(scan.job.completion, Completion::SearchDone);
  // 20 folders: the volume's, without an empty "Lost".
  EXPECT_GE(full.entries.DirectoryCount, 20u);
  EXPECT_EQ(scan.entries.DirectoryCount, full.entries.DirectoryCount);
  EXPECT_EQ(scan.entries.FileCount, full.entries.FileCount);
}

// Everything a sweep leaves behind, in the order it came: the tree (one
// image), the lists of the lost-partition form (two images back to back),
// the questions of the bad-sector rules and the sectors lost.
struct SweepOutcome {
  std::vector<std::string> entries;
  std::vector<std::string> lists;
  int questions = 0;
  std::vector<SectorNumber> lost;
};

void sweepImage(SectorSource& image, bool twoThreads, int copies, SectorNumber badFirst, SectorNumber badEnd,
                SweepOutcome& outcome) {
  FailingImage source(image, twoThreads, copies, badFirst, badEnd);
  ScanJob job;
  // Skip the first question, then retry sector by sector.
  job.prompts.badSectorAnswers = {BadSectorAnswer::Skip, BadSectorAnswer::Retry, BadSectorAnswer::SkipAll};
  SectorReader reader(source, &job.prompts);
  reader.setUnreadableSink([&](SectorNumber s) { outcome.lost.push_back(s); });
  FoundEntries entries;
  MftRunList mft;
  bool exhaustive = true;
  NtfsLostResult lostResult;
  VolumeParameters parameters;
  parameters.SectorsPerCluster = 8;
  parameters.MftRecordSectors = 2;
  NtfsSearchContext context{.reader = reader, .parameters = parameters, .entries = entries, .mft = mft,
                            .exhaustiveSearch = exhaustive, .partitionStart = 0,
                            .partitionEnd = source.sectorCount()};
  if (copies > 1) context.lostResult = &lostResult;
  runNtfsExhaustiveSearch(job, context);
  outcome.questions += job.prompts.badSectorQuestions;
  auto line = [](char kind, const std::u16string& name, std::uint64_t a, std::uint64_t b) {
    return std::string(1, kind) + " " + utf16ToUtf8(name) + " " + std::to_string(a) + " " + std::to_string(b);
  };
  for (const DirectoryNode& d : entries.DirectoryList)
    outcome.entries.push_back(line('D', d.wideName, d.ownId, d.parentId) + " " + std::to_string(d.extra) + d.deleted);
  for (const FileNode& f : entries.FileList)
    outcome.entries.push_back(line('F', f.wideName, f.firstCluster, f.parentId) + " " + std::to_string(f.extra) +
                              " " + std::to_string(f.size) + f.deleted);
  const NtfsScanLists& lists = lostResult.lists;
  for (const NtfsFolderEntry& f : lists.folders) outcome.lists.push_back(line('D', f.name, f.recordSector, f.ownNumber));
  for (const NtfsFileEntry& f : lists.files) outcome.lists.push_back(line('F', f.name, f.recordSector, f.size));
  for (const NtfsUnlistedRecord& r : lists.unlisted) outcome.lists.push_back(line('U', u"", r.recordSector, 0));
  for (const auto& [number, size] : std::map(lists.extentSizes.begin(), lists.extentSizes.end()))
    outcome.lists.push_back(line('E', u"", number, size));
  outcome.lists.push_back(line('T', u"", lists.tornRecords, 0));
  for (const NtfsFoundLayout& l : lostResult.layouts) outcome.lists.push_back(line('L', u"", l.start, l.end));
}

struct SweepCase {
  friend void PrintTo(const SweepCase& c, std::ostream* os) { *os << c.what; }
  std::string what;
  std::string image;
  double badFrom, badTo;  // the failing stretch, as fractions of the source
};

const SweepCase kSweepCases[] = {
    {"readable", "ntfs-full.img", 0, 0},
    {"a torn record", "damaged/ntfs-torn-record.img", 0, 0},
    // The helper thread takes the end of the range first.
    {"failing near the end", "ntfs-full.img", 0.80, 0.81},
    {"failing in the middle", "ntfs-full.img", 0.45, 0.55},
};

class NtfsSweepThreadsTest : public ::testing::TestWithParam<SweepCase> {};

// Two threads find what one finds, in the same order, and the bad-sector
// rules ask the same questions and lose the same sectors in the same order.
TEST_P(NtfsSweepThreadsTest, TwoThreadsGiveWhatOneGives) {
  const SweepCase& c = GetParam();
  auto opened = FileSectorSource::open(fixturePath(c.image).string());
  ASSERT_TRUE(opened) << opened.error().message;
  FileSectorSource& image = **opened;
  ASSERT_GT(image.sectorCount(), 16384u) << "too small for two threads";
  SweepOutcome one, two;
  for (int copies : {1, 2}) {
    const auto sectors = static_cast<double>(image.sectorCount() * static_cast<std::uint64_t>(copies));
    const auto badFirst = static_cast<SectorNumber>(c.badFrom * sectors);
    const auto badEnd = static_cast<SectorNumber>(c.badTo * sectors);
    sweepImage(image, false, copies, badFirst, badEnd, one);
    sweepImage(image, true, copies, badFirst, badEnd, two);
  }
  EXPECT_GT(one.entries.size(), 50u);
  if (c.badTo == c.badFrom) {
    EXPECT_GT(one.lists.size(), 2 * one.entries.size()) << "both copies are listed";
  }
  EXPECT_EQ(two.entries, one.entries);
  EXPECT_EQ(two.lists, one.lists);
  EXPECT_EQ(two.questions, one.questions);
  EXPECT_EQ(two.lost, one.lost);
  if (c.badTo > c.badFrom) {
    EXPECT_GT(one.questions, 0);
    EXPECT_FALSE(one.lost.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Sweeps, NtfsSweepThreadsTest, ::testing::ValuesIn(kSweepCases), NameFromWhat{});

}  // namespace
}  // namespace dravolin::test
