// The admin routes of the staff API against the real listener: markers of a course with their
// progress, added, given passwords and removed; the class list imported as CSV; the allocation
// of students' work to markers, by hand and evenly, as the submissions list shows it; the audit
// of every change an admin makes.
#include "StaffClient.h"

#include "course/ClassListCsv.h"
#include "course/Demo.h"
#include "store/Sqlite.h"
#include "support/InProcessServer.h"
#include "support/TempDir.h"
#include "web/MarkerPassword.h"
#include "web/StaffServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <tuple>
#include <utility>

namespace tallyport::test {
namespace {

using nlohmann::json;
using server::kDemoCourse;
using server::kDemoStudent;
using server::kQuestionnaireCourse;

constexpr const char* kAddress = "127.0.0.29";
const std::string kCourse = "/api/courses/" + std::to_string(kDemoCourse);

class AdminApi : public ::testing::Test {
protected:
    void SetUp() override {
        student.LoadDemo();
        AddMarker("amiller", "admin-password-1", true, {kDemoCourse});
        AddMarker("qlee", "quiz-password-1", true, {kQuestionnaireCourse});
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
        EXPECT_EQ(client.Login(id, password).status, 200) << id;
        return client;
    }

    StaffClient Admin() { return LoggedIn("amiller", "admin-password-1"); }

    const server::EntryDefinition& Entry(std::size_t position) {
        course = *student.store().FindCourse(kDemoCourse);
        return course.entries.at(position);
    }

