// The student pages' API attacked from outside, against the real program serving a demo database
// with a class list: requests written by hand from chosen 127.0.0.x addresses, as a script on the
// network would send them. Registration squatting and password guessing are slowed per address;
// one student's sessions are capped and kept apart from the markers'; hostile bodies, numbers and
// keys are refused without harm; requests from another site change nothing; another student's
// ids answer as missing ones; the pages carry the strict policy and build no HTML from text.
#include "ServerProcess.h"

#include "support/InProcessServer.h"
#include "support/LoopbackFlood.h"
#include "support/TempDir.h"
#include "web/StaffServer.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

namespace tallyport::test {
namespace {

using nlohmann::json;
using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kServed = "127.0.0.61";
const std::string kJson = "application/json";

struct Answer {
    int status = 0; // 0: no answer (closed without one)
    std::map<std::string, std::string> headers; // names in lower case
    std::vector<std::string> cookies;           // "name=value" of each Set-Cookie
    std::string body;

    std::string Header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
    json Json() const { return json::parse(body, nullptr, false); }
    std::string Error() const {
        const json parsed = Json();
        return parsed.is_object() ? parsed.value("error", "") : std::string();
    }
    // The cookies set, as the next request's Cookie header sends them.
    std::string Cookie() const {
        std::string all;
        for (const auto& cookie : cookies)
            all += (all.empty() ? "" : "; ") + cookie;
        return all;
    }
};

Answer ParseAnswer(const std::string& received) {
    Answer answer;
    const auto headEnd = received.find("\r\n\r\n");
    if (!received.starts_with("HTTP/1.1 ") || headEnd == std::string::npos)
        return answer;
    answer.status = std::stoi(received.substr(9, 3));
    std::istringstream head(received.substr(0, headEnd));
    std::string line;
    std::getline(head, line); // the status line
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        const std::string value = line.substr(line.find_first_not_of(' ', colon + 1));
        answer.headers[name] = value;
        if (name == "set-cookie")
            answer.cookies.push_back(value.substr(0, value.find(';')));
    }
    answer.body = received.substr(headEnd + 4);
    return answer;
}

// One request to `web` from `source`, written by hand; `declaredLength`, when given, is sent as
// the Content-Length in place of the body's own (and only the head is sent).
Answer AskAt(const Endpoint& web, const std::string& source, const std::string& method,
             const std::string& target, const std::string& body = {},
             const Headers& headers = {},
             std::optional<std::size_t> declaredLength = std::nullopt) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + web.host + ":" +
                          std::to_string(web.port) + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers)
        request += name + ": " + value + "\r\n";
    if (!body.empty() || declaredLength || method != "GET")
        request +=
            "Content-Length: " + std::to_string(declaredLength.value_or(body.size())) + "\r\n";
    request += "\r\n";
    if (!declaredLength)
        request += body;
    const int fd = ConnectFrom(source, web);
    if (fd < 0)
        return {};
    std::string received;
    if (SendAll(fd, std::as_bytes(std::span(request.data(), request.size()))))
        received = ReceiveUntilClosed(fd, 30'000);
    ::close(fd);
    return ParseAnswer(received);
}

