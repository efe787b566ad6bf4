// The module matrix, and BuildSymbol, which runs the symbol stage: function
// patterns and reserved areas, codeword placement, the mask, and the format
// and version information.
#include <cassert>
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
    const int count = AlignmentCentreCount(version);
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
    assert(byte == total);  // more codewords than the version holds would be lost
}

// Both planes, n × n and zeroed: every module light and free.
int AllocateMatrix(Image* image, int n) {
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
    return 0;
}

// Finders, timing, alignment patterns and the areas kept for separators and
// information: after this only codeword positions are free.
void PlaceFunctionPatterns(Image* image, int version) {
    PlaceFinderPatterns(image);
    PlaceTimingPatterns(image);
    PlaceAlignmentPatterns(image, version);
    ReserveInfoAreas(image, version);
}

}  // namespace

void FreeSymbolMatrix(Image* image) {
    MemFree(image->modules);
    MemFree(image->moduleKinds);
    image->modules = nullptr;
    image->moduleKinds = nullptr;
}

int BuildSymbol(Image* image, const uint8_t* dataCodewords, int dataCount,
                const uint8_t* ecCodewords, int ecCount, int /*mode*/, int version, int level) {
    assert(version >= 1 && version <= kQrMaxVersion && level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    const int allocated = AllocateMatrix(image, 4 * version + 17);
    if (allocated < 0) {
        return allocated;
    }
    PlaceFunctionPatterns(image, version);
    PlaceCodewords(image, dataCodewords, dataCount, ecCodewords, ecCount);
    const int mask = SelectMask(image, level);
    ApplyMask(image, mask);
    PutFormatInfo(image, mask, level);
    // Written only now, so that the masks were scored with these areas light.
    PutVersionInfo(image, version);
    return 0;
}
