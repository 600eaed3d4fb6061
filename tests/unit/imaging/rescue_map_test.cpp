// Mapfiles as ddrescue writes them and as people edit them, and damaged
// ones: what each reads as, sector by sector, or the line that is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/rescue_map.h"

namespace dravolin {
namespace {

// The map as one character per sector ("++-??").
std::string statusesOf(const RescueMap& map) {
  std::string text;
  for (const RescueBlock& b : map.blocks()) text += std::string(b.end - b.start, static_cast<char>(b.status));
  return text;
}

TEST(RescueMap, MapfilesReadAsTheirSectorsOrAreRefusedByLine) {
  struct Case {
    const char* what;
    std::string text;
    std::string sectors;  // expected statuses, or empty when refused
    std::string refusal;  // the start of the error
  };
  const std::vector<Case> cases = {
      {"ddrescue's own layout",
       "# Mapfile. Created by GNU ddrescue version 1.27\n# current_pos  current_status  current_pass\n"
       "0x00000600     *               1\n#      pos        size  status\n"
       "0x00000000  0x00000400  +\n0x00000400  0x00000200  -\n0x00000600  0x00000400  *\n0x00000A00  0x00000200  ?\n",
       "++-**?", ""},
      {"decimal and octal numbers, comments after blanks, no pass", "1024 ?   # where it was\n0 01000 + # finished\n512 512 /\n",
       "+/", ""},
      {"a finished block ending inside a sector leaves that sector failed",
       "0 ?\n0 700 +\n700 324 -\n", "+-", ""},
      {"blocks with a gap", "0 ? 1\n0 512 +\n1024 512 -\n", "", "line 3: the blocks are not contiguous"},
      {"no status line", "# only comments\n", "", "no status line"},
      {"an unknown block status", "0 ? 1\n0 512 x\n", "", "line 2: not a block"},
      {"a pass that is not a number", "0 ? one\n", "", "line 1: the pass is not a positive number"},
      {"a size beyond any disk", "0 ? 1\n0 0xFFFFFFFFFFFFFFFF +\n", "", "line 2: the block lies beyond any disk"},
      {"a number too long to be one", "0 ? 1\n0 0x" + std::string(60, 'F') + " +\n", "", "line 2: not a block"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto map = parseMapfile(c.text);
    if (c.sectors.empty()) {
      ASSERT_FALSE(map);
      EXPECT_EQ(map.error().message.rfind(c.refusal, 0), 0u) << map.error().message;
      continue;
    }
    ASSERT_TRUE(map) << map.error().message;
    EXPECT_EQ(statusesOf(*map), c.sectors);
  }
}

TEST(RescueMap, WrittenMapfilesReadBackTheSame) {
  RescueMap map(100);
  map.set(0, 40, BlockStatus::Finished);
  map.set(40, 41, BlockStatus::BadSector);
  map.set(41, 60, BlockStatus::NonScraped);
  map.set(60, 70, BlockStatus::NonTrimmed);
  map.set(45, 50, BlockStatus::Finished);  // splits an area
  map.phase = RescuePhase::Scraping;
  map.pass = 3;
  map.currentPosition = 45 * 512;
  auto back = parseMapfile(formatMapfile(map, {"a comment"}));
  ASSERT_TRUE(back) << back.error().message;
  EXPECT_EQ(statusesOf(*back), statusesOf(map));
  EXPECT_EQ(back->phase, RescuePhase::Scraping);
  EXPECT_EQ(back->pass, 3);
  EXPECT_EQ(back->currentPosition, 45u * 512);
  EXPECT_EQ(map.failedAreasIn(0, 100), 2u);  // 40-45 and 50-70
  EXPECT_EQ(map.countIn(BlockStatus::Finished, 0, 100), 45u);
}

}  // namespace
}  // namespace dravolin
