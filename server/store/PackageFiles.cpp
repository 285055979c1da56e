#include "store/PackageFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace tallyport::server {
namespace {

constexpr std::string_view kIncomingPrefix = "incoming-";
constexpr auto kStaleIncoming = std::chrono::hours(24);

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

bool SyncPath(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

PackageFiles::PackageFiles(std::filesystem::path folder, bool sync)
    : folder_(std::move(folder)), sync_(sync) {}

bool PackageFiles::Prepare(std::string& error) {
    std::error_code code;
    // Submitted work is the students' own: a new folder is the owner's only, like its files.
    if (std::filesystem::create_directories(folder_, code))
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, code);
    if (code || !std::filesystem::is_directory(folder_, code)) {
        error = "cannot create the package folder " + folder_.string();
        return false;
    }
    // Incoming files are renamed into place within a request; one a day old was left by a crash.
    // (Younger ones may belong to a server running beside this process.)
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(folder_, code)) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(kIncomingPrefix) && now - entry.last_write_time(code) > kStaleIncoming)
            std::filesystem::remove(entry.path(), code);
    }
    return true;
}

std::optional<std::filesystem::path> PackageFiles::WriteIncoming(std::string_view bytes) {
    static std::atomic<uint64_t> counter = 0;
    const auto path = folder_ / (std::string(kIncomingPrefix) + std::to_string(::getpid()) + "-" +
                                 std::to_string(++counter) + ".tmp");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::nullopt;
    bool ok = WriteAll(fd, bytes) && (!sync_ || ::fdatasync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return std::nullopt;
    }
    return path;
}

bool PackageFiles::Install(const std::filesystem::path& incoming, int64_t serial) {
    return ::rename(incoming.c_str(), PathOf(serial).c_str()) == 0;
}

bool PackageFiles::SyncFolder() const {
    return !sync_ || SyncPath(folder_);
}

std::optional<std::string> PackageFiles::Read(int64_t serial) const {
    return ReadWholeFile(PathOf(serial));
}

std::filesystem::path PackageFiles::PathOf(int64_t serial) const {
    char name[32];
    std::snprintf(name, sizeof name, "%06lld.pkg", static_cast<long long>(serial));
    return folder_ / name;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::string data(std::size_t(info.st_size), '\0');
        std::size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        if (got == data.size())
            bytes = std::move(data);
    }
    ::close(fd);
    return bytes;
}

} // namespace tallyport::server
