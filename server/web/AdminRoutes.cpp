// The admin's routes of a course's staff and students: its markers with their progress, markers
// added, removed and given passwords, the class list imported from CSV, and which marker is to
// mark whose work. Each is for an admin marker of the course, and each change is audited by the
// store in the change's own transaction.
#include "course/ClassListCsv.h"
#include "web/EntryAccess.h"
#include "web/MarkerPassword.h"

#include <algorithm>
#include <map>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

constexpr const char* kEntryPath = R"(/api/courses/(\d+)/entries/([A-Za-z0-9_-]+))";
constexpr const char* kMarkerPath = R"(/api/markers/([A-Za-z0-9._-]+))";
constexpr std::size_t kClassListBody = 1 << 20;

// The course of the route for an admin marker of it; none after answering 403 or 404.
std::optional<int32_t> AdminCourse(StaffContext& context, const Caller& caller,
                                   const HttpRequest& request, HttpResponse& response) {
    const auto course = AccessCourse(context, caller, request, response);
    if (!course || RefuseUnlessAdmin(caller, response))
        return std::nullopt;
    return course;
}

std::optional<EntryAccess> AdminEntry(StaffContext& context, const Caller& caller,
                                      const HttpRequest& request, HttpResponse& response) {
    auto access = AccessRouteEntry(context, caller, request, response);
    if (!access || RefuseUnlessAdmin(caller, response))
        return std::nullopt;
    return access;
}

bool Marks(const MarkerRecord& marker, int32_t course) {
    return std::find(marker.courses.begin(), marker.courses.end(), course) != marker.courses.end();
}

// The marker a route names, when the caller is an admin of every course that marker marks (an
// admin of one course cannot reach the staff of another); none after answering 403 or 404.
std::optional<MarkerRecord> ManagedMarker(StaffContext& context, const Caller& caller,
                                          const HttpRequest& request, HttpResponse& response) {
    if (RefuseUnlessAdmin(caller, response))
        return std::nullopt;
    auto marker = context.store.FindMarker(request.matches[1].str());
    if (!marker) {
        SendError(response, 404, "no such marker");
        return std::nullopt;
    }
    const bool mine =
        !marker->courses.empty() &&
        std::all_of(marker->courses.begin(), marker->courses.end(),
                    [&caller](int32_t course) { return MarksCourse(caller, course); });
    if (!mine) {
        SendError(response, 403, "marker " + marker->id + " marks a course you do not mark");
        return std::nullopt;
    }
    return marker;
}

// GET /api/courses/N/markers: each marker of the course with, per entry, how many latest
// submissions their marking stands on.
void ListCourseMarkers(StaffContext& context, const Caller& caller, const HttpRequest& request,
                       HttpResponse& response) {
    const auto course = AdminCourse(context, caller, request, response);
    if (!course)
        return;
    const auto definition = context.store.FindCourse(*course);
    if (!definition)
        return SendError(response, 404, "no such course");
    std::map<std::string, std::vector<int32_t>> marked; // marker -> count per entry position
    for (std::size_t i = 0; i < definition->entries.size(); ++i)
        for (const auto& latest :
             context.store.LatestPerStudent(*course, definition->entries[i].id))
            if (latest.mark) {
                auto& counts = marked[latest.mark->markerId];
                counts.resize(definition->entries.size());
                ++counts[i];
            }
    json list = json::array();
    for (const auto& listing : context.store.ListMarkers()) {
        if (!Marks(listing.marker, *course))
            continue;
        const auto counts = marked.find(listing.marker.id);
        json progress = json::array();
        for (std::size_t i = 0; i < definition->entries.size(); ++i)
            progress.push_back({{"entry", definition->entries[i].key},
                                {"marked", counts == marked.end() ? 0 : counts->second[i]}});
        list.push_back({{"id", listing.marker.id},
                        {"name", listing.marker.name},
                        {"info", listing.marker.info},
                        {"admin", listing.marker.admin},
                        {"hasPassword", listing.hasPassword},
                        {"progress", std::move(progress)}});
    }
    SendJson(response, 200, {{"course", *course}, {"markers", std::move(list)}});
}

// A field of a marker's body: missing is allowed when `required` is false.
bool CheckField(const json& body, const char* name, json::value_t type, bool required,
                HttpResponse& response) {
    const auto value = body.find(name);
    if (value == body.end() ? !required : value->type() == type)
        return true;
    SendError(response, 400, std::string("\"") + name + "\" is missing or of the wrong type");
    return false;
}

// The password problem of a body's "password", answered with 422; false when there is none.
bool RefusePassword(const std::string& password, HttpResponse& response) {
    const std::string problem = MarkerPasswordProblem(password);
    if (problem.empty())
        return false;
    SendError(response, 422, problem);
    return true;
}

