// Every client command against a hostile peer on loopback: refused connections, a peer that never
// answers (Cancel ends the wait), connections closed at every point of the reply, length fields
// and counts that lie, texts without their zero byte, and random bytes. Whatever the peer does,
// the command returns, the student sees only the status messages or the command's own texts,
// the temporary folder is left as it was and the student's own files are not touched.
#include "accounts/RegisterAccount.h"
#include "accounts/UpdateAccount.h"
#include "app/MainDlg.h"
#include "app/SubmitApp.h"
#include "exam/DownloadExam.h"
#include "marking/ViewDlg.h"
#include "marking/ViewMarked.h"
#include "protocol/Transaction.h"
#include "submission/Submit.h"
#include "submission/SubmitDlg.h"
#include "submission/UploadPackage.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "support/gui/ModalDriver.h"
#include "ui/DialogUnits.h"
#include "ui/ReportStatus.h"
#include "ui/WaitDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tallyport::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;
using Texts = std::vector<std::string>;

// Reply bodies written out by hand: 4-byte big-endian integers, texts with or without their
// zero byte, raw runs.
class Body {
public:
    Body& Int(int32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes_.push_back(std::byte((uint32_t(value) >> shift) & 0xFF));
        return *this;
    }
    Body& Text(std::string_view text) { return Raw(text).Raw(std::string_view("\0", 1)); }
    Body& Raw(std::string_view text) {
        for (char c : text)
            bytes_.push_back(std::byte(c));
        return *this;
    }
    operator Bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

Bytes Cut(Bytes bytes, std::size_t keep) {
    bytes.resize(std::min(keep, bytes.size()));
    return bytes;
}

// The bytes after the first `skip`.
Bytes After(const Bytes& bytes, std::size_t skip) {
    return Bytes(bytes.begin() + std::ptrdiff_t(std::min(skip, bytes.size())), bytes.end());
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- The replies a well-behaved server gives ----------------------------------------------

constexpr int32_t kCourseNumber = 3101;

Bytes GoodCatalogue() {
    return Body()
        .Int(1)
        .Int(kCourseNumber)
        .Text("Programming")
        .Text("Assignment,1,1")
        .Int(1)
        .Int('O')
        .Int('A')
        .Text("Sec 1");
}

Bytes GoodAccountRecord() {
    return Body().Text("Ann Lee").Text("ann@example.org");
}

Bytes GoodFileList() {
    return Body().Text("Text,txt,A,8").Text("F,txt").Int(0);
}

const std::string kSourceText = "int main(void)\r\n{\r\n\treturn 0;\r\n}\r\n";

// The parts of a one-file marked package that the rows change.
struct PackageParts {
    std::string countLine = "Number of Files: 1";
    std::string length = std::to_string(kSourceText.size());
    std::string tabWidth = "4";
    std::string annotations = "C,10,10,40,20,Good\r\n";
};

std::string MarkedPackage(const PackageParts& parts = {}) {
    return "Submission: 12,100123456,0,2024-03-01T10:00:00Z,-\r\n"
           "Marking: 8,tjones,Well done\r\n" +
           parts.countLine + "\r\n" + std::string(80, '-') + "\r\nFile #1: hello.c,A," +
           parts.tabWidth + "," + parts.length + "\r\n" + kSourceText + parts.annotations +
           "EOF\r\n";
}

Bytes MarkedReply(const std::string& package, int32_t announced);

// A marked reply that announces its package's true length.
Bytes MarkedReplyOf(const PackageParts& parts) {
    const std::string package = MarkedPackage(parts);
    return MarkedReply(package, int32_t(package.size()));
}

Bytes MarkedReply(const std::string& package, int32_t announced) {
    return Body().Int(10).Int(announced).Raw(package);
}

Bytes GoodMarked() {
    const std::string package = MarkedPackage();
    return MarkedReply(package, int32_t(package.size()));
}

Bytes GoodMarkerName() {
    return Body().Text("Pat Marker").Text("Room 5");
}

Bytes GoodExam() {
    return Body().Int(1).Int(1).Text("question.pdf").Int(5).Raw("%PDF-");
}

// ---- Texts the student may be shown ------------------------------------------------------

const std::string kNoConnection = "Unable to establish connection to server.";
const std::string kTransmission = "A transmission error occurred.";
const std::string kServerError = "An error occurred with the server.";
const std::string kUnknownError = "An unknown error occurred.";
const std::string kSerial7 = "Your latest solution has now been submitted.\nYour serial # is 0007.";
const std::string kSerialPrefix = "Your latest solution has now been submitted.\nYour serial # is ";
const std::string kUnreadableMarked =
    "The marked submission could not be read.  Please report this problem.";
const std::string kNothingSubmitted = "You have not submitted anything for that assignment.";
const std::string kMarkedById = "Your assignment was marked by tjones";
const std::string kMarkedByName = "Your assignment was marked by Pat Marker\n<Room 5>";
const std::string kExamError = "An error has occurred.  Please ask a TA for assistance";
const std::string kNotSetUp = "Your course has not yet been set up!  Try again later.";
const std::string kNamedFilesPrefix = "You must submit the following files:\n";
const std::string kExamNotSavedPrefix = "These files of your exam question could not be saved in ";

// ---- The commands ------------------------------------------------------------------------

// The command under test, and the transaction of it that meets the fault.
enum class Subject { Startup, Register, Update, FileList, Upload, Marked, Marker, Exam };

const char* Name(Subject subject) {
    switch (subject) {
    case Subject::Startup:
        return "start-up catalogue";
    case Subject::Register:
        return "Register (Verification)";
    case Subject::Update:
        return "Update Info (Student Verification)";
    case Subject::FileList:
        return "Submit (File List)";
    case Subject::Upload:
        return "Submit (upload)";
    case Subject::Marked:
        return "View (Marked Assignment)";
    case Subject::Marker:
        return "View (Marker Name)";
    case Subject::Exam:
        return "Exam";
    }
    return "";
}

const Subject kSubjects[] = {Subject::Startup,  Subject::Register, Subject::Update,
                             Subject::FileList, Subject::Upload,   Subject::Marked,
                             Subject::Marker,   Subject::Exam};

// The good reply of the transaction that meets the fault.
Bytes GoodReply(Subject subject) {
    switch (subject) {
    case Subject::Startup:
        return GoodCatalogue();
    case Subject::Register:
        return Body().Int(0); // not read: only the status counts
    case Subject::Update:
        return GoodAccountRecord();
    case Subject::FileList:
        return GoodFileList();
    case Subject::Upload:
        return Body().Int(7);
    case Subject::Marked:
        return GoodMarked();
    case Subject::Marker:
        return GoodMarkerName();
    case Subject::Exam:
        return GoodExam();
    }
    return {};
}

// Good answers to the transactions before the faulty one, and after it.
std::vector<PeerAction> Before(Subject subject) {
    if (subject == Subject::Upload)
        return {PeerAction::Reply(0, GoodFileList())};
    if (subject == Subject::Marker)
        return {PeerAction::Reply(0, GoodMarked())};
    return {};
}

std::vector<PeerAction> Later(Subject subject) {
    if (subject == Subject::FileList)
        return {PeerAction::Reply(0, Body().Int(7))};
    return {};
}

// The transaction's UI with its failures reported through the prompt seam, as the program does,
// so that every text the student sees is recorded in one place.
class PromptingUi : public ScriptedTransactionUi {
public:
    explicit PromptingUi(Prompts& prompts) : prompts_(prompts) {}
    RetryChoice ReportStatus(StatusCode status) override {
        ScriptedTransactionUi::ReportStatus(status);
        return tallyport::ReportStatus(prompts_, status);
    }

private:
    Prompts& prompts_;
};

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

// Records every dialog that shows (the transfer box aside) and closes it from the event loop:
// the submit dialog submits on its first showing, the view dialog is painted and asks for the
// marker when told to, everything else is cancelled.
class DialogCloser : public QObject {
public:
    explicit DialogCloser(bool askMarker) : askMarker_(askMarker) {
        qApp->installEventFilter(this);
    }
    ~DialogCloser() override { qApp->removeEventFilter(this); }
    Texts shown;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Show)
            return false;
        auto* dialog = qobject_cast<QDialog*>(object);
        if (!dialog || qobject_cast<CNewWaitDialog*>(dialog))
            return false;
        std::string name = dialog->metaObject()->className();
        name = name.substr(name.rfind(':') + 1);
        if (name == "MainDlg") // with the sizes of its element and section lists
            name += " " +
                    std::to_string(FindControl<QComboBox>(dialog, mainid::kElement)->count()) +
                    "/" + std::to_string(FindControl<QComboBox>(dialog, mainid::kSection)->count());
        const bool firstSubmit =
            name == "SubmitDlg" && std::count(shown.begin(), shown.end(), name) == 0;
        shown.push_back(name);
        QPointer<QDialog> guarded(dialog);
        QTimer::singleShot(0, dialog, [this, guarded, name, firstSubmit] {
            if (!guarded || !guarded->isVisible())
                return;
            if (firstSubmit) {
                QTest::mouseClick(FindControl<QPushButton>(guarded, submitid::kSubmit),
                                  Qt::LeftButton);
                if (guarded && guarded->isVisible()) // it refused to submit
                    guarded->reject();
            } else if (name == "ViewDlg") {
                guarded->grab(); // paints the page as the student would see it
                if (askMarker_)
                    QTest::mouseClick(FindControl<QPushButton>(guarded, view_dlg::kMarker),
                                      Qt::LeftButton);
                if (guarded)
                    guarded->accept();
            } else {
                guarded->reject();
            }
        });
        return false;
    }

private:
    bool askMarker_;
};

