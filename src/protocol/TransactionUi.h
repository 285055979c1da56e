// What a transaction needs from the user interface. The GUI implements it with the "Transfer"
// box and message boxes; tests script it.
#pragma once

#include "protocol/StatusCode.h"

#include <cstdint>
#include <string_view>

namespace tallyport {

enum class RetryChoice { Abort, Retry, Ignore };

class TransactionUi {
public:
    virtual ~TransactionUi() = default;

    // Shows the transfer box naming the request; called once before the first attempt.
    virtual void Open(std::string_view title) = 0;
    // Wait cursor on/off around each attempt.
    virtual void SetBusy(bool busy) = 0;
    // Called at least every 50 ms while an attempt waits on the network: lets the box repaint
    // and serve its Cancel. Returns true when Cancel was pressed since the last call.
    virtual bool Pump() = 0;
    // Request bytes sent so far of `total` (the body only); for a progress bar.
    virtual void Progress(int64_t sent, int64_t total) = 0;
    // ReportStatus: shows the status's message box and returns the answer. The transaction does
    // not call it for a silent status (-12) and takes a notice's answer as Ignore.
    virtual RetryChoice ReportStatus(StatusCode status) = 0;
    // Closes the transfer box after the last attempt.
    virtual void Close() = 0;
};

} // namespace tallyport
