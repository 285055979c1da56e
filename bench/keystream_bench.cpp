// Scrambler throughput: the word-at-a-time keystream and the one-step-at-a-time register, beside
// memcpy of the same buffer as the baseline of what a pass over the bytes costs.
#include "protocol/Keystream.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

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
BENCHMARK(BM_ScrambleBytes)->Arg(kOneMiB)->Arg(kSixtyFourMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrambleBytesBitwise)->Arg(kOneMiB)->Arg(kSixtyFourMiB)->Unit(benchmark::kMillisecond);
