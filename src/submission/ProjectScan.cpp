#include "submission/ProjectScan.h"

#include "submission/LoadSubmissionFile.h"
#include "ui/Prompts.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace tallyport {
namespace {

class FolderScanner {
public:
    FolderScanner(const RequiredFileSet& set, const std::string& root) : set_(set), root_(root) {}

    ProjectScan Run() {
        Scan(root_, "");
        return std::move(result_);
    }

private:
    bool Wanted(std::string_view name) const {
        const std::string_view extension = ExtensionOf(name);
        return set_.FindFileType(extension) != nullptr && set_.IsExtensionPermitted(extension);
    }

    void Scan(const std::string& folder, const std::string& relative) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) {
            result_.unreadable.push_back(relative.empty() ? folder : relative);
            return;
        }
        if (!visited_.insert({st.st_dev, st.st_ino}).second)
            return;
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            names.push_back(it->path().filename().string());
        if (error) {
            result_.unreadable.push_back(relative.empty() ? folder : relative);
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = folder + "/" + name;
            const std::string relativePath = relative.empty() ? name : relative + "/" + name;
            struct stat entry {};
            const bool known = ::stat(path.c_str(), &entry) == 0;
            if (known && S_ISDIR(entry.st_mode)) {
                Scan(path, relativePath);
                continue;
            }
            if (!Wanted(name))
                continue;
            std::optional<SubmissionFile> file;
            if (known && S_ISREG(entry.st_mode))
                file = LoadSubmissionFile(root_, relativePath, set_, 0);
            if (file)
                result_.files.push_back(std::move(*file));
            else
                result_.unreadable.push_back(relativePath);
        }
    }

    const RequiredFileSet& set_;
    const std::string& root_;
    std::set<std::pair<dev_t, ino_t>> visited_;
    ProjectScan result_;
};

} // namespace

std::optional<std::string> ChooseProjectFolder(Prompts& prompts) {
    std::optional<std::string> folder =
        prompts.ChooseFolder("Select the root folder of your project");
    if (folder && folder->empty())
        return std::nullopt;
    return folder;
}

ProjectScan ScanProjectFolder(const RequiredFileSet& set, const std::string& root) {
    return FolderScanner(set, root).Run();
}

} // namespace tallyport
