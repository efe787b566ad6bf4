// Random bytes through every text function, each buffer on the heap at exactly
// its documented size, so that the sanitizer build catches any stray access.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "charcode/charcode.h"
#include "diag/diag.h"

namespace {

// Mostly bytes that start or end multi-byte characters.
std::vector<char> RandomText(std::mt19937& random, unsigned maxLength = 24) {
    static const unsigned char kInteresting[] = {'a',  0x8E, 0x8F, 0xA0, 0xA4, 0xB6, 0xCA,
                                                 0xDE, 0xDF, 0xE0, 0xE3, 0x81, 0x82, 0xF0,
                                                 0xFC, 0xFE, 0xFF, 0x40, 0x7F, 0x3F};
    std::vector<char> text(random() % maxLength);
    for (char& c : text) {
        const unsigned pick = random() % 32;
        c = static_cast<char>(pick < std::size(kInteresting) ? kInteresting[pick]
                                                             : 1 + random() % 255);
    }
    text.push_back('\0');
    return text;
}

bool TerminatedWithin(const std::vector<char>& buffer) {
    return std::find(buffer.begin(), buffer.end(), '\0') != buffer.end();
}

TEST(RandomInputTest, TextFunctionsStayInsideTheirBuffers) {
    const int saved = PlatformCharCode();
    std::mt19937 random(20240316);
    for (int round = 0; round < 20000; ++round) {
        SetPlatformCharCode(round % 3);
        const std::vector<char> text = RandomText(random);
        const auto length = static_cast<int>(text.size()) - 1;

        for (int i = 0; i <= length; ++i) {
            EXPECT_LE(i + CharExtraBytes(text.data() + i), std::max(i, length - 1));
        }
        DisplayWidth(text.data());
        StringKey(round % 2, text.data());

        std::vector<char> out(static_cast<std::size_t>(1 + random() % (2 * length + 2)));
        const int capacity = static_cast<int>(out.size());
        if (EucToSjis(text.data(), out.data(), capacity) == 0) {
            EXPECT_TRUE(TerminatedWithin(out));
        }
        if (SjisToEuc(text.data(), out.data(), capacity) == 0) {
            EXPECT_TRUE(TerminatedWithin(out));
        }

        std::vector<char> wide(static_cast<std::size_t>(2 * length + 1));
        if (ToFullWidthKana(text.data(), wide.data()) == 0) {
            EXPECT_TRUE(TerminatedWithin(wide));
        }
        std::vector<char> same(text.size());
        EbcdicToAscii(text.data(), same.data());
        AsciiToEbcdic(text.data(), same.data());

        const int rowCount = 1 + static_cast<int>(random() % 4);
        const int rowWidth = static_cast<int>(random() % 7);
        std::vector<char> rows(static_cast<std::size_t>(rowCount * rowWidth) + (rowWidth == 0));
        const int used = SplitIntoRows(text.data(), rows.data(), rowCount, rowWidth);
        EXPECT_LE(used, rowCount);

        std::vector<char> cut = text;
        const int limit = static_cast<int>(random() % (text.size() + 3));
        EXPECT_LE(TruncateText(cut.data(), limit), std::min(limit, length));

        // Fields filled with random bytes need not hold a terminator.
        const int width = 1 + static_cast<int>(random() % 8);
        const int count = 1 + static_cast<int>(random() % 3);
        std::vector<char> fields(static_cast<std::size_t>(width * count));
        for (std::size_t k = 0; k < fields.size(); ++k) {
            fields[k] = text[k % text.size()];
        }
        ASSERT_EQ(ConvertFieldArray(fields.data(), count, width, 1 + round % 2), fields.data());
        for (int f = 0; f < count; ++f) {
            const char* field = fields.data() + f * width;
            EXPECT_NE(std::find(field, field + width, '\0'), field + width);
        }
    }
    SetPlatformCharCode(saved);
}

TEST(RandomInputTest, DumpLinesStayInsideDataAndLine) {
    const int saved = PlatformCharCode();
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        SetPlatformCharCode(round % 3);
        std::vector<char> data = RandomText(random, 300);
        data.pop_back();  // dump data has no terminator
        const uint32_t options = (random() % 16) << 12 | (random() % 4) << 16;
        std::vector<char> line(DUMP_LINE_SIZE);
        long position = 0;
        int carry = 0;
        while (position < static_cast<long>(data.size())) {
            const long before = position;
            FormatDumpLine(options, "random", data.data(), static_cast<long>(data.size()),
                           &position, &carry, line.data());
            ASSERT_GT(position, before);
            EXPECT_TRUE(TerminatedWithin(line));
        }
    }
    SetPlatformCharCode(saved);
}

}  // namespace
