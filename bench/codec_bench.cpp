// Codec throughput on 4096-byte blocks (one write block's worth), with zlib's crc32 over the
// same bytes as the reference. Reports bytes/s per benchmark.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "protocol/codec.hpp"
#include "protocol/messages.hpp"

namespace {

using namespace tq5::protocol;

constexpr std::int32_t kBlock = 4096;

std::vector<std::uint8_t> RandomBlock() {
    std::vector<std::uint8_t> data(kBlock);
    std::mt19937 rng(42);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    return data;
}

void BM_ComputeCrc32(benchmark::State& state) {
    const auto data = RandomBlock();
    for (auto _ : state) benchmark::DoNotOptimize(ComputeCrc32(data.data(), kBlock));
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_ComputeCrc32);

void BM_ZlibCrc32(benchmark::State& state) {
    const auto data = RandomBlock();
    for (auto _ : state) benchmark::DoNotOptimize(crc32(0L, data.data(), kBlock));
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_ZlibCrc32);

void BM_PackPayload(benchmark::State& state) {
    const auto data = RandomBlock();
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(PackedLength(kBlock)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(PackPayload(packed.data(), data.data(), kBlock));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_PackPayload);

void BM_UnpackPayload(benchmark::State& state) {
    const auto data = RandomBlock();
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(PackedLength(kBlock)));
    const std::int32_t p = PackPayload(packed.data(), data.data(), kBlock);
    std::vector<std::uint8_t> out(kBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(UnpackPayload(out.data(), packed.data(), p));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_UnpackPayload);

void BM_BuildWriteBlockRequest(benchmark::State& state) {
    const auto data = RandomBlock();
    std::vector<std::uint8_t> message(kMaxWriteBlockRequestLength);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            BuildWriteBlockRequest(message.data(), 0x6E, data.data(), 0xDB000, kBlock));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_BuildWriteBlockRequest);

}  // namespace

BENCHMARK_MAIN();
