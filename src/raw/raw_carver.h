#pragma once
// Raw recovery: the worker that scans a sector range for the header
// signatures of the selected types, follows each candidate to its end and
// writes it out below the saving path, one folder per type. At the end it
// writes its block to the activity report and the recovery history and
// says whether the search completed or was aborted.
#include <array>
#include <atomic>
#include <memory>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/job.h"
#include "disk/sector_reader.h"
#include "logs/log_file.h"
#include "raw/carved_file_writer.h"
#include "raw/file_end.h"
#include "raw/header_match.h"
#include "raw/signature_table.h"

namespace dravolin {

class ScanWindow;

inline constexpr const char* kRawSearchStatus = "Searching Selected Extensions. Please Wait...";
inline constexpr const char* kRawSearchAbortedMessage = "Raw Search Aborted.";
inline constexpr const char* kRawSavingCompletedMessage = "Raw Saving Completed Successfully.";
// A run that could not write a file it found, wrote a file with sectors it
// could not read, or could not read part of its range.
inline constexpr const char* kRawSavingNotCompletedMessage = "Raw Saving Not Completed Successfully.";

struct CarvedFile {
  std::string path;
  std::string type;
  SectorNumber startSector = 0;
  std::uint64_t sectors = 0;
  std::uint64_t bytes = 0;  // the file's length: its exact end, or its whole sectors
  bool complete = true;     // false: its format stopped parsing after `bytes`
  bool written = false;
  std::string error;                    // why it was not written
  std::vector<SectorRange> unreadable;  // its sectors written as zeros
};

struct RawCarvingSettings {
  SectorNumber start = 0;  // PartitionStart
  SectorNumber end = 0;    // PartitionEnd, exclusive
  CarvedFileTarget target;
  // The recovery history's start block: the main caption, the version text
  // and the date line made at program start.
  std::string caption;
  std::string versionText;
  std::string dateLine;
  // The elapsed-time clock of the progress display ("%d : %d : %d").
  std::function<std::string()> elapsedText;
  // Each file found, written or not, as it is found (on the worker thread).
  std::function<void(const CarvedFile&)> onFile;
  // Sectors per block of the scan and blocks per transfer; tests make
  // them small to reach the edges of the buffer.
  std::uint32_t blockSectors = 1000;
  std::uint32_t transferBlocks = 2;
  // Sectors the read buffer holds at least (0: enough for a restart after a
  // candidate followed over 40,960 sectors).
  std::uint64_t windowSectors = 0;
  // Files whose format says where they end are cut at that byte (and a
  // header that does not parse as its format is passed over); otherwise,
  // and for the other types, files end by the table's sector rules.
  bool exactEnds = false;
};

struct RawCarvingResult {
  std::uint64_t filesFound = 0;
  std::uint64_t bytesRecovered = 0;
  SectorNumber currentSector = 0;  // the scan position when it ended
  std::string lastName;
  bool aborted = false;
  bool ran = false;  // false when the read buffer could not be had
  bool completed = false;  // not aborted, every file written whole, every sector read
  std::string message;
  std::vector<CarvedFile> files;
  std::uint64_t filesWritten = 0;
  std::uint64_t filesNotWritten = 0;
  std::uint64_t filesWithUnreadableSectors = 0;
  // Sectors of the range that could not be read (the scan's and the files').
  std::vector<SectorRange> unreadable;
};

class RawCarver {
 public:
  RawCarver(SectorReader& reader, SignatureTable& table, LogFile& activityLog, LogFile& recoveryLog,
            RawCarvingSettings settings);
  ~RawCarver();
  RawCarver(const RawCarver&) = delete;
  RawCarver& operator=(const RawCarver&) = delete;

  // The worker: reports percent, status and statistics through the job,
  // polls StopRequested after every block, and completes with
  // WorkerFinished.
  void run(Job& job);

  const RawCarvingResult& result() const { return result_; }
  // Bytes written so far and the scan position (the start of the next
  // block); may be read while the worker runs.
  std::uint64_t bytesRecovered() const { return writer_.bytesRecovered(); }
  SectorNumber scanPosition() const { return position_.load(); }

 private:
  struct Candidate {
    bool active = false;
    int entry = -1;
    std::uint32_t maxSearchSectors = 0;
    SectorNumber start = 0;
    std::array<std::byte, kSectorSize> header{};
  };
  // Sectors known to hold no end signature of an entry, from a search.
  struct NoEndSpan {
    SectorNumber first = 0, end = 0;
    std::uint64_t generation = ~std::uint64_t{0};
  };
  enum class Step { Continue, Restart, Stop };

  void scan(Job& job);
  Step processSegment(Job& job, SectorNumber& s, SectorNumber segmentEnd);
  Step followWithSignatures(Job& job, SectorNumber& s, SectorNumber segmentEnd);
  Step followSectorBySector(Job& job, SectorNumber& s, SectorNumber segmentEnd);
  Step saveFound(Job& job, SectorNumber& s, const FileEnd& end);
  enum class Exactly { Saved, Rejected, BySectorRule };
  // The types whose header stands in sector s, followed by their formats.
  Exactly followExactly(Job& job, SectorNumber& s, HeaderMatch& match, Step& step);
  ExactEnd measure(SectorNumber b, const ExtensionEntry& entry);
  Step saveExact(Job& job, SectorNumber& s, int entry, const ExactEnd& exact);
  // Writes one file found and records it; false when the user chose to stop.
  bool writeFile(Job& job, SectorNumber first, std::uint64_t sectors, const std::string& name, std::uint32_t number,
                 std::uint64_t exactBytes, bool complete);
  Step abandonAt(SectorNumber& s, SectorNumber giveUp);
  std::optional<std::pair<SectorNumber, std::size_t>> findEndSector(int entry, SectorNumber from, SectorNumber limit);
  bool followsBySignatures(const ExtensionEntry& entry) const;
  void statistics(Job& job, SectorNumber sector);
  void statistics(Job& job, SectorNumber first, SectorNumber end);
  std::optional<std::int64_t> lookAhead(SectorNumber from);
  void writeReports();
  // The report lines naming what could not be written or read.
  std::vector<std::string> problemLines() const;

  SectorReader& reader_;
  SignatureTable& table_;
  LogFile& activityLog_;
  LogFile& recoveryLog_;
  RawCarvingSettings settings_;
  HeaderDispatch dispatch_;
  CarvedFileWriter writer_;
  std::unique_ptr<ScanWindow> window_;
  std::vector<NoEndSpan> noEnd_;
  Candidate candidate_;
  CompoundState compound_;
  SearchStatistics statistics_;
  RawCarvingResult result_;
  std::atomic<SectorNumber> position_{0};
  bool byFormat_ = false;    // some selected type is followed by its format
  std::vector<int> order_;   // entries whose header stands in a sector
};

}  // namespace dravolin
