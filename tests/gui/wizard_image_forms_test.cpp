// Select Image takes a split raw image and a container image as the disk
// they hold, and names the piece of a split image that is missing.
#include <gtest/gtest.h>

#include <filesystem>

#include "gui/wizard_harness.h"
#include "ui/partition_pages.h"
#include "ui/step1_page.h"

namespace dravolin::test {
namespace {
namespace fs = std::filesystem;

TEST(WizardImageForms, SplitAndContainerImagesOpenAsTheirDiskAndAGapIsNamed) {
  WizardFixture f;
  const fs::path raw = fixturePath("fat16.img");
  const fs::path pieces = f.home.path() / "pieces";
  fs::create_directories(pieces);
  int status = 0;
  runShell("split -b 5000000 -d -a 3 --numeric-suffixes=1 '" + raw.string() + "' '" + (pieces / "card.dd.").string() +
               "' && qemu-img convert -q -f raw -O qcow2 '" + raw.string() + "' '" + (f.home.path() / "card.qcow2").string() + "'",
           &status);
  ASSERT_EQ(status, 0) << "split and qemu-img (qemu-utils) make the forms";

  auto* page = f.window->desktopPage();
  for (const fs::path& form : {pieces / "card.dd.001", f.home.path() / "card.qcow2"}) {
    SCOPED_TRACE(form.string());
    ASSERT_TRUE(page->chooseImage(QString::fromStdString(form.string())));
    EXPECT_EQ(f.session.source()->sizeInBytes(), fs::file_size(raw)) << "the whole disk, not its first piece";
  }

  fs::remove(pieces / "card.dd.004");
  DialogScript script;
  script.answer(QStringLiteral("MessagesInfo"), true);
  EXPECT_FALSE(page->chooseImage(QString::fromStdString((pieces / "card.dd.001").string())));
  ASSERT_TRUE(waitUntil([&] { return script.done(); }));
  EXPECT_TRUE(script.lastText().startsWith(QString::fromStdString((pieces / "card.dd.004").string() + ": ")))
      << script.lastText().toStdString();
}

}  // namespace
}  // namespace dravolin::test
