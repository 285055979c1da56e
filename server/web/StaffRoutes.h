// What the staff API's routes share: the store, the sessions and the login throttle, the check
// that a request comes from a logged-in marker, and JSON replies.
#pragma once

#include "store/Store.h"
#include "web/KnownDevices.h"
#include "web/LoginThrottle.h"
#include "web/SessionTable.h"

#include "web/HttpMessage.h"
#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>

namespace tallyport::server::staff {

inline constexpr std::string_view kSessionCookie = "tallyport_session";
inline constexpr std::string_view kDeviceCookie = "tallyport_device";
inline constexpr const char* kCsrfHeader = "X-CSRF-Token";

struct StaffContext {
    Store& store;
    SessionTable sessions;
    LoginThrottle throttle;
    KnownDevices devices;
    bool secureCookies = false; // served over TLS: cookies get the Secure attribute
};

// A logged-in marker, as the store has them now (their courses and admin flag may have
// changed since they logged in).
struct Caller {
    Session session;
    MarkerRecord marker;
};

// The caller of a request; none after answering 401 (no or an expired session) or 403 (a
// request that changes something without the session's CSRF token).
std::optional<Caller> Authorise(StaffContext& context, const HttpRequest& request,
                                HttpResponse& response, bool changesState);

// Wraps a route so that it runs only for a logged-in marker (with the CSRF token when it
// changes something).
template <typename Route>
Router::Handler ForCaller(StaffContext& context, bool changesState, Route route) {
    return [&context, changesState, route](const HttpRequest& request, HttpResponse& response) {
        if (const auto caller = Authorise(context, request, response, changesState))
            route(context, *caller, request, response);
    };
}

// The value of the cookie `name` from the Cookie header; empty when there is none.
std::string CookieValue(const HttpRequest& request, std::string_view name);
// The Set-Cookie value of a session cookie (HttpOnly, SameSite=Strict, Path=/); `expire` ends it.
std::string SessionCookie(std::string_view name, std::string_view value, bool secure, bool expire);

// True after answering 429 with Retry-After when a login attempt on `id` from `address` must
// wait; otherwise the attempt is counted as failed until LoginThrottle::Succeeded.
bool RefuseWhileThrottled(LoginThrottle& throttle, std::string_view id, std::string_view address,
                          HttpResponse& response);

// A number from a route's pattern (digits only, so it parses unless too large).
std::optional<int32_t> RouteNumber(const HttpRequest& request, std::size_t index);

bool MarksCourse(const Caller& caller, int32_t course);

void SendJson(HttpResponse& response, int status, const nlohmann::json& body);
// The same with the body already written as JSON text (valid UTF-8).
void SendJsonText(HttpResponse& response, int status, std::string body);
void SendError(HttpResponse& response, int status, std::string_view message);

// True after answering 403 when the caller is not an admin marker.
bool RefuseUnlessAdmin(const Caller& caller, HttpResponse& response);
// The course of a route whose first capture is its number, when the caller marks it; none
// after answering 403 (not theirs) or 404 (no such course).
std::optional<int32_t> AccessCourse(StaffContext& context, const Caller& caller,
                                    const HttpRequest& request, HttpResponse& response);
// The JSON body of a small request: an object (an empty body is one), or none after
// answering 400.
std::optional<nlohmann::json> ObjectBody(const HttpRequest& request, HttpResponse& response);

// POST /api/login, POST /api/logout, GET /api/session.
void InstallSessionRoutes(Router& server, StaffContext& context);
// Courses, submissions, markings, release and file download.
void InstallMarkingRoutes(Router& server, StaffContext& context);
// A course's students with their submissions, and the reset of a student's password.
void InstallStudentRoutes(Router& server, StaffContext& context);
// Release and unrelease, extensions, grades.csv.
void InstallTermRoutes(Router& server, StaffContext& context);
// Markers of a course, the class list import and the allocation of work to markers.
void InstallAdminRoutes(Router& server, StaffContext& context);
// A course's audit, newest first.
void InstallAuditRoutes(Router& server, StaffContext& context);

} // namespace tallyport::server::staff
