// One student learns nothing about another: every request that names a student is refused with
// the bare status unless it carries that student's own password, and the refusal is the same
// whether or not the other student has work, marks or an exam on the server.
#include "ServerTestHelpers.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>

namespace tallyport::test {
namespace {

constexpr int32_t kCourse = 3101;
// The demo's student, with marked work on entry 0 and unmarked work on entry 1.
constexpr int32_t kOwner = 100123456;
constexpr const char* kOwnerPassword = "demo123";
// Another student of the course, and one who has nothing on the server at all.
constexpr int32_t kOther = 100555555;
constexpr const char* kOtherPassword = "otherpw";
constexpr int32_t kIdle = 100666666;
constexpr int32_t kNobody = 100999999; // never registered

class ServerPrivacy : public ::testing::Test {
protected:
    void SetUp() override {
        server.LoadDemo();
        for (const auto& [number, password] :
             {std::pair{kOther, kOtherPassword}, std::pair{kIdle, "idlepw"}}) {
            server::NewStudent student;
            student.course = kCourse;
            student.number = number;
            student.password = password;
            student.name = "Someone Else";
            student.email = "else@example.edu";
            ASSERT_EQ(server.store().RegisterStudent(student), server::RegisterOutcome::Registered);
        }
    }

    // Everything the server sends back for a request: the seed 0x20000000 has an all-zero
    // keystream, so any reply bytes would show as they are.
    std::string Whole(const NetMessage& request) {
        const std::string body = Text(request.bytes());
        RawConnection connection(server.endpoint());
        connection.Send(std::string("\x69\x44\x6D\x03", 4) + BigEndian(9) + "127.0.0.1" +
                        BigEndian(0x20000000) + BigEndian(int32_t(body.size())) + body);
        connection.FinishSending();
        return connection.ReceiveAll();
    }

    TempDir dir;
    InProcessServer server{dir.path(), "127.0.0.10"};
};

TEST_F(ServerPrivacy, AnotherStudentsRequestsGetTheBareRefusal) {
    const std::string package = PackageOf({{"x.c", 'F', 4, "x\r\n"}});
    const struct {
        const char* name;
        std::function<NetMessage(int32_t student, const char* password)> build;
    } requests[] = {
        {"student verification",
         [](int32_t s, const char* p) { return StudentVerification(kCourse, s, p); }},
        {"account update",
         [](int32_t s, const char* p) {
             return AccountUpdate(kCourse, s, p, "taken0ver", "Intruder", "in@example.edu");
         }},
        {"file list", [](int32_t s, const char* p) { return FileList(kCourse, s, p, 2); }},
        {"upload",
         [&package](int32_t s, const char* p) { return Upload(kCourse, s, p, 2, package); }},
        {"marked work", [](int32_t s, const char* p) { return MarkedRequest(kCourse, s, p, 0); }},
        {"unmarked work", [](int32_t s, const char* p) { return MarkedRequest(kCourse, s, p, 1); }},
        {"exam", [](int32_t s, const char* p) { return ExamRequest(kCourse, s, p, 4); }},
    };
    const std::string wrongPassword("\xFF\xFF\xFF\xF8", 4);
    const std::string unknownStudent("\xFF\xFF\xFF\xF9", 4);
    const auto submissionsBefore = server.store().ListSubmissions().size();
    for (const auto& r : requests) {
        SCOPED_TRACE(r.name);
        // The other student's own password against the owner's number: the same bare refusal
        // as against a student who has nothing here.
        EXPECT_EQ(Whole(r.build(kOwner, kOtherPassword)), wrongPassword);
        EXPECT_EQ(Whole(r.build(kIdle, kOtherPassword)), wrongPassword);
        // The owner's password under another number proves nothing either.
        EXPECT_EQ(Whole(r.build(kOther, kOwnerPassword)), wrongPassword);
        EXPECT_EQ(Whole(r.build(kNobody, kOtherPassword)), unknownStudent);
    }

    // With their own number and password the other student sees only their own (empty) record.
    EXPECT_EQ(Whole(MarkedRequest(kCourse, kOther, kOtherPassword, 0)),
              std::string("\xFF\xFF\xFF\xF4", 4));
    EXPECT_EQ(Whole(MarkedRequest(kCourse, kOther, kOtherPassword, 1)),
              std::string("\xFF\xFF\xFF\xF4", 4));

    // And nothing of the owner's changed.
    const auto owner = server.store().FindStudent(kCourse, kOwner);
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->passwordHash, HashPassword(kOwnerPassword));
    EXPECT_EQ(owner->name, "Demo Student");
    EXPECT_EQ(server.store().ListSubmissions().size(), submissionsBefore);
    EXPECT_EQ(Exchange(server.endpoint(), MarkedRequest(kCourse, kOwner, kOwnerPassword, 0)).status,
              0)
        << "the owner still sees their work";
}

} // namespace
} // namespace tallyport::test
