#include "exam/ExamFolder.h"

#include "protocol/TempFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace tallyport {
namespace {

std::filesystem::path HomeFolder() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return {};
    return found->pw_dir;
}

} // namespace

std::filesystem::path DefaultExamFolder() {
    const std::filesystem::path home = HomeFolder();
    if (home.empty())
        return DefaultTempFolder() / "exam";
    return home / "Tallyport" / "exam";
}

std::optional<std::string> PrepareExamFolder(const std::filesystem::path& folder) {
    // Parents first, outermost first; ones that exist are left as they are.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path p = folder.parent_path(); !p.empty() && p != p.root_path();
         p = p.parent_path()) {
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(p, error)))
            break;
        missing.push_back(p);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        ::mkdir(it->c_str(), 0700); // a failure shows when the folder itself is made
    return PrepareTempFolder(folder);
}

} // namespace tallyport
