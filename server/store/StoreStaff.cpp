// Store: markers with their passwords and courses, the release of marks, and the audit.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

#include <cctype>

namespace tallyport::server {

bool IsMarkerId(std::string_view id) {
    if (id.empty() || id.size() > 64)
        return false;
    for (const char c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            return false;
    return true;
}

namespace {

std::vector<int32_t> MarkerCourses(sql::Connection& db, std::string_view id) {
    sql::Statement query(db, "SELECT course FROM marker_courses WHERE marker = ? ORDER BY course");
    query.Bind(1, id);
    std::vector<int32_t> courses;
    while (query.Step())
        courses.push_back(int32_t(query.Int(0)));
    return courses;
}

// One row about marker `id` in each of `courses`, when there is an actor.
bool AuditMarker(sql::Connection& db, Actor actor, const char* action,
                 const std::vector<int32_t>& courses, std::string_view id) {
    if (!actor)
        return true;
    for (const int32_t course : courses)
        if (!WriteAudit(db, CourseAudit(*actor, action, course, std::string(id))))
            return false;
    return true;
}

} // namespace

bool Store::AddMarker(const MarkerRecord& marker, Actor actor,
                      std::optional<std::string_view> passwordHash) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    bool ok =
        transaction.begun() &&
        sql::Statement(db, "INSERT INTO markers (id, name, info, admin) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT (id) DO UPDATE SET name = excluded.name, "
                           "info = excluded.info, admin = excluded.admin")
            .Bind(1, marker.id)
            .Bind(2, marker.name)
            .Bind(3, marker.info)
            .Bind(4, int64_t(marker.admin))
            .Run() &&
        sql::Statement(db, "DELETE FROM marker_courses WHERE marker = ?").Bind(1, marker.id).Run();
    for (const int32_t course : marker.courses)
        ok = ok && sql::Statement(db, "INSERT OR IGNORE INTO marker_courses VALUES (?, ?)")
                       .Bind(1, marker.id)
                       .Bind(2, course)
                       .Run();
    if (ok && passwordHash)
        ok = sql::Statement(db, "UPDATE markers SET password_hash = ? WHERE id = ?")
                 .Bind(1, *passwordHash)
                 .Bind(2, marker.id)
                 .Run();
    return ok && AuditMarker(db, actor, "add-marker", marker.courses, marker.id) &&
           transaction.Commit();
}

std::optional<MarkerRecord> Store::FindMarker(std::string_view id) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    // One statement, so one consistent reading without a transaction around it: every staff
    // request asks this.
    sql::Statement query(*lease, "SELECT m.id, m.name, m.info, m.admin, c.course FROM markers m "
                                 "LEFT JOIN marker_courses c ON c.marker = m.id WHERE m.id = ? "
                                 "ORDER BY c.course");
    query.Bind(1, id);
    if (!query.Step())
        return std::nullopt;
    MarkerRecord marker{query.Text(0), query.Text(1), query.Text(2), query.Int(3) != 0, {}};
    do {
        if (!query.IsNull(4))
            marker.courses.push_back(int32_t(query.Int(4)));
    } while (query.Step());
    return marker;
}

bool Store::SetMarkerPassword(std::string_view id, std::string_view hash, Actor actor) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    return transaction.begun() &&
           sql::Statement(db, "UPDATE markers SET password_hash = ? WHERE id = ?")
               .Bind(1, hash)
               .Bind(2, id)
               .Run() &&
           db.Changes() == 1 &&
           AuditMarker(db, actor, "marker-password", MarkerCourses(db, id), id) &&
           transaction.Commit();
}

std::optional<std::string> Store::MarkerPasswordHash(std::string_view id) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease, "SELECT password_hash FROM markers WHERE id = ?");
    query.Bind(1, id);
    if (!query.Step())
        return std::nullopt;
    return query.Text(0);
}

std::vector<MarkerListing> Store::ListMarkers() const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    std::vector<MarkerListing> markers;
    sql::Statement query(db, "SELECT id, name, info, admin, password_hash != '' FROM markers "
                             "ORDER BY id");
    while (query.Step())
        markers.push_back({{query.Text(0), query.Text(1), query.Text(2), query.Int(3) != 0, {}},
                           query.Int(4) != 0});
    sql::Statement courses(db, "SELECT course FROM marker_courses WHERE marker = ? "
                               "ORDER BY course");
    for (auto& listing : markers) {
        courses.Reset().Bind(1, listing.marker.id);
        while (courses.Step())
            listing.marker.courses.push_back(int32_t(courses.Int(0)));
    }
    return markers;
}

bool Store::RemoveMarker(std::string_view id, Actor actor) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return false;
    const auto courses = MarkerCourses(db, id);
    return sql::Statement(db, "DELETE FROM markers WHERE id = ?").Bind(1, id).Run() &&
           db.Changes() == 1 && AuditMarker(db, actor, "remove-marker", courses, id) &&
           transaction.Commit();
}

namespace {

constexpr const char* kAuditColumns = "SELECT time, actor, action, course, entry, serial, "
                                      "old_mark, new_mark, student, version, subject FROM audit ";

std::vector<AuditRecord> ReadAudit(sql::Statement& query) {
    std::vector<AuditRecord> records;
    auto optional = [&query](int column) {
        return query.IsNull(column) ? std::nullopt
                                    : std::optional<int32_t>(int32_t(query.Int(column)));
    };
    while (query.Step())
        records.push_back(
            {query.Int(0), query.Text(1), query.Text(2), int32_t(query.Int(3)),
             int32_t(query.Int(4)), optional(5), optional(6), optional(7), optional(8),
             query.IsNull(9) ? std::nullopt : std::optional<int64_t>(query.Int(9)),
             query.IsNull(10) ? std::nullopt : std::optional<std::string>(query.Text(10))});
    return records;
}

} // namespace

std::vector<AuditRecord> Store::Audit(std::optional<int32_t> course) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, std::string(kAuditColumns) +
                                     "WHERE ?1 IS NULL OR course = ?1 ORDER BY id");
    query.Bind(1, course);
    return ReadAudit(query);
}

std::vector<AuditRecord> Store::NewestAudit(int32_t course, int32_t count) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease,
                         std::string(kAuditColumns) + "WHERE course = ? ORDER BY id DESC LIMIT ?");
    query.Bind(1, course).Bind(2, count);
    return ReadAudit(query);
}

} // namespace tallyport::server
