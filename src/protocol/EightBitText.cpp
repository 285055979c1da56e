#include "protocol/EightBitText.h"

#include "protocol/Utf8.h"
#include "protocol/Windows1252.h"

#include <algorithm>
#include <cstdint>

namespace tallyport {

TextEncoding EncodingOf(std::string_view text) {
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
    return !ascii && IsValidUtf8(text) ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

std::string EightBitTextToUtf8(std::string_view text) {
    return IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
}

} // namespace tallyport
