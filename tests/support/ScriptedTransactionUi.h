// The transaction's UI seam for tests: records what the transaction asked of it and answers
// from a script; can press Cancel on a given pump or whenever a callback says so.
#pragma once

#include "protocol/TransactionUi.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tallyport::test {

class ScriptedTransactionUi : public TransactionUi {
public:
    // Answers to ReportStatus in order; Ignore once they run out.
    std::deque<RetryChoice> answers;
    // Press Cancel on this pump (1 = the first); 0 = never.
    int cancelOnPump = 0;
    // Asked on every pump (after cancelOnPump); returning true presses Cancel.
    std::function<bool()> onPump;
    // Called as a status is reported, before the answer is taken.
    std::function<void(StatusCode)> onReport;

    // What happened, in order: "Open <title>", "Busy on", "Busy off", "Report <status>", "Close".
    std::vector<std::string> events;
    std::vector<std::string> titles;
    std::vector<StatusCode> reported;
    std::vector<std::pair<int64_t, int64_t>> progress; // (sent, total) per call
    int opens = 0;
    int closes = 0;
    int pumps = 0;

    void Open(std::string_view title) override;
    void SetBusy(bool busy) override;
    bool Pump() override;
    void Progress(int64_t sent, int64_t total) override;
    RetryChoice ReportStatus(StatusCode status) override;
    void Close() override;
};

} // namespace tallyport::test
