// The framing both ends share, against bytes worked out by hand.
#include "protocol/Wire.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <vector>

using namespace tallyport;

namespace {

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values)
        out.push_back(std::byte(v));
    return out;
}

} // namespace

TEST(ProtocolWire, IntegersAreFourBytesBigEndian) {
    struct Case {
        int32_t value;
        std::vector<std::byte> bytes;
    };
    for (const Case& c : std::vector<Case>{{0, Bytes({0, 0, 0, 0})},
                                           {12, Bytes({0, 0, 0, 0x0C})},
                                           {-4, Bytes({0xFF, 0xFF, 0xFF, 0xFC})},
                                           {0x69446D03, Bytes({0x69, 0x44, 0x6D, 0x03})},
                                           {INT32_MIN, Bytes({0x80, 0, 0, 0})},
                                           {INT32_MAX, Bytes({0x7F, 0xFF, 0xFF, 0xFF})}}) {
        SCOPED_TRACE(c.value);
        const auto encoded = wire::EncodeInt(c.value);
        EXPECT_EQ(std::vector<std::byte>(encoded.begin(), encoded.end()), c.bytes);
        EXPECT_EQ(wire::DecodeInt(std::span<const std::byte, 4>(c.bytes.data(), 4)), c.value);
    }
}

TEST(ProtocolWire, RequestHeaderCarriesMagicAddressSeedAndLength) {
    EXPECT_EQ(wire::EncodeRequestHeader("10.1.2.3", -2, 300),
              Bytes({0x69, 0x44, 0x6D, 0x03, 0,    0,    0,    8,    '1', '0', '.',  '1',
                     '.',  '2',  '.',  '3',  0xFF, 0xFF, 0xFF, 0xFE, 0,   0,   0x01, 0x2C}));
    // An address the platform cannot report goes out as an empty text.
    EXPECT_EQ(wire::EncodeRequestHeader("", 0, 0),
              Bytes({0x69, 0x44, 0x6D, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(wire::IsProtocolMagic(0x69446D03));
    EXPECT_FALSE(wire::IsProtocolMagic(0x036D4469));
    EXPECT_TRUE(wire::IsValidAddressLength(15));
    EXPECT_FALSE(wire::IsValidAddressLength(-1));
    EXPECT_FALSE(wire::IsValidAddressLength(wire::kMaxAddressLength + 1));
}

// Keystream of seed 1, worked out in KeystreamTest: 55 55 55 5D DD DD DD 8D ...
TEST(ProtocolWire, ReplyIsTheStatusThenForSuccessTheScrambledBody) {
    const auto body = Bytes({0, 0, 0, 0x2A, 'A', 'B', 'C', 0});
    EXPECT_EQ(wire::EncodeReply(0, body, 1),
              Bytes({0, 0, 0, 0, 0, 0, 0, 8, 0x55, 0x55, 0x55, 0x77, 0x9C, 0x9F, 0x9E, 0x8D}));
    EXPECT_EQ(wire::EncodeReply(-7, body, 1), Bytes({0xFF, 0xFF, 0xFF, 0xF9})); // no body
    EXPECT_EQ(wire::EncodeReply(0, {}, 1), Bytes({0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ProtocolWire, WholeRequestStreamOfTheCourseList) {
    // Seed 0x20000001 scrambles like seed 1 (only the low 29 bits count) but travels as it is.
    const auto body = Bytes({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(wire::EncodeRequest("127.0.0.1", 0x20000001, body),
              Bytes({0x69, 0x44, 0x6D, 0x03, 0,    0,    0,    9,    '1',  '2',  '7', '.',  '0',
                     '.',  '0',  '.',  '1',  0x20, 0,    0,    1,    0,    0,    0,   0x0C, 0x55,
                     0x55, 0x55, 0x5C, 0xDD, 0xDD, 0xDD, 0x8D, 0x8D, 0x8D, 0x8F, 0x8F}));
}
