// The transaction's user interface on Qt: the "Transfer" box while a request is in progress
// (application-modal, so other windows repaint but take no input), the wait cursor during each
// attempt, and ReportStatus's message boxes through the prompt seam.
#pragma once

#include "protocol/TransactionUi.h"
#include "ui/Prompts.h"

#include <QPointer>

class QWidget;

namespace tallyport {

class CNewWaitDialog;

class QtTransactionUi : public TransactionUi {
public:
    // `owner` is the window the box belongs to (the main dialog; none during start-up).
    explicit QtTransactionUi(Prompts& prompts, QWidget* owner = nullptr);
    ~QtTransactionUi() override;
    QtTransactionUi(const QtTransactionUi&) = delete;
    QtTransactionUi& operator=(const QtTransactionUi&) = delete;

    void SetOwner(QWidget* owner) { owner_ = owner; }

    void Open(std::string_view title) override;
    void SetBusy(bool busy) override;
    bool Pump() override;
    void Progress(int64_t sent, int64_t total) override;
    RetryChoice ReportStatus(StatusCode status) override;
    void Close() override;

    // The box of the transaction in progress, or none.
    CNewWaitDialog* waitDialog() const;

private:
    Prompts& prompts_;
    QPointer<QWidget> owner_;
    QPointer<CNewWaitDialog> box_;
    bool busy_ = false;
};

} // namespace tallyport
