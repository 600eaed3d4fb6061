#pragma once
// Conversions between UTF-8 (our internal text) and the 8-bit code pages the
// on-disk structures and the log files use, through iconv.
#include <string>
#include <string_view>

namespace dravolin {

inline constexpr std::string_view kDefaultAnsiCodePage = "WINDOWS-1252";
inline constexpr std::string_view kDefaultOemCodePage = "CP850";

// Converts UTF-8 to an 8-bit code page. Characters the code page lacks become '?'.
std::string utf8ToCodePage(std::string_view utf8, std::string_view codePage);

// Converts 8-bit text in a code page to UTF-8. Bytes the code page leaves
// undefined become U+FFFD.
std::string codePageToUtf8(std::string_view bytes, std::string_view codePage);

// Converts UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::u8string utf16ToUtf8Units(std::u16string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// True when the code page name is known to iconv.
bool isKnownCodePage(std::string_view codePage);

}  // namespace dravolin
