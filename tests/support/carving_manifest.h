#pragma once
// The manifest of the carving fixture (tests/fixtures/build-carving-image.sh)
// and the check of one carved file against it, shared by the command-line
// and the wizard's carving tests.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dravolin::test {

// One file placed in carving.img, as its manifest row says.
struct PlacedFile {
  std::string type;
  std::uint64_t start = 0;          // sector of its header
  std::uint64_t size = 0;           // bytes of the original file
  std::string sha256;               // of the original file
  std::string carvedType;           // the folder it is carved into; "-": must not be carved
  std::uint64_t carvedSectors = 0;  // as many as the carving rules give
};

// The rows of a manifest (its heading line skipped).
std::vector<PlacedFile> readCarvingManifest(const std::filesystem::path& manifest);

// Checks a carved file (its bytes) against the file placed at p in source
// (the image's bytes): it is the carvedSectors sectors of the source from the
// header on, and, when it holds the whole original, begins with the original
// file byte for byte (the manifest's hash).
void expectCarvedFile(const PlacedFile& p, const std::string& carved, const std::string& source);

}  // namespace dravolin::test
