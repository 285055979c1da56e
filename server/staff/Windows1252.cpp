#include "staff/Windows1252.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace tallyport::server::staff {
namespace {

// Code points of the bytes 0x80..0x9F; 0 where the byte is unassigned.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<char> ByteOf(char32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return char(code);
    for (std::size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == code || (kHighControls[i] == 0 && code == 0x80 + i))
            return char(0x80 + i);
    return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Decodes one UTF-8 character at the front of `text` and removes it; none if it is malformed
// (overlong forms, surrogates and values above U+10FFFF included).
std::optional<char32_t> TakeCodePoint(std::string_view& text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    int extra = 0;
    char32_t code = 0;
    if (lead < 0x80) {
        text.remove_prefix(1);
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, code = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (text.size() <= std::size_t(extra))
        return std::nullopt;
    for (int i = 1; i <= extra; ++i) {
        const auto next = static_cast<unsigned char>(text[std::size_t(i)]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        code = (code << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    text.remove_prefix(std::size_t(extra) + 1);
    return code;
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
        const std::string_view before = utf8;
        const auto code = TakeCodePoint(utf8);
        if (!code) {
            if (why)
                *why = "the text is not valid UTF-8";
            return std::nullopt;
        }
        const auto byte = ByteOf(*code);
        if (!byte) {
            if (why)
                *why = "the character " +
                       Describe(*code, before.substr(0, before.size() - utf8.size())) +
                       " has no Windows-1252 form";
            return std::nullopt;
        }
        out += *byte;
    }
    return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char32_t code = byte;
        if (byte >= 0x80 && byte < 0xA0 && kHighControls[byte - 0x80] != 0)
            code = kHighControls[byte - 0x80];
        AppendUtf8(out, code);
    }
    return out;
}

} // namespace tallyport::server::staff
