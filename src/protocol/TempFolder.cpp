#include "protocol/TempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallyport {

std::filesystem::path DefaultTempFolder() {
    return std::filesystem::path("/tmp") / ("tallyport-" + std::to_string(::getuid()));
}

std::optional<std::string> PrepareTempFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create " + folder.string() + ": " + std::strerror(errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return "cannot examine " + folder.string() + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return folder.string() + " is not a folder (it may be a link planted by someone else)";
    if (st.st_uid != ::getuid())
        return folder.string() + " belongs to another user";
    if ((st.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return folder.string() + " is open to other users and cannot be made private";
    return std::nullopt;
}

std::optional<std::filesystem::path> MakeTempFile(const std::filesystem::path& folder) {
    if (PrepareTempFolder(folder))
        return std::nullopt;
    std::string name = (folder / "MKXXXXXX").string();
    const int fd = ::mkstemp(name.data()); // creates the file 0600, O_EXCL
    if (fd < 0)
        return std::nullopt;
    ::close(fd);
    return std::filesystem::path(name);
}

TempFileGuard::~TempFileGuard() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

} // namespace tallyport
