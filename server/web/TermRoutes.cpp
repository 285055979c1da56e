// The admin's routes of a course's term: release and unrelease of an entry's marks, students'
// own deadlines (extensions), and the grades as CSV. Each is for an admin marker of the course,
// and each change is audited by the store.
#include "course/GradesCsv.h"
#include "course/Release.h"
#include "web/EntryAccess.h"
#include "web/MarkingJson.h"

#include <ctime>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

constexpr const char* kEntryPath = R"(/api/courses/(\d+)/entries/([A-Za-z0-9_-]+))";

// POST .../release with an optional {"force": true}, and .../unrelease. A release while
// students could still submit is refused with 409 and their number unless forced.
void ReleaseRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                  HttpResponse& response, bool released) {
    const auto access = AccessRouteEntry(context, caller, request, response);
    if (!access || RefuseUnlessAdmin(caller, response))
        return;
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    if (body->contains("force") && !(*body)["force"].is_boolean())
        return SendError(response, 400, "\"force\" must be true or false");
    const auto outcome =
        SetRelease(context.store, access->course.number, access->definition(), released,
                   body->value("force", false), caller.marker.id, std::time(nullptr));
    if (outcome.refused)
        return SendJson(response, 409,
                        {{"error", outcome.message}, {"stillSubmitting", outcome.stillSubmitting}});
    if (!outcome.done)
        return SendError(response, 500, outcome.message);
    SendJson(response, 200,
             {{"course", access->course.number},
              {"entry", access->definition().key},
              {"marksReleased", released}});
}

json ExtensionsJson(StaffContext& context, const EntryAccess& access) {
    json list = json::array();
    for (const auto& [student, until] :
         context.store.Extensions(access.course.number, access.id()))
        list.push_back({{"student", student}, {"until", until}});
    return {{"course", access.course.number},
            {"entry", access.definition().key},
            {"deadline", access.definition().deadline ? json(*access.definition().deadline)
                                                      : json(nullptr)},
            {"extensions", std::move(list)}};
}

void ListExtensions(StaffContext& context, const Caller& caller, const HttpRequest& request,
                    HttpResponse& response) {
    if (const auto access = AccessRouteEntry(context, caller, request, response))
        SendJson(response, 200, ExtensionsJson(context, *access));
}

// PUT .../extensions/S {"until": Unix seconds} grants or changes; DELETE removes.
void SetExtensionRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                       HttpResponse& response) {
    const auto access = AccessRouteEntry(context, caller, request, response);
    if (!access || RefuseUnlessAdmin(caller, response))
        return;
    const auto student = RouteNumber(request, 3);
    if (!student || *student <= 0)
        return SendError(response, 404, "no such student number");
    std::optional<int64_t> until;
    if (request.method == "PUT") {
        const auto body = ObjectBody(request, response);
        if (!body)
            return;
        const auto value = body->find("until");
        if (value == body->end() || !value->is_number_integer())
            return SendError(response, 400, "\"until\" must be a time in Unix seconds");
        until = value->get<int64_t>();
    }
    if (!context.store.SetExtension(access->course.number, access->id(), *student, until,
                                     caller.marker.id))
        return SendError(response, 500, "the extension could not be stored");
    SendJson(response, 200, ExtensionsJson(context, *access));
}

void GradesRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                 HttpResponse& response) {
    const auto course = RouteNumber(request, 1);
    if (!course || !MarksCourse(caller, *course))
        return SendError(response, 403, "you do not mark course " + request.matches[1].str());
    if (RefuseUnlessAdmin(caller, response))
        return;
    const auto csv = GradesCsv(context.store, *course);
    if (!csv)
        return SendError(response, 404, "no such course");
    response.status = 200;
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Disposition", "attachment; filename=\"grades-" +
                                                   std::to_string(*course) + ".csv\"");
    response.set_content(*csv, "text/csv; charset=utf-8");
}

} // namespace

void InstallTermRoutes(Router& server, StaffContext& context) {
    const std::string entry = kEntryPath;
    for (const bool released : {true, false})
        server.Post(entry + (released ? "/release" : "/unrelease"),
                    ForCaller(context, true,
                              [released](StaffContext& c, const Caller& caller,
                                         const HttpRequest& request, HttpResponse& response) {
                                  ReleaseRoute(c, caller, request, response, released);
                              }));
    server.Get(entry + "/extensions", ForCaller(context, false, ListExtensions));
    server.Put(entry + R"(/extensions/(\d+))", ForCaller(context, true, SetExtensionRoute));
    server.Add("DELETE", entry + R"(/extensions/(\d+))", ForCaller(context, true, SetExtensionRoute),
               kSmallBody);
    server.Get(R"(/api/courses/(\d+)/grades\.csv)", ForCaller(context, false, GradesRoute));
}

} // namespace tallyport::server::staff
