// Searches on small volumes made by the real tools (mkfs.fat, mtools) and
// checked against The Sleuth Kit's listing where it helps.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "app/volume_check.h"
#include "disk/file_source.h"
#include "fat/fat_search.h"
#include "fat_test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

bool toolsPresent() {
  int status = 0;
  runShell("command -v mkfs.fat mcopy mmd mdel mdeltree >/dev/null 2>&1", &status);
  return status == 0;
}

bool sleuthKitPresent() {
  int status = 0;
  runShell("command -v fls >/dev/null 2>&1", &status);
  return status == 0;
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

struct ImageSpec {
  const char* type;
  const char* mkfs;  // options of mkfs.fat
  int kilobytes;
};

// Builds a volume holding live, deleted, long-named, accented and empty
// entries:
//   Café crème.txt, README.TXT, EMPTY.TXT (empty), Docs/, Docs/Sub/deep.txt,
//   "Docs/A rather long file name for testing.bin", and deleted:
//   README.BAK (short name only), "Deleted long name file.dat",
//   Gone/ with "Inside the gone folder.bin".
fs::path buildImage(const TempDir& dir, const ImageSpec& spec) {
  const fs::path image = dir / (std::string(spec.type) + ".img");
  writeFile(dir / "hello.txt", "hello world\n");
  std::string data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<char>('A' + i % 23));
  writeFile(dir / "data.bin", data);
  writeFile(dir / "empty", "");
  const std::string m = " -i " + quoted(image) + " ";
  const std::string h = quoted(dir / "hello.txt");
  const std::string d = quoted(dir / "data.bin");
  std::ostringstream script;
  script << "set -e; export MTOOLS_SKIP_CHECK=1; cd " << quoted(dir.path()) << ";"
         << "mkfs.fat " << spec.mkfs << " -C " << quoted(image) << " " << spec.kilobytes << " >/dev/null;"
         << "mcopy" << m << quoted(dir / "empty") << " ::/EMPTY.TXT;"
         << "mmd" << m << "::/Docs ::/Docs/Sub ::/Gone;"
         << "mcopy" << m << h << " '::/Café crème.txt';"
         << "mcopy" << m << h << " ::/README.TXT;"
         << "mcopy" << m << h << " ::/README.BAK;"
         << "mcopy" << m << d << " '::/Docs/A rather long file name for testing.bin';"
         << "mcopy" << m << h << " ::/Docs/Sub/deep.txt;"
         << "mcopy" << m << d << " '::/Gone/Inside the gone folder.bin';"
         << "mcopy" << m << d << " '::/Deleted long name file.dat';"
         << "mdel" << m << "'::/Deleted long name file.dat' ::/README.BAK;"
         << "mdeltree" << m << "::/Gone;";
  int status = 0;
  std::string out = runShell(script.str() + " 2>&1", &status);
  if (status != 0) ADD_FAILURE() << "building the image failed: " << out;
  return image;
}

struct Searched {
  FoundEntries entries;
  bool exhaustive = false;
  RecordingJob job;
};

// Commits the volume as the wizard would (volume check) and runs a search.
void search(SectorSource& source, const std::string& type, bool exhaustiveSearch, Searched& out,
            std::vector<SectorNumber>* lost = nullptr) {
  SectorReader reader(source, &out.job.prompts);
  if (lost) reader.setUnreadableSink([lost](SectorNumber s) { lost->push_back(s); });
  const std::uint64_t end = source.sectorCount();
  auto checked = checkVolume(reader, fileSystemTypeFromText(type).value(), 0, end);
  ASSERT_TRUE(checked) << type;
  VolumeParameters parameters = *checked;
  reader.setSelectionEnd(static_cast<std::int64_t>(end));
  out.exhaustive = exhaustiveSearch;
  FatSearchContext ctx{.reader = reader,
                       .parameters = parameters,
                       .fileSystemType = fileSystemTypeFromText(type).value(),
                       .entries = out.entries,
                       .exhaustiveSearch = out.exhaustive,
                       .partitionEnd = end};
  if (exhaustiveSearch) runFatExhaustiveSearch(out.job, ctx);
  else runFatDirectoryTreeSearch(out.job, ctx);
}

void search(const fs::path& image, const std::string& type, bool exhaustiveSearch, Searched& out) {
  auto source = FileSectorSource::open(image.string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(source);
  search(**source, type, exhaustiveSearch, out);
}

// Regular files that The Sleuth Kit lists, "path" or "path (deleted)".
std::set<std::string> sleuthKitFiles(const fs::path& image) {
  int status = 0;
  std::string out = runShell("fls -r -p " + quoted(image) + " 2>/dev/null", &status);
  std::set<std::string> files;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("r/r ", 0) != 0) continue;
    const bool deleted = line.find(" * ") != std::string::npos;
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    files.insert(line.substr(tab + 1) + (deleted ? " (deleted)" : ""));
  }
  return files;
}

