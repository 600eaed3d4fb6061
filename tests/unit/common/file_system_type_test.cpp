#include "common/file_system_type.h"

#include <gtest/gtest.h>

namespace dravolin {
namespace {

// The texts users see and type, and the type each one names; texts that are
// not exactly one of them name nothing (the command line folds case first).
TEST(FileSystemType, TextsNameTheirTypeAndNothingElse) {
  struct Case {
    const char* text;
    std::optional<FsType> type;
  };
  const Case cases[] = {
      {"FAT12", FsType::Fat12}, {"FAT16", FsType::Fat16}, {"FAT32", FsType::Fat32},
      {"NTFS", FsType::Ntfs},   {"UNKNOWN", FsType::Unknown}, {"fat32", std::nullopt},
      {"", std::nullopt},       {"FAT", std::nullopt},        {"NTFS ", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(fileSystemTypeFromText(c.text), c.type);
    if (c.type) {
      EXPECT_EQ(toText(*c.type), c.text);
    }
  }
  EXPECT_TRUE(isFat(FsType::Fat12) && isFat(FsType::Fat16) && isFat(FsType::Fat32));
  EXPECT_FALSE(isFat(FsType::Ntfs) || isFat(FsType::Unknown));
}

}  // namespace
}  // namespace dravolin
