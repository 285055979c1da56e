#include "cli/TermCommands.h"

#include "common/UtcText.h"
#include "course/CourseToml.h"
#include "course/GradesCsv.h"
#include "course/Release.h"

#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <map>
#include <ostream>

namespace tallyport::server {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

// Who a change made from the command line is audited as.
std::string CommandLineActor() {
    const char* user = std::getenv("USER");
    return std::string("cli:") + (user && *user ? user : "?");
}

std::string TimeOrDash(const std::optional<int64_t>& time) {
    return time ? UtcText(*time) : std::string("-");
}

// The course and the entry a command names; none after saying why.
std::optional<std::pair<CourseDefinition, EntryDefinition>>
CourseEntry(const Store& store, int32_t number, const std::string& reference, std::ostream& err) {
    const auto course = store.FindCourse(number);
    if (!course) {
        err << "tallyport-server: no course " << number << '\n';
        return std::nullopt;
    }
    const EntryDefinition* entry = FindEntry(*course, reference);
    if (!entry) {
        err << "tallyport-server: course " << number << " has no entry " << reference
            << " (see: course show)\n";
        return std::nullopt;
    }
    return std::pair(*course, *entry);
}

} // namespace

const EntryDefinition* FindEntry(const CourseDefinition& course, const std::string& reference) {
    for (std::size_t i = 0; i < course.entries.size(); ++i)
        if (course.entries[i].key == reference || std::to_string(i) == reference)
            return &course.entries[i];
    return nullptr;
}

int ShowCourse(const Store& store, int32_t number, bool asToml, std::ostream& out,
               std::ostream& err) {
    const auto course = store.FindCourse(number);
    if (!course) {
        err << "tallyport-server: no course " << number << '\n';
        return kFailed;
    }
    if (asToml) {
        LoadedCourse loaded{*course, {}};
        for (std::size_t i = 0; i < course->entries.size(); ++i)
            if (auto files = store.ExamFiles(number, course->entries[i].id); !files.empty())
                loaded.examFiles.emplace_back(int32_t(i), std::move(files));
        std::vector<std::string> skipped;
        out << WriteCourseToml(loaded, &skipped);
        for (const auto& file : skipped)
            err << "tallyport-server: exam file " << file
                << " is not plain text and was left out: give it with path = ...\n";
        return kOk;
    }
    std::map<int32_t, EntryCounts> counts;
    for (const auto& c : store.CountEntries(number))
        counts[c.entry] = c;
    const int64_t now = int64_t(std::time(nullptr));
    out << course->number << ' ' << course->name << '\n';
    out << "index  key                 status  kind  component     element  section  opens      "
           "           deadline              late until            max  released  submitted  "
           "marked  label\n";
    std::size_t index = 0;
    for (const auto& component : course->components)
        for (int32_t e = 0; e < component.elements; ++e)
            for (int32_t s = 0; s < component.sections; ++s, ++index) {
                const auto& entry = course->entries[index];
                const auto& c = counts[entry.id];
                out << std::left << std::setw(7) << index << std::setw(20) << entry.key << ' '
                    << std::setw(8) << EntryStatus(entry, now) << std::setw(6) << entry.kind
                    << std::setw(14) << component.name << std::setw(9) << e + 1 << std::setw(9)
                    << s + 1 << std::setw(22) << TimeOrDash(entry.opens) << std::setw(22)
                    << TimeOrDash(entry.deadline) << std::setw(22) << TimeOrDash(entry.lateUntil)
                    << std::setw(5) << entry.maxMark << std::setw(10)
                    << (entry.marksReleased ? "yes" : "no") << std::setw(11) << c.submitted
                    << std::setw(8) << c.marked << entry.label << '\n';
            }
    for (const auto& entry : store.ArchivedEntries(number))
        out << "archived: " << entry.key << " (" << store.CountSubmissions(number, entry.id)
            << " submissions kept, hidden from students)\n";
    return kOk;
}

int ReleaseCommand(Store& store, int32_t course, const std::string& reference, bool released,
                   bool force, std::ostream& out, std::ostream& err) {
    const auto found = CourseEntry(store, course, reference, err);
    if (!found)
        return kFailed;
    const auto outcome = SetRelease(store, course, found->second, released, force, CommandLineActor(),
                                    int64_t(std::time(nullptr)));
    (outcome.done ? out : err) << (outcome.done ? "" : "tallyport-server: ") << outcome.message
                               << '\n';
    return outcome.done ? kOk : kFailed;
}

int GradesCommand(const Store& store, int32_t course, const std::optional<std::string>& entry,
                  std::ostream& out, std::ostream& err) {
    const auto csv = GradesCsv(store, course, entry);
    if (!csv) {
        err << "tallyport-server: no course " << course
            << (entry ? " with an entry " + *entry : std::string()) << '\n';
        return kFailed;
    }
    out << *csv;
    return kOk;
}

int ExtendCommand(Store& store, int32_t course, const std::string& reference, int32_t student,
                  const std::string& until, std::ostream& out, std::ostream& err) {
    const auto found = CourseEntry(store, course, reference, err);
    if (!found)
        return kFailed;
    std::optional<int64_t> deadline;
    if (!until.empty()) {
        std::string error;
        deadline = ParseCourseTime(until, error);
        if (!deadline) {
            err << "tallyport-server: --until: " << error << '\n';
            return 2;
        }
    }
    const EntryDefinition& entry = found->second;
    if (!store.SetExtension(course, entry.id, student, deadline, CommandLineActor())) {
        err << "tallyport-server: the extension could not be stored\n";
        return kFailed;
    }
    out << "student " << NormaliseStudentNumber(student) << ", entry " << entry.key << ": "
        << (deadline ? "deadline " + UtcText(*deadline) : "the entry's own deadline again ("
                                                              + TimeOrDash(entry.deadline) + ")")
        << '\n';
    return kOk;
}

} // namespace tallyport::server
