// The main dialog's selection cascade driven by control id: button states stage by stage, list
// texts and suffixes, preselection, the kept section position, View/Exam, the course list.
#include "app/MainDlgRules.h"
#include "support/gui/MainDlgHarness.h"
#include "ui/DialogUnits.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace tallyport;
using namespace tallyport::test;

namespace {

// Assignment: 4 elements of 1 section; Quiz: 3 elements of 2 sections; Lab: 2 of 3.
//   Assignment 1..4:  C M O U
//   Quiz 1: M M   Quiz 2: C O   Quiz 3: O U
//   Lab 1:  U U U Lab 2: C C M
Course ThreeComponents(int32_t number = 3101, std::string name = "Programming Fundamentals") {
    return MakeCourse(number, std::move(name), "Assignment,4,1/Quiz,3,2/Lab,2,3",
                      "CMOU"
                      "MMCOOU"
                      "UUUCCM",
                      "AAAA"
                      "QQQQQQ"
                      "LLLLLL");
}

CourseCatalogue Catalogue(std::vector<Course> courses) {
    return CourseCatalogue{std::move(courses)};
}

QString Text(const MainDlgHarness& h, int id) {
    return h.control<QLabel>(id)->text();
}

} // namespace

class MainDlgCascadeTest : public QObject {
    Q_OBJECT
private slots:
    void courseChosenStage() {
        MainDlgHarness h(Catalogue({ThreeComponents()}), 3101);
        QCOMPARE(h.Items(mainid::kCourse), Strings({"Programming Fundamentals"}));
        QVERIFY(!h.Enabled(mainid::kCourse)); // the only course
        QCOMPARE(h.Items(mainid::kComponent), Strings({"Assignments", "Quizzes", "Labs"}));
        QCOMPARE(h.Selected(mainid::kComponent), -1);
        QVERIFY(h.Enabled(mainid::kComponent));
        for (int id :
             {mainid::kStudentNumber, mainid::kPassword, mainid::kRegister, mainid::kUpdate})
            QVERIFY2(h.Enabled(id), qPrintable(QString::number(id)));
        for (int id :
             {mainid::kElement, mainid::kSection, mainid::kSubmit, mainid::kView, mainid::kExam})
            QVERIFY2(!h.Enabled(id), qPrintable(QString::number(id)));
        QVERIFY(h.Shown(mainid::kView));
        QVERIFY(!h.Shown(mainid::kExam));
        QCOMPARE(Text(h, mainid::kElementLabel), QStringLiteral("Element:"));
    }

    void singleSectionComponent() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.Choose(mainid::kComponent, 0);
        QCOMPARE(Text(h, mainid::kElementLabel), QStringLiteral("Assignment #:"));
        QCOMPARE(h.Items(mainid::kElement),
                 Strings({"1 (deadline passed)", "2 (marked)", "3", "4 (unavailable)"}));
        QVERIFY(h.Enabled(mainid::kElement));
        QCOMPARE(h.Selected(mainid::kElement), 2); // the first open element
        QVERIFY(!h.Enabled(mainid::kSection));
        QVERIFY(h.Items(mainid::kSection).isEmpty());
        QVERIFY(h.Enabled(mainid::kSubmit));
        QVERIFY(h.Enabled(mainid::kView) && h.Shown(mainid::kView)); // kind 'A'
        QVERIFY(!h.Enabled(mainid::kExam) && !h.Shown(mainid::kExam));

