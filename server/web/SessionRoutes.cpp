#include "web/MarkerPassword.h"
#include "web/MarkingJson.h"
#include "web/SameBytes.h"
#include "web/StaffRoutes.h"
#include "web/Windows1252.h"

#include <algorithm>
#include <charconv>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

std::string CookieHeader(const StaffContext& context, std::string_view value, bool expire) {
    return SessionCookie(kSessionCookie, value, context.secureCookies, expire);
}

// Sent back only to the login, for as long as the server remembers the browser.
std::string DeviceCookieHeader(const StaffContext& context, std::string_view token) {
    const auto lifetime = std::chrono::duration_cast<std::chrono::seconds>(KnownDevices::kLifetime);
    std::string cookie = std::string(kDeviceCookie) + "=" + std::string(token) +
                         "; Path=/api/login; Max-Age=" + std::to_string(lifetime.count()) +
                         "; HttpOnly; SameSite=Strict";
    if (context.secureCookies)
        cookie += "; Secure";
    return cookie;
}

json MarkerJson(const MarkerRecord& marker) {
    return {{"id", marker.id},
            {"name", Windows1252ToUtf8(marker.name)},
            {"admin", marker.admin},
            {"courses", marker.courses}};
}

void Login(StaffContext& context, const HttpRequest& request, HttpResponse& response) {
    std::string why;
    const auto body = ParseJsonBody(request.body, why);
    if (!body) {
        SendError(response, 400, why);
        return;
    }
    const auto id = body->find("id");
    const auto password = body->find("password");
    if (!body->is_object() || body->size() != 2 || id == body->end() || !id->is_string() ||
        password == body->end() || !password->is_string()) {
        SendError(response, 400, "a login is {\"id\": \"...\", \"password\": \"...\"}");
        return;
    }
    const std::string marker = id->get<std::string>();
    const std::string secret = password->get<std::string>();
    // A browser this marker logged in from before is slowed by its own failures, not by those
    // anyone else made on the id.
    const std::string device = CookieValue(request, kDeviceCookie);
    const bool knownDevice = !device.empty() && context.devices.Knows(device, marker);
    const std::string throttled = knownDevice ? "device " + device : marker;
    if (RefuseWhileThrottled(context.throttle, throttled, request.remote_addr, response))
        return;
    const auto hash = context.store.MarkerPasswordHash(marker);
    bool matches = false;
    if (hash && !hash->empty())
        matches = MarkerPasswordMatches(secret, *hash);
    else
        SpendOneCheck(secret); // an unknown id answers as slowly as a wrong password
    const auto record = matches ? context.store.FindMarker(marker) : std::nullopt;
    if (!record) {
        SendError(response, 401, "wrong id or password");
        return;
    }
    context.throttle.Succeeded(throttled, request.remote_addr);
    response.marker = record->id;
    const auto session = context.sessions.Open(record->id);
    if (!session) {
        SendError(response, 503, "the server holds as many sessions as it may; try again later");
        return;
    }
    response.set_header("Set-Cookie", CookieHeader(context, session->id, false));
    if (const std::string token = context.devices.Remember(device, record->id); !token.empty())
        response.set_header("Set-Cookie", DeviceCookieHeader(context, token));
    SendJson(response, 200, {{"marker", MarkerJson(*record)}, {"csrfToken", session->csrf}});
}

} // namespace

