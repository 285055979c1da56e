// Files in a test's own folder: writing one (with its folders), reading one back, and every
// file below a folder with its bytes.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace tallyport::test {

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Every regular file below `root` by its relative path; empty when `root` does not exist.
std::map<std::string, std::string> FilesUnder(const std::filesystem::path& root);

} // namespace tallyport::test
