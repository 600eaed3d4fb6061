#include "app/volume_check.h"

#include "fat/fat_volume_check.h"
#include "partition/volume_check.h"

namespace dravolin {

bool hasVolumeCheck(const std::string& fileSystem) {
  return fatTypeFromName(fileSystem).has_value() || fileSystem == "NTFS";
}

Result<VolumeParameters> checkVolume(SectorReader& reader, const std::string& fileSystem, SectorNumber start,
                                     SectorNumber end, const VolumeParameters& base) {
  if (auto fat = fatTypeFromName(fileSystem)) return checkFatVolume(reader, *fat, start, base);
  if (fileSystem == "NTFS") return checkNtfsVolume(reader, start, end, base);
  return makeError(ErrorKind::InvalidArgument, "no volume check for " + fileSystem);
}

}  // namespace dravolin
