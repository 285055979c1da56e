#include "support/gui/StepScript.h"

#include "support/gui/ModalDriver.h"

#include <QApplication>
#include <QMessageBox>

namespace tallyport::test {
namespace {

constexpr int kTickMs = 10;

} // namespace

StepScript::StepScript(int patienceMs) : patienceMs_(patienceMs) {}

StepScript::~StepScript() {
    delete timer_.data();
}

void StepScript::Then(std::string what, Find find, Act act) {
    steps_.push_back({std::move(what), std::move(find), std::move(act)});
}

void StepScript::Start() {
    timer_ = new QTimer(qApp);
    timer_->setInterval(kTickMs);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] { Tick(); });
    timer_->start();
}

void StepScript::Stop() {
    if (timer_)
        timer_->stop();
}

void StepScript::Tick() {
    if (!failure_.empty()) {
        CloseAllDialogs(); // again on every tick, until the program has returned
        return;
    }
    if (acting_)
        return;
    const std::string waitingFor = next_ < steps_.size() ? steps_[next_].what : "nothing more";
    if (QWidget* window = next_ < steps_.size() ? steps_[next_].find() : nullptr) {
        ++next_;
        waitedMs_ = 0;
        acting_ = true;
        // The action may open modal windows of its own: run it outside this tick so that the
        // ticks go on inside those windows' loops.
        QTimer::singleShot(
            0, timer_, [this, window = QPointer<QWidget>(window), index = next_ - 1] {
                acting_ = false; // ticks go on inside any window the action opens
                if (window) {
                    done_.push_back(steps_[index].what);
                    steps_[index].act(window);
                } else {
                    Fail("the window of \"" + steps_[index].what + "\" closed before its step");
                }
            });
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box && box->isVisible()) {
        Fail("unexpected message box \"" + box->text().toStdString() + "\" while waiting for \"" +
             waitingFor + "\"");
        return;
    }
    waitedMs_ += kTickMs;
    if (next_ < steps_.size() && waitedMs_ > patienceMs_)
        Fail("gave up waiting for \"" + waitingFor + "\"");
}

void StepScript::Fail(std::string why) {
    if (failure_.empty())
        failure_ = std::move(why);
    CloseAllDialogs();
}

} // namespace tallyport::test
