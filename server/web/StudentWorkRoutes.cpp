// The student pages' work: the student's course with their own deadlines and submissions, an
// entry's file rules, the upload of a package (taken in by the same function as the protocol's
// upload), receipts, marked work once released, and exam files. A student sees only their own:
// another student's serial answers exactly as a missing one.
#include "common/Sha256.h"
#include "common/UtcText.h"
#include "exam/ExamSelector.h"
#include "protocol/StatusCode.h"
#include "student/StoreUpload.h"
#include "submission/RequiredFileSet.h"
#include "web/Download.h"
#include "web/StaffRoutes.h"
#include "web/StudentContext.h"
#include "web/SubmissionJson.h"
#include "web/Windows1252.h"

#include <map>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

constexpr std::string_view kNoSubmission = "no such submission";
constexpr std::string_view kNotReleased = "Marks for this entry have not been released yet.";

json TimeJson(std::optional<int64_t> time) {
    return time ? json(UtcText(*time)) : json(nullptr);
}

// One of the student's course's entries, by key; none after answering 404.
struct StudentEntry {
    CourseDefinition course;
    std::size_t position = 0;
    const EntryDefinition& definition() const { return course.entries[position]; }
};

std::optional<StudentEntry> AccessEntry(StudentContext& context, const StudentCaller& caller,
                                        const HttpRequest& request, HttpResponse& response) {
    auto course = context.store.FindCourse(caller.student.course);
    const std::string key = request.matches[1];
    for (std::size_t i = 0; course && i < course->entries.size(); ++i)
        if (course->entries[i].key == key)
            return StudentEntry{std::move(*course), i};
    SendError(response, 404, "no such entry");
    return std::nullopt;
}

std::optional<int64_t> Extension(StudentContext& context, const StudentCaller& caller,
                                 const EntryDefinition& entry) {
    return context.store.FindExtension(caller.student.course, entry.id, caller.student.number);
}

bool TakesUploads(UploadTime time) {
    return time == UploadTime::Open || time == UploadTime::Late;
}

// Whether the protocol would let this student's address reach the entry; false after 403.
bool AllowedHere(const StudentEntry& entry, const HttpRequest& request, HttpResponse& response) {
    if (AddressAllowed(entry.course.allowList, request.remote_addr) &&
        AddressAllowed(entry.definition().allowList, request.remote_addr))
        return true;
    SendError(response, 403, DescribeStatus(status::kNotAllowedHere).text);
    return false;
}

// The receipt of a stored submission: its serial and time, whether it was late, and every file's
// name, size and SHA-256 in package order.
json Receipt(int32_t serial, int64_t time, bool late, const std::vector<StoredFile>& files,
             std::string_view package) {
    json list = json::array();
    for (const auto& file : files) {
        list.push_back({{"name", Windows1252ToUtf8(file.name)},
                        {"size", file.length},
                        {"sha256", Sha256Hex(FileBytes(package, file))}});
    }
    return {
        {"serial", serial}, {"time", UtcText(time)}, {"late", late}, {"files", std::move(list)}};
}

// The exam files this student receives for the entry, as the protocol's exam download and the
// desktop client's choice of them give them; none after answering 403, 404 or 409.
std::optional<std::vector<ExamFile>> ExamFilesFor(StudentContext& context,
                                                  const StudentCaller& caller,
                                                  const HttpRequest& request,
                                                  HttpResponse& response) {
    const auto entry = AccessEntry(context, caller, request, response);
    if (!entry || !AllowedHere(*entry, request, response))
        return std::nullopt;
    const EntryDefinition& definition = entry->definition();
    if (EntryStatus(definition, StudentNow()) == 'U') {
        SendError(response, 409, DescribeStatus(status::kNotYetOpen).text);
        return std::nullopt;
    }
    auto files = context.store.ExamFiles(caller.student.course, definition.id);
    const auto range = ChooseExamFiles(
        definition.kind, ExamSelector(definition, caller.student.number), int32_t(files.size()));
    std::vector<ExamFile> given;
    for (int32_t i = 0; range && i < int32_t(files.size()); ++i)
        if (range->Contains(i))
            given.push_back(std::move(files[std::size_t(i)]));
    if (given.empty()) {
        SendError(response, 404, "this entry has no exam questions for you");
        return std::nullopt;
    }
    return given;
}

