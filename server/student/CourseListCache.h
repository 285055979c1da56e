// The Course List reply kept in memory. Its bytes are made again only when the database may have
// changed (any commit by another connection or process, such as `course load` run beside the
// server, seen through SQLite's data_version on a connection of the cache's own) or when the
// clock reaches an instant at which an entry's status letter changes (it opens, or its deadline
// passes). Safe to call from several threads at once.
#pragma once

#include "course/CourseDefinition.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct sqlite3_stmt;

namespace tallyport::server {

class Store;
namespace sql {
class Connection;
}

// The reply body of the Course List for `courses` as they stand at `now` (Unix seconds).
std::vector<std::byte> CourseListReply(const std::vector<CourseDefinition>& courses, int64_t now);

// The first instant after `now` at which the status letter of one of the entries changes;
// INT64_MAX when none will.
int64_t NextStatusChange(const std::vector<CourseDefinition>& courses, int64_t now);

class CourseListCache {
public:
    explicit CourseListCache(Store& store);
    ~CourseListCache();
    CourseListCache(const CourseListCache&) = delete;
    CourseListCache& operator=(const CourseListCache&) = delete;

    // The reply body at `now`, the same bytes CourseListReply(store.Courses(), now) makes.
    std::vector<std::byte> Reply(int64_t now);

private:
    std::optional<int64_t> DataVersion();

    Store& store_;
    std::mutex mutex_;
    std::unique_ptr<sql::Connection> watch_; // none if it could not be opened: never cached
    sqlite3_stmt* version_ = nullptr;        // PRAGMA data_version, prepared once
    std::optional<int64_t> builtVersion_;    // the data_version read before the bytes were made
    int64_t builtAt_ = 0;
    int64_t validUntil_ = 0; // the next status change after builtAt_
    std::vector<std::byte> reply_;
};

} // namespace tallyport::server
