// A whole term on the real server, as one course team runs it: a course file with keys, a class
// list, registrations, uploads on time, late, refused and under an extension, a violating
// upload, two markers and a moderated save, release refused before the deadline and then
// forced, what the student sees before and after, a reordered course file, grades against what
// was marked, and a backup taken while uploads run, restored.
#include "ServerTestHelpers.h"
#include "StaffClient.h"

#include "course/GradesCsv.h"
#include "store/Backup.h"
#include "support/TempDir.h"
#include "web/MarkerPassword.h"
#include "web/StaffServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace tallyport::test {
namespace {

using nlohmann::json;

constexpr const char* kAddress = "127.0.0.46";
constexpr int32_t kCourse = 5100;
constexpr std::string_view kPassword = "term-pw";
// On the class list: Zoë, Ana, Ben; 100000009 is not.
constexpr int32_t kZoe = 100000001, kAna = 100000002, kBen = 100000003, kStranger = 100000009;

class WholeTerm : public ::testing::Test {
protected:
    void SetUp() override {
        now = int64_t(std::time(nullptr));
        server = std::make_unique<InProcessServer>(dir.path() / "live", kAddress);
        for (const auto& [id, admin] : {std::pair("tjones", false), std::pair("amiller", true)}) {
            ASSERT_TRUE(server->store().AddMarker({id, id, "TA", admin, {kCourse}}));
            ASSERT_TRUE(server->store().SetMarkerPassword(
                id, server::staff::HashMarkerPassword(std::string(id) + "-password").value()));
        }
        server::staff::StaffOptions options;
        options.address = kAddress;
        options.port = 0;
        staff = std::make_unique<server::staff::StaffServer>(server->store(), options);
        std::string error;
        ASSERT_TRUE(staff->Start(error)) << error;
    }

    // Assignments a1 (open another hour, a late window after) and a2 (closed, with a late
    // window still open), each one text file; `first` puts a new entry a0 in front.
    std::string CourseFile(bool first = false) const {
        std::string text = "number = " + std::to_string(kCourse) +
                           "\nname = \"Term\"\n[[component]]\nname = \"Assignment\"\nelements = " +
                           (first ? "3" : "2") +
                           "\nsections = 1\ntypes = \"C Source,c,F,4\"\nrequirement = \"F,c\"\n";
        if (first)
            text += "[[component.entry]]\nkey = \"a0\"\n";
        text += "[[component.entry]]\nkey = \"a1\"\ndeadline = " + std::to_string(now + 3600) +
                "\nlate_until = " + std::to_string(now + 7200) + "\n";
        text += "[[component.entry]]\nkey = \"a2\"\ndeadline = " + std::to_string(now - 3600) +
                "\nlate_until = " + std::to_string(now + 60) + "\n";
        return text;
    }

    StatusCode Register(int32_t student, std::string_view name) {
        return Exchange(server->endpoint(), Registration(kCourse, student, kPassword,
                                                         std::string(name), "s@example.edu", "002"))
            .status;
    }

    // The status of an upload of one file; its serial in `serial`.
    StatusCode Upload(int32_t student, int32_t index, const std::string& name,
                      int32_t* serial = nullptr) {
        auto reply = Exchange(server->endpoint(),
                              test::Upload(kCourse, student, kPassword, index,
                                           PackageOf({{name, 'F', 4, "int main(void);\r\n"}})));
        if (serial && reply.reply)
            *serial = reply.reply->ReadInt();
        return reply.status;
    }

    std::string Marked(int32_t student, int32_t index) {
        auto reply = Exchange(server->endpoint(), MarkedRequest(kCourse, student, kPassword, index));
        if (!reply.reply)
            return {};
        reply.reply->ReadInt();
        return Text(reply.reply->ReadBytes(reply.reply->ReadInt()));
    }

    StaffClient LoggedIn(const std::string& id) {
        StaffClient client(kAddress, staff->port());
        EXPECT_EQ(client.Login(id, id + "-password").status, 200);
        return client;
    }

    static json Marking(int64_t version, int mark, const std::string& comment) {
        return {{"version", version},
                {"mark", mark},
                {"detail", ""},
                {"files",
                 {{{"index", 0},
                   {"annotations",
                    {{{"type", "comment"}, {"x", 10}, {"y", 10}, {"text", comment}}}}}}}};
    }

