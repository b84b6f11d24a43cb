/* CRC-32 throughput: CRC32Update2 over a 1 MiB buffer beside the reference library's crc32 on
 * the same data, in the same run. */
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <vector>

#include "checksum.h"

namespace {

const std::vector<RTS_UI8>& buffer() {
    static const std::vector<RTS_UI8> data = [] {
        std::vector<RTS_UI8> d(1u << 20);
        RTS_UI32 x = 0x12345678;
        for (RTS_UI8& b : d) b = static_cast<RTS_UI8>((x = x * 1103515245u + 12345u) >> 16);
        return d;
    }();
    return data;
}

void BM_CRC32Update2(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) {
        RTS_UI32 crc =
            CRC32Finish2(CRC32Update2(CRC32Init(), data.data(), static_cast<RTS_UI32>(data.size())));
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_ReferenceCrc32(benchmark::State& state) {
    const auto& data = buffer();
    for (auto _ : state) {
        uLong crc = crc32(0L, data.data(), static_cast<uInt>(data.size()));
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

BENCHMARK(BM_CRC32Update2);
BENCHMARK(BM_ReferenceCrc32);

} // namespace
