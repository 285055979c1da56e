#include "web/Download.h"
#include "web/EntryAccess.h"
#include "web/JsonText.h"
#include "web/MarkingJson.h"
#include "web/StaffRoutes.h"
#include "web/SubmissionJson.h"
#include "web/Windows1252.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <map>
#include <variant>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

// A submission the caller may see, with its course; none after answering 403 or 404.
struct SubmissionAccess {
    SubmissionInfo info;
    EntryDefinition entry;
};

std::optional<SubmissionAccess> AccessSubmission(StaffContext& context, const Caller& caller,
                                                 const HttpRequest& request,
                                                 HttpResponse& response) {
    const auto serial = RouteNumber(request, 1);
    const auto info = serial ? context.store.FindSubmission(*serial) : std::nullopt;
    // Another course's serial answers as a missing one does, so that serials cannot be mapped
    // to the courses that hold them.
    if (!info || !MarksCourse(caller, info->course)) {
        SendError(response, 404, "no such submission");
        return std::nullopt;
    }
    auto entry = context.store.FindEntry(info->course, info->entry);
    if (!entry) {
        SendError(response, 404,
                  "the entry of this submission is archived or gone from the course");
        return std::nullopt;
    }
    return SubmissionAccess{*info, std::move(*entry)};
}

// The marking with each file's annotations: the answer to a save and to a stale one.
json MarkingJson(const StoredMarking& marking, const std::vector<StoredFile>& files) {
    json list = json::array();
    for (std::size_t i = 0; i < files.size(); ++i)
        list.push_back(
            {{"name", Windows1252ToUtf8(files[i].name)},
             {"annotations",
              i < marking.markup.size() ? AnnotationsJson(marking.markup[i]) : json::array()}});
    return {{"marking", MarkJson(marking.mark)}, {"files", std::move(list)}};
}

json EntryJson(const CourseDefinition& course, int32_t index, const EntryCounts& counts) {
    const EntryPlace place = EntryPlaceOf(course, index);
    const auto& entry = course.entries[std::size_t(index)];
    return {{"entry", entry.key},
            {"index", index},
            {"component", Windows1252ToUtf8(place.component)},
            {"element", place.element},
            {"sections", place.sections},
            {"label", Windows1252ToUtf8(entry.label)},
            {"kind", std::string(1, entry.kind)},
            {"maxMark", entry.maxMark},
            {"marksReleased", entry.marksReleased},
            {"opens", entry.opens ? json(*entry.opens) : json(nullptr)},
            {"deadline", entry.deadline ? json(*entry.deadline) : json(nullptr)},
            {"lateUntil", entry.lateUntil ? json(*entry.lateUntil) : json(nullptr)},
            {"submitted", counts.submitted},
            {"marked", counts.marked},
            {"released", entry.marksReleased ? counts.marked : 0}};
}

void ListCourses(StaffContext& context, const Caller& caller, HttpResponse& response) {
    json courses = json::array();
    for (const int32_t number : caller.marker.courses) {
        const auto course = context.store.FindCourse(number);
        if (!course)
            continue;
        std::map<int32_t, EntryCounts> counts; // by entry id
        for (const auto& c : context.store.CountEntries(number))
            counts[c.entry] = c;
        json entries = json::array();
        for (int32_t i = 0; i < int32_t(course->entries.size()); ++i)
            entries.push_back(EntryJson(*course, i, counts[course->entries[std::size_t(i)].id]));
        courses.push_back({{"number", number},
                           {"name", Windows1252ToUtf8(course->name)},
                           {"entries", std::move(entries)}});
    }
    SendJson(response, 200, {{"courses", std::move(courses)}});
}

