// UpdateDlg: "Set Password" (template 103). One object serves the program's whole run; its
// entries are set afresh before every showing, and both password boxes show the password.
#pragma once

#include "accounts/AccountFields.h"

#include <QDialog>

namespace tallyport {

class Prompts;

class UpdateDlg : public QDialog {
    Q_OBJECT
public:
    explicit UpdateDlg(Prompts& prompts, QWidget* parent = nullptr);

    // The prompt seam for the messages of the next showing.
    void SetPrompts(Prompts& prompts) { prompts_ = &prompts; }

    void SetEntries(AccountEntries entries) { entries_ = std::move(entries); }
    const AccountEntries& entries() const { return entries_; }

    // OK: runs the field checks in order and closes only when all pass.
    void accept() override;

protected:
    // Loads the entries into the controls each time the dialog is shown.
    void showEvent(QShowEvent* event) override;

private:
    Prompts* prompts_;
    AccountEntries entries_;
    AccountFields fields_;
};

} // namespace tallyport