    TempDir dir;
    InProcessServer student{dir.path(), kAddress};
    std::unique_ptr<server::staff::StaffServer> staff;
    server::CourseDefinition course;
};

TEST_F(AdminApi, AnAdminAddsListsGivesAPasswordAndRemovesMarkers) {
    StaffClient admin = Admin();
    const json good = {{"id", "bsmith"}, {"name", "B Smith"},        {"info", "Lab TA"},
                       {"admin", false}, {"courses", {kDemoCourse}}, {"password", "twelve-chars"}};
    const struct {
        const char* what;
        json change; // merged into `good`
        int status;
        const char* error; // part of the reason
    } refused[] = {
        {"short password", {{"password", "short-pw"}}, 422, "at least 12 characters"},
        {"a course the admin does not mark",
         {{"courses", {kDemoCourse, kQuestionnaireCourse}}},
         403,
         "you do not mark course"},
        {"bad id", {{"id", "b smith"}}, 422, "marker id"},
        {"no courses", {{"courses", json::array()}}, 422, "at least one course"},
        {"an existing id", {{"id", "tjones"}}, 409, "already"},
        {"unknown field", {{"colour", "red"}}, 400, "unknown field"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        json body = good;
        body.update(c.change);
        const Reply reply = admin.Send("POST", "/api/markers", body.dump());
        EXPECT_EQ(reply.status, c.status) << reply.body;
        EXPECT_NE(reply.body.value("error", "").find(c.error), std::string::npos) << reply.body;
        EXPECT_FALSE(student.store().FindMarker("bsmith"));
    }
    EXPECT_EQ(student.store().FindMarker("tjones")->name, "Terry Jones")
        << "an existing marker is left as it was";

    Reply reply = admin.Send("POST", "/api/markers", good.dump());
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.body["courses"], json({kDemoCourse}));
    LoggedIn("bsmith", "twelve-chars");

    // bsmith marks the demo student's latest submission of the first entry.
    const auto& first = Entry(0);
    ASSERT_EQ(
        student.store().MarkLatest({kDemoCourse, kDemoStudent, first.id, 7, "bsmith", "ok", {}}),
        server::MarkOutcome::Marked);
    reply = admin.Get(kCourse + "/markers");
    ASSERT_EQ(reply.status, 200) << reply.body;
    std::map<std::string, json> byId;
    for (const auto& marker : reply.body["markers"])
        byId[marker["id"]] = marker;
    ASSERT_EQ(byId.size(), 3u) << "amiller, bsmith, tjones; not qlee";
    EXPECT_EQ(byId["bsmith"]["name"], "B Smith");
    EXPECT_EQ(byId["bsmith"]["admin"], false);
    EXPECT_EQ(byId["bsmith"]["hasPassword"], true);
    EXPECT_EQ(byId["amiller"]["admin"], true);
    const json& progress = byId["bsmith"]["progress"];
    ASSERT_EQ(progress.size(), course.entries.size());
    for (std::size_t i = 0; i < course.entries.size(); ++i) {
        EXPECT_EQ(progress[i]["entry"], course.entries[i].key);
        EXPECT_EQ(progress[i]["marked"], i == 0 ? 1 : 0) << course.entries[i].key;
    }

    // A new password: short refused, a good one logs in.
    reply = admin.Put("/api/markers/bsmith/password", {{"password", "eleven-char"}});
    EXPECT_EQ(reply.status, 422);
    EXPECT_NE(reply.body.value("error", "").find("this one has 11"), std::string::npos);
    reply = admin.Put("/api/markers/bsmith/password", {{"password", "another-twelve"}});
    ASSERT_EQ(reply.status, 200) << reply.body;
    StaffClient bsmith = LoggedIn("bsmith", "another-twelve");
    EXPECT_EQ(StaffClient(kAddress, staff->port()).Login("bsmith", "twelve-chars").status, 401);

    // Removed: not oneself; the removed marker's session ends.
    EXPECT_EQ(admin.Send("DELETE", "/api/markers/amiller", "").status, 409);
    EXPECT_TRUE(student.store().FindMarker("amiller"));
    EXPECT_EQ(admin.Send("DELETE", "/api/markers/nobody", "").status, 404);
    reply = admin.Send("DELETE", "/api/markers/bsmith", "");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_FALSE(student.store().FindMarker("bsmith"));
    EXPECT_EQ(bsmith.Get("/api/courses").status, 401);
}

TEST_F(AdminApi, NonAdminsAndAdminsOfOtherCoursesAreRefused) {
    const std::string entry = kCourse + "/entries/" + Entry(0).key;
    const json marker = {
        {"id", "zz"}, {"name", "Z"}, {"courses", {kDemoCourse}}, {"password", "twelve-chars"}};
    const struct {
        const char* method;
        std::string path;
        json body;
    } routes[] = {
        {"GET", kCourse + "/markers", nullptr},
        {"POST", "/api/markers", marker},
        {"DELETE", "/api/markers/tjones", nullptr},
        {"PUT", "/api/markers/tjones/password", {{"password", "twelve-chars"}}},
        {"POST", kCourse + "/class-list", {{"csv", "number,name,e-mail\n1,A,a@x\n"}}},
        {"GET", entry + "/allocation", nullptr},
        {"PUT", entry + "/allocation", {{"student", kDemoStudent}, {"marker", "tjones"}}},
        {"POST", entry + "/allocation/even", json::object()},
    };
    StaffClient marker1 = LoggedIn(std::string(server::kDemoMarker),
                                   std::string(server::kDemoMarkerPassword)); // not an admin
    StaffClient other = LoggedIn("qlee", "quiz-password-1"); // an admin of another course
    for (const auto& route : routes) {
        SCOPED_TRACE(std::string(route.method) + " " + route.path);
        const std::string body = route.body.is_null() ? "" : route.body.dump();
        EXPECT_EQ(marker1.Send(route.method, route.path, body).status, 403);
        EXPECT_EQ(other.Send(route.method, route.path, body).status, 403);
    }
    EXPECT_TRUE(student.store().FindMarker("tjones"));
    EXPECT_FALSE(student.store().FindMarker("zz"));
    EXPECT_TRUE(student.store().ClassList(kDemoCourse).empty());
    EXPECT_TRUE(student.store().Allocations(kDemoCourse, Entry(0).id).empty());
}

TEST_F(AdminApi, TheClassListImportIsTheStoresAndRefusesABadLine) {
    StaffClient admin = Admin();
    const std::string lists[] = {
        "\xEF\xBB\xBFnumber,name,e-mail\r\n123456,\"O’Brien, Zoë\",zoe@x\r\n200,Bo,bo@x\r\n",
        "number,name,e-mail\n123456,Zoë O’Brien,zoe@x\n300,Cy,cy@x\n",
    };
    for (const auto& csv : lists) {
        const Reply reply = admin.Send("POST", kCourse + "/class-list", json{{"csv", csv}}.dump());
        ASSERT_EQ(reply.status, 200) << reply.body;
        // The same list through the store, on a course that had the same list before.
        std::string error;
        const auto parsed = server::ParseClassList(csv, error);
        ASSERT_TRUE(parsed) << error;
        const auto changes = student.store().ReplaceClassList(kQuestionnaireCourse, *parsed);
        ASSERT_TRUE(changes);
        EXPECT_EQ(reply.body["students"], parsed->size());
        EXPECT_EQ(std::tuple(reply.body["added"].get<int>(), reply.body["changed"].get<int>(),
                             reply.body["removed"].get<int>()),
                  std::tuple(changes->added, changes->changed, changes->removed));
        EXPECT_EQ(student.store().ClassList(kDemoCourse),
                  student.store().ClassList(kQuestionnaireCourse));
    }

    const Reply bad = admin.Send("POST", kCourse + "/class-list",
                                 json{{"csv", "number,name,e-mail\n1,A,a@x\n300,Cy\n"}}.dump());
    EXPECT_EQ(bad.status, 422);
    EXPECT_NE(bad.body.value("error", "").find("line 3: 2 columns"), std::string::npos) << bad.body;
    EXPECT_EQ(student.store().ClassList(kDemoCourse).size(), 2u) << "nothing was imported";

    // A list far over the 4 KiB of other routes is taken.
    std::string big = "number,name,e-mail\n";
    for (int i = 1; i <= 2000; ++i)
        big += std::to_string(i) + ",Student " + std::to_string(i) + ",s@x\n";
    const Reply large = admin.Send("POST", kCourse + "/class-list", json{{"csv", big}}.dump());
    ASSERT_EQ(large.status, 200) << large.body;
    EXPECT_EQ(large.body["students"], 2000);
}

TEST_F(AdminApi, WorkIsAllocatedEvenlyAndByHandAndShownWithTheSubmissions) {
    const auto& first = Entry(0);
    const std::string path = kCourse + "/entries/" + first.key;
    // Two more students with a submission for the entry: three in all.
    for (const int32_t number : {100000001, 100000002})
        ASSERT_TRUE(student.store().AddSubmission(
            {kDemoCourse, number, first.id, 1'700'000'000, "", {}, ""}));
    StaffClient admin = Admin();

    // The course's markers, amiller and tjones, in turn by student number.
    Reply reply = admin.Post(path + "/allocation/even");
    ASSERT_EQ(reply.status, 200) << reply.body;
    const json even = json::array({{{"student", 100000001}, {"marker", "amiller"}},
                                   {{"student", 100000002}, {"marker", "tjones"}},
                                   {{"student", kDemoStudent}, {"marker", "amiller"}}});
    EXPECT_EQ(reply.body["allocation"], even);
    EXPECT_EQ(admin.Get(path + "/allocation").body["allocation"], even);

    // By hand, by the entry's index too; null takes it back; another course's marker refused.
    reply =
        admin.Put(kCourse + "/entries/0/allocation", {{"student", 123456}, {"marker", "tjones"}});
    ASSERT_EQ(reply.status, 200) << reply.body;
    reply = admin.Put(path + "/allocation", {{"student", 100000001}, {"marker", nullptr}});
    ASSERT_EQ(reply.status, 200) << reply.body;
    reply = admin.Put(path + "/allocation", {{"student", 100000001}, {"marker", "qlee"}});
    EXPECT_EQ(reply.status, 422);
    EXPECT_NE(reply.body.value("error", "").find("does not mark"), std::string::npos);
    EXPECT_EQ(admin.Put(path + "/allocation", {{"student", 100000001}, {"marker", "ghost"}}).status,
              422);
    const std::map<int32_t, json> expected = {
        {100000001, nullptr}, {100000002, "tjones"}, {kDemoStudent, "tjones"}};

    reply = admin.Get(path + "/submissions");
    ASSERT_EQ(reply.status, 200) << reply.body;
    std::map<int32_t, json> shown;
    for (const auto& item : reply.body["submissions"])
        shown[item["student"]] = item["assignedTo"];
    EXPECT_EQ(shown, expected);

    // Evenly again gives only the one left without a marker.
    reply = admin.Post(path + "/allocation/even");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body["allocation"][0], json({{"student", 100000001}, {"marker", "amiller"}}));
    EXPECT_EQ(reply.body["allocation"][1]["marker"], "tjones");

    // Audited with the student whose work moved.
    std::map<std::string, int> actions;
    for (const auto& row : student.store().Audit(kDemoCourse))
        if (row.entry == first.id && (row.action == "allocate" || row.action == "unallocate")) {
            EXPECT_EQ(row.actor, "amiller");
            EXPECT_TRUE(row.student);
            ++actions[row.action];
        }
    EXPECT_EQ(actions, (std::map<std::string, int>{{"allocate", 5}, {"unallocate", 1}}));

    // A removed marker's students are unallocated again.
    ASSERT_TRUE(student.store().RemoveMarker("tjones"));
    EXPECT_EQ(admin.Get(path + "/allocation").body["allocation"],
              json::array({{{"student", 100000001}, {"marker", "amiller"}}}));
}

// Each change an admin makes through the API is an audit row of the course naming what it is
// about: the course's audit lists them newest first, course-wide ones without an entry.
TEST_F(AdminApi, EveryAdminChangeIsAuditedWithItsSubject) {
    const auto& first = Entry(0);
    const std::string path = kCourse + "/entries/" + first.key;
    ASSERT_TRUE(student.store().AddSubmission(
        {kDemoCourse, 100000001, first.id, 1'700'000'000, "", {}, ""}));
    // As the commands add a marker: without an actor, so without a row.
    AddMarker("ctemp", "ctemp-password", false, {kDemoCourse});
    EXPECT_EQ(student.store().Audit(kDemoCourse).size(), 2u) << "the demo's two marks only";
    StaffClient admin = Admin();
    const std::string demo = std::to_string(kDemoStudent);
    const struct {
        const char* what;
        std::function<Reply()> change;
        std::vector<std::pair<std::string, json>> rows; // (action, subject) the change writes
        json entry;                                     // of its rows: a key, or none
    } changes[] = {
        {"add a marker",
         [&] {
             return admin.Send("POST", "/api/markers",
                               json{{"id", "bsmith"},
                                    {"name", "B Smith"},
                                    {"courses", {kDemoCourse}},
                                    {"password", "twelve-chars"}}
                                   .dump());
         },
         {{"add-marker", "bsmith"}},
         nullptr},
        {"set a password",
         [&] {
             return admin.Put("/api/markers/bsmith/password", {{"password", "another-twelve"}});
         },
         {{"marker-password", "bsmith"}},
         nullptr},
        {"import a class list",
         [&] {
             return admin.Send("POST", kCourse + "/class-list",
                               json{{"csv", "number,name,e-mail\n123456,D,d@x\n1,A,a@x\n"}}.dump());
         },
         {{"import-class-list", nullptr}},
         nullptr},
        {"reset a student's password",
         [&] { return admin.Post(kCourse + "/students/123456/reset-password"); },
         {{"reset-password", demo}},
         nullptr},
        {"allocate by hand",
         [&] {
             return admin.Put(path + "/allocation", {{"student", 123456}, {"marker", "tjones"}});
         },
         {{"allocate", demo}},
         first.key},
        {"allocate evenly to bsmith only",
         [&] {
             return admin.Send("POST", path + "/allocation/even",
                               json{{"markers", {"bsmith"}}}.dump());
         },
         {{"allocate", "100000001"}},
         first.key},
        {"remove a marker",
         [&] { return admin.Send("DELETE", "/api/markers/ctemp", ""); },
         {{"remove-marker", "ctemp"}},
         nullptr},
    };
    json expected = json::array();
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        const std::size_t before = student.store().Audit(kDemoCourse).size();
        const Reply reply = c.change();
        ASSERT_EQ(reply.status, 200) << reply.body;
        const auto audit = student.store().Audit(kDemoCourse);
        ASSERT_EQ(audit.size(), before + c.rows.size());
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const auto& row = audit[before + i];
            EXPECT_EQ(row.actor, "amiller");
            EXPECT_EQ(row.action, c.rows[i].first);
            EXPECT_EQ(row.subject ? json(*row.subject) : json(nullptr), c.rows[i].second);
            EXPECT_EQ(row.entry == server::kWholeCourse, c.entry.is_null());
            expected.insert(expected.begin(), json{{"action", c.rows[i].first},
                                                   {"subject", c.rows[i].second},
                                                   {"entry", c.entry}});
        }
    }
    EXPECT_EQ(student.store().Allocations(kDemoCourse, first.id),
              (std::vector<server::Allocation>{{100000001, "bsmith"}, {kDemoStudent, "tjones"}}))
        << "the even allocation went to the marker named only";

    // The route gives the same rows newest first, after the demo's marks.
    Reply reply = admin.Get(kCourse + "/audit");
    ASSERT_EQ(reply.status, 200) << reply.body;
    const json& rows = reply.body["audit"];
    ASSERT_EQ(rows.size(), expected.size() + 2) << "and the demo's two marks";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i]["marker"], "amiller");
        EXPECT_EQ(json({{"action", rows[i]["action"]},
                        {"subject", rows[i]["subject"]},
                        {"entry", rows[i]["entry"]}}),
                  expected[i]);
        EXPECT_GE(rows[i]["time"].get<int64_t>(), rows[i + 1]["time"].get<int64_t>());
    }
    EXPECT_EQ(rows.back()["subject"], demo);
    EXPECT_TRUE(rows.back()["entry"].is_string());
    EXPECT_EQ(rows.back()["version"], 1);

    // Only its admins read a course's audit.
    StaffClient marker =
        LoggedIn(std::string(server::kDemoMarker), std::string(server::kDemoMarkerPassword));
    EXPECT_EQ(marker.Get(kCourse + "/audit").status, 403);
    EXPECT_EQ(LoggedIn("qlee", "quiz-password-1").Get(kCourse + "/audit").status, 403);

    // Of a long audit, the 500 newest.
    {
        std::string error;
        auto db = server::sql::Connection::Open(student.store().file(), error);
        ASSERT_TRUE(db) << error;
        ASSERT_TRUE(db->Execute(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
            "INSERT INTO audit (time, actor, action, course, entry, subject) SELECT i, 'amiller', "
            "'allocate', " +
            std::to_string(kDemoCourse) + ", " + std::to_string(first.id) + ", 'row ' || i FROM n"))
            << db->LastError();
    }
    reply = admin.Get(kCourse + "/audit");
    ASSERT_EQ(reply.body["audit"].size(), 500u);
    EXPECT_EQ(reply.body["audit"][0]["subject"], "row 600");
    EXPECT_EQ(reply.body["audit"][499]["subject"], "row 101");
}

// Choosing the markers of an even allocation: only the course's, and at least one.
TEST_F(AdminApi, AnEvenAllocationToChosenMarkersRefusesOthers) {
    const std::string path = kCourse + "/entries/" + Entry(0).key + "/allocation/even";
    StaffClient admin = Admin();
    const struct {
        json body;
        int status;
    } refused[] = {
        {{{"markers", {"qlee"}}}, 422},  {{{"markers", json::array()}}, 422},
        {{{"markers", "tjones"}}, 400},  {{{"markers", {7}}}, 400},
        {{{"marker", {"tjones"}}}, 400},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.body.dump());
        EXPECT_EQ(admin.Send("POST", path, c.body.dump()).status, c.status);
    }
    EXPECT_TRUE(student.store().Allocations(kDemoCourse, Entry(0).id).empty());
    const Reply reply = admin.Send("POST", path, json{{"markers", {"tjones"}}}.dump());
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.body["allocation"],
              json::array({{{"student", kDemoStudent}, {"marker", "tjones"}}}));
}

} // namespace
} // namespace tallyport::test
