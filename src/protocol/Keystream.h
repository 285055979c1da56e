// The scrambling keystream of the connection: a 29-bit shift register seeded with the session
// seed. Each byte is XORed with the 8 bits the register shifts in for it (newest in bit 0).
// XORing twice with the same seed restores the bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tallyport {

class Keystream {
public:
    explicit Keystream(int32_t seed);

    // XORs the next data.size() keystream bytes into data; the stream runs on across calls.
    void Apply(std::span<std::byte> data);

private:
    uint64_t NextWord(); // next 8 keystream bytes, first byte in the most significant position
    void RefillPending();

    // Keystream bits in time order, packed big-endian into 64-bit words; the last 16 words are
    // kept, enough for the recurrence x[n] = x[n-64] ^ x[n-928].
    std::array<uint64_t, 16> history_{};
    uint64_t produced_ = 0; // words produced so far
    uint64_t pending_ = 0;  // keystream bytes of the current word not yet used (high bytes first)
    int pendingCount_ = 0;
};

// Scrambles (or unscrambles) `data` in place with a fresh keystream from `seed`.
void ScrambleBytes(std::span<std::byte> data, int32_t seed);

// The plain one-step-at-a-time register, kept as the reference the fast keystream is tested
// and benchmarked against.
void ScrambleBytesBitwise(std::span<std::byte> data, int32_t seed);

} // namespace tallyport
