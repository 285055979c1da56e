#include "protocol/Keystream.h"

#include <bit>
#include <cstring>

namespace tallyport {
namespace {

constexpr uint32_t kStateMask = 0x1FFFFFFF;

// One step of the register: the new bit is bit 28 XOR bit 1, shifted in at bit 0.
inline uint32_t Step(uint32_t s) {
    const uint32_t f = ((s >> 28) ^ (s >> 1)) & 1u;
    return ((s << 1) & kStateMask) | f;
}

inline uint64_t LoadBigEndian(const std::byte* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        v = __builtin_bswap64(v);
    return v;
}

inline void StoreBigEndian(std::byte* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little)
        v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

} // namespace

// The shifted-in bits x[1], x[2], ... obey x[n] = x[n-2] ^ x[n-29] (polynomial z^29 + z^27 + 1).
// Squaring the polynomial five times gives x[n] = x[n-64] ^ x[n-928], valid once n-928 reaches
// back no further than the seed's own bits; so the first 15 words (960 bits) are made step by
// step and every later word in one operation from the words 1, 14 and 15 before it.
Keystream::Keystream(int32_t seed) {
    uint32_t s = uint32_t(seed) & kStateMask;
    for (int i = 0; i < 15; ++i) {
        uint64_t w = 0;
        for (int bit = 0; bit < 64; ++bit) {
            s = Step(s);
            w = (w << 1) | (s & 1u);
        }
        history_[i] = w;
    }
}

uint64_t Keystream::NextWord() {
    const uint64_t n = produced_++;
    if (n < 15)
        return history_[n];
    const uint64_t w1 = history_[(n - 1) & 15];
    const uint64_t w14 = history_[(n - 14) & 15];
    const uint64_t w15 = history_[(n - 15) & 15];
    const uint64_t w = w1 ^ ((w15 << 32) | (w14 >> 32));
    history_[n & 15] = w;
    return w;
}

void Keystream::RefillPending() {
    pending_ = NextWord();
    pendingCount_ = 8;
}

void Keystream::Apply(std::span<std::byte> data) {
    std::byte* p = data.data();
    std::size_t left = data.size();
    // Use up the rest of a word begun by an earlier call.
    while (left > 0 && pendingCount_ > 0) {
        *p++ ^= std::byte(pending_ >> 56);
        pending_ <<= 8;
        --pendingCount_;
        --left;
    }
    for (; left >= 8; left -= 8, p += 8)
        StoreBigEndian(p, LoadBigEndian(p) ^ NextWord());
    if (left > 0) {
        RefillPending();
        while (left > 0) {
            *p++ ^= std::byte(pending_ >> 56);
            pending_ <<= 8;
            --pendingCount_;
            --left;
        }
    }
}

void ScrambleBytes(std::span<std::byte> data, int32_t seed) {
    Keystream(seed).Apply(data);
}

void ScrambleBytesBitwise(std::span<std::byte> data, int32_t seed) {
    uint32_t s = uint32_t(seed) & kStateMask;
    for (auto& b : data) {
        for (int i = 0; i < 8; ++i)
            s = Step(s);
        b ^= std::byte(s & 0xFF);
    }
}

} // namespace tallyport