// POST /api/markers {"id", "name", "info", "admin", "courses", "password"}: a new marker, of
// courses the admin marks.
void AddMarkerRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                    HttpResponse& response) {
    if (RefuseUnlessAdmin(caller, response))
        return;
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    for (const auto& [key, value] : body->items())
        if (key != "id" && key != "name" && key != "info" && key != "admin" && key != "courses" &&
            key != "password")
            return SendError(response, 400, "unknown field \"" + key + "\"");
    if (!CheckField(*body, "id", json::value_t::string, true, response) ||
        !CheckField(*body, "name", json::value_t::string, true, response) ||
        !CheckField(*body, "info", json::value_t::string, false, response) ||
        !CheckField(*body, "admin", json::value_t::boolean, false, response) ||
        !CheckField(*body, "courses", json::value_t::array, true, response) ||
        !CheckField(*body, "password", json::value_t::string, false, response))
        return;
    MarkerRecord marker{
        (*body)["id"], (*body)["name"], body->value("info", ""), body->value("admin", false), {}};
    if (!IsMarkerId(marker.id))
        return SendError(response, 422, "a marker id is 1 to 64 letters, digits, '.', '_' and '-'");
    for (const auto& course : (*body)["courses"]) {
        if (!course.is_number_integer() || course.get<int64_t>() <= 0 ||
            course.get<int64_t>() > INT32_MAX)
            return SendError(response, 400, "\"courses\" must be course numbers");
        if (!MarksCourse(caller, course.get<int32_t>()))
            return SendError(response, 403, "you do not mark course " + course.dump());
        marker.courses.push_back(course.get<int32_t>());
    }
    if (marker.courses.empty())
        return SendError(response, 422, "a marker needs at least one course");
    std::sort(marker.courses.begin(), marker.courses.end());
    std::optional<std::string> hash;
    if (body->contains("password")) {
        if (RefusePassword((*body)["password"], response))
            return;
        hash = HashMarkerPassword((*body)["password"].get<std::string>());
        if (!hash)
            return SendError(response, 500, "the password could not be hashed");
    }
    // Adding would replace a marker of that id, courses and all: never through this route.
    if (context.store.FindMarker(marker.id))
        return SendError(response, 409, "there is already a marker " + marker.id);
    if (!context.store.AddMarker(marker, caller.marker.id,
                                 hash ? std::optional<std::string_view>(*hash) : std::nullopt))
        return SendError(response, 500, "the marker could not be stored");
    SendJson(response, 200,
             {{"id", marker.id},
              {"name", marker.name},
              {"info", marker.info},
              {"admin", marker.admin},
              {"courses", marker.courses},
              {"hasPassword", hash.has_value()}});
}

// DELETE /api/markers/ID: never the caller; their sessions end with them.
void RemoveMarkerRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                       HttpResponse& response) {
    const auto marker = ManagedMarker(context, caller, request, response);
    if (!marker)
        return;
    if (marker->id == caller.marker.id)
        return SendError(response, 409, "you cannot remove yourself");
    if (!context.store.RemoveMarker(marker->id, caller.marker.id))
        return SendError(response, 500, "the marker could not be removed");
    SendJson(response, 200, {{"id", marker->id}, {"removed", true}});
}

// PUT /api/markers/ID/password {"password"}.
void SetPasswordRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                      HttpResponse& response) {
    const auto marker = ManagedMarker(context, caller, request, response);
    if (!marker)
        return;
    const auto body = ObjectBody(request, response);
    if (!body || !CheckField(*body, "password", json::value_t::string, true, response) ||
        RefusePassword((*body)["password"], response))
        return;
    const auto hash = HashMarkerPassword((*body)["password"].get<std::string>());
    if (!hash || !context.store.SetMarkerPassword(marker->id, *hash, caller.marker.id))
        return SendError(response, 500, "the password could not be stored");
    SendJson(response, 200, {{"id", marker->id}, {"hasPassword", true}});
}

// POST /api/courses/N/class-list {"csv"}: as `roster import`, the file taken whole or not at all.
void ImportClassListRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                          HttpResponse& response) {
    const auto course = AdminCourse(context, caller, request, response);
    if (!course)
        return;
    const auto body = ObjectBody(request, response);
    if (!body || !CheckField(*body, "csv", json::value_t::string, true, response))
        return;
    std::string error;
    const auto students = ParseClassList((*body)["csv"].get<std::string>(), error);
    if (!students)
        return SendError(response, 422, error + "; nothing was imported");
    const auto changes = context.store.ReplaceClassList(*course, *students, caller.marker.id);
    if (!changes)
        return SendError(response, 500, "the class list could not be stored");
    SendJson(response, 200,
             {{"course", *course},
              {"students", students->size()},
              {"added", changes->added},
              {"changed", changes->changed},
              {"removed", changes->removed}});
}

