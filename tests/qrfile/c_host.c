/* A C host of the shared library: both exports, called with the same
 * arguments, must give the same result and byte-identical files, and a name
 * buffer holding "code" must come back holding "code.png".
 * Usage: c_host MESSAGE (run in a directory of its own). */
#include <stdio.h>
#include <string.h>

#include "zemqrfile.h"

static long ReadAll(const char* name, char* buffer, long size) {
    FILE* file = fopen(name, "rb");
    if (file == NULL) {
        return -1;
    }
    long got = (long)fread(buffer, 1, (size_t)size, file);
    fclose(file);
    return got;
}

int main(int argc, char** argv) {
    static char first[1 << 20];
    static char second[1 << 20];
    char code[16] = "code";
    char codeC[16] = "codeC";
    if (argc != 2) {
        return 2;
    }
    int32_t a = ZEMQRFile(0, code, 0, 0, 2, 0, 3, 0, 0, argv[1]);
    int32_t b = ZEMQRFileC(0, codeC, 0, 0, 2, 0, 3, 0, 0, argv[1]);
    long sizeA = ReadAll(code, first, sizeof first);
    long sizeB = ReadAll(codeC, second, sizeof second);
    if (a != 0 || b != 0 || strcmp(code, "code.png") != 0 || strcmp(codeC, "codeC.png") != 0 ||
        sizeA <= 0 || sizeA != sizeB || memcmp(first, second, (size_t)sizeA) != 0) {
        fprintf(stderr, "results %d %d, names %s %s, sizes %ld %ld\n", a, b, code, codeC, sizeA,
                sizeB);
        return 1;
    }
    return 0;
}
