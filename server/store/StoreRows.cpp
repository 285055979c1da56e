#include "store/StoreRows.h"

#include <ctime>
#include <sstream>

namespace tallyport::server {

int64_t Now() {
    return int64_t(std::time(nullptr));
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string joined;
    for (const auto& item : items) {
        if (!joined.empty())
            joined += ' ';
        joined += item;
    }
    return joined;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string item; in >> item;)
        items.push_back(item);
    return items;
}

std::vector<StoredFile> ReadFiles(sql::Connection& db, int64_t serial) {
    sql::Statement query(db, "SELECT name, kind, tab_width, offset, length FROM submission_files "
                             "WHERE serial = ? ORDER BY position");
    query.Bind(1, serial);
    std::vector<StoredFile> files;
    while (query.Step()) {
        const std::string kind = query.Text(1);
        files.push_back({query.Text(0), kind.empty() ? 'A' : kind[0], int32_t(query.Int(2)),
                         query.Int(3), query.Int(4)});
    }
    return files;
}

SubmissionInfo ReadInfo(const sql::Statement& row) {
    return {int32_t(row.Int(0)), int32_t(row.Int(1)), int32_t(row.Int(2)), int32_t(row.Int(3)),
            row.Int(4),          int32_t(row.Int(5)), row.Int(6),          row.Int(7) != 0};
}

std::optional<MarkRecord> ReadMark(sql::Connection& db, int64_t serial) {
    sql::Statement query(
        db, "SELECT mark, marker_id, detail, time, version FROM marks WHERE serial = ?");
    query.Bind(1, serial);
    if (!query.Step())
        return std::nullopt;
    return MarkRecord{int32_t(query.Int(0)), query.Text(1), query.Text(2), query.Int(3),
                      query.Int(4)};
}

AuditRecord CourseAudit(std::string_view actor, std::string action, int32_t course,
                        std::optional<std::string> subject) {
    AuditRecord record;
    record.time = Now();
    record.actor = actor;
    record.action = std::move(action);
    record.course = course;
    record.entry = kWholeCourse;
    record.subject = std::move(subject);
    return record;
}

bool WriteAudit(sql::Connection& db, const AuditRecord& record) {
    const auto subject = record.subject   ? record.subject
                         : record.student ? std::optional(std::to_string(*record.student))
                                          : std::nullopt;
    return sql::Statement(db, "INSERT INTO audit (time, actor, action, course, entry, serial, "
                              "old_mark, new_mark, student, version, subject) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, record.time)
        .Bind(2, record.actor)
        .Bind(3, record.action)
        .Bind(4, record.course)
        .Bind(5, record.entry)
        .Bind(6, record.serial)
        .Bind(7, record.oldMark)
        .Bind(8, record.newMark)
        .Bind(9, record.student)
        .Bind(10, record.version)
        .Bind(11, subject)
        .Run();
}

} // namespace tallyport::server
