#include "imaging/rescue_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace dravolin {
namespace fs = std::filesystem;

RescueMap::RescueMap(std::uint64_t sectors) { extendTo(sectors); }

void RescueMap::extendTo(std::uint64_t sectors) {
  if (sectors <= sectors_) return;
  const SectorNumber from = sectors_;
  sectors_ = sectors;
  extents_[from] = {sectors, BlockStatus::NonTried};
  // Merge with a non-tried block that ended where the map ended.
  if (from > 0) {
    auto it = std::prev(extents_.find(from));
    if (it->second.status == BlockStatus::NonTried) {
      it->second.end = sectors;
      extents_.erase(from);
    }
  }
}

void RescueMap::splitAt(SectorNumber sector) {
  if (sector == 0 || sector >= sectors_) return;
  auto it = extents_.upper_bound(sector);
  --it;  // the extent holding sector
  if (it->first == sector) return;
  const Extent tail = it->second;
  it->second.end = sector;
  extents_.emplace(sector, tail);
}

void RescueMap::set(SectorNumber start, SectorNumber end, BlockStatus status) {
  end = std::min<SectorNumber>(end, sectors_);
  if (start >= end) return;
  splitAt(start);
  splitAt(end);
  auto first = extents_.find(start);
  auto last = extents_.lower_bound(end);
  extents_.erase(first, last);
  auto it = extents_.emplace(start, Extent{end, status}).first;
  // Merge with the neighbours of the same status.
  if (auto next = std::next(it); next != extents_.end() && next->second.status == status) {
    it->second.end = next->second.end;
    extents_.erase(next);
  }
  if (it != extents_.begin()) {
    auto previous = std::prev(it);
    if (previous->second.status == status) {
      previous->second.end = it->second.end;
      extents_.erase(it);
    }
  }
}

BlockStatus RescueMap::statusAt(SectorNumber sector) const {
  if (sector >= sectors_) return BlockStatus::NonTried;
  auto it = extents_.upper_bound(sector);
  return std::prev(it)->second.status;
}

std::vector<RescueBlock> RescueMap::blocks() const {
  std::vector<RescueBlock> list;
  list.reserve(extents_.size());
  for (const auto& [start, extent] : extents_) list.push_back({start, extent.end, extent.status});
  return list;
}

std::vector<RescueBlock> RescueMap::blocksIn(BlockStatus status, SectorNumber from, SectorNumber to) const {
  std::vector<RescueBlock> list;
  if (from >= to || extents_.empty()) return list;
  auto it = extents_.upper_bound(from);
  if (it != extents_.begin()) --it;
  for (; it != extents_.end() && it->first < to; ++it) {
    if (it->second.status != status) continue;
    const SectorNumber s = std::max(it->first, from), e = std::min(it->second.end, to);
    if (s < e) list.push_back({s, e, status});
  }
  return list;
}

std::uint64_t RescueMap::countIn(BlockStatus status, SectorNumber from, SectorNumber to) const {
  std::uint64_t count = 0;
  for (const RescueBlock& b : blocksIn(status, from, to)) count += b.end - b.start;
  return count;
}

std::uint64_t RescueMap::failedAreasIn(SectorNumber from, SectorNumber to) const {
  std::uint64_t areas = 0;
  bool inArea = false;
  for (const RescueBlock& b : blocks()) {
    if (b.end <= from || b.start >= to) {
      inArea = false;
      continue;
    }
    const bool failed = b.status == BlockStatus::NonTrimmed || b.status == BlockStatus::NonScraped ||
                        b.status == BlockStatus::BadSector;
    if (failed && !inArea) ++areas;
    inArea = failed;
  }
  return areas;
}

namespace {

// One integer in C++ syntax at the front of text; false when none.
bool takeNumber(std::string_view& text, std::uint64_t& value, bool decimalOnly) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (text.empty() || !(text.front() >= '0' && text.front() <= '9')) return false;
  std::string digits;
  while (!text.empty() && std::isalnum(static_cast<unsigned char>(text.front())) && digits.size() < 40) {
    digits += text.front();
    text.remove_prefix(1);
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(digits.c_str(), &end, decimalOnly ? 10 : 0);
  if (errno != 0 || !end || *end != '\0') return false;
  value = v;
  return true;
}

bool takeChar(std::string_view& text, char& c) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (text.empty()) return false;
  c = text.front();
  text.remove_prefix(1);
  return true;
}

bool onlyBlanks(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

// The line without a comment ('#' at its start or after a blank).
std::string_view withoutComment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i)
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) return line.substr(0, i);
  return line;
}

bool isBlockStatus(char c) { return c == '?' || c == '*' || c == '/' || c == '-' || c == '+'; }
bool isPhase(char c) { return isBlockStatus(c) || c == 'F' || c == 'G'; }

}  // namespace

