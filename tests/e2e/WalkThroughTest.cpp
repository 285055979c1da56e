// A student's term, as one walk through the real program: start-up against a real server on
// loopback, Register, Update Info, a submission of every requirement kind with the file and
// folder dialogs driven through their widgets, then — once a marker has marked the first one —
// View with Marker and Save, and an exam question. Everything the student sees is a real window
// (message boxes included); afterwards the server's records, the saved files and the temporary
// folder are checked.
#include "store/Store.h"
#include "accounts/AccountFields.h"
#include "accounts/RegisterDlg.h"
#include "accounts/UpdateDlg.h"
#include "app/Commands.h"
#include "app/MainDlg.h"
#include "app/SubmitApp.h"
#include "marking/SaveMarked.h"
#include "marking/ViewDlg.h"
#include "submission/SubmitDlg.h"
#include "support/EmfReadback.h"
#include "support/InProcessServer.h"
#include "support/PdfTools.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "support/gui/StepScript.h"
#include "ui/DialogUnits.h"
#include "ui/QtPrompts.h"

#include "student/MarkedPackage.h"
#include "student/PackageParser.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace tallyport::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr int32_t kCourse = 3101; // the course this build is configured for
constexpr int32_t kStudent = 100555001;
enum Entry : int32_t { kSingle, kNamed, kAny, kProject, kExam };

// The first assignment is open during the term and marked, with its marks released, afterwards.
std::string CourseToml(bool termOver) {
    return R"(
number = 3101
name = "Walk-Through Course"

[[component]]
name = "Assignment"
elements = 4
sections = 1
max_mark = 10
deadline = 2099-12-31T23:59:00Z

  [[component.entry]]
  label = "Assignment 1"
  types = "C Source,c,F,4"
  requirement = "F,c"
)"s + (termOver ? "  deadline = 2001-01-01T00:00:00Z\n  marks_released = true\n" : "") +
           R"(
  [[component.entry]]
  label = "Assignment 2"
  types = "C Source,c,F,4/Header,h,F,4"
  requirement = "S,main.c,list.c,list.h"

  [[component.entry]]
  label = "Assignment 3"
  types = "C Source,c,F,4/Text,txt,A,8/Data,dat,B,8"
  requirement = "M,c,txt,dat"

  [[component.entry]]
  label = "Assignment 4"
  types = "Java Source,java,T,2/Text,txt,A,8"
  requirement = "D"

[[component]]
name = "Lab"
elements = 1
sections = 1
deadline = 2099-12-31T23:59:00Z

  [[component.entry]]
  label = "Monday"
  kind = "E"
  exam_files = [
    { name = "question.txt", text = "Print the sum of the numbers in data.txt.\r\n" },
    { name = "data/data.txt", text = "3\r\n1\r\n4\r\n" },
  ]
)";
}

// The student's own files, with Unix line ends on disk: sources go in with CR LF, plain text
// files (type letter A) as they are.
const std::map<std::string, std::string> kStudentFiles = {
    {"a1/hello.c", "#include <stdio.h>\n\nint main(void)\n{\n\tputs(\"hi\");\n\treturn 0;\n}\n"},
    {"a2/main.c", "#include \"list.h\"\nint main(void) { return list_length(0); }\n"},
    {"a2/list.c", "#include \"list.h\"\nint list_length(struct node* n) { return n != 0; }\n"},
    {"a2/list.h", "struct node;\nint list_length(struct node* n);\n"},
    {"a3/notes.txt", "Tested by hand.\n"},
    {"a3/prog.c", "int main(void) { return 0; }\n"},
    {"a3/unused.dat", "\x01\x02\n"},
    {"a4/README.txt", "Run App.\n"},
    {"a4/src/App.java", "class App {\n\tpublic static void main(String[] a) {}\n}\n"},
    {"a4/photo.jpg", "not a listed type"},
};

