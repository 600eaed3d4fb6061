// The NTFS searches on a failing disk: the fixture read through a source that
// fails the sectors of chosen MFT records. The search goes on past them,
// lists every other record, and names the lost records by number.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "app/volume_check.h"
#include "disk/fault_injecting_source.h"
#include "disk/file_source.h"
#include "ntfs/mft_reader.h"
#include "ntfs/ntfs_search.h"
#include "ntfs/ntfs_volume.h"
#include "support/test_support.h"

namespace dravolin::test {
namespace {

namespace fs = std::filesystem;

class QuietJob final : public Job {
 public:
  ScriptedPrompter prompts;
  void setPercent(int) override {}
  void setStatus(const std::string&) override {}
  void setLastName(const std::string&) override {}
  void updateStatistics(const SearchStatistics&) override {}
  void checkpoint() override {}
  bool stopRequested() const override { return stop_; }
  void requestStop() override { stop_ = true; }
  void clearStopRequest() override { stop_ = false; }
  void complete(Completion) override {}
  Prompter& prompter() override { return prompts; }

 private:
  bool stop_ = false;
};

struct Searched {
  FoundEntries entries;
  MftRunList mft;
  bool exhaustive = false;
  QuietJob job;
};

// Runs the MFT walk or the scan on the volume as the healthy image commits
// it; failing sectors are retried one by one, so exactly they are lost.
void search(SectorSource& source, SectorSource& healthy, bool exhaustive, Searched& out) {
  SectorReader check(healthy);
  const std::uint64_t end = source.sectorCount();
  auto parameters = checkVolume(check, FsType::Ntfs, 0, end);
  ASSERT_TRUE(parameters);
  out.job.prompts.badSectorAnswers = {BadSectorAnswer::RetryAll};
  SectorReader reader(source, &out.job.prompts);
  reader.setSelectionEnd(static_cast<std::int64_t>(end));
  out.exhaustive = exhaustive;
  NtfsSearchContext ctx{.reader = reader, .parameters = *parameters, .entries = out.entries, .mft = out.mft,
                        .exhaustiveSearch = out.exhaustive, .partitionStart = 0, .partitionEnd = end};
  if (exhaustive) runNtfsExhaustiveSearch(out.job, ctx);
  else runNtfsMftWalk(out.job, ctx);
}

// Every listed record by number: its name and whether it is a folder.
std::map<std::uint32_t, std::string> listed(const FoundEntries& entries) {
  std::map<std::uint32_t, std::string> out;
  for (const FileNode& f : entries.FileList) out[f.firstCluster] = std::string(f.wideName.begin(), f.wideName.end());
  for (const DirectoryNode& d : entries.DirectoryList)
    if (d.ownId != kLostId) out[d.ownId] = "/" + std::string(d.wideName.begin(), d.wideName.end());
  return out;
}

TEST(NtfsReadLoss, UnreadableRecordsAreNamedAndEverythingElseListed) {
  const fs::path image = fixturePath("ntfs.img");
  if (!fs::exists(image)) GTEST_SKIP() << "fixture images not built";
  auto opened = FileSectorSource::open(image.string());
  ASSERT_TRUE(opened);
  SectorSource& healthySource = **opened;

  Searched healthyWalk;
  search(healthySource, healthySource, false, healthyWalk);
  SectorReader reader(healthySource);
  auto parameters = checkVolume(reader, FsType::Ntfs, 0, healthySource.sectorCount());
  ASSERT_TRUE(parameters);
  auto geometry = readNtfsGeometry(reader, *parameters, 0, healthySource.sectorCount());
  ASSERT_TRUE(geometry);
  auto sectorOf = [&](std::uint64_t record) { return MftNumberToSector(healthyWalk.mft, *geometry, record).value(); };
  const std::uint32_t perRecord = geometry->sectorsPerRecord();
  ASSERT_EQ(perRecord, 2u);

  // Record numbers from the fixture's manifest: 64 /Documents (its
  // folders go under Lost), 75 /hello.txt and 76 the next file.
  struct Case {
    const char* what;
    std::vector<std::uint64_t> records;  // whose sectors fail
    bool secondSectorOnly;
  } cases[] = {
      {"a folder's record", {64}, false},
      {"two files' records in a row", {75, 76}, false},
      {"the second sector of a record", {75}, true},
  };
  for (bool exhaustive : {false, true}) {
    Searched healthy;
    search(healthySource, healthySource, exhaustive, healthy);
    const auto before = listed(healthy.entries);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (exhaustive ? " scan" : " walk"));
      std::set<SectorNumber> bad;
      std::vector<SectorRange> badRanges;
      for (std::uint64_t record : c.records) {
        ASSERT_TRUE(before.contains(static_cast<std::uint32_t>(record))) << record;
        const SectorNumber first = sectorOf(record) + (c.secondSectorOnly ? 1 : 0);
        const SectorNumber end = sectorOf(record) + perRecord;
        for (SectorNumber s = first; s < end; ++s) bad.insert(s);
        if (!badRanges.empty() && badRanges.back().end == first) badRanges.back().end = end;
        else badRanges.push_back({first, end});
      }
      FaultInjectingSource failing(healthySource, bad);
      Searched damaged;
      search(failing, healthySource, exhaustive, damaged);

      // Everything but the failing records is still listed, by number.
      auto after = listed(damaged.entries);
      for (const auto& [number, name] : before) {
        const bool failed = std::find(c.records.begin(), c.records.end(), number) != c.records.end();
        if (failed && !c.secondSectorOnly) {
          EXPECT_FALSE(after.contains(number)) << name;
        } else {
          EXPECT_TRUE(after.contains(number)) << "not listed: " << number << " " << name;
        }
      }
      // One loss naming the records and their sectors.
      ASSERT_EQ(damaged.entries.Losses.list.size(), 1u);
      const ReadLoss& loss = damaged.entries.Losses.list[0];
      EXPECT_EQ(loss.kind, ReadLossKind::MftRecord);
      EXPECT_EQ(loss.recordNumbers, c.records);
      EXPECT_EQ(loss.sectors, badRanges);
    }
  }
}

