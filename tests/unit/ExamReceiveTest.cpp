// What the Exam command does with a reply, on real files in a temporary folder. The selection
// table against the server is in tests/e2e/ExamDownloadTest.cpp.
#include "exam/ReceiveExamFiles.h"

#include "support/TempDir.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

using namespace tallyport;
namespace fs = std::filesystem;

namespace {

std::string Int(int32_t v) {
    const auto u = uint32_t(v);
    return {char(u >> 24), char(u >> 16), char(u >> 8), char(u)};
}

std::string File(std::string_view name, std::string_view bytes) {
    return std::string(name) + '\0' + Int(int32_t(bytes.size())) + std::string(bytes);
}

NetMessage Reply(const std::string& text) {
    return NetMessage::fromReply(
        std::span(reinterpret_cast<const std::byte*>(text.data()), text.size()));
}

void Put(const fs::path& path, std::string_view text) {
    std::ofstream(path) << text;
}

class ExamReceive : public ::testing::Test {
protected:
    void SetUp() override {
        Put(dir.path() / "old.pdf", "old");
        Put(dir.path() / "notes.txt", "mine");
    }
    test::TempDir dir;
};

} // namespace

TEST_F(ExamReceive, MalformedReplyTouchesNothing) {
    NetMessage reply = Reply(Int(2) + Int(2) + File("new.txt", "abc")); // one file short
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', dir.path());
    EXPECT_FALSE(outcome.received);
    EXPECT_TRUE(fs::exists(dir.path() / "old.pdf"));
    EXPECT_FALSE(fs::exists(dir.path() / "new.txt"));
    EXPECT_EQ(DescribeExamOutcome(outcome, dir.path()).text,
              "An error has occurred.  Please ask a TA for assistance");
}

TEST_F(ExamReceive, HostileNamesAreRefusedAndTheRestWritten) {
    const fs::path inside = dir.path() / "inside";
    fs::create_directory(inside);
    NetMessage reply = Reply(Int(9) + Int(4) + File("../escape.txt", "x") +
                             File(inside.string() + "/abs.txt", "x") + File("ok.txt", "fine") +
                             File("lab\\..\\..\\up.txt", "x"));
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', inside);
    EXPECT_TRUE(outcome.received);
    EXPECT_EQ(test::ReadFile(inside / "ok.txt"), "fine");
    EXPECT_FALSE(fs::exists(dir.path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "up.txt"));
    EXPECT_FALSE(fs::exists(inside / "abs.txt"));
    ASSERT_EQ(outcome.unsaved.size(), 3u);
    for (const UnsavedExamFile& file : outcome.unsaved)
        EXPECT_EQ(file.refused, ExamNameFault::LeadsOutside) << file.name;

    const ExamMessage message = DescribeExamOutcome(outcome, inside);
    EXPECT_EQ(message.icon, Icon::Error);
    EXPECT_EQ(message.text, "These files of your exam question could not be saved in " +
                                inside.string() +
                                ":\n"
                                "../escape.txt (refused: the name leads outside the folder)\n" +
                                inside.string() +
                                "/abs.txt (refused: the name leads outside the folder)\n"
                                "lab\\..\\..\\up.txt (refused: the name leads outside the "
                                "folder)\n"
                                "Please ask a TA for assistance");
}

// A name that names no file is not blamed on leaving the folder.
TEST_F(ExamReceive, NamesOfNoFileAreSaidToBeSo) {
    NetMessage reply = Reply(Int(9) + Int(4) + File("", "x") + File("lab/", "x") +
                             File("lab\\", "x") + File("q1.txt", "one"));
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', dir.path());
    EXPECT_EQ(test::ReadFile(dir.path() / "q1.txt"), "one");
    EXPECT_FALSE(fs::exists(dir.path() / "lab"));
    EXPECT_EQ(DescribeExamOutcome(outcome, dir.path()).text,
              "These files of your exam question could not be saved in " + dir.path().string() +
                  ":\n"
                  "\"\" (refused: the name names no file)\n"
                  "lab/ (refused: the name names no file)\n"
                  "lab\\ (refused: the name names no file)\n"
                  "Please ask a TA for assistance");
}

TEST_F(ExamReceive, UnwritableFileIsReportedNotPassedOver) {
    fs::create_directory(dir.path() / "q2.txt"); // a folder where the file should go
    NetMessage reply = Reply(Int(9) + Int(2) + File("q1.txt", "one") + File("q2.txt", "two"));
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', dir.path());
    EXPECT_EQ(test::ReadFile(dir.path() / "q1.txt"), "one");
    ASSERT_EQ(outcome.unsaved.size(), 1u);
    EXPECT_EQ(outcome.unsaved[0].name, "q2.txt");
    EXPECT_EQ(outcome.unsaved[0].refused, ExamNameFault::None);
    EXPECT_EQ(DescribeExamOutcome(outcome, dir.path()).text,
              "These files of your exam question could not be saved in " + dir.path().string() +
                  ":\nq2.txt (could not be written)\nPlease ask a TA for assistance");
}

TEST_F(ExamReceive, LongListOfUnsavedFilesIsCounted) {
    std::string body = Int(9) + Int(25);
    for (int i = 0; i < 25; ++i)
        body += File("../f" + std::to_string(i), "x");
    NetMessage reply = Reply(body);
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', dir.path());
    ASSERT_EQ(outcome.unsaved.size(), 25u);
    const std::string text = DescribeExamOutcome(outcome, dir.path()).text;
    EXPECT_NE(text.find("../f19 ("), std::string::npos);
    EXPECT_EQ(text.find("../f20 ("), std::string::npos);
    EXPECT_NE(text.find("\nand 5 more\nPlease ask a TA for assistance"), std::string::npos);
}

TEST_F(ExamReceive, FolderThatCannotBeUsedIsSaid) {
    const fs::path notAFolder = dir.path() / "notes.txt";
    NetMessage reply = Reply(Int(9) + Int(1) + File("q1.txt", "one"));
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', notAFolder);
    EXPECT_TRUE(outcome.received);
    ASSERT_TRUE(outcome.folderError);
    EXPECT_EQ(test::ReadFile(notAFolder), "mine");
    const ExamMessage message = DescribeExamOutcome(outcome, notAFolder);
    EXPECT_EQ(message.icon, Icon::Error);
    EXPECT_EQ(message.text.rfind("Your exam question could not be saved: ", 0), 0u);
}

TEST_F(ExamReceive, MissingFolderIsCreated) {
    const fs::path fresh = dir.path() / "fresh";
    NetMessage reply = Reply(Int(9) + Int(1) + File("q1.txt", "one"));
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', fresh);
    EXPECT_TRUE(outcome.received);
    EXPECT_TRUE(outcome.unsaved.empty());
    EXPECT_EQ(test::ReadFile(fresh / "q1.txt"), "one");
    EXPECT_EQ(DescribeExamOutcome(outcome, fresh).text,
              "Your exam question has been saved in " + fresh.string());
}

// Our server answers -12 for an entry without files, so a count of 0 is only seen from another
// server: the old PDF and EXE files are still cleared and the download counts as received.
TEST_F(ExamReceive, CountZeroClearsAndSucceeds) {
    NetMessage reply = Reply(Int(9) + Int(0));
    const ExamOutcome outcome = ReceiveExamFiles(reply, 'E', dir.path());
    EXPECT_TRUE(outcome.received);
    EXPECT_TRUE(outcome.unsaved.empty());
    EXPECT_FALSE(fs::exists(dir.path() / "old.pdf"));
    EXPECT_EQ(test::ReadFile(dir.path() / "notes.txt"), "mine");
}
