#include "cli/RosterCommands.h"

#include "common/OneTimePassword.h"
#include "course/ClassListCsv.h"
#include "store/PackageFiles.h"

#include <algorithm>
#include <iomanip>
#include <ostream>

namespace tallyport::server {
namespace {

bool CourseExists(Store& store, int32_t course, std::ostream& err) {
    if (store.FindCourse(course))
        return true;
    err << "tallyport-server: no course " << course << " (add it with: course load)\n";
    return false;
}

const char* State(const CourseStudent& student) {
    if (!student.listed)
        return "not listed";
    return student.registered ? "registered" : "not registered";
}

} // namespace

int ImportClassList(Store& store, int32_t course, const std::string& file, std::ostream& out,
                    std::ostream& err) {
    const auto text = ReadWholeFile(file);
    if (!text) {
        err << "tallyport-server: cannot read " << file << '\n';
        return 1;
    }
    std::string error;
    const auto students = ParseClassList(*text, error);
    if (!students) {
        err << "tallyport-server: " << file << ": " << error << "; nothing was imported\n";
        return 1;
    }
    if (!CourseExists(store, course, err))
        return 1;
    const auto changes = store.ReplaceClassList(course, *students);
    if (!changes) {
        err << "tallyport-server: the class list could not be stored; nothing was imported\n";
        return 1;
    }
    out << "class list of course " << course << ": " << students->size() << " students; "
        << changes->added << " added, " << changes->changed << " changed, " << changes->removed
        << " removed\n";
    return 0;
}

int ShowClassList(Store& store, int32_t course, std::ostream& out, std::ostream& err) {
    if (!CourseExists(store, course, err))
        return 1;
    const auto students = store.CourseStudents(course);
    const bool hasList =
        std::any_of(students.begin(), students.end(), [](const auto& s) { return s.listed; });
    if (!hasList)
        out << "course " << course << " has no class list: any number may register\n";
    out << "number     state           name <e-mail>\n";
    for (const auto& student : students)
        out << std::left << std::setw(11) << student.number << std::setw(16) << State(student)
            << student.name << " <" << student.email << ">\n";
    return 0;
}

int ResetStudentPasswordCommand(Store& store, int32_t course, int32_t student, std::ostream& out,
                                std::ostream& err) {
    if (!CourseExists(store, course, err))
        return 1;
    if (!store.FindStudent(course, student)) {
        err << "tallyport-server: student " << NormaliseStudentNumber(student)
            << " has not registered for course " << course << '\n';
        return 1;
    }
    const auto password = ResetStudentPassword(store, course, student);
    if (!password) {
        err << "tallyport-server: the new password could not be stored\n";
        return 1;
    }
    out << "one-time password of student " << NormaliseStudentNumber(student) << " in course "
        << course << ": " << *password
        << "\n(shown only now; the student logs in with it and changes it with Update Info)\n";
    return 0;
}

} // namespace tallyport::server
