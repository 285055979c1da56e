#include "protocol/Keystream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace tallyport;

namespace {

std::vector<std::byte> Counting(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::byte(i * 31 + 7);
    return v;
}

} // namespace

// Every kernel must give the plain shift register's stream for every seed shape, well past the
// 7424 bits made before the eight-word recurrence takes over, however the bytes are split into
// calls: random seeds, lengths and chunk sizes, with chunks that start and end inside a word
// and inside an eight-word run.
TEST(Keystream, EveryKernelMatchesShiftRegisterForRandomSeedsLengthsAndSplits) {
    std::mt19937_64 random(20261210);
    std::vector<int32_t> seeds = {0, 1, 0x20000000, int32_t(0xFFFFFFFF), 0x1FFFFFFF, -4};
    for (int i = 0; i < 20; ++i)
        seeds.push_back(int32_t(random()));
    for (const KeystreamKernel kernel : SupportedKeystreamKernels()) {
        for (const int32_t seed : seeds) {
            SCOPED_TRACE(testing::Message() << "kernel " << int(kernel) << " seed " << seed);
            const std::size_t length = random() % 20000;
            auto expected = Counting(length);
            ScrambleBytesBitwise(expected, seed);
            auto pieces = Counting(length);
            Keystream ks(seed, kernel);
            std::size_t at = 0;
            while (at < length) {
                // Mostly short pieces, sometimes long ones that run the wide loop.
                const std::size_t limit = random() % 4 == 0 ? 3000 : 70;
                const std::size_t step = std::min<std::size_t>(length - at, random() % limit);
                ks.Apply(std::span(pieces).subspan(at, step));
                at += step;
            }
            EXPECT_EQ(pieces, expected);
            auto whole = Counting(length);
            ScrambleBytes(whole, seed);
            EXPECT_EQ(whole, expected);
        }
    }
}

TEST(Keystream, ChunkedApplicationContinuesTheStream) {
    auto whole = Counting(3001);
    auto pieces = whole;
    ScrambleBytes(whole, 987654321);
    Keystream ks(987654321);
    std::size_t at = 0;
    for (std::size_t step : {1, 3, 8, 13, 64, 7, 1000, 5}) {
        ks.Apply(std::span(pieces).subspan(at, step));
        at += step;
    }
    ks.Apply(std::span(pieces).subspan(at));
    EXPECT_EQ(whole, pieces);
}

// First keystream bytes worked out from the register by hand. Write x[1], x[2], ... for the bits
// shifted in and x[0], x[-1], ..., x[-28] for the seed's bits 0..28; then the step "bit 28 XOR
// bit 1" reads x[n] = x[n-2] ^ x[n-29]. Byte k is x[8k+1] .. x[8k+8], oldest bit in bit 7.
//
// Seed 1: only x[0] = 1, so x[1..28] = 0,1,0,1,... and bytes 0-2 are 01010101 = 55. Then
//   x29 = x27^x0 = 1, x30 = x28^x1 = 1, x31 = x29^x2 = 0, x32 = x30^x3 = 1: byte 3 = 01011101 = 5D
//   x33 = x31^x4 = 1, x34 = x32^x5 = 1, x35 = x33^x6 = 0, x36 = x34^x7 = 1,
//   x37 = x35^x8 = 1, x38 = x36^x9 = 1, x39 = x37^x10 = 0, x40 = x38^x11 = 1: byte 4 = DD.
// Seed 0x10000000: only x[-28] = 1, so x1 = x[-1]^x[-28] = 1 and x[1..28] = 1,0,1,0,...: bytes
//   0-2 are AA; x29 = x27^x0 = 1, x30 = x28^x1 = 1, x31 = x29^x2 = 1, x32 = x30^x3 = 0: byte 3 =
//   10101110 = AE; x33 = x31^x4 = 1, x34 = x32^x5 = 1, x35 = 1^0 = 1, x36 = 1^1 = 0, x37 = 1,
//   x38 = 1, x39 = 1, x40 = 0: byte 4 = EE.
// A seed whose low 29 bits are zero starts the register at zero, and it stays there.
TEST(Keystream, FirstBytesWorkedOutByHand) {
    struct Case {
        int32_t seed;
        std::vector<int> keystream;
    };
    const std::vector<Case> cases = {
        {1, {0x55, 0x55, 0x55, 0x5D, 0xDD}},
        {0x20000001, {0x55, 0x55, 0x55, 0x5D, 0xDD}}, // same low 29 bits
        {int32_t(0xE0000001), {0x55, 0x55, 0x55, 0x5D, 0xDD}},
        {0x10000000, {0xAA, 0xAA, 0xAA, 0xAE, 0xEE}},
        {0x20000000, {0, 0, 0, 0, 0}},
        {int32_t(0xE0000000), {0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        std::vector<std::byte> expected;
        for (int v : c.keystream)
            expected.push_back(std::byte(v));
        std::vector<std::byte> fast(expected.size()); // zeros: the keystream itself
        std::vector<std::byte> slow(expected.size());
        ScrambleBytes(fast, c.seed);
        ScrambleBytesBitwise(slow, c.seed);
        EXPECT_EQ(fast, expected);
        EXPECT_EQ(slow, expected);
    }
}

TEST(Keystream, ScramblingTwiceRestoresAndLowZeroSeedLeavesBytesAlone) {
    const auto plain = Counting(777);
    auto data = plain;
    ScrambleBytes(data, -123456789);
    EXPECT_NE(data, plain);
    ScrambleBytes(data, -123456789);
    EXPECT_EQ(data, plain);
    ScrambleBytes(data, 0x40000000);
    EXPECT_EQ(data, plain);
    std::vector<std::byte> none;
    ScrambleBytes(none, 5); // an empty run is fine
    EXPECT_TRUE(none.empty());
}
