#include "accounts/UpdateAccount.h"

#include "accounts/AccountRequests.h"
#include "accounts/UpdateDlg.h"
#include "ui/ReportStatus.h"

namespace tallyport {

UpdateCommand::~UpdateCommand() {
    delete dialog_.data();
}

void UpdateCommand::UpdateAccount(CommandContext& context, QWidget* parent) {
    if (!dialog_)
        dialog_ = new UpdateDlg(context.prompts, parent);
    dialog_->SetPrompts(context.prompts);
    if (context.course == nullptr)
        return;
    const int32_t course = context.course->number;
    const int32_t student = context.selection.studentNumber;
    const std::string& current = context.selection.password; // the same in every request

    StatusCode status = status::kSuccess;
    std::optional<NetMessage> reply = context.transactor.Transact(
        BuildStudentVerificationRequest(course, student, current), status, "Student Verification");
    if (status == status::kUnknownStudent)
        context.fields.FocusStudentNumber();
    else if (status == status::kWrongPassword)
        context.fields.FocusPassword();
    if (!reply) {
        if (status == status::kSuccess) // cut short: nothing has told the student yet
            ReportUnusableReply(context.prompts);
        return;
    }
    const std::optional<AccountRecord> record = ReadAccountRecord(*reply);
    reply.reset();
    if (!record) {
        ReportUnusableReply(context.prompts);
        return;
    }
    dialog_->SetEntries({current, record->name, record->email});

    for (;;) {
        if (dialog_->exec() != QDialog::Accepted)
            return;
        const AccountEntries& entries = dialog_->entries();
        context.transactor.Transact(BuildUpdateRequest(course, student, current, entries.password,
                                                       entries.name, entries.email),
                                    status, "Password & E-mail Address");
        if (IsIgnoredTransportFailure(status))
            continue;
        if (status == status::kSuccess) {
            context.prompts.Message("Your information has been successfully updated", Buttons::Ok,
                                    Icon::None);
            if (!entries.password.empty())
                context.fields.SetPasswordText(entries.password);
        }
        return;
    }
}

} // namespace tallyport
