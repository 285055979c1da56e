// MainDlg: the program's one window. Four cascading lists choose course, component, element and
// section; the student number and password go with every command; five buttons run the commands
// after the shared preamble has checked the fields.
#pragma once

#include "command/CommandContext.h"
#include "command/CourseCatalogue.h"
#include "app/MainDlgCommands.h"
#include "protocol/Configuration.h"

#include <QDialog>

#include <filesystem>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallyport {

// Control ids of the main dialog's template.
namespace mainid {
inline constexpr int kRegister = 1000;
inline constexpr int kUpdate = 1001;
inline constexpr int kSubmit = 1002;
inline constexpr int kView = 1003;
inline constexpr int kExam = 1004;
inline constexpr int kCourse = 1010;
inline constexpr int kStudentNumber = 1011;
inline constexpr int kPassword = 1012;
inline constexpr int kComponent = 1700;
inline constexpr int kElement = 1701;
inline constexpr int kSection = 1702;
inline constexpr int kElementLabel = 1703;
inline constexpr int kExit = 2;
} // namespace mainid

// What the dialog works with; the program passes its fixed configuration, tests their own.
struct MainDlgSetup {
    const CourseCatalogue& catalogue;
    int32_t configuredCourse = 0; // 0 lists every course
    Transactor& transactor;
    Prompts& prompts;
    MainDlgCommands commands;
    std::filesystem::path tempFolder;
    bool labMode = LabMode();
    std::filesystem::path examFolder = {};
};

class MainDlg : public QDialog, public MainDialogFields {
    Q_OBJECT
public:
    explicit MainDlg(MainDlgSetup setup, QWidget* parent = nullptr);

    // Shows the not-set-up message instead of the dialog when no course is listed.
    int exec() override;

    const Course* currentCourse() const { return course_; }
    const MainSelection& selection() const { return selection_; }

    // MainDialogFields
    void FocusStudentNumber() override;
    void FocusPassword() override;
    void SetPasswordText(std::string_view password) override;

private:
    void BuildControls();
    void Initialise();

    void OnCourseChange();
    void OnComponentChange();
    void OnElementChange();
    void OnSectionChange();
    void ApplyViewExamChoice(int32_t entryIndex);
    void FitDropWidth(QComboBox* list);

    bool RunPreamble();
    void RunCommand(const MainCommand& command);

    MainDlgSetup setup_;
    const Course* course_ = nullptr;
    MainSelection selection_;

    QComboBox* courseList_ = nullptr;
    QComboBox* componentList_ = nullptr;
    QLabel* elementLabel_ = nullptr;
    QComboBox* elementList_ = nullptr;
    QComboBox* sectionList_ = nullptr;
    QLineEdit* studentNumber_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* registerButton_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QPushButton* submitButton_ = nullptr;
    QPushButton* viewButton_ = nullptr;
    QPushButton* examButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
};

} // namespace tallyport