        // Submit stays available for a closed or unavailable element: the server decides.
        h.Choose(mainid::kElement, 3);
        QVERIFY(h.Enabled(mainid::kSubmit));
        QVERIFY(h.Enabled(mainid::kView));
    }

    void multiSectionComponent() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.Choose(mainid::kComponent, 1);
        QCOMPARE(Text(h, mainid::kElementLabel), QStringLiteral("Quiz #:"));
        QCOMPARE(h.Items(mainid::kElement), Strings({"1 (marked)", "2", "3"}));
        QCOMPARE(h.Selected(mainid::kElement), 1);
        QVERIFY(h.Enabled(mainid::kSection));
        QCOMPARE(h.Items(mainid::kSection), Strings({"Sec 1 (deadline passed)", "Sec 2"}));
        QCOMPARE(h.Selected(mainid::kSection), 1); // the first open section
        QVERIFY(h.Enabled(mainid::kSubmit));
        // Quiz 2, section 2: kind 'Q', open → Exam in View's place.
        QVERIFY(h.Enabled(mainid::kExam) && h.Shown(mainid::kExam));
        QVERIFY(!h.Enabled(mainid::kView) && !h.Shown(mainid::kView));

        h.Choose(mainid::kElement, 0); // Quiz 1: both sections marked → View
        QCOMPARE(h.Items(mainid::kSection), Strings({"Sec 1 (marked)", "Sec 2 (marked)"}));
        QVERIFY(h.Enabled(mainid::kView) && h.Shown(mainid::kView));
        QVERIFY(!h.Shown(mainid::kExam));
    }

    void noOpenElementOrSection() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.Choose(mainid::kComponent, 2);
        QCOMPARE(Text(h, mainid::kElementLabel), QStringLiteral("Lab #:"));
        QCOMPARE(h.Items(mainid::kElement), Strings({"1 (unavailable)", "2 (deadline passed)"}));
        QCOMPARE(h.Selected(mainid::kElement), 0); // none open: the first
        QCOMPARE(h.Items(mainid::kSection),
                 Strings({"Sec 1 (unavailable)", "Sec 2 (unavailable)", "Sec 3 (unavailable)"}));
        QCOMPARE(h.Selected(mainid::kSection), 0); // none open: the first
        QVERIFY(h.Enabled(mainid::kSubmit));
        QVERIFY(h.Shown(mainid::kExam));
        h.Choose(mainid::kElement, 1);
        QCOMPARE(h.Items(mainid::kSection),
                 Strings({"Sec 1 (deadline passed)", "Sec 2 (deadline passed)", "Sec 3 (marked)"}));
    }

    void sectionPositionKeptAcrossElements() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.Choose(mainid::kComponent, 1);
        QCOMPARE(h.Selected(mainid::kSection), 1);
        h.Choose(mainid::kElement, 2); // Quiz 3 is open in section 1 only, yet position 2 stays
        QCOMPARE(h.Selected(mainid::kSection), 1);
        QCOMPARE(h.Items(mainid::kSection), Strings({"Sec 1", "Sec 2 (unavailable)"}));
        h.Choose(mainid::kSection, 0);
        h.Choose(mainid::kElement, 0);
        QCOMPARE(h.Selected(mainid::kSection), 0);
    }

    void keptPositionPastShorterList() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.Choose(mainid::kComponent, 2); // Lab: three sections
        h.Choose(mainid::kSection, 2);
        QVERIFY(h.Enabled(mainid::kSubmit));
        h.Choose(mainid::kComponent, 1); // Quiz: two sections; position 3 does not exist
        QVERIFY(h.Enabled(mainid::kSection));
        QCOMPARE(h.Items(mainid::kSection).size(), 2);
        QCOMPARE(h.Selected(mainid::kSection), -1);
        QVERIFY(!h.Enabled(mainid::kSubmit));
        QVERIFY(!h.Enabled(mainid::kView) && h.Shown(mainid::kView));
        QVERIFY(!h.Enabled(mainid::kExam) && !h.Shown(mainid::kExam));

        h.Choose(mainid::kSection, 1); // Quiz 2, section 2: open, kind 'Q'
        QVERIFY(h.Enabled(mainid::kSubmit));
        QVERIFY(h.Enabled(mainid::kExam) && h.Shown(mainid::kExam));
        QVERIFY(!h.Shown(mainid::kView));
    }

    void componentChangeResetsLowerLists() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.Choose(mainid::kComponent, 1);
        h.Choose(mainid::kComponent, 0); // back to the single-section component
        QVERIFY(!h.Enabled(mainid::kSection));
        QVERIFY(h.Items(mainid::kSection).isEmpty());
        QCOMPARE(h.Selected(mainid::kElement), 2);
        QVERIFY(h.Enabled(mainid::kSubmit));
    }

    void oneComponentCourse() {
        MainDlgHarness h(Catalogue({MakeCourse(3101, "Solo", "Quiz,2,1", "MO", "QQ")}));
        QCOMPARE(h.Items(mainid::kComponent), Strings({"Quizzes"}));
        QCOMPARE(h.Selected(mainid::kComponent), 0);
        QVERIFY(!h.Enabled(mainid::kComponent));
        QVERIFY(h.Enabled(mainid::kElement));
        QCOMPARE(h.Items(mainid::kElement), Strings({"1 (marked)", "2"}));
        QCOMPARE(h.Selected(mainid::kElement), 1);
        QVERIFY(h.Enabled(mainid::kSubmit));
        QVERIFY(h.Shown(mainid::kExam)); // kind 'Q', open
    }

    void courseWithoutComponents() {
        MainDlgHarness h(Catalogue({MakeCourse(3101, "Empty", "", "")}));
        QVERIFY(h.Items(mainid::kComponent).isEmpty());
        QVERIFY(!h.Enabled(mainid::kComponent));
        QVERIFY(!h.Enabled(mainid::kElement));
        QVERIFY(!h.Enabled(mainid::kSubmit));
        QVERIFY(h.Enabled(mainid::kRegister)); // an account needs no component
    }

    void courseListSortedAndFiltered() {
        CourseCatalogue catalogue = Catalogue(
            {ThreeComponents(3101, "zeta"), MakeCourse(3102, "Other", "Assignment,1,1", "O"),
             ThreeComponents(3101, "Alpha"), MakeCourse(3101, "beta", "Quiz,1,1", "O", "Q")});
        {
            MainDlgHarness all(catalogue, 0);
            QCOMPARE(all.Items(mainid::kCourse), Strings({"Alpha", "beta", "Other", "zeta"}));
        }
        MainDlgHarness h(catalogue, 3101);
        QCOMPARE(h.Items(mainid::kCourse), Strings({"Alpha", "beta", "zeta"}));
        QVERIFY(h.Enabled(mainid::kCourse));
        QCOMPARE(h.Selected(mainid::kCourse), 0);
        QCOMPARE(h.dialog().currentCourse()->name, std::string("Alpha"));

        h.Choose(mainid::kComponent, 1);
        QVERIFY(h.Enabled(mainid::kSubmit));
        h.Choose(mainid::kCourse, 1); // "beta": one component, filled at once
        QCOMPARE(h.dialog().currentCourse()->name, std::string("beta"));
        QCOMPARE(h.Items(mainid::kComponent), Strings({"Quizzes"}));
        QCOMPARE(h.Items(mainid::kElement), Strings({"1"}));
        QVERIFY(h.Shown(mainid::kExam));

        h.Choose(mainid::kCourse, 2); // "zeta": two components, none chosen yet
        QCOMPARE(h.Selected(mainid::kComponent), -1);
        QVERIFY(!h.Enabled(mainid::kElement));
        QVERIFY(!h.Enabled(mainid::kSubmit));
        QVERIFY(!h.Enabled(mainid::kExam));
        QVERIFY(h.Shown(mainid::kExam)); // visibility unchanged by a course change
    }

    void courseListFocusedWhenThereIsAChoice() {
        MainDlgHarness h(Catalogue({ThreeComponents(3101, "A"), ThreeComponents(3101, "B")}));
        h.dialog().show();
        QVERIFY(QTest::qWaitForWindowActive(&h.dialog()));
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kCourse));
    }

    void viewOrExam_data() {
        QTest::addColumn<char>("kind");
        QTest::addColumn<char>("status");
        QTest::addColumn<bool>("labMode");
        QTest::addColumn<bool>("exam");
        QTest::newRow("A open") << 'A' << 'O' << false << false;
        QTest::newRow("A unavailable") << 'A' << 'U' << false << false;
        QTest::newRow("A marked") << 'A' << 'M' << false << false;
        QTest::newRow("Q open") << 'Q' << 'O' << false << true;
        QTest::newRow("Q closed") << 'Q' << 'C' << false << true;
        QTest::newRow("Q marked") << 'Q' << 'M' << false << false;
        QTest::newRow("lab A open") << 'A' << 'O' << true << true;
        QTest::newRow("lab A marked") << 'A' << 'M' << true << true;
        QTest::newRow("lab Q marked") << 'Q' << 'M' << true << true;
    }
    void viewOrExam() {
        QFETCH(char, kind);
        QFETCH(char, status);
        QFETCH(bool, labMode);
        QFETCH(bool, exam);
        // The same rule through both paths: a single-section element and a chosen section.
        for (const char* components : {"Assignment,1,1", "Quiz,1,2"}) {
            const bool twoSections = std::string_view(components) == "Quiz,1,2";
            const std::string statuses =
                twoSections ? std::string{'U', status} : std::string{status};
            const std::string kinds = twoSections ? std::string{kind, kind} : std::string{kind};
            MainDlgHarness h(Catalogue({MakeCourse(3101, "C", components, statuses, kinds)}), 0,
                             labMode);
            if (twoSections)
                h.Choose(mainid::kSection, 1);
            QCOMPARE(h.Shown(mainid::kExam), exam);
            QCOMPARE(h.Enabled(mainid::kExam), exam);
            QCOMPARE(h.Shown(mainid::kView), !exam);
            QCOMPARE(h.Enabled(mainid::kView), !exam);
            QCOMPARE(h.control(mainid::kExam)->geometry(), h.control(mainid::kView)->geometry());
        }
    }

    void notSetUp() {
        for (auto catalogue :
             {Catalogue({MakeCourse(3102, "Elsewhere", "Assignment,1,1", "O")}), Catalogue({})}) {
            MainDlgHarness h(catalogue, 3101);
            QCOMPARE(h.dialog().exec(), int(QDialog::Rejected));
            QVERIFY(!h.dialog().isVisible());
            QCOMPARE(h.prompts.shown.size(), std::size_t(1));
            QCOMPARE(h.prompts.shown[0].text,
                     std::string("Your course has not yet been set up!  Try again later."));
            QCOMPARE(h.prompts.shown[0].buttons, Buttons::Ok);
        }
    }

    void componentLabels() {
        QCOMPARE(ComponentLabel(""), std::string());
        QCOMPARE(ComponentLabel("quiz"), std::string("Quizzes"));
        QCOMPARE(ComponentLabel("QuIZ"), std::string("Quizzes"));
        QCOMPARE(ComponentLabel("Quizz"), std::string("Quizzs"));
        QCOMPARE(ComponentLabel("Lab"), std::string("Labs"));
        MainDlgHarness h(Catalogue({MakeCourse(3101, "C", "Lab,1,1/quiz,1,1", "OO")}));
        QCOMPARE(h.Items(mainid::kComponent), Strings({"Labs", "Quizzes"}));
        h.Choose(mainid::kComponent, 1);
        QCOMPARE(Text(h, mainid::kElementLabel),
                 QStringLiteral("quiz #:")); // the name, not the label
    }

    void dropWidthGrowsNeverShrinks() {
        const std::string wide(60, 'W');
        MainDlgHarness h(Catalogue({MakeCourse(3101, "A", wide + ",1,1/Quiz,1,1", "OO"),
                                    MakeCourse(3101, "B", "X,1,1/Y,1,1", "OO")}));
        auto* components = h.control<QComboBox>(mainid::kComponent);
        const int needed = QFontMetrics(components->view()->font())
                               .horizontalAdvance(QString::fromStdString(wide + "s"));
        QVERIFY(needed > components->width());
        const int grown = components->view()->minimumWidth();
        QVERIFY2(grown > needed, qPrintable(QStringLiteral("%1 <= %2").arg(grown).arg(needed)));
        h.Choose(mainid::kCourse, 1); // short names now; the popup keeps its width
        QCOMPARE(h.Items(mainid::kComponent), Strings({"Xs", "Ys"}));
        QCOMPARE(components->view()->minimumWidth(), grown);
        // A list whose items fit keeps the list's own width.
        QCOMPARE(h.control<QComboBox>(mainid::kCourse)->view()->minimumWidth(), 0);
    }

    void templateAndDecorations() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        MainDlg& d = h.dialog();
        QCOMPARE(d.windowTitle(), QStringLiteral("Submit"));
        const DialogUnits du = DialogUnits::Of(&d);
        QCOMPARE(d.size(), du.size(166, 168));
        QVERIFY(d.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(d.windowFlags() & Qt::WindowSystemMenuHint);
        QVERIFY(!d.windowIcon().isNull());
        QVERIFY(!d.windowIcon().pixmap(16, 16).isNull());
        QVERIFY(!d.windowIcon().pixmap(32, 32).isNull());

        const std::pair<int, const char*> tips[] = {
            {mainid::kRegister, "Register with the Tallyport system"},
            {mainid::kUpdate, "Change your password and email address"},
            {mainid::kSubmit, "Submit your solution to an assignment"},
            {mainid::kView, "View your previously submitted solution"},
            {mainid::kExam, "Download your practical exam question"}};
        for (auto [id, tip] : tips)
            QCOMPARE(h.control(id)->toolTip(), QString::fromLatin1(tip));
        QVERIFY(h.control(mainid::kExit)->toolTip().isEmpty());

        const std::pair<int, const char*> captions[] = {
            {mainid::kRegister, "&Register"}, {mainid::kUpdate, "&Update Info"},
            {mainid::kSubmit, "Sub&mit"},     {mainid::kView, "&View"},
            {mainid::kExam, "&Exam"},         {mainid::kExit, "E&xit"}};
        for (auto [id, caption] : captions) {
            auto* button = h.control<QPushButton>(id);
            QCOMPARE(button->text(), QString::fromLatin1(caption));
            QVERIFY(!button->isDefault() && !button->autoDefault()); // Enter presses nothing
        }
        // Every control inside the template's rectangle.
        for (QWidget* child : d.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(QRect(QPoint(0, 0), d.size()).contains(child->geometry()),
                     qPrintable(child->objectName()));
    }

    void mnemonicsMoveFocus() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.dialog().show();
        QVERIFY(QTest::qWaitForWindowActive(&h.dialog()));
        QTest::keyClick(&h.dialog(), Qt::Key_P, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kPassword));
        QTest::keyClick(&h.dialog(), Qt::Key_S, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), h.control(mainid::kStudentNumber));
    }

    void exitCloses() {
        MainDlgHarness h(Catalogue({ThreeComponents()}));
        h.dialog().show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dialog()));
        h.Click(mainid::kExit);
        QVERIFY(!h.dialog().isVisible());
        QCOMPARE(h.dialog().result(), int(QDialog::Rejected));
        QVERIFY(h.calls.empty());
    }
};

QTEST_MAIN(MainDlgCascadeTest)
#include "MainDlgCascade_test.moc"
