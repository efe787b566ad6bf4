// Length of a multi-byte character in the platform character set.
#include <climits>

#include "diag/diag.h"

namespace {

// Trail bytes a UTF-8 lead byte announces, or -1 for a byte that cannot lead
// (continuation bytes, 0xFE, 0xFF).
int Utf8TrailCount(unsigned char b) {
    if ((b & 0xE0) == 0xC0)
        return 1;
    if ((b & 0xF0) == 0xE0)
        return 2;
    if ((b & 0xF8) == 0xF0)
        return 3;
    if ((b & 0xFC) == 0xF8)
        return 4;
    if ((b & 0xFE) == 0xFC)
        return 5;
    return -1;
}

// How many of the `wanted` bytes after text[0] are there before a NUL or the
// end of the available bytes.
int PresentAfterFirst(const unsigned char* text, long available, int wanted) {
    int count = 0;
    while (count < wanted && count + 1 < available && text[count + 1] != 0) {
        ++count;
    }
    return count;
}

}  // namespace

int CharExtraBytesWithin(const char* text, long available) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (available < 1 || bytes[0] < 0x80) {
        return 0;
    }
    const unsigned char b = bytes[0];
    switch (PlatformCharCode()) {
        case CHARCODE_EUC:
            return PresentAfterFirst(bytes, available, b >= 0xA0 || b == 0x8E ? 1 : 0);
        case CHARCODE_UTF8: {
            const int trail = Utf8TrailCount(b);
            if (trail >= 0) {
                return PresentAfterFirst(bytes, available, trail);
            }
            // A stray byte takes the stray bytes behind it, up to the next
            // ASCII byte or lead byte.
            int count = 0;
            while (count + 1 < available && bytes[count + 1] >= 0x80 &&
                   Utf8TrailCount(bytes[count + 1]) < 0) {
                ++count;
            }
            return count;
        }
        default:
            if (((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF)) && available >= 2 &&
                bytes[1] >= 0x40) {
                return 1;
            }
            return 0;
    }
}

int CharExtraBytes(const char* text) {
    return CharExtraBytesWithin(text, LONG_MAX);
}
