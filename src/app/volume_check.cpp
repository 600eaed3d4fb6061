#include "app/volume_check.h"

#include "exfat/exfat_volume.h"
#include "fat/fat_volume_check.h"
#include "partition/volume_check.h"

namespace dravolin {

bool hasVolumeCheck(FsType fileSystem) {
  return isFat(fileSystem) || fileSystem == FsType::Ntfs || fileSystem == FsType::ExFat;
}

Result<VolumeParameters> checkVolume(SectorReader& reader, FsType fileSystem, SectorNumber start,
                                     SectorNumber end, const VolumeParameters& base) {
  if (auto fat = fatTypeOf(fileSystem)) return checkFatVolume(reader, *fat, start, base);
  if (fileSystem == FsType::Ntfs) return checkNtfsVolume(reader, start, end, base);
  if (fileSystem == FsType::ExFat) return checkExfatVolume(reader, start, base);
  return makeError(ErrorKind::InvalidArgument, "no volume check for " + toString(fileSystem));
}

}  // namespace dravolin
