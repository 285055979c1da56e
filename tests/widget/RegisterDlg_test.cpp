// RegisterDlg: both templates, the order in which OK tests the fields, where the focus goes after
// each failure, and what every showing loads (the retype box always empty).
#include "accounts/RegisterDlg.h"

#include "accounts/AccountFields.h"
#include "support/ScriptedPrompts.h"
#include "ui/DialogUnits.h"

#include <QComboBox>
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
QComboBox* List(QWidget* dialog, int id) {
    return FindControl<QComboBox>(dialog, id);
}

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

// Types a full set of valid entries; the test then spoils one field.
void FillValid(QWidget* dialog, bool full) {
    Edit(dialog, accountid::kPassword)->setText(QStringLiteral("secret"));
    Edit(dialog, accountid::kRetype)->setText(QStringLiteral("secret"));
    Edit(dialog, accountid::kName)->setText(QStringLiteral("Ann Lee"));
    Edit(dialog, accountid::kEmail)->setText(QStringLiteral("ann@example.org"));
    if (full) {
        Edit(dialog, accountid::kAttempts)->setText(QStringLiteral("1"));
        List(dialog, accountid::kExperience)->setCurrentIndex(1);
        List(dialog, accountid::kExpectation)->setCurrentIndex(3);
    }
}

void ShowActive(QDialog& dialog) {
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
}

void PressOk(QDialog& dialog) {
    QTest::mouseClick(FindControl<QPushButton>(&dialog, 1), Qt::LeftButton);
}

} // namespace

class RegisterDlgTest : public QObject {
    Q_OBJECT
private slots:
    void fullFormTemplate() {
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kFullForm, prompts);
        const DialogUnits du = DialogUnits::Of(&dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Account Registration"));
        QCOMPARE(dialog.size(), du.size(236, 160));
        for (int id : {1012, 1014, 1015, 1016, 1017})
            QVERIFY2(Edit(&dialog, id), qPrintable(QString::number(id)));
        QCOMPARE(Edit(&dialog, 1012)->echoMode(), QLineEdit::Password);
        QCOMPARE(Edit(&dialog, 1014)->echoMode(), QLineEdit::Password);
        QCOMPARE(Edit(&dialog, 1015)->echoMode(), QLineEdit::Normal);
        QCOMPARE(Edit(&dialog, 1012)->geometry(), du.rect(90, 8, 138, 12));
        QCOMPARE(Edit(&dialog, 1017)->geometry(), du.rect(198, 68, 30, 12));
        QCOMPARE(FindControl<QPushButton>(&dialog, 1)->geometry(), du.rect(58, 138, 50, 14));
        QVERIFY(FindControl<QPushButton>(&dialog, 1)->isDefault());
        QCOMPARE(FindControl<QPushButton>(&dialog, 2)->text(), QStringLiteral("Cancel"));

        QCOMPARE(
            Items(List(&dialog, 1018)),
            (QStringList{u"None"_s, u"Written simple programs (<100 lines)"_s,
                         u"Written moderate programs (<1000 lines)"_s, u"Written complex systems"_s,
                         u"Fluent in several computer languages"_s}));
        QCOMPARE(Items(List(&dialog, 1019)),
                 (QStringList{u"Much worse"_s, u"Worse"_s, u"About the same"_s, u"Better"_s,
                              u"Much better"_s}));
        QVERIFY(!List(&dialog, 1018)->isEditable());

        // Every label is bound to the field it names.
        QMap<QString, int> buddies;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            buddies[label->text()] = label->buddy() ? ControlId(label->buddy()) : 0;
        QCOMPARE(buddies.value(u"Select a password:"_s), 1012);
        QCOMPARE(buddies.value(u"Retype password:"_s), 1014);
        QCOMPARE(buddies.value(u"Name:"_s), 1015);
        QCOMPARE(buddies.value(u"Preferred E-mail address:"_s), 1016);
        QCOMPARE(buddies.value(u"How many previous times have you attempted this course?"_s), 1017);
        QCOMPARE(buddies.value(u"Programming Experience:"_s), 1018);
        QCOMPARE(buddies.value(
                     u"Relative to your other courses, how do you expect to do in this one?"_s),
                 1019);
    }

