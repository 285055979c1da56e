#include "submission/LoadSubmissionFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallyport {
namespace {

// Opens without blocking (a FIFO would otherwise wait for a writer) and keeps only regular files.
int OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

bool CanOpenForReading(const std::string& path) {
    return FileDescriptor(OpenRegularFile(path)).get() >= 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    const FileDescriptor file(OpenRegularFile(path));
    if (file.get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || st.st_size > kLargestPackage)
        return std::nullopt;
    std::string content(std::size_t(st.st_size), '\0');
    std::size_t filled = 0;
    std::array<char, 4096> probe{};
    for (;;) {
        // Past the measured size a small probe read tells the end from a file that has grown
        // since, so that the usual file is read straight into its final buffer, never grown and
        // copied.
        const bool past = filled == content.size();
        char* into = past ? probe.data() : content.data() + filled;
        const std::size_t room = past ? probe.size() : content.size() - filled;
        const ssize_t got = ::read(file.get(), into, room);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        if (past) {
            if (content.size() + std::size_t(got) > std::size_t(kLargestPackage))
                return std::nullopt;
            content.append(probe.data(), std::size_t(got));
        }
        filled += std::size_t(got);
    }
    content.resize(filled);
    return content;
}

std::string NormaliseLineEnds(std::string_view data) {
    data = data.substr(0, data.find('\0'));
    if (data.empty())
        return {};
    const char* const begin = data.data();
    const char* const end = begin + data.size();
    // The next CR and the next LF at or after `from` (end when there is none).
    const auto next = [end](const char* from, char c) {
        const void* found = std::memchr(from, c, std::size_t(end - from));
        return found ? static_cast<const char*>(found) : end;
    };
    const std::size_t lineEnds =
        std::size_t(std::count(begin, end, '\n') + std::count(begin, end, '\r'));
    std::string text(data.size() + lineEnds + 2, '\0');
    char* out = text.data();
    const char* run = begin;
    const char* cr = next(begin, '\r');
    const char* lf = next(begin, '\n');
    while (cr != end || lf != end) {
        const char* lineEnd = std::min(cr, lf);
        out = std::copy(run, lineEnd, out);
        *out++ = '\r';
        *out++ = '\n';
        run = lineEnd + (lineEnd == cr && lf != end && lf == cr + 1 ? 2 : 1); // CR LF: one line end
        if (cr < run)
            cr = next(run, '\r');
        if (lf < run)
            lf = next(run, '\n');
    }
    out = std::copy(run, end, out);
    if (out[-1] != '\n') {
        *out++ = '\r';
        *out++ = '\n';
    }
    text.resize(std::size_t(out - text.data()));
    return text;
}

std::string SubmittedName(std::string_view name) {
    std::string submitted(name);
    for (char& c : submitted) {
        if (c == ',' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
        else if (c == '\\')
            c = '/';
    }
    return submitted;
}

std::optional<SubmissionFile> LoadSubmissionFile(const std::string& folder,
                                                 const std::string& relativeName,
                                                 const RequiredFileSet& set, int32_t slot) {
    std::optional<std::string> bytes = ReadWholeFile(folder + "/" + relativeName);
    if (!bytes)
        return std::nullopt;
    const bool named =
        set.kind == RequirementKind::NamedFiles && slot >= 0 && slot < set.nameCount();
    SubmissionFile file;
    file.name = SubmittedName(named ? set.names[std::size_t(slot)] : relativeName);
    const std::string_view extension = ExtensionOf(file.name);
    file.contentKind = set.TypeContentKind(extension);
    file.tabWidth = set.TypeTabWidth(extension);
    if (file.contentKind == ContentKind::Normalised) {
        file.content = NormaliseLineEnds(*bytes);
        if (int64_t(file.content.size()) > kLargestPackage)
            return std::nullopt;
    } else {
        file.content = std::move(*bytes);
    }
    return file;
}

} // namespace tallyport
