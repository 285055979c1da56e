// Passwords travel as the traditional DES crypt(3) with the salt "QZ".
#include "protocol/PasswordHash.h"

#include <gtest/gtest.h>

#include <string>

using namespace tallyport;

namespace {

bool InCryptAlphabet(char c) {
    return c == '.' || c == '/' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
}

} // namespace

TEST(PasswordHash, TraditionalCryptMatchesAPublishedValue) {
    // The widely published example of the traditional scheme.
    EXPECT_EQ(TraditionalCrypt("rasmuslerdorf", {'r', 'l', '\0'}), "rl.3StKT.4T8M");
}

TEST(PasswordHash, HashIsTheSaltAndElevenCryptCharacters) {
    for (const std::string password : {"demo123", "", "a", "twenty characters!!!", "p\xE9k"}) {
        SCOPED_TRACE(password);
        const std::string hash = HashPassword(password);
        ASSERT_EQ(hash.size(), 13u);
        EXPECT_EQ(hash.substr(0, 2), "QZ");
        for (char c : hash.substr(2))
            EXPECT_TRUE(InCryptAlphabet(c)) << c;
        EXPECT_EQ(HashPassword(password), hash); // the same on every call
        EXPECT_EQ(TraditionalCrypt(password, kPasswordSalt), hash);
    }
}

TEST(PasswordHash, OnlyTheFirstEightCharactersCount) {
    EXPECT_EQ(HashPassword("abcdefgh"), HashPassword("abcdefghXYZ"));
    EXPECT_EQ(HashPassword("password1"), HashPassword("password2"));
    EXPECT_NE(HashPassword("abcdefg"), HashPassword("abcdefgh"));
    EXPECT_NE(HashPassword("demo123"), HashPassword("demo124"));
    EXPECT_NE(HashPassword(""), HashPassword("a"));
    // The salt matters: the same key under another salt gives another hash.
    EXPECT_NE(HashPassword("demo123").substr(2),
              TraditionalCrypt("demo123", {'r', 'l', '\0'}).substr(2));
    // A NUL ends the password, as it would for crypt(3).
    EXPECT_EQ(HashPassword(std::string_view("ab\0cd", 5)), HashPassword("ab"));
}
