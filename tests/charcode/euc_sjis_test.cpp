#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <string>

#include "charcode/charcode.h"

namespace {

std::string Euc2Sjis(const std::string& euc, int capacity = 64) {
    std::string out(static_cast<std::size_t>(capacity), '\x7F');
    EXPECT_EQ(EucToSjis(euc.c_str(), out.data(), capacity), 0);
    return out.substr(0, out.find('\0'));
}

std::string Sjis2Euc(const std::string& sjis, int capacity = 64) {
    std::string out(static_cast<std::size_t>(capacity), '\x7F');
    EXPECT_EQ(SjisToEuc(sjis.c_str(), out.data(), capacity), 0);
    return out.substr(0, out.find('\0'));
}

// glibc's own tables, as an independent reference.
std::optional<std::string> Iconv(const char* from, const char* to, const std::string& text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string in = text;
    char out[16];
    char* inPtr = in.data();
    char* outPtr = out;
    std::size_t inLeft = in.size();
    std::size_t outLeft = sizeof out;
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1) || inLeft != 0) {
        return std::nullopt;
    }
    return std::string(out, outPtr);
}

TEST(EucSjisTest, KnownCharactersBothWays) {
    EXPECT_EQ(Euc2Sjis("\xA4\xA2"), "\x82\xA0");
    EXPECT_EQ(Euc2Sjis("\xB0\xA1"), "\x88\x9F");
    EXPECT_EQ(Euc2Sjis("\xDF\xA1"), "\xE0\x40");
    EXPECT_EQ(Euc2Sjis("\x8E\xB1"), "\xB1");
    EXPECT_EQ(Euc2Sjis("\xA1\xA0"), "\x81\x3F");
    EXPECT_EQ(Euc2Sjis("ABC"), "ABC");
    EXPECT_EQ(Sjis2Euc("\x82\xA0"), "\xA4\xA2");
    EXPECT_EQ(Sjis2Euc("\x88\x9F"), "\xB0\xA1");
    EXPECT_EQ(Sjis2Euc("\xE0\x40"), "\xDF\xA1");
    EXPECT_EQ(Sjis2Euc("\xB1"), "\x8E\xB1");
    EXPECT_EQ(Sjis2Euc("\x81\x3F"), "\xA1\xA0");
    EXPECT_EQ(Sjis2Euc("A\xB1z"), "A\x8E\xB1z");
}

TEST(EucSjisTest, EveryJisX0208CharacterMatchesTheSystemTables) {
    int compared = 0;
    for (int c1 = 0xA1; c1 <= 0xFE; ++c1) {
        for (int c2 = 0xA1; c2 <= 0xFE; ++c2) {
            const std::string euc{static_cast<char>(c1), static_cast<char>(c2)};
            const auto sjis = Iconv("EUC-JP", "SHIFT_JIS", euc);
            if (!sjis) {
                continue;  // unassigned in the system's tables
            }
            ASSERT_EQ(Euc2Sjis(euc), *sjis) << std::hex << c1 << ' ' << c2;
            ASSERT_EQ(Sjis2Euc(*sjis), euc) << std::hex << c1 << ' ' << c2;
            ++compared;
        }
    }
    EXPECT_GT(compared, 6800);
}

TEST(EucSjisTest, MalformedCharacterEndsTheTextConverted) {
    // Trail byte out of range, a lone lead byte and a lone single shift: the
    // part before is converted and terminated, nothing after is read.
    EXPECT_EQ(Euc2Sjis("A\xA4\xA2\xA4\x41Z"), "A\x82\xA0");
    EXPECT_EQ(Euc2Sjis("A\xA4"), "A");
    EXPECT_EQ(Euc2Sjis("A\x8E"), "A");
    EXPECT_EQ(Sjis2Euc("A\x82\x20Z"), "A");
    EXPECT_EQ(Sjis2Euc("A\x82"), "A");
}

TEST(EucSjisTest, SourceAsLongAsCapacityIsRefusedUntouched) {
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(EucToSjis("ABCD", out, 4), -7);
    EXPECT_EQ(SjisToEuc("ABCD", out, 4), -7);
    EXPECT_EQ(EucToSjis("", out, 0), -7);
    EXPECT_EQ(std::string(out, 4), "xxxx");
    EXPECT_EQ(Euc2Sjis("ABC", 4), "ABC");
}

TEST(EucSjisTest, LengtheningStopsWithinCapacityOnACharacterBoundary) {
    // Three half-width kana need 7 bytes; 6 hold two of them and the terminator.
    std::string out(8, '\x7F');
    EXPECT_EQ(SjisToEuc("\xB1\xB2\xB3", out.data(), 6), 0);
    EXPECT_EQ(out, std::string("\x8E\xB1\x8E\xB2\0\x7F\x7F\x7F", 8));
    EXPECT_EQ(Sjis2Euc("\xB1\xB2\xB3", 7), "\x8E\xB1\x8E\xB2\x8E\xB3");
}

}  // namespace
