#include "marking/SaveMarked.h"

#include "marking/EmfSurface.h"
#include "marking/MarkedDocumentName.h"
#include "ui/Prompts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tallyport {
namespace {

constexpr std::string_view kRefusedName = "refused: the name points outside that folder";
constexpr std::string_view kTextMissing = "its text did not arrive in full";
constexpr std::string_view kNothingArrived = "nothing arrived for it";
constexpr std::string_view kNothingArrivedForAny = "nothing arrived for them";

// A file whose record never arrived has neither name nor text.
bool HasArrived(const MarkedFile& file) {
    return !file.name.empty() || file.text();
}

// The files from `first` to `last` (0-based) that never arrived, as one line of the report.
SaveProblem NeverArrived(int32_t first, int32_t last) {
    if (first == last)
        return {FormatMessage("File #%d", first + 1), std::string(kNothingArrived)};
    return {FormatMessage("Files #%d to #%d", first + 1, last + 1),
            std::string(kNothingArrivedForAny)};
}

// Writes all bytes, creating or truncating the file; an explanation on failure.
std::optional<std::string> WriteWholeFile(const std::filesystem::path& path,
                                          std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::string(std::strerror(errno));
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : EIO;
            ::close(fd);
            return std::string(std::strerror(error));
        }
        bytes.remove_prefix(std::size_t(written));
    }
    if (::close(fd) != 0)
        return std::string(std::strerror(errno));
    return std::nullopt;
}

} // namespace

std::string SaveTarget(std::string_view chosenFolder, int32_t entryIndex) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "assign%02d", entryIndex);
    return std::string(chosenFolder) + "/" + folder;
}

bool IsSafeSaveName(std::string_view name) {
    // A NUL would cut the path short where the system reads it.
    if (name.empty() || name[0] == '/' || name[0] == '\\' ||
        name.find('\0') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        if (name.substr(start, end == std::string_view::npos ? end : end - start) == "..")
            return false;
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

std::filesystem::path MakePathFolders(const std::filesystem::path& target, std::string_view name) {
    std::string relative(name);
    for (char& c : relative)
        if (c == '\\')
            c = '/';
    const std::filesystem::path path = target / relative;
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    return path;
}

SaveResult SaveMarkedSubmission(const MarkedSubmission& submission, std::string_view chosenFolder,
                                int32_t entryIndex, const MarkedDocumentWriter& writeDocument) {
    SaveResult result;
    result.target = SaveTarget(chosenFolder, entryIndex);
    result.fileCount = submission.shownFileCount();
    const std::filesystem::path target(result.target);
    for (int32_t i = 0; i < result.fileCount; ++i) {
        if (!HasArrived(*submission.FileAt(i))) {
            // Told by number on one line with the files after it that never arrived either.
            int32_t last = i;
            while (last + 1 < result.fileCount && !HasArrived(*submission.FileAt(last + 1)))
                ++last;
            result.problems.push_back(NeverArrived(i, last));
            i = last;
            continue;
        }
        const MarkedFile& file = *submission.FileAt(i);
        if (!IsSafeSaveName(file.name)) {
            result.problems.push_back({file.name, std::string(kRefusedName)});
            continue;
        }
        if (!file.text()) {
            result.problems.push_back({file.name, std::string(kTextMissing)});
            continue;
        }
        if (auto error = WriteWholeFile(MakePathFolders(target, file.name), *file.text()))
            result.problems.push_back({file.name, *error});
    }
    if (!submission.IsMarked())
        return result; // unmarked work is saved without pictures
    for (const MarkedFile& file : submission.files) {
        if (!IsSafeSaveName(file.name))
            continue; // refused or never arrived, told above
        const std::string picture = file.name + ".emf";
        if (auto error = WritePagePicture(MakePathFolders(target, picture), file))
            result.problems.push_back({picture, *error});
    }
    if (writeDocument) {
        const std::string name = MarkedDocumentName(submission);
        if (auto error = writeDocument(MakePathFolders(target, name), submission))
            result.problems.push_back({name, *error});
        else
            result.document = name;
    }
    return result;
}

std::string SaveResultMessage(const SaveResult& result) {
    if (result.problems.empty())
        return result.fileCount > 1 ? FormatMessage("Your submitted files have been saved in %s",
                                                    result.target.c_str())
                                    : FormatMessage("Your submitted file has been saved in %s",
                                                    result.target.c_str());
    std::string list;
    for (const SaveProblem& problem : result.problems)
        list += "\n" + problem.name + ": " + problem.reason;
    return FormatMessage("Some of your submitted files could not be saved in %s:%s",
                         result.target.c_str(), list.c_str());
}

std::string SavedDocumentNote(const SaveResult& result) {
    if (result.document.empty())
        return {};
    return FormatMessage("\nThe marked work is also in one PDF file: %s", result.document.c_str());
}

} // namespace tallyport
