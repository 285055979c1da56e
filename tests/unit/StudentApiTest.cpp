// The student pages' API against the real web listener on loopback, beside the student protocol's
// listener on the same database: accounts held to the desktop dialogs' rules and opening the
// desktop client too, sessions apart from the markers', uploads stored as the protocol stores
// them and read back through it, receipts, another student's work kept out of sight, marked work
// only once released, and exam files.
#include "ServerTestHelpers.h"
#include "StaffClient.h"
#include "course/Demo.h"
#include "exam/ExamSelector.h"
#include "submission/SubmissionPackage.h"
#include "support/HttpClient.h"
#include "support/InProcessServer.h"
#include "support/SelfSignedCertificate.h"
#include "support/TempDir.h"
#include "web/LoginThrottle.h"
#include "web/MarkerPassword.h"
#include "web/StaffServer.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace tallyport::test {
namespace {

using nlohmann::json;
using server::kDemoCourse;
using server::kDemoStudent;

constexpr const char* kAddress = "127.0.0.57";
const std::string kDemoPassword(server::kDemoPassword);

struct StudentReply {
    int status = 0;
    json body;
    std::string raw; // the body's bytes
    server::staff::HttpHeaders headers;

    std::string Header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

// A browser-like client of the student routes: keeps the session cookie and CSRF token.
class StudentClient {
public:
    // `caCertificate`: TLS checked against it, as HttpClient takes it.
    StudentClient(const std::string& address, uint16_t port, std::string caCertificate = {})
        : http_(address, port, std::move(caCertificate)) {}

    StudentReply Login(int32_t course, const std::string& student, const std::string& password) {
        StudentReply reply =
            Send("POST", "/api/student/login",
                 json{{"course", course}, {"student", student}, {"password", password}}.dump());
        if (reply.status == 200)
            Keep(reply);
        return reply;
    }

    // The cookie and token of a login or an update that opened a new session.
    void Keep(const StudentReply& reply) {
        const std::string setCookie = reply.Header("Set-Cookie");
        cookie = setCookie.substr(0, setCookie.find(';'));
        csrf = reply.body.value("csrfToken", "");
    }

    StudentReply Get(const std::string& path) { return Send("GET", path, ""); }
    StudentReply Send(const std::string& method, const std::string& path, const std::string& body,
                      const std::string& contentType = "application/json",
                      server::staff::HttpHeaders headers = {}) {
        if (!cookie.empty())
            headers.emplace("Cookie", cookie);
        if (!csrf.empty())
            headers.emplace("X-CSRF-Token", csrf);
        const auto result =
            http_.Send(method, path, headers, body, body.empty() ? "" : contentType);
        StudentReply reply;
        if (!result)
            return reply;
        reply.status = result->status;
        reply.headers = result->headers;
        reply.raw = result->body;
        reply.body = json::parse(result->body, nullptr, false);
        return reply;
    }
    StudentReply Upload(const std::string& key, const std::string& package) {
        return Send("POST", "/api/student/entries/" + key + "/submissions", package,
                    "application/octet-stream");
    }

