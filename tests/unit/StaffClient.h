// A browser-like client of the staff API for the tests: logs in, keeps the session cookie and
// CSRF token and sends them back, and reads every answer as JSON (a download as its text).
#pragma once

#include "support/HttpClient.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tallyport::test {

struct Reply {
    int status = 0;
    nlohmann::json body;
    server::staff::HttpHeaders headers;
};

// One staff listener's client; a logged-in one sends its cookie and token with every request.
class StaffClient {
public:
    StaffClient(const std::string& address, uint16_t port, const std::string& certificate = {})
        : http_(address, port, certificate) {}

    Reply Login(const std::string& id, const std::string& password) {
        Reply reply =
            Send("POST", "/api/login", nlohmann::json{{"id", id}, {"password", password}}.dump());
        const std::string setCookie = Header(reply, "Set-Cookie");
        if (reply.status == 200) {
            cookie = setCookie.substr(0, setCookie.find(';'));
            csrf = reply.body.value("csrfToken", "");
        }
        return reply;
    }

    Reply Get(const std::string& path) { return Send("GET", path, ""); }
    Reply Put(const std::string& path, const nlohmann::json& body) {
        return Send("PUT", path, body.dump());
    }
    Reply Post(const std::string& path) { return Send("POST", path, "{}"); }

    Reply Send(const std::string& method, const std::string& path, const std::string& body) {
        server::staff::HttpHeaders headers;
        if (!cookie.empty())
            headers.emplace("Cookie", cookie);
        if (!csrf.empty())
            headers.emplace("X-CSRF-Token", csrf);
        const auto result =
            http_.Send(method, path, headers, body, body.empty() ? "" : "application/json");
        Reply reply;
        if (!result)
            return reply;
        reply.status = result->status;
        reply.headers = result->headers;
        reply.body = nlohmann::json::parse(result->body, nullptr, false);
        if (reply.body.is_discarded())
            reply.body = result->body; // a download
        return reply;
    }

    static std::string Header(const Reply& reply, const std::string& name) {
        const auto found = reply.headers.find(name);
        return found == reply.headers.end() ? std::string() : found->second;
    }

    std::string cookie;
    std::string csrf;

private:
    HttpClient http_;
};

} // namespace tallyport::test
