#include "exam/ExamFiles.h"

#include "support/TempDir.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace tallyport;
namespace fs = std::filesystem;

namespace {

std::span<const std::byte> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

// Every entry under `root`, relative, folders ending in '/'.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out.insert(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    return out;
}

} // namespace

TEST(ExamFiles, ClearRemovesOnlyTheFolderOwnFilesOfThatExtension) {
    test::TempDir dir;
    const fs::path f = dir.path();
    for (const char* name : {"old.pdf", "OLD.EXE", "Mixed.PdF", ".pdf", "notes.txt", "pdf",
                             "a.pdf.txt", "a.pdfx", "sub/inner.pdf", "run.exe"})
        test::WriteFile(f / name, "x");
    fs::create_directories(f / "x.pdf");
    test::WriteFile(f / "x.pdf" / "keep.txt", "x");
    fs::create_symlink(f / "notes.txt", f / "link.pdf");

    ClearTempFiles(f, "PDF");
    ClearTempFiles(f, "EXE");
    EXPECT_EQ(Tree(f), (std::set<std::string>{"notes.txt", "pdf", "a.pdf.txt", "a.pdfx", "sub/",
                                              "sub/inner.pdf", "x.pdf/", "x.pdf/keep.txt"}));
    EXPECT_EQ(test::ReadFile(f / "notes.txt"), "x") << "removing a link leaves its target";
}

TEST(ExamFiles, ClearDoesNothingWithoutFolderOrExtension) {
    test::TempDir dir;
    test::WriteFile(dir.path() / "a.pdf", "x");
    test::WriteFile(dir.path() / "b.", "x");
    ClearTempFiles(dir.path(), "");
    ClearTempFiles("", "PDF");
    ClearTempFiles(dir.path() / "missing", "PDF");
    EXPECT_EQ(Tree(dir.path()), (std::set<std::string>{"a.pdf", "b."}));
}

TEST(ExamFiles, PathStaysInsideTheFolderAndNamesAFile) {
    const fs::path f = "/exam";
    constexpr auto kOutside = ExamNameFault::LeadsOutside;
    constexpr auto kNoFile = ExamNameFault::NamesNoFile;
    const struct {
        const char* name;
        const char* path;    // nullptr: refused
        ExamNameFault fault; // why, when refused
    } cases[] = {
        {"q1.txt", "/exam/q1.txt", {}},
        {"lab/q1.txt", "/exam/lab/q1.txt", {}},
        {"lab\\q1.txt", "/exam/lab/q1.txt", {}},
        {"a\\b/c.pdf", "/exam/a/b/c.pdf", {}},
        {"a//b", "/exam/a/b", {}},
        {"./a/./b", "/exam/a/b", {}},
        {"...", "/exam/...", {}},
        {"..a/b..", "/exam/..a/b..", {}},
        {"C:x.txt", "/exam/C:x.txt", {}},
        {"/etc/passwd", nullptr, kOutside},
        {"\\etc\\passwd", nullptr, kOutside},
        {"..", nullptr, kOutside},
        {"../x", nullptr, kOutside},
        {"..\\x", nullptr, kOutside},
        {"lab/../../x", nullptr, kOutside},
        {"lab\\..", nullptr, kOutside},
        {"../", nullptr, kOutside}, // outside first, though it names no file either
        {"", nullptr, kNoFile},
        {".", nullptr, kNoFile},
        {"lab/", nullptr, kNoFile},
        {"lab\\", nullptr, kNoFile},
        {"lab/.", nullptr, kNoFile},
        {"lab//", nullptr, kNoFile},
    };
    for (const auto& c : cases) {
        const ExamFilePlace place = ExamFilePath(f, c.name);
        if (c.path) {
            ASSERT_TRUE(place.path) << c.name;
            EXPECT_EQ(place.path->string(), c.path) << c.name;
        } else {
            EXPECT_FALSE(place.path) << c.name << " -> " << place.path->string();
            EXPECT_EQ(place.fault, c.fault) << c.name;
        }
    }
}

TEST(ExamFiles, WriteCreatesFoldersAndKeepsBytesAsTheyAre) {
    test::TempDir dir;
    const std::string bytes("line\r\nnext\n\0\x1A\xFF", 14);
    ASSERT_TRUE(WriteExamFile(dir.path() / "lab" / "deep" / "q1.txt", AsBytes(bytes)));
    EXPECT_EQ(test::ReadFile(dir.path() / "lab" / "deep" / "q1.txt"), bytes);

    test::WriteFile(dir.path() / "old.txt", "a much longer old content");
    ASSERT_TRUE(WriteExamFile(dir.path() / "old.txt", AsBytes("new")));
    EXPECT_EQ(test::ReadFile(dir.path() / "old.txt"), "new");

    ASSERT_TRUE(WriteExamFile(dir.path() / "empty.txt", {}));
    EXPECT_TRUE(fs::is_regular_file(dir.path() / "empty.txt"));
    EXPECT_EQ(fs::file_size(dir.path() / "empty.txt"), 0u);
}

TEST(ExamFiles, WriteReportsWhatCannotBeWritten) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "taken");
    test::WriteFile(dir.path() / "plain", "x");
    EXPECT_FALSE(WriteExamFile(dir.path() / "taken", AsBytes("x"))) << "a folder is in the way";
    EXPECT_FALSE(WriteExamFile(dir.path() / "plain" / "q.txt", AsBytes("x")))
        << "a file is in the way of the sub-folder";
    EXPECT_EQ(test::ReadFile(dir.path() / "plain"), "x");
}
