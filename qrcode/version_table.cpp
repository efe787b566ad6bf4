// Per-version symbol parameters: block structure, alignment pattern centres,
// codeword totals and data capacities. The table is built by the compiler
// from two small tables and the geometry of the symbol.
#include <cassert>

#include "qrcode/qrcode.h"

namespace {

// Count indicator widths by mode (rows) and version range 1-9, 10-26, 27-40.
constexpr int8_t kCharCountBits[4][3] = {{10, 12, 14}, {9, 11, 13}, {8, 16, 16}, {8, 10, 12}};

constexpr int kModeIndicatorBits = 4;

// Error correction codewords per block and number of blocks, by version
// and level (L, M, Q, H).
// clang-format off
constexpr int8_t kEcPerBlock[kQrMaxVersion][4] = {
    {7, 10, 13, 17},  {10, 16, 22, 28}, {15, 26, 18, 22}, {20, 18, 26, 16},  // 1-4
    {26, 24, 18, 22}, {18, 16, 24, 28}, {20, 18, 18, 26}, {24, 22, 22, 26},  // 5-8
    {30, 22, 20, 24}, {18, 26, 24, 28}, {20, 30, 28, 24}, {24, 22, 26, 28},  // 9-12
    {26, 22, 24, 22}, {30, 24, 20, 24}, {22, 24, 30, 24}, {24, 28, 24, 30},  // 13-16
    {28, 28, 28, 28}, {30, 26, 28, 28}, {28, 26, 26, 26}, {28, 26, 30, 28},  // 17-20
    {28, 26, 28, 30}, {28, 28, 30, 24}, {30, 28, 30, 30}, {30, 28, 30, 30},  // 21-24
    {26, 28, 30, 30}, {28, 28, 28, 30}, {30, 28, 30, 30}, {30, 28, 30, 30},  // 25-28
    {30, 28, 30, 30}, {30, 28, 30, 30}, {30, 28, 30, 30}, {30, 28, 30, 30},  // 29-32
    {30, 28, 30, 30}, {30, 28, 30, 30}, {30, 28, 30, 30}, {30, 28, 30, 30},  // 33-36
    {30, 28, 30, 30}, {30, 28, 30, 30}, {30, 28, 30, 30}, {30, 28, 30, 30},  // 37-40
};
constexpr int8_t kBlocks[kQrMaxVersion][4] = {
    {1, 1, 1, 1},     {1, 1, 1, 1},     {1, 1, 2, 2},     {1, 2, 2, 4},      // 1-4
    {1, 2, 4, 4},     {2, 4, 4, 4},     {2, 4, 6, 5},     {2, 4, 6, 6},      // 5-8
    {2, 5, 8, 8},     {4, 5, 8, 8},     {4, 5, 8, 11},    {4, 8, 10, 11},    // 9-12
    {4, 9, 12, 16},   {4, 9, 16, 16},   {6, 10, 12, 18},  {6, 10, 17, 16},   // 13-16
    {6, 11, 16, 19},  {6, 13, 18, 21},  {7, 14, 21, 25},  {8, 16, 20, 25},   // 17-20
    {8, 17, 23, 25},  {9, 17, 23, 34},  {9, 18, 25, 30},  {10, 20, 27, 32},  // 21-24
    {12, 21, 29, 35}, {12, 23, 34, 37}, {12, 25, 34, 40}, {13, 26, 35, 42},  // 25-28
    {14, 28, 38, 45}, {15, 29, 40, 48}, {16, 31, 43, 51}, {17, 33, 45, 54},  // 29-32
    {18, 35, 48, 57}, {19, 37, 51, 60}, {19, 38, 53, 63}, {20, 40, 56, 66},  // 33-36
    {21, 43, 59, 70}, {22, 45, 62, 74}, {24, 47, 65, 77}, {25, 49, 68, 81},  // 37-40
};
// clang-format on

// Total codewords from the geometry: the modules left by the function
// patterns and information areas, eight a codeword.
constexpr int CountCodewords(int version) {
    const int side = 4 * version + 17;
    const int centres = AlignmentCentreCount(version);
    // Versions 2 to 6 have their single pattern; from version 7 on the
    // centres form a grid less the three finder corners, and the patterns on
    // row 6 and column 6 share five modules each with a timing pattern.
    int alignmentPatterns = 0;
    int onTiming = 0;
    if (version >= 7) {
        alignmentPatterns = centres * centres - 3;
        onTiming = 2 * (centres - 2);
    } else if (version >= 2) {
        alignmentPatterns = 1;
    }
    const int finders = 3 * 49;
    const int separators = 3 * 15;
    const int timing = 2 * (side - 16);
    const int formatInfo = 30;
    const int versionInfo = version >= 7 ? 36 : 0;
    const int darkModule = 1;
    const int functionModules = finders + separators + timing + 25 * alignmentPatterns -
                                5 * onTiming + formatInfo + versionInfo + darkModule;
    return (side * side - functionModules) / 8;
}

constexpr VersionParams MakeVersionParams(int version) {
    VersionParams params{};
    // 6, then evenly spaced back from the far centre 4 × version + 10 by an
    // even step (26 for version 32, the one exception); versions 2 to 6 keep
    // only the far one of their two.
    const int count = AlignmentCentreCount(version);
    const int grid = version < 7 ? 2 : count;
    const int step = version == 32 ? 26 : (4 * version + 2 * grid + 1) / (2 * grid - 2) * 2;
    for (int slot = 0; slot < count; ++slot) {
        const int index = slot + grid - count;
        params.alignment[slot] = index == 0 ? 6 : 4 * version + 10 - (grid - 1 - index) * step;
    }
    params.total = CountCodewords(version);
    // The data codewords are shared out evenly; the blocks of group 2 take
    // one more each.
    for (int l = 0; l < 4; ++l) {
        const int blocks = kBlocks[version - 1][l];
        const int ec = kEcPerBlock[version - 1][l];
        const int data = params.total - blocks * ec;
        params.ecTotal[l] = blocks * ec;
        params.blocks2[l] = data % blocks;
        params.blocks1[l] = blocks - params.blocks2[l];
        params.data1[l] = data / blocks;
        params.codewords1[l] = params.data1[l] + ec;
        if (params.blocks2[l] > 0) {
            params.data2[l] = params.data1[l] + 1;
            params.codewords2[l] = params.codewords1[l] + 1;
        }
    }
    return params;
}

constexpr std::array<VersionParams, kQrMaxVersion> MakeVersionTable() {
    std::array<VersionParams, kQrMaxVersion> table{};
    for (int version = 1; version <= kQrMaxVersion; ++version) {
        table[version - 1] = MakeVersionParams(version);
    }
    return table;
}

}  // namespace