void ShowCourse(StudentContext& context, const StudentCaller& caller, const HttpRequest&,
                HttpResponse& response) {
    const int32_t number = caller.student.course;
    const auto course = context.store.FindCourse(number);
    if (!course) {
        SendError(response, 404, DescribeStatus(status::kUnknownCourse).text);
        return;
    }
    const int64_t now = StudentNow();
    // Each entry's extension, read once: submissions and entries both need it.
    std::map<int32_t, std::pair<const EntryDefinition*, std::optional<int64_t>>> byId;
    for (const auto& entry : course->entries)
        byId[entry.id] = {&entry, Extension(context, caller, entry)};
    std::map<int32_t, json> submissions; // by entry id
    for (const auto& info :
         context.store.ListSubmissions({caller.student.course, caller.student.number})) {
        const auto found = byId.find(info.entry);
        if (found == byId.end())
            continue; // archived
        const auto& [entry, extension] = found->second;
        json files = json::array();
        for (const auto& file : context.store.SubmissionFiles(info.serial))
            files.push_back({{"name", Windows1252ToUtf8(file.name)}, {"size", file.length}});
        json& list = submissions[info.entry];
        if (list.is_null())
            list = json::array();
        list.push_back({{"serial", info.serial},
                        {"time", UtcText(info.time)},
                        {"late", SecondsLate(*entry, extension, info.time) > 0},
                        {"files", std::move(files)}});
    }
    json entries = json::array();
    for (std::size_t i = 0; i < course->entries.size(); ++i) {
        const EntryDefinition& entry = course->entries[i];
        const EntryPlace place = EntryPlaceOf(*course, int32_t(i));
        const auto& extension = byId[entry.id].second;
        const auto range = ChooseExamFiles(entry.kind, ExamSelector(entry, caller.student.number),
                                           context.store.CountExamFiles(number, entry.id));
        json& mine = submissions[entry.id];
        entries.push_back({{"key", entry.key},
                           {"component", Windows1252ToUtf8(place.component)},
                           {"element", std::to_string(place.element)},
                           {"section", Windows1252ToUtf8(entry.label)},
                           {"kind", std::string(1, entry.kind)},
                           {"status", std::string(1, EntryStatus(entry, now))},
                           {"opens", TimeJson(entry.opens)},
                           {"deadline", TimeJson(OwnDeadline(entry, extension))},
                           {"extended", extension.has_value()},
                           {"lateUntil", TimeJson(entry.lateUntil)},
                           {"maxMark", entry.maxMark},
                           {"open", TakesUploads(CheckUploadTime(entry, extension, now))},
                           {"released", entry.marksReleased},
                           {"hasExam", range.has_value() && range->last >= range->first},
                           {"submissions", mine.is_null() ? json::array() : std::move(mine)}});
    }
    SendJson(response, 200,
             {{"course", number},
              {"name", Windows1252ToUtf8(course->name)},
              {"entries", std::move(entries)}});
}

