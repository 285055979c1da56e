#include "protocol/Keystream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace tallyport {
namespace {

constexpr uint32_t kStateMask = 0x1FFFFFFF;
constexpr uint64_t kRingMask = Keystream::kRingWords - 1;
constexpr std::size_t kRingBytes = Keystream::kRingWords * 8;

// Words made before the fast recurrence can start: it reaches 116 words back.
constexpr std::size_t kStartWords = 116;
// Words made from the register before the word recurrence x[n] = x[n-64] ^ x[n-928] can start.
constexpr std::size_t kStepWords = 15;

// One step of the register: the new bit is bit 28 XOR bit 1, shifted in at bit 0.
inline uint32_t Step(uint32_t s) {
    const uint32_t f = ((s >> 28) ^ (s >> 1)) & 1u;
    return ((s << 1) & kStateMask) | f;
}

// The next 64 bits the register shifts in from state `s`, first bit most significant.
uint64_t NextWordStepByStep(uint32_t s) {
    uint64_t word = 0;
    for (int bit = 0; bit < 64; ++bit) {
        s = Step(s);
        word = (word << 1) | (s & 1u);
    }
    return word;
}

// The register is linear over GF(2): the next 64 bits from a state are the XOR of what each of
// its set bits gives alone. So they are read from four tables, one per byte of the state, made
// once from the register itself. After those 64 steps the state is the word's low 29 bits.
class NextWordTables {
public:
    NextWordTables() {
        for (int byte = 0; byte < 4; ++byte) {
            for (uint32_t value = 1; value < 256; ++value) {
                const uint32_t low = value & (~value + 1); // its lowest set bit
                tables_[byte][value] = value == low
                                           ? NextWordStepByStep((value << (8 * byte)) & kStateMask)
                                           : tables_[byte][low] ^ tables_[byte][value ^ low];
            }
        }
    }
    uint64_t operator()(uint32_t s) const {
        return tables_[0][s & 0xFF] ^ tables_[1][(s >> 8) & 0xFF] ^ tables_[2][(s >> 16) & 0xFF] ^
               tables_[3][s >> 24];
    }

private:
    std::array<std::array<uint64_t, 256>, 4> tables_{};
};

// A word with the first keystream bit in the most significant position, stored so that its
// bytes lie in stream order.
inline uint64_t InStreamOrder(uint64_t bigEndianWord) {
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap64(bigEndianWord);
    return bigEndianWord;
}

using Words4 = uint64_t __attribute__((vector_size(32)));

// Makes `groups` runs of 8 keystream words, words w, w+1, ... onward, into the ring and XORs
// each run into the next 64 bytes of `data`. The previous run stays in registers; the state
// lives in locals so that the stores into `data` never force it back to memory.
[[gnu::always_inline]] inline void ApplyGroupsBody(uint64_t* __restrict ring, uint64_t w,
                                                   std::byte* __restrict data, std::size_t groups) {
    Words4 lo, hi, oldLo, oldHi, dataLo, dataHi;
    std::memcpy(&lo, ring + ((w - 8) & kRingMask), 32);
    std::memcpy(&hi, ring + ((w - 4) & kRingMask), 32);
    for (; groups > 0; --groups, w += 8, data += 64) {
        // 116 is a multiple of 4, so each half is one aligned, unwrapped run of the ring.
        std::memcpy(&oldLo, ring + ((w - 116) & kRingMask), 32);
        std::memcpy(&oldHi, ring + ((w - 112) & kRingMask), 32);
        lo ^= oldLo;
        hi ^= oldHi;
        std::memcpy(ring + (w & kRingMask), &lo, 32);
        std::memcpy(ring + ((w + 4) & kRingMask), &hi, 32);
        std::memcpy(&dataLo, data, 32);
        std::memcpy(&dataHi, data + 32, 32);
        dataLo ^= lo;
        dataHi ^= hi;
        std::memcpy(data, &dataLo, 32);
        std::memcpy(data + 32, &dataHi, 32);
    }
}

void ApplyGroupsPortable(uint64_t* ring, uint64_t w, std::byte* data, std::size_t groups) {
    ApplyGroupsBody(ring, w, data, groups);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void ApplyGroupsAvx2(uint64_t* ring, uint64_t w, std::byte* data,
                                             std::size_t groups) {
    ApplyGroupsBody(ring, w, data, groups);
}
#endif

std::vector<KeystreamKernel> FindSupportedKernels() {
    std::vector<KeystreamKernel> kernels{KeystreamKernel::Portable};
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        kernels.push_back(KeystreamKernel::Avx2);
#endif
    return kernels;
}

} // namespace

std::span<const KeystreamKernel> SupportedKeystreamKernels() {
    static const std::vector<KeystreamKernel> supported = FindSupportedKernels();
    return supported;
}

Keystream::Keystream(int32_t seed) : Keystream(seed, SupportedKeystreamKernels().back()) {}

// The shifted-in bits x[1], x[2], ... obey x[n] = x[n-2] ^ x[n-29] (polynomial
// P = z^29 + z^27 + 1). Over GF(2), P^2 = P(z^2), so squaring k times gives
// x[n] = x[n-2^(k+1)] ^ x[n-29*2^k], a sum of copies of the step relation shifted back by up to
// 29*2^k - 29; it holds once those copies only reach the seed's bits, i.e. for n > 29*(2^k - 1).
// k = 5 gives x[n] = x[n-64] ^ x[n-928] (n > 899); k = 8 gives x[n] = x[n-512] ^ x[n-7424]
// (n > 7395), which in 64-bit words is word[w] = word[w-8] ^ word[w-116]: eight words at once
// from whole words, with no shifting. The first 15 words (960 bits) come from the register (64
// steps at a time, by table), the next 101 from the k = 5 form, every later one from the k = 8
// form.
Keystream::Keystream(int32_t seed, KeystreamKernel kernel) : applyGroups_(ApplyGroupsPortable) {
#if defined(__x86_64__) || defined(__i386__)
    if (kernel == KeystreamKernel::Avx2)
        applyGroups_ = ApplyGroupsAvx2;
#else
    (void)kernel;
#endif
    static const NextWordTables nextWord;
    std::array<uint64_t, kStartWords> words; // first bit most significant
    uint32_t s = uint32_t(seed) & kStateMask;
    for (std::size_t i = 0; i < kStepWords; ++i) {
        words[i] = nextWord(s);
        s = uint32_t(words[i]) & kStateMask;
    }
    for (std::size_t n = kStepWords; n < kStartWords; ++n)
        words[n] = words[n - 1] ^ ((words[n - 15] << 32) | (words[n - 14] >> 32));
    for (std::size_t n = 0; n < kStartWords; ++n)
        ring_[n] = InStreamOrder(words[n]);
    generated_ = kStartWords;
}

void Keystream::XorFromRing(std::byte* data, std::size_t count) {
    const auto* keys = reinterpret_cast<const std::byte*>(ring_.data());
    for (std::size_t i = 0; i < count; ++i)
        data[i] ^= keys[(used_ + i) % kRingBytes];
    used_ += count;
}

void Keystream::Apply(std::span<std::byte> data) {
    std::byte* p = data.data();
    std::size_t left = data.size();
    // Bytes already made: the start-up words, or the rest of a run begun by an earlier call.
    const std::size_t ready = std::min<std::size_t>(left, generated_ * 8 - used_);
    XorFromRing(p, ready);
    p += ready;
    left -= ready;
    if (const std::size_t groups = left / 64; groups > 0) {
        applyGroups_(ring_.data(), generated_, p, groups);
        generated_ += groups * 8;
        used_ += groups * 64;
        p += groups * 64;
        left -= groups * 64;
    }
    if (left > 0) { // one more run, partly used; the rest stays in the ring for the next call
        std::array<std::byte, 64> run{};
        std::memcpy(run.data(), p, left);
        applyGroups_(ring_.data(), generated_, run.data(), 1);
        std::memcpy(p, run.data(), left);
        generated_ += 8;
        used_ += left;
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
