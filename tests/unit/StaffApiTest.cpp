// The staff API against a real staff listener on loopback, beside the student listener on the
// same database: sessions, the CSRF check, course rights, markings saved through the API and
// read by the student's client through the student protocol, stale saves, release, the audit,
// and TLS on the wire.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"
#include "StaffClient.h"
#include "command/CommandContext.h"
#include "course/Demo.h"
#include "marking/MarkedDownload.h"
#include "protocol/Transaction.h"
#include "student/PackageParser.h"
#include "support/HttpClient.h"
#include "support/InProcessServer.h"
#include "support/LoopbackCapture.h"
#include "support/LoopbackFlood.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"
#include "support/SelfSignedCertificate.h"
#include "support/TempDir.h"
#include "web/LoginThrottle.h"
#include "web/MarkerPassword.h"
#include "web/MarkingJson.h"
#include "web/StaffServer.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

namespace tallyport::test {
namespace {

using nlohmann::json;

constexpr const char* kAddress = "127.0.0.21";

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

class StaffApi : public ::testing::Test {
protected:
    void SetUp() override {
        student.LoadDemo();
        AddMarker("amiller", "admin-pw", true, {kDemoCourseNumber});
        AddMarker("qlee", "quiz-pw", false, {server::kQuestionnaireCourse});
        StartStaff({});
    }

    static constexpr int32_t kDemoCourseNumber = server::kDemoCourse;

    void AddMarker(const std::string& id, const std::string& password, bool admin,
                   std::vector<int32_t> courses) {
        ASSERT_TRUE(student.store().AddMarker({id, id, "TA", admin, std::move(courses)}));
        ASSERT_TRUE(student.store().SetMarkerPassword(
            id, server::staff::HashMarkerPassword(password).value()));
    }

    void StartStaff(server::staff::StaffOptions options) {
        staff.reset();
        options.address = kAddress;
        options.port = 0;
        staff = std::make_unique<server::staff::StaffServer>(student.store(), options);
        std::string error;
        ASSERT_TRUE(staff->Start(error)) << error;
    }

    StaffClient Client() { return StaffClient(kAddress, staff->port()); }

    StaffClient LoggedIn(const std::string& id = "tjones",
                         const std::string& password = std::string(server::kDemoMarkerPassword)) {
        StaffClient client = Client();
        EXPECT_EQ(client.Login(id, password).status, 200);
        return client;
    }

    // What the student's client downloads through the student protocol for demo entry 0.
    std::optional<MarkedDownload> StudentView() {
        ScriptedTransactionUi ui;
        Transactor transactor{student.endpoint(), ui};
        ScriptedPrompts prompts;
        NoFields fields;
        Course course;
        course.number = kDemoCourseNumber;
        MainSelection selection;
        selection.studentNumber = server::kDemoStudent;
        selection.password = std::string(server::kDemoPassword);
        selection.entryIndex = 0;
        std::filesystem::create_directories(dir.path() / "tmp");
        CommandContext context{transactor, prompts, fields, &course, selection, dir.path() / "tmp"};
        return DownloadMarkedSubmission(context);
    }

