// A course through its term, driven through the real student protocol and the store: entries
// keep their work when the course file changes, marks reach students only once released, a
// release closes nothing and survives a reload, and uploads follow each student's own deadline
// and the late window.
#include "ServerTestHelpers.h"

#include "course/CourseToml.h"
#include "course/Release.h"
#include "store/Sqlite.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tallyport::test {
namespace {

constexpr int32_t kCourse = 4200;
constexpr int32_t kStudent = 100000042;
constexpr std::string_view kPassword = "term-pw";

std::string At(int64_t seconds) {
    return std::to_string(seconds);
}

// A course of one component "Assignment" whose entries are given as TOML entry tables.
std::string CourseFile(const std::vector<std::string>& entries) {
    std::string text = "number = " + std::to_string(kCourse) +
                       "\nname = \"Term\"\n[[component]]\nname = \"Assignment\"\nelements = " +
                       std::to_string(entries.size()) +
                       "\nsections = 1\ntypes = \"Text,txt,A,8\"\nrequirement = \"M,txt\"\n";
    for (const auto& entry : entries)
        text += "[[component.entry]]\n" + entry + "\n";
    return text;
}

class CourseTerm : public ::testing::Test {
protected:
    void SetUp() override {
        now = int64_t(std::time(nullptr));
        server = std::make_unique<InProcessServer>(dir.path(), "127.0.0.45");
    }

    void Register(int32_t student = kStudent) {
        const auto reply = Exchange(server->endpoint(),
                                    Registration(kCourse, student, kPassword, "A Student",
                                                 "a@example.edu", "002"));
        ASSERT_EQ(reply.status, 0);
    }

    // The status of an upload to the entry at `index`, and its serial when stored.
    std::pair<StatusCode, int32_t> Upload(int32_t index, std::string_view text,
                                          int32_t student = kStudent) {
        const auto package = PackageOf({{"notes.txt", 'A', 8, std::string(text)}});
        auto reply = Exchange(server->endpoint(),
                              test::Upload(kCourse, student, kPassword, index, package));
        return {reply.status, reply.reply ? reply.reply->ReadInt() : 0};
    }

    // The marked package a student's View gets for the entry at `index`; empty when refused.
    std::string Marked(int32_t index) {
        auto reply = Exchange(server->endpoint(), MarkedRequest(kCourse, kStudent, kPassword, index));
        if (!reply.reply)
            return {};
        reply.reply->ReadInt(); // the maximum mark
        const int32_t length = reply.reply->ReadInt();
        return Text(reply.reply->ReadBytes(length));
    }

    void Mark(int32_t serial, int32_t mark, std::string_view comment) {
        server::MarkingSave save;
        save.serial = serial;
        save.mark = mark;
        save.markerId = "m1";
        save.markup = {"C,10,10,100,20," + std::string(comment) + "\r\n"};
        const auto marking = server->store().FindMarking(serial);
        save.baseVersion = marking && marking->mark ? marking->mark->version : 0;
        ASSERT_EQ(server->store().SaveMarking(save), server::SaveOutcome::Saved);
    }

    const server::EntryDefinition& Entry(const std::string& key) {
        course = *server->store().FindCourse(kCourse);
        for (const auto& entry : course.entries)
            if (entry.key == key)
                return entry;
        throw std::runtime_error("no entry " + key);
    }

