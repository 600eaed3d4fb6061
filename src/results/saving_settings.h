#pragma once
// The options of saving recovered files (kept in memory for the run) and the
// model of the dialog that edits them: the extension list with its refusals,
// the three date ranges, and Apply/Cancel.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravolin {

inline constexpr std::size_t kMaxExtensions = 100;

enum class DateKind { Modified = 0, Created = 1, Accessed = 2 };

// List positions of the six date boxes: day 0..30, month 0..11, year 0..60
// (1970..2030). Earlier is the upper bound, After the lower bound.
struct DatePositions {
  int earlierDay = 0, earlierMonth = 0, earlierYear = 0;
  int afterDay = 0, afterMonth = 0, afterYear = 0;
  bool operator==(const DatePositions&) const = default;
};
inline constexpr DatePositions kDefaultDatePositions{30, 11, 60, 0, 0, 0};

// The active range of one kind as real dates; all 0 when it filters nothing.
struct ActiveDateRange {
  int earlierDay = 0, earlierMonth = 0, earlierYear = 0;
  int afterDay = 0, afterMonth = 0, afterYear = 0;
  // Active when the upper year is set and not below the lower one.
  bool active() const { return earlierYear != 0 && earlierYear >= afterYear; }
  bool operator==(const ActiveDateRange&) const = default;
};

struct SavingSettings {
  int SaveDeletedFilter = 0;   // 0 all, 1 live only, 2 deleted only
  int SaveSelectionMode = 0;   // 0 checked items, 1 everything, 2 unchecked items
  int FatCopySource = 0;       // 0 Auto, 1 FAT1, 2 FAT2, 3 Contiguous
  // NTFS sparse runs and bytes past the initialized size are written as
  // holes; false writes their zeros out.
  bool SparseHoles = true;
  std::vector<std::string> SaveExtensionList;
  std::array<DatePositions, 3> datePositions{};
  std::array<ActiveDateRange, 3> activeDateRanges{};
  bool operator==(const SavingSettings&) const = default;
};

// The active range that a kind's positions give.
ActiveDateRange activeRangeFor(const DatePositions& positions);

// The settings dialog without windows. Opening takes copies; Cancel restores them.
class SettingsDialogModel {
 public:
  explicit SettingsDialogModel(SavingSettings& settings);

  // Rows of the extension list box, top first.
  const std::vector<std::string>& listBox() const { return listBox_; }
  bool removeEnabled() const { return !listBox_.empty(); }
  int selectedRow() const { return selectedRow_; }
  void selectRow(int row) { selectedRow_ = row; }

  // "&Add": nullopt when added or when the text was empty; else the refusal.
  std::optional<std::string> add(const std::string& text);
  // "&Remove": removes the selected row.
  void remove();

  void setDeletedFilter(int value) { settings_.SaveDeletedFilter = value; }
  void setSelectionMode(int value) { settings_.SaveSelectionMode = value; }
  void setFatCopySource(int value) { settings_.FatCopySource = value; }

  DateKind currentKind() const { return kind_; }
  void selectKind(DateKind kind) { kind_ = kind; }
  // The six date boxes of the current kind changed.
  void setDatePositions(const DatePositions& positions);
  const DatePositions& datePositions() const;

  void apply();
  void cancel();

 private:
  SavingSettings& settings_;
  SavingSettings kept_;
  std::vector<std::string> pending_;
  std::vector<std::string> listBox_;
  int selectedRow_ = -1;
  DateKind kind_ = DateKind::Modified;
};

}  // namespace dravolin
