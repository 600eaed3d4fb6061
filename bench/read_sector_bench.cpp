// Reading a whole image through the sector reader the way the searches do
// (series of 1,000-sector calls served in large transfers), against `cat`
// reading the same image, in the same run. Image path in DRAVOLIN_BENCH_IMAGE.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "disk/file_source.h"
#include "disk/sector_reader.h"

namespace {

std::string imagePath() {
  const char* p = std::getenv("DRAVOLIN_BENCH_IMAGE");
  return p ? p : "";
}

void BM_Cat(benchmark::State& state) {
  const std::string command = "cat '" + imagePath() + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
}

void BM_ReadSector(benchmark::State& state) {
  auto source = dravolin::FileSectorSource::open(imagePath());
  if (!source) {
    state.SkipWithError("cannot open the image");
    return;
  }
  dravolin::SectorReader reader(**source);
  const auto block = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::byte> buffer(std::size_t{block} * dravolin::kSectorSize);
  const std::uint64_t sectors = (*source)->sectorCount();
  std::uint64_t checksum = 0;
  for (auto _ : state) {
    for (std::uint64_t s = 0; s < sectors; s += block) {
      auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(block, sectors - s));
      reader.ReadSectorsAs(s, n, buffer, 1000);
      checksum += static_cast<std::uint64_t>(buffer[0]);
    }
  }
  benchmark::DoNotOptimize(checksum);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sectors * dravolin::kSectorSize));
}

}  // namespace

BENCHMARK(BM_Cat)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadSector)->Arg(16000)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
