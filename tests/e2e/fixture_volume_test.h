#pragma once
// A test over the volumes of the fixture images: runs dravolin on the image
// with the volume's choice (--partition N, or nothing for an image that is
// one volume) in a home folder of its own, and checks that the source image
// never changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace dravolin::test {

struct FixtureVolume {
  const char* image;
  int partition;  // 0: the only volume of the image
  std::string name() const { return std::string(image) + (partition ? " #" + std::to_string(partition) : ""); }
  friend void PrintTo(const FixtureVolume& v, std::ostream* os) { *os << v.name(); }
  std::vector<std::string> choice() const {
    if (partition == 0) return {};
    return {"--partition", std::to_string(partition)};
  }
};

struct FixtureVolumeTest : ::testing::TestWithParam<FixtureVolume> {
  TempDir dir;
  std::filesystem::path image = fixturePath(GetParam().image);
  std::string imageHash;

  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(image)) << image << " missing: run tests/fixtures/build-images.sh";
    imageHash = sha256File(image);
  }
  void TearDown() override { EXPECT_EQ(sha256File(image), imageHash) << "the source image changed"; }

  // The arguments with the volume's choice after the command and the image.
  CommandResult run(std::vector<std::string> arguments) {
    const std::vector<std::string> choice = GetParam().choice();
    arguments.insert(arguments.begin() + 2, choice.begin(), choice.end());
    return runDravolin(arguments, dir / "home");
  }
};

}  // namespace dravolin::test
