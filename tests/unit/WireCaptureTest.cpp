// What an eavesdropper on the network sees: a whole session of the real client requests (register,
// verify, change the password, submit, view, download an exam) is captured on loopback with
// dumpcap, and the capture is searched for the passwords, their hashes and the submitted text.
#include "ServerTestHelpers.h"

#include "accounts/AccountRequests.h"
#include "exam/ExamMessages.h"
#include "marking/MarkedRequests.h"
#include "protocol/Keystream.h"
#include "submission/SubmitRequests.h"
#include "support/LoopbackCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace tallyport::test {
namespace {

constexpr int32_t kCourse = 3101;
constexpr int32_t kStudent = 100777123;
// DES crypt reads 8 characters: the two passwords differ within them.
constexpr std::string_view kOldPassword = "Plum4711";
constexpr std::string_view kNewPassword = "Quince08";
constexpr std::string_view kName = "Ada Capture";
constexpr std::string_view kEmail = "ada.capture@example.edu";
const std::string kSubmittedText = "The plan of the capture test, line by line.\r\n";
const std::string kExamText =
    "Lab 1\r\nWrite a program that prints the sum of the numbers in data.txt.\r\n";

bool Contains(const std::string& haystack, std::string_view needle) {
    return haystack.find(needle) != std::string::npos;
}

int Count(const std::string& haystack, std::string_view needle) {
    int count = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
        ++count;
    return count;
}

struct Sent {
    std::string title;
    std::string body;  // the request as the client built it
    std::string reply; // the plain reply body (empty without one)
    StatusCode status = 1;
};

// The request stream of one captured connection, read with the plain rules of the format:
// magic, address length, address text, seed, body length, scrambled body.
struct CapturedRequest {
    std::string address;
    int32_t seed = 0;
    std::string body; // unscrambled
};

int32_t BigEndianAt(const std::string& s, std::size_t at) {
    return int32_t(uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
                   uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]));
}

std::optional<CapturedRequest> ReadCapturedRequest(const std::string& stream) {
    if (stream.size() < 8 || stream.substr(0, 4) != "\x69\x44\x6D\x03")
        return std::nullopt;
    const auto addressLength = std::size_t(BigEndianAt(stream, 4));
    if (addressLength > 64 || stream.size() < 16 + addressLength)
        return std::nullopt;
    CapturedRequest request;
    request.address = stream.substr(8, addressLength);
    request.seed = BigEndianAt(stream, 8 + addressLength);
    const auto length = std::size_t(BigEndianAt(stream, 12 + addressLength));
    if (stream.size() != 16 + addressLength + length)
        return std::nullopt;
    request.body = stream.substr(16 + addressLength);
    ScrambleBytesBitwise(
        std::span(reinterpret_cast<std::byte*>(request.body.data()), request.body.size()),
        request.seed);
    return request;
}

// The reply stream: status, and for status 0 a length and the scrambled reply.
std::optional<std::string> ReadCapturedReply(const std::string& stream, int32_t seed) {
    if (stream.size() < 4 || BigEndianAt(stream, 0) != 0)
        return std::nullopt;
    if (stream.size() == 4)
        return std::string();
    if (stream.size() < 8 || stream.size() != 8 + std::size_t(BigEndianAt(stream, 4)))
        return std::nullopt;
    std::string reply = stream.substr(8);
    ScrambleBytesBitwise(std::span(reinterpret_cast<std::byte*>(reply.data()), reply.size()), seed);
    return reply;
}

class WireCapture : public ::testing::Test {
protected:
    void SetUp() override { server.LoadDemo(); }

    // One request through the real transaction; the reply is kept as plain bytes.
    std::optional<NetMessage> Run(const NetMessage& request, std::string_view title) {
        ScriptedTransactionUi ui;
        Transactor transactor(server.endpoint(), ui);
        Sent sent;
        sent.title = title;
        sent.body = Text(request.bytes());
        auto reply = transactor.Transact(request, sent.status, title);
        if (reply)
            sent.reply = Text(reply->bytes());
        session.push_back(sent);
        return reply;
    }

    TempDir dir;
    InProcessServer server{dir.path(), "127.0.0.12"};
    std::vector<Sent> session;
};

