/* Integer settings read from a configuration file of 300 lines (10 sections of 29 keys, with
 * comments and blank lines): SettgGetIntValue over 100 different keys in turn, and on Windows
 * GetPrivateProfileIntA over the same keys of the same file, the call a Windows program would
 * use instead. Natively the figures come from Google Benchmark; the Windows build has no
 * Google Benchmark, so there the same loops are timed by a main of their own, built against an
 * optimised library and run under Wine:
 *   cmake -S . -B build/windows-release -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
 *     -DCMAKE_BUILD_TYPE=Release && cmake --build build/windows-release --target rts
 *   x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -Iinclude -I. bench/bench_settings.cpp \
 *     build/windows-release/lib/librts.a -static -o build/windows-release/bench_settings.exe */
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cm.h"
#include "cmpsettings.h"

namespace {

constexpr int kSections = 10;
constexpr int kKeysPerSection = 29;
constexpr int kKeysRead = 100;

struct Key {
    std::string section, key;
};

/* The file and the 100 keys read, spread over every section; the framework started on it. */
const std::vector<Key>& keys() {
    static const std::vector<Key> read = [] {
        CMInit2(nullptr, StaticComponentList, 1);
        const auto path =
            std::filesystem::absolute(std::filesystem::temp_directory_path() / "gc_bench_settings.cfg");
        std::ofstream out(path, std::ios::binary);
        std::vector<Key> all;
        for (int s = 0; s < kSections; ++s) {
            out << "; section " << s << "\r\n[Component" << s << "]\r\n";
            for (int k = 0; k < kKeysPerSection - 2; ++k) {
                all.push_back({"Component" + std::to_string(s), "Setting.Number" + std::to_string(k)});
                out << all.back().key << "=" << (s * 100 + k) << "\r\n";
            }
            out << "\r\n";
        }
        out.close();
        SettgSetDatabaseName(path.string().c_str());
        std::vector<Key> picked;
        for (int i = 0; i < kKeysRead; ++i)
            picked.push_back(all[static_cast<size_t>(i) * all.size() / kKeysRead]);
        return picked;
    }();
    return read;
}

RTS_I32 read_settg(const Key& k) {
    RTS_I32 value = 0;
    SettgGetIntValue(k.section.c_str(), k.key.c_str(), &value, -1, 0);
    return value;
}

} // namespace

#ifdef _WIN32
#include <windows.h>

namespace {

std::string file_name() {
    char name[512];
    SettgGetDatabaseName(name, sizeof name);
    return name;
}

RTS_I32 read_profile(const Key& k, const std::string& file) {
    return static_cast<RTS_I32>(GetPrivateProfileIntA(k.section.c_str(), k.key.c_str(), -1, file.c_str()));
}

/* Reads per second over at least one second of reads of every key in turn. */
template <typename Read> double reads_per_second(Read read) {
    using clock = std::chrono::steady_clock;
    long long reads = 0;
    RTS_I32 sum = 0;
    const auto start = clock::now();
    while (clock::now() - start < std::chrono::seconds(1))
        for (const Key& k : keys()) sum += read(k), ++reads;
    const std::chrono::duration<double> took = clock::now() - start;
    std::printf("(checksum %d) ", static_cast<int>(sum));
    return static_cast<double>(reads) / took.count();
}

} // namespace

int main() {
    keys(); /* the file made and opened first */
    const std::string file = file_name();
    std::printf("SettgGetIntValue:      %.0f reads/s\n", reads_per_second(read_settg));
    std::printf("GetPrivateProfileIntA: %.0f reads/s\n",
                reads_per_second([&file](const Key& k) { return read_profile(k, file); }));
    return 0;
}

#else
#include <benchmark/benchmark.h>

/* Each iteration reads the 100 keys once. */
static void BM_SettgGetIntValue(benchmark::State& state) {
    for (auto _ : state)
        for (const Key& k : keys()) benchmark::DoNotOptimize(read_settg(k));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kKeysRead);
}
BENCHMARK(BM_SettgGetIntValue);

#endif
