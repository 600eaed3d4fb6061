#pragma once
// Index node headers and index entries, shared by the index root (in the MFT
// record) and the index buffers ("INDX") of a folder's $I30 index.
#include <cstdint>
#include <optional>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_record.h"

namespace dravolin {

inline constexpr std::uint16_t kIndexEntryHasSubNode = 0x0001;
inline constexpr std::uint16_t kIndexEntryLast = 0x0002;

struct IndexNodeHeader {
  std::uint32_t entries_offset = 0;  // from the start of the node header
  std::uint32_t index_length = 0;    // bytes in use, from the start of the node header
  std::uint32_t allocated_size = 0;
  std::uint32_t flags = 0;
};

struct IndexEntry {
  FileReference file_reference;       // the record the entry names
  std::uint16_t length = 0;
  std::uint16_t key_length = 0;
  std::uint16_t flags = 0;
  std::optional<FileName> file_name;  // the key, for $I30 entries
  std::optional<std::uint64_t> sub_node_vcn;
};

struct IndexEntries {
  IndexNodeHeader header;
  std::vector<IndexEntry> entries;  // the end entry is not included
  bool damaged = false;             // the walk stopped at a malformed entry
};

// Decodes the node header at the start of node and walks its entries up to
// the end entry. Entries must lie in the part in use (index_length, cut to
// node); a malformed entry (length below 16 or not a multiple of 8, or past
// the part in use) ends the walk with the entries before it and damaged set.
// NotFound when the node header or the first entry lies outside node.
[[nodiscard]] Result<IndexEntries> parseIndexNode(ByteSpan node);

}  // namespace dravolin
