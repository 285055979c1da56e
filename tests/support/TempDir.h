// A fresh temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>

namespace tallyport::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace tallyport::test
