// What the student pages' API (/api/student/...) shares: the store, the students' own sessions
// and login throttle (apart from the markers': neither cookie opens the other side's routes),
// and the check that a request comes from a logged-in student. A student's account is the one
// the student protocol uses, so the same password opens the desktop client and the pages.
#pragma once

#include "store/Store.h"
#include "web/HttpMessage.h"
#include "web/LoginThrottle.h"
#include "web/SessionTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyport::server::staff {

inline constexpr std::string_view kStudentCookie = "tallyport_student";

struct StudentContext {
    Store& store;
    SessionTable sessions; // keyed by StudentKey
    LoginThrottle throttle;
    bool secureCookies = false;
    std::size_t uploadCap = 0; // the most package bytes one upload may carry
    // Refused registrations count here, by address and by number: one address cannot read off
    // at full speed which numbers are listed or registered. A success is taken back, so a lab
    // behind one address registers its whole class unslowed.
    LoginThrottle registrations{};
};

// The sessions' key of one student's account: "course:number".
std::string StudentKey(int32_t course, int32_t number);

// A logged-in student, as the store has them now.
struct StudentCaller {
    Session session;
    StudentRecord student;
};

// The caller of a request; none after answering 401 (no or an expired session) or 403 (a
// request that changes something without the session's CSRF token).
std::optional<StudentCaller> AuthoriseStudent(StudentContext& context, const HttpRequest& request,
                                              HttpResponse& response, bool changesState);

// Wraps a route so that it runs only for a logged-in student (with the CSRF token when it
// changes something).
template <typename Route>
Router::Handler ForStudent(StudentContext& context, bool changesState, Route route) {
    return [&context, changesState, route](const HttpRequest& request, HttpResponse& response) {
        if (const auto caller = AuthoriseStudent(context, request, response, changesState))
            route(context, *caller, request, response);
    };
}

// Whether an upload's head comes with a live student session and its CSRF token; false after
// answering 401 or 403. Checked before the body is read: nobody else makes the server take in
// an upload's megabytes (the route checks the caller in full once it has them).
bool UploadHeadAdmitted(StudentContext& context, const HttpRequest& request,
                        HttpResponse& response);

// The current time, Unix seconds: what deadlines are judged at.
int64_t StudentNow();

// GET courses, POST register, login, logout, GET session, PUT account.
void InstallStudentSessionRoutes(Router& server, StudentContext& context);
// The course and its entries, uploads and receipts, marked work, exam files.
void InstallStudentWorkRoutes(Router& server, StudentContext& context);

} // namespace tallyport::server::staff