void ShowRules(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
               HttpResponse& response) {
    const auto entry = AccessEntry(context, caller, request, response);
    if (!entry)
        return;
    const EntryDefinition& definition = entry->definition();
    // The type table's rows in text order, as the client splits them (empty ones skipped).
    json types = json::array();
    std::string_view rest = definition.typeTable;
    while (!rest.empty()) {
        const auto end = rest.find('/');
        if (const auto row = rest.substr(0, end); !row.empty())
            types.push_back(std::string(row));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    const auto time =
        CheckUploadTime(definition, Extension(context, caller, definition), StudentNow());
    SendJson(response, 200,
             {{"requirement", definition.requirement},
              {"typeTable", definition.typeTable},
              {"types", std::move(types)},
              {"sizeLimited", definition.sizeLimited},
              {"sizeLimit", definition.sizeLimited ? json(kSizeLimit) : json(nullptr)},
              {"uploadCap", context.uploadCap},
              {"open", TakesUploads(time)}});
}

void Submit(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
            HttpResponse& response) {
    const auto entry = AccessEntry(context, caller, request, response);
    if (!entry || !AllowedHere(*entry, request, response))
        return;
    const EntryDefinition& definition = entry->definition();
    const int64_t now = StudentNow();
    const auto extension = Extension(context, caller, definition);
    switch (CheckUploadTime(definition, extension, now)) {
    case UploadTime::NotYetOpen:
        return SendError(response, 409, DescribeStatus(status::kNotYetOpen).text);
    case UploadTime::Closed:
        return SendError(response, 409, DescribeStatus(status::kDeadlinePassed).text);
    default:
        break;
    }
    if (request.body.size() > context.uploadCap)
        return SendError(response, 413, "the upload is larger than the server takes");
    const auto stored =
        StoreUpload(context.store, {caller.student.course, caller.student.number, &definition, now,
                                    request.body, request.remote_addr});
    if (stored.refused)
        return SendError(response, 422, stored.why);
    if (!stored.serial)
        return SendError(response, 500,
                         "your work could not be stored; nothing was kept, try again");
    SendJson(response, 201,
             Receipt(*stored.serial, now, SecondsLate(definition, extension, now) > 0, stored.files,
                     request.body));
}

void ShowReceipt(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
                 HttpResponse& response) {
    const auto serial = RouteNumber(request, 1);
    const auto info = serial ? context.store.FindSubmission(*serial) : std::nullopt;
    // Another student's serial answers as a missing one does.
    if (!info || info->course != caller.student.course || info->student != caller.student.number)
        return SendError(response, 404, kNoSubmission);
    const auto package = context.store.PackageBytes(info->serial);
    if (!package)
        return SendError(response, 500, "the submission's stored files cannot be read");
    bool late = false;
    if (const auto course = context.store.FindCourse(info->course))
        for (const auto& entry : course->entries)
            if (entry.id == info->entry)
                late = SecondsLate(entry, Extension(context, caller, entry), info->time) > 0;
    SendJson(response, 200,
             Receipt(info->serial, info->time, late, context.store.SubmissionFiles(info->serial),
                     *package));
}

void ShowMarked(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
                HttpResponse& response) {
    const auto entry = AccessEntry(context, caller, request, response);
    if (!entry)
        return;
    const EntryDefinition& definition = entry->definition();
    if (!definition.marksReleased)
        return SendError(response, 409, kNotReleased);
    // Marks are kept on a student's latest submission of the entry.
    std::optional<SubmissionInfo> latest;
    for (const auto& info :
         context.store.ListSubmissions({caller.student.course, caller.student.number}))
        if (info.entry == definition.id)
            latest = info;
    if (!latest || !latest->marked)
        return SendError(response, 404, "Your work for this entry has not been marked.");
    auto body = SubmissionJson(context.store, *latest, definition);
    if (!body)
        return SendError(response, 500, "the submission's stored files cannot be read");
    // The marker as the desktop client names them (its Marker Name request); an id the store
    // no longer knows is shown as it is.
    const std::string id = (*body)["marking"].value("markedBy", "");
    const auto marker = context.store.FindMarker(id);
    (*body)["marker"] = {{"id", id},
                         {"name", marker ? Windows1252ToUtf8(marker->name) : id},
                         {"info", marker ? Windows1252ToUtf8(marker->info) : ""}};
    SendJson(response, 200, *body);
}

void ListExam(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
              HttpResponse& response) {
    const auto files = ExamFilesFor(context, caller, request, response);
    if (!files)
        return;
    json list = json::array();
    for (const auto& file : *files)
        list.push_back({{"name", Windows1252ToUtf8(file.name)}, {"size", file.bytes.size()}});
    SendJson(response, 200, {{"files", std::move(list)}});
}

void DownloadExam(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
                  HttpResponse& response) {
    const auto files = ExamFilesFor(context, caller, request, response);
    if (!files)
        return;
    const auto index = RouteNumber(request, 2);
    if (!index || *index < 0 || *index >= int32_t(files->size()))
        return SendError(response, 404, "no such exam file");
    const ExamFile& file = (*files)[std::size_t(*index)];
    SendDownload(response, file.name, file.bytes);
}

} // namespace

void InstallStudentWorkRoutes(Router& server, StudentContext& context) {
    const std::string entry = R"(/api/student/entries/([A-Za-z0-9_-]+))";
    server.Get("/api/student/course", ForStudent(context, false, ShowCourse));
    server.Get(entry + "/rules", ForStudent(context, false, ShowRules));
    server.Upload(entry + "/submissions", ForStudent(context, true, Submit), context.uploadCap);
    server.Get(R"(/api/student/submissions/(\d+))", ForStudent(context, false, ShowReceipt));
    server.Get(entry + "/marked", ForStudent(context, false, ShowMarked));
    server.Get(entry + "/exam", ForStudent(context, false, ListExam));
    server.Get(entry + R"(/exam/(\d+))", ForStudent(context, false, DownloadExam));
}

} // namespace tallyport::server::staff
