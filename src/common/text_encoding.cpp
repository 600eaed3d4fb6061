#include "common/text_encoding.h"

#include <iconv.h>

#include <utf8.h>

#include <cerrno>
#include <iterator>
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

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// A code point UTF-8 can carry, else the replacement character.
char32_t encodable(char32_t c) { return (c > 0x10FFFF || isSurrogate(c)) ? kReplacement : c; }

// Valid UTF-8 with every malformed sequence (overlong forms, surrogates,
// stray continuation bytes, truncated sequences) replaced by U+FFFD.
std::string validUtf8(std::string_view utf8) {
  if (utf8::find_invalid(utf8.begin(), utf8.end()) == utf8.end()) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size() + 8);
  utf8::replace_invalid(utf8.begin(), utf8.end(), std::back_inserter(out), kReplacement);
  return out;
}

}  // namespace

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  appendUtf8(out, text);
  return out;
}

void appendUtf8(std::string& out, std::u16string_view text) {
  // Most names are ASCII: their leading ASCII run is copied in one go.
  std::size_t ascii = 0;
  while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
  if (ascii != 0) {
    const std::size_t at = out.size();
    // The length is given back as counted: g++ 12 passes the room, not the
    // length asked for, to the writer.
    out.resize_and_overwrite(at + ascii, [&](char* data, std::size_t) {
      for (std::size_t i = 0; i < ascii; ++i) data[at + i] = static_cast<char>(text[i]);
      return at + ascii;
    });
  }
  if (ascii == text.size()) return;
  out.reserve(out.size() + (text.size() - ascii) * 3);
  for (std::size_t i = ascii; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {  // most names are ASCII
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    utf8::append(encodable(c), std::back_inserter(out));
  }
}

std::u8string utf16ToUtf8Units(std::u16string_view text) {
  std::string s = utf16ToUtf8(text);
  return std::u8string(s.begin(), s.end());
}

std::u32string utf8ToCodePoints(std::string_view utf8) {
  const std::string valid = validUtf8(utf8);
  std::u32string out;
  out.reserve(valid.size());
  utf8::unchecked::utf8to32(valid.begin(), valid.end(), std::back_inserter(out));
  return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  const std::string valid = validUtf8(utf8);
  std::u16string out;
  out.reserve(valid.size());
  utf8::unchecked::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
  return out;
}

std::string codePointsToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) utf8::append(encodable(c), std::back_inserter(out));
  return out;
}

bool isKnownCodePage(std::string_view codePage) {
  IconvHandle cd("UTF-8", codePage);
  return cd.valid();
}

}  // namespace dravolin
