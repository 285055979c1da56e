// RegisterDlg: "Account Registration". Template 101 is the full form with the questionnaire (for
// course 1606), template 102 the short form. The retype box is empty on every showing.
#pragma once

#include "accounts/AccountFields.h"
#include "accounts/Questionnaire.h"

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace tallyport {

class Prompts;

class RegisterDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFullForm = 101;
    static constexpr int kShortForm = 102;

    RegisterDlg(int form, Prompts& prompts, QWidget* parent = nullptr);

    int form() const { return form_; }
    const AccountEntries& entries() const { return entries_; }
    const QuestionnaireAnswers& answers() const { return answers_; }

    // OK: runs the field checks in order and closes only when all pass.
    void accept() override;

protected:
    // Loads every field into its control each time the dialog is shown.
    void showEvent(QShowEvent* event) override;

private:
    void BuildQuestionnaire();
    bool SaveFields();

    int form_;
    Prompts& prompts_;
    AccountEntries entries_;
    QuestionnaireAnswers answers_;
    AccountFields fields_;
    QLineEdit* attempts_ = nullptr; // full form only
    QComboBox* experience_ = nullptr;
    QComboBox* expectation_ = nullptr;
};

} // namespace tallyport
