// The package that carries a submission's files: a count line, then for each file a line of 80
// dashes, "File #i: name,letter,tab,length", the content bytes and "EOF", all lines ending CR LF.
#pragma once

#include "submission/SubmissionFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tallyport {

// Empty elements (unloaded slots) are not written: the count line counts the files written.
int64_t PackageSize(const SubmissionEntries& entries);

// Hands the package to `sink` piece by piece, in order; the content bytes are passed in place.
void WritePackage(const SubmissionEntries& entries,
                  const std::function<void(std::string_view piece)>& sink);

std::string PackageBytes(const SubmissionEntries& entries);

} // namespace tallyport