TEST_F(WireCapture, NoPasswordHashOrSubmittedTextTravelsInTheClear) {
    std::string whyNot;
    auto capture = LoopbackCapture::Start("127.0.0.12", server.endpoint().port, whyNot);
    if (!capture)
        GTEST_SKIP() << "no capture possible here: " << whyNot;

    Run(BuildVerificationRequest(kCourse, kStudent), "Verification");
    Run(BuildRegistrationRequest(kCourse, kStudent, kOldPassword, kName, kEmail, "233"),
        "Registration Information");
    auto record = Run(BuildStudentVerificationRequest(kCourse, kStudent, kOldPassword),
                      "Student Verification");
    ASSERT_TRUE(record);
    ASSERT_TRUE(ReadAccountRecord(*record));
    Run(BuildUpdateRequest(kCourse, kStudent, kOldPassword, kNewPassword, kName, kEmail),
        "Password & E-mail Address");
    auto fileList = Run(BuildFileListRequest(kCourse, kStudent, kNewPassword, 2), kFileListTitle);
    ASSERT_TRUE(fileList);
    const auto fields = ReadFileListReply(*fileList);
    ASSERT_TRUE(fields);
    const RequiredFileSet set =
        BuildRequiredFileSet(fields->typeTable, fields->requirement, fields->sizeFlag,
                             std::string(kNewPassword), kStudent, 2);
    SubmissionEntries entries;
    entries.push_back(SubmissionFile{"notes.txt", ContentKind::Ascii, kSubmittedText, 8});
    auto serial = Run(BuildUploadRequest(kCourse, set, entries), kUploadTitle);
    ASSERT_TRUE(serial);
    auto marked = Run(BuildMarkedAssignmentRequest(kCourse, kStudent, kNewPassword, 2),
                      kMarkedAssignmentTitle);
    ASSERT_TRUE(marked);
    const auto view = ReadMarkedReply(*marked);
    ASSERT_TRUE(view);
    ASSERT_TRUE(Contains(Text(view->package), kSubmittedText)) << "the package came back";
    Run(BuildMarkerNameRequest(kCourse, "tjones"), kMarkerNameTitle);
    auto exam = Run(BuildExamRequest(kCourse, kStudent, kNewPassword, 4), "Exam Question");
    ASSERT_TRUE(exam);
    const auto examReply = ReadExamReply(*exam);
    ASSERT_TRUE(examReply);
    ASSERT_FALSE(examReply->files.empty());
    ASSERT_EQ(Text(examReply->files[0].bytes), kExamText);
    for (const auto& sent : session)
        ASSERT_EQ(sent.status, 0) << sent.title;

    ASSERT_TRUE(capture->StopAfterMarker("end of session")) << capture->error();
    const std::string raw = capture->bytes();

    // Nothing to learn in the clear.
    const std::string secrets[] = {std::string(kOldPassword),
                                   std::string(kNewPassword),
                                   HashPassword(kOldPassword),
                                   HashPassword(kNewPassword),
                                   kSubmittedText,
                                   kExamText,
                                   std::string(kName),
                                   std::string(kEmail)};
    for (const auto& secret : secrets)
        EXPECT_FALSE(Contains(raw, secret)) << "\"" << secret << "\" is in the capture";

    // The capture is real and whole: one connection per request, each opened by the clear part
    // of the preamble, and every body in it is the request the client built, scrambled with the
    // seed that precedes it; so the secrets above did travel, only not in the clear.
    const auto connections = capture->Connections();
    ASSERT_EQ(connections.size(), session.size());
    for (std::size_t i = 0; i < connections.size(); ++i) {
        SCOPED_TRACE(session[i].title);
        const auto& connection = connections[i];
        ASSERT_TRUE(connection.complete);
        const auto request = ReadCapturedRequest(connection.toServer);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->address, connection.clientAddress) << "the client's own address";
        EXPECT_TRUE(request->body == session[i].body);
        const auto reply = ReadCapturedReply(connection.toClient, request->seed);
        ASSERT_TRUE(reply);
        EXPECT_TRUE(*reply == session[i].reply);
    }
    const std::string preamble = std::string("\x69\x44\x6D\x03\x00\x00\x00", 7) +
                                 char(connections[0].clientAddress.size()) +
                                 connections[0].clientAddress;
    EXPECT_EQ(Count(raw, preamble), int(session.size()));
    EXPECT_TRUE(Contains(session[1].body, HashPassword(kOldPassword)));
    EXPECT_TRUE(Contains(session[5].body, kSubmittedText));
}

} // namespace
} // namespace tallyport::test
