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

std::string MixedTextToUtf8(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    while (!text.empty()) {
        if (const std::optional<Utf8Character> character = DecodeUtf8(text)) {
            utf8.append(text.substr(0, character->length));
            text.remove_prefix(character->length);
            continue;
        }
        AppendUtf8(utf8,
                   Windows1252ToUnicode(uint8_t(text.front())).value_or(kReplacementCharacter));
        text.remove_prefix(1);
    }
    return utf8;
}

} // namespace tallyport
