// The database schema and its migrations, versioned with PRAGMA user_version.
#pragma once

#include "store/Store.h"

#include <string>
#include <vector>

namespace tallyport::server {

namespace sql {
class Connection;
}

inline constexpr int kSchemaVersion = 8;

// Sets the connection's pragmas (WAL, synchronous, foreign keys) and brings the schema up
// to kSchemaVersion. Refuses a database made by a newer server. False with the reason in `error`.
// What a migration of existing data did that staff should know goes to `notes`.
bool PrepareDatabase(sql::Connection& connection, Durability durability, std::string& error,
                     std::vector<std::string>* notes = nullptr);

// Pragmas every further connection of the pool needs.
bool ConfigureConnection(sql::Connection& connection, Durability durability, std::string& error);

} // namespace tallyport::server
