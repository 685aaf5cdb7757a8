// CRC-32 throughput: the engine's CrcUpdate against zlib's crc32 and
// libdeflate's libdeflate_crc32 on the same buffers.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>
#include <vector>
#include <zlib.h>

#ifdef KIVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "archive/AbUtils.h"

namespace {

const std::vector<uint8_t>& Data(size_t Size) {
    static std::vector<uint8_t> Buffer;
    if (Buffer.size() < Size) {
        Buffer.resize(Size);
        std::mt19937_64 Rng(1);
        for (auto& B : Buffer)
            B = static_cast<uint8_t>(Rng());
    }
    return Buffer;
}

void Finish(benchmark::State& State, size_t Size) {
    State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * static_cast<int64_t>(Size));
}

void BM_CrcUpdate(benchmark::State& State) {
    const size_t Size = static_cast<size_t>(State.range(0));
    const uint8_t* P = Data(Size).data();
    for (auto _ : State) {
        uint32_t Crc = 0xFFFFFFFFu;
        kivo::CrcUpdate(Crc, P, Size);
        benchmark::DoNotOptimize(Crc);
    }
    Finish(State, Size);
}

// The portable path used on processors without carry-less multiplication.
void BM_CrcSlicedPortable(benchmark::State& State) {
    const size_t Size = static_cast<size_t>(State.range(0));
    const uint8_t* P = Data(Size).data();
    for (auto _ : State)
        benchmark::DoNotOptimize(kivo::CrcImpl::Sliced(~0u, P, Size));
    Finish(State, Size);
}

// The 128-bit folding path used on processors without AVX-512.
void BM_CrcClmul128(benchmark::State& State) {
    if (!kivo::CrcImpl::HaveClmul()) {
        State.SkipWithError("no carry-less multiply on this processor");
        return;
    }
    const size_t Size = static_cast<size_t>(State.range(0));
    const uint8_t* P = Data(Size).data();
    for (auto _ : State)
        benchmark::DoNotOptimize(kivo::CrcImpl::Clmul(~0u, P, Size));
    Finish(State, Size);
}

// The 256-bit folding path used on processors with AVX2 but without AVX-512.
void BM_CrcVClmul256(benchmark::State& State) {
    if (!kivo::CrcImpl::HaveVClmul256()) {
        State.SkipWithError("no 256-bit carry-less multiply on this processor");
        return;
    }
    const size_t Size = static_cast<size_t>(State.range(0));
    const uint8_t* P = Data(Size).data();
    for (auto _ : State)
        benchmark::DoNotOptimize(kivo::CrcImpl::VClmul256(~0u, P, Size));
    Finish(State, Size);
}

void BM_ZlibCrc32(benchmark::State& State) {
    const size_t Size = static_cast<size_t>(State.range(0));
    const uint8_t* P = Data(Size).data();
    for (auto _ : State)
        benchmark::DoNotOptimize(crc32(0L, P, static_cast<uInt>(Size)));
    Finish(State, Size);
}

#ifdef KIVO_HAVE_LIBDEFLATE
void BM_LibdeflateCrc32(benchmark::State& State) {
    const size_t Size = static_cast<size_t>(State.range(0));
    const uint8_t* P = Data(Size).data();
    for (auto _ : State)
        benchmark::DoNotOptimize(libdeflate_crc32(0, P, Size));
    Finish(State, Size);
}
BENCHMARK(BM_LibdeflateCrc32)->Arg(1 << 20)->Arg(64 << 20);
#endif

BENCHMARK(BM_CrcUpdate)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_ZlibCrc32)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_CrcVClmul256)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_CrcClmul128)->Arg(1 << 20)->Arg(64 << 20);
BENCHMARK(BM_CrcSlicedPortable)->Arg(1 << 20)->Arg(64 << 20);

} // namespace

BENCHMARK_MAIN();