// Every file under `root` (but `skip`) by relative path, with its bytes; folders as "<dir>".
std::map<std::string, std::string> Snapshot(const fs::path& root, const fs::path& skip = {}) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!skip.empty() && it->path() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string relative = fs::relative(it->path(), root).string();
        if (it->is_directory()) {
            files[relative] = "<dir>";
        } else {
            files[relative] = ReadFile(it->path());
        }
    }
    return files;
}

// What one run of a command left behind.
struct Seen {
    Texts texts;   // every message shown, in order
    Texts dialogs; // every dialog shown, in order
    std::map<std::string, std::string> tempBefore, tempAfter;
};

// How a transaction meets the peer.
struct Script {
    bool refuse = false;   // the faulty transaction's connection is refused
    PeerAction action;     // otherwise this is its answer
    bool filesOnce = true; // the student picks the file to submit when asked
};

// One command run against a ScriptedPeer, in a fresh folder: `temp` is the command's temporary
// (and exam) folder, `student` holds the files the Submit picks, `saved` an earlier View save.
class Rig {
public:
    explicit Rig(Subject subject) : subject_(subject) {
        fs::create_directories(Temp());
        if (subject == Subject::Exam) { // the exam folder holds an earlier question and notes
            WriteFile(Temp() / "old.pdf", "%PDF-old");
            WriteFile(Temp() / "notes.txt", "my notes\r\n");
        }
        WriteFile(Student() / "main.txt", "int main() { return 0; }\n");
        WriteFile(Student() / "other.txt", std::string("\0\x01\xFF\r\n", 5));
        WriteFile(dir_.path() / "saved" / "assign00" / "hello.c", "kept from last time\n");
        // Beside the student's folder: a reply's "../other.txt" would name this one.
        WriteFile(dir_.path() / "other.txt", "not for submitting\n");
    }

