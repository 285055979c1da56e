#include "ui/QtTransactionUi.h"

#include "ui/QtPrompts.h"
#include "ui/ReportStatus.h"
#include "ui/WaitDialog.h"

#include <QApplication>
#include <QCursor>

namespace tallyport {

QtTransactionUi::QtTransactionUi(Prompts& prompts, QWidget* owner)
    : prompts_(prompts), owner_(owner) {}

QtTransactionUi::~QtTransactionUi() {
    SetBusy(false);
    Close();
}

void QtTransactionUi::Open(std::string_view title) {
    Close();
    box_ = new CNewWaitDialog(FromBytes(title), owner_); // owned here, deleted by Close()
    box_->setWindowModality(Qt::ApplicationModal);
    box_->show();
    // Paint the box before the first blocking step.
    QCoreApplication::processEvents();
}

void QtTransactionUi::SetBusy(bool busy) {
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy && box_)
        box_->TakeCancelRequest(); // a press left over from the last attempt cancels nothing new
    if (busy)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

bool QtTransactionUi::Pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return box_ && box_->TakeCancelRequest();
}

void QtTransactionUi::Progress(int64_t sent, int64_t total) {
    if (box_)
        box_->ShowProgress(sent, total);
}

RetryChoice QtTransactionUi::ReportStatus(StatusCode status) {
    return tallyport::ReportStatus(prompts_, status);
}

CNewWaitDialog* QtTransactionUi::waitDialog() const {
    return box_;
}

void QtTransactionUi::Close() {
    if (box_) {
        box_->hide();
        delete box_.data();
    }
}

} // namespace tallyport
