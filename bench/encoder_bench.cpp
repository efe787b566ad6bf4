// The encoder core: message to masked matrix, with the mask chosen by
// penalty and with a fixed mask.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "qrcode/qrcode.h"

namespace {

void EncodeMatrix(benchmark::State& state, const BenchMessage& message, int maskPattern) {
    Image image{};
    image.maskPattern = maskPattern;
    for (auto _ : state) {
        if (EncodeToMatrix(&image, message.bytes, message.level) != 0) {
            state.SkipWithError("BuildSymbol failed");
            break;
        }
        benchmark::DoNotOptimize(image.modules);
        FreeSymbolMatrix(&image);
    }
    state.SetLabel(message.name);
}

constexpr int kAutomaticMask = 0;
constexpr int kFixedMask = 3;

}  // namespace

BENCHMARK_CAPTURE(EncodeMatrix, hello_auto, HelloMessage(), kAutomaticMask);
BENCHMARK_CAPTURE(EncodeMatrix, hello_fixed, HelloMessage(), kFixedMask);
BENCHMARK_CAPTURE(EncodeMatrix, v10_auto, Version10Message(), kAutomaticMask);
BENCHMARK_CAPTURE(EncodeMatrix, v10_fixed, Version10Message(), kFixedMask);
BENCHMARK_CAPTURE(EncodeMatrix, v40_auto, Version40Message(), kAutomaticMask);
BENCHMARK_CAPTURE(EncodeMatrix, v40_fixed, Version40Message(), kFixedMask);
