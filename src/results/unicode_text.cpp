#include "results/unicode_text.h"

#include <locale.h>
#include <wctype.h>

namespace dravolin {
namespace {

// One locale object for the life of the process; newlocale is thread-safe
// and the object is only read afterwards.
locale_t upperCaseLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

std::u32string toUpperCase(std::u32string_view text) {
  std::u32string out(text);
  locale_t locale = upperCaseLocale();
  for (char32_t& c : out) {
    if (c < 0x80) {
      if (c >= U'a' && c <= U'z') c = c - U'a' + U'A';
    } else if (locale != static_cast<locale_t>(nullptr)) {
      c = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
    }
  }
  return out;
}

namespace {

bool isC0OrDel(std::uint32_t c) { return c < 0x20 || c == 0x7F; }

// The escape of a control character c: "\n", "\r", "\t" or "\xNN".
template <typename Text>
void appendEscape(Text& out, std::uint32_t c) {
  using Char = typename Text::value_type;
  const char* named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
  if (named) {
    for (const char* p = named; *p; ++p) out.push_back(static_cast<Char>(*p));
    return;
  }
  constexpr char kHex[] = "0123456789abcdef";
  for (char ch : {'\\', 'x', kHex[(c >> 4) & 0xF], kHex[c & 0xF]}) out.push_back(static_cast<Char>(ch));
}

}  // namespace

bool hasControlCharacters(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (isC0OrDel(c)) return true;
    // U+0080-U+009F are C2 80 to C2 9F in UTF-8.
    if (c == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) return true;
  }
  return false;
}

void appendShownText(std::string& out, std::string_view utf8) {
  if (!hasControlCharacters(utf8)) {
    out.append(utf8);
    return;
  }
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (isC0OrDel(c)) {
      appendEscape(out, c);
    } else if (c == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) {
      appendEscape(out, static_cast<unsigned char>(utf8[i + 1]));
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
}

std::string shownText(std::string_view utf8) {
  std::string out;
  appendShownText(out, utf8);
  return out;
}

std::u16string shownText(std::u16string_view utf16) {
  std::u16string out;
  out.reserve(utf16.size());
  for (char16_t c : utf16) {
    if (isC0OrDel(c) || (c >= 0x80 && c <= 0x9F))
      appendEscape(out, c);
    else
      out.push_back(c);
  }
  return out;
}

}  // namespace dravolin
