// The FAT searches on a large FAT32 image against the peers named in the
// benchmark script: the directory tree search against `fls -r -p`, the
// exhaustive search against `cat IMAGE > /dev/null`. Image path in
// DRAVOLIN_FAT_BENCH_IMAGE; peak memory is reported as a counter (MiB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>

#include "common/job.h"
#include "disk/file_source.h"
#include "disk/sector_reader.h"
#include "entries/found_entries.h"
#include "fat/fat_search.h"
#include "partition/volume_check.h"

namespace {

std::string imagePath() {
  const char* p = std::getenv("DRAVOLIN_FAT_BENCH_IMAGE");
  return p ? p : "";
}

class SilentPrompter final : public dravolin::Prompter {
 public:
  dravolin::BadSectorAnswer askBadSector() override { return dravolin::BadSectorAnswer::SkipAll; }
  dravolin::ReplaceAnswer askReplace(const std::string&) override { return dravolin::ReplaceAnswer::No; }
  bool askYesNo(const std::string&) override { return false; }
  void inform(const std::string&) override {}
};

class QuietJob final : public dravolin::Job {
 public:
  void setPercent(int) override {}
  void setStatus(const std::string&) override {}
  void setLastName(const std::string&) override {}
  void updateStatistics(const dravolin::SearchStatistics& s) override { benchmark::DoNotOptimize(s.value); }
  void checkpoint() override {}
  bool stopRequested() const override { return stop_; }
  void requestStop() override { stop_ = true; }
  void complete(dravolin::Completion) override {}
  dravolin::Prompter& prompter() override { return prompter_; }

 private:
  bool stop_ = false;
  SilentPrompter prompter_;
};

double peakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void runShell(benchmark::State& state, const std::string& command) {
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
}

void BM_Fls(benchmark::State& state) { runShell(state, "fls -r -p '" + imagePath() + "' > /dev/null"); }
void BM_Cat(benchmark::State& state) { runShell(state, "cat '" + imagePath() + "' > /dev/null"); }

void runSearch(benchmark::State& state, bool exhaustive) {
  auto source = dravolin::FileSectorSource::open(imagePath(), dravolin::OpenMode::ReadOnly, true);
  if (!source) {
    state.SkipWithError("cannot open the image");
    return;
  }
  dravolin::SectorReader reader(**source);
  const std::uint64_t end = (*source)->sectorCount();
  dravolin::VolumeParameters parameters;
  if (!dravolin::checkVolume(reader, "FAT32", 0, end, parameters)) {
    state.SkipWithError("not a FAT32 volume");
    return;
  }
  reader.setSelectionEnd(static_cast<std::int64_t>(end));
  std::uint64_t files = 0;
  for (auto _ : state) {
    dravolin::FoundEntries entries;
    bool flag = exhaustive;
    QuietJob job;
    dravolin::FatSearchContext ctx{.reader = reader,
                                   .parameters = parameters,
                                   .fileSystemType = "FAT32",
                                   .entries = entries,
                                   .exhaustiveSearch = flag,
                                   .partitionEnd = end};
    if (exhaustive) dravolin::runFatExhaustiveSearch(job, ctx);
    else dravolin::runFatDirectoryTreeSearch(job, ctx);
    files = entries.FileCount;
  }
  state.counters["files"] = static_cast<double>(files);
  state.counters["peak_MiB"] = peakMiB();
}

void BM_TreeSearch(benchmark::State& state) { runSearch(state, false); }
void BM_ExhaustiveSearch(benchmark::State& state) { runSearch(state, true); }

BENCHMARK(BM_Fls)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TreeSearch)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExhaustiveSearch)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
