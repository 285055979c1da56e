#include "accounts/AccountFields.h"

#include "accounts/AccountRules.h"
#include "accounts/FieldExchange.h"
#include "ui/DialogUnits.h"

#include <QLineEdit>

namespace tallyport {
namespace {

QLineEdit* MakeEdit(QWidget* dialog, int id, bool masked) {
    auto* edit = new QLineEdit(dialog);
    SetControlId(edit, id);
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

} // namespace

AccountFields::AccountFields(QWidget* dialog)
    : password(MakeEdit(dialog, accountid::kPassword, true)),
      retype(MakeEdit(dialog, accountid::kRetype, true)),
      name(MakeEdit(dialog, accountid::kName, false)),
      email(MakeEdit(dialog, accountid::kEmail, false)) {}

void AccountFields::Load(const AccountEntries& entries, bool fillRetype) {
    password->setText(FieldString(entries.password));
    retype->setText(fillRetype ? FieldString(entries.password) : QString());
    name->setText(FieldString(entries.name));
    email->setText(FieldString(entries.email));
    password->setFocus(Qt::OtherFocusReason);
}

bool AccountFields::Save(FieldExchange& exchange, AccountEntries& entries) {
    entries.password = FieldText(password);
    if (!exchange.Check(password, CheckPasswordField(entries.password)))
        return false;
    // The retyped text is compared as typed and never kept; a mismatch sends the user back to
    // the first box.
    if (!exchange.Check(password, ConfirmPassword(FieldText(retype), entries.password)))
        return false;
    entries.name = FieldText(name);
    if (!exchange.Check(name, CheckNameField(entries.name)))
        return false;
    entries.email = FieldText(email);
    return exchange.Check(email, CheckEmailField(entries.email));
}

} // namespace tallyport