    TempDir dir;
    InProcessServer student{dir.path(), kAddress};
    std::unique_ptr<server::staff::StaffServer> staff;
};

// The demo's first submission: entry 0 of course 3101, one file hello.c, marked 8 (version 1).
constexpr const char* kSerial1 = "/api/submissions/1";

json Marking(int64_t version, int mark, const json& annotations, const std::string& detail = "") {
    return {{"version", version},
            {"mark", mark},
            {"detail", detail},
            {"files", {{{"name", "hello.c"}, {"annotations", annotations}}}}};
}

TEST_F(StaffApi, LoginSetsAPrivateCookieAndLogoutEndsTheSession) {
    StaffClient client = Client();
    EXPECT_EQ(client.Get("/api/courses").status, 401);
    const Reply login = client.Login("tjones", std::string(server::kDemoMarkerPassword));
    ASSERT_EQ(login.status, 200);
    EXPECT_EQ(login.body["marker"]["courses"], json::array({kDemoCourseNumber}));
    const std::string setCookie = StaffClient::Header(login, "Set-Cookie");
    EXPECT_NE(setCookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(setCookie.find("SameSite=Strict"), std::string::npos);
    EXPECT_EQ(setCookie.find("Secure"), std::string::npos); // plain HTTP on loopback
    EXPECT_EQ(client.cookie.size(), std::string("tallyport_session=").size() + 64);
    EXPECT_EQ(client.csrf.size(), 64u);

    const Reply courses = client.Get("/api/courses");
    ASSERT_EQ(courses.status, 200);
    ASSERT_EQ(courses.body["courses"].size(), 1u);
    const json& entry0 = courses.body["courses"][0]["entries"][0];
    EXPECT_EQ(entry0["submitted"], 1);
    EXPECT_EQ(entry0["marked"], 1);
    EXPECT_EQ(entry0["released"], 1);

    // Logging out needs the token too; afterwards the cookie opens nothing.
    const std::string token = client.csrf;
    client.csrf.clear();
    EXPECT_EQ(client.Post("/api/logout").status, 403);
    client.csrf = token;
    EXPECT_EQ(client.Post("/api/logout").status, 200);
    EXPECT_EQ(client.Get("/api/courses").status, 401);
}

// Every request looks its marker up, so removing a marker ends its sessions at once.
TEST_F(StaffApi, ARemovedMarkersSessionIsRefusedAtOnce) {
    StaffClient removed = LoggedIn();
    StaffClient other = LoggedIn("amiller", "admin-pw");
    ASSERT_EQ(removed.Get("/api/session").status, 200);
    ASSERT_TRUE(student.store().RemoveMarker(server::kDemoMarker));
    EXPECT_EQ(removed.Get("/api/session").status, 401);
    EXPECT_EQ(removed.Post("/api/logout").status, 401);
    EXPECT_EQ(
        removed.Login(std::string(server::kDemoMarker), std::string(server::kDemoMarkerPassword))
            .status,
        401);
    EXPECT_EQ(other.Get("/api/session").status, 200) << "other markers keep their sessions";
}

TEST_F(StaffApi, WrongCredentialsOpenNothingAndStudentsAreNotMarkers) {
    // A marker without a password cannot log in at all.
    ASSERT_TRUE(student.store().AddMarker({"nopw", "No Password", "TA", false, {3101}}));
    const struct {
        std::string id, password;
    } refused[] = {
        {"tjones", "wrong"},
        {"tjones", ""},
        {"nobody", std::string(server::kDemoMarkerPassword)},
        {"nopw", ""},
        {"123456", std::string(server::kDemoPassword)},
        {std::to_string(server::kDemoStudent), std::string(server::kDemoPassword)},
    };
    for (const auto& r : refused) {
        StartStaff({}); // a fresh listener, so that earlier failures slow nothing here
        StaffClient client = Client();
        const Reply reply = client.Login(r.id, r.password);
        EXPECT_EQ(reply.status, 401) << r.id;
        EXPECT_EQ(reply.body["error"], "wrong id or password");
        EXPECT_TRUE(StaffClient::Header(reply, "Set-Cookie").empty());
    }
    // Not the wrong shape either.
    StaffClient client = Client();
    EXPECT_EQ(client.Send("POST", "/api/login", R"({"id": "tjones"})").status, 400);
    EXPECT_EQ(client.Send("POST", "/api/login", "tjones:marking-demo-123").status, 400);
}

TEST_F(StaffApi, FailedLoginsSlowTheIdAndTheAddress) {
    StaffClient client = Client();
    for (int i = 0; i < server::staff::LoginThrottle::kFreeFailures; ++i)
        EXPECT_EQ(client.Login("tjones", "guess" + std::to_string(i)).status, 401);
    // Now even the right password must wait, and so must another id from the same address.
    const Reply slowed = client.Login("tjones", std::string(server::kDemoMarkerPassword));
    EXPECT_EQ(slowed.status, 429);
    EXPECT_EQ(StaffClient::Header(slowed, "Retry-After"), "1");
    EXPECT_EQ(client.Login("amiller", "admin-pw").status, 429);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(client.Login("tjones", std::string(server::kDemoMarkerPassword)).status, 200);
}

// Guesses sent in parallel are counted as they are let in, not after their password has been
// checked: no more of them are checked in one window than one at a time would be.
TEST_F(StaffApi, ParallelGuessesGetNoMoreTriesThanSequentialOnes) {
    constexpr int kGuesses = 16;
    std::array<int, kGuesses> statuses{};
    std::vector<std::thread> guessers;
    for (int i = 0; i < kGuesses; ++i)
        guessers.emplace_back(
            [&, i] { statuses[i] = Client().Login("tjones", "guess" + std::to_string(i)).status; });
    for (auto& guesser : guessers)
        guesser.join();
    // The free tries, and one more only if this machine took over a second to let them in.
    const auto checked = std::count(statuses.begin(), statuses.end(), 401);
    EXPECT_GE(checked, server::staff::LoginThrottle::kFreeFailures);
    EXPECT_LE(checked, server::staff::LoginThrottle::kFreeFailures + 1);
    EXPECT_EQ(checked + std::count(statuses.begin(), statuses.end(), 429), kGuesses);
}

// The staff port is ours alone while we serve, and ours again at once after a restart, while
// the connections it served wait out TIME-WAIT.
TEST_F(StaffApi, TheStaffPortIsOursAloneAndFreeAtOnceAfterARestart) {
    StaffClient client = LoggedIn();
    ASSERT_EQ(client.Get("/api/session").status, 200);
    server::staff::StaffOptions options;
    options.address = kAddress;
    options.port = staff->port();
    std::string error;
    server::staff::StaffServer beside(student.store(), options);
    EXPECT_FALSE(beside.Start(error));
    staff.reset(); // closes the served connection from the server's side first
    server::staff::StaffServer again(student.store(), options);
    EXPECT_TRUE(again.Start(error)) << error;
}

// A login sent from the loopback address `source`, as a browser sends it with `cookies`: the
// status and the values of its Set-Cookie headers, "; "-joined.
struct SourcedLogin {
    int status = 0;
    std::string device; // the tallyport_device cookie it set, "name=value"
};
SourcedLogin LoginFrom(const std::string& source, uint16_t port, const std::string& id,
                       const std::string& password, const std::string& cookies = {},
                       const std::string& moreHeaders = "Content-Type: application/json\r\n") {
    const std::string body = json{{"id", id}, {"password", password}}.dump();
    std::string request = "POST /api/login HTTP/1.1\r\nHost: " + std::string(kAddress) + ":" +
                          std::to_string(port) + "\r\nConnection: close\r\n" + moreHeaders +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!cookies.empty())
        request += "Cookie: " + cookies + "\r\n";
    request += "\r\n" + body;
    const int fd = ConnectFrom(source, Endpoint{kAddress, port});
    SourcedLogin login;
    if (fd < 0)
        return login;
    if (SendAll(fd, std::as_bytes(std::span(request.data(), request.size())))) {
        const std::string answer = ReceiveUntilClosed(fd, 20'000);
        if (answer.size() > 12)
            login.status = std::atoi(answer.c_str() + 9);
        const auto at = answer.find("tallyport_device=");
        if (at != std::string::npos)
            login.device = answer.substr(at, answer.find(';', at) - at);
    }
    ::close(fd);
    return login;
}

// Whoever knows a marker's id can slow it for new browsers, but not for the browser the marker
// logged in from before: that one is slowed only by its own failures and its address's.
TEST_F(StaffApi, FailuresOnAnIdDoNotKeepItsOwnersKnownBrowserOut) {
    const uint16_t port = staff->port();
    const std::string right(server::kDemoMarkerPassword);
    const SourcedLogin first = LoginFrom("127.0.0.31", port, "tjones", right);
    ASSERT_EQ(first.status, 200);
    ASSERT_FALSE(first.device.empty());
    for (int i = 0; i < 6; ++i)
        LoginFrom("127.0.0." + std::to_string(40 + i), port, "tjones", "guess");
    // A new browser, even from the owner's address, waits; the known one does not.
    EXPECT_EQ(LoginFrom("127.0.0.31", port, "tjones", right).status, 429);
    EXPECT_EQ(LoginFrom("127.0.0.31", port, "tjones", right, first.device).status, 200);
    // The cookie is the marker's own: for another id it counts for nothing.
    EXPECT_EQ(
        LoginFrom("127.0.0.32", port, "tjones", right, "tallyport_device=" + std::string(64, 'a'))
            .status,
        429);
    // Guesses through the known browser are slowed by their own count.
    for (int i = 0; i < server::staff::LoginThrottle::kFreeFailures; ++i)
        EXPECT_EQ(
            LoginFrom("127.0.0." + std::to_string(50 + i), port, "tjones", "guess", first.device)
                .status,
            401);
    EXPECT_EQ(LoginFrom("127.0.0.60", port, "tjones", right, first.device).status, 429);
}

// A login (or any change) that a browser says another site sent, or whose body is not declared
// JSON, is refused before the password is looked at: a cross-site form cannot log a victim into
// an attacker's account.
TEST_F(StaffApi, CrossSiteAndNonJsonRequestsChangeNothing) {
    const uint16_t port = staff->port();
    const std::string own = "http://" + std::string(kAddress) + ":" + std::to_string(port);
    const std::string right(server::kDemoMarkerPassword);
    const struct {
        std::string headers;
        int status;
    } cases[] = {
        {"Content-Type: text/plain\r\n", 415},
        {"Content-Type: application/x-www-form-urlencoded\r\n", 415},
        {"", 415},
        {"Content-Type: application/json\r\nOrigin: http://evil.example\r\n", 403},
        {"Content-Type: application/json\r\nOrigin: null\r\n", 403},
        {"Content-Type: application/json\r\nSec-Fetch-Site: cross-site\r\n", 403},
        {"Content-Type: application/json\r\nSec-Fetch-Site: same-site\r\n", 403},
        {"Content-Type: Application/JSON; charset=utf-8\r\nOrigin: " + own +
             "\r\nSec-Fetch-Site: same-origin\r\n",
         200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoginFrom("127.0.0.71", port, "tjones", right, {}, c.headers).status, c.status)
            << c.headers;
}

TEST_F(StaffApi, AnIdleSessionExpires) {
    server::staff::StaffOptions options;
    options.sessionIdle = std::chrono::seconds(1);
    StartStaff(options);
    StaffClient client = LoggedIn();
    EXPECT_EQ(client.Get("/api/session").status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    EXPECT_EQ(client.Get("/api/session").status, 401);
}

// However often one marker logs in, only their own oldest sessions end; a full table refuses the
// newcomer instead of logging anyone else out.
TEST_F(StaffApi, LoginsOfOneMarkerNeverEndAnothersSession) {
    server::staff::StaffOptions options;
    options.sessionCapacity = 3;
    options.sessionsPerMarker = 2;
    StartStaff(options);
    StaffClient other = LoggedIn("amiller", "admin-pw");
    std::vector<StaffClient> mine;
    for (int i = 0; i < 4; ++i)
        mine.push_back(LoggedIn());
    EXPECT_EQ(other.Get("/api/session").status, 200);
    EXPECT_EQ(mine[0].Get("/api/session").status, 401);
    EXPECT_EQ(mine[1].Get("/api/session").status, 401);
    EXPECT_EQ(mine[2].Get("/api/session").status, 200);
    EXPECT_EQ(mine[3].Get("/api/session").status, 200);
    EXPECT_EQ(Client().Login("qlee", "quiz-pw").status, 503);
    EXPECT_EQ(other.Get("/api/session").status, 200);
}

TEST_F(StaffApi, ChangesNeedTheSessionsOwnCsrfToken) {
    StaffClient client = LoggedIn();
    StaffClient other = LoggedIn("amiller", "admin-pw");
    const json change = Marking(1, 3, json::array());
    for (const std::string& token : {std::string(), std::string(64, '0'), other.csrf}) {
        client.csrf = token;
        EXPECT_EQ(client.Put(std::string(kSerial1) + "/marking", change).status, 403);
        EXPECT_EQ(client.Post("/api/courses/3101/entries/1/release").status, 403);
    }
    // Reading needs no token; nothing was changed.
    const Reply now = client.Get(kSerial1);
    ASSERT_EQ(now.status, 200);
    EXPECT_EQ(now.body["marking"]["mark"], 8);
    EXPECT_EQ(now.body["marking"]["version"], 1);
}

// A marking over one of the limits is refused with the limit named, and nothing is stored.
TEST_F(StaffApi, AMarkingOverALimitIsRefusedWithTheLimit) {
    StaffClient client = LoggedIn();
    const json comment = {{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", "x"}};
    const json tooMany(std::vector<json>(server::staff::kMaxAnnotationsPerFile + 1, comment));
    const Reply refused = client.Put(std::string(kSerial1) + "/marking", Marking(1, 5, tooMany));
    EXPECT_EQ(refused.status, 422);
    EXPECT_NE(refused.body.dump().find("at most 1000 annotations"), std::string::npos)
        << refused.body.dump();
    EXPECT_EQ(client.Get(kSerial1).body["marking"]["version"], 1);
}

// The client may submit two files of the same name; each is marked by its place in the list.
TEST_F(StaffApi, TwoFilesOfTheSameNameAreMarkedEachByItsIndex) {
    const std::string package =
        PackageOf({{"dup.txt", 'A', 8, "first\n"}, {"dup.txt", 'A', 8, "second\n"}});
    server::NewSubmission upload;
    upload.course = 3101;
    upload.student = server::kDemoStudent;
    upload.entry = 2;
    upload.package = package;
    upload.files = server::ParsePackage(package)->files;
    const int32_t serial = student.store().AddSubmission(upload).value();
    const std::string path = "/api/submissions/" + std::to_string(serial);
    StaffClient client = LoggedIn();
    auto comment = [](const std::string& text) {
        return json::array({{{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", text}}});
    };
    json byName = {
        {"version", 0},
        {"mark", 4},
        {"files", json::array({{{"name", "dup.txt"}, {"annotations", comment("which?")}}})}};
    const Reply ambiguous = client.Put(path + "/marking", byName);
    EXPECT_EQ(ambiguous.status, 422);
    EXPECT_NE(ambiguous.body.dump().find("more than one file named dup.txt"), std::string::npos);
    json byIndex = {
        {"version", 0},
        {"mark", 4},
        {"files",
         json::array(
             {{{"index", 1}, {"annotations", comment("on the second")}},
              {{"index", 0}, {"name", "dup.txt"}, {"annotations", comment("on the first")}}})}};
    ASSERT_EQ(client.Put(path + "/marking", byIndex).status, 200);
    const Reply shown = client.Get(path);
    ASSERT_EQ(shown.status, 200);
    EXPECT_EQ(shown.body["files"][0]["annotations"][0]["text"], "on the first");
    EXPECT_EQ(shown.body["files"][1]["annotations"][0]["text"], "on the second");
}

TEST_F(StaffApi, AMarkerOfAnotherCourseSeesAndChangesNothing) {
    StaffClient client = LoggedIn("qlee", "quiz-pw");
    // Another course's submission answers exactly as one that does not exist.
    const Reply foreign = client.Get(kSerial1);
    const Reply missing = client.Get("/api/submissions/999999");
    EXPECT_EQ(foreign.status, 404);
    EXPECT_EQ(foreign.body, missing.body);
    EXPECT_EQ(client.Get(std::string(kSerial1) + "/files/0").status, 404);
    EXPECT_EQ(client.Get("/api/courses/3101/entries/0/submissions").status, 403);
    EXPECT_EQ(client.Put(std::string(kSerial1) + "/marking", Marking(1, 0, json::array())).status,
              404);
    const Reply courses = client.Get("/api/courses");
    ASSERT_EQ(courses.status, 200);
    EXPECT_EQ(courses.body["courses"][0]["number"], server::kQuestionnaireCourse);
    EXPECT_EQ(student.store().FindMark(1)->mark, 8);
}

TEST_F(StaffApi, AMarkingSavedHereIsWhatTheStudentsClientShows) {
    StaffClient client = LoggedIn();
    const Reply list = client.Get("/api/courses/3101/entries/0/submissions");
    ASSERT_EQ(list.status, 200);
    ASSERT_EQ(list.body["submissions"].size(), 1u);
    EXPECT_EQ(list.body["submissions"][0]["serial"], 1);
    EXPECT_EQ(list.body["submissions"][0]["markedBy"], "tjones");

    const Reply shown = client.Get(kSerial1);
    ASSERT_EQ(shown.status, 200);
    const json& file = shown.body["files"][0];
    EXPECT_EQ(file["name"], "hello.c");
    EXPECT_EQ(file["kind"], "F");
    EXPECT_EQ(file["tabWidth"], 4);
    const Reply download = client.Get(std::string(kSerial1) + "/files/0");
    ASSERT_EQ(download.status, 200);
    const std::string source = download.body.get<std::string>();
    EXPECT_TRUE(source.starts_with("#include <stdio.h>\r\n"));
    EXPECT_EQ(file["length"], source.size());

    const json annotations = {
        {{"type", "comment"}, {"x", 40}, {"y", 10}, {"text", "It\u2019s fine \u2014\nbut why?"}},
        {{"type", "stroke"},
         {"x", 0},
         {"y", 30},
         {"width", 80},
         {"height", 20},
         {"points", {{0, 0}, {80, 0}, {80, 20}}}},
    };
    const Reply saved = client.Put(std::string(kSerial1) + "/marking",
                                   Marking(1, 9, annotations, "Re-marked \u2014 see comments"));
    ASSERT_EQ(saved.status, 200) << saved.body.dump();
    EXPECT_EQ(saved.body["marking"]["version"], 2);
    EXPECT_EQ(saved.body["files"][0]["annotations"][0]["width"], 110); // "It’s fine —": 11

    const auto view = StudentView();
    ASSERT_TRUE(view);
    const MarkedSubmission& seen = view->submission;
    ASSERT_TRUE(seen.marking);
    EXPECT_EQ(seen.marking->mark, 9);
    EXPECT_EQ(seen.marking->markerId, "tjones");
    EXPECT_EQ(seen.marking->detail, "Re-marked \x97 see comments");
    ASSERT_EQ(seen.files.size(), 1u);
    EXPECT_EQ(*seen.files[0].text(), source);
    std::vector<const ObjectNode*> objects; // the chain is newest first
    for (const ObjectNode* node = seen.files[0].annotations.get(); node; node = node->next.get())
        objects.insert(objects.begin(), node);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]->x, 40);
    EXPECT_EQ(objects[0]->y, 10);
    EXPECT_EQ(objects[0]->width, 110);
    EXPECT_EQ(objects[0]->height, 20);
    EXPECT_EQ(objects[0]->GetText(), "It\x92s fine \x97\r\a"
                                     "but why?");
    const auto* stroke = dynamic_cast<const LineNode*>(objects[1]);
    ASSERT_NE(stroke, nullptr);
    EXPECT_EQ((std::array{stroke->x, stroke->y, stroke->width, stroke->height}),
              (std::array{0, 30, 80, 20}));
    std::vector<std::pair<int32_t, int32_t>> points;
    for (const PointNode* p = stroke->points.get(); p; p = p->next.get())
        points.insert(points.begin(), {p->x, p->y});
    EXPECT_EQ(points, (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {80, 0}, {80, 20}}));

    // And the API shows it again as it was sent: the save answered with the stored marking.
    EXPECT_EQ(client.Get(std::string(kSerial1) + "/versions/2").body, saved.body);
    const Reply again = client.Get(kSerial1);
    EXPECT_EQ(again.body["files"][0]["annotations"], saved.body["files"][0]["annotations"]);
    EXPECT_EQ(again.body["marking"]["detail"], "Re-marked \u2014 see comments");
}

TEST_F(StaffApi, AStaleSaveIsRefusedWithTheCurrentMarking) {
    StaffClient first = LoggedIn();
    StaffClient second = LoggedIn("amiller", "admin-pw");
    const json comment = {{{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", "first"}}};
    ASSERT_EQ(first.Put(std::string(kSerial1) + "/marking", Marking(1, 6, comment)).status, 200);
    const Reply stale =
        second.Put(std::string(kSerial1) + "/marking", Marking(1, 2, json::array(), "second"));
    ASSERT_EQ(stale.status, 409);
    EXPECT_EQ(stale.body["current"]["marking"]["mark"], 6);
    EXPECT_EQ(stale.body["current"]["marking"]["version"], 2);
    EXPECT_EQ(stale.body["current"]["files"][0]["annotations"][0]["text"], "first");
    const auto stored = student.store().FindMarking(1);
    EXPECT_EQ(stored->mark->mark, 6);
    EXPECT_EQ(stored->markup[0], "C,0,0,50,10,first\r\n");
    // Based on the version it was shown, the second marker's save goes through.
    EXPECT_EQ(second.Put(std::string(kSerial1) + "/marking", Marking(2, 2, json::array())).status,
              200);
    EXPECT_EQ(student.store().FindMark(1)->version, 3);
}

// Moderation: a marker refused for a stale save keeps theirs by saving again on the newer
// version; the marking they overwrote stays in the history, readable and restorable.
TEST_F(StaffApi, AnOverwrittenMarkingStaysInTheHistoryAndCanBeRestored) {
    StaffClient first = LoggedIn();
    StaffClient second = LoggedIn("amiller", "admin-pw");
    const std::string path = kSerial1;
    const json firstComments = {
        {{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", "first marker"}},
        {{"type", "comment"}, {"x", 10}, {"y", 40}, {"text", "two\nlines"}},
    };
    const json secondComments = {{{"type", "comment"}, {"x", 5}, {"y", 5}, {"text", "moderated"}}};
    ASSERT_EQ(first.Put(path + "/marking", Marking(1, 6, firstComments, "by tjones")).status, 200);
    const Reply refused =
        second.Put(path + "/marking", Marking(1, 3, secondComments, "by amiller"));
    ASSERT_EQ(refused.status, 409);
    const int64_t shown = refused.body["current"]["marking"]["version"];
    const Reply kept =
        second.Put(path + "/marking", Marking(shown, 3, secondComments, "by amiller"));
    ASSERT_EQ(kept.status, 200) << kept.body.dump();
    EXPECT_EQ(kept.body["marking"]["version"], 3);

    const Reply list = first.Get(path + "/versions");
    ASSERT_EQ(list.status, 200);
    std::vector<std::tuple<int64_t, int, std::string, std::string>> versions;
    for (const json& v : list.body["versions"])
        versions.emplace_back(v["version"], v["mark"], v["markedBy"], v["detail"]);
    const std::vector<std::tuple<int64_t, int, std::string, std::string>> expected = {
        {3, 3, "amiller", "by amiller"},
        {2, 6, "tjones", "by tjones"},
        {1, 8, "tjones", "Marked on screen"}}; // the demo's mark
    EXPECT_EQ(versions, expected) << list.body.dump();

    const Reply overwritten = first.Get(path + "/versions/2");
    ASSERT_EQ(overwritten.status, 200);
    EXPECT_EQ(overwritten.body["marking"]["mark"], 6);
    EXPECT_EQ(overwritten.body["marking"]["markedBy"], "tjones");
    const json& annotations = overwritten.body["files"][0]["annotations"];
    ASSERT_EQ(annotations.size(), 2u);
    EXPECT_EQ(annotations[0]["text"], "first marker");
    EXPECT_EQ(annotations[1]["text"], "two\nlines");

    // A restore is based on the version the marker saw, as a save is.
    const std::string restore = path + "/versions/2/restore";
    const Reply stale = first.Send("POST", restore, json{{"version", 2}}.dump());
    ASSERT_EQ(stale.status, 409);
    EXPECT_EQ(stale.body["current"]["marking"]["version"], 3);
    EXPECT_EQ(student.store().FindMark(1)->version, 3);
    const Reply restored = first.Send("POST", restore, json{{"version", 3}}.dump());
    ASSERT_EQ(restored.status, 200) << restored.body.dump();
    EXPECT_EQ(restored.body["marking"]["version"], 4);
    EXPECT_EQ(restored.body["marking"]["mark"], 6);
    EXPECT_EQ(restored.body["marking"]["detail"], "by tjones");
    EXPECT_EQ(restored.body["files"], overwritten.body["files"]);
    EXPECT_EQ(student.store().FindMarking(1)->markup,
              student.store().FindMarkingVersion(1, 2)->markup);
    EXPECT_EQ(first.Get(path + "/versions/3").body["files"][0]["annotations"][0]["text"],
              "moderated");

    // Every change's audit row names the version it produced.
    std::vector<std::tuple<std::string, std::string, std::optional<int64_t>>> changes;
    for (const auto& row : student.store().Audit(kDemoCourseNumber))
        if (row.serial == 1)
            changes.emplace_back(row.actor, row.action, row.version);
    EXPECT_EQ(changes, (std::vector<std::tuple<std::string, std::string, std::optional<int64_t>>>{
                           {"tjones", "remark", 1}, // the demo's Assignment 1 is released
                           {"tjones", "remark", 2},
                           {"amiller", "remark", 3},
                           {"tjones", "restore", 4}}));
}

TEST_F(StaffApi, HistoryRequestsOutsideItChangeNothing) {
    StaffClient client = LoggedIn();
    const std::string path = kSerial1;
    const struct {
        std::string method, path, body;
        int status;
    } cases[] = {
        {"GET", path + "/versions/2", "", 404},
        {"GET", path + "/versions/99999999999", "", 404},
        {"GET", "/api/submissions/999/versions", "", 404},
        {"POST", path + "/versions/2/restore", R"({"version": 1})", 404},
        {"POST", path + "/versions/1/restore", R"({"version": "1"})", 400},
        {"POST", path + "/versions/1/restore", R"({})", 400},
        {"POST", path + "/versions/1/restore", R"({"version": 1, "mark": 2})", 400},
    };
    for (const auto& c : cases)
        EXPECT_EQ(client.Send(c.method, c.path, c.body).status, c.status) << c.path << c.body;
    // The demo's mark 8 is over a maximum lowered since, so it is not restored.
    auto course = student.store().FindCourse(kDemoCourseNumber).value();
    course.entries[0].maxMark = 5;
    ASSERT_TRUE(student.store().PutCourse(course));
    EXPECT_EQ(client.Send("POST", path + "/versions/1/restore", R"({"version": 1})").status, 422);
    StaffClient other = LoggedIn("qlee", "quiz-pw"); // marks another course
    EXPECT_EQ(other.Get(path + "/versions").status, 404);
    EXPECT_EQ(other.Get(path + "/versions/1").status, 404);
    EXPECT_EQ(other.Send("POST", path + "/versions/1/restore", R"({"version": 1})").status, 404);
    client.csrf.clear();
    EXPECT_EQ(client.Send("POST", path + "/versions/1/restore", R"({"version": 1})").status, 403);
    EXPECT_EQ(student.store().FindMark(1)->version, 1);
    EXPECT_EQ(student.store().MarkingVersions(1).size(), 1u);
    EXPECT_EQ(student.store().Audit().size(), 2u); // the demo's two marks
}

TEST_F(StaffApi, BadRequestsChangeNothing) {
    StaffClient client = LoggedIn();
    const std::string path = std::string(kSerial1) + "/marking";
    const json comment = {{{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", "\u2192"}}};
    const struct {
        std::string body;
        int status;
        std::string why;
    } cases[] = {
        {"{", 400, "not JSON"},
        {R"({"version": 1, "mark": 5, "files": [], "extra": 1})", 400, "unknown field"},
        {Marking(1, 11, json::array()).dump(), 422, "between 0 and 10"},
        {Marking(1, -1, json::array()).dump(), 422, "between 0 and 10"},
        {Marking(1, 5, comment).dump(), 400, "U+2192"},
        {json{{"version", 1},
              {"mark", 5},
              {"files", {{{"name", "other.c"}, {"annotations", json::array()}}}}}
             .dump(),
         422, "no file named other.c"},
    };
    for (const auto& c : cases) {
        const Reply reply = client.Send("PUT", path, c.body);
        EXPECT_EQ(reply.status, c.status) << c.why;
        EXPECT_NE(reply.body.value("error", "").find(c.why), std::string::npos)
            << reply.body.dump();
    }
    // A body announced over the cap is answered before a byte of it is sent.
    RawConnection huge({kAddress, staff->port()});
    huge.Send("PUT " + path + " HTTP/1.1\r\nHost: x\r\nCookie: " + client.cookie +
              "\r\nX-CSRF-Token: " + client.csrf + "\r\nContent-Length: 5242880\r\n\r\n");
    const std::string refused = huge.ReceiveAll(20'000);
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 413")) << refused;
    EXPECT_NE(refused.find("larger than 4194304 bytes"), std::string::npos);
    EXPECT_EQ(client.Get("/api/submissions/999").status, 404);
    EXPECT_EQ(client.Get("/api/submissions/99999999999").status, 404);
    EXPECT_EQ(client.Get("/api/nothing").body["error"], "no such API path");
    EXPECT_EQ(student.store().FindMark(1)->version, 1);
    EXPECT_EQ(student.store().Audit().size(), 2u); // the demo's two marks
}

TEST_F(StaffApi, OnlyAdminsReleaseAndEveryChangeIsAudited) {
    StaffClient marker = LoggedIn();
    EXPECT_EQ(marker.Post("/api/courses/3101/entries/1/release").status, 403);
    StaffClient admin = LoggedIn("amiller", "admin-pw");
    ASSERT_EQ(admin.Post("/api/courses/3101/entries/1/release").status, 200);
    EXPECT_TRUE(student.store().FindCourse(3101)->entries[1].marksReleased);
    ASSERT_EQ(marker.Put(std::string(kSerial1) + "/marking", Marking(1, 4, json::array())).status,
              200);

    const auto audit = RunServerCommand(
        dir.path(), {"audit", "--db", student.store().file().string(), "--course", "3101"});
    ASSERT_EQ(audit.exitCode, 0) << audit.err;
    const std::string& text = audit.out;
    // The demo's marks, the release, then the change from 8 to 4.
    EXPECT_NE(text.find("amiller       release            3101    assignment-2  -       -    -    "
                        "-          -        -\n"),
              std::string::npos)
        << text;
    // Assignment 1's marks are out already: the change is a remark, naming the student to tell,
    // and the marking version it made.
    EXPECT_NE(text.find("tjones        remark             3101    assignment-1  1       8    4    "
                        "100123456  2        100123456\n"),
              std::string::npos)
        << text;
    EXPECT_LT(text.find("release"), text.find("8    4"));
}

TEST_F(StaffApi, SlowClientsAreDroppedWhileStudentsAreServed) {
    server::staff::StaffOptions options;
    options.readTimeout = std::chrono::seconds(1);
    options.threads = 2;
    StartStaff(options);
    const Endpoint staffEnd{kAddress, staff->port()};
    // More stalled clients than the listener has threads: one sends half a request line,
    // others nothing, one a body shorter than it announced.
    std::vector<std::unique_ptr<RawConnection>> stalled;
    for (const char* start : {"GET /api/cour", "", "",
                              "PUT /api/submissions/1/marking HTTP/1.1\r\nHost: x\r\n"
                              "Content-Length: 100\r\n\r\n{\"version\""}) {
        stalled.push_back(std::make_unique<RawConnection>(staffEnd));
        stalled.back()->Send(start);
    }
    // The student listener answers throughout.
    const auto listed = Exchange(student.endpoint(), CourseListRequest());
    EXPECT_EQ(listed.status, 0);
    for (auto& connection : stalled) {
        connection->ReceiveAll(20'000); // returns when the server closes it
        EXPECT_FALSE(connection->timedOut());
    }
    // And the staff listener serves again.
    EXPECT_EQ(LoggedIn().Get("/api/session").status, 200);
    EXPECT_EQ(student.store().FindMark(1)->version, 1);
}

TEST_F(StaffApi, OverTlsNoSecretOrFileTextCrossesTheWire) {
    const auto files = WriteSelfSignedCertificate(dir.path(), kAddress);
    server::staff::StaffOptions options;
    options.tlsCert = files.certificate.string();
    options.tlsKey = files.key.string();
    StartStaff(options);
    std::string whyNot;
    auto capture = LoopbackCapture::Start(kAddress, staff->port(), whyNot);
    if (!capture)
        GTEST_SKIP() << "no capture possible here: " << whyNot;

    StaffClient client(kAddress, staff->port(), files.certificate.string());
    const Reply login = client.Login("tjones", std::string(server::kDemoMarkerPassword));
    ASSERT_EQ(login.status, 200);
    EXPECT_NE(StaffClient::Header(login, "Set-Cookie").find("; Secure"), std::string::npos);
    const Reply shown = client.Get(kSerial1);
    ASSERT_EQ(shown.status, 200);
    const std::string content = shown.body["files"][0]["content"];
    ASSERT_EQ(client.Get(std::string(kSerial1) + "/files/0").status, 200);
    ASSERT_EQ(
        client
            .Put(std::string(kSerial1) + "/marking",
                 Marking(1, 7,
                         {{{"type", "comment"}, {"x", 0}, {"y", 0}, {"text", "secret remark"}}}))
            .status,
        200);
    ASSERT_TRUE(capture->StopAfterMarker("staff-tls-done"));

    const auto connections = capture->Connections();
    ASSERT_FALSE(connections.empty());
    const std::string sessionId = client.cookie.substr(client.cookie.find('=') + 1);
    for (const auto& connection : connections) {
        const std::string both = connection.toServer + connection.toClient;
        EXPECT_FALSE(both.empty());
        for (const std::string& secret :
             {std::string(server::kDemoMarkerPassword), sessionId, client.csrf,
              std::string("tallyport_session"), std::string("#include <stdio.h>"), content,
              std::string("secret remark"), std::string("/api/")})
            EXPECT_EQ(both.find(secret), std::string::npos) << secret;
    }
}

TEST(StaffListener, PlainHttpBeyondLoopbackIsRefusedAtStart) {
    TempDir dir;
    const auto refused =
        RunServerCommand(dir.path(), {"serve", "--db", "s.db", "--listen", "127.0.0.21:0",
                                      "--staff-listen", "0.0.0.0:0"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("reachable beyond this machine without TLS"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "s.db")); // refused before anything
    server::staff::StaffOptions options;
    options.address = "192.0.2.1";
    options.tlsCert = "cert.pem"; // without its key
    EXPECT_NE(server::staff::CheckStaffOptions(options), "");
    options.tlsCert.clear();
    EXPECT_NE(server::staff::CheckStaffOptions(options), "");
    options.insecure = true;
    EXPECT_EQ(server::staff::CheckStaffOptions(options), "");
    options.insecure = false;
    options.address = "::1";
    EXPECT_EQ(server::staff::CheckStaffOptions(options), "");
}

} // namespace
} // namespace tallyport::test
