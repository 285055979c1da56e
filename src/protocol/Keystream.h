// The scrambling keystream of the connection: a 29-bit shift register seeded with the session
// seed. Each byte is XORed with the 8 bits the register shifts in for it (newest in bit 0).
// XORing twice with the same seed restores the bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tallyport {

// The forms of the keystream's inner loop: portable vector code, and the same code built for
// AVX2 where the processor has it.
enum class KeystreamKernel { Portable, Avx2 };

// The kernels this processor can run, the fastest last.
std::span<const KeystreamKernel> SupportedKeystreamKernels();

class Keystream {
public:
    explicit Keystream(int32_t seed); // with the fastest kernel
    Keystream(int32_t seed, KeystreamKernel kernel);

    // XORs the next data.size() keystream bytes into data; the stream runs on across calls.
    void Apply(std::span<std::byte> data);

    // Keystream words are kept in stream byte order, and a word depends on the words 8 and 116
    // before it (see Keystream.cpp); the ring holds the last 128 of them.
    static constexpr std::size_t kRingWords = 128;

private:
    void XorFromRing(std::byte* data, std::size_t count);

    using ApplyGroupsFn = void (*)(uint64_t*, uint64_t, std::byte*, std::size_t);

    alignas(64) std::array<uint64_t, kRingWords> ring_{};
    ApplyGroupsFn applyGroups_;
    uint64_t generated_ = 0; // keystream words made so far
    uint64_t used_ = 0;      // keystream bytes XORed into data so far
};

// Scrambles (or unscrambles) `data` in place with a fresh keystream from `seed`.
void ScrambleBytes(std::span<std::byte> data, int32_t seed);

// The plain one-step-at-a-time register, kept as the reference the fast keystream is tested
// and benchmarked against.
void ScrambleBytesBitwise(std::span<std::byte> data, int32_t seed);

} // namespace tallyport
