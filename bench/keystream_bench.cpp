// Scrambler throughput: the keystream (each kernel this processor runs) and the one-step-at-a-time
// register, beside the bound of what any scrambler can do: the same buffer XORed in place with a
// stored pattern (read, XOR, write back; memory bandwidth at 64 MiB, cache bandwidth at 1 MiB),
// and memcpy of the same buffer.
//   keystream_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "protocol/Keystream.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kPatternBytes = 4096; // stays in the first-level cache

std::vector<std::byte> Buffer(std::size_t size) {
    std::vector<std::byte> buffer(size);
    for (std::size_t i = 0; i < size; ++i)
        buffer[i] = std::byte(i * 131 + 17);
    return buffer;
}

void BM_ScrambleBytes(benchmark::State& state) {
    auto buffer = Buffer(std::size_t(state.range(0)));
    for (auto _ : state) {
        tallyport::ScrambleBytes(buffer, 0x12345678);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_KeystreamKernel(benchmark::State& state, tallyport::KeystreamKernel kernel) {
    auto buffer = Buffer(std::size_t(state.range(0)));
    for (auto _ : state) {
        tallyport::Keystream(0x12345678, kernel).Apply(buffer);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// The baseline loop, in the same vector form as the scrambler's and with the same runtime choice
// of AVX2, so that the two differ only in where the XORed bytes come from.
using Words4 = uint64_t __attribute__((vector_size(32)));

[[gnu::always_inline]] inline void XorPatternBody(std::byte* __restrict data, std::size_t size,
                                                  const std::byte* __restrict pattern) {
    Words4 d0, d1, p0, p1;
    for (std::size_t at = 0; at + 64 <= size; at += 64) {
        const std::byte* from = pattern + at % kPatternBytes;
        std::memcpy(&d0, data + at, 32);
        std::memcpy(&d1, data + at + 32, 32);
        std::memcpy(&p0, from, 32);
        std::memcpy(&p1, from + 32, 32);
        d0 ^= p0;
        d1 ^= p1;
        std::memcpy(data + at, &d0, 32);
        std::memcpy(data + at + 32, &d1, 32);
    }
}

void XorPatternPortable(std::byte* data, std::size_t size, const std::byte* pattern) {
    XorPatternBody(data, size, pattern);
}

[[gnu::target("avx2")]] void XorPatternAvx2(std::byte* data, std::size_t size,
                                            const std::byte* pattern) {
    XorPatternBody(data, size, pattern);
}

void BM_XorStoredPattern(benchmark::State& state) {
    auto buffer = Buffer(std::size_t(state.range(0)));
    alignas(64) std::array<std::byte, kPatternBytes> pattern{};
    tallyport::ScrambleBytes(pattern, 0x12345678);
    const auto xorPattern = __builtin_cpu_supports("avx2") ? XorPatternAvx2 : XorPatternPortable;
    for (auto _ : state) {
        xorPattern(buffer.data(), buffer.size(), pattern.data());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_ScrambleBytesBitwise(benchmark::State& state) {
    auto buffer = Buffer(std::size_t(state.range(0)));
    for (auto _ : state) {
        tallyport::ScrambleBytesBitwise(buffer, 0x12345678);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Memcpy(benchmark::State& state) {
    const auto source = Buffer(std::size_t(state.range(0)));
    std::vector<std::byte> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

constexpr int64_t kOneMiB = int64_t(1) << 20;
constexpr int64_t kSixtyFourMiB = int64_t(64) << 20;

} // namespace

BENCHMARK(BM_Memcpy)->Arg(kOneMiB)->Arg(kSixtyFourMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XorStoredPattern)->Arg(kOneMiB)->Arg(kSixtyFourMiB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeystreamKernel, portable, tallyport::KeystreamKernel::Portable)
    ->Arg(kOneMiB)
    ->Arg(kSixtyFourMiB)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrambleBytes)->Arg(kOneMiB)->Arg(kSixtyFourMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrambleBytesBitwise)->Arg(kOneMiB)->Arg(kSixtyFourMiB)->Unit(benchmark::kMillisecond);
// A course list's reply: here the keystream's start-up, not its loop, is the cost.
BENCHMARK(BM_ScrambleBytes)->Name("BM_ScrambleShortReply")->Arg(300);
BENCHMARK(BM_ScrambleBytesBitwise)->Name("BM_ScrambleShortReplyBitwise")->Arg(300);
