// The Submit command end to end: File List and upload through the real transaction against the
// in-process server, the real submit dialog driven through its widgets, and the package the
// server stored compared byte for byte with what the files on disk must give.
#include "submission/Submit.h"
#include "protocol/PasswordHash.h"
#include "protocol/Transaction.h"
#include "submission/SubmitDlg.h"
#include "support/InProcessServer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "ui/DialogUnits.h"

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace tallyport::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr int32_t kCourse = 3105;
constexpr int32_t kStudent = 100123456;
constexpr char kPassword[] = "demo123";
const std::string D = std::string(80, '-') + "\r\n"; // the separator line

enum Entry : int32_t { kSingle, kNamed, kAny, kProject, kLimited, kClosed, kUnlimited };

// Entry 0's status is left open to the test: "O" normally, "C" once its deadline has passed.
std::string CourseToml(const char* firstStatus = "O") {
    return R"(
number = 3105
name = "Submission Tests"

[[component]]
name = "Assignment"
elements = 7
sections = 1
deadline = 2099-12-31T23:59:00Z

  [[component.entry]]
  label = "Single"
  types = "C Source,c,F,4"
  requirement = "F,c"
  status = ")"s +
           firstStatus + R"("

  [[component.entry]]
  label = "Named"
  types = "C Source,c,F,4/Header,h,A,8"
  requirement = "S,main.c,list.c,list.h"

  [[component.entry]]
  label = "Any"
  types = "C Source,c,F,4/Text,txt,A,8/Data,dat,B,8"
  requirement = "M,c,txt,dat"

  [[component.entry]]
  label = "Project"
  types = "Java Source,java,T,2/Text,txt,A,8/Image,png,B,8"
  requirement = "D"

  [[component.entry]]
  label = "Limited"
  types = "Data,dat,B,8"
  requirement = "M,dat"
  size_limited = true

  [[component.entry]]
  label = "Closed"
  deadline = 2001-01-01T00:00:00Z
  types = "Text,txt,A,8"
  requirement = "F,txt"

  [[component.entry]]
  label = "Unlimited"
  types = "Data,dat,B,8"
  requirement = "M,dat"
)";
}

std::string Serial(int32_t serial) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", serial);
    return "Your latest solution has now been submitted.\nYour serial # is "s + text + ".";
}

class RecordingFields : public MainDialogFields {
public:
    std::vector<std::string> focus;
    void FocusStudentNumber() override { focus.push_back("student number"); }
    void FocusPassword() override { focus.push_back("password"); }
    void SetPasswordText(std::string_view) override {}
};

// Runs step i on the i-th showing of the submit dialog (from the event loop, once it is up);
// a showing without a step is cancelled so that no test can hang on it.
class SubmitDialogDriver : public QObject {
public:
    using Step = std::function<void(SubmitDlg*)>;
    explicit SubmitDialogDriver(std::vector<Step> steps) : steps_(std::move(steps)) {
        qApp->installEventFilter(this);
    }
    ~SubmitDialogDriver() override { qApp->removeEventFilter(this); }
    int showings = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<SubmitDlg*>(object)) {
                const std::size_t step = std::size_t(showings++);
                QPointer<SubmitDlg> guarded(dialog);
                QTimer::singleShot(0, dialog, [this, guarded, step] {
                    if (!guarded)
                        return;
                    if (step < steps_.size())
                        steps_[step](guarded);
                    else
                        guarded->reject();
                });
            }
        }
        return false;
    }

private:
    std::vector<Step> steps_;
};

void Press(SubmitDlg* dialog, int id) {
    QTest::mouseClick(FindControl<QPushButton>(dialog, id), Qt::LeftButton);
}

void TypeAtEnd(SubmitDlg* dialog, const QString& text) {
    auto* view = FindControl<QPlainTextEdit>(dialog, submitid::kView);
    view->moveCursor(QTextCursor::End);
    QTest::keyClicks(view, text);
}

class SubmitTest : public ::testing::Test {
protected:
    SubmitTest() {
        server.LoadCourse(CourseToml());
        server::NewStudent student;
        student.course = kCourse;
        student.number = kStudent;
        student.password = kPassword;
        student.name = "Ann Lee";
        student.email = "ann@example.org";
        EXPECT_EQ(server.store().RegisterStudent(student), server::RegisterOutcome::Registered);
        course.number = kCourse;
    }

