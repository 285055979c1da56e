#include "support/gui/ModalDriver.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

namespace tallyport::test {

std::shared_ptr<DriveResult> WhenWindowShown(std::function<QWidget*()> find,
                                             std::function<void(QWidget*)> action, int timeoutMs) {
    auto result = std::make_shared<DriveResult>();
    auto* timer = new QTimer(qApp); // stopped and deleted with the result at the latest
    result->timer = timer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(5);
    std::weak_ptr<DriveResult> watch = result;
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        auto owner = watch.lock();
        if (!owner || !timer->isActive())
            return;
        if (QWidget* window = find()) {
            timer->stop();
            owner->found = true;
            action(window);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            CloseAllDialogs();
        }
    });
    timer->start();
    return result;
}

DriveResult::~DriveResult() {
    if (timer) {
        timer->stop();
        timer->deleteLater();
    }
}

void CloseAllDialogs() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            dialog->done(QDialog::Rejected);
}

} // namespace tallyport::test
