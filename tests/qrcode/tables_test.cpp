#include <gtest/gtest.h>

#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"

namespace {

TEST(VersionTableTest, CheckRows) {
    const VersionParams& v1 = VersionParamTable[0];
    EXPECT_EQ(v1.total, 26);
    EXPECT_EQ(std::vector<int>(v1.ecTotal, v1.ecTotal + 4), std::vector<int>({7, 10, 13, 17}));
    EXPECT_EQ(std::vector<int>(v1.data1, v1.data1 + 4), std::vector<int>({19, 16, 13, 9}));
    EXPECT_EQ(std::vector<int>(v1.blocks1, v1.blocks1 + 4), std::vector<int>({1, 1, 1, 1}));
    const VersionParams& v5 = VersionParamTable[4];
    EXPECT_EQ(v5.ecTotal[2], 72);
    EXPECT_EQ(std::vector<int>({v5.blocks1[2], v5.codewords1[2], v5.data1[2], v5.blocks2[2],
                                v5.codewords2[2], v5.data2[2]}),
              std::vector<int>({2, 33, 15, 2, 34, 16}));
    const VersionParams& v40 = VersionParamTable[39];
    EXPECT_EQ(v40.ecTotal[3], 2430);
    EXPECT_EQ(std::vector<int>({v40.blocks1[3], v40.codewords1[3], v40.data1[3], v40.blocks2[3],
                                v40.codewords2[3], v40.data2[3]}),
              std::vector<int>({20, 45, 15, 61, 46, 16}));
    EXPECT_EQ(std::vector<int>(v40.alignment, v40.alignment + 7),
              std::vector<int>({6, 30, 58, 86, 114, 142, 170}));
}

// The rules every block structure of the standard obeys, and data codeword
// counts of the standard's capacity table.
TEST(VersionTableTest, BlockStructureOfEveryVersionAndLevel) {
    const int dataCodewords[][5] = {{1, 19, 16, 13, 9},          {2, 34, 28, 22, 16},
                                    {7, 156, 124, 88, 66},       {10, 274, 216, 154, 122},
                                    {20, 861, 669, 485, 385},    {27, 1468, 1128, 808, 628},
                                    {40, 2956, 2334, 1666, 1276}};
    for (int version = 1; version <= kQrMaxVersion; ++version) {
        const VersionParams& p = VersionParamTable[version - 1];
        EXPECT_EQ(p.total, TotalCodewords(version));
        for (int l = 0; l < 4; ++l) {
            SCOPED_TRACE(testing::Message() << "version " << version << " level " << l + 1);
            const int ec = p.codewords1[l] - p.data1[l];
            EXPECT_EQ(p.blocks1[l] * p.codewords1[l] + p.blocks2[l] * p.codewords2[l], p.total);
            EXPECT_EQ(p.ecTotal[l], (p.blocks1[l] + p.blocks2[l]) * ec);
            EXPECT_GE(ec, 7);
            EXPECT_LE(ec, kMaxEcPerBlock);
            if (p.blocks2[l] > 0) {
                EXPECT_EQ(p.codewords2[l], p.codewords1[l] + 1);
                EXPECT_EQ(p.data2[l], p.data1[l] + 1);
            } else {
                EXPECT_EQ(p.codewords2[l] + p.data2[l], 0);
            }
            if (l > 0) {
                EXPECT_GT(p.ecTotal[l], p.ecTotal[l - 1]);
            }
        }
    }
    for (const auto& row : dataCodewords) {
        for (int l = 0; l < 4; ++l) {
            EXPECT_EQ(TotalCodewords(row[0]) - VersionParamTable[row[0] - 1].ecTotal[l], row[l + 1])
                << "version " << row[0] << " level " << l + 1;
        }
    }
}

TEST(VersionTableTest, AlignmentCentresFollowTheSpacingRule) {
    for (int version = 1; version <= kQrMaxVersion; ++version) {
        std::vector<int> expected = AlignmentCentres(version);
        if (version < 7 && !expected.empty()) {
            expected.erase(expected.begin());  // only the one centre is kept
        }
        expected.resize(7, 0);
        const int32_t* stored = VersionParamTable[version - 1].alignment;
        EXPECT_EQ(std::vector<int>(stored, stored + 7), expected) << "version " << version;
    }
}

TEST(VersionTableTest, TotalCodewordsAndCapacityCheckValues) {
    const int totals[][2] = {{1, 26}, {2, 44}, {7, 196}, {14, 581}, {21, 1156}, {40, 3706}};
    for (const auto& row : totals) {
        EXPECT_EQ(TotalCodewords(row[0]), row[1]);
    }
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
