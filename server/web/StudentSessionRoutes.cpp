// The student pages' accounts: the course list, registration, login and logout, the session, and
// the update of a student's details. The fields are held to the desktop dialogs' rules with their
// texts, and the password is kept as the hash the student protocol compares, so that one account
// opens both doors.
#include "accounts/AccountRules.h"
#include "accounts/Questionnaire.h"
#include "app/MainDlgRules.h"
#include "protocol/PasswordHash.h"
#include "protocol/StatusCode.h"
#include "web/SameBytes.h"
#include "web/StaffRoutes.h"
#include "web/StudentContext.h"
#include "web/Windows1252.h"

#include <charconv>
#include <ctime>

namespace tallyport::server::staff {
namespace {

using nlohmann::json;

constexpr std::string_view kWrongLogin = "wrong student number or password";

// What the sessions hold of an account: its key and the password hash it was opened with, so
// that a new password (the student's own, or one staff set) ends every session opened before.
std::string SessionOwner(const StudentRecord& student) {
    return StudentKey(student.course, student.number) + ":" + student.passwordHash;
}

std::string CookieHeader(const StudentContext& context, std::string_view value, bool expire) {
    return SessionCookie(kStudentCookie, value, context.secureCookies, expire);
}

json StudentJson(const StudentRecord& student) {
    return {{"number", student.number},
            {"name", Windows1252ToUtf8(student.name)},
            {"email", Windows1252ToUtf8(student.email)},
            {"course", student.course}};
}

// 422 naming the field, with the message the desktop shows for it.
void RefuseField(HttpResponse& response, std::string_view field, std::string_view message) {
    SendJson(response, 422, {{"error", std::string(message)}, {"field", std::string(field)}});
}

// The string member `name` of `body`; none when it is missing or not a string.
std::optional<std::string> StringField(const json& body, const char* name) {
    const auto found = body.find(name);
    if (found == body.end() || !found->is_string())
        return std::nullopt;
    return found->get<std::string>();
}

std::optional<int32_t> CourseField(const json& body) {
    const auto found = body.find("course");
    if (found == body.end() || !found->is_number_integer())
        return std::nullopt;
    const auto value = found->get<int64_t>();
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return int32_t(value);
}

// The student number as the desktop's main dialog reads its field: a decimal integer in range,
// then normalised; none after answering 422 with the dialog's text (or 400 when it is missing).
std::optional<int32_t> StudentNumber(const json& body, HttpResponse& response) {
    const auto found = body.find("student");
    std::string text;
    if (found != body.end() && found->is_string())
        text = found->get<std::string>();
    else if (found != body.end() && found->is_number_integer())
        text = std::to_string(found->get<int64_t>());
    else {
        SendError(response, 400, "\"student\" is the student number, as text");
        return std::nullopt;
    }
    const auto number = ReadDecimalField(text);
    if (!number) {
        RefuseField(response, "student", "Enter an integer.");
        return std::nullopt;
    }
    if (*number < kLowestStudentNumber || *number > kHighestStudentNumber) {
        RefuseField(response, "student",
                    FormatMessage("Enter an integer between %d and %d.", kLowestStudentNumber,
                                  kHighestStudentNumber));
        return std::nullopt;
    }
    return tallyport::NormaliseStudentNumber(int32_t(*number));
}

// The desktop's account fields in the dialog's order, trimmed in place; false after answering
// 422 for the first that fails.
bool CheckAccountFields(std::string& password, std::string& name, std::string& email,
                        HttpResponse& response) {
    if (const auto failed = CheckPasswordField(password)) {
        RefuseField(response, "password", failed->text);
        return false;
    }
    if (const auto failed = CheckNameField(name)) {
        RefuseField(response, "name", failed->text);
        return false;
    }
    if (const auto failed = CheckEmailField(email)) {
        RefuseField(response, "email", failed->text);
        return false;
    }
    return true;
}

// The questionnaire code the registration sends: the three answers of the full form where the
// course asks them (attempts 0-9, then two list choices 0-4), else the short form's default.
std::optional<std::string> Questionnaire(int32_t course, const json& body, HttpResponse& response) {
    if (course != kQuestionnaireCourse)
        return QuestionnaireCode({});
    const std::string code = StringField(body, "questionnaire").value_or("");
    int32_t attempts = 0;
    if (code.size() != 3) {
        RefuseField(response, "questionnaire", "Enter an integer.");
        return std::nullopt;
    }
    if (const auto failed = ValidateInteger(code.substr(0, 1), 0, 9, attempts)) {
        RefuseField(response, "questionnaire", failed->text);
        return std::nullopt;
    }
    for (const char answer : code.substr(1))
        if (const auto failed =
                ValidateListChoice(answer >= '0' && answer <= '9' ? answer - '0' : -1, 0, 4)) {
            RefuseField(response, "questionnaire", failed->text);
            return std::nullopt;
        }
    return code;
}

void ListCourses(StudentContext& context, HttpResponse& response) {
    json courses = json::array();
    for (const auto& course : context.store.Courses())
        courses.push_back({{"number", course.number}, {"name", Windows1252ToUtf8(course.name)}});
    SendJson(response, 200, {{"courses", std::move(courses)}});
}

void Register(StudentContext& context, const HttpRequest& request, HttpResponse& response) {
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    const auto course = CourseField(*body);
    auto password = StringField(*body, "password");
    auto name = StringField(*body, "name");
    auto email = StringField(*body, "email");
    if (!course || !password || !name || !email) {
        SendError(response, 400,
                  "a registration is {\"course\": number, \"student\": \"...\", \"password\": "
                  "\"...\", \"name\": \"...\", \"email\": \"...\"}");
        return;
    }
    if (!context.store.FindCourse(*course)) {
        SendError(response, 404, DescribeStatus(status::kUnknownCourse).text);
        return;
    }
    const auto student = StudentNumber(*body, response);
    if (!student)
        return;
    // Counted before the account and the class list are looked up, since their answers tell
    // which numbers may still be registered; a success is taken back below.
    const auto wait =
        context.registrations.Begin(StudentKey(*course, *student), request.remote_addr);
    if (wait.count() > 0) {
        const auto seconds = std::to_string((wait.count() + 999) / 1000);
        response.set_header("Retry-After", seconds);
        SendError(response, 429, "too many registrations from here; try again in " + seconds + " s");
        return;
    }
    // As the desktop's Verification before its dialog opens: an existing account, or a number
    // the class list does not hold, is refused whatever the fields say.
    if (context.store.FindStudent(*course, *student)) {
        SendError(response, 409, DescribeStatus(status::kAccountExists).text);
        return;
    }
    if (!context.store.MayRegister(*course, *student)) {
        SendError(response, 403, DescribeStatus(status::kUnknownStudent).text);
        return;
    }
    // A field the rules refuse stores nothing and is the student's own typing (the page checks
    // the same rules first): that attempt is taken back.
    const std::string throttled = StudentKey(*course, *student);
    if (!CheckAccountFields(*password, *name, *email, response))
        return context.registrations.Succeeded(throttled, request.remote_addr);
    const auto questionnaire = Questionnaire(*course, *body, response);
    if (!questionnaire)
        return context.registrations.Succeeded(throttled, request.remote_addr);
    NewStudent account;
    account.course = *course;
    account.number = *student;
    account.password = HashPassword(*password);
    account.passwordIsHash = true;
    account.name = *name; // the rules let only printable ASCII through
    account.email = *email;
    account.questionnaire = *questionnaire;
    switch (context.store.RegisterStudent(account)) {
    case RegisterOutcome::Registered:
        // A whole lab may register from one address: only refusals (the answers that tell
        // which numbers are listed or taken) slow it down.
        context.registrations.Succeeded(throttled, request.remote_addr);
        SendJson(response, 201, {{"student", *student}});
        return;
    case RegisterOutcome::AlreadyExists:
        SendError(response, 409, DescribeStatus(status::kAccountExists).text);
        return;
    case RegisterOutcome::NotListed:
        SendError(response, 403, DescribeStatus(status::kUnknownStudent).text);
        return;
    case RegisterOutcome::UnknownCourse:
        SendError(response, 404, DescribeStatus(status::kUnknownCourse).text);
        return;
    case RegisterOutcome::Failed:
        break;
    }
    SendError(response, 500, "the account could not be stored; try again");
}

// A session for `student`, its cookie set and its shape sent; 503 when the table is full.
void OpenSession(StudentContext& context, const StudentRecord& student, HttpResponse& response) {
    const auto session = context.sessions.Open(SessionOwner(student));
    if (!session) {
        SendError(response, 503, "the server holds as many sessions as it may; try again later");
        return;
    }
    response.set_header("Set-Cookie", CookieHeader(context, session->id, false));
    SendJson(response, 200, {{"student", StudentJson(student)}, {"csrfToken", session->csrf}});
}

void Login(StudentContext& context, const HttpRequest& request, HttpResponse& response) {
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    const auto course = CourseField(*body);
    const auto password = StringField(*body, "password");
    if (!course || !password) {
        SendError(response, 400,
                  "a login is {\"course\": number, \"student\": \"...\", \"password\": \"...\"}");
        return;
    }
    const auto number = StudentNumber(*body, response);
    if (!number)
        return;
    const std::string key = StudentKey(*course, *number);
    if (RefuseWhileThrottled(context.throttle, key, request.remote_addr, response))
        return;
    // The password as the desktop client sends it: untrimmed, hashed; it takes no more than
    // kPasswordLimit characters, so nothing longer can be the password. Only that much is hashed:
    // crypt(3) refuses a very long one, and every refusal should cost the same.
    const std::string hash =
        HashPassword(std::string_view(*password).substr(0, std::size_t(kPasswordLimit)));
    const auto student = context.store.FindStudent(*course, *number);
    const bool matches = student && password->size() <= std::size_t(kPasswordLimit) &&
                         SameBytes(hash, student->passwordHash);
    if (!matches) {
        SendError(response, 401, kWrongLogin);
        return;
    }
    context.throttle.Succeeded(key, request.remote_addr);
    OpenSession(context, *student, response);
}

void UpdateAccount(StudentContext& context, const StudentCaller& caller, const HttpRequest& request,
                   HttpResponse& response) {
    const auto body = ObjectBody(request, response);
    if (!body)
        return;
    const auto current = StringField(*body, "currentPassword");
    auto name = StringField(*body, "name");
    auto email = StringField(*body, "email");
    if (!current || !name || !email) {
        SendError(response, 400,
                  "an update is {\"currentPassword\": \"...\", \"password\": \"...\", \"name\": "
                  "\"...\", \"email\": \"...\"}");
        return;
    }
    // Where no new password is given the current one is kept, as the desktop's dialog starts
    // with it filled in.
    auto password = StringField(*body, "password").value_or(*current);
    // Nothing longer than the desktop takes can be the current password (nor be hashed).
    if (current->size() > std::size_t(kPasswordLimit) ||
        !SameBytes(HashPassword(*current), caller.student.passwordHash)) {
        SendJson(response, 401,
                 {{"error", std::string(DescribeStatus(status::kWrongPassword).text)},
                  {"field", "currentPassword"}});
        return;
    }
    if (!CheckAccountFields(password, *name, *email, response))
        return;
    const StudentRecord& student = caller.student;
    if (!context.store.UpdateStudent(student.course, student.number, HashPassword(password), *name,
                                     *email)) {
        SendError(response, 500, "your details could not be stored; try again");
        return;
    }
    const auto updated = context.store.FindStudent(student.course, student.number);
    if (!updated) {
        SendError(response, 500, "your details could not be read back");
        return;
    }
    // Sessions opened with the old password end (this one too): the new session replaces it.
    context.sessions.Close(caller.session.id);
    OpenSession(context, *updated, response);
}

} // namespace

std::string StudentKey(int32_t course, int32_t number) {
    return std::to_string(course) + ":" + std::to_string(number);
}

int64_t StudentNow() {
    return int64_t(std::time(nullptr));
}

std::optional<StudentCaller> AuthoriseStudent(StudentContext& context, const HttpRequest& request,
                                              HttpResponse& response, bool changesState) {
    const std::string cookie = CookieValue(request, kStudentCookie);
    auto session = cookie.empty() ? std::nullopt : context.sessions.Touch(cookie);
    std::optional<StudentRecord> student;
    if (session) {
        // "course:number:hash"
        const std::string& owner = session->marker;
        const auto colon = owner.find(':');
        const auto second = owner.find(':', colon + 1);
        int32_t course = 0, number = 0;
        std::from_chars(owner.data(), owner.data() + colon, course);
        std::from_chars(owner.data() + colon + 1, owner.data() + second, number);
        student = context.store.FindStudent(course, number);
        if (student && SessionOwner(*student) != owner)
            student.reset(); // its password has changed since the login
    }
    if (!session || !student) {
        if (session)
            context.sessions.Close(session->id);
        SendError(response, 401, "not logged in");
        return std::nullopt;
    }
    response.marker = "student " + StudentKey(student->course, student->number);
    if (changesState && !SameBytes(request.get_header_value(kCsrfHeader), session->csrf)) {
        SendError(response, 403, std::string("missing or wrong ") + kCsrfHeader + " header");
        return std::nullopt;
    }
    return StudentCaller{std::move(*session), std::move(*student)};
}

bool UploadHeadAdmitted(StudentContext& context, const HttpRequest& request,
                        HttpResponse& response) {
    const std::string cookie = CookieValue(request, kStudentCookie);
    const auto session = cookie.empty() ? std::nullopt : context.sessions.Touch(cookie);
    if (!session) {
        SendError(response, 401, "not logged in");
        return false;
    }
    if (!SameBytes(request.get_header_value(kCsrfHeader), session->csrf)) {
        SendError(response, 403, std::string("missing or wrong ") + kCsrfHeader + " header");
        return false;
    }
    return true;
}

void InstallStudentSessionRoutes(Router& server, StudentContext& context) {
    server.Get("/api/student/courses", [&context](const HttpRequest&, HttpResponse& response) {
        ListCourses(context, response);
    });
    server.Post("/api/student/register",
                [&context](const HttpRequest& request, HttpResponse& response) {
                    Register(context, request, response);
                });
    server.Post("/api/student/login",
                [&context](const HttpRequest& request, HttpResponse& response) {
                    Login(context, request, response);
                });
    server.Post("/api/student/logout",
                ForStudent(context, true,
                           [](StudentContext& c, const StudentCaller& caller, const HttpRequest&,
                              HttpResponse& response) {
                               c.sessions.Close(caller.session.id);
                               response.set_header("Set-Cookie", CookieHeader(c, "", true));
                               SendJson(response, 200, json::object());
                           }));
    server.Get("/api/student/session",
               ForStudent(context, false,
                          [](StudentContext&, const StudentCaller& caller, const HttpRequest&,
                             HttpResponse& response) {
                              SendJson(response, 200,
                                       {{"student", StudentJson(caller.student)},
                                        {"csrfToken", caller.session.csrf}});
                          }));
    server.Put("/api/student/account", ForStudent(context, true, UpdateAccount));
}

} // namespace tallyport::server::staff
