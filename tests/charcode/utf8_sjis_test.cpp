#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "charcode/charcode.h"
#include "diag/memory.h"

namespace {

constexpr char kCanary = 0x55;

// Runs a converter into a canary-filled buffer and returns everything up to
// and including the terminator; checks that nothing past `capacity` moved.
std::string Convert(int (*convert)(const char*, char*, int), const std::string& source,
                    int capacity = 64) {
    char buffer[80];
    std::memset(buffer, kCanary, sizeof buffer);
    EXPECT_EQ(convert(source.c_str(), buffer, capacity), 0);
    for (int i = capacity; i < static_cast<int>(sizeof buffer); ++i) {
        EXPECT_EQ(buffer[i], kCanary) << "written past the capacity at " << i;
    }
    const void* end = std::memchr(buffer, '\0', capacity);
    EXPECT_NE(end, nullptr) << "result not terminated";
    return end == nullptr ? std::string() : std::string(buffer);
}

struct Pair {
    const char* utf8;
    const char* sjis;
};

// Known code page 932 encodings: ASCII, hiragana, kanji, half-width katakana,
// full-width symbols and a mix.
constexpr Pair kPairs[] = {
    {"ABC", "ABC"},
    {"\xE3\x81\x82", "\x82\xA0"},                      // あ
    {"\xE6\xBC\xA2\xE5\xAD\x97", "\x8A\xBF\x8E\x9A"},  // 漢字
    {"\xEF\xBD\xB1", "\xB1"},                          // ｱ
    {"\xE3\x80\x80\xEF\xBC\xA1", "\x81\x40\x82\x60"},  // ideographic space, Ａ
    {"QR \xE3\x82\xB3\xE3\x83\xBC\xE3\x83\x89 1", "QR \x83\x52\x81\x5B\x83\x68 1"},  // コード
};

TEST(Utf8SjisTest, KnownCharactersConvertBothWays) {
    for (const Pair& pair : kPairs) {
        EXPECT_EQ(Convert(Utf8ToSjis, pair.utf8), pair.sjis) << pair.utf8;
        EXPECT_EQ(Convert(SjisToUtf8, pair.sjis), pair.utf8) << pair.utf8;
    }
}

TEST(Utf8SjisTest, UnreadableOrUnmappableTextBecomesQuestionMarks) {
    // A sequence cut short, a stray continuation byte, an overlong form, a
    // surrogate, a character outside code page 932 and one beyond the BMP.
    EXPECT_EQ(Convert(Utf8ToSjis,
                      "A\xE3\x81"
                      "B"),
              "A?B");
    EXPECT_EQ(Convert(Utf8ToSjis, "\x80Z"), "?Z");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xC0\xAF"), "??");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xED\xA0\x80"), "???");
    EXPECT_EQ(Convert(Utf8ToSjis, "caf\xC3\xA9"), "caf?");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xF0\x9F\x98\x80!"), "?!");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xE3\x81"), "?");
    // Lead bytes of forms beyond U+10FFFF start no character: each byte of
    // such a form is replaced on its own, on every platform.
    EXPECT_EQ(Convert(Utf8ToSjis, "\xF5\x9C\xA1\x81Z"), "????Z");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xF4\x90\x80\x80\xF8\x88\x80\x80\x80"), "?????????");
    // Shift-JIS: a lone lead byte, a lead byte with a bad trail byte, and an
    // unassigned double-byte code, which counts as one character.
    EXPECT_EQ(Convert(SjisToUtf8, "A\x82"), "A?");
    EXPECT_EQ(Convert(SjisToUtf8, "\x82 x"), "? x");
    EXPECT_EQ(Convert(SjisToUtf8, "\x85\x40Z"), "?Z");
}

TEST(Utf8SjisTest, ResultStopsAtTheLastWholeCharacterThatFits) {
    // あい is four Shift-JIS bytes: it needs 5 with the terminator.
    EXPECT_EQ(Convert(Utf8ToSjis, "\xE3\x81\x82\xE3\x81\x84", 5), "\x82\xA0\x82\xA2");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xE3\x81\x82\xE3\x81\x84", 4), "\x82\xA0");
    EXPECT_EQ(Convert(Utf8ToSjis, "\xE3\x81\x82", 2), "");
    EXPECT_EQ(Convert(Utf8ToSjis, "AB", 1), "");
    // Half-width katakana grows from one byte to three in UTF-8.
    EXPECT_EQ(Convert(SjisToUtf8, "\xB1\xB1\xB1", 9), "\xEF\xBD\xB1\xEF\xBD\xB1");
    EXPECT_EQ(Convert(SjisToUtf8, "A?\xB1", 4), "A?");
}

TEST(Utf8SjisTest, AsciiComesThroughUnchanged) {
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) {
        ascii += static_cast<char>(c);
    }
    EXPECT_EQ(Convert(Utf8ToSjis, ascii.substr(0, 63)), ascii.substr(0, 63));
    EXPECT_EQ(Convert(Utf8ToSjis, ascii.substr(63), 65), ascii.substr(63));
    EXPECT_EQ(Convert(Utf8ToSjis, ascii, 11), ascii.substr(0, 10));
}

TEST(Utf8SjisTest, NoWorkingBufferLeavesTheDestinationAlone) {
    // Text beyond ASCII, which needs the converter.
    const std::pair<int (*)(const char*, char*, int), const char*> cases[] = {
        {Utf8ToSjis, "A\xE3\x81\x82"}, {SjisToUtf8, "ABC"}};
    for (const auto& [convert, text] : cases) {
        char buffer[8];
        std::memset(buffer, kCanary, sizeof buffer);
        MemFailAt(1);
        EXPECT_EQ(convert(text, buffer, sizeof buffer), -12);
        MemFailAt(0);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, kCanary));
    }
}

}  // namespace
