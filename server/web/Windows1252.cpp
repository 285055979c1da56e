#include "web/Windows1252.h"

#include "protocol/Utf8.h"
#include "protocol/Windows1252.h"

#include <cstdint>
#include <cstdio>

namespace tallyport::server::staff {
namespace {

// The byte of a character; the five bytes Windows-1252 leaves unassigned stand for the control
// characters of their own number, so that they survive a round trip.
std::optional<char> ByteOf(char32_t code) {
    if (const auto byte = tallyport::UnicodeToWindows1252(code))
        return char(*byte);
    if (code >= 0x80 && code < 0xA0 && !tallyport::Windows1252ToUnicode(uint8_t(code)))
        return char(code);
    return std::nullopt;
}

std::string Describe(char32_t code, std::string_view utf8) {
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", unsigned(code));
    // Control characters are named by number only.
    if (code < 0xA0)
        return number;
    return std::string(number) + " (" + std::string(utf8) + ")";
}

} // namespace

std::optional<std::string> Utf8ToWindows1252(std::string_view utf8, std::string* why) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        MoveAsciiRun(utf8, out);
        if (utf8.empty())
            break;
        const auto character = DecodeUtf8(utf8);
        if (!character) {
            if (why)
                *why = "the text is not valid UTF-8";
            return std::nullopt;
        }
        const auto byte = ByteOf(character->codePoint);
        if (!byte) {
            if (why)
                *why = "the character " +
                       Describe(character->codePoint, utf8.substr(0, character->length)) +
                       " has no Windows-1252 form";
            return std::nullopt;
        }
        out += *byte;
        utf8.remove_prefix(character->length);
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        MoveAsciiRun(bytes, out);
        if (bytes.empty())
            break;
        const auto byte = static_cast<unsigned char>(bytes[0]);
        AppendUtf8(out, tallyport::Windows1252ToUnicode(byte).value_or(char32_t(byte)));
        bytes.remove_prefix(1);
    }
    return out;
}

} // namespace tallyport::server::staff
