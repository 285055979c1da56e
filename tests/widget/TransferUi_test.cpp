// The transaction's Qt user interface with real transactions on loopback: the Transfer box while
// a request waits, the wait cursor, Cancel, ReportStatus's boxes and the retry.
#include "command/CourseCatalogue.h"
#include "protocol/Transaction.h"
#include "support/InProcessServer.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"
#include "support/gui/MainDlgHarness.h"
#include "support/gui/ModalDriver.h"
#include "ui/DialogUnits.h"
#include "ui/QtPrompts.h"
#include "ui/QtTransactionUi.h"
#include "ui/ReportStatus.h"
#include "ui/WaitDialog.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace tallyport;
using namespace tallyport::test;

namespace {

struct BoxSeen {
    QString title;
    bool applicationModal = false;
    QWidget* owner = nullptr;
    bool waitCursor = false;
    bool blocksOwner = false;
};

// Once the transfer box is up: note what it looks like, then press its Cancel button.
std::shared_ptr<DriveResult> CancelWhenBoxShows(QtTransactionUi& ui, BoxSeen& seen,
                                                std::function<void()> whileUp = {}) {
    return WhenWindowShown(
        [&ui]() -> QWidget* { return ui.waitDialog(); },
        [&seen, whileUp](QWidget* w) {
            auto* box = static_cast<CNewWaitDialog*>(w);
            seen.title = FindControl<QLabel>(box, CNewWaitDialog::kTitleId)->text();
            seen.applicationModal = box->windowModality() == Qt::ApplicationModal;
            seen.owner = box->parentWidget();
            seen.waitCursor = QApplication::overrideCursor() &&
                              QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            seen.blocksOwner = QApplication::activeModalWidget() == box;
            if (whileUp)
                whileUp();
            QTest::mouseClick(FindControl<QPushButton>(box, CNewWaitDialog::kCancelId),
                              Qt::LeftButton);
        });
}

} // namespace

class TransferUiTest : public QObject {
    Q_OBJECT
private slots:
    void courseListFromARealServer() {
        TempDir dir;
        InProcessServer server(dir.path(), "127.0.0.2");
        server.LoadDemo();
        ScriptedPrompts prompts;
        QtTransactionUi ui(prompts);
        Transactor transactor(server.endpoint(), ui);
        StatusCode status = -1;
        std::optional<NetMessage> reply =
            transactor.Transact(BuildCourseListRequest(), status, "Course List");
        QCOMPARE(status, 0);
        QVERIFY(reply.has_value());
        std::optional<CourseCatalogue> catalogue = ReadCourseCatalogue(*reply);
        QVERIFY(catalogue && !catalogue->courses.empty());
        QVERIFY(prompts.shown.empty());
        QVERIFY(ui.waitDialog() == nullptr); // closed after the last attempt
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    // Cancel while the server holds the reply back: the attempt ends as a transmission error,
    // and the main dialog took no input meanwhile.
    void cancelDuringAStalledReply() {
        ScriptedPeer peer;
        peer.Push(PeerAction::Hang());
        MainDlgHarness main({{MakeCourse(3101, "Course", "Assignment,1,1", "O")}});
        main.dialog().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main.dialog()));

