// The account requests byte for byte against vectors written out by hand. The password fields
// hold crypt(3) with salt "QZ" of the trimmed password, worked out independently of our code.
#include "accounts/AccountRequests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tallyport;

namespace {

std::vector<std::byte> Bytes(std::string_view text) {
    std::vector<std::byte> out;
    for (char c : text)
        out.push_back(std::byte(c));
    return out;
}

std::vector<std::byte> Body(const NetMessage& message) {
    return {message.bytes().begin(), message.bytes().end()};
}

// Course 1606 = 00 00 06 46; student 100123456 = 05 F7 C3 40.
const std::string kHead10 = std::string("\0\0\0\x0A\0\0\x06\x46", 8);
const std::string kHead11 = std::string("\0\0\0\x0B\0\0\x06\x46", 8);
const std::string kStudent = std::string("\x05\xF7\xC3\x40", 4);
const std::string kDemo123Hash = std::string("QZeA4rc9ffzjc\0", 14); // crypt("demo123", "QZ")
const std::string kAbcHash = std::string("QZFMlEv6J8Yno\0", 14);     // crypt("abc", "QZ")

} // namespace

TEST(ValidateAccountRequests, Verification) {
    EXPECT_EQ(Body(BuildVerificationRequest(1606, 100123456)),
              Bytes(kHead10 + std::string("V\0", 2) + kStudent));
}

TEST(ValidateAccountRequests, RegistrationSendsTheHashNeverThePassword) {
    const NetMessage request =
        BuildRegistrationRequest(1606, 100123456, "demo123", "Ann Lee", "ann@example.org", "233");
    EXPECT_EQ(Body(request), Bytes(kHead10 + std::string("R\0", 2) + kStudent + kDemo123Hash +
                                   std::string("Ann Lee\0ann@example.org\0"
                                               "233\0",
                                               28)));
    EXPECT_EQ(request.capacity(), NetMessage::kRequestCapacity);
}

TEST(ValidateAccountRequests, StudentVerification) {
    EXPECT_EQ(Body(BuildStudentVerificationRequest(1606, 100123456, "demo123")),
              Bytes(kHead11 + std::string("V\0", 2) + kStudent + kDemo123Hash));
}

TEST(ValidateAccountRequests, UpdateCarriesCurrentThenNewHash) {
    EXPECT_EQ(Body(BuildUpdateRequest(1606, 100123456, "demo123", "abc", "Ann", "a@b")),
              Bytes(kHead11 + std::string("U\0", 2) + kStudent + kDemo123Hash + kAbcHash +
                    std::string("Ann\0a@b\0", 8)));
}

TEST(ValidateAccountRequests, AccountRecordNeedsBothStrings) {
    NetMessage whole = NetMessage::fromReply(Bytes(std::string("Ann Lee\0ann@x.org\0", 18)));
    const auto record = ReadAccountRecord(whole);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->name, "Ann Lee");
    EXPECT_EQ(record->email, "ann@x.org");

    for (const std::string& cut :
         {std::string("Ann Lee\0ann@x.org", 17), std::string("Ann Lee\0", 8), std::string()}) {
        NetMessage reply = NetMessage::fromReply(Bytes(cut));
        EXPECT_FALSE(ReadAccountRecord(reply)) << cut.size() << " bytes";
    }
}
