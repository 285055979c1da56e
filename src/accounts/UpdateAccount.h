// The Update Info command: a verification proves the current password and fetches the record,
// the update dialog edits it with a new password, and an update request sends the result.
#pragma once

#include "accounts/UpdateDlg.h"
#include "command/CommandContext.h"

#include <QPointer>

class QWidget;

namespace tallyport {

// Holds the one UpdateDlg of the program's run, made on first use with the main dialog as its
// owner. The application keeps one UpdateCommand and binds it by reference (std::ref) as the
// main dialog's Update Info hook (1001).
class UpdateCommand {
public:
    UpdateCommand() = default;
    ~UpdateCommand();
    UpdateCommand(const UpdateCommand&) = delete;
    UpdateCommand& operator=(const UpdateCommand&) = delete;

    void operator()(CommandContext& context, QWidget* parent) { UpdateAccount(context, parent); }
    void UpdateAccount(CommandContext& context, QWidget* parent);

    // The dialog object, once the command has been used.
    UpdateDlg* dialog() const { return dialog_.data(); }

private:
    QPointer<UpdateDlg> dialog_; // owned by its Qt parent, or by us when it has none
};

} // namespace tallyport
