// The Exam command against the in-process server: which files of the reply each kind and
// selector keeps, what is cleared first, sub-folders, hostile names, and every file on disk
// compared byte for byte.
#include "exam/DownloadExam.h"
#include "support/InProcessServer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace tallyport::test {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kCourse = 3101;
constexpr int32_t kStudent = 100123456;
constexpr char kError[] = "An error has occurred.  Please ask a TA for assistance";

// Entries of the one component "Lab", one section each.
enum Entry {
    kAllThree,     // 'E', 3 files with sub-folders and binary bytes
    kHalfOfFive2,  // 'D', 5 files, selector 2 (first half)
    kHalfOfFive3,  // 'D', 5 files, selector 3 (second half)
    kHalfOfFive1,  // 'D', 5 files, selector 1 (in neither table)
    kHalfOfOne,    // 'D', 1 file, selector 4 (first half: nothing)
    kSelectorZero, // 'E', selector 0
    kNoFiles,      // 'E', no files: the server answers -12
    kHostile,      // 'E', names that lead outside the folder
    kAssignment,   // 'A'
    kOtherKind,    // 'X'
    kEntryCount
};

using Files = std::map<std::string, std::string>; // name -> bytes

const Files kThree = {{"lab/q1.txt", "Question 1\r\nRead data.bin.\r\n"},
                      {"lab\\data.bin", std::string("\0\x01\xFF\r\n\x1A", 6)},
                      {"q2.pdf", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"}};

std::vector<server::ExamFile>
InOrder(std::initializer_list<std::pair<std::string, std::string>> files) {
    std::vector<server::ExamFile> out;
    for (const auto& [name, bytes] : files)
        out.push_back({name, bytes});
    return out;
}

std::vector<server::ExamFile> Five() {
    return InOrder({{"d0.txt", "zero"},
                    {"d1.txt", "one"},
                    {"d2.txt", "two"},
                    {"d3.txt", "three"},
                    {"d4.txt", "four"}});
}

// Every entry under `root`, relative, folders ending in '/', with the bytes of files.
Files Tree(const fs::path& root) {
    Files out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(e.path(), root).string();
        if (e.is_directory()) {
            out[name + "/"] = "";
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            out[name] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return out;
}

// What the folder holds before each download.
const Files kBefore = {{"old.pdf", "old question"},
                       {"OLD.EXE", "old program"},
                       {"notes.txt", "my notes"},
                       {"x.pdf/", ""},
                       {"x.pdf/inside.txt", "kept"}};

Files With(Files base, const Files& added, const std::set<std::string>& removed = {}) {
    for (const auto& name : removed)
        base.erase(name);
    for (const auto& [name, bytes] : added)
        base[name] = bytes;
    return base;
}

const std::set<std::string> kCleared = {"old.pdf", "OLD.EXE"};

class NoMainDialog : public MainDialogFields {
public:
    void FocusStudentNumber() override { ADD_FAILURE() << "no focus move expected"; }
    void FocusPassword() override { ADD_FAILURE() << "no focus move expected"; }
    void SetPasswordText(std::string_view) override { ADD_FAILURE() << "no password expected"; }
};

class ExamDownloadTest : public ::testing::Test {
protected:
    ExamDownloadTest() {
        server::CourseDefinition course;
        course.number = kCourse;
        course.name = "Exam Course";
        course.components = {{"Lab", kEntryCount, 1}};
        course.entries.resize(kEntryCount);
        const struct {
            char kind;
            std::optional<int32_t> selector;
        } entries[kEntryCount] = {{'E', 38}, {'D', 2}, {'D', 3}, {'D', 1}, {'D', 4},
                                  {'E', 0},  {'E', 5}, {'E', 9}, {'A', 2}, {'X', 2}};
        for (int i = 0; i < kEntryCount; ++i) {
            course.entries[i].kind = entries[i].kind;
            course.entries[i].examSelector = entries[i].selector;
            course.entries[i].label = "Lab";
        }
        std::vector<server::ExamFile> three;
        for (const char* name : {"lab/q1.txt", "lab\\data.bin", "q2.pdf"})
            three.push_back({name, kThree.at(name)});
        hostileAbsolute = (client.path() / "abs.txt").string();
        std::string error;
        EXPECT_TRUE(server.store().PutCourse(course,
                                             {{kAllThree, three},
                                              {kHalfOfFive2, Five()},
                                              {kHalfOfFive3, Five()},
                                              {kHalfOfFive1, Five()},
                                              {kHalfOfOne, InOrder({{"only.txt", "only"}})},
                                              {kSelectorZero, InOrder({{"z.txt", "z"}})},
                                              {kHostile, InOrder({{"../escape.txt", "x"},
                                                                  {hostileAbsolute, "x"},
                                                                  {"lab\\..\\..\\up.txt", "x"},
                                                                  {"ok.txt", "fine"}})},
                                              {kAssignment, InOrder({{"a.txt", "a"}})},
                                              {kOtherKind, InOrder({{"k.txt", "k"}})}},
                                             &error))
            << error;
        server::NewStudent student;
        student.course = kCourse;
        student.number = kStudent;
        student.password = "demo123";
        EXPECT_EQ(server.store().RegisterStudent(student), server::RegisterOutcome::Registered);

        auto catalogue = LoadCourseCatalogue(transactor);
        EXPECT_TRUE(catalogue && catalogue->courses.size() == 1);
        if (catalogue)
            this->catalogue = std::move(*catalogue);
        ui = ScriptedTransactionUi();
    }

    // Fills the exam folder as it was before, runs the command for `entry`, returns the folder.
    // The temporary folder beside it holds a PDF of its own, which no download may clear.
    fs::path Download(int32_t entry) {
        const fs::path folder = client.path() / "exam";
        fs::create_directories(folder);
        fs::create_directories(Temp());
        std::ofstream(Temp() / "other.pdf") << "not a question";
        for (const auto& [name, bytes] : kBefore) {
            if (name.back() == '/')
                fs::create_directories(folder / name);
            else
                std::ofstream(folder / name, std::ios::binary) << bytes;
        }
        CommandContext context{transactor, prompts, fields, &catalogue.courses.at(0),
                               {},         Temp(),  folder};
        context.selection.studentNumber = kStudent;
        context.selection.password = "demo123";
        context.selection.entryIndex = entry;
        DownloadExam(context, nullptr);
        return folder;
    }

    fs::path Temp() const { return client.path() / "temp"; }

    TempDir dir;
    TempDir client;
    InProcessServer server{dir.path(), "127.0.0.40"};
    ScriptedTransactionUi ui;
    Transactor transactor{server.endpoint(), ui};
    ScriptedPrompts prompts;
    NoMainDialog fields;
    CourseCatalogue catalogue;
    std::string hostileAbsolute;
};

} // namespace

TEST_F(ExamDownloadTest, SelectionTableWithClearingAndSubFolders) {
    const Files threeOnDisk = {{"lab/", ""},
                               {"lab/q1.txt", kThree.at("lab/q1.txt")},
                               {"lab/data.bin", kThree.at("lab\\data.bin")},
                               {"q2.pdf", kThree.at("q2.pdf")}};
    const struct {
        const char* why;
        int32_t entry;
        Files after;
        bool saved; // the success message, else the error message
    } cases[] = {
        {"E keeps all three", kAllThree, With(kBefore, threeOnDisk, kCleared), true},
        {"D selector 2 keeps files 0 and 1", kHalfOfFive2,
         With(kBefore, {{"d0.txt", "zero"}, {"d1.txt", "one"}}, kCleared), true},
        {"D selector 3 keeps files 2 to 4", kHalfOfFive3,
         With(kBefore, {{"d2.txt", "two"}, {"d3.txt", "three"}, {"d4.txt", "four"}}, kCleared),
         true},
        {"D selector 1 is in neither table", kHalfOfFive1, kBefore, false},
        {"D with one file and a first-half selector clears and keeps nothing", kHalfOfOne,
         With(kBefore, {}, kCleared), true},
        {"selector 0 leaves the folder alone", kSelectorZero, kBefore, false},
        {"no files: the server answers -12", kNoFiles, kBefore, false},
        {"another kind writes nothing", kOtherKind, kBefore, false},
    };
    for (const auto& c : cases) {
        prompts.shown.clear();
        ui = ScriptedTransactionUi();
        const fs::path folder = Download(c.entry);
        EXPECT_EQ(Tree(folder), c.after) << c.why;
        EXPECT_EQ(Tree(Temp()), (Files{{"other.pdf", "not a question"}})) << c.why;
        EXPECT_EQ(ui.titles, std::vector<std::string>{"Exam Question"}) << c.why;
        EXPECT_TRUE(ui.reported.empty()) << c.why;
        ASSERT_EQ(prompts.shown.size(), 1u) << c.why;
        EXPECT_EQ(prompts.shown[0].text,
                  c.saved ? "Your exam question has been saved in " + folder.string() : kError)
            << c.why;
        EXPECT_EQ(prompts.shown[0].buttons, Buttons::Ok);
        fs::remove_all(folder);
    }
}

TEST_F(ExamDownloadTest, AssignmentEntryDoesNothing) {
    const fs::path folder = Download(kAssignment);
    EXPECT_EQ(ui.opens, 0) << "no request for an assignment";
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(Tree(folder), kBefore);
}

TEST_F(ExamDownloadTest, HostileNamesAreRefusedAndSaid) {
    const fs::path folder = Download(kHostile);
    EXPECT_EQ(Tree(folder), With(kBefore, {{"ok.txt", "fine"}}, kCleared));
    EXPECT_FALSE(fs::exists(client.path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(client.path() / "up.txt"));
    EXPECT_FALSE(fs::exists(hostileAbsolute));
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].icon, Icon::Error);
    EXPECT_EQ(prompts.shown[0].text,
              "These files of your exam question could not be saved in " + folder.string() +
                  ":\n../escape.txt (refused: the name leads outside the folder)\n" +
                  hostileAbsolute +
                  " (refused: the name leads outside the folder)\n"
                  "lab\\..\\..\\up.txt (refused: the name leads outside the folder)\n"
                  "Please ask a TA for assistance");
}

TEST_F(ExamDownloadTest, WrongPasswordIsReportedByTheTransaction) {
    CommandContext context{
        transactor, prompts, fields, &catalogue.courses.at(0), {}, Temp(), client.path() / "exam"};
    context.selection.studentNumber = kStudent;
    context.selection.password = "wrong";
    context.selection.entryIndex = kAllThree;
    DownloadExam(context, nullptr);
    EXPECT_EQ(ui.reported, std::vector<StatusCode>{status::kWrongPassword});
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_FALSE(fs::exists(client.path() / "exam"));
}

} // namespace tallyport::test