Result<RescueMap> parseMapfile(std::string_view text) {
  struct ByteBlock {
    std::uint64_t pos, size;
    char status;
  };
  std::vector<ByteBlock> byteBlocks;
  bool haveStatus = false;
  std::uint64_t position = 0;
  char phase = '?';
  std::uint64_t pass = 1;
  std::size_t lineNumber = 0;
  std::uint64_t expected = 0;
  auto fail = [&](const std::string& why) {
    return makeError(ErrorKind::Corrupt, "line " + std::to_string(lineNumber) + ": " + why);
  };
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t newline = text.find('\n');
    std::string_view line = withoutComment(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (onlyBlanks(line)) continue;
    if (!haveStatus) {
      char c = 0;
      if (!takeNumber(line, position, false) || !takeChar(line, c) || !isPhase(c))
        return fail("not a status line (position and status)");
      phase = c;
      std::string_view rest = line;
      if (!onlyBlanks(rest) && (!takeNumber(rest, pass, true) || pass == 0 || pass > 1000000))
        return fail("the pass is not a positive number");
      haveStatus = true;
      continue;
    }
    ByteBlock block{};
    if (!takeNumber(line, block.pos, false) || !takeNumber(line, block.size, false) ||
        !takeChar(line, block.status) || !isBlockStatus(block.status) || !onlyBlanks(line))
      return fail("not a block (position, size and status)");
    if (block.pos != expected) return fail("the blocks are not contiguous");
    if (block.size > UINT64_MAX - block.pos || block.pos + block.size > (UINT64_MAX / 2))
      return fail("the block lies beyond any disk");
    expected = block.pos + block.size;
    byteBlocks.push_back(block);
  }
  if (!haveStatus) return makeError(ErrorKind::Corrupt, "no status line");

  RescueMap map((expected + kSectorSize - 1) / kSectorSize);
  // Finished blocks first, shrunk to whole sectors; every other status
  // covers the sectors it touches, so a partly failed sector is not finished.
  for (int round = 0; round < 2; ++round) {
    for (const ByteBlock& b : byteBlocks) {
      if (b.size == 0 || b.status == '?') continue;
      const bool finished = b.status == '+';
      if (finished != (round == 0)) continue;
      const SectorNumber start = finished ? (b.pos + kSectorSize - 1) / kSectorSize : b.pos / kSectorSize;
      const SectorNumber end = finished ? (b.pos + b.size) / kSectorSize : (b.pos + b.size + kSectorSize - 1) / kSectorSize;
      map.set(start, end, static_cast<BlockStatus>(b.status));
    }
  }
  map.currentPosition = position;
  map.phase = phase == 'F' || phase == 'G' ? RescuePhase::Copying : static_cast<RescuePhase>(phase);
  map.pass = static_cast<int>(pass);
  return map;
}

std::string formatMapfile(const RescueMap& map, const std::vector<std::string>& comments) {
  std::string text;
  for (const auto& comment : comments) text += "# " + comment + "\n";
  char line[128];
  text += "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               %d\n", map.currentPosition,
                static_cast<char>(map.phase), map.pass);
  text += line;
  text += "#      pos        size  status\n";
  for (const RescueBlock& b : map.blocks()) {
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", b.start * kSectorSize,
                  (b.end - b.start) * kSectorSize, static_cast<char>(b.status));
    text += line;
  }
  return text;
}

Result<RescueMap> loadMapfile(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return makeError(ErrorKind::NotFound, path.string() + ": no such mapfile");
  // A mapfile of a badly damaged disk may be large, but not without bound.
  constexpr std::uintmax_t kLargestMapfile = 256u << 20;
  if (fs::file_size(path, ec) > kLargestMapfile) return makeError(ErrorKind::Corrupt, path.string() + ": too large for a mapfile");
  std::ifstream in(path, std::ios::binary);
  if (!in) return makeError(ErrorKind::Io, path.string() + ": " + std::strerror(errno));
  std::stringstream buffer;
  buffer << in.rdbuf();
  auto map = parseMapfile(buffer.str());
  if (!map) return makeError(map.error().kind, path.string() + ": " + map.error().message);
  return map;
}

Result<void> saveMapfile(const fs::path& path, const std::string& text) {
  const fs::path temporary = path.string() + ".tmp";
  auto failed = [&](const fs::path& which) {
    const int error = errno;
    return makeError(ErrorKind::Io, which.string() + ": " + std::strerror(error));
  };
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return failed(temporary);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      auto error = failed(temporary);
      ::close(fd);
      ::unlink(temporary.c_str());
      return error;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    auto error = failed(temporary);
    ::close(fd);
    ::unlink(temporary.c_str());
    return error;
  }
  if (::close(fd) != 0) return failed(temporary);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    auto error = failed(path);
    ::unlink(temporary.c_str());
    return error;
  }
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return {};
}

}  // namespace dravolin
