// The flat JSON reader the staff save reads its body with: the texts it takes and refuses (the
// same as nlohmann's, which the staff_marking fuzz target checks on every corpus input), its
// limits, and how values are found in what it read.
#include "web/FlatJson.h"

#include <gtest/gtest.h>

namespace tallyport::server::staff {
namespace {

constexpr FlatJson::Limits kLoose{1000, 100};

TEST(FlatJson, TakesJsonAndRefusesTheRestWithAReason) {
    const struct {
        std::string text;
        bool taken;
    } cases[] = {
        {R"({"a": [1, -2, 3.5, true, false, null, "x"]})", true},
        {" \t\r\n[ ]\n", true},
        {"\xEF\xBB\xBF{}", true},                // a byte order mark before the value
        {std::string("{}\0trailing", 11), true}, // a NUL byte ends the text
        {R"(["\ud83d\ude00 \u0000 \/"])", true},
        {"[1e400]", false}, // beyond the largest double
        {"[1e-400, -0, 18446744073709551616]", true},
        {"", false},
        {"[1,]", false},
        {"[01]", false},
        {"[1.]", false},
        {"{\"a\" 1}", false},
        {"{} {}", false},
        {"[\"\\udc00\"]", false},      // a lone low surrogate
        {"[\"\\ud800x\"]", false},     // a high one alone
        {"[\"\xC0\xAF\"]", false},     // overlong UTF-8
        {"[\"\xED\xA0\x80\"]", false}, // a surrogate in UTF-8
        {"[\"tab\there\"]", false},    // a control character in a string
        {"\xEF\xBB{}", false},
        {"[truefalse]", false},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto document = FlatJson::Parse(c.text, kLoose, why);
        EXPECT_EQ(bool(document), c.taken) << c.text << " -> " << why;
        if (!c.taken)
            EXPECT_NE(why.find("not JSON"), std::string::npos) << c.text << " -> " << why;
    }
}

TEST(FlatJson, ValuesAndDepthAreBounded) {
    std::string why;
    EXPECT_TRUE(FlatJson::Parse("[[[1]]]", {4, 3}, why)) << why;
    EXPECT_FALSE(FlatJson::Parse("[[[[1]]]]", {10, 3}, why));
    EXPECT_EQ(why, "the body nests deeper than 3 levels");
    EXPECT_FALSE(FlatJson::Parse("[1, 2, 3, 4]", {4, 3}, why));
    EXPECT_EQ(why, "the body holds more than 4 values");
    EXPECT_TRUE(FlatJson::Parse(R"({"a": 1, "b": 2})", {3, 3}, why)) << "keys are not values";
}

TEST(FlatJson, MembersAndElementsAreFoundInOrder) {
    std::string why;
    const auto document = FlatJson::Parse(
        R"({"n": 18446744073709551615, "s": "a\"b", "n": -9223372036854775808, "l": [[], {}, 7]})",
        kLoose, why);
    ASSERT_TRUE(document) << why;
    const auto root = document->root();
    EXPECT_TRUE(root.is_object());
    EXPECT_EQ(root.size(), 4u);
    // The last member of a name wins, as in a map.
    ASSERT_TRUE(root.Find("n"));
    EXPECT_FALSE(root.Find("n").is_unsigned());
    EXPECT_EQ(root.Find("n").integer(), INT64_MIN);
    EXPECT_EQ(root.Find("s").string(), "a\"b");
    EXPECT_FALSE(root.Find("missing"));
    const auto list = root.Find("l");
    ASSERT_TRUE(list.is_array());
    EXPECT_EQ(list.size(), 3u);
    const auto first = list.First();
    EXPECT_TRUE(first.is_array());
    EXPECT_EQ(first.size(), 0u);
    EXPECT_TRUE(first.Next().is_object());
    EXPECT_FALSE(first.Next().Find("x")) << "nothing in an empty object";
    EXPECT_EQ(first.Next().Next().unsigned_integer(), 7u);
    EXPECT_FALSE(first.Next().Next().Next()) << "the end of the list";
    EXPECT_FALSE(list.Find("x")) << "a list has no members";
}

} // namespace
} // namespace tallyport::server::staff
