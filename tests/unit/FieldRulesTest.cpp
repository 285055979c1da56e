#include "accounts/FieldRules.h"

#include <gtest/gtest.h>

#include <string>

using namespace tallyport;

namespace {

struct TextCase {
    const char* why;
    std::string typed;
    unsigned minLength;
    unsigned maxLength;
    const char* label;
    bool allowBlank;
    bool allowLineBreaks;
    std::string message; // empty: passes
    std::string stored;  // the value after the rule ran
};

const char kAlnumPunct[] = " must consist only of alphanumeric and  punctuation characters";

// The account fields' rules: password 3-20 no blanks, name 1-35 with blanks, e-mail 1-100.
const TextCase kTextCases[] = {
    {"blanks around a password are trimmed", "  abc  ", 3, 20, "Password", false, false, "", "abc"},
    {"TAB, CR, LF, VT, FF at the ends are trimmed", "\t\r\n\v\fab1\t\n", 3, 20, "Password", false,
     false, "", "ab1"},
    {"trimming happens before the length test", "  ab  ", 3, 20, "Password", false, false,
     "Password must contain at least 3 characters", "ab"},
    {"two characters are too few", "ab", 3, 20, "Password", false, false,
     "Password must contain at least 3 characters", "ab"},
    {"three characters pass", "abc", 3, 20, "Password", false, false, "", "abc"},
    {"twenty characters pass", std::string(20, 'x'), 3, 20, "Password", false, false, "",
     std::string(20, 'x')},
    {"twenty-one characters are too many", std::string(21, 'x'), 3, 20, "Password", false, false,
     "Password must contain at most 20 characters", std::string(21, 'x')},
    {"only white space is empty after trimming", "   ", 1, 35, "Name", true, false,
     "Name must contain at least 1 characters", ""},
    {"a blank inside a name passes", "Ann Lee", 1, 35, "Name", true, false, "", "Ann Lee"},
    {"a blank inside an e-mail address fails", "Ann Lee", 1, 100, "E-mail address", false, false,
     std::string("E-mail address") + kAlnumPunct, "Ann Lee"},
    {"a comma fails with its own message", "Lee, Ann", 1, 35, "Name", true, false,
     "Name must not contain any commas (,)", "Lee, Ann"},
    {"the comma is reported even with a TAB after it", "a,\tb", 1, 35, "Name", true, false,
     "Name must not contain any commas (,)", "a,\tb"},
    {"the first offending character decides the message", "a\t,b", 1, 35, "Name", true, false,
     std::string("Name") + kAlnumPunct, "a\t,b"},
    {"a comma alone is a comma, not 'nothing'", ",", 1, 35, "Name", true, false,
     "Name must not contain any commas (,)", ","},
    {"punctuation only has nothing in it", "--", 1, 35, "Name", true, false,
     "Name must contain something", "--"},
    {"punctuation only passes with minimum 0", "--", 0, 35, "Name", true, false, "", "--"},
    {"empty passes with minimum 0", "", 0, 35, "Name", true, false, "", ""},
    {"every punctuation character is allowed", "a!\"#$%&'()*+-./:;<=>?@[\\]^_`{|}~", 1, 100,
     "E-mail address", false, false, "", "a!\"#$%&'()*+-./:;<=>?@[\\]^_`{|}~"},
    {"a TAB inside fails", "ab\tcd", 3, 20, "Password", false, false,
     std::string("Password") + kAlnumPunct, "ab\tcd"},
    {"an accented letter (Latin-1) fails", "Ren\xE9", 1, 35, "Name", true, false,
     std::string("Name") + kAlnumPunct, "Ren\xE9"},
    {"a UTF-8 letter fails", "Ren\xC3\xA9", 1, 35, "Name", true, false,
     std::string("Name") + kAlnumPunct, "Ren\xC3\xA9"},
    {"a no-break space at the end is not trimmed", "abc\xA0", 3, 20, "Password", false, false,
     std::string("Password") + kAlnumPunct, "abc\xA0"},
    {"DEL fails",
     "abc\x7F"
     "d",
     3, 20, "Password", false, false, std::string("Password") + kAlnumPunct,
     "abc\x7F"
     "d"},
    {"line breaks inside fail unless allowed", "ab\r\ncd", 1, 35, "Name", true, false,
     std::string("Name") + kAlnumPunct, "ab\r\ncd"},
    {"line breaks inside pass when allowed", "ab\r\ncd", 1, 35, "Name", true, true, "", "ab\r\ncd"},
    {"allowing line breaks does not allow TAB", "ab\tcd", 1, 35, "Name", true, true,
     std::string("Name") + kAlnumPunct, "ab\tcd"},
    {"length is counted in bytes", "\xC3\xA9\xC3\xA9", 1, 3, "Name", true, false,
     "Name must contain at most 3 characters", "\xC3\xA9\xC3\xA9"},
};

} // namespace

