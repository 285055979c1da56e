// Store: the courses table with its components and entries.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

#include <map>

namespace tallyport::server {

namespace {

struct StoredEntry {
    int32_t id = 0;
    std::string key;
    bool active = false;
    bool released = false;
};

std::vector<StoredEntry> StoredEntries(sql::Connection& db, int32_t course) {
    std::vector<StoredEntry> entries;
    sql::Statement query(db, "SELECT id, key, position IS NOT NULL, marks_released FROM entries "
                             "WHERE course = ? ORDER BY id");
    query.Bind(1, course);
    while (query.Step())
        entries.push_back({int32_t(query.Int(0)), query.Text(1), query.Int(2) != 0,
                           query.Int(3) != 0});
    return entries;
}

int64_t CountEntrySubmissions(sql::Connection& db, int32_t course, int32_t entry) {
    sql::Statement query(db, "SELECT COUNT(*) FROM submissions WHERE course = ? AND entry = ?");
    query.Bind(1, course).Bind(2, entry);
    return query.Step() ? query.Int(0) : -1;
}

constexpr const char* kEntrySelect =
    "SELECT kind, label, opens, deadline, marks_released, status_override, type_table, "
    "requirement, size_limited, max_mark, exam_selector, allow_list, key, id, late_until "
    "FROM entries WHERE course = ?";

EntryDefinition ReadEntry(const sql::Statement& row) {
    EntryDefinition entry;
    const std::string kind = row.Text(0);
    entry.kind = kind.empty() ? 'A' : kind[0];
    entry.label = row.Text(1);
    if (!row.IsNull(2))
        entry.opens = row.Int(2);
    if (!row.IsNull(3))
        entry.deadline = row.Int(3);
    entry.marksReleased = row.Int(4) != 0;
    if (const std::string status = row.Text(5); !status.empty())
        entry.statusOverride = status[0];
    entry.typeTable = row.Text(6);
    entry.requirement = row.Text(7);
    entry.sizeLimited = row.Int(8) != 0;
    entry.maxMark = int32_t(row.Int(9));
    if (!row.IsNull(10))
        entry.examSelector = int32_t(row.Int(10));
    entry.allowList = SplitList(row.Text(11));
    entry.key = row.Text(12);
    entry.id = int32_t(row.Int(13));
    if (!row.IsNull(14))
        entry.lateUntil = row.Int(14);
    return entry;
}

std::string YesNo(bool value) {
    return value ? "true" : "false";
}

} // namespace

bool Store::PutCourse(const CourseDefinition& course,
                      const std::vector<std::pair<int32_t, std::vector<ExamFile>>>& examFiles,
                      std::string* error, const CourseLoadOptions& options,
                      std::vector<std::string>* notes) {
    auto fail = [&](std::string why) {
        if (error)
            *error = std::move(why);
        return false;
    };
    if (course.components.size() > 3)
        return fail("a course has at most three components");
    if (int64_t(course.entries.size()) != course.ExpectedEntryCount())
        return fail("the course has " + std::to_string(course.entries.size()) +
                    " entries but its components need " +
                    std::to_string(course.ExpectedEntryCount()));
    for (const auto& [entry, files] : examFiles)
        if (entry < 0 || entry >= int32_t(course.entries.size()))
            return fail("exam files for entry " + std::to_string(entry) + ", which does not exist");
    // Entries defined without a key get the one a course file without keys gives them.
    const auto defaultKeys = DefaultEntryKeys(course.components);
    std::vector<std::string> keys(course.entries.size());
    std::map<std::string, std::size_t> positionOf;
    for (std::size_t i = 0; i < course.entries.size(); ++i) {
        keys[i] = course.entries[i].key.empty() ? defaultKeys[i] : course.entries[i].key;
        if (!IsValidEntryKey(keys[i]) || !positionOf.emplace(keys[i], i).second)
            return fail("entry " + std::to_string(i) + " has no key of its own (\"" + keys[i] +
                        "\")");
    }

    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return fail("cannot open the database");
    sql::Connection& db = transaction.db();
    if (!transaction.begun())
        return fail("cannot store the course: " + db.LastError());
    std::vector<std::string> said;
    bool ok = sql::Statement(db, "INSERT INTO courses (number, name, allow_list) VALUES (?, ?, ?) "
                                 "ON CONFLICT (number) DO UPDATE SET name = excluded.name, "
                                 "allow_list = excluded.allow_list")
                  .Bind(1, course.number)
                  .Bind(2, course.name)
                  .Bind(3, JoinList(course.allowList))
                  .Run();
    ok = ok && sql::Statement(db, "DELETE FROM components WHERE course = ?")
                   .Bind(1, course.number)
                   .Run();
    for (std::size_t i = 0; ok && i < course.components.size(); ++i) {
        const auto& component = course.components[i];
        ok = sql::Statement(db, "INSERT INTO components VALUES (?, ?, ?, ?, ?)")
                 .Bind(1, course.number)
                 .Bind(2, int64_t(i))
                 .Bind(3, component.name)
                 .Bind(4, component.elements)
                 .Bind(5, component.sections)
                 .Run();
    }

    // Entries the file no longer has: dropped when empty, archived when asked, else refused.
    const auto stored = ok ? StoredEntries(db, course.number) : std::vector<StoredEntry>{};
    std::map<std::string, StoredEntry> storedByKey;
    for (const auto& entry : stored) {
        storedByKey.emplace(entry.key, entry);
        if (positionOf.contains(entry.key) || !entry.active)
            continue;
        const int64_t submissions = CountEntrySubmissions(db, course.number, entry.id);
        if (submissions < 0)
            return fail("cannot store the course: " + db.LastError());
        if (submissions == 0) {
            ok = ok && sql::Statement(db, "DELETE FROM entries WHERE course = ? AND id = ?")
                           .Bind(1, course.number)
                           .Bind(2, entry.id)
                           .Run();
            said.push_back("entry " + entry.key + " is gone from the file and held no "
                                                  "submissions: removed");
        } else if (options.archiveRemoved) {
            said.push_back("entry " + entry.key + " is gone from the file: archived with its " +
                           std::to_string(submissions) + " submissions (hidden from students)");
        } else {
            return fail("entry " + entry.key + " is gone from the file but holds " +
                        std::to_string(submissions) +
                        " submissions; load with --archive to keep them hidden from students, "
                        "or put the entry back");
        }
    }
    ok = ok && sql::Statement(db, "UPDATE entries SET position = NULL WHERE course = ?")
                   .Bind(1, course.number)
                   .Run();

    std::vector<int32_t> ids(course.entries.size());
    for (std::size_t i = 0; ok && i < course.entries.size(); ++i) {
        const auto& entry = course.entries[i];
        const std::string& key = keys[i];
        const auto found = storedByKey.find(key);
        bool released = entry.marksReleased;
        if (found != storedByKey.end()) {
            ids[i] = found->second.id;
            released = found->second.released;
            if (released != entry.marksReleased)
                said.push_back("entry " + key + ": the file says marks_released = " +
                               YesNo(entry.marksReleased) + " but its marks are " +
                               (released ? "released" : "not released") +
                               "; that is kept (use release or unrelease to change it)");
            if (!found->second.active)
                said.push_back("entry " + key + " is back in the file: no longer archived");
        } else {
            // Ids are never reused: the audit names entries that are gone.
            sql::Statement next(db, "SELECT next_entry_id FROM courses WHERE number = ?");
            next.Bind(1, course.number);
            ok = next.Step();
            ids[i] = ok ? int32_t(next.Int(0)) : 0;
            ok = ok && sql::Statement(db, "UPDATE courses SET next_entry_id = ? WHERE number = ?")
                           .Bind(1, int64_t(ids[i]) + 1)
                           .Bind(2, course.number)
                           .Run();
        }
        sql::Statement upsert(
            db, "INSERT INTO entries (course, id, key, position, kind, label, opens, deadline, "
                "late_until, marks_released, status_override, type_table, requirement, "
                "size_limited, max_mark, exam_selector, allow_list) VALUES (?1, ?2, ?3, ?4, ?5, "
                "?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17) "
                "ON CONFLICT (course, id) DO UPDATE SET position = ?4, kind = ?5, label = ?6, "
                "opens = ?7, deadline = ?8, late_until = ?9, status_override = ?11, "
                "type_table = ?12, requirement = ?13, size_limited = ?14, max_mark = ?15, "
                "exam_selector = ?16, allow_list = ?17");
        upsert.Bind(1, course.number)
            .Bind(2, ids[i])
            .Bind(3, key)
            .Bind(4, int64_t(i))
            .Bind(5, std::string_view(&entry.kind, 1))
            .Bind(6, entry.label)
            .Bind(7, entry.opens)
            .Bind(8, entry.deadline)
            .Bind(9, entry.lateUntil)
            .Bind(10, int64_t(released))
            .Bind(12, entry.typeTable)
            .Bind(13, entry.requirement)
            .Bind(14, int64_t(entry.sizeLimited))
            .Bind(15, entry.maxMark)
            .Bind(16, entry.examSelector)
            .Bind(17, JoinList(entry.allowList));
        if (entry.statusOverride)
            upsert.Bind(11, std::string_view(&*entry.statusOverride, 1));
        else
            upsert.BindNull(11);
        ok = ok && upsert.Run();
    }
    ok = ok && sql::Statement(db, "DELETE FROM exam_files WHERE course = ?")
                   .Bind(1, course.number)
                   .Run();
    for (const auto& [entry, files] : examFiles)
        for (std::size_t i = 0; ok && i < files.size(); ++i)
            ok = sql::Statement(db, "INSERT INTO exam_files VALUES (?, ?, ?, ?, ?)")
                     .Bind(1, course.number)
                     .Bind(2, ids[std::size_t(entry)])
                     .Bind(3, int64_t(i))
                     .Bind(4, files[i].name)
                     .BindBlob(5, files[i].bytes)
                     .Run();
    if (!ok || !transaction.Commit())
        return fail("cannot store the course: " + db.LastError());
    if (notes)
        notes->insert(notes->end(), said.begin(), said.end());
    return true;
}

std::optional<CourseDefinition> Store::FindCourse(int32_t number) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Connection& db = *lease;
    sql::Transaction snapshot(db, false);
    sql::Statement head(db, "SELECT name, allow_list FROM courses WHERE number = ?");
    head.Bind(1, number);
    if (!head.Step())
        return std::nullopt;
    CourseDefinition course;
    course.number = number;
    course.name = head.Text(0);
    course.allowList = SplitList(head.Text(1));