    void Run(int32_t entry, std::vector<SubmitDialogDriver::Step> steps,
             const char* password = kPassword, int32_t student = kStudent) {
        MainSelection selection;
        selection.studentNumber = student;
        selection.password = password;
        selection.entryIndex = entry;
        CommandContext context{transactor, prompts, fields, &course, selection, dir.path()};
        SubmitDialogDriver driver(std::move(steps));
        Submit(context, nullptr);
        showings = driver.showings;
    }

    std::vector<server::SubmissionInfo> Stored() { return server.store().ListSubmissions(); }
    std::string StoredPackage() {
        const auto list = Stored();
        EXPECT_EQ(list.size(), 1u);
        return list.empty() ? std::string()
                            : server.store().PackageBytes(list.back().serial).value_or("");
    }
    fs::path Files() const { return dir.path() / "files"; }

    TempDir dir;
    InProcessServer server{dir.path() / "server-db", "127.0.0.61"};
    ScriptedTransactionUi ui;
    Transactor transactor{server.endpoint(), ui};
    ScriptedPrompts prompts;
    RecordingFields fields;
    Course course;
    int showings = 0;
};

} // namespace

TEST_F(SubmitTest, SingleFileIsNormalisedAndStored) {
    WriteFile(Files() / "prog.c", "int main()\n{\n}\n");
    prompts.files = {(Files() / "prog.c").string()};
    Run(kSingle, {[](SubmitDlg* dialog) { Press(dialog, submitid::kSubmit); }});

    EXPECT_EQ(showings, 1);
    EXPECT_EQ(StoredPackage(), "Number of Files: 1\r\n" + D +
                                   "File #1: prog.c,F,4,18\r\nint main()\r\n{\r\n}\r\nEOF\r\n");
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].student, kStudent);
    EXPECT_EQ(stored[0].entry, kSingle);
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{Serial(stored[0].serial)});
    EXPECT_EQ(ui.titles, (std::vector<std::string>{"File List", "Submitted Program"}));
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    EXPECT_EQ(prompts.fileRequests[0].filter, "C Source Files (*.c)|*.c|All Files (*.*)|*.*||");
    EXPECT_EQ(prompts.fileRequests[0].defaultExtension, "c");
    EXPECT_TRUE(fields.focus.empty());
}

TEST_F(SubmitTest, NamedFilesArePickedUpAndTheMissingOneAdded) {
    WriteFile(Files() / "main.c", "main\n");
    WriteFile(Files() / "list.c", "list\r\n");
    WriteFile(dir.path() / "elsewhere" / "LIST.H", "h\n");
    prompts.files = {(Files() / "main.c").string(), (dir.path() / "elsewhere" / "LIST.H").string()};
    std::string refusedWith;
    int slotShown = -1;
    Run(kNamed, {[&](SubmitDlg* dialog) {
            // list.h is not beside main.c: Submit is refused until it is added.
            Press(dialog, submitid::kSubmit);
            refusedWith = prompts.texts().back();
            slotShown = dialog->current();
            Press(dialog, submitid::kAdd);
            Press(dialog, submitid::kSubmit);
        }});

    EXPECT_EQ(showings, 1);
    EXPECT_EQ(refusedWith, "You haven't loaded one of the required files.");
    EXPECT_EQ(slotShown, 2);
    EXPECT_EQ(prompts.fileRequests.size(), 2u);
    EXPECT_EQ(prompts.fileRequests[1].title, "Select File To Submit (should be list.h)");
    EXPECT_EQ(StoredPackage(), "Number of Files: 3\r\n" + D +
                                   "File #1: main.c,F,4,6\r\nmain\r\nEOF\r\n" + D +
                                   "File #2: list.c,F,4,6\r\nlist\r\nEOF\r\n" + D +
                                   "File #3: list.h,A,8,2\r\nh\nEOF\r\n");
    ASSERT_GE(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "You must submit the following files:\n\tmain.c\n\tlist.c\n\tlist.h\nYour files "
              "must already exist, with the file names exactly as specified.\n\nYou must "
              "select main.c first.");
}

