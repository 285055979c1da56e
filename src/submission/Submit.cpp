#include "submission/Submit.h"

#include "submission/SubmitCommand.h"
#include "submission/SubmitDlg.h"

#include <memory>

namespace tallyport {

void Submit(CommandContext& context, QWidget* parent) {
    // One dialog for the whole command: after an upload that can be tried again it is shown
    // again on the same list, with the student's edits and tab widths.
    std::unique_ptr<SubmitDlg> dialog;
    RunSubmitCommand(context, [&](const RequiredFileSet& set, SubmissionEntries& entries) {
        if (!dialog)
            dialog = std::make_unique<SubmitDlg>(set, entries, context.prompts, parent);
        return dialog->exec() == QDialog::Accepted;
    });
}

} // namespace tallyport
