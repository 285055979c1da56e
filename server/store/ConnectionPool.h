// The connections of one database file: a pool that hands each caller a connection of its own,
// the write lock that queues writers inside this process, and the checkpointer thread that keeps
// the write-ahead log short. Used by the Store*.cpp files only.
#pragma once

#include "store/Schema.h"
#include "store/Sqlite.h"

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct sqlite3;

namespace tallyport::server {

// Copies committed pages from the write-ahead log into the database file on a thread of its
// own, so that no request waits for it (SQLite's automatic checkpoint would run inside the
// commit of whichever request crosses its threshold). Woken when the log has grown long.
class Checkpointer {
public:
    Checkpointer(const std::filesystem::path& file, Durability durability);
    ~Checkpointer();

    void Wake();

private:
    void Run();

    std::unique_ptr<sql::Connection> connection_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// Connections to one database file, handed out one per caller at a time (a SQLite connection
// must not be used by two threads at once). Writers also take one lock of the process, so they
// queue here instead of polling SQLite's busy handler; other processes (staff commands beside a
// running server) are waited for by the busy timeout.
class ConnectionPool {
public:
    ConnectionPool(std::filesystem::path file, Durability durability)
        : file_(std::move(file)), durability_(durability), checkpointer_(file_, durability) {}

    class Lease {
    public:
        Lease(ConnectionPool& pool, std::unique_ptr<sql::Connection> connection)
            : pool_(pool), connection_(std::move(connection)) {}
        ~Lease() {
            if (connection_)
                pool_.Return(std::move(connection_));
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        explicit operator bool() const { return connection_ != nullptr; }
        sql::Connection& operator*() const { return *connection_; }

    private:
        ConnectionPool& pool_;
        std::unique_ptr<sql::Connection> connection_;
    };

    // One write transaction: a connection of the caller's own, the process's write lock, then
    // BEGIN IMMEDIATE; let go in the reverse order, so the transaction has ended (committed, or
    // rolled back) before the next writer may begin.
    class WriteTransaction {
    public:
        explicit WriteTransaction(ConnectionPool& pool)
            : lease_(pool.Acquire()), writing_(pool.writeLock_, std::defer_lock) {
            if (!lease_)
                return;
            writing_.lock();
            transaction_.emplace(*lease_);
        }
        explicit operator bool() const { return bool(lease_); } // a connection was had
        sql::Connection& db() const { return *lease_; }
        bool begun() const { return transaction_ && transaction_->begun(); }
        bool Commit() { return transaction_ && transaction_->Commit(); }

    private:
        Lease lease_;
        std::unique_lock<std::mutex> writing_;
        std::optional<sql::Transaction> transaction_;
    };

    // Every connection reports its commits, so that the checkpointer runs when the log is long.
    void Watch(sql::Connection& connection);

    Lease Acquire();
    void Return(std::unique_ptr<sql::Connection> connection);

private:
    // The default threshold of SQLite's own automatic checkpoint, in pages of the log.
    static constexpr int kCheckpointPages = 1000;

    static int Committed(void* pool, sqlite3*, const char*, int pages);

    static constexpr std::size_t kMaxIdle = 16;
    std::filesystem::path file_;
    Durability durability_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<sql::Connection>> idle_;
    std::mutex writeLock_;
    Checkpointer checkpointer_;
};

} // namespace tallyport::server
