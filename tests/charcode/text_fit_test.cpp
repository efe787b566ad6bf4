#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charcode/charcode.h"
#include "diag/memory.h"

namespace {

std::vector<std::string> Rows(const std::vector<char>& rows, int width) {
    std::vector<std::string> texts;
    for (std::size_t at = 0; at < rows.size(); at += static_cast<std::size_t>(width)) {
        texts.emplace_back(rows.data() + at);
    }
    return texts;
}

TEST(TextFitTest, SplitIntoRowsKeepsCharactersWholeAndTheLastRowEmpty) {
    std::vector<char> rows(12, 'x');
    EXPECT_EQ(SplitIntoRows("abcdefgh", rows.data(), 3, 4), 2);
    EXPECT_EQ(Rows(rows, 4), (std::vector<std::string>{"abc", "def", ""}));

    EXPECT_EQ(SplitIntoRows("ab\x82\xA0"
                            "c",
                            rows.data(), 3, 4),
              2);
    EXPECT_EQ(Rows(rows, 4), (std::vector<std::string>{"ab",
                                                       "\x82\xA0"
                                                       "c",
                                                       ""}));

    EXPECT_EQ(SplitIntoRows("abcd", rows.data(), 3, 4), 2);
    EXPECT_EQ(SplitIntoRows("ab", rows.data(), 3, 4), 1);
    EXPECT_EQ(SplitIntoRows("", rows.data(), 3, 4), 0);
    EXPECT_EQ(SplitIntoRows("a\x82", rows.data(), 3, 4), 1);  // lone first byte copied alone
    EXPECT_EQ(Rows(rows, 4)[0], "a\x82");

    EXPECT_EQ(SplitIntoRows("a", rows.data(), 3, 1), -1);
    EXPECT_EQ(SplitIntoRows("\x82\xA0", rows.data(), 3, 2), -1);
}

TEST(TextFitTest, SplitIntoASingleRowStaysInsideIt) {
    std::vector<char> row(4, 'x');
    EXPECT_EQ(SplitIntoRows("abcdefgh", row.data(), 1, 4), 1);
    EXPECT_STREQ(row.data(), "abc");
}

TEST(TextFitTest, TruncateTextNeverSplitsACharacterNorWritesPastTheString) {
    char text[] = "ab\x82\xA0z";
    EXPECT_EQ(TruncateText(text, 3), 2);
    EXPECT_STREQ(text, "ab");

    char whole[] = "ab\x82\xA0z";
    EXPECT_EQ(TruncateText(whole, 4), 4);
    EXPECT_STREQ(whole, "ab\x82\xA0");

    // A string that fits is left alone; the heap buffer holds only the string.
    std::vector<char> shortText{'a', 'b', '\0'};
    EXPECT_EQ(TruncateText(shortText.data(), 10), 2);
    std::vector<char> loneLead{'a', '\x82', '\0'};
    EXPECT_EQ(TruncateText(loneLead.data(), 10), 2);
    EXPECT_EQ(TruncateText(loneLead.data(), 0), 0);
    EXPECT_EQ(loneLead[0], '\0');
}

TEST(TextFitTest, ConvertFieldArrayConvertsEachFieldAndKeepsItTerminated) {
    // Field 2 fills its width without a terminator; field 3 grows past it.
    std::vector<char> fields(4 * 5, '\0');
    std::string("A\xA4\xA2").copy(fields.data(), 3);
    std::string("\xB0\xA1\xB0\xA1\x41").copy(fields.data() + 5, 5);
    EXPECT_EQ(ConvertFieldArray(fields.data(), 2, 5, 1), fields.data());
    EXPECT_STREQ(fields.data(), "A\x82\xA0");
    EXPECT_STREQ(fields.data() + 5, "\x88\x9F\x88\x9F");

    std::string("\xB1\xB2\xB3").copy(fields.data() + 10, 3);
    std::string("\x82\xA0").copy(fields.data() + 15, 2);
    EXPECT_EQ(ConvertFieldArray(fields.data() + 10, 2, 5, 2), fields.data() + 10);
    EXPECT_EQ(std::string(fields.data() + 10, 5), std::string("\x8E\xB1\x8E\xB2\0", 5));
    EXPECT_STREQ(fields.data() + 15, "\xA4\xA2");
    // Round trip of the first two fields.
    ConvertFieldArray(fields.data(), 2, 5, 2);
    EXPECT_STREQ(fields.data(), "A\xA4\xA2");
    EXPECT_STREQ(fields.data() + 5, "\xB0\xA1\xB0\xA1");
}

TEST(TextFitTest, ConvertFieldArrayFailsWithoutTouchingTheFields) {
    char fields[] = "\xA4\xA2";
    EXPECT_EQ(ConvertFieldArray(fields, 1, 3, 3), nullptr);
    MemFailAt(1);
    EXPECT_EQ(ConvertFieldArray(fields, 1, 3, 1), nullptr);
    MemFailAt(0);
    EXPECT_STREQ(fields, "\xA4\xA2");
    EXPECT_EQ(ConvertFieldArray(fields, 1, 3, 1), fields);
    EXPECT_STREQ(fields, "\x82\xA0");
}

}  // namespace