    TempDir dir;
    std::unique_ptr<InProcessServer> server;
    server::CourseDefinition course;
    int64_t now = 0;
};

TEST_F(CourseTerm, WorkStaysWithItsEntryWhenTheCourseFileIsReorderedOrShrinks) {
    server->store().AddMarker({"m1", "Marker", "", false, {kCourse}});
    server->LoadCourse(CourseFile({"key = \"a1\"", "key = \"a2\""}));
    Register();
    const auto [status, serial] = Upload(0, "first answer\r\n");
    ASSERT_EQ(status, 0);
    Mark(serial, 7, "Well argued.");
    ASSERT_TRUE(server->store().SetMarksReleased(kCourse, Entry("a1").id, true, "admin"));

    // A new entry before the first: a1 is now second, and its work goes with it.
    server->LoadCourse(CourseFile({"key = \"a0\"", "key = \"a1\"", "key = \"a2\""}));
    EXPECT_EQ(server->store().FindSubmission(serial)->entry, Entry("a1").id);
    const int32_t a1 = Entry("a1").id;
    // A student's request names an entry by its place in the list as it is now.
    const struct {
        int32_t index;
        std::optional<std::string> key;
    } places[] = {{0, "a0"}, {1, "a1"}, {2, "a2"}, {3, std::nullopt}, {-1, std::nullopt}};
    for (const auto& place : places) {
        const auto entry = server->store().EntryAt(kCourse, place.index);
        EXPECT_EQ(entry ? std::optional(entry->key) : std::nullopt, place.key) << place.index;
    }
    EXPECT_TRUE(server->store().CourseAllowList(kCourse));
    EXPECT_FALSE(server->store().CourseAllowList(kCourse + 1)) << "no such course";
    ASSERT_TRUE(server->store().FindEntry(kCourse, a1));
    EXPECT_EQ(server->store().FindEntry(kCourse, a1)->key, "a1");
    EXPECT_FALSE(server->store().FindEntry(kCourse + 1, a1)) << "another course's id";
    EXPECT_TRUE(Entry("a1").marksReleased);
    EXPECT_FALSE(Entry("a0").marksReleased);
    EXPECT_EQ(Exchange(server->endpoint(), MarkedRequest(kCourse, kStudent, kPassword, 0)).status,
              -12)
        << "the inserted entry holds nothing";
    const std::string marked = Marked(1);
    EXPECT_NE(marked.find("Marking: 7,"), std::string::npos) << marked;
    EXPECT_NE(marked.find("first answer"), std::string::npos);
    EXPECT_NE(marked.find("Well argued."), std::string::npos);

    // Dropping a1 would orphan its submission: refused with the count, unless archived.
    try {
        server->LoadCourse(CourseFile({"key = \"a0\"", "key = \"a2\""}));
        ADD_FAILURE() << "a course file without a1 was taken";
    } catch (const std::runtime_error& refused) {
        EXPECT_NE(std::string(refused.what()).find("a1 is gone from the file but holds 1 "),
                  std::string::npos)
            << refused.what();
    }
    EXPECT_EQ(server->store().FindCourse(kCourse)->entries.size(), 3u) << "nothing changed";
    auto loaded = server::ParseCourseToml(CourseFile({"key = \"a0\"", "key = \"a2\""}), ".",
                                          *std::make_unique<std::string>());
    std::vector<std::string> notes;
    ASSERT_TRUE(server->store().PutCourse(loaded->course, {}, nullptr, {.archiveRemoved = true},
                                          &notes));
    const auto archived = server->store().ArchivedEntries(kCourse);
    ASSERT_EQ(archived.size(), 1u);
    EXPECT_EQ(archived[0].key, "a1");
    EXPECT_EQ(server->store().CountSubmissions(kCourse, archived[0].id), 1);
    EXPECT_FALSE(server->store().FindEntry(kCourse, a1)) << "an archived entry is not found";
    EXPECT_EQ(server->store().EntryAt(kCourse, 1)->key, "a2") << "nor counted in the places";
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("archived"), std::string::npos) << notes[0];
    // An entry without submissions goes quietly; its id is never handed out again.
    server->LoadCourse(CourseFile({"key = \"a0\"", "key = \"a3\""}));
    EXPECT_GT(Entry("a3").id, archived[0].id);
    EXPECT_EQ(server->store().ArchivedEntries(kCourse).size(), 1u);
}

TEST_F(CourseTerm, StudentsSeeMarksOnlyWhileReleasedAndAReloadKeepsTheRelease) {
    server->store().AddMarker({"m1", "Marker", "", false, {kCourse}});
    const std::string file = CourseFile({"key = \"a1\"\ndeadline = " + At(now + 3600)});
    server->LoadCourse(file);
    Register();
    const auto [status, serial] = Upload(0, "answer\r\n");
    ASSERT_EQ(status, 0);
    Mark(serial, 9, "Half-finished thoughts.");

    auto check = [&](bool shown, const char* when) {
        const std::string marked = Marked(0);
        ASSERT_FALSE(marked.empty()) << when;
        EXPECT_EQ(marked.find("Marking: 9,") != std::string::npos, shown) << when << marked;
        EXPECT_EQ(marked.find("Half-finished") != std::string::npos, shown) << when;
        EXPECT_EQ(marked.find("Marking: -2,-,-") != std::string::npos, !shown) << when;
        EXPECT_NE(marked.find("answer"), std::string::npos) << when << ": the files as submitted";
    };
    check(false, "marked, not released");
    const auto refused = server::SetRelease(server->store(), kCourse, Entry("a1"), true, false,
                                            "admin", now);
    EXPECT_TRUE(refused.refused);
    EXPECT_EQ(refused.stillSubmitting, 1);
    EXPECT_NE(refused.message.find("1 student could still submit"), std::string::npos)
        << refused.message;
    check(false, "release refused");

    const auto forced = server::SetRelease(server->store(), kCourse, Entry("a1"), true, true,
                                           "admin", now);
    ASSERT_TRUE(forced.done) << forced.message;
    check(true, "released");
    // Released before the deadline: the student may still submit, and their new work is shown
    // as submitted, unmarked.
    EXPECT_EQ(Upload(0, "better answer\r\n").first, 0);

    // The same file again (marks_released unset) leaves the release alone, and says so.
    auto loaded = server::ParseCourseToml(file, ".", *std::make_unique<std::string>());
    std::vector<std::string> notes;
    ASSERT_TRUE(server->store().PutCourse(loaded->course, {}, nullptr, {}, &notes));
    EXPECT_TRUE(Entry("a1").marksReleased);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("marks_released = false"), std::string::npos) << notes[0];

    ASSERT_TRUE(server::SetRelease(server->store(), kCourse, Entry("a1"), false, false, "admin",
                                   now)
                    .done);
    EXPECT_FALSE(Entry("a1").marksReleased);
    const auto audit = server->store().Audit(kCourse);
    ASSERT_GE(audit.size(), 3u);
    EXPECT_EQ(audit.back().action, "unrelease");
}

