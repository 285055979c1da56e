// Backups of a store while it serves, their verification, and putting one back. A backup is a
// folder holding the database as "store.db" and its packages in "store.db.packages", the same
// pair Store::Open expects, so a backup can be opened (or restored) as it is.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tallyport::server {

// The database file inside a backup folder (its packages are in the folder beside it).
std::filesystem::path BackupDatabase(const std::filesystem::path& folder);

// Copies the database `db` (a consistent snapshot, taken while a server may be writing it) and
// the package of every submission in that snapshot into `folder`, which is created owner-only
// (0700, files 0600) and must not exist or be empty, then verifies the copy (VerifyStoreCopy).
// False with the reason in `error`, and `folder` left empty.
bool BackupStore(const std::filesystem::path& db, const std::filesystem::path& folder,
                 std::string& error);

// Checks a database and its package folder: SQLite's integrity check says "ok" and every
// submission's package is there with the size its row records. One line per problem; none when
// the copy is good.
std::vector<std::string> VerifyStoreCopy(const std::filesystem::path& db);

// Puts the verified backup in `folder` back at `db` (and its package folder). Refuses when `db`
// or its package folder exists unless `force`, and refuses while `db` has a write-ahead log (a
// server may be using it). Everything is copied and checked under temporary names beside `db`
// first; the database is renamed into place last. False with the reason in `error`.
bool RestoreStore(const std::filesystem::path& folder, const std::filesystem::path& db, bool force,
                  std::string& error);

} // namespace tallyport::server
