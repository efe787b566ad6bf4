#include <gtest/gtest.h>

#include "diag/memory.h"
#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"

namespace {

const std::string kDigits = "01234567";

int Kind(const Image& image, int row, int column) {
    return image.moduleKinds[row * image.moduleCount + column];
}

// Format information from the copy around the top-left finder, bit 14 first.
int FirstFormatCopy(const Image& image) {
    const int positions[15][2] = {{8, 0}, {8, 1}, {8, 2}, {8, 3}, {8, 4}, {8, 5}, {8, 7}, {8, 8},
                                  {7, 8}, {5, 8}, {4, 8}, {3, 8}, {2, 8}, {1, 8}, {0, 8}};
    int word = 0;
    for (const auto& p : positions) {
        word = word << 1 | image.modules[p[0] * image.moduleCount + p[1]];
    }
    return word;
}

TEST(SymbolMatrixTest, WorkedExampleReadsBackByTheStandard) {
    Image image{};
    const EncodedMatrix encoded = EncodeMatrix(&image, 0, 1, QR_LEVEL_M, 3, kDigits);
    ASSERT_EQ(encoded.result, 0);
    const StandardReading reading = ReadByStandard(&image);
    EXPECT_EQ(reading.failure, "");
    EXPECT_EQ(reading.level, QR_LEVEL_M);
    EXPECT_EQ(reading.mask, 2);
    EXPECT_EQ(reading.data, std::vector<uint8_t>({0x10, 0x20, 0x0C, 0x56, 0x61, 0x80, 0xEC, 0x11,
                                                  0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11}));
    EXPECT_EQ(DecodeModules(&image), kDigits);
    // The first codeword 0x10 and the top of the second, 0x20, before masking.
    const int n = image.moduleCount;
    const int positions[11][3] = {{n - 1, n - 1, 0}, {n - 1, n - 2, 0}, {n - 2, n - 1, 0},
                                  {n - 2, n - 2, 1}, {n - 3, n - 1, 0}, {n - 3, n - 2, 0},
                                  {n - 4, n - 1, 0}, {n - 4, n - 2, 0}, {n - 5, n - 1, 0},
                                  {n - 5, n - 2, 0}, {n - 6, n - 1, 1}};
    for (const auto& p : positions) {
        EXPECT_EQ(Kind(image, p[0], p[1]), p[2] != 0 ? KIND_DATA_DARK : KIND_DATA_LIGHT);
    }
    FreeSymbolMatrix(&image);
}

TEST(SymbolMatrixTest, FormatAndVersionInformationCheckPoints) {
    Image image{};
    ASSERT_EQ(EncodeMatrix(&image, 0, 40, QR_LEVEL_L, 1, kDigits).result, 0);
    PutFormatInfo(&image, 0, QR_LEVEL_M);
    EXPECT_EQ(FirstFormatCopy(image), 0b101010000010010);
    PutFormatInfo(&image, 0, QR_LEVEL_L);
    EXPECT_EQ(FirstFormatCopy(image), 0b111011111000100);
    PutFormatInfo(&image, 1, QR_LEVEL_H);
    EXPECT_EQ(FirstFormatCopy(image), 0b001001110111110);
    // Both version blocks of version 40 and of version 7, bit 17 first.
    for (int version : {40, 7}) {
        const int n = 4 * version + 17;
        image.moduleCount = n;
        PutVersionInfo(&image, version);
        int upper = 0;
        int lower = 0;
        for (int bit = 17; bit >= 0; --bit) {
            upper = upper << 1 | image.modules[(bit / 3) * n + n - 11 + bit % 3];
            lower = lower << 1 | image.modules[(n - 11 + bit % 3) * n + bit / 3];
        }
        EXPECT_EQ(upper, version == 7 ? 0x07C94 : 0x28C69);
        EXPECT_EQ(lower, upper);
    }
    FreeSymbolMatrix(&image);
}

int FreeModules(const Image& image) {
    int count = 0;
    for (int row = 0; row < image.moduleCount; ++row) {
        for (int column = 0; column < image.moduleCount; ++column) {
            const bool free = Kind(image, row, column) == KIND_FREE;
            count += free ? 1 : 0;
            EXPECT_FALSE(free && (column == 6 || image.modules[row * image.moduleCount + column]));
        }
    }
    return count;
}

// Without codewords every codeword position stays free: eight modules a
// codeword plus the remainder bits. With them only the remainder stays
// free, light and outside the timing column.
TEST(SymbolMatrixTest, CodewordPositionsOfEveryVersion) {
    const int remainderFrom[][2] = {{35, 0}, {28, 3}, {21, 4}, {14, 3}, {7, 0}, {2, 7}, {1, 0}};
    for (int version = 1; version <= kQrMaxVersion; ++version) {
        SCOPED_TRACE(version);
        int remainder = 0;
        for (const auto& [first, bits] : remainderFrom) {
            if (version >= first) {
                remainder = bits;
                break;
            }
        }
        Image image{};
        const uint8_t none[1] = {};
        ASSERT_EQ(BuildSymbol(&image, none, 0, none, 0, 0, version, QR_LEVEL_L), 0);
        EXPECT_EQ(image.moduleCount, 4 * version + 17);
        EXPECT_EQ(FreeModules(image), TotalCodewords(version) * 8 + remainder);
        FreeSymbolMatrix(&image);
        ASSERT_EQ(EncodeMatrix(&image, 0, version, QR_LEVEL_Q, 1 + version % 8, "HELLO").result, 0);
        EXPECT_EQ(FreeModules(image), remainder);
        EXPECT_EQ(ReadByStandard(&image).failure, "");
        FreeSymbolMatrix(&image);
    }
}

TEST(SymbolMatrixTest, FailedAllocationsLeaveNothingBehind) {
    for (int failAt : {1, 2}) {
        Image image{};
        MemFailAt(failAt);
        const int result = EncodeMatrix(&image, 0, 1, QR_LEVEL_M, 0, kDigits).result;
        MemFailAt(0);
        EXPECT_EQ(result, failAt == 1 ? QR_ERR_MODULES : QR_ERR_MODULE_KINDS);
        EXPECT_EQ(image.modules, nullptr);
        EXPECT_EQ(image.moduleKinds, nullptr);
    }
}

}  // namespace