std::string Crlf(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// --- what the student does with each kind of window ---------------------------------------

void Click(QWidget* dialog, int id) {
    auto* button = FindControl<QPushButton>(dialog, id);
    ASSERT_TRUE(button && button->isVisible() && button->isEnabled()) << "button " << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

void Type(QWidget* dialog, int id, const QString& text) {
    auto* edit = FindControl<QLineEdit>(dialog, id);
    ASSERT_TRUE(edit) << "field " << id;
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void Choose(QWidget* dialog, int listId, int index) {
    auto* list = FindControl<QComboBox>(dialog, listId);
    ASSERT_TRUE(list && list->isEnabled() && index < list->count()) << "list " << listId;
    list->setFocus();
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void PressButton(QWidget* window, QMessageBox::StandardButton which) {
    auto* box = qobject_cast<QMessageBox*>(window);
    QTest::mouseClick(box->button(which), Qt::LeftButton);
}

// Types the path into the dialog's name field and presses its Open (or Choose) button.
void PickPath(QWidget* window, const fs::path& path) {
    auto* dialog = qobject_cast<QFileDialog*>(window);
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_TRUE(name && buttons);
    name->setText(QString::fromStdString(path.string()));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
}

StepScript::Find MessageBox(std::string text) {
    return InFront<QMessageBox>(
        [text](QMessageBox* box) { return box->text().toStdString() == text; });
}

StepScript::Find MessageBoxStarting(std::string start) {
    return InFront<QMessageBox>(
        [start](QMessageBox* box) { return box->text().toStdString().starts_with(start); });
}

StepScript::Find FileDialog(QString title) {
    return InFront<QFileDialog>(
        [title](QFileDialog* dialog) { return dialog->windowTitle() == title; });
}

StepScript::Find MainDialog() {
    return InFront<MainDlg>();
}

QStringList SubmitListNames(QWidget* dialog) {
    QStringList names;
    auto* list = FindControl<QComboBox>(dialog, submitid::kFileBox);
    for (int i = 0; list && i < list->count(); ++i)
        names << list->itemText(i);
    return names;
}

const char kSerialStart[] = "Your latest solution has now been submitted.\nYour serial # is ";

class WalkThrough : public ::testing::Test {
protected:
    WalkThrough() {
        for (const auto& [name, bytes] : kStudentFiles)
            WriteFile(student / name, bytes);
        fs::create_directories(temp);
        fs::create_directories(saved);
    }

    // One run of the program as the student starts it; the script must have run to its end.
    void RunProgram(StepScript& script) {
        QtPrompts prompts(QStringLiteral("tallyport-submit"));
        SubmitAppSetup setup;
        setup.applicationName = "tallyport-submit";
        setup.endpoint = server.endpoint();
        setup.tempFolder = temp;
        setup.examFolder = exam;
        setup.commands = MakeCommands();
        setup.labMode = false;
        SubmitApp app(std::move(setup), prompts);
        script.Start();
        EXPECT_EQ(app.Run(), 0);
        script.Stop();
        EXPECT_EQ(script.failure(), "") << "after: " << script.done().size() << " steps";
        EXPECT_TRUE(script.finished());
    }

    // A submission through the main dialog: pick the entry, press Submit; `choose` covers the
    // windows up to the submit dialog, `review` what is done in it before pressing Submit.
    void SubmitSteps(StepScript& script, Entry entry, std::function<void(StepScript&)> choose,
                     QStringList expectedInDialog) {
        const std::string name = "entry " + std::to_string(entry);
        script.Then("main dialog: submit " + name, MainDialog(), [entry](QWidget* main) {
            Choose(main, mainid::kComponent, 0);
            Choose(main, mainid::kElement, entry);
            Click(main, mainid::kSubmit);
        });
        choose(script);
        script.Then("submit dialog: " + name, InFront<SubmitDlg>(),
                    [this, expectedInDialog, name](QWidget* dialog) {
                        seenInDialog[name] = SubmitListNames(dialog);
                        EXPECT_EQ(seenInDialog[name], expectedInDialog) << name;
                        Click(dialog, submitid::kSubmit);
                    });
        script.Then(
            "serial of " + name, MessageBoxStarting(kSerialStart), [this, entry](QWidget* box) {
                const std::string text = qobject_cast<QMessageBox*>(box)->text().toStdString();
                serials[entry] = std::stoi(text.substr(sizeof kSerialStart - 1));
                PressButton(box, QMessageBox::Ok);
            });
    }

    // The latest package the server holds for an entry, file by file.
    std::vector<std::pair<std::string, std::string>> Stored(Entry entry) {
        std::vector<std::pair<std::string, std::string>> files;
        auto latest = server.store().Latest(kCourse, kStudent, entry);
        if (!latest)
            return files;
        EXPECT_EQ(latest->info.serial, serials[entry]) << "the serial shown is the one stored";
        for (const auto& file : latest->files)
            files.emplace_back(file.name, latest->package.substr(std::size_t(file.offset),
                                                                 std::size_t(file.length)));
        return files;
    }

    TempDir dir;
    InProcessServer server{dir.path() / "server", "127.0.0.9"};
    fs::path student = dir.path() / "student";
    fs::path temp = dir.path() / "temp";
    fs::path saved = dir.path() / "saved";
    fs::path exam = dir.path() / "home" / "Tallyport" / "exam"; // made by the program
    std::map<std::string, QStringList> seenInDialog;
    std::map<int32_t, int32_t> serials;
};

TEST_F(WalkThrough, AStudentsTermThroughEveryCommand) {
    server.LoadCourse(CourseToml(false));
    ASSERT_TRUE(server.store().AddMarker(
        {"tjones", "Terry Jones", "Teaching assistant, Monday labs", false, {}}));

    // --- during the term: register, update, submit every kind --------------------------------
    StepScript term;
    term.Then("main dialog: register", MainDialog(), [](QWidget* main) {
        auto* courses = FindControl<QComboBox>(main, mainid::kCourse);
        EXPECT_EQ(courses->currentText(), QStringLiteral("Walk-Through Course"));
        Type(main, mainid::kStudentNumber, QStringLiteral("555001"));
        Click(main, mainid::kRegister);
    });
    term.Then("registration form", InFront<RegisterDlg>(), [](QWidget* dialog) {
        EXPECT_EQ(qobject_cast<RegisterDlg*>(dialog)->form(), RegisterDlg::kShortForm);
        Type(dialog, accountid::kPassword, QStringLiteral("first-pass"));
        Type(dialog, accountid::kRetype, QStringLiteral("first-pass"));
        Type(dialog, accountid::kName, QStringLiteral("Robin Park"));
        Type(dialog, accountid::kEmail, QStringLiteral("robin@example.edu"));
        Click(dialog, 1);
    });
    term.Then(
        "account created",
        MessageBox("Your submit account has been created.\nPlease do not forget your password."),
        [](QWidget* box) { PressButton(box, QMessageBox::Ok); });
    term.Then("main dialog: update info", MainDialog(), [](QWidget* main) {
        Type(main, mainid::kPassword, QStringLiteral("first-pass"));
        Click(main, mainid::kUpdate);
    });
    term.Then("update form", InFront<UpdateDlg>(), [](QWidget* dialog) {
        // The account as the server holds it.
        EXPECT_EQ(FindControl<QLineEdit>(dialog, accountid::kName)->text(),
                  QStringLiteral("Robin Park"));
        EXPECT_EQ(FindControl<QLineEdit>(dialog, accountid::kEmail)->text(),
                  QStringLiteral("robin@example.edu"));
        Type(dialog, accountid::kPassword, QStringLiteral("second-pass"));
        Type(dialog, accountid::kRetype, QStringLiteral("second-pass"));
        Type(dialog, accountid::kEmail, QStringLiteral("robin.park@example.edu"));
        Click(dialog, 1);
    });
    term.Then("account updated", MessageBox("Your information has been successfully updated"),
              [](QWidget* box) { PressButton(box, QMessageBox::Ok); });

    const auto pick = [this](QString title, std::string path) {
        return [this, title, path](StepScript& script) {
            script.Then("choose " + path, FileDialog(title),
                        [this, path](QWidget* dialog) { PickPath(dialog, student / path); });
        };
    };
    SubmitSteps(term, kSingle, pick(QStringLiteral("Select File To Submit"), "a1/hello.c"),
                {QStringLiteral("hello.c")});
    SubmitSteps(
        term, kNamed,
        [&](StepScript& script) {
            script.Then("the named files",
                        MessageBox("You must submit the following files:\n\tmain.c\n\tlist.c\n\t"
                                   "list.h\nYour files must already exist, with the file names "
                                   "exactly as specified.\n\nYou must select main.c first."),
                        [](QWidget* box) {
                            // An OK/Cancel question without an icon of its own.
                            EXPECT_EQ(qobject_cast<QMessageBox*>(box)->icon(),
                                      QMessageBox::Warning);
                            PressButton(box, QMessageBox::Ok);
                        });
            pick(QStringLiteral("Select File To Submit (should be main.c)"), "a2/main.c")(script);
        },
        {QStringLiteral("main.c"), QStringLiteral("list.c"), QStringLiteral("list.h")});
    SubmitSteps(term, kAny,
                [&](StepScript& script) {
                    pick(QStringLiteral("Select File To Submit"), "a3/notes.txt")(script);
                    script.Then("submit dialog: add a file", InFront<SubmitDlg>(),
                                [](QWidget* dialog) { Click(dialog, submitid::kAdd); });
                    pick(QStringLiteral("Select File To Submit"), "a3/prog.c")(script);
                },
                {QStringLiteral("notes.txt"), QStringLiteral("prog.c")});
    SubmitSteps(term, kProject,
                [&](StepScript& script) {
                    script.Then(
                        "choose the project folder",
                        FileDialog(QStringLiteral("Select the root folder of your project")),
                        [this](QWidget* dialog) { PickPath(dialog, student / "a4"); });
                },
                {QStringLiteral("README.txt"), QStringLiteral("src/App.java")});
    term.Then("main dialog: exit", MainDialog(), [](QWidget* main) { Click(main, mainid::kExit); });
    RunProgram(term);

    // What the server holds is what the student's files give, and the files are untouched.
    const auto account = server.store().FindStudent(kCourse, kStudent);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->email, "robin.park@example.edu");
    using Files = std::vector<std::pair<std::string, std::string>>;
    const auto crlf = [](const char* name) { return Crlf(kStudentFiles.at(name)); };
    EXPECT_EQ(Stored(kSingle), (Files{{"hello.c", crlf("a1/hello.c")}}));
    EXPECT_EQ(Stored(kNamed), (Files{{"main.c", crlf("a2/main.c")},
                                     {"list.c", crlf("a2/list.c")},
                                     {"list.h", crlf("a2/list.h")}}));
    EXPECT_EQ(Stored(kAny), (Files{{"notes.txt", kStudentFiles.at("a3/notes.txt")},
                                   {"prog.c", crlf("a3/prog.c")}}));
    EXPECT_EQ(Stored(kProject), (Files{{"README.txt", kStudentFiles.at("a4/README.txt")},
                                       {"src/App.java", crlf("a4/src/App.java")}}));
    std::map<std::string, std::string> expectedStudentFiles(kStudentFiles.begin(),
                                                            kStudentFiles.end());
    EXPECT_EQ(FilesUnder(student), expectedStudentFiles);
    EXPECT_TRUE(FilesUnder(temp).empty()) << "nothing is left in the temporary folder";

    // --- the marker marks Assignment 1 and releases the marks --------------------------------
    server::MarkRequest mark;
    mark.course = kCourse;
    mark.student = kStudent;
    mark.entry = kSingle;
    mark.mark = 9;
    mark.markerId = "tjones";
    mark.detail = "Marked on screen";
    const auto markup = server::NormaliseMarkup("C,200,20,240,20,Say what the program prints.\r\n"
                                                "L,0,40,150,20\r\nP,0,0\r\nP,150,20\r\nEOL\r\n");
    ASSERT_TRUE(markup);
    mark.markup.push_back({"hello.c", *markup});
    ASSERT_EQ(server.store().MarkLatest(mark), server::MarkOutcome::Marked);
    // The term is over: the deadline passed, and the marks are released (a course file never
    // releases the marks of an entry that exists already).
    server.LoadCourse(CourseToml(true));
    const auto single = server.store().FindCourse(kCourse)->entries[kSingle];
    ASSERT_TRUE(server.store().SetMarksReleased(kCourse, single.id, true, "tjones"));

    // --- after the marking: view, ask who marked it, save it; then the lab exam --------------
    StepScript later;
    later.Then("main dialog: view", MainDialog(), [](QWidget* main) {
        Type(main, mainid::kStudentNumber, QStringLiteral("555001"));
        Type(main, mainid::kPassword, QStringLiteral("second-pass"));
        Choose(main, mainid::kComponent, 0);
        EXPECT_EQ(FindControl<QComboBox>(main, mainid::kElement)->itemText(0),
                  QStringLiteral("1 (marked)"));
        Choose(main, mainid::kElement, kSingle);
        Click(main, mainid::kView);
    });
    later.Then("marked work: marker", InFront<ViewDlg>(), [](QWidget* view) {
        EXPECT_EQ(FindControl<QLabel>(view, view_dlg::kMark)->text(), QStringLiteral("Mark: 9/10"));
        Click(view, view_dlg::kMarker);
    });
    later.Then(
        "who marked it",
        MessageBox("Your assignment was marked by Terry Jones\n<Teaching assistant, Monday labs>"),
        [](QWidget* box) { PressButton(box, QMessageBox::Ok); });
    later.Then("marked work: save", InFront<ViewDlg>(),
               [](QWidget* view) { Click(view, view_dlg::kSave); });
    later.Then("choose where to save",
               FileDialog(QString::fromLatin1(kSaveFolderTitle.data(),
                                              qsizetype(kSaveFolderTitle.size()))),
               [this](QWidget* dialog) { PickPath(dialog, saved); });
    later.Then("saved",
               MessageBox("Your submitted file has been saved in " + (saved / "assign00").string() +
                          "\nThe marked work is also in one PDF file: marked.pdf"),
               [](QWidget* box) { PressButton(box, QMessageBox::Ok); });
    later.Then("marked work: close", InFront<ViewDlg>(),
               [](QWidget* view) { Click(view, view_dlg::kOk); });
    later.Then("main dialog: exam", MainDialog(), [](QWidget* main) {
        Choose(main, mainid::kComponent, 1);
        Choose(main, mainid::kElement, 0);
        Click(main, mainid::kExam);
    });
    later.Then("exam saved", MessageBox("Your exam question has been saved in " + exam.string()),
               [](QWidget* box) { PressButton(box, QMessageBox::Ok); });
    later.Then("main dialog: exit", MainDialog(),
               [](QWidget* main) { Click(main, mainid::kExit); });
    RunProgram(later);

    // The saved copy: the file as submitted and its marked page as a picture.
    const fs::path copy = saved / "assign00";
    EXPECT_EQ(ReadFile(copy / "hello.c"), Crlf(kStudentFiles.at("a1/hello.c")));
    const auto picture = ReadEmf(copy / "hello.c.emf");
    ASSERT_TRUE(picture) << "the picture reads back";
    std::string red; // the comment's words, in red
    for (const auto& text : picture->texts)
        if (text.fill == "#FF0000")
            red += text.text;
    EXPECT_EQ(red, "Say what the program prints.");
    int redStrokes = 0;
    for (const auto& path : picture->paths)
        redStrokes += path.stroke == "#FF0000";
    EXPECT_GE(redStrokes, 1) << "the marker's stroke";
    // And the one PDF of the marked work, its text readable by any viewer.
    const auto pdfText = PdfText(copy / "marked.pdf", false);
    ASSERT_TRUE(pdfText);
    EXPECT_NE(pdfText->find("Say what the program prints."), std::string::npos) << *pdfText;
    // The exam question is in the exam folder, private to the student; the temporary folder is
    // left empty.
    EXPECT_TRUE(FilesUnder(temp).empty());
    EXPECT_EQ(fs::status(exam).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(FilesUnder(exam),
              (std::map<std::string, std::string>{
                  {"question.txt", "Print the sum of the numbers in data.txt.\r\n"},
                  {"data/data.txt", "3\r\n1\r\n4\r\n"}}));
    EXPECT_EQ(FilesUnder(student), expectedStudentFiles);
}

// A transport failure answered with Escape or the close box of its Abort / Retry / Ignore box:
// that is Ignore, so Register, Update Info and the upload each show their dialog again with
// everything the student typed, and the next try goes through.
TEST_F(WalkThrough, EscapeOnATransportFailureKeepsWhatTheStudentTyped) {
    server.LoadCourse(CourseToml(false));
    const auto failureBox = [this](std::string what, bool closeBox) {
        return std::pair{what, [closeBox, this](QWidget* window) {
                             auto* box = qobject_cast<QMessageBox*>(window);
                             EXPECT_EQ(box->standardButtons(), QMessageBox::Abort |
                                                                   QMessageBox::Retry |
                                                                   QMessageBox::Ignore);
                             server.Start(); // the next try will reach it
                             if (closeBox)
                                 box->close();
                             else
                                 QTest::keyClick(box, Qt::Key_Escape);
                         }};
    };
    const auto field = [](QWidget* dialog, int id) {
        return FindControl<QLineEdit>(dialog, id)->text();
    };
    const StepScript::Find noConnection = MessageBox("Unable to establish connection to server.");

    StepScript script;
    script.Then("main dialog: register", MainDialog(), [](QWidget* main) {
        Type(main, mainid::kStudentNumber, QStringLiteral("555001"));
        Click(main, mainid::kRegister);
    });
    script.Then("registration form", InFront<RegisterDlg>(), [this](QWidget* dialog) {
        Type(dialog, accountid::kPassword, QStringLiteral("first-pass"));
        Type(dialog, accountid::kRetype, QStringLiteral("first-pass"));
        Type(dialog, accountid::kName, QStringLiteral("Robin Park"));
        Type(dialog, accountid::kEmail, QStringLiteral("robin@example.edu"));
        server.Stop();
        Click(dialog, 1);
    });
    auto [escape, pressEscape] = failureBox("registration fails: Escape", false);
    script.Then(escape, noConnection, pressEscape);
    script.Then("registration form again", InFront<RegisterDlg>(), [field](QWidget* dialog) {
        EXPECT_EQ(field(dialog, accountid::kPassword), QStringLiteral("first-pass"));
        EXPECT_EQ(field(dialog, accountid::kRetype), QString()); // never kept, by design
        EXPECT_EQ(field(dialog, accountid::kName), QStringLiteral("Robin Park"));
        EXPECT_EQ(field(dialog, accountid::kEmail), QStringLiteral("robin@example.edu"));
        Type(dialog, accountid::kRetype, QStringLiteral("first-pass"));
        Click(dialog, 1);
    });
    script.Then(
        "account created",
        MessageBox("Your submit account has been created.\nPlease do not forget your password."),
        [](QWidget* box) { PressButton(box, QMessageBox::Ok); });

    script.Then("main dialog: update info", MainDialog(),
                [](QWidget* main) { Click(main, mainid::kUpdate); });
    script.Then("update form", InFront<UpdateDlg>(), [this](QWidget* dialog) {
        Type(dialog, accountid::kPassword, QStringLiteral("second-pass"));
        Type(dialog, accountid::kRetype, QStringLiteral("second-pass"));
        Type(dialog, accountid::kEmail, QStringLiteral("robin.park@example.edu"));
        server.Stop();
        Click(dialog, 1);
    });
    auto [closed, pressClose] = failureBox("update fails: close box", true);
    script.Then(closed, noConnection, pressClose);
    script.Then("update form again", InFront<UpdateDlg>(), [field](QWidget* dialog) {
        EXPECT_EQ(field(dialog, accountid::kPassword), QStringLiteral("second-pass"));
        EXPECT_EQ(field(dialog, accountid::kRetype), QStringLiteral("second-pass"));
        EXPECT_EQ(field(dialog, accountid::kName), QStringLiteral("Robin Park"));
        EXPECT_EQ(field(dialog, accountid::kEmail), QStringLiteral("robin.park@example.edu"));
        Click(dialog, 1);
    });
    script.Then("account updated", MessageBox("Your information has been successfully updated"),
                [](QWidget* box) { PressButton(box, QMessageBox::Ok); });

    script.Then("main dialog: submit", MainDialog(), [](QWidget* main) {
        Choose(main, mainid::kComponent, 0);
        Choose(main, mainid::kElement, kSingle);
        Click(main, mainid::kSubmit);
    });
    script.Then("choose the file", FileDialog(QStringLiteral("Select File To Submit")),
                [this](QWidget* dialog) { PickPath(dialog, student / "a1/hello.c"); });
    script.Then("submit dialog: edit", InFront<SubmitDlg>(), [this](QWidget* dialog) {
        auto* view = FindControl<QPlainTextEdit>(dialog, submitid::kView);
        view->moveCursor(QTextCursor::End);
        QTest::keyClicks(view, QStringLiteral("/* edited */"));
        auto* slider = FindControl<QSlider>(dialog, submitid::kTabSlider);
        slider->setValue(2);
        server.Stop();
        Click(dialog, submitid::kSubmit);
    });
    auto [uploadEscape, pressUploadEscape] = failureBox("upload fails: Escape", false);
    script.Then(uploadEscape, noConnection, pressUploadEscape);
    script.Then("submit dialog again", InFront<SubmitDlg>(), [](QWidget* dialog) {
        auto* view = FindControl<QPlainTextEdit>(dialog, submitid::kView);
        EXPECT_TRUE(view->toPlainText().endsWith(QStringLiteral("}\n/* edited */")));
        EXPECT_EQ(FindControl<QSlider>(dialog, submitid::kTabSlider)->value(), 2);
        Click(dialog, submitid::kSubmit);
    });
    script.Then("serial", MessageBoxStarting(kSerialStart), [this](QWidget* box) {
        const std::string text = qobject_cast<QMessageBox*>(box)->text().toStdString();
        serials[kSingle] = std::stoi(text.substr(sizeof kSerialStart - 1));
        PressButton(box, QMessageBox::Ok);
    });
    script.Then("main dialog: exit", MainDialog(),
                [](QWidget* main) { Click(main, mainid::kExit); });
    RunProgram(script);

    const auto account = server.store().FindStudent(kCourse, kStudent);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->name, "Robin Park");
    EXPECT_EQ(account->email, "robin.park@example.edu");
    using Files = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(Stored(kSingle),
              (Files{{"hello.c", Crlf(kStudentFiles.at("a1/hello.c")) + "/* edited */"}}));
}

} // namespace
} // namespace tallyport::test
