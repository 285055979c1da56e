#include "student/CourseListCache.h"

#include "store/Sqlite.h"
#include "store/Store.h"
#include "protocol/NetMessage.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace tallyport::server {

std::vector<std::byte> CourseListReply(const std::vector<CourseDefinition>& courses, int64_t now) {
    NetMessage reply;
    reply.AppendInt(int32_t(courses.size()));
    for (const auto& course : courses) {
        reply.AppendInt(course.number);
        reply.AppendString(course.name);
        reply.AppendString(course.ComponentSpecification());
        reply.AppendInt(int32_t(course.entries.size()));
        for (const auto& entry : course.entries) {
            reply.AppendInt(EntryStatus(entry, now));
            reply.AppendInt(entry.kind);
            reply.AppendString(entry.label);
        }
    }
    return reply.CopyOut();
}

int64_t NextStatusChange(const std::vector<CourseDefinition>& courses, int64_t now) {
    int64_t next = std::numeric_limits<int64_t>::max();
    for (const auto& course : courses) {
        for (const auto& entry : course.entries) {
            if (entry.statusOverride)
                continue;
            // 'U' holds while now < opens; 'C' starts once now > deadline.
            if (entry.opens && *entry.opens > now)
                next = std::min(next, *entry.opens);
            if (entry.deadline && *entry.deadline >= now &&
                *entry.deadline < std::numeric_limits<int64_t>::max())
                next = std::min(next, *entry.deadline + 1);
        }
    }
    return next;
}

CourseListCache::CourseListCache(Store& store) : store_(store) {
    std::string error;
    watch_ = sql::Connection::Open(store.file(), error);
    if (watch_ && sqlite3_prepare_v3(watch_->handle(), "PRAGMA data_version", -1,
                                     SQLITE_PREPARE_PERSISTENT, &version_, nullptr) != SQLITE_OK)
        version_ = nullptr;
}

CourseListCache::~CourseListCache() {
    sqlite3_finalize(version_);
}

// Changes whenever another connection, in this process or another, has committed since the last
// call; the cache's own connection never writes.
std::optional<int64_t> CourseListCache::DataVersion() {
    if (!version_)
        return std::nullopt;
    std::optional<int64_t> version;
    if (sqlite3_step(version_) == SQLITE_ROW)
        version = sqlite3_column_int64(version_, 0);
    sqlite3_reset(version_);
    return version;
}

std::vector<std::byte> CourseListCache::Reply(int64_t now) {
    std::lock_guard lock(mutex_);
    // Read before the courses, so that bytes are never labelled newer than what they hold.
    const std::optional<int64_t> version = DataVersion();
    const bool fresh = version && builtVersion_ == version && builtAt_ <= now && now < validUntil_;
    if (!fresh) {
        const auto courses = store_.Courses();
        reply_ = CourseListReply(courses, now);
        builtAt_ = now;
        validUntil_ = NextStatusChange(courses, now);
        // An empty list may be a failed read: it is cheap to make, so it is not kept.
        builtVersion_ = courses.empty() ? std::nullopt : version;
    }
    return reply_;
}

} // namespace tallyport::server
