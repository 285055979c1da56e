// The staff-account commands of tallyport-server: `marker passwd`, `marker list`,
// `marker remove` and `audit`.
#pragma once

#include "store/Store.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace tallyport::server {

// Reads a new password for marker `id` (twice, without echo, from a terminal; else one line of
// standard input) and stores its yescrypt hash. Returns the exit code.
int SetMarkerPassword(Store& store, const std::string& id, std::ostream& out, std::ostream& err);

// Prints every marker: id, name, admin, whether a password is set, and courses.
void PrintMarkers(const Store& store, std::ostream& out);

// Removes marker `id`. Returns the exit code.
int RemoveMarker(Store& store, const std::string& id, std::ostream& out, std::ostream& err);

// Prints the audit, oldest first, of one course or of all.
void PrintAudit(const Store& store, std::optional<int32_t> course, std::ostream& out);

} // namespace tallyport::server
