// The database schema and its migrations, versioned with PRAGMA user_version.
#pragma once

#include <string>

namespace tallyport::server {

namespace sql {
class Connection;
}

inline constexpr int kSchemaVersion = 1;

// Sets the connection's pragmas (WAL, synchronous FULL, foreign keys) and brings the schema up
// to kSchemaVersion. Refuses a database made by a newer server. False with the reason in `error`.
bool PrepareDatabase(sql::Connection& connection, std::string& error);

// Pragmas every further connection of the pool needs.
bool ConfigureConnection(sql::Connection& connection, std::string& error);

} // namespace tallyport::server
