// The module matrix: function patterns, reserved areas, codeword placement,
// and the format and version information.
#include <bit>
#include <cstring>

#include "diag/memory.h"
#include "qrcode/qrcode.h"

namespace {

constexpr uint8_t kFinderPattern[7][7] = {
    {1, 1, 1, 1, 1, 1, 1}, {1, 0, 0, 0, 0, 0, 1}, {1, 0, 1, 1, 1, 0, 1}, {1, 0, 1, 1, 1, 0, 1},
    {1, 0, 1, 1, 1, 0, 1}, {1, 0, 0, 0, 0, 0, 1}, {1, 1, 1, 1, 1, 1, 1},
};
constexpr uint8_t kAlignmentPattern[5][5] = {
    {1, 1, 1, 1, 1}, {1, 0, 0, 0, 1}, {1, 0, 1, 0, 1}, {1, 0, 0, 0, 1}, {1, 1, 1, 1, 1},
};

// Format information level indicators for L, M, Q, H.
constexpr int kFormatLevelBits[4] = {0b01, 0b00, 0b11, 0b10};
constexpr int kFormatGenerator = 0x537;  // x^10 + x^8 + x^5 + x^4 + x^2 + x + 1
constexpr int kFormatXorMask = 0x5412;
constexpr int kVersionGenerator = 0x1F25;  // x^12 + x^11 + x^10 + x^9 + x^8 + x^5 + x^2 + 1

int Index(const Image* image, int row, int column) {
    return row * image->moduleCount + column;
}

// A dark function module, or the kind of a light one (its value stays).
void SetFunction(Image* image, int row, int column, bool dark) {
    const int index = Index(image, row, column);
    if (dark) {
        image->modules[index] = 1;
        image->moduleKinds[index] = KIND_FUNCTION_DARK;
    } else {
        image->moduleKinds[index] = KIND_FUNCTION_LIGHT;
    }
}

void Reserve(Image* image, int row, int column) {
    image->moduleKinds[Index(image, row, column)] = KIND_FUNCTION_LIGHT;
}

// A module that carries a bit: format and version bits as well as codeword
// bits, so that masking can tell from the kind which bit it held.
void SetDataBit(Image* image, int row, int column, bool dark, bool keepKind) {
    const int index = Index(image, row, column);
    image->modules[index] = dark ? 1 : 0;
    if (!keepKind) {
        image->moduleKinds[index] = dark ? KIND_DATA_DARK : KIND_DATA_LIGHT;
    }
}

void PlaceFinderPatterns(Image* image) {
    const int n = image->moduleCount;
    const int corners[3][2] = {{0, 0}, {0, n - 7}, {n - 7, 0}};
    for (const auto& corner : corners) {
        for (int r = 0; r < 7; ++r) {
            for (int c = 0; c < 7; ++c) {
                SetFunction(image, corner[0] + r, corner[1] + c, kFinderPattern[r][c] != 0);
            }
        }
    }
}

void PlaceTimingPatterns(Image* image) {
    const int n = image->moduleCount;
    for (int i = 8; i <= n - 8; ++i) {
        SetFunction(image, 6, i, i % 2 == 0);
        SetFunction(image, i, 6, i % 2 == 0);
    }
    SetFunction(image, n - 8, 8, true);  // the dark module
}

void PlaceAlignmentPatterns(Image* image, int version) {
    const int32_t* centres = VersionParamTable[version - 1].alignment;
    int count = 0;
    while (count < 7 && centres[count] > 0) {
        ++count;
    }
    const int last = count - 1;
    for (int a = 0; a < count; ++a) {
        for (int b = 0; b < count; ++b) {
            // The three grid corners that fall on finder patterns are left out.
            const bool aAtEnd = a == 0 || a == last;
            const bool bAtEnd = b == 0 || b == last;
            if (aAtEnd && bAtEnd && !(a == last && b == last)) {
                continue;
            }
            for (int r = 0; r < 5; ++r) {
                for (int c = 0; c < 5; ++c) {
                    SetFunction(image, centres[b] - 2 + r, centres[a] - 2 + c,
                                kAlignmentPattern[r][c] != 0);
                }
            }
        }
    }
}

// Separators and the format and version information areas: nothing is
// placed there and no mask changes them.
void ReserveInfoAreas(Image* image, int version) {
    const int n = image->moduleCount;
    for (int i = 0; i <= 7; ++i) {
        Reserve(image, 7, i);
        Reserve(image, 7, n - 1 - i);
        Reserve(image, n - 8, i);
        Reserve(image, i, 7);
        Reserve(image, n - 1 - i, 7);
        Reserve(image, i, n - 8);
    }
    for (int i = 0; i <= 8; ++i) {
        Reserve(image, 8, i);
        Reserve(image, i, 8);
    }
    for (int i = n - 8; i < n; ++i) {
        Reserve(image, 8, i);
        Reserve(image, i, 8);
    }
    if (version >= 7) {
        for (int i = 0; i <= 5; ++i) {
            for (int j = n - 11; j <= n - 9; ++j) {
                Reserve(image, j, i);
                Reserve(image, i, j);
            }
        }
    }
}

// Two-column strips from the right edge, alternately upwards and downwards,
// right module before left, skipping the vertical timing column and every
// module already taken. Free modules left at the end are remainder bits.
void PlaceCodewords(Image* image, const uint8_t* dataCodewords, int dataCount,
                    const uint8_t* ecCodewords, int ecCount) {
    const int n = image->moduleCount;
    const int total = dataCount + ecCount;
    int byte = 0;
    int bit = 0;  // of the current codeword, 0 the most significant
    uint8_t codeword = total > 0 ? dataCodewords[0] : 0;
    bool upward = true;
    for (int right = n - 1; right >= 1 && byte < total; right -= 2) {
        if (right == 6) {
            right = 5;
        }
        for (int step = 0; step < n && byte < total; ++step) {
            const int row = upward ? n - 1 - step : step;
            uint8_t* modules = image->modules + row * n;
            uint8_t* kinds = image->moduleKinds + row * n;
            for (int column = right; column >= right - 1 && byte < total; --column) {
                if (kinds[column] != KIND_FREE) {
                    continue;
                }
                const bool dark = (codeword >> (7 - bit) & 1) != 0;
                modules[column] = dark ? 1 : 0;
                kinds[column] = dark ? KIND_DATA_DARK : KIND_DATA_LIGHT;
                if (++bit == 8) {
                    bit = 0;
                    ++byte;
                    codeword = byte < dataCount ? dataCodewords[byte]
                               : byte < total   ? ecCodewords[byte - dataCount]
                                                : 0;
                }
            }
        }
        upward = !upward;
    }
}

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

}  // namespace

