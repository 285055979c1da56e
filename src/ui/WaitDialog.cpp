#include "ui/WaitDialog.h"

#include "ui/DialogUnits.h"
#include "ui/FitFixedTexts.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace tallyport {
namespace {

// Requests smaller than this go out too quickly for a progress bar to mean anything.
constexpr int64_t kProgressThreshold = 256 * 1024;

} // namespace

CNewWaitDialog::CNewWaitDialog(const QString& title, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Transfer"));
    setFont(DialogFont());
    const DialogUnits du(font());

    auto* wait = new QLabel(QStringLiteral("Please wait while files are transferred"), this);
    wait->setGeometry(du.rect(10, 7, 156, 8));
    auto* file = new QLabel(QStringLiteral("File:"), this);
    file->setGeometry(du.rect(10, 19, 20, 8));
    title_ = new QLabel(title, this);
    SetControlId(title_, kTitleId);
    title_->setGeometry(du.rect(32, 19, 134, 8));

    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->hide();

    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(cancel_, kCancelId);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &CNewWaitDialog::reject);

    Layout();
    FitFixedTexts(this);
}

void CNewWaitDialog::Layout() {
    const DialogUnits du = DialogUnits::Of(this);
    // With a progress bar the box grows by one row and Cancel moves below the bar.
    const int extra = progress_->isVisibleTo(this) ? 12 : 0;
    progress_->setGeometry(du.rect(10, 32, 156, 8));
    cancel_->setGeometry(du.rect(63, 33 + extra, 50, 14));
    setFixedSize(du.size(176, 54 + extra));
}

bool CNewWaitDialog::TakeCancelRequest() {
    const bool requested = cancelRequested_;
    cancelRequested_ = false;
    return requested;
}

void CNewWaitDialog::ShowProgress(int64_t sent, int64_t total) {
    if (total < kProgressThreshold || sent < 0 || sent > total)
        return;
    if (progress_->isHidden()) {
        progress_->setRange(0, 1000);
        progress_->show();
        Layout();
    }
    progress_->setValue(int(sent * 1000 / total));
}

void CNewWaitDialog::reject() {
    cancelRequested_ = true;
}

void CNewWaitDialog::closeEvent(QCloseEvent* event) {
    cancelRequested_ = true;
    event->ignore();
}

} // namespace tallyport