class StudentApiAttack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunServerCommand(dir.path(), {"demo", "--db", "s.db"}).exitCode, 0);
        // A class list: the numbers a squatter would take, and the demo student.
        std::ofstream list(dir.path() / "list.csv");
        list << "number,name,email\n100123456,Demo Student,demo@example.edu\n";
        for (int i = 1; i <= 20; ++i)
            list << 100700000 + i << ",Listed " << i << ",l" << i << "@example.edu\n";
        list.close();
        const auto imported = RunServerCommand(
            dir.path(), {"roster", "import", "--db", "s.db", "--course", "3101", "list.csv"});
        ASSERT_EQ(imported.exitCode, 0) << imported.err;
        server.emplace(dir.path(),
                       std::vector<std::string>{"serve", "--db", "s.db", "--listen",
                                                std::string(kServed) + ":0", "--staff-listen",
                                                std::string(kServed) + ":0", "--sync", "normal",
                                                "--staff-web", PagesFolder().string()});
        ASSERT_TRUE(server->WaitForError("staff API at ")) << server->error();
        const std::string log = server->error();
        const std::string staffAt = std::string("staff API at http://") + kServed + ":";
        const auto at = log.find(staffAt);
        ASSERT_NE(at, std::string::npos) << log;
        web = {kServed, uint16_t(std::stoi(log.substr(at + staffAt.size())))};
    }

    static std::filesystem::path PagesFolder() {
        return std::filesystem::path(TALLYPORT_TEST_DATA).parent_path().parent_path().parent_path() /
               "server" / "web" / "pages";
    }

    std::string Host() const { return std::string(kServed) + ":" + std::to_string(web.port); }
    std::string SameOrigin() const { return "http://" + Host(); }

    Answer Ask(const std::string& source, const std::string& method, const std::string& target,
               const std::string& body = {}, const Headers& headers = {},
               std::optional<std::size_t> declaredLength = std::nullopt) const {
        return AskAt(web, source, method, target, body, headers, declaredLength);
    }

    // A JSON request as the student pages send it, with the session's cookie and token if given.
    Answer Send(const std::string& source, const std::string& method, const std::string& target,
                const json& body, const std::string& cookie = {}, const std::string& csrf = {}) {
        Headers headers{{"Content-Type", kJson}, {"Origin", SameOrigin()}};
        if (!cookie.empty())
            headers.emplace_back("Cookie", cookie);
        if (!csrf.empty())
            headers.emplace_back("X-CSRF-Token", csrf);
        return Ask(source, method, target, body.is_null() ? "" : body.dump(), headers);
    }

    Answer Register(const std::string& source, const std::string& student,
                    const std::string& name = "Listed Student") {
        return Send(source, "POST", "/api/student/register",
                    {{"course", 3101},
                     {"student", student},
                     {"password", "pass-" + student},
                     {"name", name},
                     {"email", "s@example.edu"}});
    }

    // Up to eight attempts from one address, each refused with `refusal` until one is slowed
    // (429): that answer, and how many were refused before it.
    struct Probe {
        Answer slowed;
        int refused = 0;
    };
    static Probe ProbeUntilSlowed(const std::function<Answer(int)>& attempt, int refusal) {
        Probe probe;
        for (int i = 1; i <= 8 && probe.slowed.status == 0; ++i) {
            const Answer answer = attempt(i);
            if (answer.status == 429)
                probe.slowed = answer;
            else
                EXPECT_EQ(answer.status, refusal) << answer.body;
            probe.refused += answer.status == refusal;
        }
        return probe;
    }

    struct Student {
        std::string cookie, csrf;
    };
    Student Login(const std::string& source, const std::string& student,
                  const std::string& password) {
        const Answer answer =
            Send(source, "POST", "/api/student/login",
                 {{"course", 3101}, {"student", student}, {"password", password}});
        EXPECT_EQ(answer.status, 200) << student << ": " << answer.body;
        return {answer.Cookie(), answer.Json().value("csrfToken", "")};
    }
    Student Demo(const std::string& source = Loopback(2)) {
        return Login(source, "123456", "demo123");
    }

    Answer Get(const std::string& target, const std::string& cookie,
               const std::string& source = Loopback(2)) const {
        return Ask(source, "GET", target, {}, {{"Cookie", cookie}});
    }

    TempDir dir;
    std::optional<ServerProcess> server;
    Endpoint web;
};

