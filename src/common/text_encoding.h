#pragma once
// Conversions between UTF-8 (our internal text), UTF-16 and UTF-32, and the
// 8-bit code pages the on-disk structures and the log files use (iconv).
// This is the one place that encodes and decodes UTF-8.
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
// Appends the UTF-8 form of text to out.
void appendUtf8(std::string& out, std::u16string_view text);

// UTF-8 decoding: every malformed sequence (overlong forms such as C0 AF,
// surrogates, stray or missing continuation bytes) becomes U+FFFD.
std::u32string utf8ToCodePoints(std::string_view utf8);
std::u16string utf8ToUtf16(std::string_view utf8);
// Code points that UTF-8 cannot carry become U+FFFD.
std::string codePointsToUtf8(std::u32string_view text);

// True when the code page name is known to iconv.
bool isKnownCodePage(std::string_view codePage);

}  // namespace dravolin