std::string CookieValue(const HttpRequest& request, std::string_view name) {
    const std::string header = request.get_header_value("Cookie");
    std::string_view rest = header;
    while (!rest.empty()) {
        const auto end = rest.find(';');
        std::string_view pair = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        while (pair.starts_with(' '))
            pair.remove_prefix(1);
        if (pair.starts_with(name) && pair.size() > name.size() && pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
    }
    return {};
}

bool RefuseWhileThrottled(LoginThrottle& throttle, std::string_view id, std::string_view address,
                          HttpResponse& response) {
    const auto wait = throttle.Begin(id, address);
    if (wait.count() <= 0)
        return false;
    const auto seconds = std::to_string((wait.count() + 999) / 1000);
    response.set_header("Retry-After", seconds);
    SendError(response, 429, "too many failed logins; try again in " + seconds + " s");
    return true;
}

std::string SessionCookie(std::string_view name, std::string_view value, bool secure, bool expire) {
    std::string cookie =
        std::string(name) + "=" + std::string(value) + "; Path=/; HttpOnly; SameSite=Strict";
    if (secure)
        cookie += "; Secure";
    if (expire)
        cookie += "; Max-Age=0";
    return cookie;
}

std::optional<Caller> Authorise(StaffContext& context, const HttpRequest& request,
                                HttpResponse& response, bool changesState) {
    const std::string cookie = CookieValue(request, kSessionCookie);
    auto session = cookie.empty() ? std::nullopt : context.sessions.Touch(cookie);
    auto marker = session ? context.store.FindMarker(session->marker) : std::nullopt;
    if (!session || !marker) {
        SendError(response, 401, "not logged in");
        return std::nullopt;
    }
    response.marker = marker->id;
    if (changesState && !SameBytes(request.get_header_value(kCsrfHeader), session->csrf)) {
        SendError(response, 403, std::string("missing or wrong ") + kCsrfHeader + " header");
        return std::nullopt;
    }
    return Caller{std::move(*session), std::move(*marker)};
}

std::optional<int32_t> RouteNumber(const HttpRequest& request, std::size_t index) {
    const std::string text = request.matches[index];
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool MarksCourse(const Caller& caller, int32_t course) {
    return std::find(caller.marker.courses.begin(), caller.marker.courses.end(), course) !=
           caller.marker.courses.end();
}

void SendJson(HttpResponse& response, int status, const json& body) {
    // A stray byte that is not UTF-8 (an error message quoting what the client sent) is
    // replaced rather than failing the whole reply.
    SendJsonText(response, status, body.dump(-1, ' ', false, json::error_handler_t::replace));
}

void SendJsonText(HttpResponse& response, int status, std::string body) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_content(std::move(body), "application/json; charset=utf-8");
}

void SendError(HttpResponse& response, int status, std::string_view message) {
    SendJson(response, status, {{"error", std::string(message)}});
}

bool RefuseUnlessAdmin(const Caller& caller, HttpResponse& response) {
    if (caller.marker.admin)
        return false;
    SendError(response, 403, "only an admin marker may do this");
    return true;
}

std::optional<int32_t> AccessCourse(StaffContext& context, const Caller& caller,
                                    const HttpRequest& request, HttpResponse& response) {
    // As for entries: a course the caller does not mark is refused before it is looked up.
    const auto course = RouteNumber(request, 1);
    if (!course || !MarksCourse(caller, *course)) {
        SendError(response, 403, "you do not mark course " + request.matches[1].str());
        return std::nullopt;
    }
    if (!context.store.FindCourse(*course)) {
        SendError(response, 404, "no such course");
        return std::nullopt;
    }
    return course;
}

std::optional<json> ObjectBody(const HttpRequest& request, HttpResponse& response) {
    if (request.body.empty())
        return json::object();
    std::string why;
    auto body = ParseJsonBody(request.body, why);
    if (!body || !body->is_object()) {
        SendError(response, 400, body ? "the body must be a JSON object" : why);
        return std::nullopt;
    }
    return body;
}

void InstallSessionRoutes(Router& server, StaffContext& context) {
    server.Post("/api/login", [&context](const HttpRequest& request, HttpResponse& response) {
        Login(context, request, response);
    });
    server.Post("/api/logout", [&context](const HttpRequest& request, HttpResponse& response) {
        const auto caller = Authorise(context, request, response, true);
        if (!caller)
            return;
        context.sessions.Close(caller->session.id);
        response.set_header("Set-Cookie", CookieHeader(context, "", true));
        SendJson(response, 200, json::object());
    });
    server.Get("/api/session", [&context](const HttpRequest& request, HttpResponse& response) {
        const auto caller = Authorise(context, request, response, false);
        if (caller)
            SendJson(response, 200,
                     {{"marker", MarkerJson(caller->marker)}, {"csrfToken", caller->session.csrf}});
    });
}

} // namespace tallyport::server::staff
