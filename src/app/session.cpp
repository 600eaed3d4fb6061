#include "app/session.h"

#include "common/format.h"

namespace dravolin {

Session::Session(const EnvironmentOptions& options)
    : options_(options),
      config_(options.configFile.value_or(defaultConfigFile())),
      dataFolder_(resolveDataFolder(config_)),
      messages_(dataFolder_),
      activityLog_(LogKind::Activity, resolveLogFolder(config_, "Activity Log", options.logDir)),
      recoveryLog_(LogKind::Recovery, resolveLogFolder(config_, "Recovery Log", options.logDir)) {}

void Session::setSource(std::unique_ptr<SectorSource> source, DeviceInfo device) {
  reader_.reset();
  source_ = std::move(source);
  device_ = std::move(device);
  if (source_) {
    // "SectorSize" in the settings (512 or 4096) forces the logical sector
    // size of every source, as --sector-size does for one command.
    const std::string forced = config_.value(kAppKey, "SectorSize");
    if (forced == "512" || forced == "4096") source_->setLogicalSectorSize(static_cast<std::uint32_t>(std::stoul(forced)));
    reader_ = std::make_unique<SectorReader>(*source_);
  }
  listing_ = {};
}

void Session::writeStartBlock(const std::tm& now) {
  startDateLine_ = formatDateLine(now);
  activityLog_.appendLines({"-----------------------Start--------------------------", state.caption,
                            kVersionText, startDateLine_});
}

Result<void> Session::changeLogFolder(LogKind kind, const std::filesystem::path& folder) {
  const char* name = kind == LogKind::Activity ? "Activity Log" : "Recovery Log";
  config_.setValue(kAppKey, name, folder.string());
  (kind == LogKind::Activity ? activityLog_ : recoveryLog_).setFolder(folder);
  return config_.save();
}

}  // namespace dravolin
