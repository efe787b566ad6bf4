// The floor for the console program writing a BMP file: a process that
// builds the file's bytes in one buffer (read from a file that holds them)
// and stores them with one fwrite. Usage: zem_bmp_floor [--durable] OUT.bmp
// IN.bmp; --durable writes OUT.bmp.tmp, syncs it and renames it over OUT.bmp.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/durable_floor.h"

int main(int argc, char** argv) {
    const bool durable = argc > 1 && std::strcmp(argv[1], "--durable") == 0;
    argc -= durable;
    argv += durable;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUT.bmp IN.bmp\n", argv[0]);
        return 2;
    }
    std::FILE* in = std::fopen(argv[2], "rb");
    long size = -1;
    if (in != nullptr && std::fseek(in, 0, SEEK_END) == 0) {
        size = std::ftell(in);
    }
    auto* bytes = size > 0 ? static_cast<unsigned char*>(std::malloc(size)) : nullptr;
    if (bytes == nullptr || std::fseek(in, 0, SEEK_SET) != 0 ||
        std::fread(bytes, 1, size, in) != static_cast<std::size_t>(size)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[2]);
        return 1;
    }
    std::fclose(in);
    char temporary[4096];
    std::snprintf(temporary, sizeof temporary, "%s.tmp", argv[1]);
    const char* written = durable ? temporary : argv[1];
    std::FILE* out = std::fopen(written, "wb");
    const bool ok = out != nullptr &&
                    std::fwrite(bytes, 1, size, out) == static_cast<std::size_t>(size) &&
                    std::fclose(out) == 0 && (!durable || SyncAndRename(written, argv[1]) == 0);
    std::free(bytes);
    return ok ? 0 : 1;
}
