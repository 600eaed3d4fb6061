#include "results/saving_settings.h"

#include <gtest/gtest.h>

namespace dravolin {
namespace {

TEST(SettingsDialog, AddRefusals) {
  struct Case {
    const char* text;
    const char* message;  // nullptr when accepted
  };
  const Case cases[] = {
      {"jpeg", nullptr},
      {"jpeg1", "Extension should not exceed more than 4 characters."},
      {" tm", "Extension should not contain blank space."},
      {"t.mp", "Do not include \".\" (DOT) in extension. Enter extensions like this : tmp,html,bak etc.."},
      {"t*", "Do not include \"*\" in extension. Enter extensions like this : tmp,html,bak etc.."},
      {"DOC", nullptr},
      {"DOC", "This extension already exist. Enter different extension."},
      {"doc", nullptr},  // case matters
      {"", nullptr},
  };
  SavingSettings settings;
  SettingsDialogModel dialog(settings);
  for (const auto& c : cases) {
    auto refusal = dialog.add(c.text);
    if (c.message) {
      ASSERT_TRUE(refusal) << c.text;
      EXPECT_EQ(*refusal, c.message);
    } else {
      EXPECT_FALSE(refusal) << c.text << ": " << refusal.value_or("");
    }
  }
  EXPECT_EQ(dialog.listBox(), (std::vector<std::string>{"doc", "DOC", "jpeg"}));
  // The first extension joins the list at once; the others wait for Apply.
  EXPECT_EQ(settings.SaveExtensionList, (std::vector<std::string>{"jpeg"}));
  dialog.apply();
  EXPECT_EQ(settings.SaveExtensionList, (std::vector<std::string>{"jpeg", "DOC", "doc"}));
}

TEST(SettingsDialog, HundredAndFirstExtensionIsRefused) {
  SavingSettings settings;
  SettingsDialogModel dialog(settings);
  for (int i = 0; i < 100; ++i) ASSERT_FALSE(dialog.add(std::to_string(i))) << i;
  EXPECT_EQ(dialog.add("x").value_or(""), "Cannot add more extensions.");
  dialog.apply();
  EXPECT_EQ(settings.SaveExtensionList.size(), 100u);
}

TEST(SettingsDialog, CancelRestoresEverything) {
  SavingSettings settings;
  settings.SaveExtensionList = {"tmp"};
  SavingSettings before;
  {
    SettingsDialogModel opening(settings);
    opening.apply();
    before = settings;  // with the defaults the opening gave the date positions
  }
  SettingsDialogModel dialog(settings);
  ASSERT_FALSE(dialog.add("bak"));
  dialog.setDeletedFilter(2);
  dialog.setSelectionMode(1);
  dialog.setFatCopySource(3);
  dialog.selectKind(DateKind::Created);
  dialog.setDatePositions({0, 0, 40, 0, 0, 30});
  dialog.selectRow(1);
  dialog.remove();
  dialog.cancel();
  EXPECT_EQ(settings, before);
}

TEST(SettingsDialog, RemoveTakesFromTheListOrThePendingOnes) {
  SavingSettings settings;
  SettingsDialogModel dialog(settings);
  ASSERT_FALSE(dialog.add("aaa"));
  ASSERT_FALSE(dialog.add("bbb"));
  ASSERT_FALSE(dialog.add("ccc"));
  dialog.selectRow(2);  // "aaa", in the list
  dialog.remove();
  dialog.selectRow(0);  // "ccc", pending
  dialog.remove();
  dialog.apply();
  EXPECT_EQ(settings.SaveExtensionList, (std::vector<std::string>{"bbb"}));
  dialog.remove();
  EXPECT_FALSE(dialog.removeEnabled());
}

TEST(SettingsDialog, ActiveDateRanges) {
  SavingSettings settings;
  SettingsDialogModel dialog(settings);
  EXPECT_EQ(dialog.datePositions(), kDefaultDatePositions) << "opening gives the defaults";
  dialog.selectKind(DateKind::Accessed);
  dialog.setDatePositions({14, 5, 36, 0, 0, 30});
  EXPECT_EQ(settings.activeDateRanges[2], (ActiveDateRange{15, 6, 2006, 1, 1, 2000}));
  EXPECT_TRUE(settings.activeDateRanges[2].active());
  dialog.setDatePositions(kDefaultDatePositions);
  EXPECT_EQ(settings.activeDateRanges[2], ActiveDateRange{});
  EXPECT_FALSE(settings.activeDateRanges[2].active());
  // A reversed year range is not active.
  EXPECT_FALSE((ActiveDateRange{1, 1, 2001, 1, 1, 2005}).active());
}

}  // namespace
}  // namespace dravolin
