// ZEMQRFile end to end: message in memory to PNG or BMP file, over versions
// and cell sizes. Messages are 8-bit text filling the version at level L.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

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

void QrFilePng(benchmark::State& state) {
    RunQrFile(state, "zem_bench_e2e.png");
}
void QrFileBmp(benchmark::State& state) {
    RunQrFile(state, "zem_bench_e2e.bmp");
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
