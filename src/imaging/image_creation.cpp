#include "imaging/image_creation.h"

#include <unistd.h>

#include <algorithm>

#include "disk/file_source.h"
#include "imaging/bad_sector_list.h"
#include "imaging/image_pieces.h"

namespace dravolin {
namespace {

// Installs the reader's unreadable-sector sink for the run and removes it
// again however the run ends.
class SinkGuard {
 public:
  SinkGuard(SectorReader& reader, BadSectorList& list) : reader_(reader) {
    reader_.setUnreadableSink([&list](SectorNumber sector) { list.add(sector); });
  }
  ~SinkGuard() { reader_.setUnreadableSink({}); }
  SinkGuard(const SinkGuard&) = delete;
  SinkGuard& operator=(const SinkGuard&) = delete;

 private:
  SectorReader& reader_;
};

int percentOf(std::uint64_t current, std::uint64_t end) {
  if (end == 0) return 100;
  std::uint64_t percent = end > UINT64_MAX / 100 ? current / (end / 100) : current * 100 / end;
  return static_cast<int>(std::min<std::uint64_t>(percent, 100));
}

// Pushes what was written to a disk target out of the page cache, so that
// "completed" means the data reached the disk.
bool flushTarget(SectorReader& target) {
  auto* file = dynamic_cast<FileSectorSource*>(&target.source());
  return !file || ::fsync(file->descriptor()) == 0;
}

}  // namespace

Result<void> runImageCreation(Job& job, const ImagingRequest& request, ImagingResult& result) {
  const ImagingSettings& settings = request.settings;
  const bool toDisk = settings.ImageToDisk;
  // A request without a source, or to a disk without a target, copies
  // nothing and says why.
  if (!request.source || (toDisk && !request.target)) {
    result.error = !request.source ? "imaging without a source" : "imaging to a disk without a target";
    result.completed = false;
    result.message = kImageAborted;
    job.complete(Completion::WorkerFinished);
    return {};
  }
  SectorReader& source = *request.source;
  const std::uint64_t pieceSectors = std::max<std::uint64_t>(request.pieceSectors, 1);
  const std::uint32_t transfer = std::max<std::uint32_t>(request.transferSectors, 1);
  const SectorNumber end = request.end;

  std::string lastName = toDisk ? settings.ImageTargetLabel : std::string();
  if (!lastName.empty()) job.setLastName(lastName);

  BadSectorList badSectors(settings.badSectorList);
  SinkGuard sink(source, badSectors);
  ImagePieceWriter pieces(settings.ImageDestination);
  std::vector<std::byte> buffer(std::size_t{transfer} * kSectorSize);

  SectorNumber current = request.start;
  std::uint64_t inPiece = 0;  // sectors already written to the open piece or the target
  std::string writeError;
  while (current < end) {
    job.checkpoint();
    // With pieces, a transfer never crosses into the next piece; a full piece
    // is only followed by a new one when there is something left to copy.
    const bool pieceFull = !toDisk && settings.MultiFileImage && inPiece == pieceSectors;
    std::uint64_t count = std::min<std::uint64_t>(transfer, end - current);
    if (!toDisk && settings.MultiFileImage) count = std::min(count, pieceSectors - (pieceFull ? 0 : inPiece));
    const auto n = static_cast<std::uint32_t>(count);
    auto data = std::span<std::byte>(buffer).first(count * kSectorSize);

    // One-sector calls as far as the reader's rules go; what it could not
    // read comes back as zeros and is written as such.
    (void)source.ReadSectorsAs(current, n, data, 1);

    if (toDisk) {
      if (!request.target->WriteSector(inPiece, n, data))
        writeError = "cannot write to the target disk at sector " + std::to_string(inPiece);
    } else {
      if (!pieces.isOpen() || pieceFull) {
        if (auto closed = pieces.close(); !closed) {
          writeError = closed.error().message;
          break;
        }
        auto created = pieces.createNext();
        if (!created) return makeError(created.error().kind, "cannot create the image file " + created.error().message);
        inPiece = 0;
        lastName = pieces.pieces().back().string();
        job.setLastName(lastName);
      }
      if (auto written = pieces.write(inPiece, data); !written) writeError = written.error().message;
    }
    if (!writeError.empty()) break;

    job.updateStatistics({current, 0, 0, lastName, StatisticsFormat::Sector});
    current += count;
    inPiece += count;
    result.sectorsCopied.store(current - request.start);
    job.setPercent(percentOf(current, end));
    if (job.stopRequested()) break;
  }

  if (auto closed = pieces.close(); !closed && writeError.empty()) writeError = closed.error().message;
  if (toDisk && writeError.empty() && !flushTarget(*request.target))
    writeError = "cannot flush the target disk";
  const bool listWritten = badSectors.finish();

  result.currentSector = current;
  result.pieces = pieces.pieces();
  result.unreadableSectors = badSectors.count();
  result.badSectorList = badSectors.writtenPath();
  result.error = writeError;
  result.completed = current == end && writeError.empty();
  result.message = result.completed ? kImageCompleted : kImageAborted;

  if (request.activityLog) {
    std::string elapsed = request.elapsedText ? request.elapsedText() : std::string("0 : 0 : 0");
    std::vector<std::string> lines = {"\r\n",
                                      "Step 3 :",
                                      "-------",
                                      "Analysing Imaging Creation Information : ",
                                      "Time Elapsed : " + elapsed,
                                      "Current Sector : " + std::to_string(current) + " / " + std::to_string(end),
                                      "Last Name : " + lastName,
                                      result.message};
    if (!writeError.empty()) lines.push_back("Write Error : " + writeError);
    if (!result.badSectorList.empty()) lines.push_back("Bad Sector List : " + result.badSectorList.string());
    if (!listWritten) lines.push_back("Bad Sector List Error : " + badSectors.error());
    if (result.unreadableSectors > 0)
      lines.push_back("Unreadable Sectors : " + std::to_string(result.unreadableSectors));
    request.activityLog->appendLines(lines);
  }
  job.prompter().inform(result.message);

  // A piece with the next number is left from an earlier, longer image: it
  // goes, so that the pieces on disk are exactly this image.
  if (!toDisk) removeStalePiece(settings.ImageDestination, pieces.pieceCount());

  job.complete(Completion::WorkerFinished);
  return {};
}

}  // namespace dravolin
