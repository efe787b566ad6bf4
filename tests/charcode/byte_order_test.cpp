#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "charcode/charcode.h"

namespace {

template <typename T>
T FromBytes(std::initializer_list<unsigned char> bytes) {
    T value;
    std::memcpy(&value, bytes.begin(), sizeof value);
    return value;
}

const bool kLittleHost = FromBytes<uint16_t>({1, 0}) == 1;

// A double stored in the byte order other than the host's, given as its
// big-endian bytes.
double ForeignDouble(std::initializer_list<unsigned char> bigEndian) {
    const uint64_t bits = FromBytes<uint64_t>(bigEndian);
    return std::bit_cast<double>(kLittleHost ? bits : SwapU64(bits));
}

TEST(ByteOrderTest, ValuesComeBackWithTheirBytesReversed) {
    EXPECT_EQ(IsLittleEndian(), kLittleHost ? 1 : 0);
    EXPECT_EQ(SwapU32(FromBytes<uint32_t>({0x11, 0x22, 0x33, 0x44})),
              FromBytes<uint32_t>({0x44, 0x33, 0x22, 0x11}));
    const int16_t swapped = SwapS16(FromBytes<int16_t>({0xFF, 0x80}));
    EXPECT_EQ(swapped, FromBytes<int16_t>({0x80, 0xFF}));
    EXPECT_EQ(SwapS16(static_cast<int16_t>(0x80FF)), -128);
    EXPECT_EQ(SwapU16(0x1234), 0x3412);
    EXPECT_EQ(SwapS32(SwapS32(-5)), -5);
    EXPECT_EQ(SwapLong(0x01020304), 0x04030201);
    EXPECT_EQ(SwapU64(0x0102030405060708ULL), 0x0807060504030201ULL);
    EXPECT_EQ(SwapS64(1), static_cast<int64_t>(0x0100000000000000LL));
    EXPECT_EQ(SwapFloat(SwapFloat(1.5f)), 1.5f);
    EXPECT_EQ(SwapDouble(ForeignDouble({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})), 1.0);
    EXPECT_EQ(SwapLongDouble(ForeignDouble({0x40, 0, 0, 0, 0, 0, 0, 0})), 2.0);
}

TEST(ByteOrderTest, BuffersAndArraysReverseInPlace) {
    unsigned char bytes[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(ReverseBytes(bytes, 5), 0);
    EXPECT_EQ(std::memcmp(bytes, "\5\4\3\2\1", 5), 0);
    ReverseElements(bytes, 2, 2);  // the fifth byte is not an element
    EXPECT_EQ(std::memcmp(bytes, "\4\5\2\3\1", 5), 0);

    uint16_t shorts[3] = {0x0102, 0x0304, 0x0506};
    SwapU16Array(shorts, 3);
    EXPECT_EQ(shorts[2], 0x0605);
    double doubles[2] = {1.0, 2.0};
    SwapDoubleArray(doubles, 2);
    EXPECT_EQ(SwapDouble(doubles[1]), 2.0);
    SwapLongDoubleArray(doubles, 2);
    EXPECT_EQ(doubles[0], 1.0);
    int32_t longs[1] = {1};
    SwapLongArray(longs, 1);
    EXPECT_EQ(longs[0], 0x01000000);
}

}  // namespace