TEST_F(SubmitTest, AnyFilesAddedInTheDialog) {
    WriteFile(Files() / "a.c", "a");
    WriteFile(Files() / "my,notes.txt", "n\r\n");
    WriteFile(Files() / "data.dat", "\x01\x00\x02"s);
    prompts.files = {(Files() / "a.c").string(), (Files() / "my,notes.txt").string(),
                     (Files() / "data.dat").string()};
    Run(kAny, {[](SubmitDlg* dialog) {
            Press(dialog, submitid::kAdd);
            Press(dialog, submitid::kAdd);
            Press(dialog, submitid::kSubmit);
        }});
    EXPECT_EQ(StoredPackage(), "Number of Files: 3\r\n" + D + "File #1: a.c,F,4,3\r\na\r\nEOF\r\n" +
                                   D + "File #2: my_notes.txt,A,8,3\r\nn\r\nEOF\r\n" + D +
                                   "File #3: data.dat,B,8,3\r\n\x01\x00\x02"
                                   "EOF\r\n"s);
}

TEST_F(SubmitTest, ProjectFolderInNameOrder) {
    const fs::path root = dir.path() / "project";
    WriteFile(root / "src" / "Main.java", "class Main {\n\tint x;\n}");
    WriteFile(root / "README.txt", "Read me\n");
    WriteFile(root / "img" / "logo.png", "\x89PNG\r\n\x1a\n");
    WriteFile(root / "build.log", "not a listed type");
    prompts.folders = {root.string()};
    Run(kProject, {[](SubmitDlg* dialog) { Press(dialog, submitid::kSubmit); }});
    EXPECT_EQ(StoredPackage(),
              "Number of Files: 3\r\n" + D + "File #1: README.txt,A,8,8\r\nRead me\nEOF\r\n" + D +
                  "File #2: img/logo.png,B,8,8\r\n\x89PNG\r\n\x1a\nEOF\r\n" + D +
                  "File #3: src/Main.java,F,2,26\r\nclass Main {\r\n\tint x;\r\n}\r\nEOF\r\n");
    EXPECT_EQ(prompts.folderTitles,
              std::vector<std::string>{"Select the root folder of your project"});
}

TEST_F(SubmitTest, SizeLimitLetsExactlyOneMebibyteThrough) {
    // 20 (count line) + 82 (dashes) + 30 (header) + 1048439 + 5 (EOF) = 1048576.
    WriteFile(Files() / "big.dat", std::string(1048439, 'x'));
    prompts.files = {(Files() / "big.dat").string()};
    Run(kLimited, {[](SubmitDlg* dialog) { Press(dialog, submitid::kSubmit); }});
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].bytes, 1048576);
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{Serial(stored[0].serial)});
}

TEST_F(SubmitTest, OneByteOverTheLimitBringsTheDialogBack) {
    WriteFile(Files() / "big.dat", std::string(1048440, 'x'));
    prompts.files = {(Files() / "big.dat").string()};
    std::vector<std::string> namesOnSecondShowing;
    Run(kLimited, {[](SubmitDlg* dialog) { Press(dialog, submitid::kSubmit); },
                   [&](SubmitDlg* dialog) {
                       auto* box = FindControl<QComboBox>(dialog, submitid::kFileBox);
                       for (int i = 0; i < box->count(); ++i)
                           namesOnSecondShowing.push_back(box->itemText(i).toStdString());
                       Press(dialog, submitid::kCancel);
                   }});
    EXPECT_EQ(showings, 2);
    EXPECT_EQ(namesOnSecondShowing, std::vector<std::string>{"big.dat"});
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text,
              "The file(s) your are submitting are too large.\nThe maximum allowed total "
              "size is 1048576.\nPlease confirm you are only submitting the correct files.");
    EXPECT_EQ(prompts.shown[0].icon, Icon::Error);
    EXPECT_EQ(ui.titles, std::vector<std::string>{"File List"}); // nothing was sent
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SubmitTest, WithoutTheLimitALargePackageGoesThrough) {
    WriteFile(Files() / "big.dat", std::string(3 * 1048576, 'y'));
    prompts.files = {(Files() / "big.dat").string()};
    Run(kUnlimited, {[](SubmitDlg* dialog) { Press(dialog, submitid::kSubmit); }});
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].bytes, 20 + 82 + 30 + 3 * 1048576 + 5);
    ASSERT_FALSE(ui.progress.empty());
    EXPECT_EQ(ui.progress.back().first, ui.progress.back().second); // the whole body went out
}

