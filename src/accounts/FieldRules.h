// The rules the account dialogs apply to their fields when OK is pressed. Each returns the
// message to show when the field fails, or nothing when it passes; the dialogs' data exchange
// shows it, moves the focus and keeps the dialog open.
#pragma once

#include "ui/Prompts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

struct FieldMessage {
    std::string text;
    Icon icon = Icon::None; // shown with an OK button
};

using FieldCheck = std::optional<FieldMessage>;

// Trims `value` in place (trailing, then leading white space) and checks its length and its
// characters: alphanumerics and punctuation other than the comma, plus the blank and CR/LF when
// allowed. With minLength above 0 it must hold at least one alphanumeric character.
FieldCheck ValidateText(std::string& value, unsigned minLength, unsigned maxLength,
                        std::string_view label, bool allowBlank, bool allowLineBreaks);

// A list selection (-1 when nothing is selected) within [low, high].
FieldCheck ValidateListChoice(int32_t index, int32_t low, int32_t high);

// One decimal integer read as scanf "%d" reads it from the first 63 characters of `text`
// (leading white space, optional sign, digits; whatever follows is ignored), within [low, high].
// `value` is set only when the field passes.
FieldCheck ValidateInteger(std::string_view text, int32_t low, int32_t high, int32_t& value);

// The retyped password, exactly as typed, must equal the trimmed new password.
FieldCheck ConfirmPassword(std::string_view retyped, std::string_view password);

// The scanf "%d" reading on its own: none when no number starts the text. Values beyond the
// 32-bit range saturate (they fail every range the dialogs use).
std::optional<int64_t> ScanInteger(std::string_view text);

} // namespace tallyport
