#pragma once
// $INDEX_ROOT (in the MFT record) and the $INDEX_ALLOCATION attribute that
// says where a folder's index buffers lie.
#include <cstdint>

#include "common/error.h"
#include "ntfs/attribute.h"
#include "ntfs/data_runs.h"
#include "ntfs/index_entry.h"

namespace dravolin {

struct IndexRoot {
  std::uint32_t indexed_attribute_type = 0;  // 0x30 for folders
  std::uint32_t collation_rule = 0;
  std::uint32_t index_buffer_size = 0;       // bytes of each index buffer
  std::uint8_t clusters_per_index_buffer = 0;
  IndexEntries node;                         // the entries held in the root
};

// Decodes an index root value (16 bytes, then a node). NotFound when a field
// lies out of range.
[[nodiscard]] Result<IndexRoot> parseIndexRoot(ByteSpan value);

// The folder's $I30 index root, from its resident attribute.
[[nodiscard]] Result<IndexRoot> readIndexRoot(const MftRecord& record);

// The runs of the folder's $I30 index allocation held in this record.
// NotFound when the record has no such non-resident attribute or its runs do
// not decode.
[[nodiscard]] Result<std::vector<DataRun>> readIndexAllocationRuns(const MftRecord& record);

}  // namespace dravolin
