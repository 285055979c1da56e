// The bytes of a marked package, read front to back from memory or from a file, by lines (for
// the record and markup lines) and by exact byte counts (for the file texts). It always knows
// how many bytes are left, so a length field is checked before anything is allocated for it.
#pragma once

#include "marking/Markup.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

class PackageInput final : public LineSource {
public:
    // Reads `bytes`, which must outlive the input.
    static PackageInput FromMemory(std::string_view bytes);
    // Reads the file at `path` as it is now; nothing when it cannot be opened.
    static std::optional<PackageInput> OpenFile(const std::filesystem::path& path);

    PackageInput(PackageInput&&) noexcept = default;
    PackageInput& operator=(PackageInput&&) noexcept = default;

    // The next line without its LF and a CR before it; false only when no byte was left.
    bool ReadLine(std::string& line) override;
    // Exactly `count` bytes into `out`; false (and nothing read) when fewer are left.
    bool ReadExact(uint64_t count, std::string& out);
    // Bytes not yet read.
    uint64_t remaining() const { return window_.size() + unreadInFile_; }

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    PackageInput() = default;
    bool Refill(); // false when the input has no more bytes

    std::string_view window_; // bytes at hand, not yet read
    std::unique_ptr<std::FILE, FileCloser> file_;
    uint64_t unreadInFile_ = 0;
    std::unique_ptr<char[]> buffer_;
};

} // namespace tallyport
