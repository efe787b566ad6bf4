// The floor for the console program: a process that only writes a PNG file
// of given pixels with libpng. Usage: zem_png_floor [--durable] OUT.png RAW
// WIDTH HEIGHT [DEPTH [LEVEL]], RAW holding WIDTH × HEIGHT top-down RGB
// pixels; DEPTH 1 stores them as 1-bit grey instead of 8-bit RGB, LEVEL is
// zlib's (default 9, -1 for zlib's own default). --durable writes OUT.tmp,
// syncs it and renames it over OUT.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/durable_floor.h"
#include "bench/png_floor.h"

int main(int argc, char** argv) {
    const bool durable = argc > 1 && std::strcmp(argv[1], "--durable") == 0;
    argc -= durable;
    argv += durable;
    if (argc < 5 || argc > 7) {
        std::fprintf(stderr, "usage: %s OUT.png RAW WIDTH HEIGHT [DEPTH [LEVEL]]\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    const int depth = argc >= 6 ? std::atoi(argv[5]) : 8;
    const int level = argc == 7 ? std::atoi(argv[6]) : 9;
    // Plain C library only, as in the console program: no C++ runtime to load.
    const std::size_t size = static_cast<std::size_t>(width) * height * 3;
    auto* pixels = static_cast<uint8_t*>(std::malloc(size));
    std::FILE* raw = std::fopen(argv[2], "rb");
    if (pixels == nullptr || raw == nullptr || std::fread(pixels, 1, size, raw) != size) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[2]);
        return 1;
    }
    std::fclose(raw);
    char temporary[4096];
    std::snprintf(temporary, sizeof temporary, "%s.tmp", argv[1]);
    const char* written = durable ? temporary : argv[1];
    const int result = WritePngWithLibpng(written, pixels, width, height, depth, level);
    std::free(pixels);
    return result == 0 && (!durable || SyncAndRename(written, argv[1]) == 0) ? 0 : 1;
}