    fs::path Temp() const { return dir_.path() / "temp"; }
    fs::path Student() const { return dir_.path() / "student"; }

    Seen Run(const Script& script) {
        Seen seen;
        seen.tempBefore = Snapshot(Temp());
        const auto ownBefore = Snapshot(dir_.path(), Temp());

        std::vector<PeerAction> actions = Before(subject_);
        const int faulty = int(actions.size()) + 1; // its request's place among the connections
        if (script.refuse) {
            if (!actions.empty())
                actions.back() = std::move(actions.back()).ThenRefuse();
        } else {
            actions.push_back(script.action);
        }
        for (PeerAction& after : Later(subject_))
            actions.push_back(std::move(after));
        const bool hangs = !script.refuse && script.action.kind == PeerAction::Kind::Hang;

        ScriptedPeer peer(/*listening=*/!(script.refuse && faulty == 1));
        for (PeerAction& action : actions)
            peer.Push(std::move(action));

        ScriptedPrompts prompts;
        if (script.filesOnce)
            prompts.files = {(Student() / "main.txt").string()};
        DialogCloser closer(subject_ == Subject::Marker);
        if (subject_ == Subject::Startup)
            RunStartup(peer, prompts, hangs);
        else
            RunCommand(peer, prompts, hangs ? faulty : 0);

        seen.texts = prompts.texts();
        seen.dialogs = closer.shown;
        seen.tempAfter = Snapshot(Temp());
        EXPECT_EQ(Snapshot(dir_.path(), Temp()), ownBefore)
            << "the student's own files were touched";
        return seen;
    }

private:
    void RunStartup(ScriptedPeer& peer, Prompts& prompts, bool hangs) {
        SubmitAppSetup setup;
        setup.applicationName = "tallyport-submit";
        setup.endpoint = peer.endpoint();
        setup.tempFolder = Temp();
        setup.examFolder = Temp(); // one folder: the rig checks what every command leaves there
        setup.labMode = false;
        setup.startNetworking = [] { return true; };
        // Cancel in the real transfer box once the peer holds the whole request.
        QTimer canceller;
        canceller.setInterval(1);
        QObject::connect(&canceller, &QTimer::timeout, &canceller, [&] {
            if (peer.completeRequests() < 1)
                return;
            if (auto* box = FindWindow<CNewWaitDialog>()) {
                QTest::mouseClick(FindControl<QPushButton>(box, CNewWaitDialog::kCancelId),
                                  Qt::LeftButton);
                canceller.stop();
            }
        });
        if (hangs)
            canceller.start();
        SubmitApp app(setup, prompts);
        app.Run();
        EXPECT_FALSE(app.holdsCatalogue());
    }

