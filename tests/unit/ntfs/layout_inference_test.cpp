// Which volume layout the folders found by the sector scan belong to: the
// volume's own layout is confirmed by the index buffers at the clusters its
// folders name, and further layouts are inferred from pairs of folders whose
// first index buffers were found, only with sectors per cluster 1 to 128 in
// powers of two. The probe stands for the disk: it records every sector the
// analysis reads and answers "INDX" for the sectors of the case (the records
// lie after the start every guess would give, so a guess that were tried
// would show in the probes).
#include <gtest/gtest.h>

#include <ostream>
#include <set>

#include "ntfs/scan_lists.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

struct Folder {
  SectorNumber recordSector;
  std::uint64_t number;
  std::uint64_t indexCluster;
};

struct LayoutCase {
  std::string what;
  friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.what; }
  std::vector<Folder> folders;
  std::vector<IndexBufferEntry> buffers;       // sector, owner, vcn
  std::set<SectorNumber> indexSectors;         // where the disk holds "INDX"
  std::optional<NtfsLayout> known;             // the volume's own layout, checked first
  std::vector<SectorNumber> expectedProbes;    // every sector read, in order
  std::vector<NtfsLayout> expectedLayouts;
  std::vector<std::uint32_t> expectedFileSystems;  // per folder, after closing
};

constexpr SectorNumber kEnd = 4'000'000;

const LayoutCase kCases[] = {
    {"two first buffers 32 sectors apart, 4 clusters apart give K 8 and start 63",
     {{100, 64, 125'000}, {102, 65, 125'004}},
     {{1'000'063, 64, 0}, {1'000'095, 65, 0}},
     {1'000'063, 1'000'095},
     std::nullopt,
     {1'000'063, 1'000'095},
     {{63, 8}},
     {1, 1}},
    {"a pair implying 3 sectors per cluster is never tried",
     {{499'000, 64, 1'000}, {499'002, 65, 1'010}},
     {{500'000, 64, 0}, {500'030, 65, 0}},
     {500'000, 500'030},
     std::nullopt,
     {},
     {},
     {1, 1}},
    {"a pair implying 256 sectors per cluster is never tried",
     {{499'000, 64, 1'000}, {499'002, 65, 1'001}},
     {{500'000, 64, 0}, {500'256, 65, 0}},
     {500'000, 500'256},
     std::nullopt,
     {},
     {},
     {1, 1}},
    {"buffers in the opposite order of their clusters give no layout",
     {{100, 64, 2'000}, {102, 65, 1'000}},
     {{500'000, 64, 0}, {508'000, 65, 0}},
     {500'000, 508'000},
     std::nullopt,
     {},
     {},
     {1, 1}},
    {"a layout whose start would lie before sector 0 is never tried",
     {{100, 64, 900'000}, {102, 65, 900'001}},
     {{1'000, 64, 0}, {1'008, 65, 0}},
     {1'000, 1'008},
     std::nullopt,
     {},
     {},
     {1, 1}},
    {"buffers that are not the first of their folder (VCN above 0) are not used",
     {{100, 64, 125'000}, {102, 65, 125'004}},
     {{1'000'063, 64, 1}, {1'000'095, 65, 1}},
     {1'000'063, 1'000'095},
     std::nullopt,
     {},
     {},
     {1, 1}},
    {"the known layout confirms its folders and claims their buffers; the rest is inferred",
     // Folders 64 and 65 lie at start 2048 with 8 sectors per cluster; 80 and
     // 81 belong to an older volume at start 63 with 4 sectors per cluster.
     {{3'000, 64, 100}, {3'002, 65, 200}, {3'004, 80, 10'000}, {3'006, 81, 10'010}},
     {{2'848, 64, 0}, {3'648, 65, 0}, {40'063, 80, 0}, {40'103, 81, 0}},
     {2'848, 3'648, 40'063, 40'103},
     NtfsLayout{2'048, 8},
     // The known check reads every folder's cluster; then the pair (80, 81)
     // gives start 63 and K 4, which reads the two remaining folders'.
     {2'848, 3'648, 2'048 + 10'000 * 8, 2'048 + 10'010 * 8, 40'063, 40'103},
     {{2'048, 8}, {63, 4}},
     {1, 1, 2, 2}},
    {"a pair whose sector distance is not a whole number of clusters is never tried",
     {{100, 64, 125'000}, {102, 65, 125'004}},
     {{1'000'063, 64, 0}, {1'000'098, 65, 0}},
     {1'000'063, 1'000'098},
     std::nullopt,
     {},
     {},
     {1, 1}},
    {"a guess that only the folder that made it confirms is no volume",
     // The second folder's record lies before the guessed start, so the
     // guess can confirm nothing but the first folder's own buffer.
     {{100, 64, 125'000}, {50, 65, 125'004}},
     {{1'000'063, 64, 0}, {1'000'095, 65, 0}},
     {1'000'063, 1'000'095},
     std::nullopt,
     {1'000'063},
     {},
     {1, 1}},
    {"a folder whose index buffer is missing everywhere takes the file system of the folder before it",
     {{3'000, 64, 100}, {3'002, 65, 7'777}},
     {{2'848, 64, 0}},
     {2'848},
     NtfsLayout{2'048, 8},
     {2'848, 2'048 + 7'777 * 8},
     {{2'048, 8}},
     {1, 1}},
};

class LayoutInferenceTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutInferenceTest, ConfirmsAndInfersLayouts) {
  const LayoutCase& c = GetParam();
  std::vector<NtfsFolderEntry> folders;
  for (const Folder& f : c.folders) {
    NtfsFolderEntry entry;
    entry.recordSector = f.recordSector;
    entry.ownNumber = f.number;
    entry.numberKnown = true;
    entry.indexAllocationCluster = f.indexCluster;
    folders.push_back(entry);
  }
  std::vector<SectorNumber> probes;
  NtfsLayoutAnalysis analysis(folders, firstIndexBuffers(c.buffers), [&](SectorNumber sector) {
    probes.push_back(sector);
    return c.indexSectors.count(sector) > 0;
  });
  if (c.known) analysis.checkKnownLayout(c.known->start, c.known->sectorsPerCluster, kEnd);
  analysis.inferLayouts(kEnd);
  analysis.close();

  EXPECT_EQ(probes, c.expectedProbes);
  EXPECT_EQ(analysis.fileSystems(), c.expectedLayouts);
  std::vector<std::uint32_t> fileSystems;
  for (const auto& folder : folders) fileSystems.push_back(folder.fileSystem);
  EXPECT_EQ(fileSystems, c.expectedFileSystems);
}

INSTANTIATE_TEST_SUITE_P(Cases, LayoutInferenceTest, ::testing::ValuesIn(kCases), NameFromWhat{});

}  // namespace
}  // namespace dravolin::test
