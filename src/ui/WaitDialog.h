// CNewWaitDialog, template 106: the "Transfer" box that names the request in progress and offers
// Cancel. Cancel (button 2, Escape or the close box) only raises a flag; the box stays up until
// the transaction closes it.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tallyport {

class CNewWaitDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTitleId = 1026;
    static constexpr int kCancelId = 2;

    explicit CNewWaitDialog(const QString& title, QWidget* owner = nullptr);

    // Returns whether Cancel was asked for since the last call, and clears the request.
    bool TakeCancelRequest();
    bool cancelRequested() const { return cancelRequested_; }

    // Bytes of the request sent so far; large uploads show a progress bar.
    void ShowProgress(int64_t sent, int64_t total);

    void reject() override; // Escape and Cancel: ask, don't close

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Layout();

    QLabel* title_;
    QPushButton* cancel_;
    QProgressBar* progress_;
    bool cancelRequested_ = false;
};

} // namespace tallyport
