// Rendering a version 40 symbol: DrawSymbol as a whole, and the fill, paste
// and crop it and the file operation do on the work Image.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_support.h"
#include "diag/memory.h"
#include "qrcode/qrcode.h"

namespace {

Image* MakeWorkImage(int cell) {
    const int side = 185 * cell + 2;
    Image* work = ImageCreate(IMAGE_NO_FILL | IMAGE_FILL_WHITE, side, side, 3, 0, 0, nullptr);
    if (work != nullptr) {
        work->cellSize = cell;
    }
    return work;
}

// DrawSymbol consumes the matrix; each round gets a fresh copy of it.
void DrawSymbolV40(benchmark::State& state) {
    const int cell = static_cast<int>(state.range(0));
    Image* work = MakeWorkImage(cell);
    Image built{};
    if (work == nullptr || EncodeToMatrix(&built, Version40Message().bytes, QR_LEVEL_L) != 0) {
        state.SkipWithError("no symbol");
        ImageFree(work);
        return;
    }
    const auto cells = static_cast<std::size_t>(built.moduleCount) * built.moduleCount;
    for (auto _ : state) {
        state.PauseTiming();
        work->moduleCount = built.moduleCount;
        work->modules = static_cast<uint8_t*>(MemAlloc(cells));
        work->moduleKinds = static_cast<uint8_t*>(MemAlloc(cells));
        std::memcpy(work->modules, built.modules, cells);
        std::memcpy(work->moduleKinds, built.moduleKinds, cells);
        state.ResumeTiming();
        benchmark::DoNotOptimize(DrawSymbol(0, work, 0, 0));
    }
    FreeSymbolMatrix(&built);
    ImageFree(work);
}

void FillDrawnArea(benchmark::State& state) {
    const int cell = static_cast<int>(state.range(0));
    Image* work = MakeWorkImage(cell);
    const int side = 185 * cell + 2;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ImageFillRect(0, work, 0, 0, side, side, work->lightColour));
    }
    ImageFree(work);
}

void PasteSymbol(benchmark::State& state) {
    const int cell = static_cast<int>(state.range(0));
    Image* work = MakeWorkImage(cell);
    Image* picture = ImageCreate(0, 177 * cell, 177 * cell, 3, 0, 0, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ImagePaste(0, work, 4 * cell + 1, 4 * cell + 1, picture, 0, 0, 0, 0));
    }
    ImageFree(picture);
    ImageFree(work);
}

void CropDrawing(benchmark::State& state) {
    const int cell = static_cast<int>(state.range(0));
    Image* work = MakeWorkImage(cell);
    const int side = 185 * cell + 2;
    ImageFillRect(0, work, 0, 0, side, side, work->lightColour);
    for (auto _ : state) {
        Image* cropped = ImageCrop(0, work, nullptr, 0, 0, side, side);
        benchmark::DoNotOptimize(cropped);
        ImageFree(cropped);
    }
    ImageFree(work);
}

}  // namespace

BENCHMARK(DrawSymbolV40)->Arg(4)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(FillDrawnArea)->Arg(4)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(PasteSymbol)->Arg(4)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(CropDrawing)->Arg(4)->Arg(10)->Unit(benchmark::kMicrosecond);
