#pragma once
// MD5, SHA-1 and SHA-256 of what an imaging copied, and the hash files
// written beside the image, one per algorithm (NAME.md5, NAME.sha256) in the
// line format of md5sum and sha256sum ("HEX  NAME"), so that the copy can be
// checked with the tools every system has.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/error.h"

struct evp_md_ctx_st;

namespace dravolin {

enum class DigestAlgorithm { Md5, Sha1, Sha256 };

// "md5", "sha1", "sha256" and back; nullopt for another name.
std::optional<DigestAlgorithm> digestAlgorithmNamed(const std::string& name);
const char* digestAlgorithmName(DigestAlgorithm algorithm);

// A --hash list ("md5,sha256", "sha1", "none") as algorithm names in a fixed
// order without repeats; an unknown name is an error that names it.
Result<std::vector<std::string>> parseHashList(const std::string& list);

// One running digest. A digest the crypto library refuses (MD5 under a FIPS
// policy, for instance) gives an empty text instead of a wrong one.
class StreamDigest {
 public:
  explicit StreamDigest(DigestAlgorithm algorithm);
  ~StreamDigest();
  StreamDigest(const StreamDigest&) = delete;
  StreamDigest& operator=(const StreamDigest&) = delete;

  void update(std::span<const std::byte> data);
  // The digest in lower-case hexadecimal, as md5sum prints it; empty when
  // the library failed at any step. Ends the digest.
  std::string finishHex();

 private:
  evp_md_ctx_st* context_ = nullptr;
  bool failed_ = false;
};

struct ImageHashes {
  std::string md5;     // lower-case hexadecimal; empty when not computed
  std::string sha1;
  std::string sha256;
  bool empty() const { return md5.empty() && sha1.empty() && sha256.empty(); }
  std::string& of(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Md5 ? md5 : algorithm == DigestAlgorithm::Sha1 ? sha1 : sha256;
  }
  const std::string& of(DigestAlgorithm algorithm) const { return const_cast<ImageHashes*>(this)->of(algorithm); }
};

// What the hash list says about the copy it describes.
struct HashListContent {
  ImageHashes hashes;
  // The image files in order; empty for a copy onto a disk.
  std::vector<std::filesystem::path> pieces;
  std::uint64_t sectorsCopied = 0;
  std::uint64_t sectorsRequested = 0;
};

// The text of the hash file of one algorithm, named fileName. One piece is
// named on its line, so `md5sum -c` (`sha256sum -c`, ...) checks it in its
// folder; a series of pieces is named "-", so the pieces joined by `cat`
// check through standard input. Comment lines (which the tools skip) say
// how, and say when the copy was stopped before its end.
std::string hashFileText(DigestAlgorithm algorithm, const HashListContent& content, const std::string& fileName);

// Writes one file per computed digest, base + "." + algorithm, replacing
// older ones; returns the files written. The error names the file.
[[nodiscard]] Result<std::vector<std::filesystem::path>> writeHashFiles(const std::filesystem::path& base,
                                                                        const HashListContent& content);

// Removes the hash files of every algorithm named after base.
void removeHashFiles(const std::filesystem::path& base);

}  // namespace dravolin
