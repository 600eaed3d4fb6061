#include "imaging/image_hashes.h"

#include <openssl/evp.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace dravolin {
namespace fs = std::filesystem;

StreamDigest::StreamDigest(DigestAlgorithm algorithm) : context_(EVP_MD_CTX_new()) {
  const EVP_MD* md = algorithm == DigestAlgorithm::Md5 ? EVP_md5() : EVP_sha256();
  failed_ = !context_ || !md || EVP_DigestInit_ex(context_, md, nullptr) != 1;
}

StreamDigest::~StreamDigest() { EVP_MD_CTX_free(context_); }

void StreamDigest::update(std::span<const std::byte> data) {
  if (failed_ || data.empty()) return;
  if (EVP_DigestUpdate(context_, data.data(), data.size()) != 1) failed_ = true;
}

std::string StreamDigest::finishHex() {
  if (failed_) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  failed_ = true;  // a digest is finished once
  if (EVP_DigestFinal_ex(context_, digest, &length) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(std::size_t{length} * 2);
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}

namespace {

// A name on a checksum line: md5sum marks a line whose name holds a
// backslash or a line break with a leading backslash and escapes both.
std::string checksumLine(const std::string& hex, const std::string& name) {
  if (name.find_first_of("\\\n") == std::string::npos) return hex + "  " + name + "\n";
  std::string escaped;
  for (char c : name) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '\n') escaped += "\\n";
    else escaped += c;
  }
  return "\\" + hex + "  " + escaped + "\n";
}

// A file name as a shell word inside a comment line: single-quoted when it
// holds anything but plain characters, control characters shown as '?'.
std::string shellWord(const std::string& name) {
  std::string shown;
  bool plain = !name.empty();
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    shown += u < 0x20 || u == 0x7F ? '?' : c;
    if (!(std::isalnum(u) || std::strchr("._-+,@%/=:", c))) plain = false;
  }
  if (plain) return shown;
  std::string quoted = "'";
  for (char c : shown) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string hashListText(const HashListContent& content, const std::string& listName) {
  const ImageHashes& h = content.hashes;
  const bool series = content.pieces.size() > 1;
  const std::string name = content.pieces.size() == 1 ? content.pieces.front().filename().string() : "-";
  std::string text;
  text += "# MD5 and SHA-256 of the " + std::to_string(content.sectorsCopied) +
          " sectors read from the source (unreadable sectors as the zeros written in their place)\n";
  if (content.sectorsCopied != content.sectorsRequested)
    text += "# The copy was stopped after " + std::to_string(content.sectorsCopied) + " of " +
            std::to_string(content.sectorsRequested) + " sectors: the hashes cover the copied sectors only\n";
  if (series) {
    std::string files;
    for (const auto& piece : content.pieces) files += shellWord(piece.filename().string()) + " ";
    text += "# Check in this folder with: cat " + files + "| sha256sum -c " + shellWord(listName) +
            " (md5sum -c likewise)\n";
  } else if (!content.pieces.empty()) {
    text += "# Check in this folder with: sha256sum -c " + shellWord(listName) + " (md5sum -c likewise)\n";
  }
  text += "# Each tool skips the other's line with a warning about one improperly formatted line\n";
  if (!h.md5.empty()) text += checksumLine(h.md5, name);
  if (!h.sha256.empty()) text += checksumLine(h.sha256, name);
  return text;
}

Result<void> writeHashList(const fs::path& path, const HashListContent& content) {
  std::error_code ec;
  fs::remove(path, ec);  // a read-only list of an earlier copy is replaced too
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return makeError(ErrorKind::Io, path.string() + ": " + std::strerror(errno));
  out << hashListText(content, path.filename().string());
  out.close();
  if (!out) return makeError(ErrorKind::Io, path.string() + ": cannot be written");
  return {};
}

}  // namespace dravolin
