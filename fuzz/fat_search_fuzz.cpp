// Any bytes as a FAT volume: both searches must end, stay inside their
// buffers and never loop, whatever the FAT and the directories say.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/volume_check.h"
#include "common/worker_job.h"
#include "disk/memory_source.h"
#include "fat/fat_search.h"

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
  // The first byte chooses the FAT width; the rest is the volume.
  static constexpr FsType kTypes[] = {FsType::Fat12, FsType::Fat16, FsType::Fat32};
  const FsType type = kTypes[data[0] % 3];
  std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data) + 1,
                               reinterpret_cast<const std::byte*>(data) + size);
  MemorySectorSource source(std::move(bytes));
  SectorReader reader(source);
  auto checked = checkVolume(reader, type, 0, source.sectorCount());
  if (!checked) return 0;
  const VolumeParameters parameters = *checked;
  reader.setSelectionEnd(static_cast<std::int64_t>(source.sectorCount()));
  SilentPrompter prompter;
  for (bool exhaustive : {false, true}) {
    FoundEntries entries;
    bool switched = false;
    FatSearchContext context{.reader = reader,
                             .parameters = parameters,
                             .fileSystemType = type,
                             .entries = entries,
                             .exhaustiveSearch = switched};
    WorkerJob job(prompter);
    job.runHere([&](Job& j) {
      if (exhaustive) runFatExhaustiveSearch(j, context);
      else runFatDirectoryTreeSearch(j, context);
    });
  }
  return 0;
}