std::set<std::string> ourFiles(const Paths& paths) {
  std::set<std::string> files;
  for (const auto& p : paths)
    if (p.find("/ (deleted)") == std::string::npos && (p.empty() || p.back() != '/')) files.insert(p);
  return files;
}

const ImageSpec kImages[] = {
    {"FAT12", "-F 12", 2048},
    {"FAT16", "-F 16 -s 4", 16384},
    {"FAT32", "-F 32 -s 1", 40960},
};

TEST(FatRealImages, TreeSearchListsWhatTheToolsWrote) {
  if (!toolsPresent()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
  for (const ImageSpec& spec : kImages) {
    TempDir dir;
    const fs::path image = buildImage(dir, spec);
    const std::string before = sha256File(image);
    Searched s;
    search(image, spec.type, false, s);
    const Paths expected = {
        "Café crème.txt",
        "Deleted long name file.dat (deleted)",  // whole, not cut to 13 characters
        "Docs/",
        "Docs/A rather long file name for testing.bin",
        "Docs/Sub/",
        "Docs/Sub/deep.txt",  // a lowercase 8.3 name: no long name, case marks
        "Gone/ (deleted)",
        "Gone/Inside the gone folder.bin (deleted)",
        "README.TXT",
        "_EADME.BAK (deleted)",
    };
    EXPECT_EQ(treePaths(s.entries), expected) << spec.type;
    EXPECT_EQ(s.job.completion, Completion::Stopped);
    EXPECT_FALSE(s.exhaustive);
    // Sizes as written; the empty file is not listed at all.
    std::uint64_t total = 0;
    for (const FileNode& f : s.entries.FileList) {
      EXPECT_EQ(f.size, nameOf(f).ends_with(".txt") || nameOf(f).ends_with(".TXT") || nameOf(f).ends_with(".BAK")
                            ? 12u : 5000u)
          << nameOf(f);
      total += f.size;
    }
    EXPECT_EQ(s.entries.TotalSize, total);
    if (sleuthKitPresent()) {
      // The Sleuth Kit names the deleted short entry with its lost first
      // letter as it finds it; compare everything else.
      auto theirs = sleuthKitFiles(image);
      auto ours = ourFiles(treePaths(s.entries));
      std::erase_if(theirs, [](const std::string& p) { return p.find("EADME.BAK") != std::string::npos; });
      std::erase_if(ours, [](const std::string& p) { return p.find("EADME.BAK") != std::string::npos; });
      theirs.erase("EMPTY.TXT");
      for (const auto& p : theirs)
        if (p.rfind("_ONE/", 0) == 0) {
          theirs.insert("Gone/" + p.substr(5));
          theirs.erase(p);
          break;
        }
      EXPECT_EQ(ours, theirs) << spec.type;
    }
    EXPECT_EQ(sha256File(image), before) << "the search must not write to its source";
  }
}

TEST(FatRealImages, ExhaustiveSearchFindsTheSameTreeAndNoEmptyLost) {
  if (!toolsPresent()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
  for (const ImageSpec& spec : kImages) {
    TempDir dir;
    const fs::path image = buildImage(dir, spec);
    Searched tree;
    search(image, spec.type, false, tree);
    Searched sweep;
    search(image, spec.type, true, sweep);
    EXPECT_EQ(treePaths(sweep.entries), treePaths(tree.entries)) << spec.type;
    EXPECT_EQ(sweep.job.completion, Completion::SearchDone);
  }
}

// The exhaustive search sweeps an image file in memory on two threads: they
// find the folders one thread finds, numbered in the same order, and the
// bad-sector rules ask the same questions and lose the same sectors in the
// same order, also where the helper thread cannot read.
TEST(FatRealImages, TwoThreadsSweepWhatOneSweeps) {
  if (!toolsPresent()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
  TempDir dir;
  // 120 folders spread over the volume, each followed by 300 KB of file.
  const fs::path image = dir / "spread.img";
  writeFile(dir / "filler.bin", std::string(300 * 1024, 'x'));
  std::ostringstream script;
  script << "set -e; export MTOOLS_SKIP_CHECK=1; mkfs.fat -F 32 -s 1 -C " << quoted(image) << " 40960 >/dev/null;"
         << "for i in $(seq 0 119); do mmd -i " << quoted(image) << " ::/F$i; mcopy -i " << quoted(image) << " "
         << quoted(dir / "filler.bin") << " ::/F$i/fill.bin; done; mdeltree -i " << quoted(image) << " ::/F7 ::/F90";
  int status = 0;
  const std::string output = runShell(script.str() + " 2>&1", &status);
  ASSERT_EQ(status, 0) << output;
  auto opened = FileSectorSource::open(image.string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(opened);
  const double sectors = static_cast<double>((*opened)->sectorCount());
  struct Case {
    const char* what;
    double badFrom, badTo;  // fractions of the volume
  };
  for (const Case& c : {Case{"readable", 0, 0}, Case{"failing near the end", 0.80, 0.81},
                        Case{"failing in the middle", 0.45, 0.55}}) {
    SCOPED_TRACE(c.what);
    const auto badFirst = static_cast<SectorNumber>(c.badFrom * sectors);
    const auto badEnd = static_cast<SectorNumber>(c.badTo * sectors);
    Searched one, two;
    std::vector<SectorNumber> lostOne, lostTwo;
    for (auto [twoThreads, out, lost] : {std::tuple{false, &one, &lostOne}, std::tuple{true, &two, &lostTwo}}) {
      FailingImage source(**opened, twoThreads, 1, badFirst, badEnd);
      out->job.prompts.badSectorAnswers = {BadSectorAnswer::Skip, BadSectorAnswer::Retry, BadSectorAnswer::SkipAll};
      search(source, "FAT32", true, *out, lost);
    }
    auto listing = [](const FoundEntries& entries) {
      std::vector<std::string> rows;
      for (const DirectoryNode& d : entries.DirectoryList)
        rows.push_back(nameOf(d) + " " + std::to_string(d.ownId) + " " + std::to_string(d.parentId) + d.deleted);
      for (const FileNode& f : entries.FileList)
        rows.push_back(f.narrowName + " " + std::to_string(f.parentId) + " " + std::to_string(f.size) + f.deleted);
      return rows;
    };
    EXPECT_GT(one.entries.DirectoryCount, 100u);
    EXPECT_EQ(listing(two.entries), listing(one.entries));
    EXPECT_EQ(two.job.prompts.badSectorQuestions, one.job.prompts.badSectorQuestions);
    EXPECT_EQ(lostTwo, lostOne);
    if (c.badTo > c.badFrom) {
      EXPECT_FALSE(lostOne.empty());
    }
  }
}

// Overwrites the first sector of a cluster of the image (a copy the test made).
void zeroClusterStart(const fs::path& image, const std::string& type, std::uint32_t cluster) {
  auto source = FileSectorSource::open(image.string());
  ASSERT_TRUE(source);
  SectorReader reader(**source);
  auto checked = checkVolume(reader, fileSystemTypeFromText(type).value(), 0, (*source)->sectorCount());
  ASSERT_TRUE(checked);
  VolumeParameters p = *checked;
  const std::uint64_t sector = p.ClusterBase + std::uint64_t{cluster} * p.SectorsPerCluster;
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(sector * kSectorSize));
  const std::string zeros(kSectorSize, '\0');
  f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

std::uint32_t folderCluster(const FoundEntries& entries, const std::string& name) {
  for (const DirectoryNode& d : entries.DirectoryList)
    if (nameOf(d) == name) return d.ownId;
  ADD_FAILURE() << "no folder " << name;
  return 0;
}

TEST(FatRealImages, OrphanedFolderShowsUnderLostWithItsFiles) {
  if (!toolsPresent()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
  for (const ImageSpec& spec : kImages) {
    TempDir dir;
    const fs::path image = buildImage(dir, spec);
    Searched before;
    search(image, spec.type, false, before);
    zeroClusterStart(image, spec.type, folderCluster(before.entries, "Docs"));

    Searched sweep;
    search(image, spec.type, true, sweep);
    const Paths paths = treePaths(sweep.entries);
    // Docs is gone with its long-named file; Sub has lost its parent and its
    // name (its entry lived in Docs), and keeps its file.
    const std::uint32_t sub = folderCluster(before.entries, "Sub");
    const auto index = sweep.entries.findDirectory(sub);
    ASSERT_GE(index, 0) << spec.type;
    const DirectoryNode& node = sweep.entries.DirectoryList[static_cast<std::size_t>(index)];
    EXPECT_EQ(node.parentId, kLostId);
    const std::string lostSub = "Lost/" + nameOf(node) + "/";
    EXPECT_TRUE(nameOf(node).starts_with("Dir")) << nameOf(node);
    EXPECT_NE(std::find(paths.begin(), paths.end(), lostSub + "deep.txt"), paths.end()) << spec.type;
    EXPECT_EQ(std::find(paths.begin(), paths.end(), "Docs/"), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "README.TXT"), paths.end());

    // The tree search cannot reach Sub any more: Docs fails its "." test.
    Searched tree;
    search(image, spec.type, false, tree);
    const Paths treeOnly = treePaths(tree.entries);
    EXPECT_NE(std::find(treeOnly.begin(), treeOnly.end(), "Docs/"), treeOnly.end());
    EXPECT_EQ(std::find(treeOnly.begin(), treeOnly.end(), "Docs/Sub/"), treeOnly.end());
  }
}

// Writes one FAT entry into both FATs of the image.
void setFatEntry(const fs::path& image, const std::string& type, std::uint32_t cluster, std::uint32_t value) {
  auto source = FileSectorSource::open(image.string());
  ASSERT_TRUE(source);
  SectorReader reader(**source);
  auto checked = checkVolume(reader, fileSystemTypeFromText(type).value(), 0, (*source)->sectorCount());
  ASSERT_TRUE(checked);
  VolumeParameters p = *checked;
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  for (std::uint64_t start : {p.Fat1Start, p.Fat2Start}) {
    const std::uint64_t base = start * kSectorSize;
    if (type == "FAT12") {
      const std::uint64_t at = base + cluster * 3 / 2;
      unsigned char b[2];
      f.seekg(static_cast<std::streamoff>(at));
      f.read(reinterpret_cast<char*>(b), 2);
      if (cluster % 2 == 0) {
        b[0] = static_cast<unsigned char>(value & 0xFF);
        b[1] = static_cast<unsigned char>((b[1] & 0xF0) | ((value >> 8) & 0x0F));
      } else {
        b[0] = static_cast<unsigned char>((b[0] & 0x0F) | ((value << 4) & 0xF0));
        b[1] = static_cast<unsigned char>((value >> 4) & 0xFF);
      }
      f.seekp(static_cast<std::streamoff>(at));
      f.write(reinterpret_cast<char*>(b), 2);
    } else {
      const int width = type == "FAT16" ? 2 : 4;
      f.seekp(static_cast<std::streamoff>(base + std::uint64_t{cluster} * static_cast<std::uint64_t>(width)));
      for (int i = 0; i < width; ++i) f.put(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
  }
}

TEST(FatRealImages, LoopingFatAndSelfNamingFolderEndWithWhatCouldBeRead) {
  if (!toolsPresent()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
  for (const ImageSpec& spec : kImages) {
    TempDir dir;
    const fs::path image = buildImage(dir, spec);
    Searched before;
    search(image, spec.type, false, before);
    const std::uint32_t docs = folderCluster(before.entries, "Docs");
    const std::uint32_t sub = folderCluster(before.entries, "Sub");
    // Docs' chain loops on itself; Sub's ".." names Sub itself.
    setFatEntry(image, spec.type, docs, docs);
    {
      auto source = FileSectorSource::open(image.string());
      SectorReader reader(**source);
      auto checked = checkVolume(reader, fileSystemTypeFromText(spec.type).value(), 0, (*source)->sectorCount());
      ASSERT_TRUE(checked);
      VolumeParameters p = *checked;
      std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
      const std::uint64_t dotdot = (p.ClusterBase + std::uint64_t{sub} * p.SectorsPerCluster) * kSectorSize + 32;
      f.seekp(static_cast<std::streamoff>(dotdot + 26));
      f.put(static_cast<char>(sub & 0xFF));
      f.put(static_cast<char>((sub >> 8) & 0xFF));
      f.seekp(static_cast<std::streamoff>(dotdot + 20));
      f.put(static_cast<char>((sub >> 16) & 0xFF));
      f.put(static_cast<char>((sub >> 24) & 0xFF));
    }
    Searched tree;
    search(image, spec.type, false, tree);
    EXPECT_EQ(treePaths(tree.entries), treePaths(before.entries)) << spec.type;

    Searched sweep;
    search(image, spec.type, true, sweep);
    const Paths paths = treePaths(sweep.entries);
    // Sub is its own parent: it goes under "Lost" and keeps its file.
    const auto index = sweep.entries.findDirectory(sub);
    ASSERT_GE(index, 0);
    const std::string name = nameOf(sweep.entries.DirectoryList[static_cast<std::size_t>(index)]);
    EXPECT_NE(std::find(paths.begin(), paths.end(), "Lost/" + name + "/deep.txt"), paths.end()) << spec.type;
    EXPECT_EQ(sweep.job.completion, Completion::SearchDone);
  }
}

}  // namespace
}  // namespace dravolin::test
