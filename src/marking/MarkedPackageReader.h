// Reads a marked package: the header and marking record lines, "Number of Files: %d", then per
// file a separator line, "File #%d: name,kind,tab,length", exactly length bytes of text, the
// markup lines of its annotations and "EOF".
#pragma once

#include "marking/MarkedSubmission.h"
#include "marking/PackageInput.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tallyport {

// The fewest bytes one file record can take: a separator line (its LF alone) and a head line
// of at least ':', the blank after it and four one-character fields.
inline constexpr int64_t kMinFileRecordBytes = 10;

// The most files a package may announce: every announced file is listed in the view dialog,
// also those a short package leaves out, so a count past this is refused outright.
inline constexpr int32_t kMaxMarkedFiles = 100000;

// Fills `submission` in package order and returns true when the whole package was read. The
// first failing step stops the reading; what was read before stays in place, a file whose text
// was not read in full keeps no text, and the announced files after it are never made. A text
// length that the remaining bytes cannot hold fails before anything is allocated for it.
bool ReadMarkedPackage(PackageInput& input, MarkedSubmission& submission);

// The comma-separated fields of a record line, starting `skip` characters after its first ':'.
// Empty runs are skipped; a field past the last one is empty.
class RecordFields {
public:
    // Nothing for an empty line or one without ':'.
    static std::optional<RecordFields> Of(std::string_view line, std::size_t skip);
    std::string_view operator[](std::size_t index) const;

private:
    std::vector<std::string_view> fields_;
};

// atoi: white space, an optional sign, decimal digits; anything else gives 0. Clamped to 32 bits.
int32_t ParseRecordInt(std::string_view field);

} // namespace tallyport