    sql::Statement components(db, "SELECT name, elements, sections FROM components "
                                  "WHERE course = ? ORDER BY position");
    components.Bind(1, number);
    while (components.Step())
        course.components.push_back(
            {components.Text(0), int32_t(components.Int(1)), int32_t(components.Int(2))});

    sql::Statement entries(db, std::string(kEntrySelect) + " AND position IS NOT NULL ORDER BY position");
    entries.Bind(1, number);
    while (entries.Step())
        course.entries.push_back(ReadEntry(entries));
    if (head.failed() || components.failed() || entries.failed())
        return std::nullopt;
    return course;
}

std::vector<CourseDefinition> Store::Courses() const {
    std::vector<int32_t> numbers;
    {
        auto lease = pool_->Acquire();
        if (!lease)
            return {};
        sql::Statement query(*lease, "SELECT number FROM courses ORDER BY number");
        while (query.Step())
            numbers.push_back(int32_t(query.Int(0)));
    }
    std::vector<CourseDefinition> courses;
    for (int32_t number : numbers)
        if (auto course = FindCourse(number))
            courses.push_back(std::move(*course));
    return courses;
}

std::optional<EntryDefinition> Store::FindEntry(int32_t course, int32_t id) const {
    return OneEntry(course, id, " AND id = ?2 AND position IS NOT NULL");
}

