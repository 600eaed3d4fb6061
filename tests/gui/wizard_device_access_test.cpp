// The wizard reads an image this user may not open: UDisks2 hands it over.
// Run by tests/e2e/udisks_access_test.sh, which starts a test bus with a
// stand-in UDisks2 and names the locked image; skipped on its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/source_resolver.h"
#include "ui/partition_pages.h"
#include "gui/wizard_harness.h"

namespace dravolin::test {
namespace {

TEST(WizardDeviceAccess, ReadsAnImageItMayNotOpenThroughUDisks2) {
  const char* locked = std::getenv("DRAVOLIN_TEST_LOCKED_IMAGE");
  if (!locked || !*locked) GTEST_SKIP() << "run by udisks_access_test.sh with a test bus";
  WizardFixture f;
  f.session.deviceAccess = deviceAccessFor(true);
  ASSERT_NE(f.session.deviceAccess, nullptr) << "the test runs as a user who is not root";
  f.toStep2(locked);
  auto* step2 = f.page<ui::PartitionInfo>();
  ASSERT_NE(step2, nullptr);
  ASSERT_TRUE(step2->selectPartition(1));
  EXPECT_EQ(step2->header(), QStringLiteral("You have selected Partition - 1 ( FAT16 ) with following properties :"));
}

}  // namespace
}  // namespace dravolin::test
