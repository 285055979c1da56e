#include "exam/DownloadExam.h"

#include "exam/ExamMessages.h"
#include "exam/ReceiveExamFiles.h"
#include "ui/ReportStatus.h"

namespace tallyport {

void DownloadExam(CommandContext& context, QWidget* /*parent*/) {
    if (context.course == nullptr)
        return;
    const MainSelection& selection = context.selection;
    const char kind = EntryKindAt(*context.course, selection.entryIndex);
    if (kind == 'A')
        return;

    const NetMessage request = BuildExamRequest(context.course->number, selection.studentNumber,
                                                selection.password, selection.entryIndex);
    StatusCode status = status::kSuccess;
    std::optional<NetMessage> reply = context.transactor.Transact(request, status, "Exam Question");
    if (status == status::kNothingThere) { // Transact leaves this one to us
        context.prompts.Message(kExamErrorMessage, Buttons::Ok, Icon::None);
        return;
    }
    if (!reply) {
        if (status == status::kSuccess) // cut short: nothing has told the student yet
            ReportUnusableReply(context.prompts);
        return; // Transact has reported the failure
    }

    const ExamOutcome outcome = ReceiveExamFiles(*reply, kind, context.examFolder);
    const ExamMessage message = DescribeExamOutcome(outcome, context.examFolder);
    context.prompts.Message(message.text, Buttons::Ok, message.icon);
}

} // namespace tallyport
