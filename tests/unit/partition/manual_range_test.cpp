#include "partition/manual_range.h"

#include <gtest/gtest.h>

namespace dravolin {
namespace {

TEST(ManualRange, ValidationMessages) {
  struct Case {
    const char* start;
    const char* end;
    const char* type;
    bool allowUnknown;
    const char* error;  // nullptr when accepted
  };
  const Case cases[] = {
      {"0", "1", "FAT16", false, nullptr},
      {"0", "0", "FAT16", false, "End sector should be bigger than start sector."},
      {"100", "100", "NTFS", false, "End sector should be bigger than start sector."},
      {"abc", "10", "FAT16", false, "Start sector is not valid."},
      {"-5", "10", "FAT16", false, "Start sector is not valid."},
      {"", "10", "FAT16", false, "Start sector is not valid."},
      {"5", "1x", "FAT16", false, "End sector is not valid."},
      {"5", "99999999999999999999999", "FAT16", false, "End sector is not valid."},
      {"5", "10", "UNKNOWN", false, "Select partition type."},
      {"5", "10", "UNKNOWN", true, nullptr},
      {" 5 ", "8589934592", "FAT32", false, nullptr},  // beyond 32 bits
  };
  for (const auto& c : cases) {
    auto r = validateManualRange(c.start, c.end, fileSystemTypeFromText(c.type).value(), FsType::Unknown, c.allowUnknown);
    if (c.error) {
      ASSERT_FALSE(r) << c.start << ".." << c.end;
      EXPECT_EQ(r.error().message, c.error);
    } else {
      ASSERT_TRUE(r) << c.start << ".." << c.end << ": " << r.error().message;
    }
  }
  auto wide = validateManualRange("5", "8589934592", FsType::Fat32, FsType::Unknown, false);
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->end, 8589934592ULL);
}

}  // namespace
}  // namespace dravolin