void ListSubmissions(StaffContext& context, const Caller& caller, const HttpRequest& request,
                     HttpResponse& response) {
    const auto course = RouteNumber(request, 1);
    if (!course)
        return SendError(response, 404, "no such course or entry");
    const auto access =
        AccessEntry(context, caller, *course, std::string(request.matches[2]), response);
    if (!access)
        return;
    const auto extensions = context.store.Extensions(*course, access->id());
    const auto allocations = context.store.Allocations(*course, access->id()); // by student
    json list = json::array();
    for (const auto& latest : context.store.LatestPerStudent(*course, access->id())) {
        json item = MarkJson(latest.mark);
        item.erase("detail");
        item["serial"] = latest.info.serial;
        item["student"] = latest.info.student;
        item["submitted"] = latest.info.time;
        item["files"] = latest.info.files;
        item["bytes"] = latest.info.bytes;
        item["marked"] = latest.info.marked;
        const auto own = std::lower_bound(extensions.begin(), extensions.end(),
                                          std::pair(latest.info.student, INT64_MIN));
        const auto extension = own != extensions.end() && own->first == latest.info.student
                                   ? std::optional(own->second)
                                   : std::nullopt;
        item["deadline"] = OwnDeadline(access->definition(), extension)
                               ? json(*OwnDeadline(access->definition(), extension))
                               : json(nullptr);
        item["lateBy"] = SecondsLate(access->definition(), extension, latest.info.time);
        const auto allocation = std::lower_bound(
            allocations.begin(), allocations.end(), latest.info.student,
            [](const Allocation& a, int32_t student) { return a.student < student; });
        item["assignedTo"] =
            allocation != allocations.end() && allocation->student == latest.info.student
                ? json(allocation->marker)
                : json(nullptr);
        list.push_back(std::move(item));
    }
    SendJson(response, 200,
             {{"course", *course},
              {"entry", access->definition().key},
              {"maxMark", access->definition().maxMark},
              {"marksReleased", access->definition().marksReleased},
              {"submissions", std::move(list)}});
}

void ShowSubmission(StaffContext& context, const Caller& caller, const HttpRequest& request,
                    HttpResponse& response) {
    const auto access = AccessSubmission(context, caller, request, response);
    if (!access)
        return;
    const auto body = SubmissionJson(context.store, access->info, access->entry);
    if (!body) {
        SendError(response, 500, "the submission's stored files cannot be read");
        return;
    }
    SendJson(response, 200, *body);
}

// Where in the submission's files `file` goes; none after answering 422.
std::optional<std::size_t> FilePosition(const std::vector<StoredFile>& files,
                                        const FileMarkupUpdate& file, HttpResponse& response) {
    if (file.index) {
        if (*file.index >= files.size()) {
            SendError(response, 422,
                      "the submission has no file " + std::to_string(*file.index) + " (it has " +
                          std::to_string(files.size()) + ")");
            return std::nullopt;
        }
        if (!file.name.empty() && Windows1252ToUtf8(files[*file.index].name) != file.name) {
            SendError(response, 422,
                      "file " + std::to_string(*file.index) + " is not named " + file.name);
            return std::nullopt;
        }
        return file.index;
    }
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (Windows1252ToUtf8(files[i].name) != file.name)
            continue;
        if (found) {
            SendError(response, 422,
                      "the submission has more than one file named " + file.name +
                          ": give each file's \"index\"");
            return std::nullopt;
        }
        found = i;
    }
    if (!found)
        SendError(response, 422, "the submission has no file named " + file.name);
    return found;
}

