// The real message boxes of QtPrompts: texts shown as they are (no markup, names as the file
// system spells them) and what Escape and the close box answer.
#include "marking/SaveMarked.h"
#include "support/TempDir.h"
#include "support/gui/ModalDriver.h"
#include "ui/DisplayText.h"
#include "ui/QtPrompts.h"
#include "ui/ReportStatus.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <filesystem>

using namespace tallyport;
using namespace tallyport::test;

namespace {

struct Seen {
    QString text;
    Qt::TextFormat format = Qt::AutoText;
};

// Shows `text` in a real OK box and returns what its label holds.
Seen Show(std::string_view text) {
    QtPrompts prompts(QStringLiteral("tallyport-submit"));
    Seen seen;
    auto driven = WhenShown<QMessageBox>([&seen](QMessageBox* box) {
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        seen = {label ? label->text() : QString(), label ? label->textFormat() : Qt::AutoText};
        box->button(QMessageBox::Ok)->click();
    });
    prompts.Message(text, Buttons::Ok, Icon::Error);
    if (!driven->found)
        seen.text = QStringLiteral("(no box)");
    return seen;
}

} // namespace

class MessageBoxTest : public QObject {
    Q_OBJECT
private slots:
    // A file name from the disk or the server is a name, never markup.
    void textIsPlain() {
        const Seen seen = Show("Unable to open file /home/s/<b>x.c");
        QCOMPARE(seen.text, QStringLiteral("Unable to open file /home/s/<b>x.c"));
        QCOMPARE(seen.format, Qt::PlainText);
    }

    // The folder a student chose, with letters beyond ASCII (UTF-8 on this system), is shown
    // as the file system spells it in the message that ends a save.
    void savedFolderIsShownAsSpelt() {
        TempDir dir;
        const std::string chosen = (dir.path() / "\xC3\x9C"
                                                 "bungen \xE2\x80\x93 2026")
                                       .string();
        std::filesystem::create_directories(chosen);
        MarkedSubmission submission;
        submission.files.emplace_back().name = "a.c";
        submission.files.back().SetText("x");
        const SaveResult result = SaveMarkedSubmission(submission, chosen, 3);
        QVERIFY(result.problems.empty());
        QCOMPARE(Show(SaveResultMessage(result)).text,
                 QStringLiteral("Your submitted file has been saved in ") +
                     QString::fromStdString(dir.path().string()) +
                     QString::fromUtf8("/\u00DCbungen \u2013 2026/assign03"));
    }

    // Well-formed UTF-8 is decoded; every other byte stands alone as its Windows-1252
    // character, so nothing is lost.
    void displayText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("plain.c") << QStringLiteral("plain.c");
        QTest::newRow("utf-8") << QByteArray("\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\x81")
                               << QString::fromUtf8("\u00E9t\u00E9 \U0001F4C1");
        QTest::newRow("8-bit name") << QByteArray("Ren\xE9"
                                                  "e")
                                    << QString::fromUtf8("Ren\u00E9e");
        QTest::newRow("both in one text") << QByteArray("\xC3\x9C"
                                                        "bung by Ren\xE9"
                                                        "e")
                                          << QString::fromUtf8("\u00DCbung by Ren\u00E9e");
        QTest::newRow("overlong") << QByteArray("\xC0\xAF") << QString::fromUtf8("\u00C0\u00AF");
        QTest::newRow("surrogate")
            << QByteArray("\xED\xA0\x80") << QString::fromUtf8("\u00ED\u00A0\u20AC");
        QTest::newRow("cut short at the end")
            << QByteArray("a\xE2\x82") << QString::fromUtf8("a\u00E2\u201A");
        QTest::newRow("beyond U+10FFFF")
            << QByteArray("\xF4\x90\x80\x80") << QString::fromUtf8("\u00F4\uFFFD\u20AC\u20AC");
        QTest::newRow("lone continuation") << QByteArray("\x80x") << QString::fromUtf8("\u20ACx");
        QTest::newRow("Windows-1252 quotes") << QByteArray("\x93q\x94 \x96 \x81")
                                             << QString::fromUtf8("\u201Cq\u201D \u2013 \uFFFD");
    }
    void displayText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QCOMPARE(DisplayText(std::string_view(bytes.constData(), std::size_t(bytes.size()))),
                 shown);
    }

    // Escape and the close box on an Abort / Retry / Ignore box answer Ignore, which keeps what
    // the student typed; on an OK / Cancel question they answer Cancel.
    void escapeAndCloseBox() {
        QtPrompts prompts(QStringLiteral("tallyport-submit"));
        for (const bool closeBox : {false, true}) {
            auto driven = WhenShown<QMessageBox>([closeBox](QMessageBox* box) {
                if (closeBox)
                    box->close();
                else
                    QTest::keyClick(box, Qt::Key_Escape);
            });
            QCOMPARE(ReportStatus(prompts, status::kTransmissionError), RetryChoice::Ignore);
            QVERIFY(driven->found);

            driven = WhenShown<QMessageBox>([closeBox](QMessageBox* box) {
                if (closeBox)
                    box->close();
                else
                    QTest::keyClick(box, Qt::Key_Escape);
            });
            QCOMPARE(prompts.Message("Go on?", Buttons::OkCancel, Icon::None), Answer::Cancel);
            QVERIFY(driven->found);
        }
    }
};

QTEST_MAIN(MessageBoxTest)
#include "MessageBox_test.moc"
