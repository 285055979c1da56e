#include "protocol/PasswordHash.h"
#include "submission/SubmissionPackage.h"
#include "submission/SubmitRequests.h"
#include "submission/UploadPackage.h"
#include "support/ScriptedPeer.h"
#include "support/ScriptedPrompts.h"
#include "support/ScriptedTransactionUi.h"

#include <gtest/gtest.h>

#include <string>

namespace tallyport {
namespace {

using namespace std::string_literals;

const std::string kDashes =
    "--------------------------------------------------------------------------------";

SubmissionFile File(std::string name, ContentKind kind, int32_t tab, std::string content) {
    return {std::move(name), kind, std::move(content), tab};
}

SubmissionEntries TwoFileExample() {
    SubmissionEntries entries;
    entries.emplace_back(File("main.src", ContentKind::Normalised, 4, "one\r\ntwo\r\nthree\r\n"));
    entries.emplace_back(File("data.bin", ContentKind::NonAscii, 8, "\x00\xff"s));
    return entries;
}

TEST(PackageTest, TwoFileExampleByteForByte) {
    ASSERT_EQ(kDashes.size(), 80u);
    const std::string expected =
        "Number of Files: 2\r\n"
        "--------------------------------------------------------------------------------\r\n"
        "File #1: main.src,F,4,17\r\n"
        "one\r\n"
        "two\r\n"
        "three\r\n"
        "EOF\r\n"
        "--------------------------------------------------------------------------------\r\n"
        "File #2: data.bin,B,8,2\r\n"
        "\x00\xff"
        "EOF\r\n"s;
    const SubmissionEntries entries = TwoFileExample();
    EXPECT_EQ(PackageBytes(entries), expected);
    EXPECT_EQ(PackageSize(entries), int64_t(expected.size()));
}

TEST(PackageTest, EmptyFileAndTextThatLooksLikeTheEnd) {
    SubmissionEntries entries;
    entries.emplace_back(File("empty.txt", ContentKind::Ascii, 8, ""));
    entries.emplace_back(File("tricky.txt", ContentKind::Ascii, 0, "EOF\r\nabc"));
    const std::string expected = "Number of Files: 2\r\n" + kDashes + "\r\n" +
                                 "File #1: empty.txt,A,8,0\r\nEOF\r\n" + kDashes + "\r\n" +
                                 "File #2: tricky.txt,A,0,8\r\nEOF\r\nabcEOF\r\n";
    EXPECT_EQ(PackageBytes(entries), expected);
}

TEST(PackageTest, TenOrMoreFilesNumberWithoutPadding) {
    SubmissionEntries entries;
    for (int i = 1; i <= 12; ++i)
        entries.emplace_back(File("f" + std::to_string(i) + ".src", ContentKind::Ascii, 8, "x"));
    const std::string bytes = PackageBytes(entries);
    EXPECT_EQ(bytes.rfind("Number of Files: 12\r\n", 0), 0u);
    EXPECT_NE(bytes.find("EOF\r\n" + kDashes + "\r\nFile #9: f9.src,A,8,1\r\nxEOF\r\n" + kDashes +
                         "\r\nFile #10: f10.src,A,8,1\r\nxEOF\r\n"),
              std::string::npos);
    EXPECT_TRUE(bytes.ends_with("\r\nFile #12: f12.src,A,8,1\r\nxEOF\r\n"));
    EXPECT_EQ(PackageSize(entries), int64_t(bytes.size()));
}

TEST(PackageTest, EmptySlotsAreNotWritten) {
    SubmissionEntries entries;
    entries.emplace_back(File("a.src", ContentKind::Ascii, 8, "a"));
    entries.emplace_back(std::nullopt);
    entries.emplace_back(File("c.src", ContentKind::Ascii, 8, "c"));
    const std::string expected = "Number of Files: 2\r\n" + kDashes +
                                 "\r\nFile #1: a.src,A,8,1\r\naEOF\r\n" + kDashes +
                                 "\r\nFile #2: c.src,A,8,1\r\ncEOF\r\n";
    EXPECT_EQ(PackageBytes(entries), expected);
    EXPECT_EQ(PackageBytes({}), "Number of Files: 0\r\n");
}

TEST(PackageTest, UploadRequestCarriesThePackageAfterItsFields) {
    RequiredFileSet set;
    set.password = "demo123";
    set.studentNumber = 100123456; // 05 F7 C3 40
    set.entryIndex = 3;
    const SubmissionEntries entries = TwoFileExample();
    const NetMessage request = BuildUploadRequest(3101, set, entries);

    std::string expected = "\x00\x00\x00\x0c" // 12
                           "\x00\x00\x0c\x1d" // 3101
                           "S\x00"
                           "\x05\xf7\xc3\x40"s; // 100123456
    expected += HashPassword("demo123") + "\0"s;
    expected += "\x00\x00\x00\x03"s; // entry index
    expected += "\x00\x00\x01\x08"s; // 264, the package's size
    expected += PackageBytes(entries);
    ASSERT_EQ(PackageSize(entries), 264); // 20 + (82 + 26 + 17 + 5) + (82 + 25 + 2 + 5)
    const auto bytes = request.bytes();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), expected);
    // Allocated once at its final size (a multiple of 1024) rather than grown on the way.
    EXPECT_EQ(request.capacity() % 1024, 0);
    EXPECT_GE(request.capacity(), request.length());
    EXPECT_LE(request.capacity(), 2048);
}

