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

}  // namespace dravolin
