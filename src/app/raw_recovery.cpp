#include "app/raw_recovery.h"

#include <algorithm>

namespace dravolin {

RawRecoveryRun::RawRecoveryRun(Session& session, SearchController& controller, RawPageChoice page,
                               std::function<std::string()> askAnotherSavingPath,
                               std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeSpace)
    : page_(std::move(page)) {
  const auto& state = session.state;
  settings_.start = state.PartitionStart;
  settings_.end = static_cast<SectorNumber>(std::max<std::int64_t>(state.PartitionEnd, 0));
  settings_.target.savingPath = page_.savingPath;
  settings_.exactEnds = page_.exactEnds;
  settings_.target.askSavingPath = std::move(askAnotherSavingPath);
  settings_.target.freeSpace = std::move(freeSpace);
  settings_.caption = state.caption;
  settings_.versionText = kVersionText;
  settings_.dateLine = session.startDateLine();
  settings_.elapsedText = [&controller] {
    controller.tick();
    return controller.clockText();
  };
  carver_ = std::make_unique<RawCarver>(*session.reader(), page_.table, session.activityLog(),
                                        session.recoveryLog(), settings_);
}

RawRecoveryRun::~RawRecoveryRun() = default;

SearchController::Worker RawRecoveryRun::worker() {
  return [this](Job& job) { carver_->run(job); };
}

std::uint64_t RawRecoveryRun::totalBytes() const {
  return (settings_.end - std::min(settings_.start, settings_.end)) * kSectorSize;
}

std::uint64_t RawRecoveryRun::scannedBytes() const {
  const SectorNumber at = std::max(carver_->scanPosition(), settings_.start);
  return std::min<std::uint64_t>((at - settings_.start) * kSectorSize, totalBytes());
}

}  // namespace dravolin
