// Store: class lists, the students of a course with their submissions, password resets.
#include "store/Store.h"

#include "protocol/Windows1252.h"
#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

#include <map>

namespace tallyport::server {

std::optional<bool> ClassListAdmits(sql::Connection& db, int32_t course, int32_t number) {
    sql::Statement query(db, "SELECT NOT EXISTS (SELECT 1 FROM class_lists WHERE course = ?1) "
                             "OR EXISTS (SELECT 1 FROM class_lists WHERE course = ?1 AND "
                             "number = ?2)");
    query.Bind(1, course).Bind(2, number);
    if (!query.Step())
        return std::nullopt;
    return query.Int(0) != 0;
}

namespace {

std::vector<ClassListEntry> ReadClassList(sql::Connection& db, int32_t course) {
    sql::Statement query(db, "SELECT number, name, email FROM class_lists WHERE course = ? "
                             "ORDER BY number");
    query.Bind(1, course);
    std::vector<ClassListEntry> students;
    while (query.Step())
        students.push_back({int32_t(query.Int(0)), query.Text(1), query.Text(2)});
    return students;
}

} // namespace

std::optional<ClassListChanges>
Store::ReplaceClassList(int32_t course, const std::vector<ClassListEntry>& students, Actor actor) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction || !transaction.begun())
        return std::nullopt;
    sql::Connection& db = transaction.db();
    sql::Statement exists(db, "SELECT 1 FROM courses WHERE number = ?");
    exists.Bind(1, course);
    if (!exists.Step())
        return std::nullopt;
    std::map<int32_t, ClassListEntry> before;
    for (auto& student : ReadClassList(db, course))
        before.emplace(student.number, std::move(student));
    ClassListChanges changes;
    for (const auto& student : students) {
        const auto found = before.find(student.number);
        if (found == before.end()) {
            ++changes.added;
            continue;
        }
        changes.changed += !(found->second == student);
        before.erase(found);
    }
    changes.removed = int32_t(before.size());
    bool ok = sql::Statement(db, "DELETE FROM class_lists WHERE course = ?").Bind(1, course).Run();
    sql::Statement insert(db, "INSERT INTO class_lists VALUES (?, ?, ?, ?)");
    for (const auto& student : students) {
        ok = ok && insert.Reset()
                       .Bind(1, course)
                       .Bind(2, student.number)
                       .Bind(3, student.name)
                       .Bind(4, student.email)
                       .Run();
    }
    if (ok && actor)
        ok = WriteAudit(db, CourseAudit(*actor, "import-class-list", course, std::nullopt));
    if (!ok || !transaction.Commit())
        return std::nullopt;
    return changes;
}

std::vector<ClassListEntry> Store::ClassList(int32_t course) const {
    auto lease = pool_->Acquire();
    return lease ? ReadClassList(*lease, course) : std::vector<ClassListEntry>{};
}

bool Store::MayRegister(int32_t course, int32_t number) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return false;
    return ClassListAdmits(*lease, course, NormaliseStudentNumber(number)).value_or(false);
}

std::vector<CourseStudent> Store::CourseStudents(int32_t course) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    std::map<int32_t, CourseStudent> students;
    for (auto& listed : ReadClassList(db, course))
        students[listed.number] = {listed.number, std::move(listed.name), std::move(listed.email),
                                   true, false};
    // Names and addresses given when registering are in the client's Windows-1252.
    sql::Statement registered(db, "SELECT number, name, email FROM students WHERE course = ?");
    registered.Bind(1, course);
    while (registered.Step()) {
        CourseStudent& student = students[int32_t(registered.Int(0))];
        if (!student.listed) {
            student.number = int32_t(registered.Int(0));
            student.name = Windows1252ToUtf8(registered.Text(1));
            student.email = Windows1252ToUtf8(registered.Text(2));
        }
        student.registered = true;
    }
    std::vector<CourseStudent> list;
    for (auto& [number, student] : students)
        list.push_back(std::move(student));
    return list;
}

std::vector<EntrySubmissions> Store::SubmissionCounts(int32_t course) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, "SELECT student, entry, COUNT(*), MAX(serial) FROM submissions "
                                 "WHERE course = ? GROUP BY student, entry "
                                 "ORDER BY student, entry");
    query.Bind(1, course);
    std::vector<EntrySubmissions> counts;
    while (query.Step())
        counts.push_back({int32_t(query.Int(0)), int32_t(query.Int(1)), int32_t(query.Int(2)),
                          int32_t(query.Int(3))});
    return counts;
}

bool Store::SetStudentPasswordHash(int32_t course, int32_t number, std::string_view hash,
                                   Actor actor) {
    number = NormaliseStudentNumber(number);
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction || !transaction.begun())
        return false;
    sql::Connection& db = transaction.db();
    if (!sql::Statement(db, "UPDATE students SET password_hash = ? WHERE course = ? AND "
                            "number = ?")
             .Bind(1, hash)
             .Bind(2, course)
             .Bind(3, number)
             .Run() ||
        db.Changes() != 1)
        return false;
    if (actor) {
        AuditRecord record = CourseAudit(*actor, "reset-password", course, std::nullopt);
        record.student = number; // the subject too
        if (!WriteAudit(db, record))
            return false;
    }
    return transaction.Commit();
}

} // namespace tallyport::server