void FreeSymbolMatrix(Image* image) {
    MemFree(image->modules);
    MemFree(image->moduleKinds);
    image->modules = nullptr;
    image->moduleKinds = nullptr;
}

int FormatInfoWord(int mask, int level) {
    return BchCodeword(kFormatLevelBits[level - 1] << 3 | mask, kFormatGenerator, 10) ^
           kFormatXorMask;
}

void FormatInfoModules(int n, int bit, int rows[2], int columns[2]) {
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
    for (int i = 0; i < 15; ++i) {
        int rows[2];
        int columns[2];
        FormatInfoModules(image->moduleCount, i, rows, columns);
        const bool dark = (word >> i & 1) != 0;
        // The three modules at the corner of the top-left separator keep
        // their reserved kind.
        SetDataBit(image, rows[0], columns[0], dark, i >= 6 && i <= 8);
        SetDataBit(image, rows[1], columns[1], dark, false);
    }
}

void PutVersionInfo(Image* image, int version) {
    if (version < 7) {
        return;
    }
    const int n = image->moduleCount;
    const int word = BchCodeword(version, kVersionGenerator, 12);
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 3; ++j) {
            const bool dark = (word >> (3 * i + j) & 1) != 0;
            SetDataBit(image, i, n - 11 + j, dark, false);
            SetDataBit(image, n - 11 + j, i, dark, false);
        }
    }
}

int BuildSymbol(Image* image, const uint8_t* dataCodewords, int dataCount,
                const uint8_t* ecCodewords, int ecCount, int /*mode*/, int version, int level) {
    const int n = 4 * version + 17;
    const auto cells = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    image->moduleCount = n;
    image->moduleKinds = nullptr;
    image->modules = static_cast<uint8_t*>(MemAlloc(cells));
    if (image->modules == nullptr) {
        return QR_ERR_MODULES;
    }
    image->moduleKinds = static_cast<uint8_t*>(MemAlloc(cells));
    if (image->moduleKinds == nullptr) {
        FreeSymbolMatrix(image);
        return QR_ERR_MODULE_KINDS;
    }
    std::memset(image->modules, 0, cells);
    std::memset(image->moduleKinds, 0, cells);

    PlaceFinderPatterns(image);
    PlaceTimingPatterns(image);
    PlaceAlignmentPatterns(image, version);
    ReserveInfoAreas(image, version);
    PlaceCodewords(image, dataCodewords, dataCount, ecCodewords, ecCount);
    SelectMask(image, level);
    // Written after the mask is chosen, so scoring sees these areas light.
    PutVersionInfo(image, version);
    return 0;
}
