// Every request kind through the real client transaction against an in-process server holding
// the demo data, with the replies read field by field.
#include "ServerTestHelpers.h"

#include "course/Demo.h"
#include "marking/MarkedPackageReader.h"
#include "support/LoopbackFlood.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace tallyport::test {
namespace {

using server::NewStudent;
using server::RegisterOutcome;

constexpr int32_t kCourse = 3101;
constexpr int32_t kStudent = 100123456;
constexpr const char* kPassword = "demo123";

class ServerRequests : public ::testing::Test {
protected:
    void SetUp() override { server.LoadDemo(); }

    Exchanged Send(const NetMessage& request) { return Exchange(server.endpoint(), request); }

    // A status that is not 0 comes back with no reply.
    StatusCode Refusal(const NetMessage& request) {
        auto result = Send(request);
        EXPECT_FALSE(result.reply.has_value());
        return result.status;
    }

    TempDir dir;
    InProcessServer server{dir.path(), "127.0.0.3"};
};

TEST_F(ServerRequests, CourseListCarriesEveryCourseWithComputedLetters) {
    auto result = Send(CourseListRequest());
    ASSERT_EQ(result.status, 0);
    ASSERT_TRUE(result.reply);
    NetMessage& r = *result.reply;
    EXPECT_EQ(r.ReadInt(), 2);

    EXPECT_EQ(r.ReadInt(), 1606);
    EXPECT_EQ(r.ReadString(), "Software Design");
    EXPECT_EQ(r.ReadString(), "Assignment,2,1");
    ASSERT_EQ(r.ReadInt(), 2);
    for (const char* label : {"Assignment 1", "Assignment 2"}) {
        EXPECT_EQ(r.ReadInt(), 'O');
        EXPECT_EQ(r.ReadInt(), 'A');
        EXPECT_EQ(r.ReadString(), label);
    }

    EXPECT_EQ(r.ReadInt(), 3101);
    EXPECT_EQ(r.ReadString(), "Introduction to Programming");
    EXPECT_EQ(r.ReadString(), "Assignment,4,1/Lab,3,2/Quiz,2,1");
    ASSERT_EQ(r.ReadInt(), 12);
    const struct {
        char status, kind;
        const char* label;
    } expected[] = {
        {'M', 'A', "Assignment 1"}, {'C', 'A', "Assignment 2"}, {'O', 'A', "Assignment 3"},
        {'U', 'A', "Assignment 4"}, {'O', 'E', "Monday"},       {'C', 'E', "Wednesday"},
        {'O', 'D', "Monday"},       {'U', 'D', "Wednesday"},    {'O', 'A', "Monday"},
        {'M', 'A', "Wednesday"},    {'O', 'A', "Quiz 1"},       {'U', 'A', "Quiz 2"}};
    for (const auto& entry : expected) {
        SCOPED_TRACE(entry.label);
        EXPECT_EQ(r.ReadInt(), entry.status);
        EXPECT_EQ(r.ReadInt(), entry.kind);
        EXPECT_EQ(r.ReadString(), entry.label);
    }
    EXPECT_EQ(r.remaining(), 0);
    EXPECT_FALSE(r.malformed());
}

TEST_F(ServerRequests, RegistrationVerifiesThenStoresTheAccountAsSent) {
    auto verify = Send(AccountVerification(1606, 100777001));
    EXPECT_EQ(verify.status, 0);
    EXPECT_FALSE(verify.reply) << "the verification reply carries nothing";

    auto registered =
        Send(Registration(1606, 100777001, "s3cret", "Ada Byron", "ada@example.edu", "233"));
    EXPECT_EQ(registered.status, 0);
    const auto account = server.store().FindStudent(1606, 100777001);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->passwordHash, HashPassword("s3cret"));
    EXPECT_EQ(account->name, "Ada Byron");
    EXPECT_EQ(account->email, "ada@example.edu");
    EXPECT_EQ(account->questionnaire, "233");

    // Now the number is taken, in both steps; other courses are separate.
    EXPECT_EQ(Refusal(AccountVerification(1606, 100777001)), status::kAccountExists);
    EXPECT_EQ(Refusal(Registration(1606, 100777001, "other", "X", "x@y", "002")),
              status::kAccountExists);
    EXPECT_EQ(server.store().FindStudent(1606, 100777001)->name, "Ada Byron");
    EXPECT_EQ(Send(AccountVerification(kCourse, 100777001)).status, 0);
    EXPECT_EQ(Refusal(AccountVerification(9999, 100777001)), status::kUnknownCourse);
    EXPECT_EQ(Refusal(Registration(9999, 100777002, "pw", "N", "e@x", "002")),
              status::kUnknownCourse);
}