    void RunCommand(ScriptedPeer& peer, Prompts& prompts, int cancelAfterRequests) {
        PromptingUi ui(prompts);
        bool cancelled = false;
        if (cancelAfterRequests > 0)
            ui.onPump = [&] {
                if (cancelled || peer.completeRequests() < cancelAfterRequests)
                    return false;
                cancelled = true;
                return true;
            };
        Transactor transactor(peer.endpoint(), ui);
        NoFields fields;
        Course course;
        course.number = kCourseNumber;
        course.name = "Programming";
        ParseComponentSpecification("Assignment,1,1", course);
        course.entryCount = 1;
        course.status = {'M'};
        course.kind = {'E'};
        course.label = {"Sec 1"};
        MainSelection selection;
        selection.studentNumber = 100123456;
        selection.password = "demo123";
        selection.entryIndex = 0;
        selection.componentIndex = selection.elementIndex = selection.sectionIndex = 0;
        CommandContext context{transactor, prompts, fields, &course, selection, Temp(), Temp()};
        switch (subject_) {
        case Subject::Register:
            RegisterAccount(context, nullptr);
            break;
        case Subject::Update: {
            UpdateCommand update;
            update(context, nullptr);
            break;
        }
        case Subject::FileList:
        case Subject::Upload:
            Submit(context, nullptr);
            break;
        case Subject::Marked:
        case Subject::Marker:
            ViewMarked(context, nullptr);
            break;
        case Subject::Exam:
            DownloadExam(context, nullptr);
            break;
        case Subject::Startup:
            break;
        }
        EXPECT_EQ(ui.opens, ui.closes) << "a transfer box was left open";
    }

    Subject subject_;
    TempDir dir_;
};

// ---- What each outcome looks like for each command ---------------------------------------

// Files of the temporary folder that change: new bytes, or none for a file that goes.
using FolderChanges = std::map<std::string, std::optional<std::string>>;

struct Outcome {
    Texts texts;
    Texts dialogs;
    FolderChanges tempChanges = {};
};

// A sound exam reply clears the earlier question before it writes the new one.
const FolderChanges kNewQuestion = {{"old.pdf", std::nullopt}, {"question.pdf", "%PDF-"}};

// After a failure that the transaction reported and the student ignored (`status` is what the
// command was left with).
Outcome AfterIgnoredFailure(Subject subject, StatusCode status) {
    switch (subject) {
    case Subject::Upload: {
        const bool remediable = status == -1 || status == -2 || status == -3;
        return {{}, remediable ? Texts{"SubmitDlg", "SubmitDlg"} : Texts{"SubmitDlg"}};
    }
    case Subject::Marker:
        return {{kMarkedById}, {"ViewDlg"}};
    default:
        return {};
    }
}

// After a status 0 whose reply did not arrive in full: no message of the transaction's own, so
// the command tells the student itself (Register reads only the status).
Outcome AfterMissingReply(Subject subject) {
    switch (subject) {
    case Subject::Startup:
    case Subject::Update:
    case Subject::FileList:
    case Subject::Exam:
        return {{kServerError}, {}};
    case Subject::Marked:
        return {{kUnreadableMarked}, {}};
    case Subject::Register:
        return {{}, {"RegisterDlg"}}; // the verification's status is all it reads
    case Subject::Upload:             // told, and back in the dialog to send it again
        return {{std::string(kUploadReplyLost)}, {"SubmitDlg", "SubmitDlg"}};
    case Subject::Marker:
        return {{kMarkedById}, {"ViewDlg"}};
    default:
        return {};
    }
}

// After the good reply.
Outcome AfterGoodReply(Subject subject, const fs::path& temp) {
    switch (subject) {
    case Subject::Startup:
        return {{}, {"MainDlg 1/0"}};
    case Subject::Register:
        return {{}, {"RegisterDlg"}};
    case Subject::Update:
        return {{}, {"UpdateDlg"}};
    case Subject::FileList:
    case Subject::Upload:
        return {{kSerial7}, {"SubmitDlg"}};
    case Subject::Marked:
        return {{}, {"ViewDlg"}};
    case Subject::Marker:
        return {{kMarkedByName}, {"ViewDlg"}};
    case Subject::Exam:
        return {{"Your exam question has been saved in " + temp.string()}, {}, kNewQuestion};
    }
    return {};
}