    std::string cookie;
    std::string csrf;

private:
    HttpClient http_;
};

// A package exactly as the desktop client writes one.
std::string ClientPackage(const std::vector<SubmissionFile>& files) {
    SubmissionEntries entries(files.begin(), files.end());
    return PackageBytes(entries);
}

const std::string kMeanPy = "def mean(values):\r\n    return sum(values) / len(values)\r\n";
// SHA-256 of "abc", from the standard's own examples.
constexpr const char* kAbcSha256 =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class StudentApi : public ::testing::Test {
protected:
    void SetUp() override {
        protocol.LoadDemo();
        ASSERT_TRUE(
            protocol.store().AddMarker({"amiller", "Ann Miller", "Lecturer", true, {kDemoCourse}}));
        ASSERT_TRUE(protocol.store().SetMarkerPassword(
            "amiller", server::staff::HashMarkerPassword("admin-password").value()));
        StartWeb({});
        course = *protocol.store().FindCourse(kDemoCourse);
    }

    void StartWeb(server::staff::StaffOptions options) {
        web.reset();
        options.address = kAddress;
        options.port = 0;
        web = std::make_unique<server::staff::StaffServer>(protocol.store(), options);
        std::string error;
        ASSERT_TRUE(web->Start(error)) << error;
    }

    StudentClient Client() { return StudentClient(kAddress, web->port()); }

    StudentClient LoggedIn(const std::string& student = "123456",
                           const std::string& password = kDemoPassword) {
        StudentClient client = Client();
        EXPECT_EQ(client.Login(kDemoCourse, student, password).status, 200) << student;
        return client;
    }

    StaffClient Marker(const std::string& id = "amiller",
                       const std::string& password = "admin-password") {
        StaffClient client(kAddress, web->port());
        EXPECT_EQ(client.Login(id, password).status, 200) << id;
        return client;
    }

    StudentReply Register(int32_t courseNumber, const std::string& student,
                          const std::string& password, const std::string& name = "Web Student",
                          const std::string& email = "web@example.edu",
                          const std::string& questionnaire = "002") {
        return Client().Send("POST", "/api/student/register",
                             json{{"course", courseNumber},
                                  {"student", student},
                                  {"password", password},
                                  {"name", name},
                                  {"email", email},
                                  {"questionnaire", questionnaire}}
                                 .dump());
    }

    // The demo course's entry at `position`: its key in the routes.
    std::string Key(std::size_t position) const { return course.entries.at(position).key; }

    std::size_t StoredSubmissions() { return protocol.store().ListSubmissions().size(); }

    // What the desktop client's View downloads for the entry: the marked package, whose part
    // after its two record lines is the uploaded package while the work is not marked.
    std::string ProtocolPackage(int32_t student, const std::string& password, int32_t position) {
        auto reply =
            Exchange(protocol.endpoint(), MarkedRequest(kDemoCourse, student, password, position));
        if (!reply.reply)
            return {};
        reply.reply->ReadInt(); // the maximum mark
        const int32_t length = reply.reply->ReadInt();
        const std::string marked = Text(reply.reply->ReadBytes(length));
        const auto first = marked.find("\r\n");
        const auto second = marked.find("\r\n", first + 2);
        return second == std::string::npos ? std::string() : marked.substr(second + 2);
    }

    TempDir dir;
    InProcessServer protocol{dir.path(), kAddress};
    std::unique_ptr<server::staff::StaffServer> web;
    server::CourseDefinition course;
};

// Entries of the demo course the tests use.
constexpr std::size_t kMarkedAssignment = 0; // hello.c, marked 8 and released
constexpr std::size_t kClosedAssignment = 1;
constexpr std::size_t kSizeLimited = 2; // "M,c,h,txt,dat", size-limited
constexpr std::size_t kNotYetOpen = 3;
constexpr std::size_t kExam = 4;        // kind E, three files
constexpr std::size_t kDividedExam = 6; // kind D, four files
constexpr std::size_t kLateExam = 7;    // kind D, not yet open
constexpr std::size_t kLab = 8;         // "M,py,txt", open, not released
constexpr std::size_t kQuiz = 10;       // "F,txt", open

TEST_F(StudentApi, LoginOpensASessionAndLogoutEndsIt) {
    // The number as the desktop's main dialog reads it: six digits are normalised.
    for (const std::string typed : {"123456", " 100123456 ", "+123456"}) {
        StudentClient client = Client();
        const StudentReply reply = client.Login(kDemoCourse, typed, kDemoPassword);
        ASSERT_EQ(reply.status, 200) << typed << reply.raw;
        EXPECT_EQ(reply.body["student"], json({{"number", kDemoStudent},
                                               {"name", "Demo Student"},
                                               {"email", "demo@example.edu"},
                                               {"course", kDemoCourse}}));
        EXPECT_EQ(reply.body["csrfToken"].get<std::string>().size(), 64u);
        const std::string cookie = reply.Header("Set-Cookie");
        EXPECT_TRUE(cookie.starts_with("tallyport_student=")) << cookie;
        EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
        EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
        EXPECT_EQ(reply.Header("Cache-Control"), "no-store");
        const StudentReply session = client.Get("/api/student/session");
        EXPECT_EQ(session.status, 200);
        EXPECT_EQ(session.body, reply.body);
    }

    StudentClient client = LoggedIn();
    EXPECT_EQ(client.Send("POST", "/api/student/logout", "{}").status, 200);
    EXPECT_EQ(client.Get("/api/student/session").status, 401);
    EXPECT_EQ(client.Get("/api/student/course").status, 401);

    const struct {
        const char* student;
        const char* password;
        int status;
        const char* error;
    } refused[] = {
        {"123456", "wrong", 401, "wrong student number or password"},
        {"654321", "demo123", 401, "wrong student number or password"},  // not registered
        {"123456", "demo123 ", 401, "wrong student number or password"}, // sent untrimmed
        {"12345x", "demo123", 422, "Enter an integer."},
        {"99999", "demo123", 422, "Enter an integer between 100000 and 999999999."},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.student);
        StudentClient guesser(kAddress, web->port());
        const StudentReply reply = guesser.Login(kDemoCourse, c.student, c.password);
        EXPECT_EQ(reply.status, c.status) << reply.raw;
        EXPECT_EQ(reply.body.value("error", ""), c.error);
        EXPECT_TRUE(reply.Header("Set-Cookie").empty());
    }
}

TEST_F(StudentApi, FailedLoginsSlowTheStudentButNotTheMarkers) {
    StudentClient client = Client();
    for (int i = 0; i < server::staff::LoginThrottle::kFreeFailures; ++i)
        EXPECT_EQ(client.Login(kDemoCourse, "123456", "guess" + std::to_string(i)).status, 401);
    const StudentReply slowed = client.Login(kDemoCourse, "123456", kDemoPassword);
    EXPECT_EQ(slowed.status, 429);
    EXPECT_EQ(slowed.Header("Retry-After"), "1");
    // The markers' login keeps its own count: the same address is not slowed there.
    Marker();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(client.Login(kDemoCourse, "123456", kDemoPassword).status, 200);
}

TEST_F(StudentApi, MarkerAndStudentSessionsOpenOnlyTheirOwnSide) {
    StudentClient student = LoggedIn();
    StaffClient marker = Marker();
    const std::string studentId = student.cookie.substr(student.cookie.find('=') + 1);
    const std::string markerId = marker.cookie.substr(marker.cookie.find('=') + 1);

    StudentClient markerAsStudent = Client();
    for (const std::string& cookie :
         {marker.cookie, "tallyport_student=" + markerId}) { // the marker's id under our name
        markerAsStudent.cookie = cookie;
        markerAsStudent.csrf = marker.csrf;
        EXPECT_EQ(markerAsStudent.Get("/api/student/session").status, 401) << cookie;
        EXPECT_EQ(markerAsStudent.Get("/api/student/course").status, 401) << cookie;
        EXPECT_EQ(markerAsStudent
                      .Upload(Key(kLab),
                              ClientPackage({{"a.py", ContentKind::Normalised, "pass\r\n", 4}}))
                      .status,
                  401)
            << cookie;
    }
    StaffClient studentAsMarker(kAddress, web->port());
    for (const std::string& cookie : {student.cookie, "tallyport_session=" + studentId}) {
        studentAsMarker.cookie = cookie;
        studentAsMarker.csrf = student.csrf;
        EXPECT_EQ(studentAsMarker.Get("/api/session").status, 401) << cookie;
        EXPECT_EQ(studentAsMarker.Get("/api/submissions/1").status, 401) << cookie;
        EXPECT_EQ(studentAsMarker.Get("/api/courses").status, 401) << cookie;
    }
    EXPECT_EQ(StoredSubmissions(), 3u);
}

TEST_F(StudentApi, RegistrationKeepsTheDesktopsFieldRulesAndTexts) {
    const std::string good = "good-pw1";
    const struct {
        const char* what;
        int32_t course;
        std::string student, password, name, email, questionnaire;
        const char* field;
        const char* error;
    } refused[] = {
        {"short password", kDemoCourse, "700001", "ab", "N", "e@x", "002", "password",
         "Password must contain at least 3 characters"},
        {"long password", kDemoCourse, "700001", std::string(21, 'p'), "N", "e@x", "002",
         "password", "Password must contain at most 20 characters"},
        {"blank in password", kDemoCourse, "700001", "ab cd", "N", "e@x", "002", "password",
         "Password must consist only of alphanumeric and  punctuation characters"},
        {"comma in password", kDemoCourse, "700001", "ab,cd", "N", "e@x", "002", "password",
         "Password must not contain any commas (,)"},
        {"no letter or digit", kDemoCourse, "700001", "!?!", "N", "e@x", "002", "password",
         "Password must contain something"},
        {"password first", kDemoCourse, "700001", "ab", "", "", "002", "password",
         "Password must contain at least 3 characters"},
        {"empty name", kDemoCourse, "700001", good, "", "e@x", "002", "name",
         "Name must contain at least 1 characters"},
        {"blank name", kDemoCourse, "700001", good, "   ", "e@x", "002", "name",
         "Name must contain at least 1 characters"},
        {"long name", kDemoCourse, "700001", good, std::string(36, 'n'), "e@x", "002", "name",
         "Name must contain at most 35 characters"},
        {"accented name", kDemoCourse, "700001", good, "Zo\u00eb", "e@x", "002", "name",
         "Name must consist only of alphanumeric and  punctuation characters"},
        {"comma in name", kDemoCourse, "700001", good, "Lee, Ann", "e@x", "002", "name",
         "Name must not contain any commas (,)"},
        {"blank in e-mail", kDemoCourse, "700001", good, "N", "a b@x", "002", "email",
         "E-mail address must consist only of alphanumeric and  punctuation characters"},
        {"long e-mail", kDemoCourse, "700001", good, "N", std::string(101, 'e'), "002", "email",
         "E-mail address must contain at most 100 characters"},
        {"not a number", kDemoCourse, "70000a", good, "N", "e@x", "002", "student",
         "Enter an integer."},
        {"too short a number", kDemoCourse, "99999", good, "N", "e@x", "002", "student",
         "Enter an integer between 100000 and 999999999."},
        {"attempts not a digit", server::kQuestionnaireCourse, "700001", good, "N", "e@x", "x02",
         "questionnaire", "Enter an integer."},
        {"no such experience", server::kQuestionnaireCourse, "700001", good, "N", "e@x", "052",
         "questionnaire", "Please select a response from the list."},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        const StudentReply reply =
            Register(c.course, c.student, c.password, c.name, c.email, c.questionnaire);
        EXPECT_EQ(reply.status, 422) << reply.raw;
        EXPECT_EQ(reply.body.value("error", ""), c.error);
        EXPECT_EQ(reply.body.value("field", ""), c.field);
        EXPECT_FALSE(protocol.store().FindStudent(c.course, 100700001));
    }

    StudentReply reply = Register(kDemoCourse, "123456", good);
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.body.value("error", ""),
              "An account already exists for this student number.\nPlease contact your "
              "instructor if you are having difficulties.");
    EXPECT_EQ(Register(9999, "700001", good).status, 404);