// The answer to a save or a restore based on `baseVersion`: the marking as it is now, read back
// unless the caller gives it as `saved`, JSON text (a save that succeeded answers with what it
// wrote).
void AnswerSave(StaffContext& context, int32_t serial, const std::vector<StoredFile>& files,
                int64_t baseVersion, SaveOutcome outcome, HttpResponse& response,
                std::string* saved = nullptr) {
    if (outcome == SaveOutcome::Saved && saved) {
        SendJsonText(response, 200, std::move(*saved));
        return;
    }
    const auto current = context.store.FindMarking(serial);
    if (!current) {
        SendError(response, 500, "the marking could not be read back");
        return;
    }
    switch (outcome) {
    case SaveOutcome::Saved:
        SendJson(response, 200, MarkingJson(*current, files));
        return;
    case SaveOutcome::Stale: {
        json body = {{"error", "someone else saved this marking since version " +
                                   std::to_string(baseVersion) + "; nothing was changed"},
                     {"current", MarkingJson(*current, files)}};
        SendJson(response, 409, body);
        return;
    }
    case SaveOutcome::Superseded:
        SendError(response, 409,
                  "the student has submitted again since; mark the latest submission");
        return;
    case SaveOutcome::NoSubmission:
        SendError(response, 404, "no such submission");
        return;
    case SaveOutcome::NoVersion:
        SendError(response, 404, "no such version of the marking");
        return;
    case SaveOutcome::WrongFileCount:
    case SaveOutcome::Failed:
        break;
    }
    SendError(response, 500, "the marking could not be stored");
}

void SaveMarkingRoute(StaffContext& context, const Caller& caller, const HttpRequest& request,
                      HttpResponse& response) {
    const auto access = AccessSubmission(context, caller, request, response);
    if (!access)
        return;
    std::string why;
    bool overLimit = false;
    auto update = ParseMarkingUpdate(request.body, why, &overLimit);
    if (!update) {
        SendError(response, overLimit ? 422 : 400, why);
        return;
    }
    const int32_t maxMark = access->entry.maxMark;
    if (update->mark < 0 || update->mark > maxMark) {
        SendError(response, 422, "the mark must be between 0 and " + std::to_string(maxMark));
        return;
    }
    const auto files = context.store.SubmissionFiles(access->info.serial);
    MarkingSave save{
        access->info.serial, update->version,           update->mark,
        caller.marker.id,    std::move(update->detail), std::vector<std::string>(files.size())};
    std::vector<bool> given(files.size());
    std::vector<std::string> annotations(files.size(), "[]");
    for (auto& file : update->files) {
        const auto position = FilePosition(files, file, response);
        if (!position)
            return;
        if (given[*position]) {
            SendError(response, 400, "files gives file " + std::to_string(*position) + " twice");
            return;
        }
        given[*position] = true;
        save.markup[*position] = std::move(file.markup);
        annotations[*position] = std::move(file.annotations);
    }
    MarkRecord written;
    const SaveOutcome outcome = context.store.SaveMarking(save, &written);
    // What MarkingJson would write for the stored marking, keys in its order, written here from
    // the annotations as they were parsed: a value tree of every annotation cost more than the
    // rest of the save's own work.
    std::string saved;
    if (outcome == SaveOutcome::Saved) {
        saved = "{\"files\":[";
        for (std::size_t i = 0; i < files.size(); ++i) {
            saved.append(i ? ",{\"annotations\":" : "{\"annotations\":").append(annotations[i]);
            saved += ",\"name\":";
            AppendJsonString(saved, Windows1252ToUtf8(files[i].name));
            saved += '}';
        }
        saved.append("],\"marking\":")
            .append(MarkJson(written).dump(-1, ' ', false, json::error_handler_t::replace))
            .append("}");
    }
    AnswerSave(context, access->info.serial, files, save.baseVersion, outcome, response, &saved);
}

// GET versions: the submission's saved markings, newest first, without their markup.
void ListVersions(StaffContext& context, const Caller& caller, const HttpRequest& request,
                  HttpResponse& response) {
    const auto access = AccessSubmission(context, caller, request, response);
    if (!access)
        return;
    json list = json::array();
    for (const auto& version : context.store.MarkingVersions(access->info.serial))
        list.push_back(MarkJson(version));
    SendJson(response, 200, {{"serial", access->info.serial}, {"versions", std::move(list)}});
}

