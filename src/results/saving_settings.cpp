#include "results/saving_settings.h"

#include <algorithm>

namespace dravolin {

ActiveDateRange activeRangeFor(const DatePositions& p) {
  if (p == kDefaultDatePositions) return {};
  return ActiveDateRange{p.earlierDay + 1, p.earlierMonth + 1, p.earlierYear + 1970,
                         p.afterDay + 1,   p.afterMonth + 1,   p.afterYear + 1970};
}

SettingsDialogModel::SettingsDialogModel(SavingSettings& settings) : settings_(settings) {
  listBox_ = settings_.SaveExtensionList;
  for (auto& positions : settings_.datePositions) {
    if (positions.earlierDay == 0) positions.earlierDay = kDefaultDatePositions.earlierDay;
    if (positions.earlierMonth == 0) positions.earlierMonth = kDefaultDatePositions.earlierMonth;
    if (positions.earlierYear == 0) positions.earlierYear = kDefaultDatePositions.earlierYear;
  }
  kept_ = settings_;
}

std::optional<std::string> SettingsDialogModel::add(const std::string& input) {
  std::string text = input.substr(0, 40);
  if (settings_.SaveExtensionList.size() + pending_.size() >= kMaxExtensions)
    return "Cannot add more extensions.";
  if (text.size() > 4) return "Extension should not exceed more than 4 characters.";
  if (!text.empty() && text.front() == ' ') return "Extension should not contain blank space.";
  if (text.empty()) return std::nullopt;
  if (text.find('.') != std::string::npos)
    return "Do not include \".\" (DOT) in extension. Enter extensions like this : tmp,html,bak etc..";
  if (text.find('*') != std::string::npos)
    return "Do not include \"*\" in extension. Enter extensions like this : tmp,html,bak etc..";
  if (std::find(listBox_.begin(), listBox_.end(), text) != listBox_.end())
    return "This extension already exist. Enter different extension.";
  listBox_.insert(listBox_.begin(), text);
  if (settings_.SaveExtensionList.empty()) settings_.SaveExtensionList.push_back(text);
  else pending_.push_back(text);
  selectedRow_ = 0;
  return std::nullopt;
}

void SettingsDialogModel::remove() {
  if (selectedRow_ < 0 || static_cast<std::size_t>(selectedRow_) >= listBox_.size()) return;
  std::string text = listBox_[static_cast<std::size_t>(selectedRow_)];
  listBox_.erase(listBox_.begin() + selectedRow_);
  auto& list = settings_.SaveExtensionList;
  if (auto it = std::find(list.begin(), list.end(), text); it != list.end()) list.erase(it);
  else if (auto p = std::find(pending_.begin(), pending_.end(), text); p != pending_.end()) pending_.erase(p);
  selectedRow_ = listBox_.empty() ? -1 : 0;
}

void SettingsDialogModel::setDatePositions(const DatePositions& positions) {
  auto index = static_cast<std::size_t>(kind_);
  settings_.datePositions[index] = positions;
  settings_.activeDateRanges[index] = activeRangeFor(positions);
}

const DatePositions& SettingsDialogModel::datePositions() const {
  return settings_.datePositions[static_cast<std::size_t>(kind_)];
}

void SettingsDialogModel::apply() {
  auto& list = settings_.SaveExtensionList;
  for (const auto& text : pending_)
    if (list.size() < kMaxExtensions) list.push_back(text);
  pending_.clear();
}

void SettingsDialogModel::cancel() {
  settings_ = kept_;
  pending_.clear();
  listBox_ = settings_.SaveExtensionList;
}

}  // namespace dravolin
