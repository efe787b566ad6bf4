#include <gtest/gtest.h>

#include "qrcode/qrcode.h"

namespace {

TEST(VersionTableTest, CapacityCheckValues) {
    // version, level, then numeric, alphanumeric, 8-bit and Kanji bytes.
    const int capacities[][6] = {{1, 1, 41, 25, 17, 20},          {1, 4, 17, 10, 7, 8},
                                 {10, 2, 513, 311, 213, 262},     {26, 1, 3283, 1990, 1367, 1684},
                                 {40, 1, 7089, 4296, 2953, 3634}, {40, 4, 3057, 1852, 1273, 1568}};
    for (const auto& row : capacities) {
        for (int mode = 1; mode <= 4; ++mode) {
            EXPECT_EQ(DataCapacity(mode, row[0], row[1]), row[mode + 1])
                << "version " << row[0] << " level " << row[1] << " mode " << mode;
        }
    }
    const int widths[4][3] = {{10, 12, 14}, {9, 11, 13}, {8, 16, 16}, {8, 10, 12}};
    for (int mode = 1; mode <= 4; ++mode) {
        EXPECT_EQ(CharCountBits(mode, 9), widths[mode - 1][0]);
        EXPECT_EQ(CharCountBits(mode, 10), widths[mode - 1][1]);
        EXPECT_EQ(CharCountBits(mode, 26), widths[mode - 1][1]);
        EXPECT_EQ(CharCountBits(mode, 27), widths[mode - 1][2]);
    }
}

int MultiplyBitwise(int a, int b) {
    int product = 0;
    for (; b != 0; b >>= 1, a = (a << 1) ^ ((a & 0x80) != 0 ? 0x11D : 0)) {
        product ^= (b & 1) != 0 ? a : 0;
    }
    return product;
}

TEST(GaloisFieldTest, TablesAndGeneratorPolynomials) {
    for (int i = 0, power = 1; i < 256; ++i, power = MultiplyBitwise(power, 2)) {
        ASSERT_EQ(GfExp[i], power) << i;
        if (i < 255) {
            ASSERT_EQ(GfLog[power], i);
        }
    }
    EXPECT_EQ(
        std::vector<int>(GeneratorPolynomials[7].begin(), GeneratorPolynomials[7].begin() + 7),
        std::vector<int>({87, 229, 146, 149, 238, 102, 21}));
    EXPECT_EQ(
        std::vector<int>(GeneratorPolynomials[10].begin(), GeneratorPolynomials[10].begin() + 10),
        std::vector<int>({251, 67, 46, 61, 118, 70, 64, 94, 32, 45}));
    // Every generator in use vanishes at 2^0 ... 2^(e-1).
    for (int e : {7, 10, 13, 15, 16, 17, 18, 20, 22, 24, 26, 28, 30}) {
        for (int root = 0; root < e; ++root) {
            int value = 1;  // the leading coefficient
            for (int j = 0; j < e; ++j) {
                value = MultiplyBitwise(value, GfExp[root]) ^ GfExp[GeneratorPolynomials[e][j]];
            }
            EXPECT_EQ(value, 0) << "e " << e << " root " << root;
        }
    }
}

}  // namespace
