#include "web/EntryAccess.h"

namespace tallyport::server::staff {

std::optional<EntryAccess> AccessEntry(StaffContext& context, const Caller& caller, int32_t course,
                                       const std::string& wanted, HttpResponse& response) {
    if (!MarksCourse(caller, course)) {
        SendError(response, 403, "you do not mark course " + std::to_string(course));
        return std::nullopt;
    }
    auto definition = context.store.FindCourse(course);
    if (definition) {
        const auto& entries = definition->entries;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].key == wanted || wanted == std::to_string(i))
                return EntryAccess{std::move(*definition), i};
    }
    SendError(response, 404, "no such course or entry");
    return std::nullopt;
}

std::optional<EntryAccess> AccessRouteEntry(StaffContext& context, const Caller& caller,
                                            const HttpRequest& request, HttpResponse& response) {
    const auto course = RouteNumber(request, 1);
    if (!course) {
        SendError(response, 404, "no such course or entry");
        return std::nullopt;
    }
    return AccessEntry(context, caller, *course, std::string(request.matches[2]), response);
}

} // namespace tallyport::server::staff
