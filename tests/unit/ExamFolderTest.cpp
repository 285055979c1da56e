// The exam folder: in the student's home folder (so it outlives a restart and can be found), not
// under /tmp, made with its parents and kept private to the user.
#include "exam/ExamFolder.h"

#include "protocol/TempFolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <pwd.h>
#include <sys/stat.h> // chmod
#include <unistd.h>

using namespace tallyport;
namespace fs = std::filesystem;

namespace {

unsigned Mode(const fs::path& path) {
    return unsigned(fs::symlink_status(path).permissions() & fs::perms::mask);
}

} // namespace

TEST(ExamFolder, DefaultIsInTheHomeFolderAndNotInTheTemporaryOne) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const fs::path folder = DefaultExamFolder();
    EXPECT_EQ(folder, fs::path(user->pw_dir) / "Tallyport" / "exam");
    EXPECT_NE(folder.string().rfind("/tmp/", 0), 0u) << folder;
    EXPECT_NE(folder.string().rfind(DefaultTempFolder().string(), 0), 0u) << folder;
}

TEST(ExamFolder, IsMadeWithItsParentsAndKeptPrivate) {
    test::TempDir dir;
    const fs::path home = dir.path() / "home";
    fs::create_directory(home);
    ::chmod(home.c_str(), 0755);
    const fs::path folder = home / "Tallyport" / "exam";
    EXPECT_FALSE(PrepareExamFolder(folder).has_value());
    EXPECT_EQ(Mode(home), 0755u) << "a parent that was there is left as it is";
    EXPECT_EQ(Mode(home / "Tallyport"), 0700u);
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_FALSE(PrepareExamFolder(folder).has_value()) << "already there: fine";

    ::chmod(folder.c_str(), 0755);
    EXPECT_FALSE(PrepareExamFolder(folder).has_value());
    EXPECT_EQ(Mode(folder), 0700u) << "opened to others: made private again";
}

TEST(ExamFolder, LinkOrFileInItsPlaceIsRefused) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "elsewhere");
    fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "link");
    EXPECT_TRUE(PrepareExamFolder(dir.path() / "link").has_value());
    std::ofstream(dir.path() / "file") << "x";
    EXPECT_TRUE(PrepareExamFolder(dir.path() / "file").has_value());
    EXPECT_TRUE(PrepareExamFolder(dir.path() / "file" / "exam").has_value());
}
