// SubmitDlg through its real widgets: editing and switching files, Cancel, the tab slider per
// entry, placeholders, Add and Delete with their slot rules, the completeness test of Submit and
// the layout after a resize.
#include "submission/SubmitDlg.h"

#include "submission/SubmissionPackage.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"
#include "ui/DialogUnits.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <filesystem>
#include <fstream>

using namespace tallyport;
using namespace tallyport::test;

namespace {

constexpr const char* kTypes = "Source,src,A,4/Text,txt,T/Data,bin,B,2";

SubmissionFile File(std::string name, ContentKind kind, int32_t tab, std::string content) {
    return {std::move(name), kind, std::move(content), tab};
}

QStringList Strings(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts)
        list << QString::fromUtf8(text);
    return list;
}

QStringList Items(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A dialog on a set and a list, shown (and so opened) for the test.
struct Shown {
    Shown(const char* requirement, SubmissionEntries list)
        : set(BuildRequiredFileSet(kTypes, requirement, 0, "", 0, 0)), entries(std::move(list)),
          dialog(set, entries, prompts) {
        dialog.show();
        (void)QTest::qWaitForWindowExposed(&dialog);
    }

    QPlainTextEdit* view() { return FindControl<QPlainTextEdit>(&dialog, submitid::kView); }
    QSlider* slider() { return FindControl<QSlider>(&dialog, submitid::kTabSlider); }
    QComboBox* fileBox() { return FindControl<QComboBox>(&dialog, submitid::kFileBox); }
    QPushButton* button(int id) { return FindControl<QPushButton>(&dialog, id); }
    void Click(int id) { QTest::mouseClick(button(id), Qt::LeftButton); }
    void Choose(int index) { fileBox()->setCurrentIndex(index); }
    void TypeAtEnd(const QString& text) {
        view()->setFocus();
        view()->moveCursor(QTextCursor::End);
        QTest::keyClicks(view(), text);
    }
    QString ViewText() { return view()->toPlainText(); }

    RequiredFileSet set;
    SubmissionEntries entries;
    ScriptedPrompts prompts;
    SubmitDlg dialog;
};

SubmissionEntries ThreeSources() {
    SubmissionEntries entries;
    entries.emplace_back(File("a.src", ContentKind::Ascii, 4, "first\r\nline\r\n"));
    entries.emplace_back(File("b.src", ContentKind::Ascii, 2, "second\r\n"));
    entries.emplace_back(File("c.src", ContentKind::Ascii, 8, "third\r\n"));
    return entries;
}

} // namespace

class SubmitDlgTest : public QObject {
    Q_OBJECT
private slots:
    void openingShowsTheFirstEntry() {
        Shown s("M,src", ThreeSources());
        QCOMPARE(s.dialog.windowTitle(), QStringLiteral("Submit"));
        QCOMPARE(Items(s.fileBox()), Strings({"a.src", "b.src", "c.src"}));
        QCOMPARE(s.fileBox()->currentIndex(), 0);
        QCOMPARE(s.ViewText(), QStringLiteral("first\nline\n"));
        QCOMPARE(s.slider()->minimum(), 0);
        QCOMPARE(s.slider()->maximum(), 8);
        QCOMPARE(s.slider()->tickInterval(), 1);
        QVERIFY(s.slider()->tickPosition() != QSlider::NoTicks);
        QCOMPARE(s.slider()->value(), 4);
        QVERIFY(s.view()->font().fixedPitch() || QFontInfo(s.view()->font()).fixedPitch());
        const qreal character = QFontMetricsF(s.view()->font()).averageCharWidth();
        QCOMPARE(s.view()->tabStopDistance(), 4 * character);
        QVERIFY(s.button(submitid::kAdd)->isVisible());
        QVERIFY(s.button(submitid::kDelete)->isEnabled());
        QCOMPARE(QApplication::focusWidget(), s.button(submitid::kAdd));
        QCOMPARE(FindControl<QLabel>(&s.dialog, submitid::kFileLabel)->text(),
                 QStringLiteral("&File:"));
        QCOMPARE(FindControl<QLabel>(&s.dialog, submitid::kTabLabel)->text(),
                 QStringLiteral("&Tabstop:"));
    }

