#include "exam/ExamMessages.h"

#include <gtest/gtest.h>

#include <string>

using namespace tallyport;

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

std::string Text(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

TEST(ExamMessages, RequestBytesByHand) {
    // 15, course 3101 (00 00 0C 1D), student 100123456 (05 F7 C3 40), crypt("demo123", "QZ"),
    // entry 7; no step string.
    const NetMessage request = BuildExamRequest(3101, 100123456, "demo123", 7);
    const std::string expected = std::string("\0\0\0\x0F\0\0\x0C\x1D\x05\xF7\xC3\x40", 12) +
                                 std::string("QZeA4rc9ffzjc\0", 14) + std::string("\0\0\0\x07", 4);
    EXPECT_EQ(Text(request.bytes()), expected);
}

TEST(ExamMessages, ReadsEveryFileInOrder) {
    const std::string binary("\0\r\n\xFF", 4);
    NetMessage reply = Reply(Int(38) + Int(3) + File("q1.pdf", "%PDF") + File("lab\\a.c", "") +
                             File("b.bin", binary) + "trailing bytes are not read");
    const auto exam = ReadExamReply(reply);
    ASSERT_TRUE(exam);
    EXPECT_EQ(exam->selector, 38);
    ASSERT_EQ(exam->files.size(), 3u);
    EXPECT_EQ(exam->files[0].name, "q1.pdf");
    EXPECT_EQ(Text(exam->files[0].bytes), "%PDF");
    EXPECT_EQ(exam->files[1].name, "lab\\a.c");
    EXPECT_TRUE(exam->files[1].bytes.empty());
    EXPECT_EQ(exam->files[2].name, "b.bin");
    EXPECT_EQ(Text(exam->files[2].bytes), binary);
}

TEST(ExamMessages, RefusesRepliesThatDoNotHoldWhatTheyAnnounce) {
    const std::string one = File("q1.txt", "abc");
    const struct {
        const char* why;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"selector only", Int(2)},
        {"negative count", Int(2) + Int(-1) + one},
        {"count the bytes cannot hold", Int(2) + Int(0x7FFFFFFF) + one},
        {"one file more than sent", Int(2) + Int(2) + one},
        {"length past the end", Int(2) + Int(1) + "q1.txt" + '\0' + Int(4) + "abc"},
        {"huge length", Int(2) + Int(1) + "q1.txt" + '\0' + Int(0x7FFFFFFF) + "abc"},
        {"negative length", Int(2) + Int(1) + "q1.txt" + '\0' + Int(-3) + "abc"},
        {"name without its terminator", Int(2) + Int(1) + "q1.txt"},
        {"length cut short", Int(2) + Int(1) + "q1.txt" + std::string(3, '\0')},
    };
    for (const auto& c : cases) {
        NetMessage reply = Reply(c.bytes);
        EXPECT_FALSE(ReadExamReply(reply)) << c.why;
    }
}