// A scan of records that do not carry their numbers reads the index buffers
// to number folders: a buffer that cannot be read whole is named as a loss
// of its folder, and the scan goes on.
TEST(NtfsReadLoss, UnreadableIndexBufferIsNamedWithItsFolder) {
  const fs::path image = fixturePath("damaged/ntfs-old-record-format.img");
  if (!fs::exists(image)) GTEST_SKIP() << "fixture images not built";
  auto opened = FileSectorSource::open(image.string());
  ASSERT_TRUE(opened);
  SectorSource& healthySource = **opened;
  // The first index buffer of the volume.
  SectorNumber first = 0;
  std::vector<std::byte> sector(kSectorSize);
  for (SectorNumber s = 0; s < healthySource.sectorCount() && first == 0; ++s) {
    ASSERT_EQ(healthySource.read(s, 1, sector), TransferStatus::Ok);
    if (std::memcmp(sector.data(), "INDX", 4) == 0) first = s;
  }
  ASSERT_NE(first, 0u);
  Searched healthy;
  search(healthySource, healthySource, true, healthy);
  FaultInjectingSource failing(healthySource, {first + 1, first + 2});
  Searched damaged;
  search(failing, healthySource, true, damaged);
  const ReadLoss* named = nullptr;
  for (const ReadLoss& loss : damaged.entries.Losses.list)
    if (loss.kind == ReadLossKind::FolderSectors) named = &loss;
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->sectors, (std::vector<SectorRange>{{first + 1, first + 3}}));
  // The volume's first index buffer is the root's (record 5, the tree's root).
  EXPECT_EQ(named->folderId, kNtfsRootId);
  // The files are found from their records all the same.
  EXPECT_EQ(damaged.entries.FileCount, healthy.entries.FileCount);
}

}  // namespace
}  // namespace dravolin::test
