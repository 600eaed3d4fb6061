#pragma once
// The upper-case form the name search compares (the UTF conversions are
// those of common/text_encoding.h).
#include <string>
#include <string_view>

#include "common/text_encoding.h"

namespace dravolin {

// Upper case by the Unicode simple case mapping of the C.UTF-8 locale.
std::u32string toUpperCase(std::u32string_view text);

}  // namespace dravolin
