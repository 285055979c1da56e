// The server holds an upload to the file rules of its entry: the function on a table of
// packages, then the real server over loopback refusing a nonconforming upload and storing
// nothing, and taking what the client itself builds for the demo entries.
#include "ServerTestHelpers.h"

#include "student/UploadRules.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionPackage.h"
#include "submission/SubmitRequests.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tallyport::test {
namespace {

struct File {
    std::string name;
    char kind;
};

struct RuleCase {
    const char* what;
    const char* types;
    const char* requirement;
    std::vector<File> files;
    const char* broken; // nullptr: the upload keeps the rules; else a part of the rule text
    bool sizeLimited = false;
    int64_t size = 1000;
};

constexpr const char* kC = "C Source,c,F,4/Header,h,F,4";
constexpr const char* kAny = "C Source,c,F,4/Header,h,F,4/Text,txt,A,8/Data,dat,B,8";
constexpr const char* kJava = "Java Source,java,T,2/Text,txt,A,8/Image,png,B,8";

const RuleCase kCases[] = {
    // Named files: exactly the required names, in slot order, as written.
    {"named file present", kC, "S,hello.c", {{"hello.c", 'F'}}, nullptr},
    {"another name",
     kC,
     "S,hello.c",
     {{"README.txt", 'A'}},
     "entry requires hello.c; the upload has README.txt"},
    {"name in other case", kC, "S,hello.c", {{"HELLO.C", 'F'}}, "entry requires hello.c"},
    {"every named file",
     kC,
     "S,main.c,list.c,list.h",
     {{"main.c", 'F'}, {"list.c", 'F'}, {"list.h", 'F'}},
     nullptr},
    {"one named file missing",
     kC,
     "S,main.c,list.c,list.h",
     {{"main.c", 'F'}, {"list.c", 'F'}},
     "entry requires main.c, list.c, list.h; the upload has main.c, list.c"},
    {"named file added",
     kC,
     "S,main.c",
     {{"main.c", 'F'}, {"extra.c", 'F'}},
     "the upload has main.c, extra.c"},
    {"no file for a named list", kC, "S,main.c", {}, "the upload has no file"},
    {"backslash in a required name", kC, "S,lib\\util.c", {{"lib/util.c", 'F'}}, nullptr},
    {"named file of wrong kind",
     kC,
     "S,main.c",
     {{"main.c", 'A'}},
     "kind A where the type table gives F"},
    {"named file outside the table", kC, "S,notes.md", {{"notes.md", 'A'}}, nullptr},
    {"named list without names is one file", kC, "S", {{"any.h", 'F'}}, nullptr},
    // One file: its extension in the type table, compared without regard to case.
    {"single file", kC, "F,c", {{"hello.c", 'F'}}, nullptr},
    {"single file, extension in capitals", kC, "F,c", {{"HELLO.C", 'F'}}, nullptr},
    {"single file of another listed type", kC, "F,c", {{"hello.h", 'F'}}, nullptr},
    {"single file outside the table",
     kC,
     "F,c",
     {{"README.txt", 'A'}},
     "file README.txt: extension \"txt\" not in the type table"},
    {"single file without extension",
     kC,
     "F,c",
     {{"Makefile", 'A'}},
     "extension \"\" not in the type table"},
    {"two files for one",
     kC,
     "F,c",
     {{"a.c", 'F'}, {"b.c", 'F'}},
     "entry takes exactly one file; the upload has 2"},
    {"no file for one", kC, "F,c", {}, "entry takes exactly one file; the upload has 0"},
    {"empty type table takes nothing", "", "", {{"a.txt", 'A'}}, "not in the type table"},
    {"\"*\" is an extension, not a wildcard",
     "Anything",
     "F",
     {{"a.c", 'A'}},
     "not in the type table"},
    {"\"*\" matches a name ending in .*", "Anything", "F", {{"a.*", 'A'}}, nullptr},
    // Any files of the table's types, at least one, each of its table kind.
    {"several files",
     kAny,
     "M,c,h,txt,dat",
     {{"a.c", 'F'}, {"a.h", 'F'}, {"notes.txt", 'A'}, {"d.dat", 'B'}},
     nullptr},
    {"listed type the requirement omits", kAny, "M,c", {{"notes.txt", 'A'}}, nullptr},
    {"no file for any files",
     kAny,
     "M,c,h,txt,dat",
     {},
     "entry takes at least one file; the upload has none"},
    {"one file outside the table",
     kAny,
     "M,c,h,txt,dat",
     {{"a.c", 'F'}, {"run.exe", 'B'}},
     "file run.exe: extension \"exe\" not in the type table"},
    {"binary sent as text",
     kAny,
     "M,c,h,txt,dat",
     {{"d.dat", 'A'}},
     "file d.dat: kind A where the type table gives B"},
    {"text sent as binary", kAny, "M,c,h,txt,dat", {{"a.c", 'B'}}, "kind B where"},
    {"later table entry wins", "Text,txt,A,8/Notes,txt,B,8", "M", {{"n.txt", 'B'}}, nullptr},
    // A project folder: the table's types that the requirement permits.
    {"project folder", kJava, "D", {{"src/Main.java", 'F'}, {"logo.png", 'B'}}, nullptr},
    {"project folder, permitted only",
     kJava,
     "D,java,txt",
     {{"logo.png", 'B'}},
     "file logo.png: extension \"png\" not permitted by the entry"},
    {"project folder outside the table",
     kJava,
     "D",
     {{"build/Main.class", 'B'}},
     "extension \"class\" not in the type table"},
    {"empty project folder", kJava, "D", {}, "at least one file"},
    // The size limit counts the whole package.
    {"at the size limit", kAny, "M", {{"d.dat", 'B'}}, nullptr, true, 1048576},
    {"over the size limit",
     kAny,
     "M",
     {{"d.dat", 'B'}},
     "package of 1048577 bytes over the size limit of 1048576",
     true,
     1048577},
    {"no size limit", kAny, "M", {{"d.dat", 'B'}}, nullptr, false, 5000000},
};

TEST(UploadRules, EachRuleOnATableOfPackages) {
    for (const RuleCase& c : kCases) {
        server::EntryDefinition entry;
        entry.typeTable = c.types;
        entry.requirement = c.requirement;
        entry.sizeLimited = c.sizeLimited;
        server::ParsedPackage package;
        for (const File& file : c.files) {
            server::StoredFile stored;
            stored.name = file.name;
            stored.kind = file.kind;
            package.files.push_back(stored);
        }
        const auto broken = server::BrokenUploadRule(entry, package, c.size);
        if (c.broken == nullptr) {
            EXPECT_FALSE(broken) << c.what << ": " << *broken;
        } else {
            ASSERT_TRUE(broken) << c.what;
            EXPECT_NE(broken->find(c.broken), std::string::npos) << c.what << ": " << *broken;
        }
    }
}

constexpr std::string_view kHelloCourse = R"(
number = 5000
name = "Rules"
[[component]]
name = "A"
elements = 1
sections = 1
types = "C Source,c,F,4/Text,txt,A,8"
requirement = "S,hello.c"
deadline = 2099-12-31T23:59:00Z
[[component.entry]]
label = "Hello"
)";