Texts Prepend(std::string first, Texts rest) {
    rest.insert(rest.begin(), std::move(first));
    return rest;
}

void ExpectOutcome(const Seen& seen, const Outcome& expected) {
    EXPECT_EQ(seen.texts, expected.texts);
    EXPECT_EQ(seen.dialogs, expected.dialogs);
    auto want = seen.tempBefore;
    for (const auto& [name, bytes] : expected.tempChanges) {
        if (bytes)
            want[name] = *bytes;
        else
            want.erase(name);
    }
    EXPECT_EQ(seen.tempAfter, want) << "the temporary folder is not as it should be";
}

// ---- The faults of the connection, the same for every command -----------------------------

enum class Ends { NoConnection, Transmission, Status, MissingReply, GoodReply };

struct TransportFault {
    const char* name;
    std::function<Script(const Bytes& good)> script;
    Ends ends;
    StatusCode status = 0; // Ends::Status
};

Script Answer(PeerAction action) {
    return {false, std::move(action)};
}

Bytes Junk(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = std::byte(0xA5 ^ i);
    return bytes;
}

const std::vector<TransportFault>& TransportFaults() {
    static const std::vector<TransportFault> faults = {
        {"connection refused",
         [](const Bytes&) {
             return Script{true, {}};
         },
         Ends::NoConnection},
        {"accepts and never answers; Cancel",
         [](const Bytes&) { return Answer(PeerAction::Hang()); }, Ends::Transmission},
        {"closes before the status", [](const Bytes&) { return Answer(PeerAction::Raw({})); },
         Ends::Transmission},
        {"closes inside the status",
         [](const Bytes&) { return Answer(PeerAction::Raw(Cut(Body().Int(0), 2))); },
         Ends::Transmission},
        {"closes inside the reply length",
         [](const Bytes&) { return Answer(PeerAction::Raw(Cut(Body().Int(0).Int(8), 6))); },
         Ends::MissingReply},
        {"reply length 0", [](const Bytes&) { return Answer(PeerAction::Framed(0, {})); },
         Ends::MissingReply},
        {"negative reply length",
         [](const Bytes& good) { return Answer(PeerAction::Framed(-4, good)); },
         Ends::MissingReply},
        {"huge reply length",
         [](const Bytes& good) { return Answer(PeerAction::Framed(INT32_MAX, good)); },
         Ends::MissingReply},
        {"closes inside the body",
         [](const Bytes& good) {
             return Answer(PeerAction::Framed(int32_t(good.size()), Cut(good, good.size() / 2)));
         },
         Ends::MissingReply},
        {"reply one byte short of its length",
         [](const Bytes& good) {
             return Answer(PeerAction::Framed(int32_t(good.size()) + 1, good));
         },
         Ends::MissingReply},
        {"extra bytes after the body",
         [](const Bytes& good) {
             return Answer(PeerAction::Framed(int32_t(good.size()), Join(good, Junk(9))));
         },
         Ends::GoodReply},
        {"server error status",
         [](const Bytes&) { return Answer(PeerAction::Raw(Body().Int(-3))); }, Ends::Status, -3},
        {"positive status", [](const Bytes&) { return Answer(PeerAction::Raw(Body().Int(7))); },
         Ends::Status, 7},
        {"status far below the table",
         [](const Bytes&) { return Answer(PeerAction::Raw(Body().Int(INT32_MIN))); }, Ends::Status,
         INT32_MIN},
    };
    return faults;
}

TEST(HostileServer, ConnectionFaultsEndEveryCommandWithItsMessage) {
    for (Subject subject : kSubjects) {
        for (const TransportFault& fault : TransportFaults()) {
            SCOPED_TRACE(std::string(Name(subject)) + ": " + fault.name);
            Rig rig(subject);
            const Seen seen = rig.Run(fault.script(GoodReply(subject)));
            Outcome expected;
            switch (fault.ends) {
            case Ends::NoConnection:
                expected = AfterIgnoredFailure(subject, status::kNoConnection);
                expected.texts = Prepend(kNoConnection, expected.texts);
                break;
            case Ends::Transmission:
                expected = AfterIgnoredFailure(subject, status::kTransmissionError);
                expected.texts = Prepend(kTransmission, expected.texts);
                break;
            case Ends::Status:
                expected = AfterIgnoredFailure(subject, fault.status);
                expected.texts =
                    Prepend(std::string(DescribeStatus(fault.status).text), expected.texts);
                break;
            case Ends::MissingReply:
                expected = AfterMissingReply(subject);
                break;
            case Ends::GoodReply:
                expected = AfterGoodReply(subject, rig.Temp());
                break;
            }
            ExpectOutcome(seen, expected);
        }
    }
}