TEST_F(ServerRequests, StudentVerificationAndUpdate) {
    auto verified = Send(StudentVerification(kCourse, kStudent, kPassword));
    ASSERT_EQ(verified.status, 0);
    ASSERT_TRUE(verified.reply);
    EXPECT_EQ(verified.reply->ReadString(), "Demo Student");
    EXPECT_EQ(verified.reply->ReadString(), "demo@example.edu");
    EXPECT_EQ(verified.reply->remaining(), 0);

    EXPECT_EQ(Refusal(StudentVerification(kCourse, kStudent, "wrong")), status::kWrongPassword);
    EXPECT_EQ(Refusal(StudentVerification(kCourse, 100999999, kPassword)), status::kUnknownStudent);
    EXPECT_EQ(Refusal(StudentVerification(1606, kStudent, kPassword)), status::kUnknownStudent)
        << "accounts belong to one course";
    EXPECT_EQ(Refusal(AccountUpdate(kCourse, kStudent, "wrong", "new", "N", "e@x")),
              status::kWrongPassword);

    auto updated = Send(AccountUpdate(kCourse, kStudent, kPassword, "fresh99", "Demo S. Student",
                                      "demo.student@example.edu"));
    EXPECT_EQ(updated.status, 0);
    EXPECT_EQ(Refusal(StudentVerification(kCourse, kStudent, kPassword)), status::kWrongPassword);
    auto again = Send(StudentVerification(kCourse, kStudent, "fresh99"));
    ASSERT_TRUE(again.reply);
    EXPECT_EQ(again.reply->ReadString(), "Demo S. Student");
    EXPECT_EQ(again.reply->ReadString(), "demo.student@example.edu");
}

TEST_F(ServerRequests, FileListRepliesForOpenEntriesAndRefusesTheOthers) {
    auto open = Send(FileList(kCourse, kStudent, kPassword, 2));
    ASSERT_EQ(open.status, 0);
    ASSERT_TRUE(open.reply);
    EXPECT_EQ(open.reply->ReadString(), "C Source,c,F,4/Header,h,F,4/Text,txt,A,8/Data,dat,B,8");
    EXPECT_EQ(open.reply->ReadString(), "M,c,h,txt,dat");
    EXPECT_EQ(open.reply->ReadInt(), 1);
    EXPECT_EQ(open.reply->remaining(), 0);

    auto quiz = Send(FileList(kCourse, kStudent, kPassword, 10));
    ASSERT_TRUE(quiz.reply);
    EXPECT_EQ(quiz.reply->ReadString(), "Text,txt,A,8");
    EXPECT_EQ(quiz.reply->ReadString(), "F,txt");
    EXPECT_EQ(quiz.reply->ReadInt(), 0);

    const struct {
        int32_t course, student;
        const char* password;
        int32_t entry;
        StatusCode status;
    } refusals[] = {
        {9999, kStudent, kPassword, 2, status::kUnknownCourse},
        {kCourse, 100000001, kPassword, 2, status::kUnknownStudent},
        {kCourse, kStudent, "demo1234", 2, status::kWrongPassword},
        {kCourse, kStudent, kPassword, 12, status::kBadAssignment},
        {kCourse, kStudent, kPassword, -1, status::kBadAssignment},
        {kCourse, kStudent, kPassword, 3, status::kNotYetOpen},     // 'U'
        {kCourse, kStudent, kPassword, 1, status::kDeadlinePassed}, // 'C'
        {kCourse, kStudent, kPassword, 0, status::kDeadlinePassed}, // 'M'
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.entry);
        EXPECT_EQ(Refusal(FileList(r.course, r.student, r.password, r.entry)), r.status);
    }
}

