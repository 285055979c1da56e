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

void SendJson(HttpResponse& response, int status, const nlohmann::json& body);
void SendError(HttpResponse& response, int status, std::string_view message);

// POST /api/login, POST /api/logout, GET /api/session.
void InstallSessionRoutes(Router& server, StaffContext& context);
// Courses, submissions, markings, release and file download.
void InstallMarkingRoutes(Router& server, StaffContext& context);

} // namespace tallyport::server::staff
