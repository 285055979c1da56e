// The real main dialog wired to the Register and Update Info commands, talking to an in-process
// server on loopback, with scripted prompts and a scripted transaction UI.
#pragma once

#include "accounts/UpdateAccount.h"
#include "app/MainDlg.h"
#include "protocol/Transaction.h"
#include "support/InProcessServer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"
#include "ui/DialogUnits.h"

#include <QLineEdit>

#include <memory>
#include <string>

namespace tallyport::test {

class AccountsHarness {
public:
    // Serves courses 3101 and 1606 (one assignment each) on `address`; the main dialog lists
    // only `course`. Throws when the server cannot start or the catalogue cannot be loaded.
    AccountsHarness(std::string address, int32_t course);

    MainDlg& dialog() { return *dialog_; }
    QLineEdit* edit(int id) const { return FindControl<QLineEdit>(dialog_.get(), id); }
    // Types the student number and password into the main dialog.
    void Login(std::string_view number, std::string_view password);
    void Click(int buttonId);
    // Puts an account on the server, as registering would.
    void AddStudent(int32_t number, const std::string& password, const std::string& name,
                    const std::string& email);

    TempDir dir;
    InProcessServer server;
    ScriptedPrompts prompts;
    ScriptedTransactionUi ui;
    Transactor transactor;
    UpdateCommand update;
    int32_t course;

private:
    CourseCatalogue catalogue_;
    std::unique_ptr<MainDlg> dialog_;
};

} // namespace tallyport::test
