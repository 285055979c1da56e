#include "submission/SplitPath.h"

#include <gtest/gtest.h>

namespace tallyport {
namespace {

TEST(SplitPathTest, SplitsAtTheLaterOfTheLastSlashAndBackslash) {
    const struct {
        const char* path;
        const char* folder;
        const char* fileName;
    } cases[] = {
        {"/home/s/main.src", "/home/s", "main.src"},
        {"C:\\work\\a.src", "C:\\work", "a.src"},
        {"dir/sub\\a.src", "dir/sub", "a.src"},
        {"dir\\sub/a.src", "dir\\sub", "a.src"},
        {"a.src", ".", "a.src"},
        {"", ".", ""},
        {"dir/", "dir", ""},
        {"d/a b,c.src", "d", "a b,c.src"},
        // The only separator first: no folder, and the file name keeps it.
        {"/a.src", "", "/a.src"},
        {"\\a.src", "", "\\a.src"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const SplitPathResult split = SplitPath(c.path);
        EXPECT_EQ(split.folder, c.folder);
        EXPECT_EQ(split.fileName, c.fileName);
    }
}

} // namespace
} // namespace tallyport
