#include "imaging/image_hashes.h"

#include <openssl/evp.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace dravolin {
namespace fs = std::filesystem;

namespace {
constexpr DigestAlgorithm kAllDigests[] = {DigestAlgorithm::Md5, DigestAlgorithm::Sha1, DigestAlgorithm::Sha256};
}

std::optional<DigestAlgorithm> digestAlgorithmNamed(const std::string& name) {
  for (DigestAlgorithm a : kAllDigests)
    if (name == digestAlgorithmName(a)) return a;
  return std::nullopt;
}

const char* digestAlgorithmName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Md5: return "md5";
    case DigestAlgorithm::Sha1: return "sha1";
    case DigestAlgorithm::Sha256: return "sha256";
  }
  return "sha256";
}

Result<std::vector<std::string>> parseHashList(const std::string& list) {
  bool wanted[3] = {false, false, false};
  bool none = false;
  std::size_t from = 0;
  while (from <= list.size()) {
    std::size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(from, comma - from);
    for (char& c : item) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (item == "sha-1") item = "sha1";
    if (item == "sha-256") item = "sha256";
    if (item == "none") none = true;
    else if (auto a = digestAlgorithmNamed(item)) wanted[static_cast<int>(*a)] = true;
    else return makeError(ErrorKind::InvalidArgument, "--hash: unknown digest '" + item + "' (md5, sha1, sha256 or none)");
    from = comma + 1;
  }
  std::vector<std::string> names;
  for (DigestAlgorithm a : kAllDigests)
    if (wanted[static_cast<int>(a)]) names.emplace_back(digestAlgorithmName(a));
  if (none && !names.empty())
    return makeError(ErrorKind::InvalidArgument, "--hash: none cannot be combined with a digest");
  return names;
}

StreamDigest::StreamDigest(DigestAlgorithm algorithm) : context_(EVP_MD_CTX_new()) {
  const EVP_MD* md = algorithm == DigestAlgorithm::Md5    ? EVP_md5()
                     : algorithm == DigestAlgorithm::Sha1 ? EVP_sha1()
                                                          : EVP_sha256();
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

std::string hashFileText(DigestAlgorithm algorithm, const HashListContent& content, const std::string& fileName) {
  const std::string hex = content.hashes.of(algorithm);
  if (hex.empty()) return {};
  const bool series = content.pieces.size() > 1;
  const std::string name = content.pieces.size() == 1 ? content.pieces.front().filename().string() : "-";
  const std::string tool = std::string(digestAlgorithmName(algorithm)) + "sum";
  std::string upper = digestAlgorithmName(algorithm);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string text;
  text += "# " + upper + " of the " + std::to_string(content.sectorsCopied) +
          " sectors read from the source (unreadable sectors as the zeros written in their place)\n";
  if (content.sectorsCopied != content.sectorsRequested)
    text += "# The copy was stopped after " + std::to_string(content.sectorsCopied) + " of " +
            std::to_string(content.sectorsRequested) + " sectors: the hash covers the copied sectors only\n";
  if (series) {
    std::string files;
    for (const auto& piece : content.pieces) files += shellWord(piece.filename().string()) + " ";
    text += "# Check in this folder with: cat " + files + "| " + tool + " -c " + shellWord(fileName) + "\n";
  } else if (!content.pieces.empty()) {
    text += "# Check in this folder with: " + tool + " -c " + shellWord(fileName) + "\n";
  }
  text += checksumLine(hex, name);
  return text;
}

Result<std::vector<fs::path>> writeHashFiles(const fs::path& base, const HashListContent& content) {
  std::vector<fs::path> written;
  for (DigestAlgorithm a : kAllDigests) {
    if (content.hashes.of(a).empty()) continue;
    const fs::path path = fs::path(base.string() + "." + digestAlgorithmName(a));
    std::error_code ec;
    fs::remove(path, ec);  // a read-only file of an earlier copy is replaced too
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return makeError(ErrorKind::Io, path.string() + ": " + std::strerror(errno));
    out << hashFileText(a, content, path.filename().string());
    out.close();
    if (!out) return makeError(ErrorKind::Io, path.string() + ": cannot be written");
    written.push_back(path);
  }
  return written;
}

void removeHashFiles(const fs::path& base) {
  for (DigestAlgorithm a : kAllDigests) {
    std::error_code ec;
    fs::remove(fs::path(base.string() + "." + digestAlgorithmName(a)), ec);
  }
}

}  // namespace dravolin
