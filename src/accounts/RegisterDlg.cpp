#include "accounts/RegisterDlg.h"

#include "accounts/FieldExchange.h"
#include "ui/DialogUnits.h"
#include "ui/FitFixedTexts.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace tallyport {
namespace {

QLabel* MakeLabel(QWidget* dialog, const char* text, QWidget* buddy, const QRect& where) {
    auto* label = new QLabel(QString::fromLatin1(text), dialog);
    label->setBuddy(buddy);
    label->setGeometry(where);
    return label;
}

QComboBox* MakeList(QWidget* dialog, int id, const auto& items) {
    auto* list = new QComboBox(dialog);
    SetControlId(list, id);
    for (std::string_view item : items)
        list->addItem(FieldString(item));
    return list;
}

} // namespace

RegisterDlg::RegisterDlg(int form, Prompts& prompts, QWidget* parent)
    : QDialog(parent), form_(form), prompts_(prompts), fields_(this) {
    setWindowTitle(QStringLiteral("Account Registration"));
    setFont(DialogFont());
    const DialogUnits du(font());
    const bool full = form_ == kFullForm;
    setFixedSize(du.size(236, full ? 160 : 90));

    MakeLabel(this, "Select a password:", fields_.password, du.rect(8, 10, 78, 8));
    MakeLabel(this, "Retype password:", fields_.retype, du.rect(8, 24, 78, 8));
    MakeLabel(this, "Name:", fields_.name, du.rect(8, 38, 78, 8));
    MakeLabel(this, "Preferred E-mail address:", fields_.email, du.rect(8, 52, 78, 8));
    fields_.password->setGeometry(du.rect(90, 8, 138, 12));
    fields_.retype->setGeometry(du.rect(90, 22, 138, 12));
    fields_.name->setGeometry(du.rect(90, 36, 138, 12));
    fields_.email->setGeometry(du.rect(90, 50, 138, 12));
    if (full)
        BuildQuestionnaire();

    const int buttonsTop = full ? 138 : 68;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, 1);
    ok->setGeometry(du.rect(58, buttonsTop, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(cancel, 2);
    cancel->setGeometry(du.rect(128, buttonsTop, 50, 14));
    connect(ok, &QPushButton::clicked, this, &RegisterDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &RegisterDlg::reject);
    FitFixedTexts(this);
}

void RegisterDlg::BuildQuestionnaire() {
    const DialogUnits du(font());
    attempts_ = new QLineEdit(this);
    SetControlId(attempts_, accountid::kAttempts);
    MakeLabel(this, "How many previous times have you attempted this course?", attempts_,
              du.rect(8, 70, 186, 8));
    attempts_->setGeometry(du.rect(198, 68, 30, 12));

    experience_ = MakeList(this, accountid::kExperience, kExperienceItems);
    MakeLabel(this, "Programming Experience:", experience_, du.rect(8, 84, 80, 8));
    // The template's height includes the dropped list; the closed box is as tall as it needs.
    experience_->setGeometry(du.x(28), du.y(94), du.x(200), experience_->sizeHint().height());

    expectation_ = MakeList(this, accountid::kExpectation, kExpectationItems);
    MakeLabel(this, "Relative to your other courses, how do you expect to do in this one?",
              expectation_, du.rect(8, 110, 220, 8));
    expectation_->setGeometry(du.x(28), du.y(120), du.x(200), expectation_->sizeHint().height());
}

void RegisterDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (attempts_) {
            attempts_->setText(QString::number(answers_.previousAttempts));
            experience_->setCurrentIndex(answers_.experience);
            expectation_->setCurrentIndex(answers_.expectation);
        }
        fields_.Load(entries_, false);
    }
    QDialog::showEvent(event);
}

void RegisterDlg::accept() {
    if (SaveFields())
        QDialog::accept();
}

bool RegisterDlg::SaveFields() {
    FieldExchange exchange(prompts_);
    if (!fields_.Save(exchange, entries_))
        return false;
    if (form_ != kFullForm)
        return true;
    if (!exchange.Check(attempts_,
                        ValidateInteger(FieldText(attempts_), 0, 9, answers_.previousAttempts)))
        return false;
    answers_.experience = experience_->currentIndex();
    if (!exchange.Check(experience_, ValidateListChoice(answers_.experience, 0, 4)))
        return false;
    answers_.expectation = expectation_->currentIndex();
    return exchange.Check(expectation_, ValidateListChoice(answers_.expectation, 0, 4));
}

} // namespace tallyport
