#include "raw/raw_carver.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "common/format.h"
#include "raw/scan_window.h"

namespace dravolin {
namespace {

// How far ahead of the header scan the processor is asked for a sector.
constexpr SectorNumber kPrefetchSectors = 8;

}  // namespace

RawCarver::RawCarver(SectorReader& reader, SignatureTable& table, LogFile& activityLog, LogFile& recoveryLog,
                     RawCarvingSettings settings)
    : reader_(reader),
      table_(table),
      activityLog_(activityLog),
      recoveryLog_(recoveryLog),
      settings_(std::move(settings)),
      dispatch_(table_),
      writer_(reader, settings_.target),
      noEnd_(table_.size()) {
  statistics_.format = StatisticsFormat::Sector;
}

RawCarver::~RawCarver() = default;

// ---- the worker

void RawCarver::run(Job& job) {
  job.setStatus(kRawSearchStatus);
  result_ = {};
  candidate_ = {};
  noEnd_.assign(table_.size(), NoEndSpan{});
  statistics_.lastName.clear();
  statistics_.files = 0;
  // The read buffer: a large one, else a small one, else nothing at all.
  try {
    window_ = std::make_unique<ScanWindow>(
        reader_, settings_.end, settings_.blockSectors, settings_.transferBlocks,
        settings_.windowSectors ? settings_.windowSectors : ScanWindow::kDefaultCapacity);
  } catch (const std::bad_alloc&) {
    try {
      settings_.blockSectors = 8;
      settings_.transferBlocks = 1;
      window_ = std::make_unique<ScanWindow>(reader_, settings_.end, settings_.blockSectors, 1, 0);
    } catch (const std::bad_alloc&) {
      job.complete(Completion::WorkerFinished);
      return;
    }
  }
  result_.ran = true;
  byFormat_ = std::any_of(table_.begin(), table_.end(), [this](const ExtensionEntry& e) {
    return e.selected && e.endRule != EndRule::None && (settings_.exactEnds || e.modern);
  });
  // An image file in memory is scanned where it lies.
  (void)window_->holdInPlace(settings_.start);
  writer_.setHeldSectors([this](SectorNumber first, SectorNumber end) { return window_->clean(first, end); });
  UnreadableWatch unreadable(reader_);
  try {
    scan(job);
  } catch (...) {
    writer_.setHeldSectors({});
    window_.reset();  // gives the reader its sink back
    throw;
  }
  writer_.setHeldSectors({});
  window_.reset();
  result_.unreadable = unreadable.sectors().ranges();
  result_.bytesRecovered = writer_.bytesRecovered();
  writeReports();
  job.complete(Completion::WorkerFinished);
}

void RawCarver::scan(Job& job) {
  const SectorNumber end = settings_.end;
  SectorNumber I = settings_.start;
  result_.currentSector = I;
  position_.store(I);
  if (!(I < end)) return;  // nothing to read
  std::uint64_t n = std::min<std::uint64_t>(settings_.blockSectors, end - I);
  window_->realign(I, n);
  SectorNumber s = I;  // the next sector to look at
  for (;;) {
    Step step = Step::Continue;
    while (step == Step::Continue && s < I + n) {
      window_->ensure(s, candidate_.active ? candidate_.start : s, I);
      step = processSegment(job, s, std::min<SectorNumber>(I + n, window_->processableEnd()));
    }
    // The blocks the scan is through: one, or several when a candidate's
    // outcome over them was already known.
    while (step == Step::Stop || s >= I + n) {
      I += n;
      if (I + n > end) n = end - I;
      const std::uint64_t percent = I <= std::numeric_limits<std::uint64_t>::max() / 100
                                        ? I * 100 / end
                                        : I / std::max<std::uint64_t>(end / 100, 1);
      job.setPercent(static_cast<int>(std::min<std::uint64_t>(percent, 100)));
      result_.currentSector = I;
      position_.store(I);
      job.checkpoint();
      if (job.stopRequested()) {
        result_.aborted = true;
        return;
      }
      if (I >= end) return;
    }
    if (step == Step::Restart) {
      // The scan resumes at the sector after the header, even behind
      // sectors already read; the window keeps what it may reuse.
      I = candidate_.start + 1;
      candidate_.active = false;
      n = std::min<std::uint64_t>(n, end - I);
      window_->realign(I, n);
      s = I;
      job.checkpoint();
    }
  }
}

RawCarver::Step RawCarver::processSegment(Job& job, SectorNumber& s, SectorNumber segmentEnd) {
  // Files begin at the start of one of the disk's logical sectors: on a
  // disk with 4,096-byte sectors only every eighth 512-byte sector is looked
  // at for a header.
  const std::uint64_t headerStep = reader_.source().unitsPerLogicalSector();
  while (s < segmentEnd) {
    if (!candidate_.active) {
      const std::byte* base = window_->from(s).data();
      HeaderMatch match;
      SectorNumber t = s;
      for (; t < segmentEnd; ++t) {
        if (t + kPrefetchSectors < segmentEnd)
          dispatch_.prefetch(ByteSpan(base + (t + kPrefetchSectors - s) * kSectorSize, kSectorSize));
        if (headerStep > 1 && t % headerStep != 0) {
          statistics(job, t);
          continue;
        }
        match = dispatch_.match(ByteSpan(base + (t - s) * kSectorSize, kSectorSize));
        if (match.found()) break;
        statistics(job, t);
      }
      s = t;
      if (!match.found()) return Step::Continue;
      if (byFormat_) {
        Step step = Step::Continue;
        const Exactly outcome = followExactly(job, s, match, step);
        if (outcome == Exactly::Saved) {
          if (step != Step::Continue) return step;
          continue;
        }
        if (outcome == Exactly::Rejected) {
          // No header here parses as its format: the scan goes on.
          statistics(job, s);
          ++s;
          continue;
        }
        // Exactly::BySectorRule: match names the entry whose sector rule decides.
      }
      candidate_.active = true;
      candidate_.entry = match.entry;
      candidate_.maxSearchSectors = std::max<std::uint32_t>(match.maxSearchSectors, 1);
      candidate_.start = s;
      std::memcpy(candidate_.header.data(), window_->from(s).data(), kSectorSize);
      compound_.clear();
    }
    const ExtensionEntry& entry = table_[static_cast<std::size_t>(candidate_.entry)];
    Step step = followsBySignatures(entry) ? followWithSignatures(job, s, segmentEnd)
                                           : followSectorBySector(job, s, segmentEnd);
    if (step != Step::Continue) return step;
  }
  return Step::Continue;
}

bool RawCarver::followsBySignatures(const ExtensionEntry& entry) const {
  if (entry.hasSizeField() || entry.compound || entry.usesPageLookAhead() || entry.ends.empty()) return false;
  return std::all_of(entry.ends.begin(), entry.ends.end(),
                     [](const SignatureRecord& sig) { return sig.offset == kAnyOffset; });
}

// The candidate of an entry whose end is only an end signature found
// anywhere: FindFileEnd would answer "not yet" for every sector up to the
// first one in which a signature starts, so that sector is searched for
// directly.
RawCarver::Step RawCarver::followWithSignatures(Job& job, SectorNumber& s, SectorNumber segmentEnd) {
  ExtensionEntry& entry = table_[static_cast<std::size_t>(candidate_.entry)];
  const SectorNumber b = candidate_.start;
  const SectorNumber giveUp = std::min(b + candidate_.maxSearchSectors, settings_.end);  // first sector not examined
  // Sectors an earlier search found without an end signature of this entry
  // (after a restart) are passed over without reading them again.
  const NoEndSpan& known = noEnd_[static_cast<std::size_t>(candidate_.entry)];
  if (known.generation == window_->generation() && known.first <= s && s < known.end) {
    if (known.end >= giveUp) return abandonAt(s, giveUp);
    if (known.end >= segmentEnd) {
      s = known.end;
      return Step::Continue;
    }
    s = known.end;
  }
  const SectorNumber limit = std::min(segmentEnd, giveUp);
  if (auto found = findEndSector(candidate_.entry, s, limit)) {
    const SectorNumber d = found->first;
    statistics(job, s, d);
    s = d;
    FileEnd end{d - b + 1 + entry.sectorsPastEnd, entry.ends[found->second].name, entry.FileCounter};
    entry.FileCounter += 1;
    return saveFound(job, s, end);
  }
  if (limit == giveUp) {
    statistics(job, s, giveUp - 1);  // the last sector examined ends the candidate
    return abandonAt(s, giveUp);
  }
  statistics(job, s, limit);
  s = limit;
  return Step::Continue;
}

// The candidate is given up after the sector before giveUp, its last
// search sector or the end of the range: the scan restarts after its header,
// so a header without an end near the end of the range hides nothing behind it.
RawCarver::Step RawCarver::abandonAt(SectorNumber& s, SectorNumber giveUp) {
  s = giveUp - 1;
  return Step::Restart;
}

RawCarver::Step RawCarver::followSectorBySector(Job& job, SectorNumber& s, SectorNumber segmentEnd) {
  ExtensionEntry& entry = table_[static_cast<std::size_t>(candidate_.entry)];
  const SectorNumber b = candidate_.start;
  const ByteSpan header(candidate_.header.data(), candidate_.header.size());
  const DatabaseLookAhead lookAheadFn = [this](SectorNumber from) { return lookAhead(from); };
  if (s == b && (entry.sizeRule == SizeRule::CutToLimit || entry.sizeRule == SizeRule::None) &&
      entry.hasSizeField() && readSizeField(entry, header) < 1) {
    // A size field of 0 read from the header sector answers "not yet" for
    // every sector: the candidate is given up without reading them.
    return abandonAt(s, std::min(b + candidate_.maxSearchSectors, settings_.end));
  }
  for (; s < segmentEnd; ++s) {
    FileEnd end;
    const int r = FindFileEnd(entry, header, window_->from(s), b, s, compound_, end, lookAheadFn);
    if (r == kEndFound) return saveFound(job, s, end);  // moves s past the end sector
    if (s - b + 1 >= candidate_.maxSearchSectors || r == kEndRejected) return Step::Restart;
    statistics(job, s);
  }
  // The end of the range reached with the candidate open: it is given up as
  // after its last search sector.
  if (s >= settings_.end) return abandonAt(s, s);
  return Step::Continue;
}

bool RawCarver::writeFile(Job& job, SectorNumber first, std::uint64_t sectors, const std::string& name,
                          std::uint32_t number, std::uint64_t exactBytes, bool complete) {
  const int saved = writer_.SaveCarvedFile(first, first + sectors, name, number, result_.lastName, job, exactBytes);
  if (saved == kCarveStopChosen) {
    job.requestStop();
    return false;
  }
  result_.filesFound += 1;  // also when the file could not be written
  statistics_.lastName = result_.lastName;
  CarvedFile file{result_.lastName, name, first, sectors, exactBytes ? exactBytes : sectors * kSectorSize, complete,
                  saved == kCarveWritten, writer_.lastError(), writer_.lastUnreadable()};
  if (file.written) ++result_.filesWritten;
  else ++result_.filesNotWritten;
  if (!file.unreadable.empty()) ++result_.filesWithUnreadableSectors;
  if (settings_.onFile) settings_.onFile(file);
  result_.files.push_back(std::move(file));
  return true;
}

RawCarver::Exactly RawCarver::followExactly(Job& job, SectorNumber& s, HeaderMatch& match, Step& step) {
  const ByteSpan sector = window_->from(s).first(kSectorSize);
  auto matches = [&](const ExtensionEntry& entry) {
    return entry.selected && std::any_of(entry.headers.begin(), entry.headers.end(), [&](const SignatureRecord& h) {
             return h.offset >= 0 && fitsIn(sector, static_cast<std::size_t>(h.offset), h.bytes.size()) &&
                    std::memcmp(sector.data() + h.offset, h.bytes.data(), h.bytes.size()) == 0;
           });
  };
  // The modern types first (they tell apart what the table's rows share:
  // a DOCX before a ZIP), then the table's rows in order.
  order_.clear();
  for (std::size_t e = 0; e < table_.size(); ++e)
    if (table_[e].modern && matches(table_[e])) order_.push_back(static_cast<int>(e));
  for (std::size_t e = 0; e < table_.size(); ++e)
    if (!table_[e].modern && matches(table_[e])) order_.push_back(static_cast<int>(e));
  for (int index : order_) {
    const ExtensionEntry& entry = table_[static_cast<std::size_t>(index)];
    const bool formatRule = entry.endRule != EndRule::None && (settings_.exactEnds || entry.modern);
    if (formatRule) {
      const ExactEnd exact = measure(s, entry);
      // A compound document of a sub-type that was not ticked is dropped.
      if (entry.compound && !exact.subType.empty() &&
          std::none_of(entry.ends.begin(), entry.ends.end(),
                       [&](const SignatureRecord& e) { return e.selected && e.name == exact.subType; }))
        continue;
      if (exact.outcome == EndOutcome::Found || exact.outcome == EndOutcome::Partial) {
        step = saveExact(job, s, index, exact);
        return Exactly::Saved;
      }
      // Another type's header, or a modern file whose end cannot be seen.
      if (exact.outcome == EndOutcome::NotThisFormat || entry.modern) continue;
    }
    // The end lies further than the format could be followed, or the row
    // has no format rule: its sector rule decides.
    match = {index, 0, entry.MaxSearchSectors};
    return Exactly::BySectorRule;
  }
  return Exactly::Rejected;
}

ExactEnd RawCarver::measure(SectorNumber b, const ExtensionEntry& entry) {
  const std::uint64_t available = (settings_.end - b) * kSectorSize;
  CandidateBytes bytes(
      available,
      [this, b](std::uint64_t offset, std::span<std::byte> out) -> std::size_t {
        const SectorNumber first = b + offset / kSectorSize;
        const auto count = static_cast<std::uint32_t>(out.size() / kSectorSize);
        // What the scan holds (sectors it could not read as the zeros they
        // were read as) is not read again; the rest is read once.
        const ByteSpan held = window_->from(first);
        const std::size_t copied = std::min(held.size(), std::size_t{count} * kSectorSize);
        if (copied > 0) std::memcpy(out.data(), held.data(), copied);
        const auto done = static_cast<std::uint32_t>(copied / kSectorSize);
        if (done < count)
          (void)reader_.ReadSector(first + done, count - done,
                                   out.subspan(std::size_t{done} * kSectorSize, std::size_t{count - done} * kSectorSize));
        return std::size_t{count} * kSectorSize;
      },
      [this](ByteSpan sector) { return dispatch_.match(sector).found(); });
  // Text is followed as far as its end signature would be; the others as
  // far as their formats reach.
  const bool text = entry.endRule == EndRule::Html || entry.endRule == EndRule::Xml || entry.endRule == EndRule::Rtf;
  const std::uint64_t limit = text ? std::uint64_t{entry.MaxSearchSectors} * kSectorSize : std::uint64_t{1} << 32;
  return findExactEnd(entry.endRule, bytes, limit);
}

RawCarver::Step RawCarver::saveExact(Job& job, SectorNumber& s, int entryIndex, const ExactEnd& exact) {
  ExtensionEntry& entry = table_[static_cast<std::size_t>(entryIndex)];
  const SectorNumber b = s;
  const std::uint64_t length = std::max<std::uint64_t>(exact.length, 1);
  const std::uint64_t sectors = (length + kSectorSize - 1) / kSectorSize;
  const std::uint32_t number = entry.FileCounter;
  entry.FileCounter += 1;
  // With whole sectors asked for, the file keeps the rest of its last sector.
  const std::uint64_t exactBytes = settings_.exactEnds ? length : 0;
  const std::string name = exact.subType.empty() ? entry.name : std::string(exact.subType);
  if (!writeFile(job, b, sectors, name, number, exactBytes, exact.outcome == EndOutcome::Found))
    return Step::Stop;
  // The scan goes on after the file: its own bytes start nothing.
  statistics(job, b + sectors - 1);
  s = b + sectors;
  return Step::Continue;
}

RawCarver::Step RawCarver::saveFound(Job& job, SectorNumber& s, const FileEnd& end) {
  const SectorNumber b = candidate_.start;
  const SectorNumber d = s;
  // A compound document of a sub-type that was not ticked is dropped.
  if (compound_.subTypeSeen && !compound_.subTypeSelected) return Step::Restart;
  if (!writeFile(job, b, end.sizeSectors, end.name, end.fileNumber, 0, true)) return Step::Stop;
  candidate_.active = false;
  // The count of examined sectors goes on after a save: a file whose end
  // lay in the last sector it could be looked for in also restarts.
  if (d - b + 1 >= candidate_.maxSearchSectors) return Step::Restart;
  statistics(job, d);
  s = d + 1;
  return Step::Continue;
}

std::optional<std::pair<SectorNumber, std::size_t>> RawCarver::findEndSector(int entryIndex, SectorNumber from,
                                                                             SectorNumber limit) {
  const ExtensionEntry& entry = table_[static_cast<std::size_t>(entryIndex)];
  NoEndSpan& known = noEnd_[static_cast<std::size_t>(entryIndex)];
  const bool knownValid = known.generation == window_->generation();
  SectorNumber searchFrom = from;
  if (knownValid && known.first <= from && from < known.end) searchFrom = known.end;
  if (searchFrom >= limit) return std::nullopt;

  const ByteSpan data = window_->from(searchFrom);
  std::uint64_t positions = (limit - searchFrom) * kSectorSize;  // start positions to try
  std::optional<std::pair<SectorNumber, std::size_t>> best;
  for (std::size_t k = 0; k < entry.ends.size() && positions > 0; ++k) {
    const auto& sig = entry.ends[k].bytes;
    if (sig.empty()) {
      best = {searchFrom, k};
      break;
    }
    const std::size_t hay = static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), positions - 1 + sig.size()));
    const std::byte* hit = findSignature(data.first(hay), sig);
    if (!hit) continue;
    const auto at = static_cast<std::uint64_t>(hit - data.data());
    best = {searchFrom + at / kSectorSize, k};
    // Later signatures win only in an earlier sector.
    positions = at / kSectorSize * kSectorSize;
  }
  const SectorNumber clearEnd = best ? best->first : limit;
  if (knownValid && known.first <= searchFrom && searchFrom <= known.end) known.end = std::max(known.end, clearEnd);
  else known = {searchFrom, clearEnd, window_->generation()};
  return best;
}

