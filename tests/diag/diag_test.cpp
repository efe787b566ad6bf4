#include "diag/diag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <random>
#include <string>

#include "tests/support/test_support.h"

namespace {

class DiagTest : public ::testing::Test {
protected:
    void TearDown() override { SetPlatformCharCode(saved_); }
    int saved_ = PlatformCharCode();
};

TEST_F(DiagTest, TraceWriteAppendsExactlyWhatItIsGiven) {
    ScratchDir scratch;
    EXPECT_EQ(TraceWrite(nullptr, "one %d,", 1), 0);
    EXPECT_EQ(TraceWrite("", "two %s\n", "2"), 0);
    EXPECT_EQ(ReadWholeFile("dbprint.trc"), "one 1,two 2\n");
    EXPECT_EQ(TraceWrite("other.trc", "%s", "x"), 0);
    EXPECT_EQ(TraceWrite("other.trc", "%s", "y"), 0);
    EXPECT_EQ(ReadWholeFile("other.trc"), "xy");
    // A file that cannot be opened is swallowed.
    EXPECT_EQ(TraceWrite("no/such/dir/t.trc", "z"), 0);
    EXPECT_FALSE(ReadWholeFile("no/such/dir/t.trc").has_value());
}

TEST_F(DiagTest, SwitchesAndSystemError) {
    EXPECT_EQ(DebugSwitch(-1), 1);  // initially on
    EXPECT_EQ(DebugSwitch(0), 0);
    EXPECT_EQ(DebugSwitch(7), 0);  // only reads
    EXPECT_EQ(DebugSwitch(1), 1);
    errno = ENOENT;
    EXPECT_EQ(LastSystemError(), ENOENT);
    errno = -5;
    EXPECT_EQ(LastSystemError(), 5);
}

TEST_F(DiagTest, CharExtraBytesFollowsThePlatformAndStopsAtTheEnd) {
    SetPlatformCharCode(CHARCODE_UTF8);
    EXPECT_EQ(CharExtraBytes("a"), 0);
    EXPECT_EQ(CharExtraBytes("\xC3\xA9"), 1);
    EXPECT_EQ(CharExtraBytes("\xE3\x81\x82"), 2);
    EXPECT_EQ(CharExtraBytes("\xF0\x9F\x98\x80"), 3);
    EXPECT_EQ(CharExtraBytes("\xF8\x80\x80\x80\x80"), 4);
    EXPECT_EQ(CharExtraBytes("\xFC\x80\x80\x80\x80\x80"), 5);
    EXPECT_EQ(CharExtraBytes("\x80\x81\xFF\xC3"), 2);  // stray run up to the lead byte
    EXPECT_EQ(CharExtraBytes("\xE3\x81"), 1);          // cut off by the terminator
    EXPECT_EQ(CharExtraBytesWithin("\xE3\x81\x82", 2), 1);
    EXPECT_EQ(CharExtraBytesWithin("\xE3\0\x82", 3), 0);

    SetPlatformCharCode(CHARCODE_EUC);
    EXPECT_EQ(CharExtraBytes("\xA4\xA2"), 1);
    EXPECT_EQ(CharExtraBytes("\x8E\xB1"), 1);
    EXPECT_EQ(CharExtraBytes("\x8F\xB1"), 0);
    EXPECT_EQ(CharExtraBytes("\xA4"), 0);

    SetPlatformCharCode(CHARCODE_SJIS);
    EXPECT_EQ(CharExtraBytes("\x82\xA0"), 1);
    EXPECT_EQ(CharExtraBytes("\xE0\x40"), 1);
    EXPECT_EQ(CharExtraBytes("\x82\x3F"), 0);
    EXPECT_EQ(CharExtraBytes("\xB1\xB1"), 0);
    EXPECT_EQ(CharExtraBytesWithin("\x82\xA0", 1), 0);
}

TEST_F(DiagTest, KeyPermutationHoldsEveryByteOnce) {
    std::array<int, 256> seen{};
    for (int v : KeyPermutation) {
        ++seen[v];
    }
    EXPECT_TRUE(std::ranges::all_of(seen, [](int n) { return n == 1; }));
    const uint8_t head[] = {0x35, 0x9E, 0xF4, 0x11, 0x69, 0xDC, 0xE5, 0x1D};
    const uint8_t tail[] = {0x6F, 0x55, 0xAC, 0xD4};
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), KeyPermutation));
    EXPECT_TRUE(std::equal(std::begin(tail), std::end(tail), KeyPermutation + 252));
}

TEST_F(DiagTest, StringKeyWorkedValues) {
    EXPECT_EQ(StringKey(0, ""), 0);
    EXPECT_EQ(StringKey(5, ""), 5 * 65536);
    // One byte: its successors are both the terminator.
    EXPECT_EQ(StringKey(0, "\x01"), 0x35359E);
    EXPECT_EQ(StringKey(0, "\xFF"), 0x3535D4);
    // Two bytes: the first takes the terminator as its third byte, the last
    // takes it twice; every index is shifted by the position.
    EXPECT_EQ(StringKey(0, "\x01\x02"), 0x35F49E + 0x9E9E11);
    EXPECT_EQ(StringKey(1, "\x01\x02"), 0x10000 + ((0x35F49E + 0x9E9E11) & 0xFFFF));
}

TEST_F(DiagTest, StringKeyTagRules) {
    // Texts past about 130 bytes overflow 31 bits of the sum.
    std::mt19937 random(7);
    for (int n = 0; n < 2000; ++n) {
        std::string text(1 + random() % 300, 'a');
        for (char& c : text) {
            c = static_cast<char>(1 + random() % 255);
        }
        const int32_t key = StringKey(0, text.c_str());
        EXPECT_GE(key, 0);
        EXPECT_EQ(StringKey(1, text.c_str()) >> 16, 1);
        EXPECT_EQ(StringKey(1, text.c_str()) & 0xFFFF, key & 0xFFFF);
    }
}

}  // namespace
