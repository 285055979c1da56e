// A user's session written down as steps: "when this window is the one in front, do this". The
// steps run in order from the event loop while the program under test sits in its own modal
// loops, so one script can carry a student from start-up through every dialog to Exit.
//
// A message box that no step expects ends the script at once (its text is the failure), as does
// a step whose window never comes; either way every dialog is closed so that the program returns.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace tallyport::test {

class StepScript {
public:
    using Find = std::function<QWidget*()>;
    using Act = std::function<void(QWidget*)>;

    // `patienceMs` bounds the wait for each step's window; it only decides when to give up.
    explicit StepScript(int patienceMs = 20000);
    ~StepScript();
    StepScript(const StepScript&) = delete;
    StepScript& operator=(const StepScript&) = delete;

    // Adds a step; `what` names it in failures.
    void Then(std::string what, Find find, Act act);
    void Start();
    // Stops watching (once the program under test has returned).
    void Stop();

    bool finished() const { return next_ == steps_.size() && failure_.empty(); }
    // Empty while all is well; else what went wrong, and where.
    const std::string& failure() const { return failure_; }
    // The steps that ran, by name, in order.
    const std::vector<std::string>& done() const { return done_; }

private:
    struct Step {
        std::string what;
        Find find;
        Act act;
    };
    void Tick();
    void Fail(std::string why);

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool acting_ = false;
    int waitedMs_ = 0;
    int patienceMs_;
    std::string failure_;
    std::vector<std::string> done_;
    QPointer<QTimer> timer_;
};

// The window that is in front (the active modal dialog) if it is a T that `accept` accepts.
template <typename T> std::function<QWidget*()> InFront(std::function<bool(T*)> accept = {}) {
    return [accept]() -> QWidget* {
        T* window = qobject_cast<T*>(QApplication::activeModalWidget());
        return window && window->isVisible() && (!accept || accept(window)) ? window : nullptr;
    };
}

} // namespace tallyport::test
