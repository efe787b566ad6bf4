// Storing the drawing of a version 40 symbol: ImageWritePng and ImageWriteBmp,
// each next to its floor (libpng alone with the same settings; one fwrite of
// the same BMP bytes).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/png_floor.h"
#include "qrcode/qrcode.h"

namespace {

Image* Drawing(benchmark::State& state) {
    Image* drawing =
        MakeDrawing(Version40Message().bytes, QR_LEVEL_L, static_cast<int>(state.range(0)));
    if (drawing == nullptr) {
        state.SkipWithError("no drawing");
    }
    return drawing;
}

// The drawing's pixels as PNG rows take them: top-down, red, green, blue.
std::vector<uint8_t> RgbRows(const Image* image) {
    const int width = image->info.width;
    std::vector<uint8_t> rows;
    for (int i = 0; i < image->info.height; ++i) {
        const uint8_t* pixel = image->pixels + ImagePixelOffset(IMAGE_FROM_TOP, image, 0, i);
        for (int j = 0; j < width; ++j, pixel += 3) {
            rows.insert(rows.end(), {pixel[2], pixel[1], pixel[0]});
        }
    }
    return rows;
}

void WritePng(benchmark::State& state) {
    Image* drawing = Drawing(state);
    const std::string name = BenchPath("zem_bench_write.png");
    for (auto _ : state) {
        if (drawing == nullptr || ImageWritePng(0, name.c_str(), drawing) != 0) {
            state.SkipWithError("ImageWritePng failed");
            break;
        }
    }
    ImageFree(drawing);
}

void WritePngFloor(benchmark::State& state) {
    Image* drawing = Drawing(state);
    if (drawing == nullptr) {
        return;
    }
    const std::vector<uint8_t> rows = RgbRows(drawing);
    const std::string name = BenchPath("zem_bench_floor.png");
    for (auto _ : state) {
        if (WritePngWithLibpng(name.c_str(), rows.data(), drawing->info.width,
                               drawing->info.height) != 0) {
            state.SkipWithError("libpng failed");
            break;
        }
    }
    ImageFree(drawing);
}

void WriteBmp(benchmark::State& state) {
    Image* drawing = Drawing(state);
    const std::string name = BenchPath("zem_bench_write.bmp");
    for (auto _ : state) {
        if (drawing == nullptr || ImageWriteBmp(0, name.c_str(), drawing) != 0) {
            state.SkipWithError("ImageWriteBmp failed");
            break;
        }
    }
    ImageFree(drawing);
}

// The same file in one fwrite: the bytes ImageWriteBmp produced, read back.
void WriteBmpFloor(benchmark::State& state) {
    Image* drawing = Drawing(state);
    if (drawing == nullptr) {
        return;
    }
    const std::string name = BenchPath("zem_bench_floor.bmp");
    std::vector<uint8_t> bytes;
    if (ImageWriteBmp(0, name.c_str(), drawing) == 0) {
        std::FILE* file = std::fopen(name.c_str(), "rb");
        for (int c = file != nullptr ? std::fgetc(file) : EOF; c != EOF; c = std::fgetc(file)) {
            bytes.push_back(static_cast<uint8_t>(c));
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    ImageFree(drawing);
    for (auto _ : state) {
        std::FILE* file = std::fopen(name.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
            std::fclose(file) != 0) {
            state.SkipWithError("fwrite failed");
            break;
        }
    }
}

}  // namespace

BENCHMARK(WritePng)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(WritePngFloor)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteBmp)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteBmpFloor)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);
