// Answers one request body: reads its fields in order, checks the course, student, password,
// entry, allow-lists and dates, acts on the store and builds the reply body. Knows nothing of
// sockets or scrambling, so it is tested and fuzzed directly.
#pragma once

#include "protocol/StatusCode.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tallyport::server {

class CourseListCache;
class Store;

// Request kinds (the first integer of every request).
namespace request {
inline constexpr int32_t kCourseList = 1;
inline constexpr int32_t kAccount = 10; // "V" verification, "R" registration
inline constexpr int32_t kUpdate = 11;  // "V" student verification, "U" update
inline constexpr int32_t kSubmit = 12;  // "V" file list, "S" submitted program
inline constexpr int32_t kMarked = 13;  // marked assignment
inline constexpr int32_t kMarkerName = 14;
inline constexpr int32_t kExam = 15;
} // namespace request

struct RequestContext {
    std::string peerAddress;    // the client's address as the server's socket sees it
    std::string claimedAddress; // the address text the client sent in its preamble (logged)
    int64_t now = 0; // Unix seconds: status letters and deadlines are judged at this time
    CourseListCache* courseList = nullptr; // the server's kept reply; none: made from the store
};

struct HandledRequest {
    StatusCode status = status::kServerError;
    std::vector<std::byte> reply; // the plain reply body (status 0 only; may be empty)
    // For the log line.
    int32_t kind = 0;
    int32_t course = 0;
    int32_t student = 0;
    char step = 0;      // the step letter of kinds 10-12, 0 for the others
    std::string detail; // why a request was refused as malformed or failed (empty otherwise)
};

HandledRequest HandleRequest(Store& store, std::span<const std::byte> body,
                             const RequestContext& context);

} // namespace tallyport::server
