#include "web/JsonText.h"

#include <charconv>

namespace tallyport::server::staff {

void AppendJsonString(std::string& out, std::string_view utf8) {
    out += '"';
    std::size_t plain = 0; // start of the run not yet copied
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(utf8, plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            static constexpr char kHex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            out.append(escaped, sizeof escaped);
        }
        }
    }
    out.append(utf8, plain, utf8.size() - plain);
    out += '"';
}

void AppendJsonInteger(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

} // namespace tallyport::server::staff