TEST(FieldRules, ValidateTextTable) {
    for (const TextCase& c : kTextCases) {
        std::string value = c.typed;
        const FieldCheck result =
            ValidateText(value, c.minLength, c.maxLength, c.label, c.allowBlank, c.allowLineBreaks);
        EXPECT_EQ(result ? result->text : "", c.message) << c.why;
        if (result) {
            EXPECT_EQ(result->icon, Icon::None) << c.why;
        }
        EXPECT_EQ(value, c.stored) << c.why;
    }
}

TEST(FieldRules, IntegerFieldReadsLikeScanfOnSixtyThreeCharacters) {
    struct Case {
        std::string typed;
        std::optional<int32_t> value; // none: a message is expected
        const char* message;
    };
    const Case cases[] = {
        {"3", 3, ""},
        {"3x", 3, ""},
        {" \t\n7", 7, ""},
        {"+5", 5, ""},
        {"-0", 0, ""},
        {"0", 0, ""},
        {"9", 9, ""},
        {"09", 9, ""},
        {"x", std::nullopt, "Enter an integer."},
        {"", std::nullopt, "Enter an integer."},
        {"-", std::nullopt, "Enter an integer."},
        {"+ 4", std::nullopt, "Enter an integer."},
        {"10", std::nullopt, "Enter an integer between 0 and 9."},
        {"-1", std::nullopt, "Enter an integer between 0 and 9."},
        {"99999999999999999999", std::nullopt, "Enter an integer between 0 and 9."},
        {"-99999999999999999999", std::nullopt, "Enter an integer between 0 and 9."},
        {std::string(62, ' ') + "5", 5, ""},
        {std::string(63, ' ') + "5", std::nullopt, "Enter an integer."},
        {std::string(63, '0') + "5", 0, ""}, // the 5 is past what the box hands over
    };
    for (const Case& c : cases) {
        int32_t value = -42;
        const FieldCheck result = ValidateInteger(c.typed, 0, 9, value);
        if (c.value) {
            EXPECT_FALSE(result) << '"' << c.typed << '"';
            EXPECT_EQ(value, *c.value) << '"' << c.typed << '"';
        } else {
            ASSERT_TRUE(result) << '"' << c.typed << '"';
            EXPECT_EQ(result->text, c.message) << '"' << c.typed << '"';
            EXPECT_EQ(value, -42) << "a failing field leaves the value alone";
        }
    }
}

TEST(FieldRules, IntegerMessagesCarryTheirIcons) {
    int32_t value = 0;
    EXPECT_EQ(ValidateInteger("x", 0, 9, value)->icon, Icon::None);
    EXPECT_EQ(ValidateInteger("12", 0, 9, value)->icon, Icon::Exclamation);
}

TEST(FieldRules, ListChoiceWithinBounds) {
    for (int32_t index : {0, 2, 4})
        EXPECT_FALSE(ValidateListChoice(index, 0, 4)) << index;
    for (int32_t index : {-1, 5}) {
        const FieldCheck result = ValidateListChoice(index, 0, 4);
        ASSERT_TRUE(result) << index;
        EXPECT_EQ(result->text, "Please select a response from the list.");
    }
}

TEST(FieldRules, ConfirmationComparesRetypedTextExactly) {
    EXPECT_FALSE(ConfirmPassword("Secret1", "Secret1"));
    for (const char* retyped : {"secret1", "Secret1 ", "  Secret1", "Secret", ""}) {
        const FieldCheck result = ConfirmPassword(retyped, "Secret1");
        ASSERT_TRUE(result) << '"' << retyped << '"';
        EXPECT_EQ(result->text, "You must reenter the same new password.  Try again");
    }
}
