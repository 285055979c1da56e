// A main dialog under test: built from a catalogue written in the test, with scripted prompts,
// a transaction that goes nowhere and command hooks that record each call.
#pragma once

#include "app/MainDlg.h"
#include "protocol/Transaction.h"
#include "support/ScriptedPrompts.h"
#include "ui/DialogUnits.h"
#include "ui/QtTransactionUi.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tallyport::test {

// A course from its component components ("Assignment,3,1/Quiz,2,2") and one status letter
// per entry in entry order; kinds default to 'A', labels to "Sec 1", "Sec 2", ... per element.
Course MakeCourse(int32_t number, std::string name, std::string_view components,
                  std::string_view statuses, std::string_view kinds = {});

// A list of texts written in the test.
QStringList Strings(std::initializer_list<const char*> texts);

struct CommandCall {
    int button = 0;
    const Course* course = nullptr;
    MainSelection selection;
    QWidget* parent = nullptr;
};

class MainDlgHarness {
public:
    explicit MainDlgHarness(CourseCatalogue catalogue, int32_t configuredCourse = 0,
                            bool labMode = false);
    ~MainDlgHarness();

    MainDlg& dialog() { return *dialog_; }
    template <typename T = QWidget> T* control(int id) const {
        return FindControl<T>(dialog_.get(), id);
    }

    // A pick in a drop-down list, as the user makes it (the list must be enabled).
    void Choose(int listId, int index);
    QStringList Items(int listId) const;
    int Selected(int listId) const;
    bool Enabled(int id) const;
    bool Shown(int id) const; // not hidden (the dialog itself need not be on screen)
    void Click(int buttonId);

    ScriptedPrompts prompts;
    std::vector<CommandCall> calls;
    // Runs inside each command after it has been recorded.
    std::function<void(CommandContext&)> onCommand;

private:
    CourseCatalogue catalogue_;
    QtTransactionUi ui_{prompts};
    Transactor transactor_{Endpoint{"127.0.0.1", 9}, ui_};
    std::unique_ptr<MainDlg> dialog_;
};

} // namespace tallyport::test
