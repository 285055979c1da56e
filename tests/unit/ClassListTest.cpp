// Class lists against the real server: registration through the student protocol with and
// without a list, the staff API's list of a course's students, one-time passwords given through
// the API and used through the protocol, and the `roster` commands of the built program.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"
#include "StaffClient.h"

#include "accounts/FieldRules.h"
#include "common/OneTimePassword.h"
#include "course/Demo.h"
#include "store/Schema.h"
#include "store/Sqlite.h"
#include "support/InProcessServer.h"
#include "support/TempDir.h"
#include "web/MarkerPassword.h"
#include "web/StaffServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace tallyport::test {
namespace {

using nlohmann::json;
using server::kDemoCourse;
using server::kDemoStudent;
using server::kQuestionnaireCourse;

constexpr const char* kAddress = "127.0.0.23";

class ClassList : public ::testing::Test {
protected:
    void SetUp() override {
        student.LoadDemo();
        AddMarker("amiller", "admin-pw", true, {kDemoCourse});
        AddMarker("qlee", "quiz-pw", true, {kQuestionnaireCourse});
        server::staff::StaffOptions options;
        options.address = kAddress;
        options.port = 0;
        staff = std::make_unique<server::staff::StaffServer>(student.store(), options);
        std::string error;
        ASSERT_TRUE(staff->Start(error)) << error;
    }

    void AddMarker(const std::string& id, const std::string& password, bool admin,
                   std::vector<int32_t> courses) {
        ASSERT_TRUE(student.store().AddMarker({id, id, "TA", admin, std::move(courses)}));
        ASSERT_TRUE(student.store().SetMarkerPassword(
            id, server::staff::HashMarkerPassword(password).value()));
    }

    StaffClient LoggedIn(const std::string& id, const std::string& password) {
        StaffClient client(kAddress, staff->port());
        EXPECT_EQ(client.Login(id, password).status, 200);
        return client;
    }

    StatusCode Send(const NetMessage& request) {
        return Exchange(student.endpoint(), request).status;
    }

    StatusCode Register(int32_t course, int32_t number) {
        return Send(Registration(course, number, "pw1234", "N", "n@x", "002"));
    }

