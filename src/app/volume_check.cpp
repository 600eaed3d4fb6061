#include "app/volume_check.h"

#include "fat/fat_volume_check.h"
#include "partition/volume_check.h"

namespace dravolin {

bool hasVolumeCheck(FsType fileSystem) {
  return isFat(fileSystem) || fileSystem == FsType::Ntfs;
}

Result<VolumeParameters> checkVolume(SectorReader& reader, FsType fileSystem, SectorNumber start,
                                     SectorNumber end, const VolumeParameters& base) {
  if (auto fat = fatTypeOf(fileSystem)) return checkFatVolume(reader, *fat, start, base);
  if (fileSystem == FsType::Ntfs) return checkNtfsVolume(reader, start, end, base);
  return makeError(ErrorKind::InvalidArgument, "no volume check for " + toString(fileSystem));
}

}  // namespace dravolin
