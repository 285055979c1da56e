// Splits a chosen path into its folder and file name at the last "/" or backslash.
#pragma once

#include <string>
#include <string_view>

namespace tallyport {

struct SplitPathResult {
    std::string folder;
    std::string fileName;
};

// No separator: folder "." and the whole path. The only separator first: empty folder and the
// whole path.
SplitPathResult SplitPath(std::string_view path);

} // namespace tallyport