// ---- Replies that arrive whole but do not hold what they should -----------------------------

struct MalformedReply {
    Subject subject;
    const char* name;
    Bytes body;
    Outcome expected;
};

TEST(HostileServer, MalformedRepliesEndWithTheCommandsOwnText) {
    const Outcome serverError{{kServerError}, {}};
    const Outcome unreadable{{kUnreadableMarked}, {}};
    const Outcome viewOpens{{}, {"ViewDlg"}};
    const Outcome byId{{kMarkedById}, {"ViewDlg"}};
    const Outcome examError{{kExamError}, {}};
    const Outcome serial7{{kSerial7}, {"SubmitDlg"}};
    const Outcome replyLost{{std::string(kUploadReplyLost)}, {"SubmitDlg", "SubmitDlg"}};
    const std::string package = MarkedPackage();
    const int32_t packageSize = int32_t(package.size());

    const std::vector<MalformedReply> rows = {
        // Course List: count, course number, name, components, entry count, entries.
        {Subject::Startup, "negative course count", Join(Body().Int(-1), After(GoodCatalogue(), 4)),
         serverError},
        {Subject::Startup, "huge course count",
         Join(Body().Int(INT32_MAX), After(GoodCatalogue(), 4)), serverError},
        {Subject::Startup, "negative entry count",
         Body().Int(1).Int(kCourseNumber).Text("Programming").Text("Assignment,1,1").Int(-1),
         serverError},
        {Subject::Startup, "huge entry count",
         Join(Body()
                  .Int(1)
                  .Int(kCourseNumber)
                  .Text("Programming")
                  .Text("Assignment,1,1")
                  .Int(0x10000000),
              Body().Int('O').Int('A').Text("Sec 1")),
         serverError},
        {Subject::Startup, "course name without its zero byte",
         Body().Int(1).Int(kCourseNumber).Raw("Programming"), serverError},
        {Subject::Startup, "label without its zero byte",
         Cut(GoodCatalogue(), GoodCatalogue().size() - 1), serverError},
        {Subject::Startup, "course count 0", Body().Int(0), {{kNotSetUp}, {}}},
        // Counts in the component description that the entries do not back: the main
        // dialog's lists must not grow with them.
        {Subject::Startup,
         "element count far beyond the entries",
         Body()
             .Int(1)
             .Int(kCourseNumber)
             .Text("Programming")
             .Text("Assignment,2000000000,1")
             .Int(1)
             .Int('O')
             .Int('A')
             .Text("Sec 1"),
         {{}, {"MainDlg 1000/0"}}},
        {Subject::Startup,
         "section count far beyond the entries",
         Body()
             .Int(1)
             .Int(kCourseNumber)
             .Text("Programming")
             .Text("Assignment,1,2000000000")
             .Int(1)
             .Int('O')
             .Int('A')
             .Text("Sec 1"),
         {{}, {"MainDlg 1/1000"}}},
        // Student Verification: name, e-mail.
        {Subject::Update, "name without its zero byte", Body().Raw("Ann Lee"), serverError},
        {Subject::Update, "e-mail without its zero byte",
         Body().Text("Ann Lee").Raw("ann@example.org"), serverError},
        // File List: type table, requirement, size flag.
        {Subject::FileList, "type table without its zero byte", Body().Raw("Text,txt,A,8"),
         serverError},
        {Subject::FileList, "requirement without its zero byte",
         Body().Text("Text,txt,A,8").Raw("F,txt"), serverError},
        {Subject::FileList, "size flag one byte short",
         Cut(GoodFileList(), GoodFileList().size() - 1), serverError},
        {Subject::FileList, "negative size flag", Body().Text("Text,txt,A,8").Text("F,txt").Int(-1),
         serial7},
        // Submitted Program: the serial number.
        {Subject::Upload, "serial one byte short", Cut(Body().Int(7), 3), replyLost},
        // A whole negative answer is the server's: -1 brings the dialog back, any other ends
        // the command, and neither is a reply cut short.
        {Subject::Upload, "serial -1", Body().Int(-1), {{}, {"SubmitDlg", "SubmitDlg"}}},
        {Subject::Upload, "serial -2", Body().Int(-2), {{}, {"SubmitDlg"}}},
        {Subject::Upload, "negative serial", Body().Int(INT32_MIN), {{}, {"SubmitDlg"}}},
        {Subject::Upload, "empty reply", Body(), replyLost},
        {Subject::Upload,
         "huge serial",
         Body().Int(INT32_MAX),
         {{kSerialPrefix + "2147483647."}, {"SubmitDlg"}}},
        // Marked Assignment: maximum mark, package length, package.
        {Subject::Marked, "maximum mark cut short", Cut(Body().Int(10), 3), unreadable},
        {Subject::Marked, "negative package length", MarkedReply(package, -1), unreadable},
        {Subject::Marked, "huge package length", MarkedReply(package, INT32_MAX), unreadable},
        {Subject::Marked, "package length one past the reply",
         MarkedReply(package, packageSize + 1), unreadable},
        {Subject::Marked, "empty package", MarkedReply("", 0), unreadable},
        {Subject::Marked, "package without its record lines",
         [] {
             const std::string bare = MarkedPackage().substr(MarkedPackage().find("Number"));
             return MarkedReply(bare, int32_t(bare.size()));
         }(),
         unreadable},
        // Inside the package: what was read before a bad count or length is shown.
        {Subject::Marked, "package cut by its length", MarkedReply(package, packageSize - 20),
         viewOpens},
        {Subject::Marked, "negative file count",
         MarkedReplyOf({.countLine = "Number of Files: -1"}), viewOpens},
        {Subject::Marked, "huge file count",
         MarkedReplyOf({.countLine = "Number of Files: 2147483647"}), viewOpens},
        {Subject::Marked, "negative text length", MarkedReplyOf({.length = "-5"}), viewOpens},
        {Subject::Marked, "huge text length", MarkedReplyOf({.length = "99999999999"}), viewOpens},
        {Subject::FileList,
         "required name leading out of the chosen folder",
         Body().Text("Text,txt,A,8").Text("S,main.txt,../other.txt").Int(0),
         {{"You must submit the following files:\n\tmain.txt\n\t../other.txt\nYour files must "
           "already exist, with the file names exactly as specified.\n\nYou must select "
           "main.txt first.",
           "You haven't loaded one of the required files."},
          {"SubmitDlg"}}},
        // What the view draws: tab widths and annotation places beyond any page.
        {Subject::Marked, "tab width 0", MarkedReplyOf({.tabWidth = "0"}), viewOpens},
        {Subject::Marked, "negative tab width", MarkedReplyOf({.tabWidth = "-4"}), viewOpens},
        {Subject::Marked, "huge tab width", MarkedReplyOf({.tabWidth = "2147483647"}), viewOpens},
        {Subject::Marked, "comment at the largest place",
         MarkedReplyOf({.annotations = "C,2147483647,2147483647,2147483647,2147483647,far\r\n"}),
         viewOpens},
        {Subject::Marked, "comment at the most negative place",
         MarkedReplyOf(
             {.annotations = "C,-2147483648,-2147483648,-2147483648,-2147483648,far\r\n"}),
         viewOpens},
        {Subject::Marked, "stroke with extreme points",
         MarkedReplyOf({.annotations = "L,2147483647,-2147483648,2147483647,-2147483648\r\n"
                                       "P,2147483647,2147483647\r\nP,-2147483648,-2147483648\r\n"
                                       "EOL\r\n"}),
         viewOpens},
        // Marker Name: name, about.
        {Subject::Marker, "name without its zero byte", Body().Raw("Pat Marker"), byId},
        {Subject::Marker,
         "printf conversions in the name",
         Body().Text("100% %s%n").Text("%d"),
         {{"Your assignment was marked by 100% %s%n\n<%d>"}, {"ViewDlg"}}},
        {Subject::Marker, "about without its zero byte", Body().Text("Pat Marker").Raw("Room 5"),
         byId},
        // Exam Question: selector, count, then name, length and bytes per file.
        {Subject::Exam, "selector 0", Body().Int(0).Int(1).Text("question.pdf").Int(5).Raw("%PDF-"),
         examError},
        {Subject::Exam, "negative file count", Body().Int(1).Int(-1), examError},
        {Subject::Exam, "huge file count",
         Body().Int(1).Int(INT32_MAX).Text("question.pdf").Int(5).Raw("%PDF-"), examError},
        {Subject::Exam, "negative file length",
         Body().Int(1).Int(1).Text("question.pdf").Int(-5).Raw("%PDF-"), examError},
        {Subject::Exam, "huge file length",
         Body().Int(1).Int(1).Text("question.pdf").Int(INT32_MAX).Raw("%PDF-"), examError},
        {Subject::Exam, "file length one past the reply",
         Body().Int(1).Int(1).Text("question.pdf").Int(6).Raw("%PDF-"), examError},
        {Subject::Exam, "name without its zero byte", Body().Int(1).Int(1).Raw("question.pdf"),
         examError},
        {Subject::Exam,
         "names leading out of the exam folder",
         Body()
             .Int(1)
             .Int(2)
             .Text("../escape.pdf")
             .Int(3)
             .Raw("bad")
             .Text("/abs.pdf")
             .Int(3)
             .Raw("bad"),
         {{kExamNotSavedPrefix + "{temp}:\n../escape.pdf (refused: the name leads outside the "
                                 "folder)\n/abs.pdf (refused: the name leads outside the "
                                 "folder)\nPlease ask a TA for assistance"},
          {},
          {{"old.pdf", std::nullopt}}}},
        {Subject::Exam, "second file missing",
         Body().Int(1).Int(2).Text("question.pdf").Int(5).Raw("%PDF-"), examError},
    };
    for (const MalformedReply& row : rows) {
        SCOPED_TRACE(std::string(Name(row.subject)) + ": " + row.name);
        Rig rig(row.subject);
        Outcome expected = row.expected;
        for (std::string& text : expected.texts) // "{temp}" names this run's folder
            if (const std::size_t at = text.find("{temp}"); at != std::string::npos)
                text.replace(at, 6, rig.Temp().string());
        ExpectOutcome(rig.Run(Answer(PeerAction::Reply(0, row.body))), expected);
    }
}

