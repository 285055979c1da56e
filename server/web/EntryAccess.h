// Which entry of which course a request names, and whether the caller may see it.
#pragma once

#include "web/StaffRoutes.h"

#include <string>

namespace tallyport::server::staff {

// The course and entry a marker may see; none after answering 403 or 404.
struct EntryAccess {
    CourseDefinition course;
    std::size_t position = 0; // in the course as it is now
    const EntryDefinition& definition() const { return course.entries[position]; }
    int32_t id() const { return definition().id; }
};

// `wanted` says which entry: its position in the course as it is now, or (the pages' way, which
// a reordered course file never moves) its key.
std::optional<EntryAccess> AccessEntry(StaffContext& context, const Caller& caller, int32_t course,
                                       const std::string& wanted, HttpResponse& response);

// The entry of a route whose captures are the course number (1) and the entry's key or
// position (2).
std::optional<EntryAccess> AccessRouteEntry(StaffContext& context, const Caller& caller,
                                            const HttpRequest& request, HttpResponse& response);

} // namespace tallyport::server::staff
