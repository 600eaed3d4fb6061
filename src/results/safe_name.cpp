#include "results/safe_name.h"

namespace dravolin {
namespace {

// Length of the longest prefix of at most limit bytes that ends on a UTF-8
// character boundary.
std::size_t boundaryAtMost(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

std::string sanitiseName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char raw : name) {
    const auto c = static_cast<unsigned char>(raw);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) {
      out.push_back('_');
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  if (out.empty() || out == ".") return "_";
  if (out == "..") return "__";
  if (out.size() > kMaxComponentBytes) {
    const std::size_t dot = out.rfind('.');
    const std::size_t extension = dot == std::string::npos ? 0 : out.size() - dot;
    if (extension > 0 && extension <= 16 && dot > 0) {
      const std::string tail = out.substr(dot);
      out = out.substr(0, boundaryAtMost(out, kMaxComponentBytes - tail.size())) + tail;
    } else {
      out.resize(boundaryAtMost(out, kMaxComponentBytes));
    }
  }
  return out;
}

std::string FolderNameTable::claim(std::string_view name, bool folder) {
  std::string owner(1, folder ? 'D' : 'F');
  owner += name;
  const std::string safe = sanitiseName(name);
  auto [taken, added] = owners_.emplace(safe, owner);
  if (added || taken->second == owner) return safe;
  // The number goes before the last '.', or at the end of a name without one.
  const std::size_t dot = safe.rfind('.');
  const std::string stem = dot == std::string::npos ? safe : safe.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : safe.substr(dot);
  for (int i = 0; i < 10000; ++i) {
    std::string candidate = sanitiseName(stem + std::to_string(i) + extension);
    auto [other, free] = owners_.emplace(candidate, owner);
    if (free || other->second == owner) return candidate;
  }
  return safe;
}

}  // namespace dravolin
