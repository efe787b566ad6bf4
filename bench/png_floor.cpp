#include "bench/png_floor.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

int WritePngWithLibpng(const char* fileName, const uint8_t* rgbRows, int width, int height) {
    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) {
        return -1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    int result = -2;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_compression_level(png, 9);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int i = 0; i < height; ++i) {
            png_write_row(png, rgbRows + static_cast<std::ptrdiff_t>(i) * width * 3);
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