class UploadRulesServer : public ::testing::Test {
protected:
    void Register(int32_t course, int32_t number, const char* password) {
        server::NewStudent student;
        student.course = course;
        student.number = number;
        student.password = password;
        ASSERT_EQ(server.store().RegisterStudent(student), server::RegisterOutcome::Registered);
    }

    TempDir dir;
    InProcessServer server{dir.path(), "127.0.0.9"};
};

TEST_F(UploadRulesServer, UploadBreakingTheEntryRulesIsRefusedAndNotStored) {
    server.LoadCourse(kHelloCourse);
    Register(5000, 100000050, "pw5000");

    const std::string readme = PackageOf({{"README.txt", 'A', 8, "read me\r\n"}});
    auto refused = Exchange(server.endpoint(), Upload(5000, 100000050, "pw5000", 0, readme));
    EXPECT_EQ(refused.status, status::kServerError);
    EXPECT_FALSE(refused.reply);
    EXPECT_TRUE(server.store().ListSubmissions().empty());

    const std::string hello = PackageOf({{"hello.c", 'F', 4, "int main(void) { return 0; }\r\n"}});
    auto stored = Exchange(server.endpoint(), Upload(5000, 100000050, "pw5000", 0, hello));
    ASSERT_EQ(stored.status, 0);
    ASSERT_TRUE(stored.reply);
    const int32_t serial = stored.reply->ReadInt();
    EXPECT_EQ(server.store().PackageBytes(serial), hello);
    EXPECT_EQ(server.store().ListSubmissions().size(), 1u);
}

// What the client builds for each open demo entry, from the File List reply the server gives
// and files on disk loaded by the client's own loader, is taken.
TEST_F(UploadRulesServer, PackagesTheClientBuildsForTheDemoAreTaken) {
    server.LoadDemo();
    const struct {
        int32_t entry;
        std::vector<std::string> files;
    } demo[] = {
        {2, {"main.c", "list.h", "notes.txt", "data.dat"}},
        {8, {"lab.py", "README.txt"}},
        {10, {"answers.txt"}},
    };
    for (const auto& d : demo) {
        auto list = Exchange(server.endpoint(), FileList(3101, 123456, "demo123", d.entry));
        ASSERT_TRUE(list.reply) << d.entry;
        const auto fields = ReadFileListReply(*list.reply);
        ASSERT_TRUE(fields) << d.entry;
        const RequiredFileSet set = BuildRequiredFileSet(
            fields->typeTable, fields->requirement, fields->sizeFlag, "demo123", 123456, d.entry);
        SubmissionEntries entries;
        for (const std::string& name : d.files) {
            std::ofstream(dir.path() / name, std::ios::binary) << "line one\nline two";
            entries.push_back(LoadSubmissionFile(dir.path().string(), name, set, 0));
            ASSERT_TRUE(entries.back()) << name;
        }
        const std::string package = PackageBytes(entries);
        auto upload =
            Exchange(server.endpoint(), Upload(3101, 123456, "demo123", d.entry, package));
        EXPECT_EQ(upload.status, 0) << "entry " << d.entry;
    }
}

} // namespace
} // namespace tallyport::test
