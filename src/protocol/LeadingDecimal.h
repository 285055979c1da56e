// The number at the start of a text as atoi(3) reads it: leading white space, an optional sign,
// decimal digits; anything else ends the number, and no digits read as 0. Saturates at the
// 32-bit limits instead of overflowing.
#pragma once

#include <cstdint>
#include <string_view>

namespace tallyport {

int32_t LeadingDecimal(std::string_view text);

} // namespace tallyport