// ---- Random bytes ------------------------------------------------------------------------

// A text the student may be shown by `subject`: a status message or one of the command's own.
bool MayShow(Subject subject, const std::string& text) {
    for (StatusCode status = -1; status >= -13; --status)
        if (text == DescribeStatus(status).text)
            return true;
    if (text == kUnknownError)
        return true;
    auto startsWith = [&](const std::string& prefix) { return text.rfind(prefix, 0) == 0; };
    switch (subject) {
    case Subject::Startup:
        return text == kNotSetUp || text == kServerError;
    case Subject::Register:
        return false;
    case Subject::Update:
        return text == kServerError;
    case Subject::FileList:
        return text == kServerError || startsWith(kNamedFilesPrefix);
    case Subject::Upload:
        return startsWith(kSerialPrefix) || text == kUploadReplyLost;
    case Subject::Marked:
        return text == kUnreadableMarked || text == kNothingSubmitted;
    case Subject::Marker:
        return startsWith("Your assignment was marked by ");
    case Subject::Exam:
        return text == kExamError || text == kServerError ||
               startsWith("Your exam question has been saved in ") ||
               startsWith(kExamNotSavedPrefix);
    }
    return false;
}

TEST(HostileServer, RandomRepliesShowOnlyDocumentedTexts) {
    std::mt19937 random(20240917);
    auto randomBytes = [&](std::size_t n) {
        Bytes bytes(n);
        for (std::byte& b : bytes)
            b = std::byte(random() & 0xFF);
        return bytes;
    };
    for (Subject subject : kSubjects) {
        for (int round = 0; round < 9; ++round) {
            const Bytes good = GoodReply(subject);
            Script script;
            switch (round % 3) {
            case 0: // a whole reply of random bytes, status first
                script = Answer(PeerAction::Raw(randomBytes(random() % 24)));
                break;
            case 1: // status 0 and a random body
                script = Answer(PeerAction::Reply(0, randomBytes(random() % 64)));
                break;
            case 2: { // the good body with a few bytes changed
                Bytes body = good;
                for (int i = 0; i < 3; ++i)
                    body[random() % body.size()] = std::byte(random() & 0xFF);
                script = Answer(PeerAction::Reply(0, body));
                break;
            }
            }
            // A random File List could ask for any file; the student picks none.
            script.filesOnce = subject != Subject::FileList;
            SCOPED_TRACE(std::string(Name(subject)) + ": round " + std::to_string(round));
            Rig rig(subject);
            const Seen seen = rig.Run(script);
            for (const std::string& text : seen.texts)
                EXPECT_TRUE(MayShow(subject, text)) << text;
            const bool examSaved =
                subject == Subject::Exam && !seen.texts.empty() &&
                (seen.texts.back().rfind("Your exam question has been saved in ", 0) == 0 ||
                 seen.texts.back().rfind(kExamNotSavedPrefix, 0) == 0);
            if (!examSaved) {
                EXPECT_EQ(seen.tempAfter, seen.tempBefore) << "the temporary folder was changed";
            }
        }
    }
}

} // namespace
} // namespace tallyport::test
