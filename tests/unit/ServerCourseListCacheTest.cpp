// The server keeps the Course List reply in memory: it must still show every change at once, both
// a course reloaded by `course load` from another process and a status letter that changes with
// the time alone.
#include "ServerProcess.h"
#include "ServerTestHelpers.h"

#include "student/CourseListCache.h"
#include "student/RequestHandler.h"
#include "store/Store.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>

namespace tallyport::test {
namespace {

struct Listed {
    std::string name;
    std::string letters; // one status letter per entry
};

// The courses of a Course List reply, by name and letters.
std::vector<Listed> ReadCourseList(NetMessage& reply) {
    std::vector<Listed> courses(std::size_t(std::max(0, reply.ReadInt())));
    for (auto& course : courses) {
        reply.ReadInt();
        course.name = std::string(reply.ReadString());
        reply.ReadString();
        for (int entries = reply.ReadInt(); entries > 0 && !reply.malformed(); --entries) {
            course.letters += char(reply.ReadInt());
            reply.ReadInt();
            reply.ReadString();
        }
    }
    EXPECT_FALSE(reply.malformed());
    return courses;
}

server::CourseDefinition TwoEntryCourse(std::optional<int64_t> opens,
                                        std::optional<int64_t> deadline) {
    server::CourseDefinition course;
    course.number = 4200;
    course.name = "Networks";
    course.components = {{"Lab", 2, 1}};
    course.entries.resize(2);
    course.entries[0].label = "Sockets";
    course.entries[0].opens = opens;
    course.entries[0].deadline = deadline;
    course.entries[1].label = "Routing";
    return course;
}

// At every instant around the opening and the deadline, and with the clock set back, the kept
// reply equals one made afresh from the store; so does it after a change through another
// connection of the same process.
TEST(ServerCourseListCache, KeptReplyEqualsAFreshOneAcrossStatusChangesAndEdits) {
    TempDir dir;
    std::string error;
    auto store = server::Store::Open(dir.path() / "c.db", error, server::Durability::Normal);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->PutCourse(TwoEntryCourse(1000, 2000), {}, &error)) << error;
    server::CourseListCache cache(*store);
    const struct {
        int64_t now;
        const char* letters;
    } instants[] = {{500, "UO"},  {999, "UO"},  {1000, "OO"}, {1500, "OO"}, {2000, "OO"},
                    {2001, "CO"}, {9000, "CO"}, {999, "UO"},  {2001, "CO"}};
    for (const auto& instant : instants) {
        SCOPED_TRACE(instant.now);
        const auto kept = cache.Reply(instant.now);
        EXPECT_EQ(kept, server::CourseListReply(store->Courses(), instant.now));
        auto reply = NetMessage::fromReply(kept);
        const auto courses = ReadCourseList(reply);
        ASSERT_EQ(courses.size(), 1u);
        EXPECT_EQ(courses[0].letters, instant.letters);
    }
    // Kept from here on: both status changes lie behind. Only the edit can make it stale.
    cache.Reply(9500);
    auto renamed = TwoEntryCourse(std::nullopt, 9800);
    renamed.name = "Computer Networks";
    ASSERT_TRUE(store->PutCourse(renamed, {}, &error)) << error;
    auto reply = NetMessage::fromReply(cache.Reply(9700));
    const auto courses = ReadCourseList(reply);
    ASSERT_EQ(courses.size(), 1u);
    EXPECT_EQ(courses[0].name, "Computer Networks");
    EXPECT_EQ(courses[0].letters, "OO");
    EXPECT_EQ(server::NextStatusChange({renamed}, 9700), 9801);
    renamed.entries[0].statusOverride = 'M';
    EXPECT_EQ(server::NextStatusChange({renamed}, 9700), INT64_MAX);
}

std::string CourseToml(const std::string& name, int64_t deadline) {
    return "number = 4200\nname = \"" + name +
           "\"\n[[component]]\nname = \"Lab\"\nelements = 2\nsections = 1\n"
           "types = \"Text,txt,A,8\"\nrequirement = \"F,txt\"\n"
           "[[component.entry]]\nlabel = \"Sockets\"\ndeadline = " +
           std::to_string(deadline) + "\n[[component.entry]]\nlabel = \"Routing\"\n";
}

Listed ListOnlyCourse(const Endpoint& endpoint) {
    auto result = Exchange(endpoint, CourseListRequest());
    EXPECT_EQ(result.status, 0);
    if (!result.reply)
        return {};
    const auto courses = ReadCourseList(*result.reply);
    return courses.size() == 1 ? courses[0] : Listed{};
}

// The real program serving, with `course load` run beside it as staff would: the next Course
// List shows the reloaded course, and once its deadline has passed the next one shows 'C'.
TEST(ServerCourseListCache, ServingProgramShowsCourseLoadAndAPassedDeadlineAtOnce) {
    TempDir dir;
    const auto write = [&](const std::string& text) {
        std::ofstream(dir.path() / "course.toml", std::ios::binary) << text;
    };
    write(CourseToml("Networks", int64_t(std::time(nullptr)) + 100000));
    const auto load = [&] {
        const auto loaded =
            RunServerCommand(dir.path(), {"course", "load", "--db", "c.db", "course.toml"});
        ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    };
    load();
    ServerProcess server(dir.path(), {"serve", "--db", "c.db", "--listen", "127.0.0.41:0",
                                      "--staff-listen", "127.0.0.41:0"});
    ASSERT_TRUE(server.WaitForError("serving")) << server.error();
    const Endpoint endpoint{"127.0.0.41", ServedPort(server.error(), "127.0.0.41")};
    ASSERT_NE(endpoint.port, 0) << server.error();

    const Listed first = ListOnlyCourse(endpoint);
    EXPECT_EQ(first.name, "Networks");
    EXPECT_EQ(first.letters, "OO");
    EXPECT_EQ(ListOnlyCourse(endpoint).name, "Networks") << "answered again from memory";

    // A deadline a few seconds ahead: the reply made now shows it open, and is kept.
    const int64_t deadline = int64_t(std::time(nullptr)) + 4;
    write(CourseToml("Computer Networks", deadline));
    load();
    const Listed reloaded = ListOnlyCourse(endpoint);
    EXPECT_EQ(reloaded.name, "Computer Networks");
    if (int64_t(std::time(nullptr)) <= deadline) { // a slow machine may already be past it
        EXPECT_EQ(reloaded.letters, "OO");
    }

    while (int64_t(std::time(nullptr)) <= deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Listed passed = ListOnlyCourse(endpoint);
    EXPECT_EQ(passed.name, "Computer Networks");
    EXPECT_EQ(passed.letters, "CO");
}

} // namespace
} // namespace tallyport::test