std::optional<std::int64_t> RawCarver::lookAhead(SectorNumber from) {
  const ExtensionEntry& entry = table_[static_cast<std::size_t>(candidate_.entry)];
  if (entry.headers.empty() || entry.pageMarkers.empty() || entry.pageMarkers.front().bytes.empty())
    return std::nullopt;
  return lookAheadDatabaseEnd(from, settings_.end, entry.headers.front().bytes, entry.pageMarkers.front().bytes.front(),
                              [this](SectorNumber first, std::span<std::byte> group) {
                                (void)reader_.ReadSector(first, static_cast<std::uint32_t>(group.size() / kSectorSize),
                                                         group);
                              });
}

void RawCarver::statistics(Job& job, SectorNumber sector) {
  statistics_.value = sector;
  statistics_.files = result_.filesFound;
  job.updateStatistics(statistics_);
}

void RawCarver::statistics(Job& job, SectorNumber first, SectorNumber end) {
  for (SectorNumber t = first; t < end; ++t) statistics(job, t);
}

// ---- the end of the run

void RawCarver::writeReports() {
  const std::string elapsed = settings_.elapsedText ? settings_.elapsedText() : "0 : 0 : 0";
  const std::vector<std::string> values = {
      "Time Elapsed : " + elapsed,
      "Current Sector : " + std::to_string(result_.currentSector) + " / " + std::to_string(settings_.end),
      "Bytes Recovered : " + formatMegaGiga(result_.bytesRecovered),
      "Files Found : " + std::to_string(result_.filesFound),
      "Last Name : " + result_.lastName};
  std::vector<std::string> problems = problemLines();
  std::vector<std::string> activity = {"\r\n", "Step 3 :", "-------", "Raw Recovery for Selected Extensions : "};
  activity.insert(activity.end(), values.begin(), values.end());
  activity.insert(activity.end(), problems.begin(), problems.end());
  activityLog_.appendLines(activity);
  std::vector<std::string> recovery = {"-----------------------Start--------------------------",
                                       settings_.caption,
                                       settings_.versionText,
                                       settings_.dateLine,
                                       "\r\n",
                                       "Raw Recovery for Selected Extensions :",
                                       "-------------------------------------"};
  recovery.insert(recovery.end(), values.begin(), values.end());
  recovery.insert(recovery.end(), problems.begin(), problems.end());
  recoveryLog_.appendLines(recovery);
  if (result_.aborted) {
    result_.message = kRawSearchAbortedMessage;
    activityLog_.append("Raw Search Aborted");
    recoveryLog_.append("Raw Search Aborted");
  } else {
    // Saving succeeded only when every file found was written whole from
    // sectors that could be read, and the whole range could be searched.
    result_.completed = result_.filesNotWritten == 0 && result_.filesWithUnreadableSectors == 0 &&
                        result_.unreadable.empty();
    result_.message = result_.completed ? kRawSavingCompletedMessage : kRawSavingNotCompletedMessage;
    activityLog_.appendLines({"Raw Search Completed", result_.message});
    recoveryLog_.appendLines({"Raw Search Completed", result_.message});
  }
}

std::vector<std::string> RawCarver::problemLines() const {
  // At most this many files are named per kind; the rest are counted.
  constexpr std::uint64_t kNamedFiles = 100;
  std::vector<std::string> lines;
  std::uint64_t notWritten = 0, damaged = 0;
  for (const CarvedFile& file : result_.files) {
    if (!file.written && ++notWritten <= kNamedFiles)
      lines.push_back("Not Written : " + file.path + " : " + (file.error.empty() ? "not written" : file.error));
    if (!file.unreadable.empty() && ++damaged <= kNamedFiles)
      lines.push_back("Unreadable Sectors : " + file.path + " : " + describeSectorRanges(file.unreadable) +
                      " written as zeros");
  }
  if (notWritten > kNamedFiles)
    lines.push_back("Not Written : " + std::to_string(notWritten - kNamedFiles) + " more files");
  if (damaged > kNamedFiles)
    lines.push_back("Unreadable Sectors : " + std::to_string(damaged - kNamedFiles) + " more files");
  if (!result_.unreadable.empty())
    lines.push_back("Unreadable Sectors : " + describeSectorRanges(result_.unreadable) + " could not be read");
  return lines;
}

}  // namespace dravolin