    TempDir dir;
    std::unique_ptr<InProcessServer> server;
    std::unique_ptr<server::staff::StaffServer> staff;
    int64_t now = 0;
    std::map<std::string, int32_t> serials;
};

TEST_F(WholeTerm, OneCourseFromClassListToGradesAndABackup) {
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"the course file and the class list",
         [&] {
             server->LoadCourse(CourseFile());
             const auto changes = server->store().ReplaceClassList(
                 kCourse, {{kZoe, "Zoë O’Brien", "zoe@example.edu"},
                           {kAna, "=HYPERLINK(\"x\")", "ana@example.edu"},
                           {kBen, "Ben, Jr.", "ben@example.edu"}});
             ASSERT_TRUE(changes);
         }},
        {"a listed number registers, an unlisted one is refused",
         [&] {
             EXPECT_EQ(Register(kZoe, "Zoe"), 0);
             EXPECT_EQ(Register(kAna, "Ana"), 0);
             EXPECT_EQ(Register(kBen, "Ben"), 0);
             EXPECT_EQ(Register(kStranger, "Who"), -7);
         }},
        {"uploads: on time, in a late window, refused, and with an extension",
         [&] {
             EXPECT_EQ(Upload(kZoe, 0, "zoe.c", &serials["zoe a1"]), 0);
             EXPECT_EQ(Upload(kAna, 0, "ana.c", &serials["ana a1"]), 0);
             EXPECT_EQ(Upload(kZoe, 1, "zoe2.c", &serials["zoe a2"]), 0) << "late, in the window";
             const auto a2 = server->store().FindCourse(kCourse)->entries[1];
             ASSERT_TRUE(server->store().SetExtension(kCourse, a2.id, kBen, now + 600, "amiller"));
             EXPECT_EQ(Upload(kBen, 1, "ben2.c", &serials["ben a2"]), 0) << "on his own time";
         }},
        {"an upload against the entry's file rules is refused and not stored",
         [&] {
             const auto before = server->store().ListSubmissions({kCourse}).size();
             EXPECT_EQ(Upload(kBen, 0, "README.txt"), -3);
             EXPECT_EQ(server->store().ListSubmissions({kCourse}).size(), before);
         }},
        {"two markers; the moderated save keeps the first marking in the history",
         [&] {
             StaffClient tjones = LoggedIn("tjones"), amiller = LoggedIn("amiller");
             const std::string zoe = "/api/submissions/" + std::to_string(serials["zoe a1"]);
             ASSERT_EQ(tjones.Put(zoe + "/marking", Marking(0, 6, "first look")).status, 200);
             EXPECT_EQ(amiller.Put(zoe + "/marking", Marking(0, 8, "moderated")).status, 409);
             ASSERT_EQ(amiller.Put(zoe + "/marking", Marking(1, 8, "moderated")).status, 200);
             const auto versions = amiller.Get(zoe + "/versions");
             ASSERT_EQ(versions.body["versions"].size(), 2u) << versions.body;
             EXPECT_EQ(amiller.Get(zoe + "/versions/1").body["files"][0]["annotations"][0]["text"],
                       "first look");
             const std::string ana = "/api/submissions/" + std::to_string(serials["ana a1"]);
             ASSERT_EQ(tjones.Put(ana + "/marking", Marking(0, 5, "fine")).status, 200);
         }},
        {"before release the student sees the work as submitted",
         [&] {
             const std::string marked = Marked(kZoe, 0);
             EXPECT_NE(marked.find("Marking: -2,-,-"), std::string::npos) << marked;
             EXPECT_EQ(marked.find("moderated"), std::string::npos);
         }},
        {"release is refused before the deadline, then forced",
         [&] {
             StaffClient amiller = LoggedIn("amiller");
             const auto refused = amiller.Post("/api/courses/5100/entries/a1/release");
             EXPECT_EQ(refused.status, 409);
             EXPECT_EQ(refused.body["stillSubmitting"], 3) << refused.body;
             EXPECT_EQ(LoggedIn("tjones").Post("/api/courses/5100/entries/a1/release").status,
                       403);
             const auto forced =
                 amiller.Send("POST", "/api/courses/5100/entries/a1/release", R"({"force":true})");
             EXPECT_EQ(forced.status, 200) << forced.body;
         }},
        {"after release the student gets the marking",
         [&] {
             const std::string marked = Marked(kZoe, 0);
             EXPECT_NE(marked.find("Marking: 8,amiller,"), std::string::npos) << marked;
             EXPECT_NE(marked.find("moderated"), std::string::npos);
         }},
        {"a reordered course file moves no work and keeps the release",
         [&] {
             server->LoadCourse(CourseFile(true));
             const auto course = *server->store().FindCourse(kCourse);
             EXPECT_EQ(course.entries[1].key, "a1");
             EXPECT_TRUE(course.entries[1].marksReleased);
             EXPECT_NE(Marked(kZoe, 1).find("Marking: 8,"), std::string::npos);
             EXPECT_EQ(Exchange(server->endpoint(), MarkedRequest(kCourse, kZoe, kPassword, 0))
                           .status,
                       -12);
         }},
        {"grades agree with what was marked",
         [&] {
             StaffClient amiller = LoggedIn("amiller");
             const auto reply = amiller.Get("/api/courses/5100/grades.csv");
             ASSERT_EQ(reply.status, 200);
             const std::string csv = reply.body.get<std::string>();
             EXPECT_EQ(csv, *server::GradesCsv(server->store(), kCourse));
             EXPECT_EQ(LoggedIn("tjones").Get("/api/courses/5100/grades.csv").status, 403);
             const std::string header =
                 "\xEF\xBB\xBFnumber,name,email,a0 mark,a0 status,a0 late minutes,a1 mark,"
                 "a1 status,a1 late minutes,a2 mark,a2 status,a2 late minutes,total\r\n";
             ASSERT_EQ(csv.substr(0, header.size()), header);
             const auto lateMinutes = [&](const std::string& key) {
                 const auto info = server->store().FindSubmission(serials[key]);
                 return std::to_string((info->time - (now - 3600) + 59) / 60);
             };
             EXPECT_NE(csv.find("100000001,Zoë O’Brien,zoe@example.edu,,,,8,released,,,submitted," +
                                lateMinutes("zoe a2") + ",8\r\n"),
                       std::string::npos)
                 << csv;
             EXPECT_NE(csv.find("100000002,\"'=HYPERLINK(\"\"x\"\")\",ana@example.edu,,,,5,released,"
                                ",,,,5\r\n"),
                       std::string::npos)
                 << csv;
             EXPECT_NE(csv.find("100000003,\"Ben, Jr.\",ben@example.edu,,,,,,,,submitted,,0\r\n"),
                       std::string::npos)
                 << csv;
         }},
        {"a backup taken while uploads run restores with every acknowledged upload",
         [&] {
             std::atomic<bool> stop = false;
             std::vector<int32_t> acknowledged;
             std::thread uploads([&] {
                 while (!stop) {
                     int32_t serial = 0;
                     if (Upload(kZoe, 1, "again.c", &serial) == 0)
                         acknowledged.push_back(serial);
                 }
             });
             while (acknowledged.size() < 3)
                 std::this_thread::yield();
             const auto before = server->store().ListSubmissions({kCourse});
             std::string error;
             const bool backedUp =
                 server::BackupStore(server->store().file(), dir.path() / "backup", error);
             stop = true;
             uploads.join();
             ASSERT_TRUE(backedUp) << error;
             ASSERT_TRUE(server::RestoreStore(dir.path() / "backup", dir.path() / "restored.db",
                                              false, error))
                 << error;
             auto restored = server::Store::Open(dir.path() / "restored.db", error);
             ASSERT_TRUE(restored) << error;
             for (const auto& submission : before)
                 EXPECT_EQ(restored->PackageBytes(submission.serial),
                           server->store().PackageBytes(submission.serial))
                     << submission.serial;
             EXPECT_EQ(restored->FindMark(serials["zoe a1"])->mark, 8);
             EXPECT_EQ(restored->MarkingVersions(serials["zoe a1"]).size(), 2u);
             EXPECT_TRUE(restored->FindCourse(kCourse)->entries[1].marksReleased);
         }},
    };
    for (const auto& [what, step] : steps) {
        SCOPED_TRACE(what);
        step();
        if (HasFatalFailure())
            return;
    }
}

} // namespace
} // namespace tallyport::test