TEST_F(CourseTerm, UploadsFollowTheStudentsOwnDeadlineAndTheLateWindow) {
    struct Case {
        const char* what;
        std::string entry;
        std::optional<int64_t> extension;
        StatusCode status;
        bool late;
    };
    const std::vector<Case> cases = {
        {"before the deadline", "deadline = " + At(now + 600), std::nullopt, 0, false},
        {"in the late window", "deadline = " + At(now - 600) + "\nlate_until = " + At(now + 600),
         std::nullopt, 0, true},
        {"after the late window",
         "deadline = " + At(now - 1200) + "\nlate_until = " + At(now - 600), std::nullopt, -11,
         false},
        {"past the deadline, no window", "deadline = " + At(now - 600), std::nullopt, -11, false},
        {"an extension ahead", "deadline = " + At(now - 600), now + 600, 0, false},
        {"an extension passed, the window open",
         "deadline = " + At(now - 1200) + "\nlate_until = " + At(now + 600), now - 600, 0, true},
        {"not open yet", "opens = " + At(now + 600), std::nullopt, -10, false},
        {"released marks close nothing", "deadline = " + At(now + 600) + "\nmarks_released = true",
         std::nullopt, 0, false},
    };
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < cases.size(); ++i)
        entries.push_back("key = \"e" + std::to_string(i) + "\"\n" + cases[i].entry);
    server->LoadCourse(CourseFile(entries));
    Register();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        const auto& entry = Entry("e" + std::to_string(i));
        if (c.extension)
            ASSERT_TRUE(server->store().SetExtension(kCourse, entry.id, kStudent, c.extension,
                                                     "admin"));
        const auto [status, serial] = Upload(int32_t(i), "work\r\n");
        EXPECT_EQ(status, c.status) << c.what;
        if (status != 0)
            continue;
        const auto info = server->store().FindSubmission(serial);
        ASSERT_TRUE(info) << c.what;
        const auto extension = server->store().FindExtension(kCourse, entry.id, kStudent);
        EXPECT_EQ(server::SecondsLate(entry, extension, info->time) > 0, c.late) << c.what;
    }
}

TEST_F(CourseTerm, ADatabaseOfAnOlderServerIsKeyedByTodaysOrderOnce) {
    std::ifstream in(std::string(TALLYPORT_TEST_DATA) + "/schema3-demo.sql");
    std::stringstream dump;
    dump << in.rdbuf();
    ASSERT_FALSE(dump.str().empty());
    const auto file = dir.path() / "old.db";
    {
        std::string error;
        auto db = server::sql::Connection::Open(file, error);
        ASSERT_TRUE(db) << error;
        ASSERT_TRUE(db->Execute(dump.str())) << db->LastError();
    }
    std::string error;
    auto store = server::Store::Open(file, error);
    ASSERT_TRUE(store) << error;
    ASSERT_EQ(store->migrationNotes().size(), 2u);
    EXPECT_NE(store->migrationNotes()[0].find("course 1606"), std::string::npos);
    EXPECT_NE(store->migrationNotes()[1].find("course 3101: its 12 entries are now keyed by"),
              std::string::npos)
        << store->migrationNotes()[1];
    const auto demo = store->FindCourse(3101);
    ASSERT_TRUE(demo);
    EXPECT_EQ(demo->entries[0].key, "assignment-1");
    EXPECT_EQ(demo->entries[9].key, "lab-3-2");
    EXPECT_TRUE(demo->entries[0].marksReleased);
    EXPECT_TRUE(store->removedAtOpen().empty());
    // Serial 3 was Lab 3 Wednesday's, and is still; its mark and the exam files stayed too.
    EXPECT_EQ(store->FindSubmission(3)->entry, demo->entries[9].id);
    EXPECT_EQ(store->FindMark(3)->mark, 5);
    EXPECT_EQ(store->ExamFiles(3101, demo->entries[4].id).size(), 3u);
    store.reset();
    ASSERT_TRUE(server::Store::Open(file, error)->migrationNotes().empty()) << "said once";
}

} // namespace
} // namespace tallyport::test
