// The command preamble shared by the five buttons: the student number and password checks with
// their messages and focus, the six-digit normalisation, the entry index, and what a command
// receives and may do to the dialog.
#include "support/gui/MainDlgHarness.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace tallyport;
using namespace tallyport::test;

namespace {

CourseCatalogue TwoComponents() {
    // Assignment: 3 elements of 1 section; Quiz: 3 elements of 2 sections (entries 3..8).
    return {{MakeCourse(3101, "Course", "Assignment,3,1/Quiz,3,2",
                        "OOO"
                        "OOOOOO")}};
}

QLineEdit* Field(MainDlgHarness& h, int id) {
    return h.control<QLineEdit>(id);
}

void Fill(MainDlgHarness& h, const QString& number, const QString& password) {
    Field(h, mainid::kStudentNumber)->setText(number);
    Field(h, mainid::kPassword)->setText(password);
}

void ShowActive(MainDlgHarness& h) {
    h.dialog().show();
    QVERIFY(QTest::qWaitForWindowActive(&h.dialog()));
}

} // namespace

class MainDlgPreambleTest : public QObject {
    Q_OBJECT
private slots:
    void studentNumber_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<int>("sent");
        const QString notInteger = QStringLiteral("Enter an integer.");
        const QString range = QStringLiteral("Enter an integer between 100000 and 999999999.");
        QTest::newRow("empty") << "" << notInteger << 0;
        QTest::newRow("blank") << "   " << notInteger << 0;
        QTest::newRow("letters") << "12a" << notInteger << 0;
        QTest::newRow("five digits") << "99999" << range << 0;
        QTest::newRow("zero") << "0" << range << 0;
        QTest::newRow("negative six digits") << "-123456" << range << 0;
        QTest::newRow("six digits low") << "100000"
                                        << "" << 100100000;
        QTest::newRow("six digits") << "123456"
                                    << "" << 100123456;
        QTest::newRow("leading zeros") << "000123456"
                                       << "" << 100123456;
        QTest::newRow("six digits high") << "999999"
                                         << "" << 100999999;
        QTest::newRow("seven digits unchanged") << "1000000"
                                                << "" << 1000000;
        QTest::newRow("nine digits") << "100123456"
                                     << "" << 100123456;
        QTest::newRow("highest") << "999999999"
                                 << "" << 999999999;
        QTest::newRow("ten digits") << "1000000000" << range << 0;
        QTest::newRow("beyond 32 bits") << "4294967296123" << range << 0;
        QTest::newRow("beyond 64 bits") << "99999999999999999999999" << range << 0;
    }
    void studentNumber() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(int, sent);
        MainDlgHarness h(TwoComponents());
        ShowActive(h);
        Fill(h, typed, QStringLiteral("secret"));
        h.Click(mainid::kRegister);
        if (message.isEmpty()) {
            QVERIFY(h.prompts.shown.empty());
            QCOMPARE(h.calls.size(), std::size_t(1));
            QCOMPARE(h.calls[0].selection.studentNumber, sent);
            QCOMPARE(h.calls[0].selection.password, std::string("secret"));
            // The field keeps what was typed; only the number sent is normalised.
            QCOMPARE(Field(h, mainid::kStudentNumber)->text(), typed);
        } else {
            QVERIFY(h.calls.empty());
            QCOMPARE(h.prompts.texts(), std::vector<std::string>{message.toStdString()});
            QCOMPARE(h.prompts.shown[0].buttons, Buttons::Ok);
            QCOMPARE(QApplication::focusWidget(), h.control(mainid::kStudentNumber));
            QCOMPARE(Field(h, mainid::kStudentNumber)->selectedText(), typed);
        }
    }

    void studentNumberFieldTakesDigitsOnly() {
        MainDlgHarness h(TwoComponents());
        ShowActive(h);
        QTest::keyClicks(Field(h, mainid::kStudentNumber), QStringLiteral("12a3-4 5x6"));
        QCOMPARE(Field(h, mainid::kStudentNumber)->text(), QStringLiteral("123456"));
    }

    void passwordLength() {
        MainDlgHarness h(TwoComponents());
        ShowActive(h);
        const QString tooLong(21, QLatin1Char('p'));
        Fill(h, QStringLiteral("123456"), tooLong);
        h.Click(mainid::kRegister);
        QVERIFY(h.calls.empty());
        QCOMPARE(h.prompts.texts(), std::vector<std::string>{"Enter no more than 20 characters."});
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kPassword));
        QCOMPARE(Field(h, mainid::kPassword)->selectedText(), tooLong);
        QCOMPARE(Field(h, mainid::kPassword)->text(), tooLong); // nothing cut off

        const QString longest(20, QLatin1Char('p'));
        Field(h, mainid::kPassword)->setText(longest);
        h.Click(mainid::kRegister);
        QCOMPARE(h.calls.size(), std::size_t(1));
        QCOMPARE(h.calls[0].selection.password, longest.toStdString());
        // Once checked, the field takes no more than 20 characters.
        QTest::keyClick(Field(h, mainid::kPassword), Qt::Key_End);
        QTest::keyClicks(Field(h, mainid::kPassword), QStringLiteral("xyz"));
        QCOMPARE(Field(h, mainid::kPassword)->text(), longest);
    }

    void numberCheckedBeforePassword() {
        MainDlgHarness h(TwoComponents());
        ShowActive(h);
        Fill(h, QStringLiteral("12"), QString(30, QLatin1Char('p')));
        h.Click(mainid::kUpdate);
        QCOMPARE(h.prompts.texts(),
                 std::vector<std::string>{"Enter an integer between 100000 and 999999999."});
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kStudentNumber));
    }

    void entryIndexAndSelection() {
        MainDlgHarness h(TwoComponents());
        Fill(h, QStringLiteral("123456"), QStringLiteral("pw"));
        h.Click(mainid::kRegister); // no component chosen yet
        QCOMPARE(h.calls.back().selection.componentIndex, -1);
        QCOMPARE(h.calls.back().selection.elementIndex, -1);
        QCOMPARE(h.calls.back().selection.entryIndex, 0);

        h.Choose(mainid::kComponent, 0);
        h.Choose(mainid::kElement, 2);
        h.Click(mainid::kSubmit); // single section: section 0
        QCOMPARE(h.calls.back().button, mainid::kSubmit);
        QCOMPARE(h.calls.back().selection.sectionIndex, 0);
        QCOMPARE(h.calls.back().selection.entryIndex, 2);

        h.Choose(mainid::kComponent, 1);
        h.Choose(mainid::kElement, 2);
        h.Choose(mainid::kSection, 1);
        h.Click(mainid::kSubmit);
        const MainSelection& s = h.calls.back().selection;
        QCOMPARE(s.componentIndex, 1);
        QCOMPARE(s.elementIndex, 2);
        QCOMPARE(s.sectionIndex, 1);
        QCOMPARE(s.entryIndex, 3 + 2 * 2 + 1);
        QCOMPARE(h.dialog().selection().entryIndex, 8);
    }

    void eachButtonRunsItsCommand() {
        CourseCatalogue catalogue{
            {MakeCourse(3101, "Course", "Assignment,1,1/Lab,1,1", "MO", "AL")}};
        MainDlgHarness h(catalogue);
        Fill(h, QStringLiteral("123456"), QStringLiteral("pw"));
        h.Choose(mainid::kComponent, 0); // marked 'A': View
        h.Click(mainid::kRegister);
        h.Click(mainid::kUpdate);
        h.Click(mainid::kSubmit);
        h.Click(mainid::kView);
        h.Choose(mainid::kComponent, 1); // open 'L': Exam
        h.Click(mainid::kExam);
        std::vector<int> buttons;
        for (const CommandCall& call : h.calls) {
            buttons.push_back(call.button);
            QCOMPARE(call.parent, static_cast<QWidget*>(&h.dialog()));
            QCOMPARE(call.course, h.dialog().currentCourse());
        }
        QCOMPARE(buttons, (std::vector<int>{mainid::kRegister, mainid::kUpdate, mainid::kSubmit,
                                            mainid::kView, mainid::kExam}));
    }

    void commandsReachTheFields() {
        MainDlgHarness h(TwoComponents());
        ShowActive(h);
        Fill(h, QStringLiteral("123456"), QStringLiteral("old"));
        h.onCommand = [](CommandContext& context) {
            context.fields.SetPasswordText("a-new-password-of-20");
            context.fields.FocusPassword();
        };
        h.Click(mainid::kRegister);
        QCOMPARE(Field(h, mainid::kPassword)->text(), QStringLiteral("a-new-password-of-20"));
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kPassword));
        QCOMPARE(Field(h, mainid::kPassword)->selectedText(),
                 QStringLiteral("a-new-password-of-20"));

        h.onCommand = [](CommandContext& context) { context.fields.FocusStudentNumber(); };
        h.Click(mainid::kUpdate);
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kStudentNumber));
        QCOMPARE(Field(h, mainid::kStudentNumber)->selectedText(), QStringLiteral("123456"));
    }

    void enterPressesNothing() {
        MainDlgHarness h(TwoComponents());
        ShowActive(h);
        Fill(h, QStringLiteral("123456"), QStringLiteral("pw"));
        for (int id : {mainid::kStudentNumber, mainid::kPassword}) {
            QTest::keyClick(h.control(id), Qt::Key_Return);
            QTest::keyClick(h.control(id), Qt::Key_Enter);
        }
        QVERIFY(h.calls.empty());
        QVERIFY(h.prompts.shown.empty());
        QVERIFY(h.dialog().isVisible());
    }

    void emptyHooksRunOnlyThePreamble() {
        CourseCatalogue catalogue = TwoComponents();
        ScriptedPrompts prompts;
        QtTransactionUi ui(prompts);
        Transactor transactor(Endpoint{"127.0.0.1", 9}, ui);
        MainDlg dialog({catalogue, 0, transactor, prompts, MainDlgCommands{}, {}, false});
        FindControl<QLineEdit>(&dialog, mainid::kStudentNumber)->setText(QStringLiteral("1"));
        QTest::mouseClick(FindControl<QPushButton>(&dialog, mainid::kRegister), Qt::LeftButton);
        QCOMPARE(prompts.shown.size(), std::size_t(1)); // the preamble still checks the fields
        FindControl<QLineEdit>(&dialog, mainid::kStudentNumber)->setText(QStringLiteral("123456"));
        QTest::mouseClick(FindControl<QPushButton>(&dialog, mainid::kRegister), Qt::LeftButton);
        QCOMPARE(prompts.shown.size(), std::size_t(1));
        QCOMPARE(dialog.selection().studentNumber, 100123456);
    }
};

QTEST_MAIN(MainDlgPreambleTest)
#include "MainDlgPreamble_test.moc"
