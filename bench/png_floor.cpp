#include "bench/png_floor.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

namespace {

// One RGB row as 1-bit grey, eight pixels a byte, the first in the top bit.
void PackRow(const uint8_t* rgb, int width, uint8_t* bits) {
    for (int j = 0; j < (width + 7) / 8; ++j) {
        bits[j] = 0;
    }
    for (int j = 0; j < width; ++j) {
        if (rgb[3 * j] >= 128) {
            bits[j / 8] = static_cast<uint8_t>(bits[j / 8] | (0x80 >> (j % 8)));
        }
    }
}

}  // namespace

int WritePngWithLibpng(const char* fileName, const uint8_t* rgbRows, int width, int height,
                       int bitDepth, int level) {
    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) {
        return -1;
    }
    std::vector<uint8_t> bits(bitDepth == 1 ? static_cast<std::size_t>(width + 7) / 8 : 0);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    int result = -2;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_compression_level(png, level);
        png_set_IHDR(png, info, width, height, bitDepth == 1 ? 1 : 8,
                     bitDepth == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int i = 0; i < height; ++i) {
            const uint8_t* row = rgbRows + static_cast<std::ptrdiff_t>(i) * width * 3;
            if (bitDepth == 1) {
                PackRow(row, width, bits.data());
                row = bits.data();
            }
            png_write_row(png, row);
        }
        png_write_end(png, info);
        result = 0;
    }
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        result = -1;
    }
    return result;
}
