#pragma once
// MD5 and SHA-256 of what an imaging copied, and the hash list written beside
// the image in the line format of md5sum and sha256sum ("HEX  NAME"), so that
// the copy can be checked with the tools every system has.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/error.h"

struct evp_md_ctx_st;

namespace dravolin {

enum class DigestAlgorithm { Md5, Sha256 };

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
  std::string sha256;
  bool empty() const { return md5.empty() && sha256.empty(); }
};

// What the hash list says about the copy it describes.
struct HashListContent {
  ImageHashes hashes;
  // The image files in order; empty for a copy onto a disk.
  std::vector<std::filesystem::path> pieces;
  std::uint64_t sectorsCopied = 0;
  std::uint64_t sectorsRequested = 0;
};

// The text of the hash list for a list file named listName. One piece is
// named on its lines, so `md5sum -c` and `sha256sum -c` check it in its
// folder; a series of pieces is named "-", so the pieces joined by `cat`
// check through standard input. Comment lines (which both tools skip) say
// how, and say when the copy was stopped before its end.
std::string hashListText(const HashListContent& content, const std::string& listName);

// Writes the list, replacing an older one; the error names the file.
[[nodiscard]] Result<void> writeHashList(const std::filesystem::path& path, const HashListContent& content);

}  // namespace dravolin