    // Fields are trimmed as the dialog trims them; the questionnaire is kept where it is asked.
    reply = Register(server::kQuestionnaireCourse, "700001", "  good-pw1 ", " Ann Lee ", "ann@x",
                     "131");
    ASSERT_EQ(reply.status, 201) << reply.raw;
    EXPECT_EQ(reply.body, json({{"student", 100700001}}));
    const auto stored = protocol.store().FindStudent(server::kQuestionnaireCourse, 100700001);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->name, "Ann Lee");
    EXPECT_EQ(stored->questionnaire, "131");
    EXPECT_EQ(stored->passwordHash, HashPassword("good-pw1"));
}

TEST_F(StudentApi, ACourseWithAClassListRegistersOnlyItsStudents) {
    ASSERT_TRUE(protocol.store().ReplaceClassList(
        kDemoCourse, {{100700001, "Listed One", "one@x"}, {100123456, "Demo", "demo@x"}}));
    const StudentReply refused = Register(kDemoCourse, "700002", "good-pw1");
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body.value("error", ""),
              "Your student number is incorrect or you haven't registered.");
    EXPECT_FALSE(protocol.store().FindStudent(kDemoCourse, 100700002));
    EXPECT_EQ(Register(kDemoCourse, "700001", "good-pw1").status, 201);
}