TEST_F(ServerRequests, UploadStoresTheExactPackageAndReturnsItsSerial) {
    const std::string package = PackageOf({{"main.c", 'F', 4, "int main(void)\r\n{\r\n}\r\n"},
                                           {"data.dat", 'B', 8, std::string("\x00\xff\r\n", 4)},
                                           {"notes.txt", 'A', 8, "EOF\r\nstill text"}});
    const auto before = server.store().ListSubmissions().size();
    auto result = Send(Upload(kCourse, 123456, kPassword, 2, package));
    ASSERT_EQ(result.status, 0);
    ASSERT_TRUE(result.reply);
    const int32_t serial = result.reply->ReadInt();
    EXPECT_EQ(result.reply->remaining(), 0);
    EXPECT_GT(serial, 0);

    EXPECT_EQ(server.store().PackageBytes(serial), package);
    const auto info = server.store().FindSubmission(serial);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->course, kCourse);
    EXPECT_EQ(info->student, kStudent) << "stored under the normalised number";
    EXPECT_EQ(info->entry, 2);
    EXPECT_EQ(info->files, 3);
    EXPECT_EQ(info->bytes, int64_t(package.size()));
    const auto files = server.store().SubmissionFiles(serial);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[1].name, "data.dat");
    EXPECT_EQ(files[1].kind, 'B');
    EXPECT_EQ(package.substr(std::size_t(files[2].offset), std::size_t(files[2].length)),
              "EOF\r\nstill text");

    // Serials only grow.
    auto next = Send(Upload(kCourse, kStudent, kPassword, 10, PackageOf({{"q.txt", 'A', 8, "x"}})));
    ASSERT_TRUE(next.reply);
    EXPECT_GT(next.reply->ReadInt(), serial);
    EXPECT_EQ(server.store().ListSubmissions().size(), before + 2);
}

// The server reads whatever has arrived, however the request is cut into segments: split in the
// preamble's fields, across the start of the body and beyond its first read, each upload is
// stored exactly as sent.
TEST_F(ServerRequests, ARequestCutAnywhereIsReadTheSame) {
    const std::string source = "127.0.0.3";
    const int32_t seed = 4242;
    for (const std::size_t cut : {1, 4, 8, 9, 20, 25, 26, 27, 30, 127, 128, 129, 200, 2000}) {
        const std::string package =
            PackageOf({{"cut.c", 'F', 4, "int cut = " + std::to_string(cut) + ";\r\n"},
                       {"pad.txt", 'A', 8, std::string(3000, 'p')}});
        const auto bytes = wire::EncodeRequest(
            source, seed, Upload(kCourse, 123456, kPassword, 2, package).bytes());
        ASSERT_LT(cut, bytes.size());
        const int fd = ConnectFrom(source, server.endpoint());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, std::span(bytes).first(cut)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // read apart
        ASSERT_TRUE(SendAll(fd, std::span(bytes).subspan(cut)));
        const auto answer = ReadAnswer(ReceiveUntilClosed(fd), seed);
        ::close(fd);
        ASSERT_EQ(answer.status, 0) << "cut at " << cut;
        ASSERT_EQ(answer.reply.size(), 4u) << "cut at " << cut;
        const int32_t serial = wire::DecodeInt(std::span(answer.reply).first<4>());
        EXPECT_EQ(server.store().PackageBytes(serial), package) << "cut at " << cut;
    }
}

TEST_F(ServerRequests, UploadRefusalsStoreNothing) {
    const std::string good = PackageOf({{"a.c", 'F', 4, "x\r\n"}});
    std::string cut = good;
    cut.resize(cut.size() - 3);
    NetMessage shortBody = Upload(kCourse, kStudent, kPassword, 2, "");
    // A length field that promises more bytes than follow.
    NetMessage overstated;
    overstated.AppendInt(12);
    overstated.AppendInt(kCourse);
    overstated.AppendString("S");
    overstated.AppendInt(kStudent);
    overstated.AppendString(HashPassword(kPassword));
    overstated.AppendInt(2);
    overstated.AppendInt(1000);
    overstated.AppendBytes(good.data(), good.size());

    const auto before = server.store().ListSubmissions().size();
    EXPECT_EQ(Refusal(Upload(kCourse, kStudent, kPassword, 2, cut)), status::kServerError);
    EXPECT_EQ(Refusal(Upload(kCourse, kStudent, kPassword, 2, "not a package")),
              status::kServerError);
    EXPECT_EQ(Refusal(std::move(shortBody)), status::kServerError);
    EXPECT_EQ(Refusal(overstated), status::kServerError);
    EXPECT_EQ(Refusal(Upload(kCourse, kStudent, kPassword, 1, good)), status::kDeadlinePassed);
    EXPECT_EQ(Refusal(Upload(kCourse, kStudent, kPassword, 3, good)), status::kNotYetOpen);
    EXPECT_EQ(Refusal(Upload(kCourse, kStudent, "nope", 2, good)), status::kWrongPassword);
    EXPECT_EQ(server.store().ListSubmissions().size(), before);
}

