// Runs both message converters over every character and over a fixed set of
// pseudo-random texts, writing each result in hex to the file named by its
// argument; two platforms' files must be identical. Usage: charcode_host OUT
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "charcode/charcode.h"

namespace {

void Run(std::FILE* out, char kind, const unsigned char* text, size_t length, int capacity) {
    char source[80] = {};
    char result[256];
    std::memcpy(source, text, length);
    std::memset(result, 0x55, sizeof result);
    const int code =
        kind == 'u' ? Utf8ToSjis(source, result, capacity) : SjisToUtf8(source, result, capacity);
    std::fprintf(out, "%c", kind);
    for (size_t i = 0; i < length; ++i) {
        std::fprintf(out, "%02x", text[i]);
    }
    std::fprintf(out, " %d %d ", capacity, code);
    // Everything up to the capacity, so a byte written past the terminator shows.
    for (int i = 0; i < capacity && i < static_cast<int>(sizeof result); ++i) {
        std::fprintf(out, "%02x", static_cast<unsigned char>(result[i]));
    }
    std::fprintf(out, "\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        return 1;
    }
    // Every BMP character as UTF-8, framed by ASCII so unmapped ones show.
    for (uint32_t c = 0x80; c < 0x10000; ++c) {
        unsigned char text[5] = {'<'};
        size_t n = 1;
        if (c < 0x800) {
            text[n++] = static_cast<unsigned char>(0xC0 | (c >> 6));
        } else {
            text[n++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            text[n++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        }
        text[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        text[n++] = '>';
        Run(out, 'u', text, n, 8);
    }
    // Every single byte and every lead and trail byte pair as Shift-JIS.
    for (int a = 1; a < 256; ++a) {
        const unsigned char one[] = {static_cast<unsigned char>(a), 'x'};
        Run(out, 's', one, 2, 8);
        for (int b = 1; a >= 0x80 && b < 256; ++b) {
            const unsigned char two[] = {static_cast<unsigned char>(a),
                                         static_cast<unsigned char>(b)};
            Run(out, 's', two, 2, 8);
        }
    }
    // Mixed texts: good and broken characters side by side, cut by small
    // capacities, in both directions.
    uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        unsigned char text[24];
        const size_t length = 1 + i % 23;
        for (size_t k = 0; k < length; ++k) {
            state = state * 1103515245u + 12345u;
            const unsigned char byte = static_cast<unsigned char>(state >> 16);
            text[k] = byte == 0           ? 'A'
                      : (state >> 28) < 3 ? static_cast<unsigned char>((byte & 0x7F) | 1)
                                          : static_cast<unsigned char>(byte | 0x80);
        }
        const int capacity = 1 + static_cast<int>((state >> 8) % 48);
        Run(out, 'u', text, length, capacity);
        Run(out, 's', text, length, capacity);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
