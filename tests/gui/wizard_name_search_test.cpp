// The Search File(s) window of the result browser on the FAT32 fixture: the
// hits its model lists against the fixture's manifest, checks and opening
// through the hit list, names with control characters shown escaped, and the
// model gone with the window.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QTreeView>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "gui/wizard_harness.h"
#include "ui/file_display.h"
#include "ui/name_search_dialog.h"
#include "ui/name_search_model.h"
#include "ui/result_models.h"

namespace dravolin::test {
namespace {

using Column = ui::NameSearchModel::Column;

std::string cell(const ui::NameSearchModel& model, int row, int column) {
  return model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString();
}

std::string pathOfRow(const ui::NameSearchModel& model, int row) {
  const std::string folder = cell(model, row, Column::Path);
  return (folder == "/" ? "/" : folder + "/") + cell(model, row, Column::Name);
}

int rowOfPath(const ui::NameSearchModel& model, const std::string& path) {
  for (int row = 0; row < model.rowCount(); ++row)
    if (pathOfRow(model, row) == path) return row;
  return -1;
}

// Runs a search in the window and waits for its end.
void searchFor(ui::FileSearchDialog* dialog, const QString& pattern) {
  bool ended = false;
  QObject::connect(dialog, &ui::FileSearchDialog::searchEnded, dialog, [&ended] { ended = true; },
                   Qt::SingleShotConnection);
  dialog->patternEdit()->setText(pattern);
  dialog->startOrStop();
  ASSERT_TRUE(waitUntil([&] { return ended; })) << pattern.toStdString();
}

TEST(WizardNameSearch, TheHitListShowsTheFixtureChecksOpensAndGoesWithTheWindow) {
  WizardFixture f;
  DialogScript script;
  f.toStep2("fat32.img");
  f.startSearch();
  f.waitForStep4(script);
  auto* step4 = f.page<ui::FileDisplay>();
  ResultTree& tree = *step4->resultTree();
  // FAT lists no zero-length file (it has no cluster).
  auto manifest = readManifest("fat32.img");
  std::erase_if(manifest, [](const ManifestRow& r) { return !r.folder && r.size == 0; });
  ASSERT_GE(manifest.size(), 40u);

  QPointer<ui::FileSearchDialog> window;
  QPointer<ui::NameSearchModel> model;
  script.expect(QStringLiteral("FILE_SEARCH"), [&](QDialog* d) {
    window = qobject_cast<ui::FileSearchDialog*>(d);
    ASSERT_TRUE(window);
    model = window->hitModel();
    ASSERT_TRUE(model);
    EXPECT_EQ(window->hitList()->model(), model.data());
    auto closeAtEnd = qScopeGuard([&] {
      if (window) window->reject();
    });

    // "*": every folder and file of the manifest, with its type and size.
    ASSERT_NO_FATAL_FAILURE(searchFor(window, QStringLiteral("*")));
    EXPECT_EQ(window->countText().toStdString(), "Search String Found Count : " + std::to_string(manifest.size()));
    ASSERT_EQ(static_cast<std::size_t>(model->rowCount()), manifest.size());
    for (const ManifestRow& r : manifest) {
      int row = rowOfPath(*model, r.path);
      if (row < 0 && r.deleted) {
        // A deleted short name has lost its first character.
        std::string shortName = r.path;
        shortName[shortName.rfind('/') + 1] = '_';
        row = rowOfPath(*model, shortName);
      }
      ASSERT_GE(row, 0) << r.path;
      const std::string type = std::string(r.deleted ? "Deleted " : "") + (r.folder ? "Folder" : "File");
      EXPECT_EQ(cell(*model, row, Column::Type), type) << r.path;
      if (!r.folder) {
        EXPECT_EQ(cell(*model, row, Column::Size), std::to_string(r.size)) << r.path;
      }
      EXPECT_FALSE(model->data(model->index(row, Column::Name), Qt::DecorationRole).value<QIcon>().isNull());
    }

    // A pattern with '?': the newest hit first, in the folder of the notes.
    ASSERT_NO_FATAL_FAILURE(searchFor(window, QStringLiteral("note ?1.txt")));
    EXPECT_EQ(window->countText(), QStringLiteral("Search String Found Count : 3"));
    ASSERT_EQ(model->rowCount(), 3);
    const std::vector<std::string> notes = {"note 21.txt", "note 11.txt", "note 01.txt"};
    for (int row = 0; row < 3; ++row) {
      EXPECT_EQ(cell(*model, row, Column::Name), notes[static_cast<std::size_t>(row)]);
      EXPECT_EQ(cell(*model, row, Column::Path), "/Documents/Many notes");
      const auto file = tree.findFile("/Documents/Many notes/" + notes[static_cast<std::size_t>(row)]);
      ASSERT_TRUE(file);
      EXPECT_EQ(cell(*model, row, Column::Id), std::to_string(tree.entries().FileList[file->file].fileIndex));
    }

    // Checking a file hit marks the file for saving, as the browser does.
    const auto note21 = tree.findFile("/Documents/Many notes/note 21.txt");
    ASSERT_TRUE(model->setData(model->index(0, Column::Name), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(tree.entries().FileList[note21->file].mark, 'y');
    EXPECT_EQ(model->data(model->index(0, Column::Name), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(model->data(model->index(1, Column::Name), Qt::CheckStateRole).toInt(), Qt::Unchecked);

    // Checking a folder hit marks its subtree on a worker; the rows follow.
    ASSERT_NO_FATAL_FAILURE(searchFor(window, QStringLiteral("*notes")));
    ASSERT_EQ(model->rowCount(), 1);
    ASSERT_TRUE(model->setData(model->index(0, Column::Name), Qt::Checked, Qt::CheckStateRole));
    ASSERT_TRUE(waitUntil([&] { return !step4->marking(); }));
    EXPECT_EQ(model->data(model->index(0, Column::Name), Qt::CheckStateRole).toInt(), Qt::Checked);
    const auto note01 = tree.findFile("/Documents/Many notes/note 01.txt");
    EXPECT_EQ(tree.entries().FileList[note01->file].mark, 'y');

    // Names read from disk with control characters are shown escaped, in
    // the name and in the path.
    const auto temp = tree.findFolder("/Temp");
    ASSERT_TRUE(temp);
    ASSERT_TRUE(tree.renameFolder(*temp, "Te\tmp\x1b[2J"));
    const auto gap = tree.findFile("/Te\tmp\x1b[2J/gap B fat32.bin");
    ASSERT_TRUE(gap);
    ASSERT_TRUE(tree.renameFile(gap->file, "gap\nDeleted File 1 fake.txt\xc2\x9b"));  // U+009B, CSI
    ASSERT_NO_FATAL_FAILURE(searchFor(window, QStringLiteral("gap*")));
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(cell(*model, 0, Column::Name), "gap\\nDeleted File 1 fake.txt\\x9b");
    EXPECT_EQ(cell(*model, 0, Column::Path), "/Te\\tmp\\x1b[2J");

    // A double-click on a folder hit opens it in the browser and closes the window.
    ASSERT_NO_FATAL_FAILURE(searchFor(window, QStringLiteral("reports")));
    ASSERT_EQ(model->rowCount(), 1);
    emit window->hitList()->doubleClicked(model->index(0, Column::Type));
    EXPECT_FALSE(window->isVisible());
    closeAtEnd.dismiss();
  });
  step4->searchFiles();
  ASSERT_TRUE(script.done());
  EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front().toStdString();
  // The window and its model are gone; the browser shows the opened folder.
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(model.isNull());
  const auto reports = tree.findFolder("/Documents/Work/Reports");
  ASSERT_TRUE(reports);
  EXPECT_EQ(step4->listModel()->folder(), *reports);
}

}  // namespace
}  // namespace dravolin::test