TEST_F(ServerRequests, SizeLimitedEntryTakesExactlyOneMebibyte) {
    // Entry 2 is size-limited: a package of 1048576 bytes passes, one more byte is refused.
    const std::string head = PackageOf({{"big.dat", 'B', 8, ""}});
    const std::size_t overhead = head.size() + 6; // the length grows from "0" to 7 digits
    const std::string exact =
        PackageOf({{"big.dat", 'B', 8, std::string(1048576 - overhead, 'x')}});
    ASSERT_EQ(exact.size(), 1048576u);
    const std::string over = PackageOf({{"big.dat", 'B', 8, std::string(1048577 - overhead, 'x')}});

    auto accepted = Send(Upload(kCourse, kStudent, kPassword, 2, exact));
    ASSERT_EQ(accepted.status, 0);
    EXPECT_EQ(server.store().PackageBytes(accepted.reply->ReadInt()), exact);
    EXPECT_EQ(Refusal(Upload(kCourse, kStudent, kPassword, 2, over)), status::kServerError);
    // Entry 10 (one text file) is not size-limited.
    const std::string overText =
        PackageOf({{"big.txt", 'A', 8, std::string(1048577 - overhead, 'x')}});
    EXPECT_EQ(Send(Upload(kCourse, kStudent, kPassword, 10, overText)).status, 0);
}

TEST_F(ServerRequests, MarkedAssignmentCarriesRecordsFilesAndMarkup) {
    auto result = Send(MarkedRequest(kCourse, kStudent, kPassword, 0));
    ASSERT_EQ(result.status, 0);
    ASSERT_TRUE(result.reply);
    NetMessage& r = *result.reply;
    EXPECT_EQ(r.ReadInt(), 10) << "maximum mark";
    const int32_t n = r.ReadInt();
    const std::string package = Text(r.ReadBytes(n));
    EXPECT_EQ(r.remaining(), 0);
    ASSERT_FALSE(r.malformed());

    const std::string hello = "#include <stdio.h>\r\n\r\nint main(void)\r\n{\r\n\tint i;\r\n"
                              "\tfor (i = 0; i <= 10; i++)\r\n\t\tprintf(\"%d\\n\", i * i);\r\n"
                              "\treturn 0;\r\n}\r\n";
    const std::string markup =
        "C,260,20,230,20,Good: the header you need.\r\n"
        "C,330,50,300,30,Off by one: the loop runs\r\aeleven times, not ten.\r\n"
        "L,150,60,180,10\r\nP,0,5\r\nP,90,5\r\nP,180,5\r\nEOL\r\n"
        "C,200,90,340,30,Nice use of a tab width of 4,\r\abut say why you "
        "print squares.\r\n"
        "L,0,40,150,20\r\nP,0,0\r\nP,150,0\r\nP,150,20\r\nP,0,20\r\nP,0,0\r\n"
        "EOL\r\n";
    const std::string header = "Submission: 1,100123456,0,";
    ASSERT_TRUE(package.starts_with(header)) << package.substr(0, 80);
    const auto firstLineEnd = package.find("\r\n");
    EXPECT_TRUE(package.substr(0, firstLineEnd).ends_with("Z,Demo Student"));
    EXPECT_EQ(package.substr(firstLineEnd + 2),
              "Marking: 8,tjones,Marked on screen\r\n"
              "Number of Files: 1\r\n" +
                  std::string(80, '-') + "\r\nFile #1: hello.c,F,4," +
                  std::to_string(hello.size()) + "\r\n" + hello + markup + "EOF\r\n");

    // And the client's own reader takes it whole.
    auto input = PackageInput::FromMemory(package);
    MarkedSubmission read;
    ASSERT_TRUE(ReadMarkedPackage(input, read));
    ASSERT_TRUE(read.header && read.marking);
    EXPECT_EQ(read.header->value1, 1);
    EXPECT_EQ(read.header->value2, kStudent);
    EXPECT_EQ(read.header->value3, 0);
    EXPECT_EQ(read.header->text2, "Demo Student");
    EXPECT_EQ(read.marking->mark, 8);
    EXPECT_EQ(read.marking->markerId, "tjones");
    ASSERT_EQ(read.files.size(), 1u);
    EXPECT_EQ(read.files[0].name, "hello.c");
    EXPECT_EQ(read.files[0].tabWidth, 4);
    EXPECT_EQ(read.files[0].text(), hello);
    int annotations = 0;
    for (const ObjectNode* node = read.files[0].annotations.get(); node; node = node->next.get())
        ++annotations;
    EXPECT_EQ(annotations, 5) << "three comments and two strokes";
}

