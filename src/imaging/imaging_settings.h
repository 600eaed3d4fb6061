#pragma once
// What the image-creation page decides and the imaging worker reads: where
// the copy goes (image files or another disk) and how the files are cut.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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
  // A single image is written under the destination's own name ("sdb.dd")
  // instead of as piece 0 ("sdb0.img"); set by the command line for a name
  // with an extension of its own.
  bool keepDestinationName = false;
  // Where the list of unreadable sectors goes; empty: no list.
  std::filesystem::path badSectorList;
  // What the hash files are named after ("NAME" gives NAME.md5,
  // NAME.sha256); empty: no files (a disk target).
  std::filesystem::path hashList;
  // The digests computed while copying, in this order; empty: none.
  std::vector<std::string> hashAlgorithms = {"md5", "sha256"};
  // Rescue imaging: the mapfile in GNU ddrescue's format (empty: a plain
  // copy), the passes over bad sectors after scraping, and whether the
  // first pass runs backwards.
  std::filesystem::path mapfile;
  int retries = 0;
  bool reverse = false;
};

// The list of unreadable sectors written beside an image file.
inline std::filesystem::path badSectorListPath(const std::filesystem::path& destination) {
  return std::filesystem::path(destination.string() + ".bad-sectors.txt");
}

// What the hash files beside an image are named after: the destination
// (NAME.md5, NAME.sha256).
inline std::filesystem::path hashListPath(const std::filesystem::path& destination) { return destination; }

// The hash file of one algorithm ("md5", "sha1", "sha256").
inline std::filesystem::path hashFilePath(const std::filesystem::path& base, const std::string& algorithm) {
  return std::filesystem::path(base.string() + "." + algorithm);
}

}  // namespace dravolin
