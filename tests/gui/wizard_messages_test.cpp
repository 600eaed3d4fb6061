// Every message of the wizard's pages, where it appears: an action on a
// page and the text of the box it brings up.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/wizard_messages.h"
#include "gui/wizard_harness.h"
#include "ui/file_display.h"
#include "ui/image_creation_page.h"
#include "ui/raw_extension_page.h"
#include "ui/message_dialogs.h"
#include "ui/partition_pages.h"
#include "ui/search_progress.h"
#include "ui/settings_dialog.h"
#include "ui/step1_page.h"

namespace dravolin::test {
namespace {

using Action = std::function<void(WizardFixture&, DialogScript&)>;

struct MessageCase {
  const char* action;
  Action run;
  std::string expected;
};

void click(QWidget* page, const char* name) {
  auto* button = page->findChild<QAbstractButton*>(QString::fromUtf8(name));
  ASSERT_NE(button, nullptr) << name;
  button->click();
}

// Step 2 (a) with typed values.
Action typedRange(const char* start, const char* end, int type) {
  return [=](WizardFixture& f, DialogScript& s) {
    f.toStep2();
    f.page<ui::PartitionInfo>()->selectPartition(1);
    f.page<ui::PartitionInfo>()->searchExhaustive()->setChecked(true);
    click(f.page<ui::PartitionInfo>(), "next");
    auto* range = f.page<ui::PartitionRange>();
    ASSERT_NE(range, nullptr);
    if (start) range->startEdit()->setText(QString::fromUtf8(start));
    if (end) range->endEdit()->setText(QString::fromUtf8(end));
    range->fileSystem()->setCurrentIndex(type);
    s.answer(QStringLiteral("MessagesInfo"), true);
    click(range, "next");
  };
}

// Step 3 held at the gate, then a button answered No.
Action duringSearch(const char* button, const char* dialog = "QuestionMessage") {
  return [=](WizardFixture& f, DialogScript& s) {
    f.toStep2();
    f.gate->gateSector = firstDataSector("fat32.img") + 8;
    f.gate->armed = true;
    f.startSearch();
    ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
    s.answer(QString::fromUtf8(dialog), false);
    if (std::string(button) == "close") f.window->close();
    else click(f.page<ui::SearchProgress>(), button);
    f.gate->release();
  };
}

// Step 4 after a search, then an action.
Action inStep4(std::function<void(WizardFixture&, DialogScript&)> then) {
  return [=](WizardFixture& f, DialogScript& s) {
    f.toStep2();
    f.startSearch();
    f.waitForStep4(s);
    then(f, s);
  };
}

Action settingsAdd(std::vector<const char*> extensions) {
  return [=](WizardFixture& f, DialogScript& s) {
    s.expect(QStringLiteral("Settings"), [&f, &s, extensions](QDialog* d) {
      auto* settings = static_cast<ui::Settings*>(d);
      for (const char* e : extensions) {
        settings->extensionEdit()->setText(QString::fromUtf8(e));
        settings->addExtension();
      }
      settings->reject();
    });
    s.answer(QStringLiteral("MessagesInfo"), true);
    f.window->openSettings();
  };
}

// Raw Recovery's extension page over the carving fixture, with these rows ticked.
Action rawPage(std::vector<const char*> ticks, std::function<void(WizardFixture&, DialogScript&)> then) {
  return [=](WizardFixture& f, DialogScript& s) {
    f.devices = {fixtureDisk(0, fixturePath("carving/carving.img"))};
    f.toStep2b(3);
    auto* raw = f.page<ui::RawDefaultExtension>();
    ASSERT_NE(raw, nullptr);
    QStringList names;
    for (const char* t : ticks) names << QString::fromUtf8(t);
    raw->tick(names);
    then(f, s);
  };
}

// The raw search with a destination that holds nothing: the saving path
// is given, then the free-space question runs its course.
void fullDestination(WizardFixture& f, DialogScript& s) {
  f.freeSpace = 0;
  s.expect(QStringLiteral("SavingPath"), [&f](QDialog* d) {
    d->findChild<QLineEdit*>(QStringLiteral("destination"))->setText(QString::fromStdString((f.home.path() / "raw").string()));
    clickDialogButton(d, QStringLiteral("OK"));
  });
  s.answer(QStringLiteral("MessagesInfo"), true);                  // too little room
  s.expect(QStringLiteral("SavingPath"), [](QDialog* d) { d->reject(); });  // no other folder
  s.answer(QStringLiteral("QuestionMessage"), true);               // stop the search
  s.answer(QStringLiteral("MessagesInfo"), true);                  // aborted
  click(f.page<ui::RawDefaultExtension>(), "next");
}

// Image Recovery's page over the FAT16 fixture; a second disk as target when asked.
Action imagePage(std::function<void(WizardFixture&, DialogScript&, ui::ImageCreation&)> then, std::uint64_t targetBytes = 0) {
  return [=](WizardFixture& f, DialogScript& s) {
    f.devices = {fixtureDisk(0, fixturePath("fat16.img"))};
    if (targetBytes) {
      DeviceInfo target = fixtureDisk(1, f.home.path() / "no-such-disk", "Spare Disk");
      target.sizeBytes = targetBytes;
      f.devices.push_back(target);
    }
    f.toStep2b(1);
    auto* page = f.page<ui::ImageCreation>();
    ASSERT_NE(page, nullptr);
    then(f, s, *page);
  };
}

const std::vector<MessageCase>& cases() {
  static const std::vector<MessageCase> table = {
      {"Step 1 Next with Select Disk chosen",
       [](WizardFixture& f, DialogScript& s) {
         s.answer(QStringLiteral("MessagesInfo"), true);
         f.window->desktopPage()->next();
       },
       msg::kSelectHardDisk},
      {"Step 1 image that does not exist",
       [](WizardFixture& f, DialogScript& s) {
         s.answer(QStringLiteral("MessagesInfo"), true);
         f.window->desktopPage()->chooseImage(QString::fromStdString((f.home.path() / "none.img").string()));
       },
       msg::kImagePathNotFound},
      {"Step 2 Next on the disk without Search Exhaustive",
       [](WizardFixture& f, DialogScript& s) {
         f.toStep2();
         auto* step2 = f.page<ui::PartitionInfo>();
         step2->tree()->setCurrentItem(step2->tree()->topLevelItem(0));
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(step2, "next");
       },
       "Select partition type"},
      {"Step 2 Next on a partition entry of length 0",
       [](WizardFixture& f, DialogScript& s) {
         f.toStep2("damaged/mbr-bad-lengths.img");
         auto* step2 = f.page<ui::PartitionInfo>();
         ASSERT_TRUE(step2->selectPartition(1));
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(step2, "next");
         EXPECT_EQ(f.page<ui::PartitionInfo>(), step2) << "the entry is not committed: Step 2 stays";
       },
       "End sector should be bigger than Start sector"},
      {"Step 2 Exhaustive Recovery",
       [](WizardFixture& f, DialogScript& s) {
         f.toStep2();
         // The menu searches a highlighted partition (greyed out on the disk node).
         ASSERT_TRUE(f.page<ui::PartitionInfo>()->selectPartition(1));
         s.answer(QStringLiteral("QuestionMessage"), false);
         f.window->menu().exhaustiveRecovery->trigger();
       },
       msg::kExhaustiveQuestion},
      {"Step 2 (a) start not a number", typedRange("abc", nullptr, 1), "Start sector is not valid."},
      {"Step 2 (a) end not a number", typedRange(nullptr, "12x", 1), "End sector is not valid."},
      {"Step 2 (a) end not bigger", typedRange("100", "100", 1), "End sector should be bigger than start sector."},
      {"Step 2 (a) UNKNOWN", typedRange(nullptr, nullptr, 3), "Select partition type."},
      {"Step 3 Stop", duringSearch("stop"), msg::kStopQuestion},
      {"Step 3 Back", duringSearch("back"), msg::kBackToStep2Question},
      {"Step 3 close box", duringSearch("close"), msg::kExitDravolinQuestion},
      {"Step 4 opened after a directory tree search", inStep4([](WizardFixture&, DialogScript&) {}),
       msg::kExhaustiveHint},
      {"Step 4 Back", inStep4([](WizardFixture& f, DialogScript& s) {
         s.answer(QStringLiteral("QuestionMessage"), false);
         click(f.page<ui::FileDisplay>(), "back");
       }),
       msg::kBackToStep2Question},
      {"Step 4 Exit", inStep4([](WizardFixture& f, DialogScript& s) {
         s.answer(QStringLiteral("QuestionMessage"), false);
         click(f.page<ui::FileDisplay>(), "exit");
       }),
       msg::kExitQuestion},
      {"Step 4 Exhaustive Recovery", inStep4([](WizardFixture& f, DialogScript& s) {
         s.answer(QStringLiteral("QuestionMessage"), false);
         f.window->menu().exhaustiveRecovery->trigger();
       }),
       msg::kExhaustiveQuestion},
      {"Saving with no destination", inStep4([](WizardFixture& f, DialogScript& s) {
         s.expect(QStringLiteral("SavingPath"), [&s](QDialog* d) {
           s.expect(QStringLiteral("MessagesInfo"), [d](QDialog* box) {
             box->accept();
             QTimer::singleShot(0, d, [d] { d->reject(); });
           });
           clickDialogButton(d, QStringLiteral("OK"));
         });
         f.window->menu().recoverSelected->trigger();
       }),
       "Not a valid Destination. Please specify destination."},
      {"Saving with nothing checked", inStep4([](WizardFixture& f, DialogScript& s) {
         s.expect(QStringLiteral("SavingPath"), [&f, &s](QDialog* d) {
           d->findChild<QLineEdit*>(QStringLiteral("destination"))
               ->setText(QString::fromStdString((f.home.path() / "out").string()));
           s.expect(QStringLiteral("MessagesInfo"), [d](QDialog* box) {
             box->accept();
             QTimer::singleShot(0, d, [d] { d->reject(); });
           });
           clickDialogButton(d, QStringLiteral("OK"));
         });
         f.window->menu().recoverSelected->trigger();
       }),
       "You have not selected any file/folder."},
      {"Settings Add jpeg1", settingsAdd({"jpeg1"}), "Extension should not exceed more than 4 characters."},
      {"Settings Add t.mp", settingsAdd({"t.mp"}),
       "Do not include \".\" (DOT) in extension. Enter extensions like this : tmp,html,bak etc.."},
      {"Settings Add \" doc\"", settingsAdd({" doc"}), "Extension should not contain blank space."},
      {"Settings Add DOC twice", settingsAdd({"DOC", "DOC"}), "This extension already exist. Enter different extension."},
      {"Recovery History without a file",
       [](WizardFixture& f, DialogScript& s) {
         f.toStep2();
         s.answer(QStringLiteral("MessagesInfo"), true);
         f.window->menu().recoveryHistory->trigger();
       },
       "Recovery History file not found"},
      {"Clear Recovery History without a file",
       [](WizardFixture& f, DialogScript& s) {
         f.toStep2();
         s.answer(QStringLiteral("MessagesInfo"), true);
         f.window->menu().clearRecoveryHistory->trigger();
       },
       "Recovery Log.txt file not found"},
      {"Clear Activity Report",
       [](WizardFixture& f, DialogScript& s) {
         f.toStep2();
         s.answer(QStringLiteral("QuestionMessage"), false);
         f.window->menu().clearActivityReport->trigger();
       },
       "Are you sure you want to delete Activity Report"},
      {"Raw Recovery Step 1 Next with Select Disk chosen",
       [](WizardFixture& f, DialogScript& s) {
         f.window->tabs()->setCurrentIndex(3);
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(f.window->rawPage(), "next");
       },
       msg::kSelectHardDisk},
      {"Raw Step 2 (b) Next with no extension ticked",
       rawPage({}, [](WizardFixture& f, DialogScript& s) {
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(f.page<ui::RawDefaultExtension>(), "next");
       }),
       "Please select extensions to start."},
      {"Raw Step 2 (b) saving path cancelled",
       rawPage({"JPEG"}, [](WizardFixture& f, DialogScript& s) {
         s.expect(QStringLiteral("SavingPath"), [](QDialog* d) { d->reject(); });
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(f.page<ui::RawDefaultExtension>(), "next");
       }),
       "Please specify destination/saving path."},
      {"Raw Step 3 with a full destination", rawPage({"JPEG"}, fullDestination),
       "Insufficient free space on target. Please change target drive."},
      {"Raw Step 3 full destination, no other folder", rawPage({"JPEG"}, fullDestination),
       "Are you sure you want to stop Raw Search/Save process"},
      {"Raw Step 3 stopped at the full destination", rawPage({"JPEG"}, fullDestination), "Raw Search Aborted."},
      {"Image Recovery Step 1 Next with Select Disk chosen",
       [](WizardFixture& f, DialogScript& s) {
         f.window->tabs()->setCurrentIndex(1);
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(f.window->imagePage(), "next");
       },
       msg::kSelectHardDisk},
      {"Image Step 2 (b) destination without room", imagePage([](WizardFixture& f, DialogScript& s, ui::ImageCreation& p) {
         f.freeSpace = 1024;
         p.destination()->setText(QString::fromStdString((f.home.path() / "Image.img").string()));
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(&p, "next");
       }),
       "Insufficient free space on target. Please change target drive."},
      {"Image Step 2 (b) destination that exists", imagePage([](WizardFixture& f, DialogScript& s, ui::ImageCreation& p) {
         writeFile(f.home.path() / "Image0.img", "an older image");
         p.destination()->setText(QString::fromStdString((f.home.path() / "Image.img").string()));
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(&p, "next");
       }),
       "This image file already exists. Select different file"},
      {"Image Step 2 (b) target disk too small", imagePage([](WizardFixture&, DialogScript& s, ui::ImageCreation& p) {
         p.type()->setCurrentIndex(1);
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(&p, "next");
       }, 512),
       "Insufficient free space on target. Please change target drive."},
      {"Image Step 2 (b) target disk", imagePage([](WizardFixture&, DialogScript& s, ui::ImageCreation& p) {
         p.type()->setCurrentIndex(1);
         s.answer(QStringLiteral("QuestionMessage"), false);
         click(&p, "next");
       }, 1ull << 40),
       "All data will be lost in Target Disk -\r\nDisk1 - Spare Disk\r\n\r\nAre you sure you want to continue ?\r\n"},
      {"Image Step 3 stopped", imagePage([](WizardFixture& f, DialogScript& s, ui::ImageCreation& p) {
         p.destination()->setText(QString::fromStdString((f.home.path() / "Image.img").string()));
         f.gate->gateSector = 64;
         f.gate->armed = true;
         click(&p, "next");
         ASSERT_TRUE(waitUntil([&] { return f.gate->waiting.load() > 0; }));
         s.expect(QStringLiteral("QuestionMessage"), [&f](QDialog* d) {
           f.gate->release();
           clickDialogButton(d, QStringLiteral("Yes"));
         });
         s.answer(QStringLiteral("MessagesInfo"), true);
         click(f.page<ui::SearchProgress>(), "stop");
       }),
       "Image creation aborted."},
      {"Step 2 (c) after a lost-partition search of a range holding no file system",
       typedRange("1", "2", 1), "No file systems could be identified."},
  };
  return table;
}

class WizardMessage : public ::testing::TestWithParam<std::size_t> {};

TEST_P(WizardMessage, AppearsWhereThePageShowsIt) {
  const MessageCase& c = cases()[GetParam()];
  SCOPED_TRACE(c.action);
  WizardFixture f;
  DialogScript script;
  c.run(f, script);
  ASSERT_TRUE(waitUntil([&] { return script.done() && !QApplication::activeModalWidget(); }, 30000))
      << c.action << ": the script still waits";
  const QString expected = ui::fromWizardText(c.expected);
  bool found = false;
  QStringList texts;
  for (const auto& seen : script.seen()) {
    found = found || seen.text == expected;
    texts << seen.dialog + QStringLiteral(": ") + seen.text;
  }
  EXPECT_TRUE(found) << c.action << " showed: " << texts.join(QStringLiteral(" | ")).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Pages, WizardMessage, ::testing::Range<std::size_t>(0, cases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& row) {
                           return caseName(cases()[row.param].action);
                         });

TEST(WizardWindow, RemoteRecoveryTabChangesTheCaptionButNotTheStep) {
  WizardFixture f;
  EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Dravolin - Desktop Recovery"));
  f.session.state.CurrentStep = 1;
  f.window->tabs()->setCurrentIndex(2);
  EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Dravolin - Remote Recovery"));
  EXPECT_EQ(f.session.state.CurrentStep, 1);
  auto* label = f.window->tabs()->currentWidget()->findChild<QLabel*>(QStringLiteral("notAvailable"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("Remote Recovery is not available on this system."));
  f.window->tabs()->setCurrentIndex(3);
  EXPECT_EQ(f.window->windowTitle(), QStringLiteral("Dravolin - Raw Recovery"));
  EXPECT_EQ(f.session.state.CurrentStep, 9);
  f.window->tabs()->setCurrentIndex(0);
  EXPECT_EQ(f.session.state.CurrentStep, 1);
}

}  // namespace
}  // namespace dravolin::test
