#pragma once
// Assembling a file's unnamed $DATA from its base record and, through its
// attribute list, from its extension records. Pure: records and clusters
// come from callbacks.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/error.h"
#include "ntfs/file_data.h"
#include "ntfs/file_name.h"
#include "ntfs/mft_record.h"

namespace dravolin {

// The raw bytes (before the update sequence) of MFT record number, or
// nullopt when it cannot be located or read.
using FetchRecord = std::function<std::optional<std::vector<std::byte>>(std::uint64_t record_number)>;

// Largest non-resident attribute list read (its entries name the extents).
inline constexpr std::uint64_t kMaxAttributeListSize = 16u * 1024 * 1024;

// The unnamed $DATA of the file whose base record is base. Its number is
// base_number, else the number the record carries, else the record that the
// list says holds $STANDARD_INFORMATION. With an attribute list, the unnamed
// $DATA entries are taken each once in order of starting VCN; an extent in
// another record is accepted only when that record's base reference names
// the base record (number and sequence number, or for a freed base record the
// sequence number below its own, which it had in use); the sizes and flags come from
// the extent that starts at VCN 0. An extent that cannot be found or is
// refused leaves a hole and clears complete, as do runs that cover less than
// the data size; a run list that is malformed part way keeps the runs before
// the damage and sets runs_damaged. NotFound when the record has no unnamed $DATA at all;
// Corrupt when its walk ends at an unnamed $DATA holding an illegal value.
[[nodiscard]] Result<NtfsDataStream> collectDataStream(const MftRecord& base,
                                                       std::optional<std::uint64_t> base_number,
                                                       std::uint64_t cluster_size, const FetchRecord& fetch_record,
                                                       const ReadClusters& read_clusters);

// Every $FILE_NAME of the file: those of the base record, then those that
// its attribute list places in extension records (each record read once and
// accepted only when its base reference names the base record). A record
// whose only names lie in an extension record gets them this way; pick one
// with chooseFileName.
[[nodiscard]] std::vector<FileName> collectFileNames(const MftRecord& base, std::optional<std::uint64_t> base_number,
                                                     std::uint64_t cluster_size, const FetchRecord& fetch_record,
                                                     const ReadClusters& read_clusters);

}  // namespace dravolin
