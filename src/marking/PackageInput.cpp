#include "marking/PackageInput.h"

#include <algorithm>
#include <sys/stat.h>

namespace tallyport {
namespace {
constexpr std::size_t kChunk = 64 * 1024;
} // namespace

PackageInput PackageInput::FromMemory(std::string_view bytes) {
    PackageInput input;
    input.window_ = bytes;
    return input;
}

std::optional<PackageInput> PackageInput::OpenFile(const std::filesystem::path& path) {
    PackageInput input;
    input.file_.reset(std::fopen(path.c_str(), "rb"));
    if (!input.file_)
        return std::nullopt;
    struct stat st {};
    if (::fstat(::fileno(input.file_.get()), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    input.unreadInFile_ = uint64_t(st.st_size);
    input.buffer_ = std::make_unique<char[]>(kChunk);
    return input;
}

bool PackageInput::Refill() {
    if (!file_ || unreadInFile_ == 0)
        return false;
    const std::size_t got =
        std::fread(buffer_.get(), 1, std::min<uint64_t>(kChunk, unreadInFile_), file_.get());
    // A file that came out shorter than it was at opening simply ends there.
    unreadInFile_ = got == 0 ? 0 : unreadInFile_ - got;
    window_ = std::string_view(buffer_.get(), got);
    return got > 0;
}

bool PackageInput::ReadLine(std::string& line) {
    line.clear();
    bool any = false;
    while (!window_.empty() || Refill()) {
        any = true;
        const std::size_t lf = window_.find('\n');
        if (lf == std::string_view::npos) {
            line.append(window_);
            window_ = {};
            continue;
        }
        line.append(window_.substr(0, lf));
        window_.remove_prefix(lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    }
    return any; // a last line without LF is returned as it is
}

bool PackageInput::ReadExact(uint64_t count, std::string& out) {
    out.clear();
    if (count > remaining())
        return false;
    out.reserve(count);
    while (out.size() < count) {
        if (window_.empty() && !Refill())
            return false;
        const std::size_t take = std::min<uint64_t>(window_.size(), count - out.size());
        out.append(window_.substr(0, take));
        window_.remove_prefix(take);
    }
    return true;
}

} // namespace tallyport
