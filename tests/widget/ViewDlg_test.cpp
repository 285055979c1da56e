// ViewDlg: template 105, the mark text and Marker button, the file list driving the view, the
// layout on resizing (the 800 x 600 example), Marker's two message forms against a scripted
// server, and Save through the folder prompt.
#include "marking/MarkedPackageReader.h"
#include "marking/SaveMarked.h"
#include "marking/ViewDlg.h"
#include "sourceview/SrcWnd.h"
#include "support/RecordingSurface.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"
#include "support/gui/ModalDriver.h"
#include "ui/DialogUnits.h"
#include "ui/QtPrompts.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <iterator>

using namespace tallyport;
using namespace tallyport::test;

namespace {

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

// A command context whose transactions go to a scripted peer.
struct Harness {
    ScriptedPeer peer;
    ScriptedTransactionUi ui;
    Transactor transactor{peer.endpoint(), ui};
    ScriptedPrompts prompts;
    NoFields fields;
    Course course;
    CommandContext context{transactor, prompts, fields, &course, {}, {}};
    Harness() { course.number = 3101; }
};

MarkedFile File(std::string name, std::string text) {
    MarkedFile file;
    file.name = std::move(name);
    file.tabWidth = 4;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    return file;
}

MarkedSubmission Submission(int32_t mark, int files = 2) {
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = mark;
    s.marking->markerId = "m042";
    s.marking->detail = "-";
    for (int i = 0; i < files; ++i)
        s.files.push_back(
            File("file" + std::to_string(i) + ".c", "text " + std::to_string(i) + "\r\n"));
    s.fileCount = files;
    return s;
}

template <typename T = QWidget> T* Control(QWidget* dialog, int id) {
    T* control = FindControl<T>(dialog, id);
    if (!control)
        qFatal("control %d missing", id);
    return control;
}

std::vector<std::byte> Strings(std::initializer_list<std::string_view> texts) {
    std::vector<std::byte> out;
    for (std::string_view t : texts) {
        for (const char c : t)
            out.push_back(std::byte(c));
        out.push_back(std::byte(0));
    }
    return out;
}

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

class ViewDlgTest : public QObject {
    Q_OBJECT
private slots:
    void templateAndControls() {
        Harness h;
        ViewDlg dialog(nullptr, h.context, Submission(7), 3, 10);
        const DialogUnits du = DialogUnits::Of(&dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("View"));
        QCOMPARE(dialog.size(), du.size(516, 288));
        QCOMPARE(Control(&dialog, view_dlg::kView)->geometry(), du.rect(8, 8, 500, 250));
        QVERIFY(qobject_cast<SrcWnd*>(Control(&dialog, view_dlg::kView)));
        QCOMPARE(Control<QLabel>(&dialog, view_dlg::kFileLabel)->text(), QStringLiteral("&File:"));
        QCOMPARE(Control<QLabel>(&dialog, view_dlg::kFileLabel)->buddy(),
                 Control(&dialog, view_dlg::kFileList));
        QCOMPARE(Control(&dialog, view_dlg::kFileList)->pos(), du.rect(30, 267, 1, 1).topLeft());
        QCOMPARE(Control(&dialog, view_dlg::kMark)->geometry(), du.rect(223, 269, 50, 8));
        QVERIFY(Control<QLabel>(&dialog, view_dlg::kMark)->alignment() & Qt::AlignHCenter);
        const struct {
            int id;
            const char* text;
            int x;
        } buttons[] = {{view_dlg::kMarker, "&Marker", 342},
                       {view_dlg::kSave, "&Save", 400},
                       {view_dlg::kOk, "&OK", 458}};
        for (const auto& b : buttons) {
            QCOMPARE(Control<QPushButton>(&dialog, b.id)->text(), QString::fromLatin1(b.text));
            QCOMPARE(Control(&dialog, b.id)->geometry(), du.rect(b.x, 266, 50, 14));
        }
        QVERIFY(Control<QPushButton>(&dialog, view_dlg::kOk)->isDefault());
        QVERIFY(!Control<QComboBox>(&dialog, view_dlg::kFileList)->isEditable());
    }

