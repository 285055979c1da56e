// The rules of the account fields both account dialogs share, apart from any toolkit, so that the
// server's web registration applies them with the same texts: password 3-20 without blanks, name
// 1-35 with blanks, e-mail address 1-100. Each trims its value in place, as the dialogs do.
#pragma once

#include "accounts/FieldRules.h"

#include <string>

namespace tallyport {

FieldCheck CheckPasswordField(std::string& password);
FieldCheck CheckNameField(std::string& name);
FieldCheck CheckEmailField(std::string& email);

} // namespace tallyport
