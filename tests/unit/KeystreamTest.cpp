#include "protocol/Keystream.h"

#include <gtest/gtest.h>

#include <numeric>
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

// The word-at-a-time keystream must equal the plain shift register for every seed shape,
// including runs far past the 960 bits the fast form starts from.
TEST(Keystream, MatchesShiftRegisterStepByStep) {
    for (int32_t seed : {0, 1, 0x20000000, int32_t(0xFFFFFFFF), 0x12345678, 0x1FFFFFFF, -4}) {
        auto fast = Counting(5000);
        auto slow = fast;
        ScrambleBytes(fast, seed);
        ScrambleBytesBitwise(slow, seed);
        EXPECT_EQ(fast, slow) << "seed " << seed;
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
