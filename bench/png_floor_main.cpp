// The floor for the console program: a process that only writes a PNG file
// of given pixels with libpng. Usage: zem_png_floor OUT.png RAW WIDTH HEIGHT,
// RAW holding WIDTH × HEIGHT top-down RGB pixels.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/png_floor.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s OUT.png RAW WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
    std::FILE* raw = std::fopen(argv[2], "rb");
    if (raw == nullptr || std::fread(pixels.data(), 1, pixels.size(), raw) != pixels.size()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[2]);
        return 1;
    }
    std::fclose(raw);
    return WritePngWithLibpng(argv[1], pixels.data(), width, height) == 0 ? 0 : 1;
}
