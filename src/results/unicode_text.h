#pragma once
// Small Unicode helpers for names: UTF-8 to UTF-16 and to code points, and
// the upper-case form the name search compares.
#include <string>
#include <string_view>

namespace dravolin {

// Invalid sequences become U+FFFD.
std::u32string utf8ToCodePoints(std::string_view utf8);
std::u16string utf8ToUtf16(std::string_view utf8);
std::string codePointsToUtf8(std::u32string_view text);

// Upper case by the Unicode simple case mapping of the C.UTF-8 locale.
std::u32string toUpperCase(std::u32string_view text);

}  // namespace dravolin
