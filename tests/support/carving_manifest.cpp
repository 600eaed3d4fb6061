#include "support/carving_manifest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace dravolin::test {

namespace {
constexpr std::uint64_t kSector = 512;
}

std::vector<PlacedFile> readCarvingManifest(const std::filesystem::path& manifest) {
  std::vector<PlacedFile> rows;
  std::ifstream in(manifest);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    PlacedFile p;
    std::string carved;
    fields >> p.type >> p.start >> p.size >> p.sha256 >> p.carvedType >> carved;
    p.carvedSectors = carved == "-" ? 0 : std::stoull(carved);
    rows.push_back(p);
  }
  return rows;
}

void expectCarvedFile(const PlacedFile& p, const std::string& carved, const std::string& source) {
  SCOPED_TRACE(p.type + " at " + std::to_string(p.start));
  EXPECT_EQ(carved.size(), p.carvedSectors * kSector);
  ASSERT_LE(p.start * kSector, source.size()) << "the manifest does not fit the image";
  EXPECT_TRUE(carved == source.substr(p.start * kSector, p.carvedSectors * kSector))
      << "the sectors from the header on";
  if (carved.size() < p.size) return;
  TempDir scratch;
  writeFile(scratch / "head", carved.substr(0, p.size));
  EXPECT_EQ(sha256File(scratch / "head"), p.sha256) << "the original file, byte for byte";
}

}  // namespace dravolin::test
