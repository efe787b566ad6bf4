// EUC-JP <-> Shift-JIS by arithmetic on the JIS row and cell, byte by byte.
#include <cstring>

#include "charcode/charcode.h"

namespace {

// Both directions refuse a source that leaves no room for its terminator.
bool SourceFits(const char* source, int capacity) {
    return capacity > 0 && std::strlen(source) < static_cast<std::size_t>(capacity);
}

}  // namespace

int EucToSjis(const char* source, char* destination, int capacity) {
    if (!SourceFits(source, capacity)) {
        return -7;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(source);
    auto* out = reinterpret_cast<unsigned char*>(destination);
    // Every rule turns n source bytes into at most n, so the output always fits.
    while (*in != 0) {
        const int c1 = in[0];
        if (c1 < 0x80) {
            *out++ = static_cast<unsigned char>(c1);
            in += 1;
            continue;
        }
        const int c2 = in[1];  // the terminator at worst
        if (c1 == 0x8E) {
            if (c2 == 0) {
                break;  // single shift with nothing behind it
            }
            *out++ = static_cast<unsigned char>(c2);
            in += 2;
            continue;
        }
        int s1 = 0;
        int s2 = 0;
        if (c1 % 2 == 1 && c2 >= 0xA0 && c2 <= 0xDF) {
            s2 = c2 - 0x61;
        } else if (c1 % 2 == 1 && c2 >= 0xE0 && c2 <= 0xFE) {
            s2 = c2 - 0x60;
        } else if (c1 % 2 == 0 && c2 >= 0xA0 && c2 <= 0xFE) {
            s2 = c2 - 0x02;
        } else {
            break;  // malformed: keep what is converted, terminated
        }
        s1 = c1 % 2 == 1 ? c1 - 0x20 - (c1 - 0xA1) / 2 : c1 - 0x21 - (c1 - 0xA2) / 2;
        if (c1 >= 0xDF) {
            s1 += 0x40;
        }
        *out++ = static_cast<unsigned char>(s1);
        *out++ = static_cast<unsigned char>(s2);
        in += 2;
    }
    *out = 0;
    return 0;
}

int SjisToEuc(const char* source, char* destination, int capacity) {
    if (!SourceFits(source, capacity)) {
        return -7;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(source);
    auto* out = reinterpret_cast<unsigned char*>(destination);
    // Half-width kana double in length, so each character is checked against
    // the room left (its bytes plus the terminator).
    const auto* const end = out + capacity - 1;
    while (*in != 0) {
        const int s1 = in[0];
        unsigned char bytes[2] = {static_cast<unsigned char>(s1), 0};
        int produced = 1;
        int consumed = 1;
        if (s1 >= 0xA0 && s1 <= 0xDF) {
            bytes[0] = 0x8E;
            bytes[1] = static_cast<unsigned char>(s1);
            produced = 2;
        } else if (s1 >= 0x80) {
            const int s2 = in[1];  // the terminator at worst
            const int t = s1 >= 0xE0 ? s1 - 0x40 : s1;
            int c2 = 0;
            int e = 0;
            if (s2 >= 0x3F && s2 <= 0x7F) {
                c2 = s2 + 0x61;
                e = 0x20;
            } else if (s2 >= 0x80 && s2 <= 0x9E) {
                c2 = s2 + 0x60;
                e = 0x20;
            } else if (s2 >= 0x9F && s2 <= 0xFE) {
                c2 = s2 + 0x02;
                e = 0x21;
            } else {
                break;  // malformed: keep what is converted, terminated
            }
            bytes[0] = static_cast<unsigned char>(2 * t + e - 0x81);
            bytes[1] = static_cast<unsigned char>(c2);
            produced = 2;
            consumed = 2;
        }
        if (end - out < produced) {
            break;  // no room for the whole character
        }
        std::memcpy(out, bytes, static_cast<std::size_t>(produced));
        out += produced;
        in += consumed;
    }
    *out = 0;
    return 0;
}
