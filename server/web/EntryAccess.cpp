#include "web/EntryAccess.h"

namespace tallyport::server::staff {

std::optional<EntryAccess> AccessEntry(StaffContext& context, const Caller& caller, int32_t course,
                                       const std::variant<std::string, int32_t>& wanted,
                                       HttpResponse& response) {
    if (!MarksCourse(caller, course)) {
        SendError(response, 403, "you do not mark course " + std::to_string(course));
        return std::nullopt;
    }
    auto definition = context.store.FindCourse(course);
    if (definition) {
        const auto& entries = definition->entries;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const bool found =
                std::holds_alternative<int32_t>(wanted)
                    ? entries[i].id == std::get<int32_t>(wanted)
                    : entries[i].key == std::get<std::string>(wanted) ||
                          std::get<std::string>(wanted) == std::to_string(i);
            if (found)
                return EntryAccess{std::move(*definition), i};
        }
    }
    SendError(response, 404,
              std::holds_alternative<int32_t>(wanted)
                  ? "the entry of this submission is archived or gone from the course"
                  : "no such course or entry");
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