// The upload goes out straight from the entries, never copied whole into one message, yet its
// body is exactly the request BuildUploadRequest makes; a package of several chunks, with an
// empty slot, is answered with its serial.
TEST(PackageTest, UploadSendsTheRequestStraightFromTheEntries) {
    test::ScriptedPeer peer;
    peer.Push(test::PeerAction::Reply(status::kSuccess,
                                      {std::byte(0), std::byte(0), std::byte(0), std::byte(42)}));
    RequiredFileSet set;
    set.password = "demo123";
    set.studentNumber = 100123456;
    set.entryIndex = 3;
    SubmissionEntries entries = TwoFileExample();
    entries.emplace_back(std::nullopt);
    std::string big(200'000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 61)
        big[i] = char('0' + i % 10);
    entries.emplace_back(File("big.dat", ContentKind::NonAscii, 8, big));
    test::ScriptedTransactionUi ui;
    test::ScriptedPrompts prompts;
    Transactor transactor(peer.endpoint(), ui);
    EXPECT_EQ(UploadPackage(transactor, prompts, 3101, set, entries), 42);
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].body, BuildUploadRequest(3101, set, entries).CopyOut());
}

TEST(PackageTest, FileListRequestFields) {
    const NetMessage request = BuildFileListRequest(3101, 100123456, "demo123", 7);
    std::string expected = "\x00\x00\x00\x0c\x00\x00\x0c\x1dV\x00\x05\xf7\xc3\x40"s;
    expected += HashPassword("demo123") + "\0"s;
    expected += "\x00\x00\x00\x07"s;
    const auto bytes = request.bytes();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), expected);
}

TEST(PackageTest, FileListReplyNeedsItsThreeFields) {
    const std::string good = "Source,src,A,4\0S,main.src\0\x00\x00\x00\x01"s;
    NetMessage reply = NetMessage::fromReply(std::as_bytes(std::span(good)));
    const auto fields = ReadFileListReply(reply);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->typeTable, "Source,src,A,4");
    EXPECT_EQ(fields->requirement, "S,main.src");
    EXPECT_EQ(fields->sizeFlag, 1);

    for (const std::string& bad : {"Source,src,A,4\0S,main.src\0\x00\x00"s, "Source"s, ""s}) {
        NetMessage shortReply = NetMessage::fromReply(std::as_bytes(std::span(bad)));
        EXPECT_FALSE(ReadFileListReply(shortReply));
    }
}

} // namespace
} // namespace tallyport
