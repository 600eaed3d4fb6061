#pragma once
// The upper-case form the name search compares (the UTF conversions are
// those of common/text_encoding.h).
#include <string>
#include <string_view>

#include "common/text_encoding.h"

namespace dravolin {

// Upper case by the Unicode simple case mapping of the C.UTF-8 locale.
std::u32string toUpperCase(std::u32string_view text);

// Names as every text output shows them (a terminal listing, a message, the
// wizard's views): the control characters C0 (U+0000-U+001F), DEL (U+007F)
// and C1 (U+0080-U+009F) are written as escapes, "\n", "\r", "\t" or
// "\x1b" (two lower-case hex digits, "\x9b" for U+009B), so that a name
// can neither forge a line nor send a sequence to a terminal. Everything
// else, invalid UTF-8 included, is kept as it is. JSON and saved names do
// not go through this.
bool hasControlCharacters(std::string_view utf8);
void appendShownText(std::string& out, std::string_view utf8);
std::string shownText(std::string_view utf8);
// The same for UTF-16 text (the wizard's strings).
std::u16string shownText(std::u16string_view utf16);

}  // namespace dravolin