TEST_F(ServerRequests, UnmarkedAndMissingSubmissions) {
    auto unmarked = Send(MarkedRequest(kCourse, kStudent, kPassword, 1));
    ASSERT_EQ(unmarked.status, 0);
    NetMessage& r = *unmarked.reply;
    EXPECT_EQ(r.ReadInt(), 10);
    const std::string package = Text(r.ReadBytes(r.ReadInt()));
    auto input = PackageInput::FromMemory(package);
    MarkedSubmission read;
    ASSERT_TRUE(ReadMarkedPackage(input, read)) << package;
    EXPECT_EQ(read.marking->mark, kNotMarked);
    EXPECT_EQ(package.substr(package.find("\r\n") + 2, 21), "Marking: -2,-,-\r\nNumb");
    ASSERT_EQ(read.files.size(), 3u);
    EXPECT_EQ(read.files[2].name, "list.h");
    EXPECT_EQ(read.files[2].text(), "int list_demo(void);\r\n");
    EXPECT_EQ(read.files[2].annotations, nullptr);

    auto missing = Send(MarkedRequest(kCourse, kStudent, kPassword, 2));
    EXPECT_EQ(missing.status, status::kNothingThere);
    EXPECT_FALSE(missing.reply);
    EXPECT_EQ(Refusal(MarkedRequest(kCourse, kStudent, "x", 0)), status::kWrongPassword);
    EXPECT_EQ(Refusal(MarkedRequest(kCourse, kStudent, kPassword, 99)), status::kBadAssignment);
}

TEST_F(ServerRequests, ALostPackageFileIsAServerErrorNotAnEmptyView) {
    std::filesystem::remove(server.store().packageFolder() / "000001.pkg");
    EXPECT_EQ(Refusal(MarkedRequest(kCourse, kStudent, kPassword, 0)), status::kServerError);
}

TEST_F(ServerRequests, AStudentSeesOnlyTheirOwnSubmissions) {
    NewStudent other;
    other.course = kCourse;
    other.number = 100555555;
    other.password = "otherpw";
    other.name = "Other";
    other.email = "o@example.edu";
    ASSERT_EQ(server.store().RegisterStudent(other), RegisterOutcome::Registered);
    EXPECT_EQ(Send(MarkedRequest(kCourse, 100555555, "otherpw", 0)).status, status::kNothingThere);
    EXPECT_EQ(Refusal(MarkedRequest(kCourse, 100555555, kPassword, 0)), status::kWrongPassword);
    EXPECT_EQ(Refusal(MarkedRequest(1606, kStudent, kPassword, 0)), status::kUnknownStudent);
}

TEST_F(ServerRequests, MarkerName) {
    auto known = Send(MarkerNameRequest(kCourse, "tjones"));
    ASSERT_EQ(known.status, 0);
    EXPECT_EQ(known.reply->ReadString(), "Terry Jones");
    EXPECT_EQ(known.reply->ReadString(), "Teaching assistant, Monday labs");
    EXPECT_EQ(known.reply->remaining(), 0);
    EXPECT_EQ(Refusal(MarkerNameRequest(kCourse, "nobody")), status::kNothingThere);
    EXPECT_EQ(Refusal(MarkerNameRequest(4242, "tjones")), status::kUnknownCourse);
}