std::optional<EntryDefinition> Store::EntryAt(int32_t course, int32_t index) const {
    if (index < 0)
        return std::nullopt;
    return OneEntry(course, index,
                    " AND position IS NOT NULL ORDER BY position LIMIT 1 OFFSET ?2");
}

std::optional<EntryDefinition> Store::OneEntry(int32_t course, int32_t number,
                                               const char* condition) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease, std::string(kEntrySelect) + condition);
    query.Bind(1, course).Bind(2, number);
    if (!query.Step())
        return std::nullopt;
    return ReadEntry(query);
}

std::optional<std::vector<std::string>> Store::CourseAllowList(int32_t course) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease, "SELECT allow_list FROM courses WHERE number = ?");
    query.Bind(1, course);
    if (!query.Step())
        return std::nullopt;
    return SplitList(query.Text(0));
}

std::vector<EntryDefinition> Store::ArchivedEntries(int32_t course) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, std::string(kEntrySelect) + " AND position IS NULL ORDER BY id");
    query.Bind(1, course);
    std::vector<EntryDefinition> entries;
    while (query.Step())
        entries.push_back(ReadEntry(query));
    return entries;
}

int64_t Store::CountSubmissions(int32_t course, int32_t entry) const {
    auto lease = pool_->Acquire();
    return lease ? CountEntrySubmissions(*lease, course, entry) : -1;
}