    TempDir dir;
    InProcessServer student{dir.path(), kAddress};
    std::unique_ptr<server::staff::StaffServer> staff;
};

TEST_F(ClassList, OnceACourseHasAListOnlyItsNumbersRegister) {
    // Without a list any number registers, as before.
    EXPECT_EQ(Register(kDemoCourse, 100000001), status::kSuccess);

    ASSERT_TRUE(student.store().ReplaceClassList(
        kDemoCourse, {{100654321, "Zoë O’Brien", "zoe@example.org"}, {100000002, "B", "b@x"}}));
    const struct {
        const char* what;
        int32_t course, number;
        StatusCode verified, registered;
    } cases[] = {
        {"listed, typed short", kDemoCourse, 654321, status::kSuccess, status::kSuccess},
        {"listed, typed whole", kDemoCourse, 100000002, status::kSuccess, status::kSuccess},
        {"not listed", kDemoCourse, 100000003, status::kUnknownStudent, status::kUnknownStudent},
        {"registered before the list", kDemoCourse, 100000001, status::kAccountExists,
         status::kAccountExists},
        {"another course has no list", kQuestionnaireCourse, 100000003, status::kSuccess,
         status::kSuccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Send(AccountVerification(c.course, c.number)), c.verified);
        EXPECT_EQ(Register(c.course, c.number), c.registered);
    }
    EXPECT_FALSE(student.store().FindStudent(kDemoCourse, 100000003));
    EXPECT_TRUE(student.store().FindStudent(kDemoCourse, 100654321));
    // The client shows the usual words for the refusal.
    EXPECT_EQ(DescribeStatus(status::kUnknownStudent).text,
              "Your student number is incorrect or you haven't registered.");
    const auto refused = Exchange(
        student.endpoint(), Registration(kDemoCourse, 100000004, "pw1234", "N", "n@x", "002"));
    EXPECT_EQ(refused.reported, std::vector<StatusCode>{status::kUnknownStudent});
}

TEST_F(ClassList, ImportReplacesTheListAndCountsTheChanges) {
    auto& store = student.store();
    const auto first = store.ReplaceClassList(kDemoCourse, {{1, "A", "a@x"}, {2, "B", "b@x"}});
    ASSERT_TRUE(first);
    EXPECT_EQ(std::tie(first->added, first->changed, first->removed), std::tuple(2, 0, 0));
    const auto second =
        store.ReplaceClassList(kDemoCourse, {{2, "B", "new@x"}, {3, "C", "c@x"}, {4, "D", "d@x"}});
    ASSERT_TRUE(second);
    EXPECT_EQ(std::tie(second->added, second->changed, second->removed), std::tuple(2, 1, 1));
    EXPECT_EQ(store.ClassList(kDemoCourse).size(), 3u);
    EXPECT_TRUE(store.ClassList(kQuestionnaireCourse).empty());
    EXPECT_FALSE(store.ReplaceClassList(4242, {{1, "A", "a@x"}})) << "no such course";
    // Loading the course again keeps its list.
    ASSERT_TRUE(store.PutCourse(*store.FindCourse(kDemoCourse)));
    EXPECT_EQ(store.ClassList(kDemoCourse).size(), 3u);
}

TEST_F(ClassList, TheApiListsStudentsWithTheirSubmissionsPerEntry) {
    StaffClient marker =
        LoggedIn(std::string(server::kDemoMarker), std::string(server::kDemoMarkerPassword));
    const std::string path = "/api/courses/" + std::to_string(kDemoCourse) + "/students";

    // Each entry's count and latest serial, as the list of all submissions has them.
    const auto perEntry = [this] {
        std::map<int32_t, std::string> keys; // entry id -> key
        const auto course = student.store().FindCourse(kDemoCourse);
        for (const auto& entry : course->entries)
            keys[entry.id] = entry.key;
        std::map<int32_t, std::pair<int32_t, int32_t>> counts;
        for (const auto& s : student.store().ListSubmissions({kDemoCourse, kDemoStudent})) {
            auto& [count, latest] = counts[s.entry];
            ++count;
            latest = std::max(latest, s.serial);
        }
        json entries = json::array();
        for (const auto& [entry, c] : counts)
            entries.push_back(
                {{"entry", keys[entry]}, {"submissions", c.first}, {"latestSerial", c.second}});
        return entries;
    };

    // No list: the registered students, the demo one with its submissions (entries 0, 1, 9).
    Reply reply = marker.Get(path);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.body["classList"], false);
    ASSERT_EQ(reply.body["students"].size(), 1u);
    EXPECT_EQ(reply.body["students"][0]["number"], kDemoStudent);
    EXPECT_EQ(reply.body["students"][0]["registered"], true);
    EXPECT_EQ(reply.body["students"][0]["name"], "Demo Student");
    EXPECT_EQ(reply.body["students"][0]["entries"], perEntry());
    EXPECT_EQ(reply.body["students"][0]["entries"].size(), 3u);

    // Another submission for entry 0 and one for entry 4; then a list.
    server::NewSubmission again{kDemoCourse, kDemoStudent, 0, 1'700'000'000, "", {}, ""};
    const auto serial0 = student.store().AddSubmission(again);
    again.entry = 4;
    const auto serial4 = student.store().AddSubmission(again);
    ASSERT_TRUE(serial0 && serial4);
    ASSERT_TRUE(student.store().ReplaceClassList(
        kDemoCourse, {{kDemoStudent, "Zoë O’Brien", "zoe@example.org"}, {100000007, "Bo", "b@x"}}));

    // By number; the list's name and address in place of those given when registering.
    reply = marker.Get(path);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.body["classList"], true);
    const json entries = perEntry();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], json({{"entry", std::string("assignment-1")}, {"submissions", 2}, {"latestSerial", *serial0}}));
    EXPECT_EQ(entries[2], json({{"entry", std::string("lab-1-1")}, {"submissions", 1}, {"latestSerial", *serial4}}));
    const json expected = {{{"number", 100000007},
                            {"name", "Bo"},
                            {"email", "b@x"},
                            {"listed", true},
                            {"registered", false},
                            {"entries", json::array()}},
                           {{"number", kDemoStudent},
                            {"name", "Zoë O’Brien"},
                            {"email", "zoe@example.org"},
                            {"listed", true},
                            {"registered", true},
                            {"entries", entries}}};
    EXPECT_EQ(reply.body["students"], expected);
}

