// Saving a marked submission: the assignNN folder, texts byte for byte, sub-folders, pictures
// for marked work only, hostile names refused, write failures reported, and the final message.
#include "marking/SaveMarked.h"
#include "support/EmfReadback.h"
#include "support/RecordingSurface.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace tallyport {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

MarkedFile File(std::string name, std::string text, ContentKind kind = ContentKind::Ascii) {
    MarkedFile file;
    file.name = std::move(name);
    file.kind = kind;
    file.tabWidth = 4;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    return file;
}

MarkedSubmission Submission(int32_t mark) {
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = mark;
    s.marking->markerId = "m1";
    return s;
}

TEST(MarkedPackageSave, TargetNamesAndSafeNames) {
    EXPECT_EQ(SaveTarget("/home/s", 3), "/home/s/assign03");
    EXPECT_EQ(SaveTarget("/home/s", 123), "/home/s/assign123");
    EXPECT_EQ(SaveTarget("/a\\b", 0), "/a\\b/assign00"); // the chosen folder is kept as it is
    const struct {
        const char* name;
        bool safe;
    } cases[] = {{"a.c", true},           {"src/main.src", true},
                 {"src\\main.src", true}, {"..a/b..", true},
                 {"./x", true},           {"...", true},
                 {"../x", false},         {"a/../../x", false},
                 {"a\\..\\x", false},     {"a/..", false},
                 {"..", false},           {"/etc/passwd", false},
                 {"\\x", false},          {"", false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeSaveName(c.name), c.safe) << c.name;
    EXPECT_FALSE(IsSafeSaveName(std::string_view("x/..\0.c", 7)));
}

TEST(MarkedPackageSave, MarkedWorkSavesTextsExactlyAndOnePicturePerFile) {
    test::ScopedPageScales scales;
    TempDir dir;
    MarkedSubmission s = Submission(7);
    const std::string binary("\0\x01\r\n\xff\n", 6);
    s.files.push_back(File("main.src", "int main()\r\n{\r\n}\n\x1a"));
    s.files.push_back(File("src\\lib/util.c", "a\tb\n", ContentKind::Normalised));
    s.files.push_back(File("data.bin", binary, ContentKind::NonAscii));
    s.files[0].PushAnnotation(std::make_unique<CommentNode>(0, 0, 0, 0, "good"));
    s.fileCount = 3;

    const SaveResult result = SaveMarkedSubmission(s, dir.path().string(), 4);
    EXPECT_TRUE(result.problems.empty());
    const fs::path target = dir.path() / "assign04";
    EXPECT_EQ(result.target, target.string());
    EXPECT_EQ(ReadFile(target / "main.src"), "int main()\r\n{\r\n}\n\x1a");
    EXPECT_EQ(ReadFile(target / "src/lib/util.c"), "a\tb\n");
    EXPECT_EQ(ReadFile(target / "data.bin"), binary);
    for (const char* picture : {"main.src.emf", "src/lib/util.c.emf", "data.bin.emf"})
        EXPECT_TRUE(test::HasEmfHeader(ReadFile(target / picture))) << picture;
    const auto page = test::ReadEmf(target / "data.bin.emf");
    ASSERT_TRUE(page);
    ASSERT_EQ(page->texts.size(), 1u);
    EXPECT_EQ(page->texts[0].text, kNonAsciiNotice);
    EXPECT_EQ(SaveResultMessage(result),
              "Your submitted files have been saved in " + target.string());

    // Saving again replaces what was written.
    s.files[0] = File("main.src", "short");
    EXPECT_TRUE(SaveMarkedSubmission(s, dir.path().string(), 4).problems.empty());
    EXPECT_EQ(ReadFile(target / "main.src"), "short");
}

TEST(MarkedPackageSave, UnmarkedWorkSavesTextsOnly) {
    TempDir dir;
    for (const bool withRecord : {true, false}) {
        MarkedSubmission s = withRecord ? Submission(kNotMarked) : MarkedSubmission();
        s.files.push_back(File("only.c", "x"));
        const SaveResult result = SaveMarkedSubmission(s, dir.path().string(), 0);
        EXPECT_TRUE(result.problems.empty());
        EXPECT_EQ(ReadFile(dir.path() / "assign00/only.c"), "x");
        EXPECT_FALSE(fs::exists(dir.path() / "assign00/only.c.emf"));
        EXPECT_EQ(SaveResultMessage(result),
                  "Your submitted file has been saved in " + (dir.path() / "assign00").string());
    }
}

TEST(MarkedPackageSave, HostileNamesAreRefusedAndFailuresReported) {
    test::ScopedPageScales scales;
    TempDir dir;
    const fs::path chosen = dir.path() / "chosen";
    fs::create_directories(chosen / "assign01");
    std::ofstream(chosen / "assign01" / "blocked") << "a file where a folder is needed";
    MarkedSubmission s = Submission(5);
    s.files.push_back(File("../escaped.c", "evil"));
    s.files.push_back(File("a\\..\\..\\escaped2.c", "evil"));
    s.files.push_back(File("/tmp/absolute.c", "evil"));
    s.files.push_back(File("blocked/inside.c", "lost"));
    s.files.push_back(File("fine.c", "kept"));
    s.files.emplace_back(); // a file whose record never arrived
    s.files.back().name = "late.c";

    const SaveResult result = SaveMarkedSubmission(s, chosen.string(), 1);
    EXPECT_FALSE(fs::exists(chosen / "escaped.c"));
    EXPECT_FALSE(fs::exists(dir.path() / "escaped2.c"));
    EXPECT_FALSE(fs::exists(chosen / "escaped2.c"));
    EXPECT_EQ(ReadFile(chosen / "assign01/fine.c"), "kept");
    EXPECT_TRUE(fs::exists(chosen / "assign01/fine.c.emf"));
    EXPECT_TRUE(fs::exists(chosen / "assign01/late.c.emf")); // its page shows the file-error notice

    std::vector<std::string> names;
    for (const SaveProblem& p : result.problems)
        names.push_back(p.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"../escaped.c", "a\\..\\..\\escaped2.c", "/tmp/absolute.c",
                                        "blocked/inside.c", "late.c", "blocked/inside.c.emf"}));
    const std::string message = SaveResultMessage(result);
    EXPECT_EQ(message.rfind("Some of your submitted files could not be saved in " +
                                (chosen / "assign01").string() + ":\n../escaped.c: refused",
                            0),
              0u)
        << message;
    EXPECT_NE(message.find("\nlate.c: its text did not arrive in full"), std::string::npos);
    EXPECT_NE(message.find("\nblocked/inside.c: Not a directory"), std::string::npos);
}

