// A thin RAII layer over the SQLite C API: a connection, prepared statements with typed binds
// and columns, and a transaction guard that rolls back unless committed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

struct sqlite3;
struct sqlite3_stmt;

namespace tallyport::server::sql {

class Connection {
public:
    // Opens (creating) the database file; none with the reason in `error`.
    static std::unique_ptr<Connection> Open(const std::filesystem::path& file, std::string& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // One or more statements without results; a single one (no ';') is kept prepared.
    bool Execute(std::string_view sql);
    std::string LastError() const;
    int64_t LastInsertId() const;
    int64_t Changes() const; // rows changed by the last statement
    // A passive checkpoint of the write-ahead log: copies what it can without waiting.
    bool Checkpoint();
    sqlite3* handle() const { return db_; }

private:
    friend class Statement;
    explicit Connection(sqlite3* db) : db_(db) {}
    // Statements are prepared once per connection and kept, ready, by their text: preparing
    // costs more than running most of them.
    sqlite3_stmt* Take(std::string_view sql);
    void Keep(sqlite3_stmt* statement);

    static constexpr std::size_t kMaxKept = 128;
    sqlite3* db_;
    std::map<std::string, sqlite3_stmt*, std::less<>> kept_;
};

// A statement of the connection's, prepared when it first ran there and kept for the next use
// of the same text; the connection must outlive it.
class Statement {
public:
    Statement(Connection& connection, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }

    // Binds are 1-based like SQLite's; each returns *this for chaining.
    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, std::string_view text);
    // Not copied: the bytes must stay alive until the statement has run (packages are large).
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& BindNull(int index);
    // None binds NULL.
    template <typename T> Statement& Bind(int index, const std::optional<T>& value) {
        if (!value)
            return BindNull(index);
        if constexpr (std::is_convertible_v<const T&, std::string_view>)
            return Bind(index, std::string_view(*value));
        else
            return Bind(index, int64_t(*value));
    }

    // Step: true while a row is available. Done: the statement ran to the end without error.
    bool Step();
    bool Run(); // steps to completion; true on success
    bool failed() const { return failed_; }
    // Ready to run again with new bindings (one prepared statement for many rows).
    Statement& Reset();

    int64_t Int(int column) const;
    bool IsNull(int column) const;
    std::string Text(int column) const;
    std::string Blob(int column) const;

private:
    Connection& connection_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

// BEGIN IMMEDIATE on construction (the write lock is taken at once, so two writers never
// deadlock); ROLLBACK on destruction unless Commit() succeeded.
class Transaction {
public:
    explicit Transaction(Connection& connection, bool write = true);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool begun() const { return begun_; }
    bool Commit();

private:
    Connection& connection_;
    bool begun_ = false;
    bool done_ = false;
};

} // namespace tallyport::server::sql
