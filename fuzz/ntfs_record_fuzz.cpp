// Any bytes as an MFT record: the update sequence, the attribute walk, the
// names, the index root and the assembly of the file's data (the record
// itself standing in for every extension record), up to how far the saving
// takes it, must stay inside the buffer and end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/attribute.h"
#include "ntfs/data_stream.h"
#include "ntfs/file_name.h"
#include "ntfs/index_root.h"
#include "ntfs/standard_information.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  if (size > 64 * 1024) return 0;
  const std::vector<std::byte> input(reinterpret_cast<const std::byte*>(data),
                                     reinterpret_cast<const std::byte*>(data) + size);
  std::vector<std::byte> buffer = input;
  auto record = readMftRecord(buffer);
  if (!record) return 0;
  for (const auto& attribute : walkAttributes(*record).attributes)
    if (attribute.non_resident) (void)decodeDataRuns(attribute.runs, attribute.first_vcn);
  (void)readBestFileName(*record);
  (void)readStandardInformation(*record);
  (void)readIndexRoot(*record);
  (void)readIndexAllocationRuns(*record);
  const FetchRecord fetch = [&](std::uint64_t) -> std::optional<std::vector<std::byte>> { return input; };
  const ReadClusters zeros = [](std::uint64_t, std::uint64_t, std::span<std::byte> out) {
    std::fill(out.begin(), out.end(), std::byte{0});
    return true;
  };
  auto stream = collectDataStream(*record, std::nullopt, 512, fetch, zeros);
  if (stream) {
    std::vector<std::byte> out(std::min<std::uint64_t>(stream->data_size, 256 * 1024));
    (void)readStreamRange(*stream, 512, 0, out, zeros);
    // How far the saving takes an incomplete stream.
    (void)savableLength(*stream, 512);
  }
  return 0;
}