// One address probing numbers (taken or not on the class list) is slowed after a few, with the
// wait to keep, and the slowed attempt stores nothing; a lab registering a whole class from one
// address is never slowed, nor is another address, and a student's own typing errors (refused
// fields) do not count.
TEST_F(StudentApiAttack, RegistrationProbingIsSlowedPerAddress) {
    const std::string lab = Loopback(21);
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(Register(lab, std::to_string(700000 + i)).status, 201) << i;
    const std::string prober = Loopback(24);
    const auto [slowed, refused] = ProbeUntilSlowed( // every number is taken now
        [&](int i) { return Register(prober, std::to_string(700000 + i)); }, 409);
    EXPECT_EQ(refused, 3);
    ASSERT_EQ(slowed.status, 429) << slowed.body;
    const int wait = std::stoi(slowed.Header("retry-after"));
    EXPECT_GE(wait, 1);
    EXPECT_LE(wait, 60);
    EXPECT_NE(slowed.Error().find("try again in " + std::to_string(wait) + " s"),
              std::string::npos)
        << slowed.body;
    // Slowed, a free number is not taken by the prober; another address registers it at once.
    EXPECT_EQ(Register(prober, "700009").status, 429);
    EXPECT_EQ(Register(Loopback(22), "700009").status, 201);
    // Refused fields are taken back: a student can mistype many times.
    for (int i = 0; i < 10; ++i) {
        const Answer answer = Register(Loopback(23), "700010", "Lee, Ann");
        EXPECT_EQ(answer.status, 422) << answer.body;
    }
    EXPECT_EQ(Register(Loopback(23), "700010").status, 201);
    // Slowed for the wait it named, no longer.
    std::this_thread::sleep_for(std::chrono::seconds(wait));
    EXPECT_EQ(Register(prober, "700011").status, 201);
}

// Guesses spread over many numbers are slowed by their address; the student's own login from
// elsewhere is not.
TEST_F(StudentApiAttack, FailedLoginsOverManyNumbersAreSlowedPerAddress) {
    const std::string guesser = Loopback(31);
    const auto [slowed, refused] = ProbeUntilSlowed(
        [&](int i) {
            return Send(
                guesser, "POST", "/api/student/login",
                {{"course", 3101}, {"student", std::to_string(700000 + i)}, {"password", "x1y"}});
        },
        401);
    EXPECT_EQ(refused, 3);
    ASSERT_EQ(slowed.status, 429);
    EXPECT_GE(std::stoi(slowed.Header("retry-after")), 1);
    Demo(Loopback(32));
}

// One student opening session after session keeps at most twenty (their oldest end, nobody else's
// and the server's table is not filled); the markers' sessions are a table of their own, and
// neither cookie opens the other side.
TEST_F(StudentApiAttack, SessionsAreCappedPerStudentAndApartFromTheMarkers) {
    const Answer first = Send(Loopback(2), "POST", "/api/student/login",
                              {{"course", 3101}, {"student", "123456"}, {"password", "demo123"}});
    const std::string cookie = first.Header("set-cookie");
    EXPECT_TRUE(cookie.starts_with("tallyport_student=")) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
    std::vector<Student> sessions{{first.Cookie(), first.Json().value("csrfToken", "")}};
    for (int i = 1; i < 25; ++i)
        sessions.push_back(Demo());
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(Get("/api/student/session", sessions[i].cookie).status, i < 5 ? 401 : 200) << i;

    const Answer marker =
        Ask(Loopback(2), "POST", "/api/login", R"({"id":"tjones","password":"marking-demo-123"})",
            {{"Content-Type", kJson}, {"Origin", SameOrigin()}});
    ASSERT_EQ(marker.status, 200) << marker.body;
    const std::string markerCookie = marker.Cookie();
    const std::string studentCookie = sessions.back().cookie;
    for (const char* staffRoute : {"/api/session", "/api/courses", "/api/courses/3101/students"})
        EXPECT_EQ(Get(staffRoute, studentCookie).status, 401) << staffRoute;
    for (const char* studentRoute : {"/api/student/session", "/api/student/course"})
        EXPECT_EQ(Get(studentRoute, markerCookie).status, 401) << studentRoute;
    EXPECT_EQ(Get("/api/session", markerCookie).status, 200);
}

