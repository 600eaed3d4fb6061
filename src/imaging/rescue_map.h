#pragma once
// The state of a rescue imaging as GNU ddrescue keeps it in its mapfile: the
// source cut into contiguous blocks, each non-tried ('?'), failed and
// non-trimmed ('*'), failed and non-scraped ('/'), bad sectors ('-') or
// finished ('+'), and a status line with the position being tried, the
// phase ('?' copying, '*' trimming, '/' scraping, '-' retrying, '+'
// finished) and the pass within it. Positions in the file are bytes of the
// source; inside the program they are 512-byte sectors.
//
// The text is what ddrescue writes and reads:
//   # comment lines
//   0x00120000     ?               1        (current_pos current_status current_pass)
//   0x00000000  0x00117000  +               (pos size status, contiguous)
// Numbers are read as C++ integer constants (decimal, 0x hexadecimal, 0
// octal), so a mapfile edited by hand or written by ddrescue reads back.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "disk/sector_source.h"

namespace dravolin {

enum class BlockStatus : char {
  NonTried = '?',
  NonTrimmed = '*',
  NonScraped = '/',
  BadSector = '-',
  Finished = '+',
};

enum class RescuePhase : char {
  Copying = '?',
  Trimming = '*',
  Scraping = '/',
  Retrying = '-',
  Finished = '+',
};

struct RescueBlock {
  SectorNumber start = 0;
  SectorNumber end = 0;  // exclusive
  BlockStatus status = BlockStatus::NonTried;
};

class RescueMap {
 public:
  // sectors: the extent the map covers at least; everything starts non-tried.
  explicit RescueMap(std::uint64_t sectors = 0);

  std::uint64_t sectors() const { return sectors_; }
  // Grows the map (the new sectors non-tried); never shrinks it.
  void extendTo(std::uint64_t sectors);
  // Marks [start, end) (clipped to the map) with status, merging neighbours.
  void set(SectorNumber start, SectorNumber end, BlockStatus status);
  BlockStatus statusAt(SectorNumber sector) const;
  // The blocks in order, covering [0, sectors()).
  std::vector<RescueBlock> blocks() const;
  // The parts of blocks with status inside [from, to), in order.
  std::vector<RescueBlock> blocksIn(BlockStatus status, SectorNumber from, SectorNumber to) const;
  // Sectors with status inside [from, to).
  std::uint64_t countIn(BlockStatus status, SectorNumber from, SectorNumber to) const;
  // Failed areas ('*', '/', '-' next to each other count as one) inside [from, to).
  std::uint64_t failedAreasIn(SectorNumber from, SectorNumber to) const;

  // The status line.
  std::uint64_t currentPosition = 0;  // bytes
  RescuePhase phase = RescuePhase::Copying;
  int pass = 1;

 private:
  struct Extent {
    SectorNumber end;
    BlockStatus status;
  };
  void splitAt(SectorNumber sector);
  std::map<SectorNumber, Extent> extents_;  // by start
  std::uint64_t sectors_ = 0;
};

// Reads a mapfile's text. A finished block that covers part of a sector
// does not make that sector finished. The error names the line.
Result<RescueMap> parseMapfile(std::string_view text);

// The mapfile's text: heading comments (program, command line, times,
// what is being done), the status line and the blocks.
std::string formatMapfile(const RescueMap& map, const std::vector<std::string>& comments);

// Reads a mapfile; a missing file is NotFound.
Result<RescueMap> loadMapfile(const std::filesystem::path& path);

// Replaces the mapfile atomically: a temporary file in the same folder,
// synced, renamed over the mapfile, then the folder synced.
[[nodiscard]] Result<void> saveMapfile(const std::filesystem::path& path, const std::string& text);

}  // namespace dravolin
