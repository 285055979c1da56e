// Reading a chosen file into a SubmissionFile: its submitted name, content kind, tab width and
// (for Normalised types) line ends rewritten to CR LF.
#pragma once

#include "submission/RequiredFileSet.h"
#include "submission/SubmissionFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport {

// The whole content of a regular file, or nothing when it cannot be opened or read, is not a
// regular file (a pipe or device would block or never end) or is larger than kLargestPackage.
std::optional<std::string> ReadWholeFile(const std::string& path);

// True when `path` names a regular file that can be opened for reading.
bool CanOpenForReading(const std::string& path);

// Each CR LF, lone CR and lone LF becomes CR LF; the text ends at its first zero byte and a
// last line without a line end gets one. An empty text stays empty.
std::string NormaliseLineEnds(std::string_view data);

// The name under which a file is submitted: "," becomes "_", backslash becomes "/", and control
// characters (which would break the package's header line) become "_".
std::string SubmittedName(std::string_view name);

// Loads "folder/relativeName". For NamedFiles the entry is named after the slot's required name
// and typed by its extension. Nothing when the file cannot be read.
std::optional<SubmissionFile> LoadSubmissionFile(const std::string& folder,
                                                 const std::string& relativeName,
                                                 const RequiredFileSet& set, int32_t slot);

} // namespace tallyport
