#include "support/ScriptedTransactionUi.h"

namespace tallyport::test {

void ScriptedTransactionUi::Open(std::string_view title) {
    ++opens;
    titles.emplace_back(title);
    events.push_back("Open " + std::string(title));
}

void ScriptedTransactionUi::SetBusy(bool busy) {
    events.push_back(busy ? "Busy on" : "Busy off");
}

bool ScriptedTransactionUi::Pump() {
    ++pumps;
    if (cancelOnPump > 0 && pumps == cancelOnPump)
        return true;
    return onPump && onPump();
}

void ScriptedTransactionUi::Progress(int64_t sent, int64_t total) {
    progress.emplace_back(sent, total);
}

RetryChoice ScriptedTransactionUi::ReportStatus(StatusCode status) {
    reported.push_back(status);
    events.push_back("Report " + std::to_string(status));
    if (onReport)
        onReport(status);
    if (answers.empty())
        return RetryChoice::Ignore;
    const RetryChoice answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedTransactionUi::Close() {
    ++closes;
    events.emplace_back("Close");
}

} // namespace tallyport::test
