// The wizard reads an image this user may not open: UDisks2 hands it over.
// Run by tests/e2e/udisks_access_test.sh, which starts a test bus with a
// stand-in UDisks2 and names the locked image; skipped on its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/source_resolver.h"
#include "ui/partition_pages.h"
#include "gui/wizard_harness.h"
#include "ui/step1_page.h"

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

// Without anyone to hand it over, the wizard names the image and how to get
// access instead of claiming that the path does not exist.
TEST(WizardDeviceAccess, NamesAnImageItMayNotOpenAndHowToGetAccess) {
  const char* locked = std::getenv("DRAVOLIN_TEST_LOCKED_IMAGE");
  if (!locked || !*locked) GTEST_SKIP() << "run by udisks_access_test.sh with a test bus";
  WizardFixture f;
  f.session.deviceAccess = {};
  DialogScript script;
  script.answer(QStringLiteral("MessagesInfo"), true);
  EXPECT_FALSE(f.window->desktopPage()->chooseImage(QString::fromUtf8(locked)));
  ASSERT_TRUE(waitUntil([&] { return script.done(); }));
  const QString text = script.lastText();
  EXPECT_TRUE(text.contains(QString::fromUtf8(locked) + QStringLiteral(": Permission denied. To get access,")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("pkexec"))) << text.toStdString();
}

}  // namespace
}  // namespace dravolin::test
