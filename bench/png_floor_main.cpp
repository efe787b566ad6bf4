// The floor for the console program: a process that only writes a PNG file
// of given pixels with libpng. Usage: zem_png_floor OUT.png RAW WIDTH HEIGHT,
// RAW holding WIDTH × HEIGHT top-down RGB pixels.
#include <cstdio>
#include <cstdlib>

#include "bench/png_floor.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s OUT.png RAW WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    // Plain C library only, as in the console program: no C++ runtime to load.
    const std::size_t size = static_cast<std::size_t>(width) * height * 3;
    auto* pixels = static_cast<uint8_t*>(std::malloc(size));
    std::FILE* raw = std::fopen(argv[2], "rb");
    if (pixels == nullptr || raw == nullptr || std::fread(pixels, 1, size, raw) != size) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[2]);
        return 1;
    }
    std::fclose(raw);
    const int result = WritePngWithLibpng(argv[1], pixels, width, height);
    std::free(pixels);
    return result == 0 ? 0 : 1;
}