TEST_F(SubmitTest, IgnoredTransportFailureBringsTheDialogBackAndResends) {
    WriteFile(Files() / "prog.c", "x\n");
    prompts.files = {(Files() / "prog.c").string()};
    int currentOnSecondShowing = -1;
    QString viewOnSecondShowing;
    Run(kSingle, {[&](SubmitDlg* dialog) {
                      TypeAtEnd(dialog, QStringLiteral("edited"));
                      server.Stop();
                      Press(dialog, submitid::kSubmit);
                  },
                  [&](SubmitDlg* dialog) {
                      currentOnSecondShowing = dialog->current();
                      viewOnSecondShowing =
                          FindControl<QPlainTextEdit>(dialog, submitid::kView)->toPlainText();
                      server.Start();
                      TypeAtEnd(dialog, QStringLiteral("!"));
                      Press(dialog, submitid::kSubmit);
                  }});
    EXPECT_EQ(showings, 2);
    EXPECT_EQ(currentOnSecondShowing, 0);
    EXPECT_EQ(viewOnSecondShowing, QStringLiteral("x\nedited")); // kept from the first showing
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kNoConnection});
    EXPECT_EQ(ui.titles,
              (std::vector<std::string>{"File List", "Submitted Program", "Submitted Program"}));
    // The second package is built afresh from the entries as they are now.
    EXPECT_EQ(StoredPackage(),
              "Number of Files: 1\r\n" + D + "File #1: prog.c,F,4,10\r\nx\r\nedited!EOF\r\n");
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, Serial(Stored()[0].serial));
}

TEST_F(SubmitTest, DeadlinePassedAtFileListIsReportedAndNothingStored) {
    Run(kClosed, {});
    EXPECT_EQ(showings, 0);
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kDeadlinePassed});
    EXPECT_TRUE(prompts.fileRequests.empty());
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(fields.focus.empty());
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SubmitTest, DeadlinePassingDuringTheDialogRefusesTheUpload) {
    WriteFile(Files() / "prog.c", "x\n");
    prompts.files = {(Files() / "prog.c").string()};
    Run(kSingle, {[&](SubmitDlg* dialog) {
            server.LoadCourse(CourseToml("C"));
            Press(dialog, submitid::kSubmit);
        }});
    EXPECT_EQ(showings, 1); // refused: the command ends
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kDeadlinePassed});
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SubmitTest, FileListRefusalsMoveTheFocus) {
    Run(kSingle, {}, "wrong");
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kWrongPassword});
    Run(kSingle, {}, kPassword, 100999999);
    EXPECT_EQ(ui.reported,
              (std::vector<StatusCode>{status::kWrongPassword, status::kUnknownStudent}));
    EXPECT_EQ(fields.focus, (std::vector<std::string>{"password", "student number"}));
    EXPECT_TRUE(prompts.fileRequests.empty());
}

TEST_F(SubmitTest, UploadRefusalDoesNotMoveTheFocus) {
    WriteFile(Files() / "prog.c", "x\n");
    prompts.files = {(Files() / "prog.c").string()};
    Run(kSingle, {[&](SubmitDlg* dialog) {
            server.store().UpdateStudent(kCourse, kStudent, HashPassword("changed"), "Ann Lee",
                                         "ann@example.org");
            Press(dialog, submitid::kSubmit);
        }});
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kWrongPassword});
    EXPECT_TRUE(fields.focus.empty());
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SubmitTest, CancelledDialogSendsNothing) {
    WriteFile(Files() / "prog.c", "x\n");
    prompts.files = {(Files() / "prog.c").string()};
    Run(kSingle, {[](SubmitDlg* dialog) { Press(dialog, submitid::kCancel); }});
    EXPECT_EQ(showings, 1);
    EXPECT_EQ(ui.titles, std::vector<std::string>{"File List"});
    EXPECT_TRUE(Stored().empty());
    EXPECT_TRUE(prompts.shown.empty());
}

} // namespace tallyport::test
