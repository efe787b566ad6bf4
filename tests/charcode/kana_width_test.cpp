#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "charcode/charcode.h"

namespace {

// Sets the platform character set for one test and restores it after.
class KanaWidthTest : public ::testing::Test {
protected:
    void TearDown() override { SetPlatformCharCode(saved_); }
    int saved_ = PlatformCharCode();
};

std::string FromUtf8(const char* to, const std::string& utf8) {
    iconv_t cd = iconv_open(to, "UTF-8");
    std::string in = utf8;
    std::string out(64, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    return out.substr(0, out.size() - outLeft);
}

// Converts in a destination of exactly the documented size, on the heap so
// that the sanitizer sees any byte written past it.
std::string FullWidth(const std::string& source) {
    std::vector<char> in(source.begin(), source.end());
    in.push_back('\0');
    std::vector<char> out(2 * source.size() + 1, '\x7F');
    EXPECT_EQ(ToFullWidthKana(in.data(), out.data()), 0);
    return out.data();
}

// The full-width forms of the half-width bytes 0xA0 to 0xDF, in order.
const std::vector<std::string> kFullWidth = [] {
    const std::string all =
        "　。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
        "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
    std::vector<std::string> forms;
    for (std::size_t i = 0; i < all.size(); i += 3) {
        forms.push_back(all.substr(i, 3));
    }
    return forms;
}();

TEST_F(KanaWidthTest, EveryHalfWidthByteBecomesItsFullWidthForm) {
    ASSERT_EQ(kFullWidth.size(), 64u);
    for (int h = 0xA0; h <= 0xDF; ++h) {
        const std::string half(1, static_cast<char>(h));
        SetPlatformCharCode(CHARCODE_SJIS);
        EXPECT_EQ(FullWidth(half), FromUtf8("CP932", kFullWidth[h - 0xA0])) << h;
        SetPlatformCharCode(CHARCODE_EUC);
        EXPECT_EQ(FullWidth("\x8E" + half), FromUtf8("EUC-JP", kFullWidth[h - 0xA0])) << h;
    }
    SetPlatformCharCode(CHARCODE_SJIS);
    EXPECT_EQ(FullWidth("\xA0\xA1\xB0\xB1\xDD\xDE\xDF"),
              "\x81\x40\x81\x42\x81\x5B\x83\x41\x83\x93\x81\x4A\x81\x4B");
}

TEST_F(KanaWidthTest, SoundMarksMergeWhereACombinedFormExists) {
    const std::string voicedHalf =
        "\xB6\xB7\xB8\xB9\xBA\xBB\xBC\xBD\xBE\xBF\xC0\xC1\xC2\xC3\xC4"
        "\xCA\xCB\xCC\xCD\xCE";
    const std::string voiced = "ガギグゲゴザジズゼゾダヂヅデドバビブベボ";
    const std::string semiVoiced = "パピプペポ";
    for (std::size_t i = 0; i < voicedHalf.size(); ++i) {
        const std::string h(1, voicedHalf[i]);
        SetPlatformCharCode(CHARCODE_SJIS);
        EXPECT_EQ(FullWidth(h + "\xDE"), FromUtf8("CP932", voiced.substr(3 * i, 3)));
        SetPlatformCharCode(CHARCODE_EUC);
        EXPECT_EQ(FullWidth("\x8E" + h + "\x8E\xDE"), FromUtf8("EUC-JP", voiced.substr(3 * i, 3)));
        if (i >= 15) {
            EXPECT_EQ(FullWidth("\x8E" + h + "\x8E\xDF"),
                      FromUtf8("EUC-JP", semiVoiced.substr(3 * (i - 15), 3)));
            SetPlatformCharCode(CHARCODE_SJIS);
            EXPECT_EQ(FullWidth(h + "\xDF"), FromUtf8("CP932", semiVoiced.substr(3 * (i - 15), 3)));
        }
    }
    SetPlatformCharCode(CHARCODE_SJIS);
    EXPECT_EQ(FullWidth("\xB6\xDE"), "\x83\x4B");
    EXPECT_EQ(FullWidth("\xCA\xDF"), "\x83\x70");
    EXPECT_EQ(FullWidth("\xB1\xDE"), FromUtf8("CP932", "ア゛"));  // no combined form
    EXPECT_EQ(FullWidth("\xB6\xDF"), FromUtf8("CP932", "カ゜"));
}

TEST_F(KanaWidthTest, OtherCharactersPassUnchanged) {
    SetPlatformCharCode(CHARCODE_SJIS);
    EXPECT_EQ(FullWidth("A\x88\xA0z"), "A\x88\xA0z");  // kanji whose trail byte looks like kana
    EXPECT_EQ(FullWidth("A\x82"), "A\x82");            // lead byte cut off by the terminator
    SetPlatformCharCode(CHARCODE_EUC);
    EXPECT_EQ(FullWidth("A\xB0\xA1z"), "A\xB0\xA1z");
    EXPECT_EQ(FullWidth("\x8E\x41"), "A");
    EXPECT_EQ(FullWidth("A\x8E"), "A\x8E");
    EXPECT_EQ(FullWidth("\x8E\xB6\x8E"), "\xA5\xAB\x8E");  // sound mark cut off
    EXPECT_EQ(FullWidth("A\xB0"), "A\xB0");

    SetPlatformCharCode(CHARCODE_UTF8);
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ToFullWidthKana("\xB1", out), -1);
    EXPECT_EQ(out[0], 'x');
}

TEST_F(KanaWidthTest, DisplayWidthAndLeadByteClassFollowThePlatform) {
    SetPlatformCharCode(CHARCODE_UTF8);
    EXPECT_EQ(DisplayWidth("a\xE3\x81\x82z"), 4);
    EXPECT_EQ(DisplayWidth("a\xE3\x81"), 3);  // cut off: nothing past the terminator
    EXPECT_EQ(LeadByteClass('a'), 0);
    EXPECT_EQ(LeadByteClass(0xE3), 2);
    EXPECT_EQ(LeadByteClass(0x81), -1);
    EXPECT_EQ(LeadByteClass(0xFE), -1);

    SetPlatformCharCode(CHARCODE_EUC);
    EXPECT_EQ(DisplayWidth("a\xA4\xA2\x8E\xB1"), 4);
    EXPECT_EQ(DisplayWidth("a\xA4"), 3);
    EXPECT_EQ(LeadByteClass(0x8E), 1);
    EXPECT_EQ(LeadByteClass(0xA4), 2);
    EXPECT_EQ(LeadByteClass('~'), 0);

    SetPlatformCharCode(CHARCODE_SJIS);
    EXPECT_EQ(DisplayWidth("a\x82\xA0\xB1"), 4);
    EXPECT_EQ(LeadByteClass(0xB1), 1);
    EXPECT_EQ(LeadByteClass(0x82), 2);
    EXPECT_EQ(LeadByteClass(0xE0), 2);
}

}  // namespace
