#include "course/GradesCsv.h"

#include <map>

namespace tallyport::server {
namespace {

struct EntryGrades {
    const EntryDefinition* entry = nullptr;
    std::map<int32_t, StudentLatest> latest;   // by student
    std::map<int32_t, int64_t> extensions;     // by student
};

// Minutes late, rounded up; empty when on time or not submitted.
std::string LateMinutes(const EntryGrades& grades, int32_t student, const StudentLatest& latest) {
    const auto extension = grades.extensions.find(student);
    const int64_t late = SecondsLate(
        *grades.entry,
        extension == grades.extensions.end() ? std::nullopt : std::optional(extension->second),
        latest.info.time);
    return late > 0 ? std::to_string((late + 59) / 60) : std::string();
}

} // namespace

std::string CsvField(std::string_view text, bool isText) {
    std::string field(text);
    if (isText && !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string::npos)
        field.insert(0, 1, '\'');
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::optional<std::string> GradesCsv(const Store& store, int32_t course,
                                     const std::optional<std::string>& entry) {
    const auto definition = store.FindCourse(course);
    if (!definition)
        return std::nullopt;
    std::vector<EntryGrades> columns;
    for (const auto& e : definition->entries) {
        if (entry && e.key != *entry)
            continue;
        EntryGrades grades{&e, {}, {}};
        for (auto& latest : store.LatestPerStudent(course, e.id))
            grades.latest.emplace(latest.info.student, std::move(latest));
        for (const auto& [student, until] : store.Extensions(course, e.id))
            grades.extensions.emplace(student, until);
        columns.push_back(std::move(grades));
    }
    if (entry && columns.empty())
        return std::nullopt;

    std::string out = "\xEF\xBB\xBF" "number,name,email";
    for (const auto& c : columns) {
        const std::string key = CsvField(c.entry->key);
        out += ',' + key + " mark," + key + " status," + key + " late minutes";
    }
    out += ",total\r\n";
    for (const auto& student : store.CourseStudents(course)) {
        out += std::to_string(student.number) + ',' + CsvField(student.name) + ',' +
               CsvField(student.email);
        int64_t total = 0;
        for (const auto& c : columns) {
            const auto found = c.latest.find(student.number);
            if (found == c.latest.end()) {
                out += ",,,";
                continue;
            }
            const auto& latest = found->second;
            if (latest.mark)
                total += latest.mark->mark;
            out += ',' + (latest.mark ? std::to_string(latest.mark->mark) : std::string()) + ',' +
                   (!latest.mark                ? "submitted"
                    : c.entry->marksReleased ? "released"
                                             : "unreleased") +
                   ',' + LateMinutes(c, student.number, latest);
        }
        out += ',' + std::to_string(total) + "\r\n";
    }
    return out;
}

} // namespace tallyport::server
