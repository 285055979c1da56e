#include "ui/ReportStatus.h"

namespace tallyport {

void ReportUnusableReply(Prompts& prompts) {
    // The server-error text, as a notice: there is nothing to retry.
    prompts.Message(DescribeStatus(status::kServerError).text, Buttons::Ok, Icon::Exclamation);
}

RetryChoice ReportStatus(Prompts& prompts, StatusCode status) {
    const StatusReport report = DescribeStatus(status);
    switch (report.box) {
    case StatusBox::None:
        return RetryChoice::Ignore;
    case StatusBox::Notice:
        prompts.Message(report.text, Buttons::Ok, Icon::Exclamation);
        return RetryChoice::Ignore;
    case StatusBox::AbortRetryIgnore:
        break;
    }
    switch (prompts.Message(report.text, Buttons::AbortRetryIgnore, Icon::Question)) {
    case Answer::Abort:
        return RetryChoice::Abort;
    case Answer::Retry:
        return RetryChoice::Retry;
    default: // Ignore, or the box closed without a choice
        return RetryChoice::Ignore;
    }
}

} // namespace tallyport
