// The exhaustive NTFS search (the sweep for MFT records and index buffers,
// the numbering, the layout checks and the assembly) over a whole NTFS
// image, through the library, against `cat` reading the same image in the
// same run. Image path in DRAVOLIN_BENCH_IMAGE (a table-less NTFS volume).
// The counters give what was found and the peak resident size of the
// process (the scan runs after `cat`, which is a child and not counted).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>

#include "disk/file_source.h"
#include "disk/sector_reader.h"
#include "ntfs/ntfs_search.h"

namespace {

std::string imagePath() {
  const char* p = std::getenv("DRAVOLIN_BENCH_IMAGE");
  return p ? p : "";
}

class QuietPrompter final : public dravolin::Prompter {
 public:
  dravolin::BadSectorAnswer askBadSector() override { return dravolin::BadSectorAnswer::Skip; }
  dravolin::ReplaceAnswer askReplace(const std::string&) override { return dravolin::ReplaceAnswer::No; }
  bool askYesNo(const std::string&) override { return false; }
  void inform(const std::string&) override {}
};

// Takes the reports as a front end polling them would: the last of each.
class BenchJob final : public dravolin::Job {
 public:
  void setPercent(int percent) override { percent_ = percent; }
  void setStatus(const std::string& text) override { status_ = text; }
  void setLastName(const std::string&) override {}
  void updateStatistics(const dravolin::SearchStatistics& statistics) override { statistics_ = statistics; }
  void checkpoint() override {}
  bool stopRequested() const override { return false; }
  void requestStop() override {}
  void clearStopRequest() override {}
  void complete(dravolin::Completion) override {}
  dravolin::Prompter& prompter() override { return prompter_; }

 private:
  int percent_ = 0;
  std::string status_;
  dravolin::SearchStatistics statistics_;
  QuietPrompter prompter_;
};

void BM_Cat(benchmark::State& state) {
  const std::string command = "cat '" + imagePath() + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
}

void BM_NtfsScan(benchmark::State& state) {
  auto source = dravolin::FileSectorSource::open(imagePath());
  if (!source) {
    state.SkipWithError("cannot open the image");
    return;
  }
  dravolin::SectorReader reader(**source);
  dravolin::FoundEntries entries;
  dravolin::MftRunList mft;
  bool exhaustive = true;
  for (auto _ : state) {
    BenchJob job;
    dravolin::NtfsSearchContext context{.reader = reader, .parameters = {}, .entries = entries, .mft = mft,
                                        .exhaustiveSearch = exhaustive, .partitionStart = 0,
                                        .partitionEnd = (*source)->sectorCount()};
    dravolin::runNtfsExhaustiveSearch(job, context);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["folders"] = entries.DirectoryCount;
  state.counters["files"] = entries.FileCount;
  state.counters["peak_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

BENCHMARK(BM_Cat)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NtfsScan)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
