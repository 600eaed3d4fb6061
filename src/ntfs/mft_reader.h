#pragma once
// Reading MFT records and file runs from a volume: the run list of $MFT,
// record numbers to sectors, and a file's full run list. The reading goes
// through the SectorReader; the decoding is left to the pure readers.
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "common/error.h"
#include "disk/sector_reader.h"
#include "ntfs/boot_sector.h"
#include "ntfs/data_stream.h"
#include "ntfs/file_data.h"

namespace dravolin {

// Where the records of $MFT lie.
struct MftRunList {
  std::vector<DataRun> runs;     // $MFT's $DATA in VCN order (empty: not loaded)
  std::uint64_t data_size = 0;   // $MFT's data size
  std::uint64_t covered_bytes = 0;  // bytes the runs cover without holes from VCN 0, at most data_size
  // False when the runs cover less than the data size (a missing extent, or
  // runs that do not decode): the walk then sees only part of the MFT.
  bool complete = false;
  // After a sector scan (no run list): the sector where the scan found each
  // record that carries its own number, extension records included, so that
  // the saving still finds the extents a file's attribute list names.
  std::unordered_map<std::uint64_t, SectorNumber> scannedRecords;

  bool empty() const { return runs.empty(); }
  // Records the runs reach, from number 0.
  std::uint64_t recordCount(const NtfsGeometry& geometry) const {
    return geometry.record_size ? covered_bytes / geometry.record_size : 0;
  }
};

// Reads record 0 ($MFT) at the MFT cluster of the geometry and decodes its
// unnamed $DATA runs, extents in other records (through its attribute list)
// included; those are located through the runs of record 0 itself. Io when
// record 0 cannot be read, NotFound when it is not a usable "FILE" record or
// has no non-resident $DATA.
[[nodiscard]] Result<MftRunList> LoadMftRunList(SectorReader& reader, const NtfsGeometry& geometry);

// Device sector of the first byte of record number through the MFT run list;
// nullopt when the record lies beyond the runs or in a sparse run.
[[nodiscard]] std::optional<SectorNumber> MftNumberToSector(const MftRunList& mft, const NtfsGeometry& geometry,
                                                            std::uint64_t record_number);

// The raw bytes (update sequence not applied) of record number, read sector
// by sector through the run list where the record crosses a run boundary.
// NotFound beyond the runs, Io when the source fails.
[[nodiscard]] Result<std::vector<std::byte>> ReadMftRecord(SectorReader& reader, const MftRunList& mft,
                                                           const NtfsGeometry& geometry,
                                                           std::uint64_t record_number);

// The raw bytes of the record at a device sector (contiguous, as the scan
// found it). Io when the source fails.
[[nodiscard]] Result<std::vector<std::byte>> ReadRecordAtSector(SectorReader& reader, const NtfsGeometry& geometry,
                                                                SectorNumber sector);

// Fetches records by number through the MFT run list (for collectDataStream
// and collectFileNames), or, without runs, at the sectors a scan found them;
// with neither it fetches nothing.
[[nodiscard]] FetchRecord makeRecordFetcher(SectorReader& reader, const MftRunList& mft, const NtfsGeometry& geometry);

// Reads clusters of the volume through the sector reader.
[[nodiscard]] ReadClusters makeClusterReader(SectorReader& reader, const NtfsGeometry& geometry);

// The unnamed $DATA of the file whose base record lies at record_sector:
// resident value or full run list, extension records found through its
// attribute list via the MFT run list (see collectDataStream). record_number
// is the base record's number when the caller knows it. complete is false
// when an extent could not be found (for instance when the MFT run list is
// empty after a scan). NotFound when the record is not a usable base record
// or has no unnamed $DATA; Io when it cannot be read.
[[nodiscard]] Result<NtfsDataStream> ReadRecordRuns(SectorReader& reader, const NtfsGeometry& geometry,
                                                    const MftRunList& mft, SectorNumber record_sector,
                                                    std::optional<std::uint64_t> record_number = std::nullopt);

}  // namespace dravolin
