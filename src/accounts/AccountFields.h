// The four fields both account dialogs share, in their fixed order: new password (1012),
// retyped password (1014), name (1015) and e-mail address (1016).
#pragma once

#include <string>

class QLineEdit;
class QWidget;

namespace tallyport {

class FieldExchange;

namespace accountid {
inline constexpr int kPassword = 1012;
inline constexpr int kRetype = 1014;
inline constexpr int kName = 1015;
inline constexpr int kEmail = 1016;
inline constexpr int kAttempts = 1017;
inline constexpr int kExperience = 1018;
inline constexpr int kExpectation = 1019;
} // namespace accountid

// What the dialogs hand back: the trimmed values, as they are sent.
struct AccountEntries {
    std::string password; // plain; sent only as its hash
    std::string name;
    std::string email;
};

class AccountFields {
public:
    // Creates the four edit boxes (the two password boxes masked) as children of `dialog`.
    explicit AccountFields(QWidget* dialog);

    // Loading direction: the retype box shows the password (UpdateDlg) or is emptied
    // (RegisterDlg); the focus goes to the first password box.
    void Load(const AccountEntries& entries, bool fillRetype);
    // Saving direction, in order: password 3-20 without blanks, the retyped password, name 1-35
    // with blanks, e-mail 1-100. Entries read before a failure keep what was read.
    bool Save(FieldExchange& exchange, AccountEntries& entries);

    QLineEdit* password;
    QLineEdit* retype;
    QLineEdit* name;
    QLineEdit* email;
};

} // namespace tallyport
