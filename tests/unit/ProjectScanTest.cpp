#include "submission/ProjectScan.h"

#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace tallyport {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Names(const ProjectScan& scan) {
    std::vector<std::string> names;
    for (const SubmissionFile& file : scan.files)
        names.push_back(file.name);
    return names;
}

class ProjectScanTest : public testing::Test {
protected:
    ProjectScanTest() {
        WriteFile(root() / "b.src", "b\n");
        WriteFile(root() / "a" / "x.src", "x");
        WriteFile(root() / "a" / "y.txt", "y1\ny2");
        WriteFile(root() / "a" / "deep" / "z.src", "z");
        WriteFile(root() / "c.src", "c");
        WriteFile(root() / "notes.doc", "not a listed type");
        WriteFile(root() / "Makefile", "no extension");
    }
    fs::path root() const { return dir.path() / "project"; }
    test::TempDir dir;
};

TEST_F(ProjectScanTest, DepthFirstInNameOrderWithRelativeNames) {
    const auto set = BuildRequiredFileSet("Source,src,A,4/Text,txt,T", "D", 0, "", 0, 0);
    const ProjectScan scan = ScanProjectFolder(set, root().string());
    EXPECT_EQ(Names(scan),
              (std::vector<std::string>{"a/deep/z.src", "a/x.src", "a/y.txt", "b.src", "c.src"}));
    EXPECT_TRUE(scan.unreadable.empty());
    // Each file is loaded by its own type: y.txt has its line ends rewritten, b.src is as read.
    EXPECT_EQ(scan.files[2].content, "y1\r\ny2\r\n");
    EXPECT_EQ(scan.files[2].contentKind, ContentKind::Normalised);
    EXPECT_EQ(scan.files[2].tabWidth, 8);
    EXPECT_EQ(scan.files[3].content, "b\n");
    EXPECT_EQ(scan.files[3].tabWidth, 4);
}

TEST_F(ProjectScanTest, OnlyPermittedExtensionsAreTaken) {
    const auto set = BuildRequiredFileSet("Source,src,A,4/Text,txt,T", "D,SRC", 0, "", 0, 0);
    const ProjectScan scan = ScanProjectFolder(set, root().string());
    EXPECT_EQ(Names(scan), (std::vector<std::string>{"a/deep/z.src", "a/x.src", "b.src", "c.src"}));
}

TEST_F(ProjectScanTest, LinksBackUpTheTreeDoNotLoop) {
    fs::create_directory_symlink("..", root() / "a" / "deep" / "up");
    fs::create_directory_symlink(root(), root() / "a" / "root");
    const auto set = BuildRequiredFileSet("Source,src,A,4", "D", 0, "", 0, 0);
    const ProjectScan scan = ScanProjectFolder(set, root().string());
    EXPECT_EQ(Names(scan), (std::vector<std::string>{"a/deep/z.src", "a/x.src", "b.src", "c.src"}));
}

TEST_F(ProjectScanTest, LinkedFolderElsewhereIsScannedUnderItsLinkName) {
    WriteFile(dir.path() / "shared" / "lib.src", "lib");
    fs::create_directory_symlink(dir.path() / "shared", root() / "shared");
    const auto set = BuildRequiredFileSet("Source,src,A,4", "D", 0, "", 0, 0);
    const ProjectScan scan = ScanProjectFolder(set, root().string());
    EXPECT_EQ(Names(scan), (std::vector<std::string>{"a/deep/z.src", "a/x.src", "b.src", "c.src",
                                                     "shared/lib.src"}));
}

TEST_F(ProjectScanTest, UnreadableFilesAreLeftOutAndNamed) {
    // Running as root ignores permissions, so a dangling link and a pipe stand for files that
    // cannot be read. The pipe must not block the scan.
    fs::create_symlink(dir.path() / "missing.src", root() / "a" / "gone.src");
    ASSERT_EQ(::mkfifo((root() / "pipe.src").c_str(), 0600), 0);
    ::mkfifo((root() / "pipe.doc").c_str(), 0600); // not a wanted type: skipped silently
    const auto set = BuildRequiredFileSet("Source,src,A,4", "D", 0, "", 0, 0);
    const ProjectScan scan = ScanProjectFolder(set, root().string());
    EXPECT_EQ(Names(scan), (std::vector<std::string>{"a/deep/z.src", "a/x.src", "b.src", "c.src"}));
    EXPECT_EQ(scan.unreadable, (std::vector<std::string>{"a/gone.src", "pipe.src"}));
}

TEST_F(ProjectScanTest, NamesWithCommasAndControlCharactersAreMadeSafe) {
    WriteFile(root() / "x,y" / "a,b.src", "ab");
    WriteFile(root() / "line\nbreak.src", "lb");
    const auto set = BuildRequiredFileSet("Source,src,A,4", "D", 0, "", 0, 0);
    const ProjectScan scan = ScanProjectFolder(set, root().string());
    const auto names = Names(scan);
    EXPECT_NE(std::find(names.begin(), names.end(), "x_y/a_b.src"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "line_break.src"), names.end());
}

TEST_F(ProjectScanTest, MissingRootIsReported) {
    const auto set = BuildRequiredFileSet("Source,src,A,4", "D", 0, "", 0, 0);
    const std::string missing = (dir.path() / "nowhere").string();
    const ProjectScan scan = ScanProjectFolder(set, missing);
    EXPECT_TRUE(scan.files.empty());
    EXPECT_EQ(scan.unreadable, std::vector<std::string>{missing});
}

TEST(ChooseProjectFolderTest, AsksForAFolderWithItsTitle) {
    test::ScriptedPrompts prompts;
    prompts.folders = {std::string("/some/where"), std::nullopt};
    EXPECT_EQ(ChooseProjectFolder(prompts), "/some/where");
    EXPECT_EQ(ChooseProjectFolder(prompts), std::nullopt);
    EXPECT_EQ(prompts.folderTitles,
              (std::vector<std::string>{"Select the root folder of your project",
                                        "Select the root folder of your project"}));
}

} // namespace
} // namespace tallyport
