// One file as it is submitted, and the list of them that a submit command works on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallyport {

// The largest package (and so the largest file) a submission can carry: it travels in one
// request whose length fields are signed 32-bit numbers.
inline constexpr int64_t kLargestPackage = 0x7FFFFFFF - 1024 * 1024;

// How a file's bytes are treated; the value order is the one of the type table.
enum class ContentKind : int32_t {
    Ascii = 0,      // text, submitted byte for byte ("A")
    NonAscii = 1,   // not text, never shown in the view ("B")
    Normalised = 2, // text with its line ends rewritten to CR LF ("F" in the package)
};

// The letter the package writes for a content kind.
char PackageLetter(ContentKind kind);

struct SubmissionFile {
    std::string name; // no ",", "/" as the only folder separator
    ContentKind contentKind = ContentKind::Ascii;
    std::string content; // the bytes to submit
    int32_t tabWidth = 8;

    int32_t length() const { return int32_t(content.size()); }
};

// The submit command's list: one element per file. An element is empty only for a NamedFiles
// slot whose file has not been loaded yet.
using SubmissionEntries = std::vector<std::optional<SubmissionFile>>;

} // namespace tallyport