// Registered on the pages, the account opens the desktop client: its Update Info check and an
// upload through the protocol take the same password.
TEST_F(StudentApi, AnAccountMadeOnThePagesOpensTheDesktopClient) {
    ASSERT_EQ(Register(kDemoCourse, "654321", "Web-pass1", "Web Student", "web@example.edu").status,
              201);
    auto verified =
        Exchange(protocol.endpoint(), StudentVerification(kDemoCourse, 654321, "Web-pass1"));
    ASSERT_EQ(verified.status, 0);
    NetMessage& record = *verified.reply;
    EXPECT_EQ(record.ReadString(), "Web Student");
    EXPECT_EQ(record.ReadString(), "web@example.edu");
    EXPECT_EQ(
        Exchange(protocol.endpoint(), StudentVerification(kDemoCourse, 654321, "web-pass1")).status,
        status::kWrongPassword);
    const std::string package = ClientPackage({{"notes.txt", ContentKind::Ascii, "abc", 8}});
    const auto uploaded = Exchange(
        protocol.endpoint(), Upload(kDemoCourse, 654321, "Web-pass1", int32_t(kQuiz), package));
    ASSERT_EQ(uploaded.status, 0);

    // And the pages show that upload as the student's own.
    StudentClient client = LoggedIn("654321", "Web-pass1");
    const StudentReply listing = client.Get("/api/student/course");
    ASSERT_EQ(listing.status, 200);
    const json& quiz = listing.body["entries"][kQuiz];
    EXPECT_EQ(quiz["key"], Key(kQuiz));
    ASSERT_EQ(quiz["submissions"].size(), 1u);
    EXPECT_EQ(quiz["submissions"][0]["files"], json::parse(R"([{"name":"notes.txt","size":3}])"));
}

TEST_F(StudentApi, AnUpdateNeedsTheCurrentPasswordAndEndsOlderSessions) {
    StudentClient client = LoggedIn();
    StudentClient elsewhere = LoggedIn();
    const json change = {{"currentPassword", kDemoPassword},
                         {"password", "new-pass2"},
                         {"name", "Demo Renamed"},
                         {"email", "renamed@example.edu"}};

    json wrong = change;
    wrong["currentPassword"] = "not-it";
    StudentReply reply = client.Send("PUT", "/api/student/account", wrong.dump());
    EXPECT_EQ(reply.status, 401);
    EXPECT_EQ(reply.body.value("error", ""), "Your password is incorrect.");
    json badName = change;
    badName["name"] = "Demo, Renamed";
    reply = client.Send("PUT", "/api/student/account", badName.dump());
    EXPECT_EQ(reply.status, 422);
    EXPECT_EQ(reply.body.value("field", ""), "name");
    const std::string token = client.csrf;
    client.csrf.clear();
    EXPECT_EQ(client.Send("PUT", "/api/student/account", change.dump()).status, 403);
    client.csrf = token;
    EXPECT_EQ(protocol.store().FindStudent(kDemoCourse, kDemoStudent)->name, "Demo Student");

    reply = client.Send("PUT", "/api/student/account", change.dump());
    ASSERT_EQ(reply.status, 200) << reply.raw;
    EXPECT_EQ(reply.body["student"]["name"], "Demo Renamed");
    EXPECT_EQ(elsewhere.Get("/api/student/session").status, 401) << "opened with the old password";
    EXPECT_EQ(client.Get("/api/student/session").status, 401) << "replaced by the new session";
    client.Keep(reply);
    EXPECT_EQ(client.Get("/api/student/session").status, 200);

    EXPECT_EQ(
        Exchange(protocol.endpoint(), StudentVerification(kDemoCourse, kDemoStudent, "new-pass2"))
            .status,
        0);
    EXPECT_EQ(Client().Login(kDemoCourse, "123456", kDemoPassword).status, 401);
}

