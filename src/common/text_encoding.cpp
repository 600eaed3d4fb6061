#include "common/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace dravolin {
namespace {

class IconvHandle {
 public:
  IconvHandle(std::string_view to, std::string_view from)
      : handle_(iconv_open(std::string(to).c_str(), std::string(from).c_str())) {}
  ~IconvHandle() {
    if (valid()) iconv_close(handle_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

// Converts piece by piece; a character that cannot be converted is replaced
// and skipped, so one odd byte never loses the rest of the text.
std::string convert(std::string_view input, std::string_view to, std::string_view from,
                    std::string_view replacement, std::size_t skipOnError) {
  IconvHandle cd(to, from);
  if (!cd.valid()) return std::string(input);
  std::string out;
  std::vector<char> buffer(input.size() * 4 + 16);
  std::string in(input);
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace one unit and go on.
      out.append(replacement);
      std::size_t skip = std::min(skipOnError, inLeft);
      if (from == "UTF-8") {
        // Skip one whole UTF-8 sequence.
        skip = 1;
        while (skip < inLeft && (static_cast<unsigned char>(inPtr[skip]) & 0xC0) == 0x80) ++skip;
      }
      inPtr += skip;
      inLeft -= skip;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

}  // namespace

std::string utf8ToCodePage(std::string_view utf8, std::string_view codePage) {
  return convert(utf8, codePage, "UTF-8", "?", 1);
}

std::string codePageToUtf8(std::string_view bytes, std::string_view codePage) {
  return convert(bytes, "UTF-8", codePage, "\xEF\xBF\xBD", 1);
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u8string utf16ToUtf8Units(std::u16string_view text) {
  std::string s = utf16ToUtf8(text);
  return std::u8string(s.begin(), s.end());
}

bool isKnownCodePage(std::string_view codePage) {
  IconvHandle cd("UTF-8", codePage);
  return cd.valid();
}

}  // namespace dravolin
