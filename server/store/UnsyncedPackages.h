// The one group of uploads whose rows may be on the disk before their packages are. A group's
// package folder is flushed while its rows are committed, both flushes at once, and nobody is
// told a serial until both have finished. The group's commit also records its serials here, so
// that after a crash between the two flushes the rows whose package never reached the disk are
// known: they were never acknowledged, and opening the store removes them. Rows outside the
// recorded group are never touched (a package lost there stays a server error, not a silent gap).
// Used by SubmissionCommitter.cpp and Store.cpp only.
#pragma once

#include "store/Sqlite.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallyport::server {

class PackageFiles;

// Inside the group's transaction: the group holds the serials first..last.
bool RecordUnsyncedGroup(sql::Connection& db, int64_t first, int64_t last);

// Removes the group's rows, and its renamed packages, after its folder flush failed. Best effort:
// what cannot be removed here is checked again when the store is next opened.
void WithdrawGroup(sql::Connection& db, PackageFiles& packages, int64_t first, int64_t last);

// On opening: flushes the package folder (so that what is there now stays there), removes the
// recorded group's rows whose package is missing and forgets the group. The serials removed, or
// none with the reason in `error`.
std::optional<std::vector<int32_t>> RemoveUnsyncedSubmissions(sql::Connection& db,
                                                              PackageFiles& packages,
                                                              std::string& error);

} // namespace tallyport::server