    void markTextMarkerButtonAndFileList() {
        Harness h;
        {
            ViewDlg dialog(nullptr, h.context, Submission(7, 3), 3, 10);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            QCOMPARE(Control<QLabel>(&dialog, view_dlg::kMark)->text(),
                     QStringLiteral("Mark: 7/10"));
            QVERIFY(Control(&dialog, view_dlg::kMarker)->isVisible());
            auto* list = Control<QComboBox>(&dialog, view_dlg::kFileList);
            QCOMPARE(list->count(), 3);
            QCOMPARE(list->itemText(2), QStringLiteral("file2.c"));
            QCOMPARE(list->currentIndex(), 0);
            QCOMPARE(dialog.view()->currentFile(), &dialog.submission().files[0]);
            QCOMPARE(dialog.focusWidget(), dialog.view());
            list->setCurrentIndex(2);
            QCOMPARE(dialog.view()->currentFile(), &dialog.submission().files[2]);
            list->showPopup();
            list->hidePopup(); // closing the list gives the view the focus back
            QTRY_COMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.view()));
        }
        for (const bool withRecord : {true, false}) {
            MarkedSubmission unmarked = Submission(kNotMarked, 1);
            if (!withRecord)
                unmarked.marking.reset();
            ViewDlg dialog(nullptr, h.context, std::move(unmarked), 0, 10);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QCOMPARE(Control<QLabel>(&dialog, view_dlg::kMark)->text(),
                     QStringLiteral("Submitted"));
            QVERIFY(!Control(&dialog, view_dlg::kMarker)->isVisible());
        }
        ViewDlg empty(nullptr, h.context, Submission(5, 0), 0, 10); // no files at all
        QCOMPARE(Control<QComboBox>(&empty, view_dlg::kFileList)->count(), 0);
        QCOMPARE(empty.view()->currentFile(), nullptr);
    }

    // A package whose count runs past its records: the files that arrived are shown, and each
    // announced file after them is listed and shows the file-error page.
    void filesThatNeverArrivedShowTheFileErrorPage() {
        Harness h;
        const std::string package = "H: 1,2,3,t\nM: 6,m042,d\nNumber of Files: 9\n"
                                    "-\nFile #1: a.c,A,4,2\nhi\nEOF\n-\nFile #2: b.c,A,4,0\nEOF\n";
        PackageInput input = PackageInput::FromMemory(package);
        MarkedSubmission submission;
        QVERIFY(!ReadMarkedPackage(input, submission));
        ViewDlg dialog(nullptr, h.context, std::move(submission), 0, 10);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = Control<QComboBox>(&dialog, view_dlg::kFileList);
        QCOMPARE(list->count(), 9);
        QCOMPARE(list->itemText(0), QStringLiteral("a.c"));
        QCOMPARE(list->itemText(1), QStringLiteral("b.c"));
        QCOMPARE(dialog.view()->currentFile()->text().value_or("?"), std::string("hi"));
        list->setCurrentIndex(8);
        const MarkedFile* shown = dialog.view()->currentFile();
        QVERIFY(shown != nullptr);
        QCOMPARE(list->itemText(8), QString());
        QVERIFY(!shown->text());
        RecordingSurface page;
        DrawViewedPage(page, *shown);
        QCOMPARE(page.RowText(0), std::string(kFileErrorNotice));
    }

    void layoutFollowsTheSize() {
        Harness h;
        ViewDlg dialog(nullptr, h.context, Submission(7), 3, 10);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QWidget* view = Control(&dialog, view_dlg::kView);
        view->move(12, 13);
        Control(&dialog, view_dlg::kOk)->resize(75, 23);
        for (const int id : {view_dlg::kFileLabel, view_dlg::kFileList, view_dlg::kMark}) {
            QWidget* control = Control(&dialog, id);
            control->resize(control->width(), 13);
        }
        dialog.resize(800, 600);
        QTRY_COMPARE(dialog.size(), QSize(800, 600));
        QCOMPARE(Control(&dialog, view_dlg::kOk)->geometry(), QRect(713, 564, 75, 23));
        QCOMPARE(Control(&dialog, view_dlg::kSave)->geometry(), QRect(626, 564, 75, 23));
        QCOMPARE(Control(&dialog, view_dlg::kMarker)->geometry(), QRect(539, 564, 75, 23));
        QCOMPARE(view->geometry(), QRect(12, 13, 776, 538));
        const DialogUnits du = DialogUnits::Of(&dialog);
        QCOMPARE(Control(&dialog, view_dlg::kFileLabel)->pos(), QPoint(du.x(8), 569));
        QCOMPARE(Control(&dialog, view_dlg::kFileList)->pos(), QPoint(du.x(30), 569));
        QCOMPARE(Control(&dialog, view_dlg::kMark)->pos(), QPoint(du.x(223), 569));
        // Smaller again: the margins stay, nothing is held at a minimum.
        dialog.resize(300, 200);
        QTRY_COMPARE(dialog.size(), QSize(300, 200));
        QCOMPARE(Control(&dialog, view_dlg::kOk)->pos(), QPoint(213, 164));
        QCOMPARE(view->geometry(), QRect(12, 13, 276, 138));
    }

    void markerNameOrMarkerId() {
        Harness h;
        ViewDlg dialog(nullptr, h.context, Submission(7), 3, 10);
        h.peer.Push(PeerAction::Reply(0, Strings({"Ann Marker", "Tutor, room 5"})));
        QTest::mouseClick(Control<QPushButton>(&dialog, view_dlg::kMarker), Qt::LeftButton);
        QCOMPARE(h.prompts.shown.size(), std::size_t(1));
        QCOMPARE(h.prompts.shown[0].text,
                 std::string("Your assignment was marked by Ann Marker\n<Tutor, room 5>"));
        QCOMPARE(h.prompts.shown[0].buttons, Buttons::Ok);
        QCOMPARE(h.prompts.shown[0].icon, Icon::Information);
        QCOMPARE(h.ui.titles, std::vector<std::string>{"Marker Name"});
        const auto requests = h.peer.requests();
        QCOMPARE(requests.size(), std::size_t(1));
        const std::vector<std::byte> expected = {
            std::byte(0),   std::byte(0),    std::byte(0),    std::byte(14),  std::byte(0),
            std::byte(0),   std::byte(0x0C), std::byte(0x1D), std::byte('m'), std::byte('0'),
            std::byte('4'), std::byte('2'),  std::byte(0)};
        QCOMPARE(requests[0].body, expected);

        // A refusal (its message comes from the transaction) or a reply without both texts:
        // the marker id stands in for the name.
        h.peer.Push(PeerAction::Reply(-3));
        h.peer.Push(PeerAction::Reply(0, Strings({"only one"})));
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(Control<QPushButton>(&dialog, view_dlg::kMarker), Qt::LeftButton);
        QCOMPARE(h.prompts.shown.size(), std::size_t(3));
        for (int i : {1, 2}) {
            QCOMPARE(h.prompts.shown[i].text, std::string("Your assignment was marked by m042"));
            QCOMPARE(h.prompts.shown[i].icon, Icon::Information);
        }
        QCOMPARE(h.ui.reported, std::vector<StatusCode>{-3});
    }

    // The marker's name and note come from the server in Windows-1252, even where their bytes
    // would pass as UTF-8; the real message box shows their characters. File names in the list
    // are read as page text is: UTF-8 when valid, else Windows-1252.
    void serverTextsShowTheirCharacters() {
        Harness h;
        QtPrompts prompts(QStringLiteral("submit"));
        CommandContext context{h.transactor, prompts, h.fields, &h.course, {}, {}};
        MarkedSubmission submission = Submission(7);
        submission.files[0].name = "caf\xC3\xA9.c";
        submission.files[1].name = "\x93q\x94.c";
        ViewDlg dialog(nullptr, context, std::move(submission), 3, 10);
        auto* list = Control<QComboBox>(&dialog, view_dlg::kFileList);
        QCOMPARE(list->itemText(0), QStringLiteral("caf\u00E9.c"));
        QCOMPARE(list->itemText(1), QStringLiteral("\u201Cq\u201D.c"));

        h.peer.Push(PeerAction::Reply(0, Strings({"Ren\xE9"
                                                  "e O\x92Neil",
                                                  "Tutor \x96 caf\xC3\xA9 \x80\x81"})));
        QString shown;
        auto driven = WhenShown<QMessageBox>([&shown](QMessageBox* box) {
            shown = box->text();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        QTest::mouseClick(Control<QPushButton>(&dialog, view_dlg::kMarker), Qt::LeftButton);
        QVERIFY(driven->found);
        QCOMPARE(shown, QStringLiteral("Your assignment was marked by Ren\u00E9"
                                       "e O\u2019Neil\n"
                                       "<Tutor \u2013 caf\u00C3\u00A9 \u20AC\uFFFD>"));
    }

    // Enter on a focused Marker or Save button presses that button and keeps the dialog open;
    // from the page it is OK's.
    void enterPressesTheFocusedButton() {
        Harness h;
        ViewDlg dialog(nullptr, h.context, Submission(7), 3, 10);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* marker = Control<QPushButton>(&dialog, view_dlg::kMarker);
        auto* save = Control<QPushButton>(&dialog, view_dlg::kSave);

        h.peer.Push(PeerAction::Reply(0, Strings({"Ann Marker", "Tutor"})));
        marker->setFocus();
        QTest::keyClick(marker, Qt::Key_Return);
        QCOMPARE(h.ui.titles, std::vector<std::string>{"Marker Name"});
        QVERIFY(dialog.isVisible());

        save->setFocus();
        QTest::keyClick(save, Qt::Key_Enter); // the folder prompt, cancelled
        QCOMPARE(h.prompts.folderTitles, std::vector<std::string>{std::string(kSaveFolderTitle)});
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);

        Control(&dialog, view_dlg::kView)->setFocus();
        QTest::keyClick(Control(&dialog, view_dlg::kView), Qt::Key_Return);
        QTRY_VERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void saveThroughTheFolderPrompt() {
        Harness h;
        TempDir dir;
        ViewDlg dialog(nullptr, h.context, Submission(kNotMarked, 2), 3, 10);
        auto* save = Control<QPushButton>(&dialog, view_dlg::kSave);
        QTest::mouseClick(save, Qt::LeftButton); // cancelled: nothing written, nothing said
        QCOMPARE(h.prompts.folderTitles, std::vector<std::string>{std::string(kSaveFolderTitle)});
        QVERIFY(h.prompts.shown.empty());
        QVERIFY(std::filesystem::is_empty(dir.path()));

        h.prompts.folders.push_back(dir.path().string());
        QTest::mouseClick(save, Qt::LeftButton);
        const auto target = dir.path() / "assign03";
        QCOMPARE(Contents(target / "file1.c"), std::string("text 1\r\n"));
        QVERIFY(!std::filesystem::exists(target / "file1.c.emf")); // unmarked: texts only
        QVERIFY(!std::filesystem::exists(target / "marked.pdf"));
        QCOMPARE(h.prompts.shown.size(), std::size_t(1));
        QCOMPARE(h.prompts.shown[0].text,
                 "Your submitted files have been saved in " + target.string());
        QCOMPARE(h.prompts.shown[0].buttons, Buttons::OkCancel);
        QCOMPARE(h.prompts.shown[0].icon, Icon::Exclamation);
    }

    // A submitted file named like the PDF keeps its bytes; the PDF takes a name of its own and
    // the message says which.
    void savedPdfNeverReplacesASubmittedFile() {
        Harness h;
        TempDir dir;
        MarkedSubmission s = Submission(7, 1);
        s.files.push_back(File("marked.pdf", "%PDF- the student's own"));
        s.fileCount = 2;
        ViewDlg dialog(nullptr, h.context, std::move(s), 1, 10);
        h.prompts.folders.push_back(dir.path().string());
        QTest::mouseClick(Control<QPushButton>(&dialog, view_dlg::kSave), Qt::LeftButton);
        const auto target = dir.path() / "assign01";
        QCOMPARE(Contents(target / "marked.pdf"), std::string("%PDF- the student's own"));
        QCOMPARE(Contents(target / "marked-2.pdf").substr(0, 5), std::string("%PDF-"));
        QCOMPARE(h.prompts.shown.size(), std::size_t(1));
        QCOMPARE(h.prompts.shown[0].text, "Your submitted files have been saved in " +
                                              target.string() +
                                              "\nThe marked work is also in one PDF file: "
                                              "marked-2.pdf");
    }
};

QTEST_MAIN(ViewDlgTest)
#include "ViewDlg_test.moc"