// Bodies and values no page sends: refused with a 4xx, never a crash or a hang, and the server
// answers normally afterwards.
TEST_F(StudentApiAttack, HostileBodiesAndNumbersAreRefused) {
    const auto login = [](const json& student) {
        return json{{"course", 3101}, {"student", student}, {"password", "demo123"}}.dump();
    };
    const auto registration = [](const std::string& name, const std::string& email) {
        return R"({"course":3101,"student":"700015","password":"pw-123","name":")" + name +
               R"(","email":")" + email + R"("})";
    };
    const struct {
        const char* what;
        const char* route;
        std::string body;
        int status;
        std::size_t declaredLength = 0; // sent as the length, with the head alone
    } cases[] = {
        {"a body over the JSON routes' cap", "login", "", 413, 4097},
        {"a body of 64 MB", "register", "", 413, std::size_t(64) << 20},
        {"JSON nested 4000 deep", "login", std::string(4000, '['), 400},
        {"two thousand values", "register",
         [] {
             std::string many = "[0";
             for (int i = 0; i < 2000; ++i)
                 many += ",0";
             return many + "]";
         }(),
         400},
        {"bytes that are not UTF-8 in a name", "register", registration("\xff\xfe\x80", "e@x"), 400},
        {"an overlong encoding of '<'", "register", registration("\xc0\xbc", "e@x"), 400},
        {"an unpaired surrogate escape", "register", registration("\\ud800", "e@x"), 400},
        {"a NUL in the name", "register", registration("a\\u0000b", "e@x"), 422},
        {"a right-to-left override in the e-mail", "register", registration("N", "e\u202e@x"),
         422},
        {"a name of 4000 bytes", "register", registration(std::string(4000, 'n'), "e@x"), 422},
        {"a 20-digit number", "login", login("12345678901234567890"), 422},
        {"a 20-digit number, registering", "register",
         R"({"course":3101,"student":"12345678901234567890","password":"pw-123","name":"N",)"
         R"("email":"e@x"})",
         422},
        {"a negative number", "login", login("-123456"), 422},
        {"a 20-digit number as a JSON integer", "login",
         login(json::parse("12345678901234567890")), 422},
        {"a number past 64 bits", "login", login(json::parse("123456789012345678901234567890")),
         400},
        {"a course that wraps to 3101 in 32 bits", "login",
         R"({"course":4294970397,"student":"123456","password":"demo123"})", 400},
        {"a course that wraps to 3101 in 64 bits", "login",
         R"({"course":18446744073709554717,"student":"123456","password":"demo123"})", 400},
        {"a number as a fraction", "login", login(123456.5), 400},
        {"a course past 32 bits", "login",
         R"({"course":99999999999,"student":"123456","password":"demo123"})", 400},
        {"a password of 4000 bytes", "login",
         json{{"course", 3101}, {"student", "123456"}, {"password", std::string(4000, 'p')}}
             .dump(),
         401},
        {"not an object", "login", "[]", 400},
        {"not JSON", "login", "{\"course\":", 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Answer answer =
            Ask(Loopback(41), "POST", std::string("/api/student/") + c.route, c.body,
                {{"Content-Type", kJson}, {"Origin", SameOrigin()}},
                c.declaredLength ? std::optional(c.declaredLength) : std::nullopt);
        EXPECT_EQ(answer.status, c.status) << answer.body.substr(0, 300);
        if (c.status != 413) {
            EXPECT_FALSE(answer.Error().empty()) << answer.body.substr(0, 300);
        }
    }
    // A current password longer than any can be is wrong, like any other.
    const Student demo = Demo(Loopback(42));
    const Answer update = Send(Loopback(42), "PUT", "/api/student/account",
                               {{"currentPassword", std::string(4000, 'p')},
                                {"name", "N"},
                                {"email", "e@x"}},
                               demo.cookie, demo.csrf);
    EXPECT_EQ(update.status, 401) << update.body;
    EXPECT_EQ(update.Json().value("field", ""), "currentPassword");
    // Nothing above was registered.
    EXPECT_EQ(Register(Loopback(42), "700015").status, 201);
}

