// Whether an uploaded package keeps the file rules of its entry: the requirement text, the type
// table and the size-limit flag that the File List reply hands the client, read by the client's
// own RequiredFileSet, so that the server takes what the client can build and nothing more.
#pragma once

#include "course/CourseDefinition.h"
#include "student/PackageParser.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tallyport::server {

// None when the upload keeps every rule of `entry`; otherwise the first rule it breaks, as a
// short text for the log. `packageSize` is the byte count of the whole package.
std::optional<std::string> BrokenUploadRule(const EntryDefinition& entry,
                                            const ParsedPackage& package, int64_t packageSize);

} // namespace tallyport::server
