/* File checksums and configuration reads. The checksum of a 64 MiB file in the page cache as the
 * file component computes it (pieces of 256 bytes, chained or standard) beside reading the same
 * file in pieces of 64 KiB and of 256 bytes, with and without the reference library's crc32 on
 * the pieces, so that the cost of the small pieces shows apart from the cost of the CRC. Then
 * reads of one value from a database of 300 lines. */
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cm.h"
#include "cmpinifile.h"
#include "sysfile.h"

namespace {

constexpr RTS_SIZE kFileSize = RTS_SIZE{64} << 20;

/* The framework and a 64 MiB file of pseudo-random bytes, made once for the whole run. */
const std::string& big_file() {
    static const std::string path = [] {
        CMInit2(nullptr, StaticComponentList, 1);
        const auto p = std::filesystem::temp_directory_path() / "gc_bench_file.bin";
        std::vector<char> data(kFileSize);
        RTS_UI32 x = 0x12345678;
        for (char& b : data) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
        std::ofstream(p, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
        return p.string();
    }();
    return path;
}

void bytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

/* The chained checksum (range 0) or the standard one (range 1), both in pieces of 256 bytes. */
void BM_SysFileGenerateCRC(benchmark::State& state) {
    const std::string& path = big_file();
    const auto generate = state.range(0) == 0 ? SysFileGenerateCRC : SysFileGenerateCRC2;
    for (auto _ : state) {
        RTS_UI32 crc = 0;
        generate(path.c_str(), 0, &crc);
        benchmark::DoNotOptimize(crc);
    }
    bytes(state);
}

/* Reads the file through SysFileRead in pieces of range(0) bytes, with zlib's crc32 on each
 * piece when range(1) is 1. */
void BM_ReadPieces(benchmark::State& state) {
    const std::string& path = big_file();
    std::vector<char> piece(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        RTS_HANDLE h = SysFileOpen(path.c_str(), AM_READ, nullptr);
        uLong crc = crc32(0L, nullptr, 0);
        for (RTS_SIZE got; (got = SysFileRead(h, piece.data(), piece.size(), nullptr)) != 0;) {
            if (state.range(1) != 0)
                crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(got));
        }
        SysFileClose(h);
        benchmark::DoNotOptimize(crc);
    }
    bytes(state);
}

/* A configuration text of 300 lines: 30 sections of a header, 8 keys with comments and a blank. */
std::string config_text() {
    std::string text;
    for (int s = 0; s < 30; ++s) {
        text += "[Section" + std::to_string(s) + "]\r\n; settings of part " + std::to_string(s) + "\r\n";
        for (int k = 0; k < 7; ++k)
            text += "Key" + std::to_string(k) + " = value " + std::to_string(s * 10 + k) + " ; note\r\n";
        text += "\r\n";
    }
    return text;
}

/* Reads a value of the middle section (range 0) or the last one (range 1). */
void BM_IniReadValue(benchmark::State& state) {
    big_file();
    const std::string text = config_text();
    RTS_HANDLE db = IniOpen2("bench.ini", text.c_str(), text.size(), nullptr);
    const char* section = state.range(0) == 0 ? "Section15" : "Section29";
    for (auto _ : state) {
        char value[64];
        RTS_I32 length = sizeof value;
        IniReadValue(db, section, "Key6", value, &length);
        benchmark::DoNotOptimize(value);
    }
    IniDelete(db);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

} // namespace

BENCHMARK(BM_SysFileGenerateCRC)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPieces)
    ->Args({65536, 0})
    ->Args({65536, 1})
    ->Args({256, 0})
    ->Args({256, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IniReadValue)->Arg(0)->Arg(1);
