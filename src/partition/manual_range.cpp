#include "partition/manual_range.h"

#include <cctype>

namespace dravolin {

std::optional<std::uint64_t> parseSectorNumber(const std::string& text) {
  std::size_t b = text.find_first_not_of(" \t");
  std::size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = b; i <= e; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isdigit(c)) return std::nullopt;
    std::uint64_t digit = c - '0';
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Result<ManualRange> validateManualRange(const std::string& startText,
                                                            const std::string& endText,
                                                            FsType fileSystem, FsType committedType,
                                                            bool allowUnknown) {
  auto start = parseSectorNumber(startText);
  if (!start) return makeError(ErrorKind::InvalidArgument, "Start sector is not valid.");
  auto end = parseSectorNumber(endText);
  if (!end) return makeError(ErrorKind::InvalidArgument, "End sector is not valid.");
  if (!(*end > *start)) return makeError(ErrorKind::InvalidArgument, "End sector should be bigger than start sector.");
  ManualRange range{*start, *end, fileSystem};
  if (fileSystem == FsType::Unknown) {
    range.fileSystem = committedType;
    if (!allowUnknown) return makeError(ErrorKind::InvalidArgument, "Select partition type.");
  }
  return range;
}

}  // namespace dravolin
