// The package the student web page builds is pinned to the desktop writer's bytes: both load the
// files of web-package-files.json with its type table and requirement, and both must produce
// web-package.bin. TALLYPORT_WRITE_FIXTURES=1 writes the fixture afresh from the desktop writer.
#include "submission/LoadSubmissionFile.h"
#include "submission/RequiredFileSet.h"
#include "submission/SubmissionPackage.h"
#include "support/TempDir.h"
#include "web/Windows1252.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tallyport {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

TEST(WebPackageFixtureTest, DesktopWriterMakesTheFixtureBytes) {
    const std::filesystem::path data = TALLYPORT_TEST_DATA;
    const auto inputs = nlohmann::json::parse(ReadFile(data / "web-package-files.json"));
    const RequiredFileSet set = BuildRequiredFileSet(
        inputs["typeTable"].get<std::string>(), inputs["requirement"].get<std::string>(),
        inputs["sizeFlag"].get<int>(), "", 0, 0);
    test::TempDir dir;
    SubmissionEntries entries;
    for (const auto& file : inputs["files"]) {
        // On disk the name is the Windows-1252 bytes the package carries.
        const auto name = server::staff::Utf8ToWindows1252(file["name"].get<std::string>());
        ASSERT_TRUE(name) << file["name"];
        std::ofstream(dir.path() / *name, std::ios::binary) << FromHex(file["hex"]);
        entries.push_back(LoadSubmissionFile(dir.path().string(), *name, set, 0));
        ASSERT_TRUE(entries.back()) << *name;
    }
    const std::string bytes = PackageBytes(entries);
    const std::filesystem::path fixture = data / "web-package.bin";
    if (const char* write = std::getenv("TALLYPORT_WRITE_FIXTURES"); write && *write == '1')
        std::ofstream(fixture, std::ios::binary) << bytes;
    EXPECT_EQ(bytes, ReadFile(fixture));
    // The fixture shows the cases the page must match: a comma renamed, a backslash made a
    // folder separator, a Windows-1252 name, normalised line ends and an empty file.
    EXPECT_NE(bytes.find("File #2: notes_v1.txt,F,2,3\r\nx\r\nEOF\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("File #4: empty.asc,A,3,0\r\nEOF\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("File #5: caf\xe9.c,F,4,"), std::string::npos);
    EXPECT_NE(bytes.find("File #7: lib/list.c,F,4,"), std::string::npos);
}

} // namespace
} // namespace tallyport