bool Store::SetMarksReleased(int32_t course, int32_t entry, bool released,
                             std::string_view actor) {
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    return transaction.begun() &&
           sql::Statement(db, "UPDATE entries SET marks_released = ? WHERE course = ? AND id = ?")
               .Bind(1, int64_t(released))
               .Bind(2, course)
               .Bind(3, entry)
               .Run() &&
           db.Changes() == 1 &&
           WriteAudit(db, {Now(), std::string(actor), released ? "release" : "unrelease", course,
                           entry, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                           std::nullopt, std::nullopt}) &&
           transaction.Commit();
}

bool Store::SetExtension(int32_t course, int32_t entry, int32_t student,
                         std::optional<int64_t> until, std::string_view actor) {
    student = NormaliseStudentNumber(student);
    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return false;
    sql::Connection& db = transaction.db();
    bool ok = transaction.begun();
    if (until)
        ok = ok && sql::Statement(db, "INSERT INTO extensions VALUES (?, ?, ?, ?) ON CONFLICT "
                                      "(course, entry, student) DO UPDATE SET until = ?4")
                       .Bind(1, course)
                       .Bind(2, entry)
                       .Bind(3, student)
                       .Bind(4, *until)
                       .Run();
    else
        ok = ok && sql::Statement(db, "DELETE FROM extensions WHERE course = ? AND entry = ? AND "
                                      "student = ?")
                       .Bind(1, course)
                       .Bind(2, entry)
                       .Bind(3, student)
                       .Run();
    return ok &&
           WriteAudit(db, {Now(), std::string(actor), until ? "extend" : "unextend", course, entry,
                           std::nullopt, std::nullopt, std::nullopt, student, std::nullopt,
                           std::nullopt}) &&
           transaction.Commit();
}

std::optional<int64_t> Store::FindExtension(int32_t course, int32_t entry, int32_t student) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return std::nullopt;
    sql::Statement query(*lease, "SELECT until FROM extensions WHERE course = ? AND entry = ? "
                                 "AND student = ?");
    query.Bind(1, course).Bind(2, entry).Bind(3, NormaliseStudentNumber(student));
    return query.Step() ? std::optional(query.Int(0)) : std::nullopt;
}

std::vector<std::pair<int32_t, int64_t>> Store::Extensions(int32_t course, int32_t entry) const {
    auto lease = pool_->Acquire();
    if (!lease)
        return {};
    sql::Statement query(*lease, "SELECT student, until FROM extensions WHERE course = ? AND "
                                 "entry = ? ORDER BY student");
    query.Bind(1, course).Bind(2, entry);
    std::vector<std::pair<int32_t, int64_t>> extensions;
    while (query.Step())
        extensions.emplace_back(int32_t(query.Int(0)), query.Int(1));
    return extensions;
}

} // namespace tallyport::server
