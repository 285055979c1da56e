// The private temporary folder: made 0700, refused when it is a link, not a folder or someone
// else's; temporary files made 0600 and removed by their guard.
#include "protocol/TempFolder.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace tallyport;
namespace fs = std::filesystem;

namespace {

mode_t Mode(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

} // namespace

TEST(TempFolder, DefaultFolderIsPerUser) {
    EXPECT_EQ(DefaultTempFolder(), fs::path("/tmp/tallyport-" + std::to_string(::getuid())));
}

TEST(TempFolder, IsCreatedPrivateAndMadePrivateWhenOpen) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "tmp";
    EXPECT_FALSE(PrepareTempFolder(folder).has_value());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_FALSE(PrepareTempFolder(folder).has_value()); // already there: fine

    ::chmod(folder.c_str(), 0777);
    EXPECT_FALSE(PrepareTempFolder(folder).has_value());
    EXPECT_EQ(Mode(folder), 0700u);
}

TEST(TempFolder, RefusesLinksFilesAndOtherUsersFolders) {
    test::TempDir dir;
    const fs::path real = dir.path() / "real";
    fs::create_directory(real);
    const fs::path link = dir.path() / "link";
    fs::create_directory_symlink(real, link);
    EXPECT_TRUE(PrepareTempFolder(link).has_value());
    EXPECT_FALSE(MakeTempFile(link).has_value());
    EXPECT_TRUE(fs::is_empty(real)); // nothing was made through the link

    const fs::path file = dir.path() / "file";
    std::ofstream(file) << "x";
    EXPECT_TRUE(PrepareTempFolder(file).has_value());

    EXPECT_TRUE(PrepareTempFolder(dir.path() / "missing" / "deeper").has_value());

    if (::getuid() != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    const fs::path theirs = dir.path() / "theirs";
    fs::create_directory(theirs);
    ::chmod(theirs.c_str(), 0700);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    const auto refusal = PrepareTempFolder(theirs);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("another user"), std::string::npos);
}

TEST(TempFolder, TempFilesArePrivateUniqueAndRemovedByTheirGuard) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "tmp";
    std::set<fs::path> made;
    for (int i = 0; i < 5; ++i) {
        const auto file = MakeTempFile(folder);
        ASSERT_TRUE(file.has_value());
        EXPECT_EQ(file->parent_path(), folder);
        const std::string name = file->filename().string();
        EXPECT_EQ(name.size(), 8u);
        EXPECT_EQ(name.substr(0, 2), "MK");
        EXPECT_TRUE(fs::is_regular_file(*file));
        EXPECT_EQ(fs::file_size(*file), 0u);
        EXPECT_EQ(Mode(*file), 0600u);
        made.insert(*file);
    }
    EXPECT_EQ(made.size(), 5u);
    EXPECT_EQ(Mode(folder), 0700u);

    const fs::path guarded = *made.begin();
    { TempFileGuard guard(guarded); }
    EXPECT_FALSE(fs::exists(guarded));
    { TempFileGuard alreadyGone(guarded); } // removing what is gone is not an error
}
