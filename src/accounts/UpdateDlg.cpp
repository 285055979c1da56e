#include "accounts/UpdateDlg.h"

#include "accounts/FieldExchange.h"
#include "ui/DialogUnits.h"
#include "ui/FitFixedTexts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace tallyport {

UpdateDlg::UpdateDlg(Prompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(&prompts), fields_(this) {
    setWindowTitle(QStringLiteral("Set Password"));
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(215, 92));

    const struct {
        const char* text;
        QLineEdit* buddy;
        QRect label;
        QRect edit;
    } rows[] = {
        {"&New Password:", fields_.password, du.rect(8, 10, 72, 8), du.rect(80, 8, 40, 12)},
        {"&Retype New Password:", fields_.retype, du.rect(8, 24, 72, 8), du.rect(80, 22, 40, 12)},
        {"&Name:", fields_.name, du.rect(8, 38, 50, 8), du.rect(58, 36, 149, 12)},
        {"&E-mail Address:", fields_.email, du.rect(8, 52, 50, 8), du.rect(58, 50, 149, 12)},
    };
    for (const auto& row : rows) {
        auto* label = new QLabel(QString::fromLatin1(row.text), this);
        label->setBuddy(row.buddy);
        label->setGeometry(row.label);
        row.buddy->setGeometry(row.edit);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, 1);
    ok->setGeometry(du.rect(49, 70, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(cancel, 2);
    cancel->setGeometry(du.rect(115, 70, 50, 14));
    connect(ok, &QPushButton::clicked, this, &UpdateDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &UpdateDlg::reject);
    FitFixedTexts(this);
}

void UpdateDlg::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        fields_.Load(entries_, true);
    QDialog::showEvent(event);
}

void UpdateDlg::accept() {
    FieldExchange exchange(*prompts_);
    if (fields_.Save(exchange, entries_))
        QDialog::accept();
}

} // namespace tallyport
