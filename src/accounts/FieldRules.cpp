#include "accounts/FieldRules.h"

#include <algorithm>
#include <limits>

namespace tallyport {
namespace {

// Character classes of the plain "C" locale, spelled out so no locale can change them.
bool IsTrimmable(unsigned char c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}
bool IsAlphanumeric(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
bool IsPunctuation(unsigned char c) {
    return c >= 0x21 && c <= 0x7E && !IsAlphanumeric(c);
}

constexpr std::size_t kIntegerFieldChars = 63; // what the data exchange reads of the box

} // namespace

FieldCheck ValidateText(std::string& value, unsigned minLength, unsigned maxLength,
                        std::string_view label, bool allowBlank, bool allowLineBreaks) {
    std::size_t end = value.size();
    while (end > 0 && IsTrimmable(static_cast<unsigned char>(value[end - 1])))
        --end;
    std::size_t begin = 0;
    while (begin < end && IsTrimmable(static_cast<unsigned char>(value[begin])))
        ++begin;
    value = value.substr(begin, end - begin);

    const std::string name(label);
    if (value.size() < minLength)
        return FieldMessage{
            FormatMessage("%s must contain at least %d characters", name.c_str(), int(minLength))};
    if (value.size() > maxLength)
        return FieldMessage{
            FormatMessage("%s must contain at most %d characters", name.c_str(), int(maxLength))};

    bool sawAlphanumeric = false;
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAlphanumeric(c))
            sawAlphanumeric = true;
        else if (IsPunctuation(c) && c != ',')
            continue;
        else if ((c == ' ' && allowBlank) || ((c == '\r' || c == '\n') && allowLineBreaks))
            continue;
        else if (c == ',')
            return FieldMessage{FormatMessage("%s must not contain any commas (,)", name.c_str())};
        else
            return FieldMessage{FormatMessage(
                "%s must consist only of alphanumeric and  punctuation characters", name.c_str())};
    }
    if (!sawAlphanumeric && minLength > 0)
        return FieldMessage{FormatMessage("%s must contain something", name.c_str())};
    return std::nullopt;
}

FieldCheck ValidateListChoice(int32_t index, int32_t low, int32_t high) {
    if (index < low || index > high)
        return FieldMessage{"Please select a response from the list."};
    return std::nullopt;
}

std::optional<int64_t> ScanInteger(std::string_view text) {
    text = text.substr(0, kIntegerFieldChars);
    std::size_t at = 0;
    while (at < text.size() && IsTrimmable(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at >= text.size() || text[at] < '0' || text[at] > '9')
        return std::nullopt;
    constexpr int64_t kSaturated = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        magnitude = std::min(kSaturated, magnitude * 10 + (text[at] - '0'));
    return negative ? -magnitude : magnitude;
}

FieldCheck ValidateInteger(std::string_view text, int32_t low, int32_t high, int32_t& value) {
    const std::optional<int64_t> number = ScanInteger(text);
    if (!number)
        return FieldMessage{"Enter an integer."};
    if (*number < low || *number > high)
        return FieldMessage{FormatMessage("Enter an integer between %d and %d.", low, high),
                            Icon::Exclamation};
    value = int32_t(*number);
    return std::nullopt;
}

FieldCheck ConfirmPassword(std::string_view retyped, std::string_view password) {
    if (retyped != password)
        return FieldMessage{"You must reenter the same new password.  Try again"};
    return std::nullopt;
}

} // namespace tallyport
