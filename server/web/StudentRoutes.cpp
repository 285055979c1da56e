// GET /api/courses/N/students: the course's students (its class list, and whoever registered)
// with their submissions per entry, for the course's markers.
// POST /api/courses/N/students/S/reset-password: a one-time password for a registered student,
// for an admin marker of the course.
#include "common/OneTimePassword.h"
#include "web/StaffRoutes.h"

#include <algorithm>
#include <map>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

void ListStudents(StaffContext& context, const Caller& caller, const HttpRequest& request,
                  HttpResponse& response) {
    const auto course = AccessCourse(context, caller, request, response);
    if (!course)
        return;
    std::map<int32_t, std::string> keys; // entry id -> key, archived entries included
    const auto definition = context.store.FindCourse(*course);
    for (const auto& entry : definition ? definition->entries : std::vector<EntryDefinition>{})
        keys[entry.id] = entry.key;
    for (const auto& entry : context.store.ArchivedEntries(*course))
        keys[entry.id] = entry.key;
    std::map<int32_t, json> entries; // student -> their entries
    for (const auto& counts : context.store.SubmissionCounts(*course)) {
        json& list = entries[counts.student];
        if (list.is_null())
            list = json::array();
        list.push_back({{"entry", keys[counts.entry]},
                        {"submissions", counts.count},
                        {"latestSerial", counts.latestSerial}});
    }
    const auto students = context.store.CourseStudents(*course);
    const bool hasList =
        std::any_of(students.begin(), students.end(), [](const auto& s) { return s.listed; });
    json list = json::array();
    for (const auto& student : students) {
        const auto found = entries.find(student.number);
        list.push_back({{"number", student.number},
                        {"name", student.name},
                        {"email", student.email},
                        {"listed", student.listed},
                        {"registered", student.registered},
                        {"entries", found == entries.end() ? json::array() : found->second}});
    }
    SendJson(response, 200,
             {{"course", *course}, {"classList", hasList}, {"students", std::move(list)}});
}

void ResetPasswordRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                        HttpResponse& response) {
    const auto course = AccessCourse(context, caller, request, response);
    if (!course)
        return;
    if (!caller.marker.admin) {
        SendError(response, 403, "only an admin marker may reset a student's password");
        return;
    }
    const auto student = RouteNumber(request, 2);
    if (!student || !context.store.FindStudent(*course, *student)) {
        SendError(response, 404, "no such registered student");
        return;
    }
    const auto password = ResetStudentPassword(context.store, *course, *student, caller.marker.id);
    if (!password) {
        SendError(response, 500, "the new password could not be stored");
        return;
    }
    SendJson(response, 200,
             {{"course", *course},
              {"student", NormaliseStudentNumber(*student)},
              {"password", *password}});
}

} // namespace

void InstallStudentRoutes(Router& server, StaffContext& context) {
    server.Get(R"(/api/courses/(\d+)/students)", ForCaller(context, false, ListStudents));
    server.Post(R"(/api/courses/(\d+)/students/(\d+)/reset-password)",
                ForCaller(context, true, ResetPasswordRoute));
}

} // namespace tallyport::server::staff
