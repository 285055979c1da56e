// The program's one temporary folder: private to the user (mode 0700), never a symlink and
// never someone else's. Temporary files and exam questions go there.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tallyport {

// The fixed folder for this user: /tmp/tallyport-<uid> (under $TMPDIR is not consulted: the
// program reads no environment). Nothing is created.
std::filesystem::path DefaultTempFolder();

// Creates `folder` (mode 0700) when missing and checks that it is a real folder owned by this
// user and not open to others. Returns an explanation when it cannot be used.
std::optional<std::string> PrepareTempFolder(const std::filesystem::path& folder);

// A new, empty, private (0600) file named "MKxxxxxx" in `folder`, made like mkstemp(3).
// The caller removes it. Returns nothing when the folder is unusable or the file cannot be made.
std::optional<std::filesystem::path> MakeTempFile(const std::filesystem::path& folder);

// Removes a file when it goes out of scope (temporary files are removed on every path).
class TempFileGuard {
public:
    explicit TempFileGuard(std::filesystem::path path) : path_(std::move(path)) {}
    ~TempFileGuard();
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace tallyport
