// Driving modal dialogs and message boxes from a test: register what to do with the next window
// of a kind *before* the code under test calls exec(); the action runs from the event loop once
// the window is visible. A window that never shows up is reported by the returned result, and any
// dialog still open then is closed so that the test does not hang. Dropping the result stops the
// watch, so a watch left over from one test never acts on the next test's windows.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tallyport::test {

struct DriveResult {
    bool found = false; // the window showed up and the action ran
    QTimer* timer = nullptr;
    ~DriveResult();
};

std::shared_ptr<DriveResult> WhenWindowShown(std::function<QWidget*()> find,
                                             std::function<void(QWidget*)> action,
                                             int timeoutMs = 10000);

// The visible top-level window of type T that `accept` accepts, or none.
template <typename T> T* FindWindow(std::function<bool(T*)> accept = {}) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        T* t = qobject_cast<T*>(w);
        if (t && t->isVisible() && (!accept || accept(t)))
            return t;
    }
    return nullptr;
}

template <typename T>
std::shared_ptr<DriveResult> WhenShown(std::function<void(T*)> action, int timeoutMs = 10000) {
    return WhenWindowShown([] { return FindWindow<T>(); },
                           [action](QWidget* w) { action(qobject_cast<T*>(w)); }, timeoutMs);
}

// Closes every visible dialog (used when a test gives up waiting).
void CloseAllDialogs();

} // namespace tallyport::test
