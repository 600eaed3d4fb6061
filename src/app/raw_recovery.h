#pragma once
// Raw recovery as both front ends run it: the extension page (which types,
// which saving path) and a carving run over the committed selection under
// the search controller. The front ends never see the carver itself.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <string>

#include "app/search_controller.h"
#include "app/session.h"
#include "raw/extension_selection.h"
#include "raw/raw_carver.h"

namespace dravolin {

class RawRecoveryRun {
 public:
  // page: the committed extension page. askAnotherSavingPath is asked on the
  // worker thread when the saving path is full; empty means stop.
  // freeSpace: free bytes on the volume of a folder; empty asks the file
  // system.
  RawRecoveryRun(Session& session, SearchController& controller, RawPageChoice page,
                 std::function<std::string()> askAnotherSavingPath,
                 std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeSpace = {});
  ~RawRecoveryRun();
  RawRecoveryRun(const RawRecoveryRun&) = delete;
  RawRecoveryRun& operator=(const RawRecoveryRun&) = delete;

  // The worker to start with SearchController::start.
  SearchController::Worker worker();

  const RawCarvingResult& result() const { return carver_->result(); }
  SectorNumber start() const { return settings_.start; }
  SectorNumber end() const { return settings_.end; }
  // Bytes of the selection scanned so far and in all; may be read while the
  // worker runs.
  std::uint64_t scannedBytes() const;
  std::uint64_t totalBytes() const;
  // Bytes written so far; may be read while the worker runs.
  std::uint64_t bytesRecovered() const { return carver_->bytesRecovered(); }

 private:
  RawPageChoice page_;
  RawCarvingSettings settings_;
  std::unique_ptr<RawCarver> carver_;
};

}  // namespace dravolin