json AllocationJson(StaffContext& context, const EntryAccess& access) {
    json list = json::array();
    for (const auto& allocation : context.store.Allocations(access.course.number, access.id()))
        list.push_back({{"student", allocation.student}, {"marker", allocation.marker}});
    return {{"course", access.course.number},
            {"entry", access.definition().key},
            {"allocation", std::move(list)}};
}

void ListAllocation(StaffContext& context, const Caller& caller, const HttpRequest& request,
                    HttpResponse& response) {
    if (const auto access = AdminEntry(context, caller, request, response))
        SendJson(response, 200, AllocationJson(context, *access));
}

// PUT .../allocation {"student", "marker"}: the student's work to a marker of the course, or
// back to nobody with "marker": null.
void SetAllocationRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                        HttpResponse& response) {
    const auto access = AdminEntry(context, caller, request, response);
    if (!access)
        return;
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    const auto student = body->find("student");
    if (student == body->end() || !student->is_number_integer() || student->get<int64_t>() <= 0 ||
        student->get<int64_t>() > INT32_MAX)
        return SendError(response, 400, "\"student\" must be a student number");
    const auto marker = body->find("marker");
    if (marker == body->end() || !(marker->is_string() || marker->is_null()))
        return SendError(response, 400, "\"marker\" must be a marker id or null");
    std::optional<std::string> id;
    if (marker->is_string()) {
        id = marker->get<std::string>();
        const auto record = context.store.FindMarker(*id);
        if (!record || !Marks(*record, access->course.number))
            return SendError(response, 422,
                             "marker " + *id + " does not mark course " +
                                 std::to_string(access->course.number));
    }
    if (!context.store.SetAllocation(access->course.number, access->id(), student->get<int32_t>(),
                                     id, caller.marker.id))
        return SendError(response, 500, "the allocation could not be stored");
    SendJson(response, 200, AllocationJson(context, *access));
}

// The markers a body's "markers" names, each a marker of `course`, in id order; all the
// course's markers when the body has none. None after answering 400 or 422.
std::optional<std::vector<std::string>> EvenMarkers(StaffContext& context, const json& body,
                                                    int32_t course, HttpResponse& response) {
    for (const auto& [key, value] : body.items())
        if (key != "markers") {
            SendError(response, 400, "unknown field \"" + key + "\"");
            return std::nullopt;
        }
    std::vector<std::string> ofCourse;
    for (const auto& listing : context.store.ListMarkers())
        if (Marks(listing.marker, course))
            ofCourse.push_back(listing.marker.id);
    const auto named = body.find("markers");
    if (named == body.end())
        return ofCourse;
    if (!named->is_array() ||
        !std::all_of(named->begin(), named->end(), [](const json& id) { return id.is_string(); })) {
        SendError(response, 400, "\"markers\" must be a list of marker ids");
        return std::nullopt;
    }
    std::vector<std::string> chosen;
    for (const auto& id : *named) {
        if (std::find(ofCourse.begin(), ofCourse.end(), id.get<std::string>()) == ofCourse.end()) {
            SendError(response, 422,
                      "marker " + id.get<std::string>() + " does not mark course " +
                          std::to_string(course));
            return std::nullopt;
        }
        chosen.push_back(id.get<std::string>());
    }
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    if (chosen.empty()) {
        SendError(response, 422, "choose at least one marker");
        return std::nullopt;
    }
    return chosen;
}

// POST .../allocation/even [{"markers": [id, ...]}]: every student with a submission and no
// marker yet, in turn to the course's markers, or to those named.
void AllocateEvenlyRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                         HttpResponse& response) {
    const auto access = AdminEntry(context, caller, request, response);
    if (!access)
        return;
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    const auto markers = EvenMarkers(context, *body, access->course.number, response);
    if (!markers)
        return;
    if (!context.store.AllocateEvenly(access->course.number, access->id(), *markers,
                                      caller.marker.id))
        return SendError(response, 500, "the allocation could not be stored");
    SendJson(response, 200, AllocationJson(context, *access));
}

} // namespace

void InstallAdminRoutes(Router& server, StaffContext& context) {
    const std::string entry = kEntryPath;
    const std::string marker = kMarkerPath;
    server.Get(R"(/api/courses/(\d+)/markers)", ForCaller(context, false, ListCourseMarkers));
    server.Post("/api/markers", ForCaller(context, true, AddMarkerRoute));
    server.Add("DELETE", marker, ForCaller(context, true, RemoveMarkerRoute), kSmallBody);
    server.Put(marker + "/password", ForCaller(context, true, SetPasswordRoute));
    server.Post(R"(/api/courses/(\d+)/class-list)", ForCaller(context, true, ImportClassListRoute),
                kClassListBody);
    server.Get(entry + "/allocation", ForCaller(context, false, ListAllocation));
    server.Put(entry + "/allocation", ForCaller(context, true, SetAllocationRoute));
    server.Post(entry + "/allocation/even", ForCaller(context, true, AllocateEvenlyRoute));
}

} // namespace tallyport::server::staff
