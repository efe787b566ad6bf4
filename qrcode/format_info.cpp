// Format and version information: their BCH codewords and the modules that
// carry them.
#include <bit>
#include <cassert>

#include "qrcode/qrcode.h"

namespace {

// Format information level indicators for L, M, Q, H.
constexpr int kFormatLevelBits[4] = {0b01, 0b00, 0b11, 0b10};
constexpr int kFormatGenerator = 0x537;  // x^10 + x^8 + x^5 + x^4 + x^2 + x + 1
constexpr int kFormatXorMask = 0x5412;
constexpr int kFormatBits = 15;
constexpr int kVersionGenerator = 0x1F25;  // x^12 + x^11 + x^10 + x^9 + x^8 + x^5 + x^2 + 1

// data followed by its BCH remainder under generator (of the given degree).
int BchCodeword(int data, int generator, int degree) {
    int remainder = data << degree;
    for (int bit = std::bit_width(static_cast<unsigned>(remainder)) - 1; bit >= degree; --bit) {
        if ((remainder >> bit & 1) != 0) {
            remainder ^= generator << (bit - degree);
        }
    }
    return data << degree | remainder;
}

// An information module takes its bit with the kind of a data module, so
// that the next mask applied knows the bit it holds; keepKind leaves a
// reserved kind in place.
void SetInfoBit(Image* image, int row, int column, bool dark, bool keepKind) {
    const int index = row * image->moduleCount + column;
    image->modules[index] = dark ? 1 : 0;
    if (!keepKind) {
        image->moduleKinds[index] = dark ? KIND_DATA_DARK : KIND_DATA_LIGHT;
    }
}

}  // namespace

int FormatInfoWord(int mask, int level) {
    assert(mask >= 0 && mask < kMaskCount && level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    return BchCodeword(kFormatLevelBits[level - 1] << 3 | mask, kFormatGenerator, 10) ^
           kFormatXorMask;
}

void FormatInfoModules(int n, int bit, int rows[2], int columns[2]) {
    assert(bit >= 0 && bit < kFormatBits);
    // First copy, around the top-left finder, skipping the timing row and column.
    if (bit < 6) {
        rows[0] = bit;
        columns[0] = 8;
    } else if (bit < 8) {
        rows[0] = bit + 1;
        columns[0] = 8;
    } else if (bit == 8) {
        rows[0] = 8;
        columns[0] = 7;
    } else {
        rows[0] = 8;
        columns[0] = 14 - bit;
    }
    // Second copy, split between the top-right and bottom-left finders.
    if (bit < 8) {
        rows[1] = 8;
        columns[1] = n - 1 - bit;
    } else {
        rows[1] = n - 15 + bit;
        columns[1] = 8;
    }
}

void PutFormatInfo(Image* image, int mask, int level) {
    const int word = FormatInfoWord(mask, level);
    for (int i = 0; i < kFormatBits; ++i) {
        int rows[2];
        int columns[2];
        FormatInfoModules(image->moduleCount, i, rows, columns);
        const bool dark = (word >> i & 1) != 0;
        // The three modules at the corner of the top-left separator keep
        // their reserved kind.
        SetInfoBit(image, rows[0], columns[0], dark, i >= 6 && i <= 8);
        SetInfoBit(image, rows[1], columns[1], dark, false);
    }
}

void PutVersionInfo(Image* image, int version) {
    assert(version >= 1 && version <= kQrMaxVersion);
    if (version < 7) {
        return;
    }
    const int n = image->moduleCount;
    const int word = BchCodeword(version, kVersionGenerator, 12);
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 3; ++j) {
            const bool dark = (word >> (3 * i + j) & 1) != 0;
            SetInfoBit(image, i, n - 11 + j, dark, false);
            SetInfoBit(image, n - 11 + j, i, dark, false);
        }
    }
}