// After a package cut short, the files that never arrived are told as such, by number, never
// as names refused; a file whose text stopped short is told by its name.
TEST(MarkedPackageSave, FilesThatNeverArrivedAreToldSo) {
    test::ScopedPageScales scales;
    TempDir dir;
    for (const int32_t count : {3, 5}) {
        MarkedSubmission s = Submission(5);
        s.fileCount = count;
        s.files.push_back(File("whole.c", "kept"));
        s.files.emplace_back().name = "short.c"; // its head arrived, its text did not
        const SaveResult result = SaveMarkedSubmission(s, dir.path().string(), 2);
        EXPECT_EQ(ReadFile(dir.path() / "assign02/whole.c"), "kept");
        const std::string message = SaveResultMessage(result);
        EXPECT_EQ(message.find("refused"), std::string::npos) << message;
        const std::string missing = count == 3 ? "\nFile #3: nothing arrived for it"
                                               : "\nFiles #3 to #5: nothing arrived for them";
        EXPECT_EQ(message, "Some of your submitted files could not be saved in " +
                               (dir.path() / "assign02").string() +
                               ":\nshort.c: its text did not arrive in full" + missing);
    }
}

TEST(MarkedPackageSave, MakePathFoldersCreatesEveryFolderOfTheName) {
    TempDir dir;
    const fs::path path = MakePathFolders(dir.path() / "t", "a\\b/c/name.txt");
    EXPECT_EQ(path, dir.path() / "t/a/b/c/name.txt");
    EXPECT_TRUE(fs::is_directory(dir.path() / "t/a/b/c"));
    EXPECT_FALSE(fs::exists(path)); // the name part is not created
}

} // namespace
} // namespace tallyport
