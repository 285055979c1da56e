#include "submission/LoadSubmissionFile.h"

#include <gtest/gtest.h>

#include <string>

namespace tallyport {
namespace {

using namespace std::string_literals;

TEST(LineEndTest, EveryLineEndBecomesCrLf) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a\nb", "a\r\nb\r\n"},
        {"a\r\r\nb\r\n", "a\r\n\r\nb\r\n"},
        {"x", "x\r\n"},
        {"x\r\n", "x\r\n"},
        {"\r", "\r\n"},
        {"\n", "\r\n"},
        {"a\n\n", "a\r\n\r\n"},
        {"\n\r", "\r\n\r\n"}, // LF then a lone CR: two line ends
        {"a\r\nb\rc\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        {"tab\there\n", "tab\there\r\n"},
        {"\xff\xfe\n", "\xff\xfe\r\n"}, // bytes above 0x7F are copied
        // The text ends at its first zero byte.
        {"ab\0cd\n"s, "ab\r\n"},
        {"ab\r\0\n"s, "ab\r\n"},
        // Nothing to end a line of: an empty text stays empty.
        {"", ""},
        {"\0abc"s, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(NormaliseLineEnds(c.in), c.out);
    }
}

TEST(LineEndTest, NormalisedTextIsAFixedPoint) {
    const std::string once = NormaliseLineEnds("one\ntwo\r\rthree\r\nfour");
    EXPECT_EQ(NormaliseLineEnds(once), once);
    EXPECT_EQ(once, "one\r\ntwo\r\n\r\nthree\r\nfour\r\n");
}

} // namespace
} // namespace tallyport
