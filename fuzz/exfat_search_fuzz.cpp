// Any bytes as an exFAT volume: the volume check, both searches and the
// copying of every file found must end, stay inside their buffers and never
// loop, whatever the FAT, the bitmap and the folders say.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/volume_check.h"
#include "common/worker_job.h"
#include "disk/memory_source.h"
#include "exfat/exfat_search.h"
#include "exfat/exfat_volume.h"
#include "exfat/file_copy.h"

namespace {

class SilentPrompter final : public dravolin::Prompter {
 public:
  dravolin::BadSectorAnswer askBadSector() override { return dravolin::BadSectorAnswer::SkipAll; }
  dravolin::ReplaceAnswer askReplace(const std::string&) override { return dravolin::ReplaceAnswer::No; }
  bool askYesNo(const std::string&) override { return true; }
  void inform(const std::string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  if (size < kSectorSize) return 0;
  MemorySectorSource source(std::vector<std::byte>(reinterpret_cast<const std::byte*>(data),
                                                   reinterpret_cast<const std::byte*>(data) + size));
  SectorReader reader(source);
  auto checked = checkVolume(reader, FsType::ExFat, 0, source.sectorCount());
  if (!checked) return 0;
  reader.setSelectionEnd(static_cast<std::int64_t>(source.sectorCount()));
  SilentPrompter prompter;
  for (bool exhaustive : {false, true}) {
    FoundEntries entries;
    bool switched = false;
    ExfatSearchContext context{.reader = reader,
                               .parameters = *checked,
                               .entries = entries,
                               .exhaustiveSearch = switched,
                               .partitionEnd = source.sectorCount()};
    WorkerJob job(prompter);
    job.runHere([&](Job& j) {
      if (exhaustive) runExfatExhaustiveSearch(j, context);
      else runExfatTreeSearch(j, context);
    });
    auto geometry = exfatGeometryOf(reader, *checked);
    if (!geometry) continue;
    ExfatVolume volume(reader, *geometry);
    std::vector<std::byte> buffer(std::max<std::uint64_t>(geometry->clusterBytes(), 1 << 16));
    for (const FileNode& file : entries.FileList) {
      // Sizes are bounded by what the copy hands on, never allocated.
      const ExfatStream stream{file.firstCluster, std::min<std::uint64_t>(file.size, 1 << 20), file.extra,
                               file.contiguous, file.isDeleted()};
      (void)copyExfatStream(volume, stream, buffer, [](std::span<const std::byte>) { return true; },
                            [] { return true; });
    }
  }
  return 0;
}
