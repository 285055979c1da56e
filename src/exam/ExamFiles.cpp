#include "exam/ExamFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace tallyport {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (tail.size() > text.size())
        return false;
    text.remove_prefix(text.size() - tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (LowerAscii(text[i]) != LowerAscii(tail[i]))
            return false;
    return true;
}

} // namespace

void ClearTempFiles(const std::filesystem::path& folder, std::string_view extension) {
    if (folder.empty() || extension.empty())
        return;
    const std::string tail = "." + std::string(extension);
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return;
    for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error)
            return;
        const std::filesystem::file_status status = it->symlink_status(error);
        if (error || std::filesystem::is_directory(status))
            continue;
        if (EndsWithNoCase(it->path().filename().string(), tail))
            std::filesystem::remove(it->path(), error);
    }
}

ExamFilePlace ExamFilePath(const std::filesystem::path& folder, std::string_view name) {
    if (!name.empty() && IsSeparator(name.front()))
        return {std::nullopt, ExamNameFault::LeadsOutside};
    std::filesystem::path path = folder;
    std::string_view segment;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        segment = name.substr(start, end - start);
        if (segment == "..")
            return {std::nullopt, ExamNameFault::LeadsOutside};
        if (!segment.empty() && segment != ".")
            path /= std::string(segment);
        start = end + 1;
    }
    // The last segment is what would be written: nothing, or "." (the folder itself), is no file.
    if (segment.empty() || segment == ".")
        return {std::nullopt, ExamNameFault::NamesNoFile};
    return {path};
}

bool WriteExamFile(const std::filesystem::path& path, std::span<const std::byte> bytes) {
    std::error_code ignored; // a folder that cannot be made shows up when the file is opened
    std::filesystem::create_directories(path.parent_path(), ignored);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += std::size_t(n);
    }
    const bool closed = ::close(fd) == 0;
    return closed && written == bytes.size();
}

} // namespace tallyport
