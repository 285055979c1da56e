#include "store/ConnectionPool.h"

#include <sqlite3.h>

namespace tallyport::server {

Checkpointer::Checkpointer(const std::filesystem::path& file, Durability durability) {
    std::string error;
    connection_ = sql::Connection::Open(file, error);
    if (connection_ && !ConfigureConnection(*connection_, durability, error))
        connection_.reset();
    if (connection_)
        thread_ = std::thread([this] { Run(); });
}

Checkpointer::~Checkpointer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void Checkpointer::Wake() {
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
    }
    wake_.notify_one();
}

void Checkpointer::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        wake_.wait(lock, [this] { return stop_ || pending_; });
        if (stop_)
            break;
        pending_ = false;
        lock.unlock();
        // PASSIVE never blocks writers or readers: what cannot be copied now is copied on a
        // later wake-up.
        connection_->Checkpoint();
        lock.lock();
    }
}

void ConnectionPool::Watch(sql::Connection& connection) {
    sqlite3_wal_hook(connection.handle(), &ConnectionPool::Committed, this);
}

ConnectionPool::Lease ConnectionPool::Acquire() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto connection = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(connection));
        }
    }
    std::string error;
    auto connection = sql::Connection::Open(file_, error);
    if (connection && !ConfigureConnection(*connection, durability_, error))
        connection.reset();
    if (connection)
        Watch(*connection);
    return Lease(*this, std::move(connection));
}

void ConnectionPool::Return(std::unique_ptr<sql::Connection> connection) {
    std::lock_guard lock(mutex_);
    if (idle_.size() < kMaxIdle)
        idle_.push_back(std::move(connection));
}

int ConnectionPool::Committed(void* pool, sqlite3*, const char*, int pages) {
    if (pages >= kCheckpointPages)
        static_cast<ConnectionPool*>(pool)->checkpointer_.Wake();
    return SQLITE_OK;
}

} // namespace tallyport::server