TEST_F(ClassList, MarkersOfOtherCoursesAndNonAdminsAreRefused) {
    const std::string course = "/api/courses/" + std::to_string(kDemoCourse);
    const std::string reset =
        course + "/students/" + std::to_string(kDemoStudent) + "/reset-password";
    const auto hashBefore = student.store().FindStudent(kDemoCourse, kDemoStudent)->passwordHash;

    StaffClient other = LoggedIn("qlee", "quiz-pw"); // an admin, but of another course
    EXPECT_EQ(other.Get(course + "/students").status, 403);
    EXPECT_EQ(other.Post(reset).status, 403);
    EXPECT_EQ(other.Get("/api/courses/4242/students").status, 403);
    StaffClient marker = LoggedIn(std::string(server::kDemoMarker),
                                  std::string(server::kDemoMarkerPassword)); // not an admin
    EXPECT_EQ(marker.Post(reset).status, 403);
    StaffClient nobody(kAddress, staff->port());
    EXPECT_EQ(nobody.Get(course + "/students").status, 401);
    StaffClient admin = LoggedIn("amiller", "admin-pw");
    admin.csrf.clear();
    EXPECT_EQ(admin.Post(reset).status, 403) << "a change needs the CSRF token";
    EXPECT_EQ(student.store().FindStudent(kDemoCourse, kDemoStudent)->passwordHash, hashBefore);

    admin = LoggedIn("amiller", "admin-pw");
    EXPECT_EQ(admin.Post(course + "/students/100000009/reset-password").status, 404)
        << "not registered";
}

TEST_F(ClassList, AResetPasswordLogsInOnceAndIsChangedWithUpdateInfo) {
    StaffClient admin = LoggedIn("amiller", "admin-pw");
    const std::string reset =
        "/api/courses/" + std::to_string(kDemoCourse) + "/students/123456" + "/reset-password";
    const Reply first = admin.Post(reset);
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(first.body["student"], kDemoStudent);
    std::string password = first.body["password"];
    // It passes the client's own rules for a password field, unchanged by them.
    std::string typed = password;
    EXPECT_FALSE(ValidateText(typed, 3, 20, "Password", false, false));
    EXPECT_EQ(typed, password);
    EXPECT_EQ(password.find_first_not_of(server::kOneTimeAlphabet), std::string::npos);

    EXPECT_EQ(Send(StudentVerification(kDemoCourse, kDemoStudent, "demo123")),
              status::kWrongPassword);
    EXPECT_EQ(Send(StudentVerification(kDemoCourse, 123456, password)), status::kSuccess);
    EXPECT_EQ(Send(AccountUpdate(kDemoCourse, kDemoStudent, password, "mine42", "Zoë", "z@x")),
              status::kSuccess);
    EXPECT_EQ(Send(StudentVerification(kDemoCourse, kDemoStudent, password)),
              status::kWrongPassword);
    EXPECT_EQ(Send(StudentVerification(kDemoCourse, kDemoStudent, "mine42")), status::kSuccess);

    const Reply second = admin.Post(reset);
    ASSERT_EQ(second.status, 200);
    EXPECT_NE(second.body["password"], first.body["password"]);
}

TEST_F(ClassList, OneTimePasswordsFollowTheClientsRules) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string password = server::NewOneTimePassword();
        ASSERT_EQ(password.size(), server::kOneTimeLength);
        EXPECT_EQ(password.find_first_not_of(server::kOneTimeAlphabet), std::string::npos);
        std::string typed = password;
        EXPECT_FALSE(ValidateText(typed, 3, 20, "Password", false, false)) << password;
        seen.insert(password);
    }
    EXPECT_EQ(seen.size(), 200u) << "8 of 31 characters do not repeat in 200 draws";
}

