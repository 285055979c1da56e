#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tallyport::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tallyport-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace tallyport::test
