#include "store/Sqlite.h"

#include <sqlite3.h>

namespace tallyport::server::sql {

std::unique_ptr<Connection> Connection::Open(const std::filesystem::path& file,
                                             std::string& error) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    // Waits for another writer (another thread's connection or a staff command running beside
    // the server) instead of failing at once.
    sqlite3_busy_timeout(db, 10'000);
    return std::unique_ptr<Connection>(new Connection(db));
}

Connection::~Connection() {
    for (const auto& [text, statement] : kept_)
        sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

bool Connection::Execute(std::string_view sql) {
    if (sql.find(';') == std::string_view::npos)
        return Statement(*this, sql).Run();
    const std::string text(sql);
    return sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3_stmt* Connection::Take(std::string_view sql) {
    if (const auto found = kept_.find(sql); found != kept_.end()) {
        sqlite3_stmt* statement = found->second;
        kept_.erase(found);
        return statement;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), int(sql.size()), &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return statement;
}

// Reset and unbound (a bound blob is the caller's memory), so that a kept statement holds no
// lock and no pointer. The same text in use twice at once is kept once.
void Connection::Keep(sqlite3_stmt* statement) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (kept_.size() < kMaxKept && kept_.emplace(sqlite3_sql(statement), statement).second)
        return;
    sqlite3_finalize(statement);
}

std::string Connection::LastError() const {
    return sqlite3_errmsg(db_);
}

int64_t Connection::LastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

int64_t Connection::Changes() const {
    return sqlite3_changes64(db_);
}

bool Connection::Checkpoint() {
    return sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) ==
           SQLITE_OK;
}

Statement::Statement(Connection& connection, std::string_view sql)
    : connection_(connection), stmt_(connection.Take(sql)), failed_(stmt_ == nullptr) {}

Statement::~Statement() {
    if (stmt_)
        connection_.Keep(stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
    if (stmt_ && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK)
        failed_ = true;
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (stmt_ && sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8) != SQLITE_OK)
        failed_ = true;
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    // A zero-length blob is still a blob, not NULL.
    static const char empty = 0;
    if (stmt_ && sqlite3_bind_blob64(stmt_, index, bytes.empty() ? &empty : bytes.data(),
                                     bytes.size(), SQLITE_STATIC) != SQLITE_OK)
        failed_ = true;
    return *this;
}

Statement& Statement::BindNull(int index) {
    if (stmt_ && sqlite3_bind_null(stmt_, index) != SQLITE_OK)
        failed_ = true;
    return *this;
}

bool Statement::Step() {
    if (!stmt_ || failed_)
        return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        failed_ = true;
    return false;
}

bool Statement::Run() {
    while (Step()) {
    }
    return !failed_;
}

Statement& Statement::Reset() {
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    failed_ = false;
    return *this;
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::string Statement::Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), std::size_t(size))
                : std::string();
}

std::string Statement::Blob(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(static_cast<const char*>(data), std::size_t(size)) : std::string();
}

Transaction::Transaction(Connection& connection, bool write) : connection_(connection) {
    begun_ = connection_.Execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (begun_ && !done_)
        connection_.Execute("ROLLBACK");
}

bool Transaction::Commit() {
    if (!begun_ || done_)
        return false;
    if (!connection_.Execute("COMMIT"))
        return false; // the destructor rolls back
    done_ = true;
    return true;
}

} // namespace tallyport::server::sql