constexpr std::array<VersionParams, kQrMaxVersion> VersionParamTable = MakeVersionTable();

namespace {

// Check points of the standard's tables: a version and level's groups as
// blocks, codewords and data codewords per block; a version's alignment
// centres; the data codewords of a version at L, M, Q and H.
constexpr bool Groups(int version, int level, std::array<int, 6> groups) {
    const VersionParams& p = VersionParamTable[version - 1];
    const int l = level - 1;
    return std::array<int, 6>{p.blocks1[l], p.codewords1[l], p.data1[l],
                              p.blocks2[l], p.codewords2[l], p.data2[l]} == groups;
}

constexpr bool Centres(int version, std::array<int, 7> centres) {
    std::array<int, 7> stored{};
    for (int slot = 0; slot < 7; ++slot) {
        stored[slot] = VersionParamTable[version - 1].alignment[slot];
    }
    return stored == centres;
}

constexpr bool DataCodewords(int version, std::array<int, 4> data) {
    const VersionParams& p = VersionParamTable[version - 1];
    for (int l = 0; l < 4; ++l) {
        if (p.total - p.ecTotal[l] != data[l]) {
            return false;
        }
    }
    return true;
}

static_assert(Groups(1, QR_LEVEL_L, {1, 26, 19, 0, 0, 0}) &&
              Groups(1, QR_LEVEL_H, {1, 26, 9, 0, 0, 0}) &&
              Groups(5, QR_LEVEL_Q, {2, 33, 15, 2, 34, 16}) &&
              Groups(40, QR_LEVEL_H, {20, 45, 15, 61, 46, 16}) &&
              VersionParamTable[4].ecTotal[2] == 72 && VersionParamTable[39].ecTotal[3] == 2430);
static_assert(Centres(1, {}) && Centres(2, {18}) && Centres(6, {34}) && Centres(7, {6, 22, 38}) &&
              Centres(14, {6, 26, 46, 66}) && Centres(32, {6, 34, 60, 86, 112, 138}) &&
              Centres(36, {6, 24, 50, 76, 102, 128, 154}) &&
              Centres(40, {6, 30, 58, 86, 114, 142, 170}));
static_assert(VersionParamTable[0].total == 26 && VersionParamTable[1].total == 44 &&
              VersionParamTable[6].total == 196 && VersionParamTable[13].total == 581 &&
              VersionParamTable[20].total == 1156 && VersionParamTable[39].total == 3706);
static_assert(DataCodewords(1, {19, 16, 13, 9}) && DataCodewords(2, {34, 28, 22, 16}) &&
              DataCodewords(7, {156, 124, 88, 66}) && DataCodewords(10, {274, 216, 154, 122}) &&
              DataCodewords(20, {861, 669, 485, 385}) &&
              DataCodewords(27, {1468, 1128, 808, 628}) &&
              DataCodewords(40, {2956, 2334, 1666, 1276}));

// Every version fits the codeword buffers, every block has a generator
// polynomial (and at least the standard's smallest count, 7), and each level
// protects more than the one below it.
static_assert([] {
    for (const VersionParams& p : VersionParamTable) {
        for (int l = 0; l < 4; ++l) {
            const int ec = p.codewords1[l] - p.data1[l];
            if (p.total > kCodewordBufferSize || ec < 7 || ec > kMaxEcPerBlock ||
                (l > 0 && p.ecTotal[l] <= p.ecTotal[l - 1])) {
                return false;
            }
        }
    }
    return true;
}());

}  // namespace

int CharCountBits(int mode, int version) {
    assert(mode >= QR_MODE_NUMERIC && mode <= QR_MODE_KANJI);
    assert(version >= 1 && version <= kQrMaxVersion);
    const int range = version <= 9 ? 0 : (version <= 26 ? 1 : 2);
    return kCharCountBits[mode - 1][range];
}

int TotalCodewords(int version) {
    assert(version >= 1 && version <= kQrMaxVersion);
    return VersionParamTable[version - 1].total;
}

int DataCapacity(int mode, int version, int level) {
    assert(level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    const int dataCodewords =
        TotalCodewords(version) - VersionParamTable[version - 1].ecTotal[level - 1];
    const int bits = dataCodewords * 8 - kModeIndicatorBits - CharCountBits(mode, version);
    switch (mode) {
        case QR_MODE_NUMERIC: {
            const int rest = bits % 10;
            return 3 * (bits / 10) + (rest >= 7 ? 2 : (rest >= 4 ? 1 : 0));
        }
        case QR_MODE_ALPHANUMERIC:
            return 2 * (bits / 11) + (bits % 11 >= 6 ? 1 : 0);
        case QR_MODE_KANJI:
            return 2 * (bits / 13);
        default:
            return bits / 8;
    }
}