TEST(ClassListSchema, ADatabaseOfVersionThreeGetsClassListsAndKeepsItsAccounts) {
    TempDir dir;
    const auto file = dir.path() / "old.db";
    std::string error;
    {
        // The demo as a server of schema version 3 wrote it.
        std::ifstream in(std::string(TALLYPORT_TEST_DATA) + "/schema3-demo.sql");
        std::stringstream dump;
        dump << in.rdbuf();
        auto connection = server::sql::Connection::Open(file, error);
        ASSERT_TRUE(connection && connection->Execute(dump.str())) << error;
    }
    auto store = server::Store::Open(file, error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->FindStudent(kDemoCourse, kDemoStudent));
    EXPECT_TRUE(store->ReplaceClassList(kDemoCourse, {{kDemoStudent, "Z", "z@x"}}));
    auto connection = server::sql::Connection::Open(file, error);
    server::sql::Statement version(*connection, "PRAGMA user_version");
    ASSERT_TRUE(version.Step());
    EXPECT_EQ(version.Int(0), server::kSchemaVersion);
}

// The built program, as staff run it.
class RosterCommands : public ::testing::Test {
protected:
    CommandResult Run(const std::vector<std::string>& arguments) {
        return RunServerCommand(dir.path(), arguments);
    }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir.path() / name, std::ios::binary) << text;
    }

    std::vector<server::ClassListEntry> List() {
        std::string error;
        auto store = server::Store::Open(dir.path() / "c.db", error);
        return store ? store->ClassList(kDemoCourse) : std::vector<server::ClassListEntry>{};
    }

    TempDir dir;
};

TEST_F(RosterCommands, ImportShowAndResetPassword) {
    ASSERT_EQ(Run({"demo", "--db", "c.db"}).exitCode, 0);
    const std::string course = std::to_string(kDemoCourse);
    Write("list.csv", "\xEF\xBB\xBFnumber,name,e-mail\r\n123456,\"O’Brien, Zoë\",zoe@x\r\n"
                      "200,Bo,bo@x\r\n");
    auto result = Run({"roster", "import", "--db", "c.db", "--course", course, "list.csv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("2 students; 2 added, 0 changed, 0 removed"), std::string::npos)
        << result.out;

    Write("bad.csv", "number,name,e-mail\n123456,Zoë,zoe@x\n300,Cy\n");
    result = Run({"roster", "import", "--db", "c.db", "--course", course, "bad.csv"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("bad.csv: line 3: 2 columns"), std::string::npos) << result.err;
    EXPECT_EQ(List().size(), 2u) << "a refused file changes nothing";

    Write("next.csv", "number,name,e-mail\n123456,Zoë O’Brien,zoe@x\n300,Cy,cy@x\n");
    result = Run({"roster", "import", "--db", "c.db", "--course", course, "next.csv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("1 added, 1 changed, 1 removed"), std::string::npos) << result.out;
    EXPECT_EQ(Run({"roster", "import", "--db", "c.db", "--course", "4242", "next.csv"}).exitCode,
              1);

    result = Run({"roster", "show", "--db", "c.db", "--course", course});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("100000300  not registered  Cy <cy@x>"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("100123456  registered      Zoë O’Brien <zoe@x>"), std::string::npos)
        << result.out;

    result = Run(
        {"roster", "reset-password", "--db", "c.db", "--course", course, "--student", "123456"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string marker = ": ";
    const auto at = result.out.find(marker);
    ASSERT_NE(at, std::string::npos) << result.out;
    const std::string password = result.out.substr(at + 2, server::kOneTimeLength);
    std::string error;
    auto store = server::Store::Open(dir.path() / "c.db", error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->FindStudent(kDemoCourse, kDemoStudent)->passwordHash, HashPassword(password));
    EXPECT_EQ(
        Run({"roster", "reset-password", "--db", "c.db", "--course", course, "--student", "300"})
            .exitCode,
        1)
        << "listed but not registered";
}

} // namespace
} // namespace tallyport::test