TEST_F(ServerRequests, ExamFilesWithTheirSelector) {
    auto all = Send(ExamRequest(kCourse, kStudent, kPassword, 4));
    ASSERT_EQ(all.status, 0);
    NetMessage& e = *all.reply;
    EXPECT_EQ(e.ReadInt(), 2) << "an even student number gets a first-half selector";
    ASSERT_EQ(e.ReadInt(), 3);
    EXPECT_EQ(e.ReadString(), "lab1/question.txt");
    const int32_t length = e.ReadInt();
    EXPECT_EQ(Text(e.ReadBytes(length)),
              "Lab 1\r\nWrite a program that prints the sum of the numbers in data.txt.\r\n");
    EXPECT_EQ(e.ReadString(), "lab1/starter.py");
    e.ReadBytes(e.ReadInt());
    EXPECT_EQ(e.ReadString(), "lab1/data.txt");
    EXPECT_EQ(Text(e.ReadBytes(e.ReadInt())), "3\r\n1\r\n4\r\n1\r\n5\r\n");
    EXPECT_EQ(e.remaining(), 0);

    NewStudent odd;
    odd.course = kCourse;
    odd.number = 100123457;
    odd.password = "oddpw";
    ASSERT_EQ(server.store().RegisterStudent(odd), RegisterOutcome::Registered);
    auto divided = Send(ExamRequest(kCourse, 100123457, "oddpw", 6));
    ASSERT_EQ(divided.status, 0);
    EXPECT_EQ(divided.reply->ReadInt(), 3) << "an odd student number gets a second-half selector";
    EXPECT_EQ(divided.reply->ReadInt(), 4);

    EXPECT_EQ(Refusal(ExamRequest(kCourse, kStudent, kPassword, 2)), status::kNothingThere);
    EXPECT_EQ(Refusal(ExamRequest(kCourse, kStudent, kPassword, 7)), status::kNotYetOpen);
    EXPECT_EQ(Refusal(ExamRequest(kCourse, kStudent, "bad", 4)), status::kWrongPassword);
}

TEST_F(ServerRequests, FixedExamSelectorIsSentAsSet) {
    server.LoadCourse(R"(
number = 5000
name = "Exam course"
[[component]]
name = "Exam"
elements = 2
sections = 1
kind = "D"
[[component.entry]]
selector = 0
exam_files = [{ name = "a.txt", text = "A" }]
[[component.entry]]
selector = 147
exam_files = []
)");
    NewStudent student;
    student.course = 5000;
    student.number = 100000002;
    student.password = "pw5000";
    ASSERT_EQ(server.store().RegisterStudent(student), RegisterOutcome::Registered);
    auto zero = Send(ExamRequest(5000, 100000002, "pw5000", 0));
    ASSERT_EQ(zero.status, 0);
    EXPECT_EQ(zero.reply->ReadInt(), 0);
    EXPECT_EQ(zero.reply->ReadInt(), 1);
    EXPECT_EQ(Refusal(ExamRequest(5000, 100000002, "pw5000", 1)), status::kNothingThere)
        << "an entry without exam files has no exam";
    ASSERT_TRUE(server.store().SetExamFiles(5000, 1, {{"q.txt", "Q"}, {"r.txt", "R"}}));
    auto fixed = Send(ExamRequest(5000, 100000002, "pw5000", 1));
    ASSERT_EQ(fixed.status, 0);
    EXPECT_EQ(fixed.reply->ReadInt(), 147);
    EXPECT_EQ(fixed.reply->ReadInt(), 2);
}

TEST_F(ServerRequests, AllowListsRefuseOtherAddresses) {
    server.LoadCourse(R"(
number = 6000
name = "Lab only"
[[component]]
name = "Lab"
elements = 3
sections = 1
types = "Text,txt,A,8"
requirement = "F,txt"
kind = "E"
exam_files = [{ name = "q.txt", text = "Q" }]
[[component.entry]]
allow = ["10.1.0.0/16"]
[[component.entry]]
allow = ["127.0.0.0/8", "10.1.2.3"]
)");
    NewStudent student;
    student.course = 6000;
    student.number = 100000003;
    student.password = "pw6000";
    ASSERT_EQ(server.store().RegisterStudent(student), RegisterOutcome::Registered);
    const std::string package = PackageOf({{"a.txt", 'A', 8, "a"}});
    EXPECT_EQ(Refusal(FileList(6000, 100000003, "pw6000", 0)), status::kNotAllowedHere);
    EXPECT_EQ(Refusal(Upload(6000, 100000003, "pw6000", 0, package)), status::kNotAllowedHere);
    EXPECT_EQ(Refusal(ExamRequest(6000, 100000003, "pw6000", 0)), status::kNotAllowedHere);
    EXPECT_EQ(Send(FileList(6000, 100000003, "pw6000", 1)).status, 0);
    EXPECT_EQ(Send(ExamRequest(6000, 100000003, "pw6000", 1)).status, 0);
    EXPECT_EQ(Send(Upload(6000, 100000003, "pw6000", 2, package)).status, 0) << "no list: anywhere";

    // A course-wide list applies to every entry as well.
    server.LoadCourse(R"(
number = 6001
name = "Lab only, whole course"
allow = ["192.168.0.0/16"]
[[component]]
name = "Lab"
elements = 1
sections = 1
)");
    student.course = 6001;
    ASSERT_EQ(server.store().RegisterStudent(student), RegisterOutcome::Registered);
    EXPECT_EQ(Refusal(FileList(6001, 100000003, "pw6000", 0)), status::kNotAllowedHere);
}