// One version of the submission's history; none after answering 404.
std::optional<StoredMarking> AccessVersion(StaffContext& context, int32_t serial,
                                           const HttpRequest& request, HttpResponse& response) {
    const auto version = RouteNumber(request, 2);
    auto marking = version ? context.store.FindMarkingVersion(serial, *version) : std::nullopt;
    if (!marking)
        SendError(response, 404, "no such version of the marking");
    return marking;
}

void ShowVersion(StaffContext& context, const Caller& caller, const HttpRequest& request,
                 HttpResponse& response) {
    const auto access = AccessSubmission(context, caller, request, response);
    if (!access)
        return;
    if (const auto marking = AccessVersion(context, access->info.serial, request, response))
        SendJson(response, 200,
                 MarkingJson(*marking, context.store.SubmissionFiles(access->info.serial)));
}

// POST restore {"version": the current version the marker saw}: the old marking saved again
// as a new version, refused like a save when someone saved since.
void RestoreVersion(StaffContext& context, const Caller& caller, const HttpRequest& request,
                    HttpResponse& response) {
    const auto access = AccessSubmission(context, caller, request, response);
    if (!access)
        return;
    std::string why;
    const auto body = ParseJsonBody(request.body, why);
    if (!body) {
        SendError(response, 400, why);
        return;
    }
    const auto base = body->find("version");
    if (!body->is_object() || body->size() != 1 || base == body->end() ||
        !base->is_number_integer() || base->get<int64_t>() < 0) {
        SendError(response, 400, "a restore is {\"version\": the current version}");
        return;
    }
    const auto old = AccessVersion(context, access->info.serial, request, response);
    if (!old)
        return;
    const int32_t maxMark = access->entry.maxMark;
    if (old->mark->mark > maxMark) {
        SendError(response, 422,
                  "that version's mark is above the entry's maximum of " + std::to_string(maxMark));
        return;
    }
    const MarkingRestore restore{access->info.serial, old->mark->version, base->get<int64_t>(),
                                 caller.marker.id};
    AnswerSave(context, restore.serial, context.store.SubmissionFiles(restore.serial),
               restore.baseVersion, context.store.RestoreMarking(restore), response);
}

void DownloadFile(StaffContext& context, const Caller& caller, const HttpRequest& request,
                  HttpResponse& response) {
    const auto access = AccessSubmission(context, caller, request, response);
    if (!access)
        return;
    const auto index = RouteNumber(request, 2);
    const auto files = context.store.SubmissionFiles(access->info.serial);
    const auto package = context.store.PackageBytes(access->info.serial);
    if (!index || *index < 0 || *index >= int32_t(files.size()) || !package) {
        SendError(response, 404, "no such file");
        return;
    }
    const StoredFile& file = files[std::size_t(*index)];
    SendDownload(response, file.name, FileBytes(*package, file));
}

} // namespace

void InstallMarkingRoutes(Router& server, StaffContext& context) {
    server.Get("/api/courses",
               ForCaller(context, false,
                         [](StaffContext& c, const Caller& caller, const HttpRequest&,
                            HttpResponse& response) { ListCourses(c, caller, response); }));
    server.Get(R"(/api/courses/(\d+)/entries/([A-Za-z0-9_-]+)/submissions)",
               ForCaller(context, false, ListSubmissions));
    server.Get(R"(/api/submissions/(\d+))", ForCaller(context, false, ShowSubmission));
    server.Put(R"(/api/submissions/(\d+)/marking)", ForCaller(context, true, SaveMarkingRoute),
               kMarkingBody);
    server.Get(R"(/api/submissions/(\d+)/files/(\d+))", ForCaller(context, false, DownloadFile));
    server.Get(R"(/api/submissions/(\d+)/versions)", ForCaller(context, false, ListVersions));
    server.Get(R"(/api/submissions/(\d+)/versions/(\d+))", ForCaller(context, false, ShowVersion));
    server.Post(R"(/api/submissions/(\d+)/versions/(\d+)/restore)",
                ForCaller(context, true, RestoreVersion));
}

} // namespace tallyport::server::staff