        ScriptedPrompts prompts;
        QtTransactionUi ui(prompts, &main.dialog());
        Transactor transactor(peer.endpoint(), ui);
        BoxSeen seen;
        auto driven = CancelWhenBoxShows(ui, seen, [&] {
            // A click on the main dialog while the box is up goes nowhere.
            auto* exit = main.control<QPushButton>(mainid::kExit);
            QTest::mouseClick(main.dialog().windowHandle(), Qt::LeftButton, {},
                              exit->mapTo(&main.dialog(), exit->rect().center()));
        });
        StatusCode status = 0;
        const auto reply = transactor.Transact(BuildCourseListRequest(), status, "Course List");
        QVERIFY(driven->found);
        QVERIFY(!reply);
        QCOMPARE(status, status::kTransmissionError);
        QCOMPARE(seen.title, QStringLiteral("Course List"));
        QVERIFY(seen.applicationModal);
        QVERIFY(seen.blocksOwner);
        QCOMPARE(seen.owner, static_cast<QWidget*>(&main.dialog()));
        QVERIFY(seen.waitCursor);
        QCOMPARE(prompts.texts(), std::vector<std::string>{"A transmission error occurred."});
        QCOMPARE(prompts.shown[0].buttons, Buttons::AbortRetryIgnore);
        QCOMPARE(prompts.shown[0].icon, Icon::Question);
        QVERIFY(QApplication::overrideCursor() == nullptr); // the arrow is back for the question
        QCoreApplication::processEvents();
        QVERIFY(main.dialog().isVisible()); // the click on Exit did nothing
    }

    void cancelWhileConnecting() {
        StalledListener listener;
        ScriptedPrompts prompts;
        prompts.answers = {Answer::Abort};
        QtTransactionUi ui(prompts);
        Transactor transactor(listener.endpoint(), ui);
        BoxSeen seen;
        auto driven = CancelWhenBoxShows(ui, seen);
        StatusCode status = 0;
        QVERIFY(!transactor.Transact(BuildCourseListRequest(), status, "Verification"));
        QVERIFY(driven->found);
        QCOMPARE(seen.title, QStringLiteral("Verification"));
        QCOMPARE(prompts.texts(),
                 std::vector<std::string>{"Unable to establish connection to server."});
        QCOMPARE(status, status::kAborted);
    }

    void retryOnceTheServerIsUp() {
        TempDir dir;
        InProcessServer server(dir.path(), "127.0.0.3");
        server.LoadDemo();
        server.Stop();
        ScriptedPrompts prompts;
        prompts.answers = {Answer::Retry};
        QtTransactionUi ui(prompts);
        bool boxUpAtQuestion = false;
        prompts.onMessage = [&](const ShownMessage&) {
            boxUpAtQuestion = ui.waitDialog() && ui.waitDialog()->isVisible();
            server.Start();
        };
        Transactor transactor(server.endpoint(), ui);
        StatusCode status = -1;
        const auto reply = transactor.Transact(BuildCourseListRequest(), status, "Course List");
        QCOMPARE(prompts.texts(),
                 std::vector<std::string>{"Unable to establish connection to server."});
        QVERIFY(boxUpAtQuestion); // the box stays up through the question and the retry
        QCOMPARE(status, 0);
        QVERIFY(reply.has_value());
        QVERIFY(ui.waitDialog() == nullptr);
    }

    void oldVersionIsOneNotice() {
        ScriptedPeer peer;
        peer.Push(PeerAction::Reply(status::kOldVersion));
        peer.Push(PeerAction::Reply(status::kOldVersion));
        ScriptedPrompts prompts;
        prompts.answers = {Answer::Retry}; // offered no retry: a notice only has OK
        QtTransactionUi ui(prompts);
        Transactor transactor(peer.endpoint(), ui);
        StatusCode status = 0;
        QVERIFY(!transactor.Transact(BuildCourseListRequest(), status, "Course List"));
        QCOMPARE(status, status::kAborted);
        QCOMPARE(prompts.shown.size(), std::size_t(1));
        QCOMPARE(prompts.shown[0].text,
                 std::string("You are using an old version of the submit program.\nPlease "
                             "download the latest version from the course website."));
        QCOMPARE(prompts.shown[0].buttons, Buttons::Ok);
        QCOMPARE(prompts.shown[0].icon, Icon::Exclamation);
        QCOMPARE(peer.completeRequests(), 1);
    }

    void reportStatusTable_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text"); // empty: no box
        QTest::addColumn<bool>("question");
        QTest::newRow("-1") << -1 << "Unable to establish connection to server." << true;
        QTest::newRow("-2") << -2 << "A transmission error occurred." << true;
        QTest::newRow("-3") << -3 << "An error occurred with the server." << true;
        QTest::newRow("-5") << -5 << "This specified course is not available.\n" << false;
        QTest::newRow("-6") << -6
                            << "An account already exists for this student number.\nPlease "
                               "contact your instructor if you are having difficulties."
                            << false;
        QTest::newRow("-7") << -7 << "Your student number is incorrect or you haven't registered."
                            << false;
        QTest::newRow("-8") << -8 << "Your password is incorrect." << false;
        QTest::newRow("-9") << -9 << "The assignment number is invalid." << false;
        QTest::newRow("-10") << -10 << "The assignment is not yet available for submission."
                             << false;
        QTest::newRow("-11") << -11 << "The deadline for that assignment has passed." << false;
        QTest::newRow("-12") << -12 << "" << false;
        QTest::newRow("-13") << -13 << "You are not allowed to submit from this computer." << false;
        QTest::newRow("-14") << -14 << "An unknown error occurred." << true;
        QTest::newRow("positive") << 7 << "An unknown error occurred." << true;
    }
    void reportStatusTable() {
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(bool, question);
        for (Answer answer : {Answer::Abort, Answer::Retry, Answer::Ignore}) {
            ScriptedPrompts prompts;
            prompts.answers = {answer};
            const RetryChoice choice = ReportStatus(prompts, status);
            if (text.isEmpty()) {
                QVERIFY(prompts.shown.empty());
                QCOMPARE(choice, RetryChoice::Ignore);
                continue;
            }
            QCOMPARE(prompts.shown.size(), std::size_t(1));
            QCOMPARE(QString::fromStdString(prompts.shown[0].text), text);
            QCOMPARE(prompts.shown[0].buttons, question ? Buttons::AbortRetryIgnore : Buttons::Ok);
            QCOMPARE(prompts.shown[0].icon, question ? Icon::Question : Icon::Exclamation);
            const RetryChoice expected = !question                 ? RetryChoice::Ignore
                                         : answer == Answer::Abort ? RetryChoice::Abort
                                         : answer == Answer::Retry ? RetryChoice::Retry
                                                                   : RetryChoice::Ignore;
            QCOMPARE(choice, expected);
        }
    }

    // The real message boxes: the application name as caption, the buttons and icons asked for.
    void realMessageBoxes() {
        QApplication::setApplicationName(QStringLiteral("vorpa3102"));
        QtPrompts prompts(QApplication::applicationName());
        struct Seen {
            QString caption, text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            QMessageBox::StandardButtons buttons;
        };
        Seen seen;
        auto answerWith = [&seen](QMessageBox::StandardButton button) {
            return WhenShown<QMessageBox>([&seen, button](QMessageBox* box) {
                seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
                QTest::mouseClick(box->button(button), Qt::LeftButton);
            });
        };

        auto driven = answerWith(QMessageBox::Retry);
        QCOMPARE(ReportStatus(prompts, status::kNoConnection), RetryChoice::Retry);
        QVERIFY(driven->found);
        QCOMPARE(seen.caption, QStringLiteral("vorpa3102"));
        QCOMPARE(seen.text, QStringLiteral("Unable to establish connection to server."));
        QCOMPARE(seen.icon, QMessageBox::Question);
        QCOMPARE(seen.buttons, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);

        driven = answerWith(QMessageBox::Abort);
        QCOMPARE(ReportStatus(prompts, status::kServerError), RetryChoice::Abort);
        QVERIFY(driven->found);

        driven = answerWith(QMessageBox::Ok);
        QCOMPARE(ReportStatus(prompts, status::kWrongPassword), RetryChoice::Ignore);
        QVERIFY(driven->found);
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        // A plain OK box asked for without an icon shows the exclamation icon.
        driven = answerWith(QMessageBox::Ok);
        QCOMPARE(prompts.Message("Windows sockets initialization failed.", Buttons::Ok, Icon::None),
                 Answer::Ok);
        QVERIFY(driven->found);
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QCOMPARE(seen.caption, QStringLiteral("vorpa3102"));
    }
};

QTEST_MAIN(TransferUiTest)
#include "TransferUi_test.moc"
