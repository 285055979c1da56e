// UpdateDlg: template 103, both password boxes filled from the entries, the entries refilled
// before every showing, and the order and focus of the field checks.
#include "accounts/UpdateDlg.h"

#include "accounts/AccountFields.h"
#include "support/ScriptedPrompts.h"
#include "ui/DialogUnits.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace tallyport;
using namespace tallyport::test;
using namespace Qt::StringLiterals;

namespace {

QLineEdit* Edit(QWidget* dialog, int id) {
    return FindControl<QLineEdit>(dialog, id);
}

void ShowActive(QDialog& dialog) {
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
}

void PressOk(QDialog& dialog) {
    QTest::mouseClick(FindControl<QPushButton>(&dialog, 1), Qt::LeftButton);
}

} // namespace

class UpdateDlgTest : public QObject {
    Q_OBJECT
private slots:
    void templateAndMnemonics() {
        ScriptedPrompts prompts;
        UpdateDlg dialog(prompts);
        const DialogUnits du = DialogUnits::Of(&dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Set Password"));
        QCOMPARE(dialog.size(), du.size(215, 92));
        QCOMPARE(Edit(&dialog, 1012)->geometry(), du.rect(80, 8, 40, 12));
        QCOMPARE(Edit(&dialog, 1014)->geometry(), du.rect(80, 22, 40, 12));
        QCOMPARE(Edit(&dialog, 1015)->geometry(), du.rect(58, 36, 149, 12));
        QCOMPARE(Edit(&dialog, 1016)->geometry(), du.rect(58, 50, 149, 12));
        QCOMPARE(FindControl<QPushButton>(&dialog, 1)->geometry(), du.rect(49, 70, 50, 14));
        QCOMPARE(FindControl<QPushButton>(&dialog, 2)->geometry(), du.rect(115, 70, 50, 14));
        QVERIFY(FindControl<QPushButton>(&dialog, 1)->isDefault());
        QCOMPARE(Edit(&dialog, 1012)->echoMode(), QLineEdit::Password);
        QCOMPARE(Edit(&dialog, 1014)->echoMode(), QLineEdit::Password);

        QMap<QString, int> buddies;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            buddies[label->text()] = label->buddy() ? ControlId(label->buddy()) : 0;
        QCOMPARE(buddies, (QMap<QString, int>{{u"&New Password:"_s, 1012},
                                              {u"&Retype New Password:"_s, 1014},
                                              {u"&Name:"_s, 1015},
                                              {u"&E-mail Address:"_s, 1016}}));

        // Alt+N reaches the new-password box through its label.
        dialog.SetEntries({"pw1", "Ann", "a@b"});
        ShowActive(dialog);
        Edit(&dialog, 1016)->setFocus();
        QTest::keyClick(&dialog, Qt::Key_N, Qt::AltModifier);
        QCOMPARE(ControlId(dialog.focusWidget()), 1012);
    }

    void bothPasswordBoxesFilledAndRefilledEveryShowing() {
        ScriptedPrompts prompts;
        UpdateDlg dialog(prompts);
        dialog.SetEntries({"current1", "Ann Lee", "ann@example.org"});
        ShowActive(dialog);
        QCOMPARE(Edit(&dialog, 1012)->text(), QStringLiteral("current1"));
        QCOMPARE(Edit(&dialog, 1014)->text(), QStringLiteral("current1"));
        QCOMPARE(Edit(&dialog, 1015)->text(), QStringLiteral("Ann Lee"));
        QCOMPARE(Edit(&dialog, 1016)->text(), QStringLiteral("ann@example.org"));
        QCOMPARE(ControlId(dialog.focusWidget()), 1012);

        // Typed but cancelled: nothing of it carries over to the next showing.
        Edit(&dialog, 1015)->setText(QStringLiteral("Someone Else"));
        QTest::mouseClick(FindControl<QPushButton>(&dialog, 2), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        dialog.SetEntries({"other22", "Bo", "bo@x"});
        ShowActive(dialog);
        QCOMPARE(Edit(&dialog, 1012)->text(), QStringLiteral("other22"));
        QCOMPARE(Edit(&dialog, 1014)->text(), QStringLiteral("other22"));
        QCOMPARE(Edit(&dialog, 1015)->text(), QStringLiteral("Bo"));
        QCOMPARE(Edit(&dialog, 1016)->text(), QStringLiteral("bo@x"));
    }

    // OK untouched hands back the loaded values trimmed; shown again, both boxes hold the new
    // (trimmed) password.
    void untouchedOkAndShownAgain() {
        ScriptedPrompts prompts;
        UpdateDlg dialog(prompts);
        dialog.SetEntries({"current1", " Ann Lee ", "ann@example.org\t"});
        ShowActive(dialog);
        PressOk(dialog);
        QVERIFY(prompts.shown.empty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.entries().password, "current1");
        QCOMPARE(dialog.entries().name, "Ann Lee");
        QCOMPARE(dialog.entries().email, "ann@example.org");

        ShowActive(dialog);
        Edit(&dialog, 1012)->setText(QStringLiteral(" newpass "));
        Edit(&dialog, 1014)->setText(QStringLiteral("newpass"));
        PressOk(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        ShowActive(dialog);
        QCOMPARE(Edit(&dialog, 1012)->text(), QStringLiteral("newpass"));
        QCOMPARE(Edit(&dialog, 1014)->text(), QStringLiteral("newpass"));
    }

    void failingField_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("focus");
        QTest::newRow("short password") << 1012 << "ab"
                                        << "Password must contain at least 3 characters" << 1012;
        QTest::newRow("retype differs")
            << 1014 << "current"
            << "You must reenter the same new password.  Try again" << 1012;
        QTest::newRow("comma in record name") << 1015 << "Lee, Ann"
                                              << "Name must not contain any commas (,)" << 1015;
        QTest::newRow("long name")
            << 1015 << QString(36, u'a') << "Name must contain at most 35 characters" << 1015;
        QTest::newRow("e-mail with TAB")
            << 1016 << "a\tb@x"
            << "E-mail address must consist only of alphanumeric and  punctuation characters"
            << 1016;
        QTest::newRow("long e-mail")
            << 1016 << QString(101, u'a') << "E-mail address must contain at most 100 characters"
            << 1016;
    }
    void failingField() {
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(int, focus);
        ScriptedPrompts prompts;
        UpdateDlg dialog(prompts);
        dialog.SetEntries({"current1", "Ann Lee", "ann@example.org"});
        ShowActive(dialog);
        Edit(&dialog, id)->setText(typed);
        Edit(&dialog, id == 1015 ? 1016 : 1015)->setFocus();
        PressOk(dialog);
        QCOMPARE(prompts.texts(), std::vector<std::string>{message.toStdString()});
        QVERIFY(dialog.isVisible());
        QCOMPARE(ControlId(dialog.focusWidget()), focus);
        QLineEdit* edit = Edit(&dialog, focus);
        QCOMPARE(edit->selectedText(), edit->text());
        QVERIFY(!edit->text().isEmpty());
    }
};

QTEST_MAIN(UpdateDlgTest)
#include "UpdateDlg_test.moc"