TEST_F(ServerRequests, StatusLettersFollowTheClockAtRequestTime) {
    const int64_t now = int64_t(std::time(nullptr));
    const std::string hour = std::to_string(3600);
    server.LoadCourse("number = 7000\nname = \"Timed\"\n[[component]]\nname = \"A\"\n"
                      "elements = 5\nsections = 1\ntypes = \"Text,txt,A,8\"\n"
                      "[[component.entry]]\nopens = " +
                      std::to_string(now + 3600) +
                      "\n"
                      "[[component.entry]]\nopens = " +
                      std::to_string(now - 3600) + "\ndeadline = " + std::to_string(now + 3600) +
                      "\n"
                      "[[component.entry]]\ndeadline = " +
                      std::to_string(now - 3600) +
                      "\n"
                      "[[component.entry]]\ndeadline = " +
                      std::to_string(now - 3600) +
                      "\nmarks_released = true\n"
                      "[[component.entry]]\ndeadline = " +
                      std::to_string(now - 3600) + "\nstatus = \"O\"\n");
    auto result = Send(CourseListRequest());
    ASSERT_TRUE(result.reply);
    NetMessage& r = *result.reply;
    const int32_t courses = r.ReadInt();
    std::string letters;
    for (int32_t c = 0; c < courses; ++c) {
        const int32_t number = r.ReadInt();
        r.ReadString();
        r.ReadString();
        const int32_t entries = r.ReadInt();
        for (int32_t i = 0; i < entries; ++i) {
            const int32_t status = r.ReadInt();
            r.ReadInt();
            r.ReadString();
            if (number == 7000)
                letters += char(status);
        }
    }
    EXPECT_EQ(letters, "UOCMO");

    NewStudent student;
    student.course = 7000;
    student.number = 100000004;
    student.password = "pw7000";
    ASSERT_EQ(server.store().RegisterStudent(student), RegisterOutcome::Registered);
    const std::string package = PackageOf({{"a.txt", 'A', 8, "a"}});
    EXPECT_EQ(Refusal(Upload(7000, 100000004, "pw7000", 0, package)), status::kNotYetOpen);
    EXPECT_EQ(Send(Upload(7000, 100000004, "pw7000", 1, package)).status, 0);
    EXPECT_EQ(Refusal(Upload(7000, 100000004, "pw7000", 2, package)), status::kDeadlinePassed);
    EXPECT_EQ(Send(Upload(7000, 100000004, "pw7000", 4, package)).status, 0)
        << "an explicit 'O' reopens a closed entry";
}

TEST_F(ServerRequests, MalformedBodiesAreServerErrors) {
    NetMessage unknownKind;
    unknownKind.AppendInt(99);
    NetMessage badStep = FileList(kCourse, kStudent, kPassword, 2);
    NetMessage wrongStep;
    wrongStep.AppendInt(12);
    wrongStep.AppendInt(kCourse);
    wrongStep.AppendString("X");
    wrongStep.AppendInt(kStudent);
    wrongStep.AppendString(HashPassword(kPassword));
    wrongStep.AppendInt(2);
    NetMessage truncated;
    truncated.AppendInt(11);
    truncated.AppendInt(kCourse);
    truncated.AppendString("V");
    truncated.AppendInt(kStudent);
    NetMessage unterminated;
    unterminated.AppendInt(14);
    unterminated.AppendInt(kCourse);
    unterminated.AppendBytes("tjones", 6);
    NetMessage oneByte;
    oneByte.AppendBytes("\x01", 1);

    for (NetMessage* m : {&unknownKind, &wrongStep, &truncated, &unterminated, &oneByte}) {
        auto result = Send(*m);
        EXPECT_EQ(result.status, status::kServerError);
        EXPECT_FALSE(result.reply);
    }
    EXPECT_EQ(Send(badStep).status, 0) << "the server still answers afterwards";
}

} // namespace
} // namespace tallyport::test
