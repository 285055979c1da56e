// ReportStatus: the message box for a failed transaction's status, and the user's answer.
#pragma once

#include "protocol/TransactionUi.h"
#include "ui/Prompts.h"

namespace tallyport {

// Transport failures and unknown statuses ask Abort / Retry / Ignore with the question icon;
// server refusals are notices (OK, exclamation icon) and count as Ignore; -12 shows nothing.
RetryChoice ReportStatus(Prompts& prompts, StatusCode status);

// A transaction that succeeded but whose reply is missing or unusable has reported nothing;
// the command tells the student with this notice before it ends.
void ReportUnusableReply(Prompts& prompts);

} // namespace tallyport
