// The staff-account commands of tallyport-server: `marker passwd` and `audit`.
#pragma once

#include "Store.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace tallyport::server {

// Reads a new password for marker `id` (twice, without echo, from a terminal; else one line of
// standard input) and stores its yescrypt hash. Returns the exit code.
int SetMarkerPassword(Store& store, const std::string& id, std::ostream& out, std::ostream& err);

// Prints the audit, oldest first, of one course or of all.
void PrintAudit(const Store& store, std::optional<int32_t> course, std::ostream& out);

// A Unix time as "2001-02-03T04:05:06Z".
std::string UtcText(int64_t time);

} // namespace tallyport::server
