#include "accounts/AccountRules.h"

namespace tallyport {

FieldCheck CheckPasswordField(std::string& password) {
    return ValidateText(password, 3, 20, "Password", false, false);
}

FieldCheck CheckNameField(std::string& name) {
    return ValidateText(name, 1, 35, "Name", true, false);
}

FieldCheck CheckEmailField(std::string& email) {
    return ValidateText(email, 1, 100, "E-mail address", false, false);
}

} // namespace tallyport
