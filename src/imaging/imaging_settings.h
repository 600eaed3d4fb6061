#pragma once
// What the image-creation page decides and the imaging worker reads: where
// the copy goes (image files or another disk) and how the files are cut.
#include <cstdint>
#include <filesystem>
#include <string>

namespace dravolin {

struct ImagingSettings {
  bool ImageToDisk = false;                  // true: onto another disk; false: image files
  std::uint32_t ImageTargetDrive = 0;        // n of the target's "Disk" + n
  std::string ImageTargetLabel;              // target name + " - " + model
  std::filesystem::path ImageDestination;    // the image path as typed ("/x/Image.img")
  bool MultiFileImage = false;               // split into 650 MiB pieces
  // Replace image files of the same names. Without it every piece is made
  // as a new file (O_EXCL): a copy never writes into a file it did not
  // create, such as the image another run is writing.
  bool overwrite = false;
  // Where the list of unreadable sectors goes; empty: no list.
  std::filesystem::path badSectorList;
  // Where the MD5 and SHA-256 of the copy go; empty: no list (a disk target).
  std::filesystem::path hashList;
};

// The list of unreadable sectors written beside an image file.
inline std::filesystem::path badSectorListPath(const std::filesystem::path& destination) {
  return std::filesystem::path(destination.string() + ".bad-sectors.txt");
}

// The hash list written beside an image file.
inline std::filesystem::path hashListPath(const std::filesystem::path& destination) {
  return std::filesystem::path(destination.string() + ".hashes.txt");
}

}  // namespace dravolin
