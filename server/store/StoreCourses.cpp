// Store: the courses table with its components and entries.
#include "store/Store.h"

#include "store/ConnectionPool.h"
#include "store/StoreRows.h"

namespace tallyport::server {

bool Store::PutCourse(const CourseDefinition& course,
                      const std::vector<std::pair<int32_t, std::vector<ExamFile>>>& examFiles,
                      std::string* error) {
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

    ConnectionPool::WriteTransaction transaction(*pool_);
    if (!transaction)
        return fail("cannot open the database");
    sql::Connection& db = transaction.db();
    bool ok = transaction.begun();
    ok = ok &&
         sql::Statement(db, "DELETE FROM courses WHERE number = ?").Bind(1, course.number).Run();
    ok = ok && sql::Statement(db, "INSERT INTO courses (number, name, allow_list) VALUES (?, ?, ?)")
                   .Bind(1, course.number)
                   .Bind(2, course.name)
                   .Bind(3, JoinList(course.allowList))
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
    for (std::size_t i = 0; ok && i < course.entries.size(); ++i) {
        const auto& entry = course.entries[i];
        sql::Statement insert(db, "INSERT INTO entries VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                  "?, ?, ?)");
        insert.Bind(1, course.number)
            .Bind(2, int64_t(i))
            .Bind(3, std::string_view(&entry.kind, 1))
            .Bind(4, entry.label)
            .Bind(5, entry.opens)
            .Bind(6, entry.deadline)
            .Bind(7, int64_t(entry.marksReleased))
            .Bind(9, entry.typeTable)
            .Bind(10, entry.requirement)
            .Bind(11, int64_t(entry.sizeLimited))
            .Bind(12, entry.maxMark)
            .Bind(13, entry.examSelector)
            .Bind(14, JoinList(entry.allowList));
        if (entry.statusOverride)
            insert.Bind(8, std::string_view(&*entry.statusOverride, 1));
        else
            insert.BindNull(8);
        ok = insert.Run();
    }
    for (const auto& [entry, files] : examFiles)
        for (std::size_t i = 0; ok && i < files.size(); ++i)
            ok = sql::Statement(db, "INSERT INTO exam_files VALUES (?, ?, ?, ?, ?)")
                     .Bind(1, course.number)
                     .Bind(2, entry)
                     .Bind(3, int64_t(i))
                     .Bind(4, files[i].name)
                     .BindBlob(5, files[i].bytes)
                     .Run();
    if (!ok || !transaction.Commit())
        return fail("cannot store the course: " + db.LastError());
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

    sql::Statement entries(db, "SELECT kind, label, opens, deadline, marks_released, "
                               "status_override, type_table, requirement, size_limited, max_mark, "
                               "exam_selector, allow_list FROM entries WHERE course = ? "
                               "ORDER BY position");
    entries.Bind(1, number);
    while (entries.Step()) {
        EntryDefinition entry;
        const std::string kind = entries.Text(0);
        entry.kind = kind.empty() ? 'A' : kind[0];
        entry.label = entries.Text(1);
        if (!entries.IsNull(2))
            entry.opens = entries.Int(2);
        if (!entries.IsNull(3))
            entry.deadline = entries.Int(3);
        entry.marksReleased = entries.Int(4) != 0;
        if (const std::string status = entries.Text(5); !status.empty())
            entry.statusOverride = status[0];
        entry.typeTable = entries.Text(6);
        entry.requirement = entries.Text(7);
        entry.sizeLimited = entries.Int(8) != 0;
        entry.maxMark = int32_t(entries.Int(9));
        if (!entries.IsNull(10))
            entry.examSelector = int32_t(entries.Int(10));
        entry.allowList = SplitList(entries.Text(11));
        course.entries.push_back(std::move(entry));
    }
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

} // namespace tallyport::server
