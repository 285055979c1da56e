#include "accounts/RegisterAccount.h"

#include "accounts/AccountRequests.h"
#include "accounts/RegisterDlg.h"

namespace tallyport {

void RegisterAccount(CommandContext& context, QWidget* parent) {
    if (context.course == nullptr)
        return;
    const int32_t course = context.course->number;
    const int32_t student = context.selection.studentNumber;
    RegisterDlg dialog(course == kQuestionnaireCourse ? RegisterDlg::kFullForm
                                                      : RegisterDlg::kShortForm,
                       context.prompts, parent);

    StatusCode status = status::kSuccess;
    context.transactor.Transact(BuildVerificationRequest(course, student), status, "Verification");
    if (status == status::kAccountExists)
        context.fields.FocusStudentNumber();
    if (status != status::kSuccess)
        return;

    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return;
        const AccountEntries& entries = dialog.entries();
        const NetMessage request =
            BuildRegistrationRequest(course, student, entries.password, entries.name, entries.email,
                                     QuestionnaireCode(dialog.answers()));
        context.transactor.Transact(request, status, "Registration Information");
        if (IsIgnoredTransportFailure(status))
            continue;
        if (status == status::kSuccess) {
            context.prompts.Message(
                "Your submit account has been created.\nPlease do not forget your password.",
                Buttons::Ok, Icon::None);
            context.fields.SetPasswordText(entries.password);
        }
        return;
    }
}

} // namespace tallyport
