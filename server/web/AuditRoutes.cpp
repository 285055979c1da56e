// GET /api/courses/N/audit: the course's newest changes, for its admin markers.
#include "web/StaffRoutes.h"

#include <map>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

// Enough for the page to show a term's recent work without a body of unbounded size.
constexpr int32_t kAuditRows = 500;

json Optional(const auto& value) {
    return value ? json(*value) : json(nullptr);
}

void ListAudit(StaffContext& context, const Caller& caller, const HttpRequest& request,
               HttpResponse& response) {
    const auto course = AccessCourse(context, caller, request, response);
    if (!course || RefuseUnlessAdmin(caller, response))
        return;
    std::map<int32_t, std::string> keys; // entry id -> key, archived entries included
    if (const auto definition = context.store.FindCourse(*course))
        for (const auto& entry : definition->entries)
            keys[entry.id] = entry.key;
    for (const auto& entry : context.store.ArchivedEntries(*course))
        keys[entry.id] = entry.key;
    json rows = json::array();
    for (const auto& row : context.store.NewestAudit(*course, kAuditRows)) {
        const auto key = keys.find(row.entry);
        rows.push_back({{"time", row.time},
                        {"marker", row.actor},
                        {"action", row.action},
                        {"entry", row.entry == kWholeCourse ? json(nullptr)
                                  : key != keys.end()       ? json(key->second)
                                                      : json("#" + std::to_string(row.entry))},
                        {"subject", Optional(row.subject)},
                        {"serial", Optional(row.serial)},
                        {"oldMark", Optional(row.oldMark)},
                        {"newMark", Optional(row.newMark)},
                        {"version", Optional(row.version)}});
    }
    SendJson(response, 200, {{"course", *course}, {"audit", std::move(rows)}});
}

} // namespace

void InstallAuditRoutes(Router& server, StaffContext& context) {
    server.Get(R"(/api/courses/(\d+)/audit)", ForCaller(context, false, ListAudit));
}

} // namespace tallyport::server::staff