    // Names from the student's disk (UTF-8 here) are listed as the file system spells them.
    void namesAreListedAsSpelt() {
        SubmissionEntries entries;
        entries.emplace_back(File("\xC3\x9C"
                                  "bung/l\xC3\xB6sung.src",
                                  ContentKind::Ascii, 4, "x"));
        Shown s("D", std::move(entries));
        QCOMPARE(Items(s.fileBox()), Strings({"\u00DCbung/l\u00F6sung.src"}));
    }

    void singleFileAndProjectHaveNoAddOrDelete() {
        for (const char* requirement : {"1,src", "D"}) {
            SubmissionEntries entries;
            entries.emplace_back(File("a.src", ContentKind::Ascii, 4, "x"));
            Shown s(requirement, std::move(entries));
            QVERIFY(!s.button(submitid::kAdd)->isVisible());
            QVERIFY(!s.button(submitid::kAdd)->isEnabled());
            QVERIFY(!s.button(submitid::kDelete)->isVisible());
            QVERIFY(!s.button(submitid::kDelete)->isEnabled());
            QCOMPARE(QApplication::focusWidget(), s.view());
        }
    }

    void editSwitchAndComeBack() {
        Shown s("M,src", ThreeSources());
        s.TypeAtEnd(QStringLiteral("added"));
        QCOMPARE(s.entries[0]->content, std::string("first\r\nline\r\n")); // not saved yet
        s.Choose(1);
        QCOMPARE(s.ViewText(), QStringLiteral("second\n"));
        QCOMPARE(s.entries[0]->content, std::string("first\r\nline\r\nadded"));
        s.Choose(0);
        QCOMPARE(s.ViewText(), QStringLiteral("first\nline\nadded"));
        // A line break typed in the view is saved as CR LF.
        s.view()->moveCursor(QTextCursor::Start);
        QTest::keyClick(s.view(), Qt::Key_Return);
        s.Click(submitid::kSubmit);
        QCOMPARE(s.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(s.entries[0]->content, std::string("\r\nfirst\r\nline\r\nadded"));
        const std::string package = PackageBytes(s.entries);
        QVERIFY(package.find("File #1: a.src,A,4,20\r\n\r\nfirst\r\nline\r\naddedEOF\r\n") !=
                std::string::npos);
    }

    // Enter presses the button that has the focus; Submit answers it only while no other button
    // has the focus, so Enter right after opening (focus on Add) never uploads the work.
    void enterPressesTheFocusedButton() {
        const auto pressEnter = [](Shown& s, QWidget* focus) {
            s.dialog.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&s.dialog));
            focus->setFocus();
            QCOMPARE(QApplication::focusWidget(), focus);
            QTest::keyClick(focus, Qt::Key_Return);
        };
        {
            Shown s("M,src", ThreeSources());
            QCOMPARE(QApplication::focusWidget(), s.button(submitid::kAdd)); // as it opens
            pressEnter(s, s.button(submitid::kAdd));
            QVERIFY(s.dialog.isVisible());
            QCOMPARE(s.prompts.fileRequests.size(), std::size_t(1));  // Add asked for a file
            QTest::keyClick(s.button(submitid::kAdd), Qt::Key_Enter); // the keypad's Enter too
            QVERIFY(s.dialog.isVisible());
            QCOMPARE(s.prompts.fileRequests.size(), std::size_t(2));
        }
        {
            Shown s("M,src", ThreeSources());
            pressEnter(s, s.button(submitid::kDelete));
            QVERIFY(s.dialog.isVisible());
            QCOMPARE(Items(s.fileBox()), Strings({"b.src", "c.src"}));
        }
        {
            Shown s("M,src", ThreeSources());
            s.TypeAtEnd(QStringLiteral("edit"));
            pressEnter(s, s.button(submitid::kCancel));
            QVERIFY(!s.dialog.isVisible());
            QCOMPARE(s.dialog.result(), int(QDialog::Rejected));
            QCOMPARE(s.entries[0]->content, std::string("first\r\nline\r\n"));
        }
        {
            // In the view Enter breaks the line; from the file box (a button had the focus
            // before) it is Submit's again.
            Shown s("M,src", ThreeSources());
            pressEnter(s, s.view());
            QVERIFY(s.dialog.isVisible());
            QCOMPARE(s.ViewText(), QStringLiteral("\nfirst\nline\n"));
            s.button(submitid::kCancel)->setFocus();
            pressEnter(s, s.fileBox());
            QVERIFY(!s.dialog.isVisible());
            QCOMPARE(s.dialog.result(), int(QDialog::Accepted));
            QCOMPARE(s.entries[0]->content, std::string("\r\nfirst\r\nline\r\n"));
        }
    }

    void unchangedEntryKeepsItsBytes() {
        SubmissionEntries entries;
        entries.emplace_back(File("a.src", ContentKind::Ascii, 4, "lone\rcr\nlf\x01"));
        entries.emplace_back(File("b.src", ContentKind::Ascii, 4, "b"));
        Shown s("M", std::move(entries));
        s.Choose(1);
        s.Click(submitid::kSubmit);
        QCOMPARE(s.entries[0]->content, std::string("lone\rcr\nlf\x01"));
    }

    void cancelDiscardsTheEdit() {
        Shown s("M,src", ThreeSources());
        s.TypeAtEnd(QStringLiteral("more"));
        QTest::keyClick(s.slider(), Qt::Key_Left);
        s.Click(submitid::kCancel);
        QCOMPARE(s.dialog.result(), int(QDialog::Rejected));
        QVERIFY(!s.dialog.isVisible());
        QCOMPARE(s.entries[0]->content, std::string("first\r\nline\r\n"));
        QCOMPARE(s.entries[0]->tabWidth, 4);
    }

    void textKeepsItsEncoding() {
        SubmissionEntries entries;
        entries.emplace_back(File("utf.txt", ContentKind::Normalised, 8, "caf\xc3\xa9\r\n"));
        entries.emplace_back(File("latin.txt", ContentKind::Normalised, 8, "caf\xe9\r\n"));
        Shown s("M", std::move(entries));
        QCOMPARE(s.ViewText(), QStringLiteral("caf\u00e9\n"));
        s.TypeAtEnd(QStringLiteral("x"));
        s.Choose(1);
        QCOMPARE(s.ViewText(), QStringLiteral("caf\u00e9\n"));
        s.TypeAtEnd(QStringLiteral("y"));
        s.Click(submitid::kSubmit);
        QCOMPARE(s.entries[0]->content, std::string("caf\xc3\xa9\r\nx"));
        QCOMPARE(s.entries[1]->content, std::string("caf\xe9\r\ny"));
    }

    // Text that is not UTF-8 reads as Windows-1252, as the page draws it, and goes back in it:
    // what the set cannot hold (a character typed, or the mark of a byte that stood for
    // nothing) is written as "?".
    void windows1252TextShowsItsCharacters() {
        SubmissionEntries entries;
        entries.emplace_back(
            File("quotes.txt", ContentKind::Normalised, 8, "\x93q\x94 \x80 \x81\r\n"));
        Shown s("M", std::move(entries));
        QCOMPARE(s.ViewText(), QStringLiteral("\u201Cq\u201D \u20AC \uFFFD\n"));
        s.TypeAtEnd(QString());
        QInputMethodEvent typed; // as a keyboard layout or input method enters such characters
        typed.setCommitString(QStringLiteral("\u2019\u2192"));
        QApplication::sendEvent(s.view(), &typed);
        s.Click(submitid::kSubmit);
        QCOMPARE(s.entries[0]->content, std::string("\x93q\x94 \x80 ?\r\n\x92?"));
    }

    void sliderIsKeptPerEntry() {
        Shown s("M,src", ThreeSources());
        QCOMPARE(s.slider()->value(), 4);
        QTest::keyClick(s.slider(), Qt::Key_Left);
        QCOMPARE(s.slider()->value(), 3);
        const qreal character = QFontMetricsF(s.view()->font()).averageCharWidth();
        QCOMPARE(s.view()->tabStopDistance(), 3 * character);
        QCOMPARE(s.entries[0]->tabWidth, 4); // taken at the next save
        s.Choose(1);
        QCOMPARE(s.entries[0]->tabWidth, 3);
        QCOMPARE(s.slider()->value(), 2);
        QCOMPARE(s.view()->tabStopDistance(), 2 * character);
        s.Choose(0);
        QCOMPARE(s.slider()->value(), 3);
        // A width of 0 still gives each tab a character's width.
        s.slider()->setValue(0);
        QCOMPARE(s.view()->tabStopDistance(), character);
        s.Click(submitid::kSubmit);
        QCOMPARE(s.entries[0]->tabWidth, 0);
    }

    void nonAsciiFirstEntryLeavesTheSliderAtSeven() {
        SubmissionEntries entries;
        entries.emplace_back(File("pic.bin", ContentKind::NonAscii, 2, std::string("\x00\x01", 2)));
        entries.emplace_back(File("a.src", ContentKind::Ascii, 4, "a"));
        Shown s("M", std::move(entries));
        QCOMPARE(s.slider()->value(), 7);
        QCOMPARE(s.ViewText(), QStringLiteral("This is a non-ASCII file which can't be viewed."));
        // Typing over the placeholder changes nothing; the tab width is still saved.
        s.TypeAtEnd(QStringLiteral("typed"));
        s.Choose(1);
        QCOMPARE(s.entries[0]->content, std::string("\x00\x01", 2));
        QCOMPARE(s.entries[0]->tabWidth, 7);
        QCOMPARE(s.slider()->value(), 4);
        // Coming back leaves the slider where the other entry put it.
        s.Choose(0);
        QCOMPARE(s.slider()->value(), 4);
    }

    void emptySlotShowsItsPlaceholderAndStaysEmpty() {
        SubmissionEntries entries;
        entries.emplace_back(File("main.src", ContentKind::Ascii, 4, "m"));
        entries.emplace_back(std::nullopt);
        Shown s("S,main.src,util.src", std::move(entries));
        QCOMPARE(Items(s.fileBox()), Strings({"main.src", "util.src"}));
        s.Choose(1);
        QCOMPARE(s.ViewText(),
                 QStringLiteral("You haven't loaded this file yet.\nPress the ADD button."));
        QCOMPARE(s.slider()->value(), 4);
        s.TypeAtEnd(QStringLiteral("typed"));
        s.Choose(0);
        QVERIFY(!s.entries[1].has_value());
        QCOMPARE(s.entries[0]->content, std::string("m"));
    }

    void deleteInAnyFiles() {
        Shown s("M,src", ThreeSources());
        s.Choose(1);
        s.TypeAtEnd(QStringLiteral("lost"));
        s.Click(submitid::kDelete);
        QCOMPARE(s.entries.size(), std::size_t(2));
        QCOMPARE(s.entries[0]->name, std::string("a.src"));
        QCOMPARE(s.entries[1]->name, std::string("c.src"));
        QCOMPARE(Items(s.fileBox()), Strings({"a.src", "c.src"}));
        QCOMPARE(s.dialog.current(), 1);
        QCOMPARE(s.fileBox()->currentIndex(), 1);
        QCOMPARE(s.ViewText(), QStringLiteral("third\n"));
        QCOMPARE(QApplication::focusWidget(), s.view());

        // Deleting the last entry shows the new last one.
        s.Click(submitid::kDelete);
        QCOMPARE(Items(s.fileBox()), Strings({"a.src"}));
        QCOMPARE(s.dialog.current(), 0);
        QCOMPARE(s.ViewText(), QStringLiteral("first\nline\n"));

        // Deleting the only one left closes the dialog as Cancel.
        s.Click(submitid::kDelete);
        QVERIFY(s.entries.empty());
        QVERIFY(!s.dialog.isVisible());
        QCOMPARE(s.dialog.result(), int(QDialog::Rejected));
    }

    void deleteInNamedFiles() {
        SubmissionEntries entries;
        entries.emplace_back(File("main.src", ContentKind::Ascii, 4, "m"));
        entries.emplace_back(File("util.src", ContentKind::Ascii, 4, "u"));
        Shown s("S,main.src,util.src", std::move(entries));
        s.Choose(1);
        s.Click(submitid::kDelete);
        QVERIFY(!s.entries[1].has_value());
        QCOMPARE(s.entries.size(), std::size_t(2));
        QCOMPARE(Items(s.fileBox()), Strings({"main.src", "util.src"}));
        QCOMPARE(s.dialog.current(), 1);
        QCOMPARE(s.ViewText(),
                 QStringLiteral("You haven't loaded this file yet.\nPress the ADD button."));
        QVERIFY(s.dialog.isVisible());

        // The only loaded file gone: the dialog closes as Cancel.
        s.Choose(0);
        s.Click(submitid::kDelete);
        QVERIFY(!s.entries[0].has_value());
        QVERIFY(!s.dialog.isVisible());
        QCOMPARE(s.dialog.result(), int(QDialog::Rejected));
    }

    void addTargetsTheFirstEmptySlot() {
        TempDir dir;
        WriteFile(dir.path() / "a.src", "from disk\n");
        WriteFile(dir.path() / "c.src", "c\n");
        SubmissionEntries entries;
        entries.emplace_back(std::nullopt);
        entries.emplace_back(File("b.src", ContentKind::Ascii, 4, "b"));
        entries.emplace_back(std::nullopt);
        Shown s("S,a.src,b.src,c.src", std::move(entries));
        s.Choose(1); // a filled slot: Add goes to slot 0, not to slot 2 after it
        s.prompts.files = {(dir.path() / "a.src").string()};
        s.Click(submitid::kAdd);
        QCOMPARE(s.prompts.fileRequests.size(), std::size_t(1));
        QCOMPARE(s.prompts.fileRequests[0].title,
                 std::string("Select File To Submit (should be a.src)"));
        QCOMPARE(s.prompts.fileRequests[0].initialName, std::string("a.src"));
        QVERIFY(s.entries[0].has_value());
        QCOMPARE(s.entries[0]->content, std::string("from disk\n"));
        QCOMPARE(s.dialog.current(), 0);
        QCOMPARE(s.ViewText(), QStringLiteral("from disk\n"));

        // An empty current slot is the target itself.
        s.Choose(2);
        s.prompts.files = {(dir.path() / "c.src").string()};
        s.Click(submitid::kAdd);
        QCOMPARE(s.prompts.fileRequests[1].title,
                 std::string("Select File To Submit (should be c.src)"));
        QVERIFY(s.entries[2].has_value());

        // Every slot filled: the notice, and no file dialog.
        s.Click(submitid::kAdd);
        QCOMPARE(s.prompts.fileRequests.size(), std::size_t(2));
        QCOMPARE(s.prompts.texts().back(),
                 std::string("You've already added all the necessary files for "
                             "this assigment.  You can now submit it."));
        QCOMPARE(s.prompts.shown.back().icon, Icon::Information);
    }

    void addAppendsInAnyFiles() {
        TempDir dir;
        WriteFile(dir.path() / "d,e.src", "d\n");
        Shown s("M,src", ThreeSources());
        s.TypeAtEnd(QStringLiteral("kept"));
        s.prompts.files = {(dir.path() / "d,e.src").string(), (dir.path() / "d,e.src").string(),
                           std::nullopt};
        s.Click(submitid::kAdd);
        QCOMPARE(s.entries[0]->content,
                 std::string("first\r\nline\r\nkept")); // saved before adding
        QCOMPARE(s.entries.size(), std::size_t(4));
        QCOMPARE(s.entries[3]->name, std::string("d_e.src"));
        QCOMPARE(s.dialog.current(), 3);
        QCOMPARE(Items(s.fileBox()).last(), QStringLiteral("d_e.src"));
        QCOMPARE(s.ViewText(), QStringLiteral("d\n"));
        // The same file again is a separate entry; a cancelled choice adds nothing.
        s.Click(submitid::kAdd);
        s.Click(submitid::kAdd);
        QCOMPARE(s.entries.size(), std::size_t(5));
        QCOMPARE(s.fileBox()->count(), 5);
        QCOMPARE(s.prompts.fileRequests[0].title, std::string("Select File To Submit"));
        QCOMPARE(s.prompts.fileRequests[0].filter,
                 std::string("Data Files (*.bin)|*.bin|Text Files (*.txt)|*.txt|Source Files "
                             "(*.src)|*.src|All Files (*.*)|*.*||"));
    }

    void submitWithAnEmptySlotIsRefused() {
        SubmissionEntries entries;
        entries.emplace_back(File("a.src", ContentKind::Ascii, 4, "a"));
        entries.emplace_back(std::nullopt);
        entries.emplace_back(File("c.src", ContentKind::Ascii, 4, "c"));
        Shown s("S,a.src,b.src,c.src", std::move(entries));
        s.Click(submitid::kSubmit);
        QVERIFY(s.dialog.isVisible());
        QCOMPARE(s.prompts.texts(),
                 (std::vector<std::string>{"You haven't loaded one of the required files."}));
        QCOMPARE(s.prompts.shown[0].buttons, Buttons::Ok);
        QCOMPARE(s.dialog.current(), 1);
        QCOMPARE(s.fileBox()->currentIndex(), 1);

        s.entries[1] = File("b.src", ContentKind::Ascii, 4, "b");
        s.Click(submitid::kSubmit);
        QVERIFY(!s.dialog.isVisible());
        QCOMPARE(s.dialog.result(), int(QDialog::Accepted));
    }

    void eachShowingStartsAtTheFirstEntry() {
        Shown s("M,src", ThreeSources());
        s.Choose(2);
        s.Click(submitid::kSubmit);
        s.entries.pop_back(); // the command may change the list between showings
        s.dialog.show();
        QCOMPARE(Items(s.fileBox()), Strings({"a.src", "b.src"}));
        QCOMPARE(s.dialog.current(), 0);
        QCOMPARE(s.ViewText(), QStringLiteral("first\nline\n"));
    }

    void layoutFollowsTheSize() {
        Shown s("M,src", ThreeSources());
        auto* submit = s.button(submitid::kSubmit);
        const int bw = submit->width(), bh = submit->height();
        const int mx = s.view()->x(), my = s.view()->y();
        QVERIFY(bw > 0 && bh > 0 && mx > 0 && my > 0);
        auto* fileBox = s.fileBox();
        auto* fileLabel = FindControl<QLabel>(&s.dialog, submitid::kFileLabel);
        auto* tabLabel = FindControl<QLabel>(&s.dialog, submitid::kTabLabel);
        auto* zero = FindControl<QLabel>(&s.dialog, submitid::kZeroLabel);
        auto* eight = FindControl<QLabel>(&s.dialog, submitid::kEightLabel);
        const int fileBoxX = fileBox->x(), sliderX = s.slider()->x(), zeroX = zero->x();

        for (const QSize size : {QSize(1100, 760), QSize(700, 420), QSize(1301, 977)}) {
            s.dialog.resize(size);
            QCoreApplication::processEvents();
            const int W = s.dialog.width(), H = s.dialog.height();
            QCOMPARE(W, size.width());
            QCOMPARE(submit->geometry(), QRect(W - bw - mx, H - bh - my, bw, bh));
            QCOMPARE(s.button(submitid::kCancel)->geometry(),
                     QRect(W - bw - mx, H - 2 * bh - my - my / 2, bw, bh));
            QCOMPARE(s.view()->geometry(), QRect(mx, my, W - 2 * mx, H - 2 * bh - (7 * my) / 2));
            QCOMPARE(fileBox->pos(), QPoint(fileBoxX, H - (3 * my) / 2 - fileBox->height() - bh));
            QCOMPARE(fileLabel->y(),
                     H - bh - (3 * my) / 2 - (fileBox->height() + fileLabel->height()) / 2);
            QCOMPARE(s.button(submitid::kAdd)->geometry(), QRect(fileBoxX, H - bh - my, bw, bh));
            QCOMPARE(s.button(submitid::kDelete)->geometry(),
                     QRect(fileBoxX + bw + mx, H - bh - my, bw, bh));
            QCOMPARE(s.slider()->pos(),
                     QPoint(sliderX, H - (3 * my) / 2 - s.slider()->height() - zero->height()));
            QCOMPARE(tabLabel->y(), H - zero->height() - (3 * my) / 2 -
                                        (s.slider()->height() + tabLabel->height()) / 2);
            QCOMPARE(zero->pos(), QPoint(zeroX, H - zero->height() - my));
            QCOMPARE(eight->y(), H - eight->height() - my);
        }
    }
};

QTEST_MAIN(SubmitDlgTest)
#include "SubmitDlg_test.moc"