    void shortFormTemplate() {
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kShortForm, prompts);
        const DialogUnits du = DialogUnits::Of(&dialog);
        QCOMPARE(dialog.size(), du.size(236, 90));
        QCOMPARE(FindControl<QPushButton>(&dialog, 1)->geometry(), du.rect(58, 68, 50, 14));
        QCOMPARE(FindControl<QPushButton>(&dialog, 2)->geometry(), du.rect(128, 68, 50, 14));
        QVERIFY(!FindControl(&dialog, 1017));
        QVERIFY(!FindControl(&dialog, 1018));
        QVERIFY(!FindControl(&dialog, 1019));
        QCOMPARE(dialog.findChildren<QLabel*>().size(), 4);
    }

    // Each row spoils one field of an otherwise valid form; OK must stop at that field.
    void failingField_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed"); // for a list: the index to select
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("icon");
        const int plain = int(Icon::None);
        QTest::newRow("short password") << 1012 << "ab"
                                        << "Password must contain at least 3 characters" << plain;
        QTest::newRow("long password")
            << 1012 << QString(21, u'x') << "Password must contain at most 20 characters" << plain;
        QTest::newRow("blank in password")
            << 1012 << "se cret"
            << "Password must consist only of alphanumeric and  punctuation characters" << plain;
        QTest::newRow("retype differs")
            << 1014 << "Secret"
            << "You must reenter the same new password.  Try again" << plain;
        QTest::newRow("comma in name") << 1015 << "Lee, Ann"
                                       << "Name must not contain any commas (,)" << plain;
        QTest::newRow("name of hyphens") << 1015 << "--"
                                         << "Name must contain something" << plain;
        QTest::newRow("accented name")
            << 1015 << QString::fromUtf8("Ren\u00e9")
            << "Name must consist only of alphanumeric and  punctuation characters" << plain;
        QTest::newRow("Chinese name")
            << 1015 << QString::fromUtf8("\u674e")
            << "Name must consist only of alphanumeric and  punctuation characters" << plain;
        QTest::newRow("blank in e-mail")
            << 1016 << "ann lee@x"
            << "E-mail address must consist only of alphanumeric and  punctuation characters"
            << plain;
        QTest::newRow("empty e-mail")
            << 1016 << ""
            << "E-mail address must contain at least 1 characters" << plain;
        QTest::newRow("attempts x") << 1017 << "x"
                                    << "Enter an integer." << plain;
        QTest::newRow("attempts 10")
            << 1017 << "10"
            << "Enter an integer between 0 and 9." << int(Icon::Exclamation);
        QTest::newRow("attempts -1")
            << 1017 << "-1"
            << "Enter an integer between 0 and 9." << int(Icon::Exclamation);
        QTest::newRow("no experience") << 1018 << "-1"
                                       << "Please select a response from the list." << plain;
        QTest::newRow("no expectation") << 1019 << "-1"
                                        << "Please select a response from the list." << plain;
    }
    void failingField() {
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(int, icon);
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kFullForm, prompts);
        ShowActive(dialog);
        FillValid(&dialog, true);
        if (auto* list = List(&dialog, id))
            list->setCurrentIndex(typed.toInt());
        else
            Edit(&dialog, id)->setText(typed);
        Edit(&dialog, 1015)->setFocus(); // somewhere else, so the move is seen
        PressOk(dialog);

        QCOMPARE(prompts.texts(), std::vector<std::string>{message.toStdString()});
        QCOMPARE(int(prompts.shown[0].icon), icon);
        QCOMPARE(prompts.shown[0].buttons, Buttons::Ok);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        // A wrong retype sends the user back to the first password box.
        const int focusId = id == 1014 ? 1012 : id;
        QCOMPARE(ControlId(dialog.focusWidget()), focusId);
        if (auto* edit = Edit(&dialog, focusId)) {
            QVERIFY(!edit->text().isEmpty() || typed.isEmpty());
            QCOMPARE(edit->selectedText(), edit->text());
        }
    }

    // Fields are tested in order and the first failure stops the exchange: with everything
    // empty only the password is reported, and the name is never read.
    void firstFailureStopsTheExchange() {
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kFullForm, prompts);
        ShowActive(dialog);
        Edit(&dialog, 1015)->setText(QStringLiteral("Ann"));
        Edit(&dialog, 1017)->setText(QStringLiteral("x"));
        PressOk(dialog);
        QCOMPARE(prompts.texts(),
                 std::vector<std::string>{"Password must contain at least 3 characters"});
        QCOMPARE(dialog.entries().name, std::string());

        // Blanks around the password are trimmed, so the same text retyped no longer matches.
        Edit(&dialog, 1012)->setText(QStringLiteral("  abc  "));
        Edit(&dialog, 1014)->setText(QStringLiteral("  abc  "));
        PressOk(dialog);
        QCOMPARE(prompts.texts().back(), "You must reenter the same new password.  Try again");
        QCOMPARE(dialog.entries().password, "abc");
        QCOMPARE(Edit(&dialog, 1012)->text(), QStringLiteral("  abc  ")); // shows what was typed

        Edit(&dialog, 1014)->setText(QStringLiteral("abc"));
        Edit(&dialog, 1016)->setText(QStringLiteral("a@b"));
        PressOk(dialog);
        QCOMPARE(prompts.texts().back(), "Enter an integer.");
        QCOMPARE(ControlId(dialog.focusWidget()), 1017);
        QCOMPARE(dialog.entries().name, "Ann");
        QCOMPARE(prompts.shown.size(), 3u);
    }

    void acceptedEntriesAreTrimmed() {
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kFullForm, prompts);
        ShowActive(dialog);
        QCOMPARE(List(&dialog, 1018)->currentIndex(), 0);
        QCOMPARE(List(&dialog, 1019)->currentIndex(), 2);
        QCOMPARE(Edit(&dialog, 1017)->text(), QStringLiteral("0"));
        QCOMPARE(ControlId(dialog.focusWidget()), 1012);
        Edit(&dialog, 1012)->setText(QStringLiteral("\tsecret "));
        Edit(&dialog, 1014)->setText(QStringLiteral("secret"));
        Edit(&dialog, 1015)->setText(QStringLiteral("  Ann Lee "));
        Edit(&dialog, 1016)->setText(QStringLiteral(" ann@example.org"));
        Edit(&dialog, 1017)->setText(QStringLiteral(" 2 times"));
        List(&dialog, 1018)->setCurrentIndex(3);
        List(&dialog, 1019)->setCurrentIndex(3);
        PressOk(dialog);
        QVERIFY(prompts.shown.empty());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.entries().password, "secret");
        QCOMPARE(dialog.entries().name, "Ann Lee");
        QCOMPARE(dialog.entries().email, "ann@example.org");
        QCOMPARE(QuestionnaireCode(dialog.answers()), "233");
    }

    // Shown again (as after an ignored connection failure), the dialog holds what was entered,
    // except the retype box, which is empty on every showing.
    void everyShowingLoadsTheEntriesWithRetypeEmpty() {
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kFullForm, prompts);
        ShowActive(dialog);
        QVERIFY(Edit(&dialog, 1014)->text().isEmpty());
        FillValid(&dialog, true);
        Edit(&dialog, 1012)->setText(QStringLiteral(" secret "));
        PressOk(dialog);
        QVERIFY(!dialog.isVisible());

        ShowActive(dialog);
        QCOMPARE(Edit(&dialog, 1012)->text(), QStringLiteral("secret"));
        QVERIFY(Edit(&dialog, 1014)->text().isEmpty());
        QCOMPARE(Edit(&dialog, 1015)->text(), QStringLiteral("Ann Lee"));
        QCOMPARE(Edit(&dialog, 1016)->text(), QStringLiteral("ann@example.org"));
        QCOMPARE(Edit(&dialog, 1017)->text(), QStringLiteral("1"));
        QCOMPARE(List(&dialog, 1018)->currentIndex(), 1);
        QCOMPARE(List(&dialog, 1019)->currentIndex(), 3);
        QCOMPARE(ControlId(dialog.focusWidget()), 1012);

        // Cancel runs no checks.
        Edit(&dialog, 1012)->clear();
        QTest::mouseClick(FindControl<QPushButton>(&dialog, 2), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(prompts.shown.empty());
    }

    void shortFormChecksOnlyTheFourFields() {
        ScriptedPrompts prompts;
        RegisterDlg dialog(RegisterDlg::kShortForm, prompts);
        ShowActive(dialog);
        FillValid(&dialog, false);
        PressOk(dialog);
        QVERIFY(prompts.shown.empty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(QuestionnaireCode(dialog.answers()), "002");
    }
};

QTEST_MAIN(RegisterDlgTest)
#include "RegisterDlg_test.moc"