TEST_F(StudentApi, AnUploadIsStoredAsTheDesktopClientsAndReadBackByIt) {
    StudentClient client = LoggedIn();
    const std::string package = ClientPackage({{"mean.py", ContentKind::Normalised, kMeanPy, 4},
                                               {"notes.txt", ContentKind::Ascii, "abc", 8}});
    const StudentReply reply = client.Upload(Key(kLab), package);
    ASSERT_EQ(reply.status, 201) << reply.raw;
    const int32_t serial = reply.body["serial"];
    EXPECT_EQ(reply.body["late"], false);
    ASSERT_EQ(reply.body["files"].size(), 2u);
    EXPECT_EQ(reply.body["files"][0]["name"], "mean.py");
    EXPECT_EQ(reply.body["files"][0]["size"], kMeanPy.size());
    EXPECT_EQ(reply.body["files"][0]["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(reply.body["files"][1],
              json({{"name", "notes.txt"}, {"size", 3}, {"sha256", kAbcSha256}}));
    const std::string time = reply.body["time"];
    EXPECT_TRUE(time.size() == 20 && time.ends_with('Z')) << time;

    // The protocol's View gets the very bytes back, and the receipt can be fetched again.
    EXPECT_EQ(ProtocolPackage(kDemoStudent, kDemoPassword, int32_t(kLab)), package);
    EXPECT_EQ(*protocol.store().PackageBytes(serial), package);
    const StudentReply receipt = client.Get("/api/student/submissions/" + std::to_string(serial));
    EXPECT_EQ(receipt.status, 200);
    EXPECT_EQ(receipt.body, reply.body);

    const StudentReply listing = client.Get("/api/student/course");
    ASSERT_EQ(listing.status, 200);
    const json& lab = listing.body["entries"][kLab];
    EXPECT_EQ(lab["open"], true);
    ASSERT_EQ(lab["submissions"].size(), 1u);
    EXPECT_EQ(lab["submissions"][0]["serial"], serial);
    EXPECT_EQ(lab["submissions"][0]["time"], time);
}

TEST_F(StudentApi, UploadsBreakingARuleStoreNothing) {
    StudentClient client = LoggedIn();
    const struct {
        const char* what;
        std::size_t entry;
        std::string package;
        int status;
        const char* error; // the start of the reason
    } refused[] = {
        {"a type the quiz does not take", kQuiz,
         ClientPackage({{"quiz.c", ContentKind::Normalised, "int x;\r\n", 4}}), 422,
         "upload breaks the entry's file rules: "},
        {"two files for one", kQuiz,
         ClientPackage(
             {{"a.txt", ContentKind::Ascii, "a", 8}, {"b.txt", ContentKind::Ascii, "b", 8}}),
         422, "upload breaks the entry's file rules: entry takes exactly one file"},
        {"over the size limit", kSizeLimited,
         ClientPackage({{"big.txt", ContentKind::Ascii, std::string(1 << 20, 'x'), 8}}), 422,
         "upload breaks the entry's file rules: package of"},
        {"not a package", kQuiz, "Number of Files: 2\r\n", 422, "package refused: "},
        {"deadline passed", kClosedAssignment,
         ClientPackage({{"main.c", ContentKind::Normalised, "x", 4}}), 409,
         "The deadline for that assignment has passed."},
        {"not yet open", kNotYetOpen, ClientPackage({{"A.java", ContentKind::Normalised, "x", 2}}),
         409, "The assignment is not yet available for submission."},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        const StudentReply reply = client.Upload(Key(c.entry), c.package);
        EXPECT_EQ(reply.status, c.status) << reply.raw;
        EXPECT_TRUE(reply.body.value("error", "").starts_with(c.error)) << reply.raw;
    }
    EXPECT_EQ(client.Upload("no-such-entry", ClientPackage({})).status, 404);
    EXPECT_EQ(StoredSubmissions(), 3u);
}

TEST_F(StudentApi, UploadsAreCappedAsTheProtocolsNotAsJsonBodies) {
    server::staff::StaffOptions options;
    options.bodyCap = 1000; // the JSON routes' cap
    options.uploadCap = 20'000;
    StartWeb(options);
    StudentClient client = LoggedIn();
    const auto fits =
        ClientPackage({{"notes.txt", ContentKind::Ascii, std::string(10'000, 'a'), 8}});
    EXPECT_EQ(client.Upload(Key(kQuiz), fits).status, 201);
    // A body announced over the cap is answered before a byte of it is sent.
    RawConnection over({kAddress, web->port()});
    over.Send("POST /api/student/entries/" + Key(kQuiz) +
              "/submissions HTTP/1.1\r\nHost: x\r\nCookie: " + client.cookie +
              "\r\nX-CSRF-Token: " + client.csrf +
              "\r\nContent-Type: application/octet-stream\r\nContent-Length: 20001\r\n\r\n");
    const std::string refused = over.ReceiveAll(20'000);
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 413")) << refused;
    EXPECT_NE(refused.find("larger than 20000 bytes"), std::string::npos) << refused;
    EXPECT_EQ(StoredSubmissions(), 4u);
}

// A slow link: an upload lives as long as its bytes keep coming, however long the whole takes,
// and one that stalls is dropped with nothing stored.
TEST_F(StudentApi, AnUploadLivesWhileItsBytesKeepComing) {
    server::staff::StaffOptions options;
    options.readTimeout = std::chrono::seconds(1);
    StartWeb(options);
    StudentClient client = LoggedIn();
    const std::string package =
        ClientPackage({{"notes.txt", ContentKind::Ascii, std::string(3000, 'a'), 8}});
    const std::string head =
        "POST /api/student/entries/" + Key(kQuiz) +
        "/submissions HTTP/1.1\r\nHost: x\r\nConnection: close\r\nCookie: " + client.cookie +
        "\r\nX-CSRF-Token: " + client.csrf +
        "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
        std::to_string(package.size()) + "\r\n\r\n";
    RawConnection slow({kAddress, web->port()});
    ASSERT_TRUE(slow.Send(head));
    const std::size_t third = package.size() / 3;
    for (std::size_t at = 0; at < package.size(); at += third) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600)); // past the timeout in all
        ASSERT_TRUE(slow.Send(std::string_view(package).substr(at, third)));
    }
    const std::string answer = slow.ReceiveAll(20'000);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 201")) << answer;

    RawConnection stalled({kAddress, web->port()});
    ASSERT_TRUE(stalled.Send(head + package.substr(0, third)));
    EXPECT_EQ(stalled.ReceiveAll(20'000), "");
    EXPECT_FALSE(stalled.timedOut()) << "the server closed it";
    EXPECT_EQ(StoredSubmissions(), 4u);
}

// An upload's body is read to its exact length however it arrives: a request sent right behind
// it on the same connection is answered next, and a chunked body is stored the same.
TEST_F(StudentApi, AnUploadEndsExactlyWhereItsBodyEnds) {
    StudentClient client = LoggedIn();
    const std::string package = ClientPackage(
        {{"notes.txt", ContentKind::Ascii, std::string(300'000, 'a') + "end", 8}});
    // Small enough to come in with its head, and the next request with it.
    const std::string small = ClientPackage({{"notes.txt", ContentKind::Ascii, "abc", 8}});
    const std::string head = "POST /api/student/entries/" + Key(kQuiz) +
                             "/submissions HTTP/1.1\r\nHost: x\r\nCookie: " + client.cookie +
                             "\r\nX-CSRF-Token: " + client.csrf +
                             "\r\nContent-Type: application/octet-stream\r\n";
    const std::string next = "GET /api/student/course HTTP/1.1\r\nHost: x\r\nCookie: " +
                             client.cookie + "\r\nConnection: close\r\n\r\n";
    std::ostringstream chunked;
    chunked << std::hex << package.size() << "\r\n" << package << "\r\n0\r\n\r\n";
    const auto withLength = [&](const std::string& body) {
        return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const struct {
        const char* what;
        std::string request;
        const std::string& package;
    } cases[] = {
        {"length given", withLength(package), package},
        {"small, with its head", withLength(small), small},
        {"chunked", head + "Transfer-Encoding: chunked\r\n\r\n" + chunked.str(), package},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t before = StoredSubmissions();
        RawConnection connection({kAddress, web->port()});
        ASSERT_TRUE(connection.Send(c.request + next));
        const std::string answers = connection.ReceiveAll(20'000);
        EXPECT_TRUE(answers.starts_with("HTTP/1.1 201")) << answers.substr(0, 300);
        const auto second = answers.find("HTTP/1.1 ", 1);
        ASSERT_NE(second, std::string::npos) << answers.substr(0, 300);
        EXPECT_TRUE(answers.substr(second).starts_with("HTTP/1.1 200")) << answers.substr(second);
        ASSERT_EQ(StoredSubmissions(), before + 1);
        const int32_t serial = protocol.store().ListSubmissions().back().serial;
        EXPECT_EQ(*protocol.store().PackageBytes(serial), c.package);
    }
}

// Over TLS the body comes in records: it is still read whole, into the store as sent.
TEST_F(StudentApi, AnUploadOverTlsIsStoredWhole) {
    const auto files = WriteSelfSignedCertificate(dir.path(), kAddress);
    server::staff::StaffOptions options;
    options.tlsCert = files.certificate.string();
    options.tlsKey = files.key.string();
    StartWeb(options);
    StudentClient client(kAddress, web->port(), files.certificate.string());
    ASSERT_EQ(client.Login(kDemoCourse, "123456", kDemoPassword).status, 200);
    std::string content;
    for (int i = 0; content.size() < 500'000; ++i)
        content += std::to_string(i * 7919) + ' ';
    const std::string package = ClientPackage({{"notes.txt", ContentKind::Ascii, content, 8}});
    const StudentReply reply = client.Upload(Key(kQuiz), package);
    ASSERT_EQ(reply.status, 201) << reply.raw;
    EXPECT_EQ(*protocol.store().PackageBytes(reply.body["serial"]), package);
}

TEST_F(StudentApi, OnlyTheUploadTakesRawBytesAndEveryChangeNeedsTheToken) {
    StudentClient client = LoggedIn();
    const std::string package = ClientPackage({{"notes.txt", ContentKind::Ascii, "abc", 8}});
    const std::string own = "http://" + std::string(kAddress) + ":" + std::to_string(web->port());
    const struct {
        const char* what;
        std::string method, path, body, contentType;
        server::staff::HttpHeaders headers;
        bool withToken;
        int status;
    } cases[] = {
        {"upload without the token",
         "POST",
         "/api/student/entries/" + Key(kQuiz) + "/submissions",
         package,
         "application/octet-stream",
         {},
         false,
         403},
        {"upload from another site",
         "POST",
         "/api/student/entries/" + Key(kQuiz) + "/submissions",
         package,
         "application/octet-stream",
         {{"Origin", "http://evil.example"}},
         true,
         403},
        {"upload as a form",
         "POST",
         "/api/student/entries/" + Key(kQuiz) + "/submissions",
         package,
         "text/plain",
         {},
         true,
         415},
        {"upload as JSON",
         "POST",
         "/api/student/entries/" + Key(kQuiz) + "/submissions",
         package,
         "application/json",
         {},
         true,
         415},
        {"raw bytes to the student login",
         "POST",
         "/api/student/login",
         "{}",
         "application/octet-stream",
         {},
         true,
         415},
        {"raw bytes to the account",
         "PUT",
         "/api/student/account",
         "{}",
         "application/octet-stream",
         {},
         true,
         415},
        {"raw bytes to the staff login",
         "POST",
         "/api/login",
         "{}",
         "application/octet-stream",
         {},
         true,
         415},
        {"raw bytes to a marking",
         "PUT",
         "/api/submissions/1/marking",
         "{}",
         "application/octet-stream",
         {},
         true,
         415},
        {"logout without the token",
         "POST",
         "/api/student/logout",
         "{}",
         "application/json",
         {},
         false,
         403},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string token = client.csrf;
        if (!c.withToken)
            client.csrf.clear();
        EXPECT_EQ(client.Send(c.method, c.path, c.body, c.contentType, c.headers).status, c.status);
        client.csrf = token;
    }
    EXPECT_EQ(StoredSubmissions(), 3u);
    EXPECT_EQ(client.Get("/api/student/session").status, 200) << "still logged in";
    // The page's own upload: same origin, token, raw bytes.
    EXPECT_EQ(client
                  .Send("POST", "/api/student/entries/" + Key(kQuiz) + "/submissions", package,
                        "application/octet-stream",
                        {{"Origin", own}, {"Sec-Fetch-Site", "same-origin"}})
                  .status,
              201);
}

TEST_F(StudentApi, AStudentSeesOnlyTheirOwnWork) {
    ASSERT_EQ(Register(kDemoCourse, "654321", "Other-pw1").status, 201);
    StudentClient other = LoggedIn("654321", "Other-pw1");
    StudentClient demo = LoggedIn();
    const StudentReply own =
        other.Upload(Key(kQuiz), ClientPackage({{"mine.txt", ContentKind::Ascii, "mine", 8}}));
    ASSERT_EQ(own.status, 201);

    // The demo student's serials 1-3 and the other's: each sees only their own.
    const StudentReply missing = other.Get("/api/student/submissions/999999");
    EXPECT_EQ(missing.status, 404);
    for (const int serial : {1, 2, 3}) {
        const StudentReply foreign =
            other.Get("/api/student/submissions/" + std::to_string(serial));
        EXPECT_EQ(foreign.status, 404);
        EXPECT_EQ(foreign.raw, missing.raw) << serial;
        EXPECT_EQ(demo.Get("/api/student/submissions/" + std::to_string(serial)).status, 200);
    }
    const StudentReply theirs = demo.Get("/api/student/submissions/" + own.body["serial"].dump());
    EXPECT_EQ(theirs.status, 404);
    EXPECT_EQ(theirs.raw, missing.raw);

    // The other student's course shows none of the demo student's work, nor their marks.
    const StudentReply listing = other.Get("/api/student/course");
    ASSERT_EQ(listing.status, 200);
    for (const json& entry : listing.body["entries"])
        EXPECT_EQ(entry["submissions"].size(), entry["key"] == Key(kQuiz) ? 1u : 0u)
            << entry["key"];
    EXPECT_EQ(other.Get("/api/student/entries/" + Key(kMarkedAssignment) + "/marked").status, 404);
}

// Marked work is the staff API's JSON of the submission, once its marks are released.
TEST_F(StudentApi, MarkedWorkIsShownOnlyOnceReleased) {
    StaffClient marker = Marker();
    StudentClient client = LoggedIn();
    const StudentReply released =
        client.Get("/api/student/entries/" + Key(kMarkedAssignment) + "/marked");
    ASSERT_EQ(released.status, 200) << released.raw;
    json shown = released.body;
    EXPECT_EQ(shown["marker"], json({{"id", "tjones"},
                                     {"name", "Terry Jones"},
                                     {"info", "Teaching assistant, Monday labs"}}));
    shown.erase("marker");
    EXPECT_EQ(shown, marker.Get("/api/submissions/1").body);
    EXPECT_EQ(shown["marking"]["mark"], 8);

    // A new upload to an unreleased entry, marked by staff: refused until the release.
    const std::string marked = "/api/student/entries/" + Key(kLab) + "/marked";
    ASSERT_EQ(
        client.Upload(Key(kLab), ClientPackage({{"mean.py", ContentKind::Normalised, kMeanPy, 4}}))
            .status,
        201);
    StudentReply reply = client.Get(marked);
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.body.value("error", ""), "Marks for this entry have not been released yet.");
    ASSERT_EQ(protocol.store().MarkLatest(
                  {kDemoCourse, kDemoStudent, course.entries[kLab].id, 4, "amiller", "Fine", {}}),
              server::MarkOutcome::Marked);
    EXPECT_EQ(client.Get(marked).status, 409);
    ASSERT_EQ(marker
                  .Send("POST", "/api/courses/3101/entries/" + Key(kLab) + "/release",
                        R"({"force": true})")
                  .status,
              200);
    reply = client.Get(marked);
    ASSERT_EQ(reply.status, 200) << reply.raw;
    EXPECT_EQ(reply.body["marking"]["mark"], 4);
    EXPECT_EQ(reply.body["marker"]["name"], "Ann Miller");
    EXPECT_EQ(reply.body["files"][0]["name"], "mean.py");
    reply.body.erase("marker");
    EXPECT_EQ(reply.body, marker.Get("/api/submissions/" + reply.body["serial"].dump()).body);
    // Not released: refused whatever is stored.
    EXPECT_EQ(client.Get("/api/student/entries/" + Key(kClosedAssignment) + "/marked").status, 409);
    EXPECT_EQ(client.Get("/api/student/entries/" + Key(kQuiz) + "/marked").status, 409);
}

// Exam files are those the protocol's exam download hands this student, as the desktop client
// keeps them (one half of a divided exam).
TEST_F(StudentApi, ExamFilesAreThoseTheDesktopClientWouldKeep) {
    StudentClient client = LoggedIn();
    for (const std::size_t position : {kExam, kDividedExam}) {
        SCOPED_TRACE(position);
        auto reply = Exchange(protocol.endpoint(), ExamRequest(kDemoCourse, kDemoStudent,
                                                               kDemoPassword, int32_t(position)));
        ASSERT_EQ(reply.status, 0);
        NetMessage& exam = *reply.reply;
        const int32_t selector = exam.ReadInt();
        const int32_t count = exam.ReadInt();
        const auto range = ChooseExamFiles(course.entries[position].kind, selector, count);
        ASSERT_TRUE(range);
        std::vector<std::pair<std::string, std::string>> expected;
        for (int32_t i = 0; i < count; ++i) {
            std::string name(exam.ReadString());
            std::string bytes = Text(exam.ReadBytes(exam.ReadInt()));
            if (range->Contains(i))
                expected.emplace_back(std::move(name), std::move(bytes));
        }
        if (position == kExam)
            EXPECT_EQ(expected.size(), std::size_t(count));
        else
            EXPECT_EQ(expected.size(), std::size_t(count) / 2) << "one half";

        const std::string base = "/api/student/entries/" + Key(position) + "/exam";
        const StudentReply list = client.Get(base);
        ASSERT_EQ(list.status, 200) << list.raw;
        ASSERT_EQ(list.body["files"].size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(list.body["files"][i]["name"], expected[i].first);
            EXPECT_EQ(list.body["files"][i]["size"], expected[i].second.size());
            const StudentReply file = client.Get(base + "/" + std::to_string(i));
            EXPECT_EQ(file.status, 200);
            EXPECT_EQ(file.raw, expected[i].second);
            EXPECT_TRUE(file.Header("Content-Disposition").starts_with("attachment; filename="));
        }
        EXPECT_EQ(client.Get(base + "/" + std::to_string(expected.size())).status, 404);
    }
    const StudentReply listing = client.Get("/api/student/course");
    for (std::size_t i = 0; i < course.entries.size(); ++i)
        EXPECT_EQ(listing.body["entries"][i]["hasExam"], i == kExam || i == kDividedExam) << i;
    EXPECT_EQ(client.Get("/api/student/entries/" + Key(kLateExam) + "/exam").status, 409);
    EXPECT_EQ(client.Get("/api/student/entries/" + Key(kLab) + "/exam").status, 404);
}

} // namespace
} // namespace tallyport::test
