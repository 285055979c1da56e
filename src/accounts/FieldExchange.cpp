#include "accounts/FieldExchange.h"

#include "ui/QtPrompts.h"

#include <QLineEdit>

#include <algorithm>

namespace tallyport {

bool FieldExchange::Check(QWidget* control, const FieldCheck& failure) {
    if (!failure)
        return true;
    prompts_.Message(failure->text, Buttons::Ok, failure->icon);
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
    return false;
}

std::string FieldText(const QLineEdit* edit) {
    const QString text = edit->text();
    const bool latin1 =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
    const QByteArray bytes = latin1 ? text.toLatin1() : text.toUtf8();
    return {bytes.constData(), std::size_t(bytes.size())};
}

QString FieldString(std::string_view text) {
    return FromBytes(text);
}

} // namespace tallyport