// Routes with ids no page sends, and another student's ids: each answers as a missing one, with
// the same body, never another student's work.
TEST_F(StudentApiAttack, AnotherStudentsIdsAndOutOfRangeIdsAnswerAsMissing) {
    const Student demo = Demo();
    const json course = Get("/api/student/course", demo.cookie).Json();
    ASSERT_TRUE(course.contains("entries")) << course;
    std::string marked, exam;
    int32_t demoSerial = 0;
    for (const auto& entry : course["entries"]) {
        if (marked.empty() && entry.value("released", false) && !entry["submissions"].empty()) {
            marked = entry["key"];
            demoSerial = entry["submissions"][0]["serial"];
        }
        if (exam.empty() && entry.value("hasExam", false) && entry.value("status", "") != "U")
            exam = entry["key"];
    }
    ASSERT_FALSE(marked.empty()) << course;
    ASSERT_FALSE(exam.empty()) << course;
    ASSERT_EQ(Get("/api/student/submissions/" + std::to_string(demoSerial), demo.cookie).status,
              200);
    ASSERT_EQ(Get("/api/student/entries/" + marked + "/marked", demo.cookie).status, 200);

    ASSERT_EQ(Register(Loopback(51), "700011").status, 201);
    const Student other = Login(Loopback(51), "700011", "pass-700011");
    const Answer missing = Get("/api/student/submissions/2147483647", other.cookie);
    EXPECT_EQ(missing.status, 404);
    const std::string tenKb(10'000, 'k');
    const struct {
        std::string target;
        int status;
        bool sameAsMissing; // the very body of a serial that does not exist
    } cases[] = {
        {"/api/student/submissions/" + std::to_string(demoSerial), 404, true},
        {"/api/student/submissions/99999999999", 404, true},
        {"/api/student/submissions/0", 404, true},
        {"/api/student/submissions/-1", 404, false},
        {"/api/student/submissions/1e3", 404, false},
        {"/api/student/entries/" + marked + "/marked", 404, false},
        {"/api/student/entries/" + exam + "/exam/99999999999", 404, false},
        {"/api/student/entries/" + exam + "/exam/-1", 404, false},
        {"/api/student/entries/" + exam + "/exam/99", 404, false},
        {"/api/student/entries/" + tenKb + "/rules", 404, false},
        {"/api/student/entries/" + tenKb + "/exam/0", 404, false},
        {"/api/student/entries/" + std::string(20'000, 'k') + "/rules", 400, false}, // head cap
        {"/api/student/entries/..%2F..%2Fsession/rules", 404, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target.substr(0, 80));
        const Answer answer = Get(c.target, other.cookie);
        EXPECT_EQ(answer.status, c.status) << answer.body;
        if (c.sameAsMissing) {
            EXPECT_EQ(answer.body, missing.body);
        }
        EXPECT_EQ(answer.body.find("hello.c"), std::string::npos);
    }
    // The other student's course lists only their own (no) submissions.
    const json theirs = Get("/api/student/course", other.cookie).Json();
    for (const auto& entry : theirs["entries"])
        EXPECT_TRUE(entry["submissions"].empty()) << entry;
}

// Forms and scripts of another site, and a request with another student's token, change nothing:
// every state-changing student route refuses them before it runs.
TEST_F(StudentApiAttack, RequestsFromAnotherSiteChangeNothing) {
    const Student demo = Demo();
    ASSERT_EQ(Register(Loopback(61), "700012").status, 201);
    const Student other = Login(Loopback(61), "700012", "pass-700012");
    const std::string course = Get("/api/student/course", demo.cookie).body;

    const std::string evil = "http://evil.example";
    const std::string account =
        R"({"currentPassword":"demo123","password":"owned-1","name":"Owned","email":"o@x"})";
    const std::string registration =
        R"({"course":3101,"student":"700013","password":"pw-123","name":"N","email":"e@x"})";
    const std::string upload = "POST /api/student/entries/" +
                               Get("/api/student/course", demo.cookie)
                                   .Json()["entries"][2]["key"]
                                   .get<std::string>() +
                               "/submissions";
    const struct {
        const char* what;
        std::string route; // "METHOD /path"
        std::string body;
        Headers headers;
        int status;
    } cases[] = {
        {"a form's text/plain login", "POST /api/student/login",
         R"({"course":3101,"student":"123456","password":"demo123"})",
         {{"Content-Type", "text/plain"}, {"Origin", evil}}, 403},
        {"a text/plain login without Origin", "POST /api/student/login",
         R"({"course":3101,"student":"123456","password":"demo123"})",
         {{"Content-Type", "text/plain"}}, 415},
        {"a form's registration", "POST /api/student/register", registration,
         {{"Content-Type", "application/x-www-form-urlencoded"}}, 415},
        {"a cross-site fetch registering", "POST /api/student/register", registration,
         {{"Content-Type", kJson}, {"Sec-Fetch-Site", "cross-site"}}, 403},
        {"a multipart account change", "PUT /api/student/account", account,
         {{"Content-Type", "multipart/form-data; boundary=x"}, {"X-CSRF-Token", demo.csrf}}, 415},
        {"an account change from another origin", "PUT /api/student/account", account,
         {{"Content-Type", kJson}, {"Origin", evil}, {"X-CSRF-Token", demo.csrf}}, 403},
        {"an account change without the token", "PUT /api/student/account", account,
         {{"Content-Type", kJson}}, 403},
        {"an account change with another student's token", "PUT /api/student/account", account,
         {{"Content-Type", kJson}, {"X-CSRF-Token", other.csrf}}, 403},
        {"a logout without the token", "POST /api/student/logout", "", {}, 403},
        {"a logout from a same-site page", "POST /api/student/logout", "",
         {{"Sec-Fetch-Site", "same-site"}, {"X-CSRF-Token", demo.csrf}}, 403},
        {"a text/plain upload", upload, "package", {{"Content-Type", "text/plain"}}, 415},
        {"a multipart upload", upload, "package",
         {{"Content-Type", "multipart/form-data; boundary=x"}}, 415},
        {"an upload from another origin", upload, "package",
         {{"Content-Type", "application/octet-stream"}, {"Origin", evil},
          {"X-CSRF-Token", demo.csrf}},
         403},
        {"an upload without the token", upload, "package",
         {{"Content-Type", "application/octet-stream"}}, 403},
        {"an upload with another student's token", upload, "package",
         {{"Content-Type", "application/octet-stream"}, {"X-CSRF-Token", other.csrf}}, 403},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Headers headers = c.headers;
        headers.emplace_back("Cookie", demo.cookie);
        const auto space = c.route.find(' ');
        const Answer answer =
            Ask(Loopback(62), c.route.substr(0, space), c.route.substr(space + 1), c.body, headers);
        EXPECT_EQ(answer.status, c.status) << answer.body;
        EXPECT_TRUE(answer.Header("set-cookie").empty());
    }
    // The demo student is still logged in with the same details and work, the password is
    // unchanged, and the registration never happened.
    EXPECT_EQ(Get("/api/student/session", demo.cookie).status, 200);
    EXPECT_EQ(Get("/api/student/course", demo.cookie).body, course);
    Login(Loopback(63), "123456", "demo123");
    EXPECT_EQ(Register(Loopback(63), "700013").status, 201);
}

// An upload's head without its student's session and token is answered before a byte of its
// body is read: nobody else can make the server take in tens of megabytes per connection.
TEST_F(StudentApiAttack, AnUploadsBodyIsReadOnlyForItsOwnStudent) {
    const Student demo = Demo();
    ASSERT_EQ(Register(Loopback(81), "700016").status, 201);
    const Student other = Login(Loopback(81), "700016", "pass-700016");
    const std::string upload = "/api/student/entries/" +
                               Get("/api/student/course", demo.cookie)
                                   .Json()["entries"][2]["key"]
                                   .get<std::string>() +
                               "/submissions";
    const struct {
        const char* what;
        Headers headers;
        int status;
    } cases[] = {
        {"no session", {}, 401},
        {"an unknown session", {{"Cookie", "tallyport_student=" + std::string(64, 'a')}}, 401},
        {"no token", {{"Cookie", demo.cookie}}, 403},
        {"another student's token", {{"Cookie", demo.cookie}, {"X-CSRF-Token", other.csrf}}, 403},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Headers headers = c.headers;
        headers.emplace_back("Content-Type", "application/octet-stream");
        // Only the head is sent: an answer at all shows the body was never waited for.
        const auto start = std::chrono::steady_clock::now();
        const Answer answer = Ask(Loopback(82), "POST", upload, {}, headers, 60 << 20);
        EXPECT_EQ(answer.status, c.status) << answer.body;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_EQ(Get("/api/student/course", demo.cookie).status, 200);
}

// Text a student controls (a name made of markup) comes back as JSON data only, and the pages
// that show it carry the strict policy and build nothing from HTML.
TEST_F(StudentApiAttack, PagesCarryTheStrictPolicyAndParseNoHtml) {
    const std::string markup = "<img src=x onerror=alert(1)>";
    ASSERT_EQ(Register(Loopback(71), "700014", markup).status, 201);
    const Student student = Login(Loopback(71), "700014", "pass-700014");
    const Answer session = Get("/api/student/session", student.cookie);
    EXPECT_EQ(session.Json()["student"]["name"], markup);
    EXPECT_TRUE(session.Header("content-type").starts_with("application/json"));
    EXPECT_EQ(session.Header("x-content-type-options"), "nosniff");

    for (const char* page : {"/student.html", "/student-course.html", "/student-marked.html",
                             "/student.js", "/student-api.js"}) {
        SCOPED_TRACE(page);
        const Answer answer = Get(page, "");
        ASSERT_EQ(answer.status, 200);
        const std::string policy = answer.Header("content-security-policy");
        EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
        EXPECT_NE(policy.find("script-src 'self'"), std::string::npos) << policy;
        EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
        EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
        EXPECT_EQ(answer.Header("x-frame-options"), "DENY");
        EXPECT_EQ(answer.Header("x-content-type-options"), "nosniff");
    }

    // No script turns text into markup, and no page holds inline script or handlers (the
    // policy would block them, so they would be dead code or a hole once it is relaxed).
    const std::regex htmlSink(R"(innerHTML|outerHTML|insertAdjacentHTML|document\.write|)"
                              R"(createContextualFragment|DOMParser|srcdoc|\beval\s*\()");
    const std::regex inlineScript(R"(<script(?![^>]*\bsrc=)[^>]*>|\son[a-z]+\s*=|javascript:)",
                                  std::regex::icase);
    int files = 0;
    for (const auto& file : std::filesystem::directory_iterator(PagesFolder())) {
        const auto extension = file.path().extension();
        if (extension != ".js" && extension != ".html")
            continue;
        ++files;
        const std::string text = ReadFile(file.path());
        EXPECT_FALSE(std::regex_search(text, htmlSink)) << file.path();
        if (extension == ".html") {
            EXPECT_FALSE(std::regex_search(text, inlineScript)) << file.path();
        }
    }
    EXPECT_GT(files, 10);
}

// The students' session table full (a small one here: its size is no command-line option) refuses
// the next student (503) without ending anyone's session, and the markers' own table is untouched:
// a marker still logs in.
TEST(StudentApiSessionTable, AFullStudentTableLocksNoMarkerOut) {
    TempDir dir;
    InProcessServer protocol(dir.path(), "127.0.0.63");
    protocol.LoadDemo();
    for (const int32_t number : {100700001, 100700002}) {
        server::NewStudent student;
        student.course = 3101;
        student.number = number;
        student.password = "pw-" + std::to_string(number);
        student.name = "S";
        student.email = "s@x";
        ASSERT_EQ(protocol.store().RegisterStudent(student), server::RegisterOutcome::Registered);
    }
    server::staff::StaffOptions options;
    options.address = "127.0.0.63";
    options.port = 0;
    options.sessionCapacity = 3;
    options.sessionsPerMarker = 2;
    server::staff::StaffServer web(protocol.store(), options);
    std::string error;
    ASSERT_TRUE(web.Start(error)) << error;
    const Endpoint at{"127.0.0.63", web.port()};
    const auto login = [&](const std::string& route, const json& body) {
        return AskAt(at, Loopback(64), "POST", route, body.dump(),
                     {{"Content-Type", "application/json"}});
    };
    const auto student = [&](const std::string& number, const std::string& password) {
        return login("/api/student/login",
                     {{"course", 3101}, {"student", number}, {"password", password}});
    };
    std::vector<std::string> held;
    for (int i = 0; i < 3; ++i) // two kept: the student's own oldest ends
        held.push_back(student("123456", "demo123").Cookie());
    held.push_back(student("700001", "pw-100700001").Cookie());
    const Answer refused = student("700002", "pw-100700002");
    EXPECT_EQ(refused.status, 503) << refused.body;
    for (std::size_t i = 1; i < held.size(); ++i)
        EXPECT_EQ(AskAt(at, Loopback(64), "GET", "/api/student/session", {}, {{"Cookie", held[i]}})
                      .status,
                  200)
            << i;
    const Answer marker = login("/api/login", {{"id", "tjones"}, {"password", "marking-demo-123"}});
    EXPECT_EQ(marker.status, 200) << marker.body;
}

} // namespace
} // namespace tallyport::test
