#include <gtest/gtest.h>

#include <numeric>

#include "qrcode/qrcode.h"

namespace {

TEST(CodewordsTest, WorkedExampleOneM) {
    uint8_t data[kCodewordBufferSize] = {0x10, 0x20, 0x0C, 0x56, 0x61, 0x80, 0xEC, 0x11,
                                         0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11};
    uint8_t ec[kCodewordBufferSize] = {};
    const std::vector<uint8_t> dataBefore(data, data + 16);
    ASSERT_EQ(MakeErrorCorrection(data, ec, 1, QR_LEVEL_M), 10);
    InterleaveCodewords(data, ec, 1, QR_LEVEL_M);  // a single block stays as it is
    EXPECT_EQ(std::vector<uint8_t>(data, data + 16), dataBefore);
    EXPECT_EQ(
        std::vector<uint8_t>(ec, ec + 11),
        std::vector<uint8_t>({0xA5, 0x24, 0xD4, 0xC1, 0xED, 0x36, 0xC7, 0x87, 0x2C, 0x55, 0}));
}

TEST(CodewordsTest, InterleavingOrderOfFiveH) {
    // D1..D46 and E1..E88 numbered in block order.
    uint8_t data[kCodewordBufferSize] = {};
    uint8_t ec[kCodewordBufferSize] = {};
    std::iota(data, data + 46, 1);
    std::iota(ec, ec + 88, 1);
    InterleaveCodewords(data, ec, 5, QR_LEVEL_H);
    EXPECT_EQ(std::vector<int>(data, data + 8), std::vector<int>({1, 12, 23, 35, 2, 13, 24, 36}));
    EXPECT_EQ(std::vector<int>(data + 40, data + 46), std::vector<int>({11, 22, 33, 45, 34, 46}));
    EXPECT_EQ(std::vector<int>(ec, ec + 5), std::vector<int>({1, 23, 45, 67, 2}));
    EXPECT_EQ(std::vector<int>(ec + 84, ec + 88), std::vector<int>({22, 44, 66, 88}));
    EXPECT_EQ(data[46] + ec[88], 0);
}

TEST(CodewordsTest, CountsAndZeroBlocks) {
    uint8_t data[kCodewordBufferSize] = {};
    uint8_t ec[kCodewordBufferSize] = {};
    EXPECT_EQ(MakeErrorCorrection(data, ec, 1, QR_LEVEL_L), 7);
    EXPECT_EQ(MakeErrorCorrection(data, ec, 40, QR_LEVEL_H), 2430);
    EXPECT_TRUE(std::all_of(ec, ec + kCodewordBufferSize, [](uint8_t b) { return b == 0; }));
}

}  // namespace
