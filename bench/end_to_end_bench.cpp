// ZEMQRFile end to end: message in memory to PNG or BMP file, over versions
// and cell sizes. Messages are 8-bit text filling the version at level L.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "qrfile/qrfile.h"

namespace {

constexpr int kLevelL = 1;
constexpr int kCharsetShiftJis = 1;  // taken as it is: no conversion

void RunQrFile(benchmark::State& state, const char* fileName) {
    const int version = static_cast<int>(state.range(0));
    const int cell = static_cast<int>(state.range(1));
    const std::string message = FullMessage(version);
    const std::string path = BenchPath(fileName);
    char name[512];
    for (auto _ : state) {
        std::strncpy(name, path.c_str(), sizeof name - kQrPngSuffixLength - 1);
        name[sizeof name - kQrPngSuffixLength - 1] = '\0';
        const int result =
            ZEMQRFile(0, name, 0, version, kLevelL, 0, cell, kCharsetShiftJis, 0, message.c_str());
        if (result != 0) {
            state.SkipWithError("ZEMQRFile failed");
            break;
        }
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// ZEMQRFile to BMP next to two floors, all three timed in turn within each
// iteration (in rotating order), so that they see the same machine: one
// fwrite of the file's bytes, and the same after building them in one buffer
// (a copy from a finished file, one pass of writes as our drawing is). The
// medians and ZEMQRFile's ratios to them are the counters.
void QrFileBmpPaired(benchmark::State& state) {
    const int cell = static_cast<int>(state.range(0));
    const std::string message = FullMessage(40);
    const std::string path = BenchPath("zem_bench_paired.bmp");
    const std::string floorPath = BenchPath("zem_bench_paired_floor.bmp");
    char name[512];
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> built;
    const auto ours = [&] {
        std::snprintf(name, sizeof name, "%s", path.c_str());
        return ZEMQRFile(0, name, 0, 40, kLevelL, 0, cell, kCharsetShiftJis, 0, message.c_str());
    };
    const auto store = [&](const std::vector<uint8_t>& from) {
        std::FILE* file = std::fopen(floorPath.c_str(), "wb");
        const bool ok =
            file != nullptr && std::fwrite(from.data(), 1, from.size(), file) == from.size();
        return file != nullptr && std::fclose(file) == 0 && ok ? 0 : -1;
    };
    const auto buildAndStore = [&] {
        std::memcpy(built.data(), bytes.data(), bytes.size());
        return store(built);
    };
    if (ours() == 0) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        for (int c = file != nullptr ? std::fgetc(file) : EOF; c != EOF; c = std::fgetc(file)) {
            bytes.push_back(static_cast<uint8_t>(c));
        }
        if (file != nullptr) {
            std::fclose(file);
        }
        built.resize(bytes.size());
    }
    std::vector<double> times[3];
    int first = 0;
    for (auto _ : state) {
        for (int k = 0; k < 3; ++k) {
            const int which = (first + k) % 3;
            const auto start = std::chrono::steady_clock::now();
            const int result = which == 0 ? ours() : (which == 1 ? store(bytes) : buildAndStore());
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            times[which].push_back(took.count());
            if (result != 0 || bytes.empty()) {
                state.SkipWithError("ZEMQRFile or a floor failed");
                return;
            }
        }
        first = (first + 1) % 3;
    }
    const double oursMedian = Median(times[0]);
    const double floorMedian = Median(times[1]);
    const double builtMedian = Median(times[2]);
    state.counters["ours_ms"] = oursMedian * 1e3;
    state.counters["fwrite_ms"] = floorMedian * 1e3;
    state.counters["build_fwrite_ms"] = builtMedian * 1e3;
    state.counters["ratio_fwrite"] = floorMedian > 0 ? oursMedian / floorMedian : 0;
    state.counters["ratio_build_fwrite"] = builtMedian > 0 ? oursMedian / builtMedian : 0;
}

void QrFilePng(benchmark::State& state) {
    RunQrFile(state, "zem_bench_e2e.png");
}
void QrFileBmp(benchmark::State& state) {
    RunQrFile(state, "zem_bench_e2e.bmp");
}

// ZEMQRFile called from several threads at once, each writing its own file: a
// version 7 symbol, cell 4, as PNG (0) or BMP (1). Symbols a second over all
// threads is the counter; its growth with the threads is the scaling.
void QrFileThreads(benchmark::State& state) {
    constexpr int kVersion = 7;
    const char* suffix = state.range(0) == 0 ? ".png" : ".bmp";
    const std::string message = FullMessage(kVersion);
    const std::string path =
        BenchPath(("zem_bench_thread" + std::to_string(state.thread_index()) + suffix).c_str());
    char name[512];
    for (auto _ : state) {
        std::snprintf(name, sizeof name, "%s", path.c_str());
        if (ZEMQRFile(0, name, 0, kVersion, kLevelL, 0, 4, kCharsetShiftJis, 0, message.c_str()) !=
            0) {
            state.SkipWithError("ZEMQRFile failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(QrFilePng)
    ->ArgNames({"version", "cell"})
    ->ArgsProduct({{1, 10, 20, 30, 40}, {1, 4, 10, 20}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(QrFileBmp)
    ->ArgNames({"version", "cell"})
    ->ArgsProduct({{40}, {4, 10}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(QrFileBmpPaired)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(QrFileThreads)
    ->ArgName("bmp")
    ->Arg(0)
    ->Arg(1)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
