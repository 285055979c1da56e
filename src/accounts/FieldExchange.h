// The saving direction of an account dialog's data exchange: fields are read and tested one at
// a time, and the first that fails shows its message (with the application caption, through the
// prompt seam), takes the keyboard focus with its whole text selected, and keeps the dialog open.
#pragma once

#include "accounts/FieldRules.h"

#include <QString>

#include <string>
#include <string_view>

class QLineEdit;
class QWidget;

namespace tallyport {

class Prompts;

class FieldExchange {
public:
    explicit FieldExchange(Prompts& prompts) : prompts_(prompts) {}

    // True when the field passed; otherwise shows the message and moves the focus to `control`
    // (an edit box also gets its whole text selected; a list only the focus).
    bool Check(QWidget* control, const FieldCheck& failure);

private:
    Prompts& prompts_;
};

// An edit box's text as the single-byte text the rules test: Latin-1 when it fits (so a value
// loaded from the server reads back as the same bytes), else UTF-8 (whose high bytes the rules
// refuse, instead of turning them into '?').
std::string FieldText(const QLineEdit* edit);

// Bytes of a field shown in a control, Latin-1 as every message text.
QString FieldString(std::string_view text);

} // namespace tallyport
