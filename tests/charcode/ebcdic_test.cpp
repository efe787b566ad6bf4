#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "charcode/charcode.h"

namespace {

// The code-page charts, row = high hex digit of the input byte.
constexpr const char* kEbcdicToAsciiChart = R"(
| 0_ | 00 | 01 | 02 | 03 | 20 | 09 | 20 | 7F | 20 | 20 | 20 | 0B | 0C | 0D | 0E | 0F |
| 1_ | 10 | 11 | 12 | 13 | 20 | 20 | 08 | 20 | 18 | 19 | 20 | 20 | 1C | 1D | 1E | 1F |
| 2_ | 20 | 20 | 20 | 20 | 20 | 0A | 17 | 1B | 20 | 20 | 20 | 20 | 20 | 05 | 06 | 07 |
| 3_ | 20 | 20 | 16 | 20 | 20 | 20 | 20 | 04 | 20 | 20 | 20 | 20 | 14 | 15 | 20 | 1A |
| 4_ | 20 | A1 | A2 | A3 | A4 | A5 | A6 | A7 | A8 | A9 | 5B | 2E | 3C | 28 | 2B | 21 |
| 5_ | 26 | AA | AB | AC | AD | AE | AF | 20 | B0 | 20 | 5D | 24 | 2A | 29 | 3B | 5E |
| 6_ | 2D | 2F | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 7C | 2C | 25 | 5F | 3E | 3F |
| 7_ | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 60 | 3A | 23 | 40 | 27 | 3D | 22 |
| 8_ | 20 | B1 | B2 | B3 | B4 | B5 | B6 | B7 | B8 | B9 | BA | 20 | BB | BC | BD | BE |
| 9_ | BF | C0 | C1 | C2 | C3 | C4 | C5 | C6 | C7 | C8 | C9 | 20 | 20 | CA | CB | CC |
| A_ | 20 | 7E | CD | CE | CF | D0 | D1 | D2 | D3 | D4 | D5 | 20 | D6 | D7 | D8 | D9 |
| B_ | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 20 | 20 | DA | DB | DC | DD | DE | DF |
| C_ | 7B | 41 | 42 | 43 | 44 | 45 | 46 | 47 | 48 | 49 | 20 | 20 | 20 | 20 | 20 | 20 |
| D_ | 7D | 4A | 4B | 4C | 4D | 4E | 4F | 50 | 51 | 52 | 20 | 20 | 20 | 20 | 20 | 20 |
| E_ | 24 | 20 | 53 | 54 | 55 | 56 | 57 | 58 | 59 | 5A | 20 | 20 | 20 | 20 | 20 | 20 |
| F_ | 30 | 31 | 32 | 33 | 34 | 35 | 36 | 37 | 38 | 39 | 20 | 20 | 20 | 20 | 20 | 20 |
)";

constexpr const char* kAsciiToEbcdicChart = R"(
| 0_ | 00 | 01 | 02 | 03 | 37 | 2D | 2E | 2F | 16 | 05 | 25 | 0B | 0C | 0D | 0E | 0F |
| 1_ | 10 | 11 | 12 | 13 | 3C | 3D | 32 | 26 | 18 | 19 | 3F | 27 | 1C | 1D | 1E | 1F |
| 2_ | 40 | 4F | 7F | 7B | 5B | 6C | 50 | 7D | 4D | 5D | 5C | 4E | 6B | 60 | 4B | 61 |
| 3_ | F0 | F1 | F2 | F3 | F4 | F5 | F6 | F7 | F8 | F9 | 7A | 5E | 4C | 7E | 6E | 6F |
| 4_ | 7C | C1 | C2 | C3 | C4 | C5 | C6 | C7 | C8 | C9 | D1 | D2 | D3 | D4 | D5 | D6 |
| 5_ | D7 | D8 | D9 | E2 | E3 | E4 | E5 | E6 | E7 | E8 | E9 | 4A | 5B | 5A | 5F | 6D |
| 6_ | 79 | C1 | C2 | C3 | C4 | C5 | C6 | C7 | C8 | C9 | D1 | D2 | D3 | D4 | D5 | D6 |
| 7_ | D7 | D8 | D9 | E2 | E3 | E4 | E5 | E6 | E7 | E8 | E9 | C0 | 6A | D0 | A1 | 07 |
| 8_ | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 |
| 9_ | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 |
| A_ | 40 | 41 | 42 | 43 | 44 | 45 | 46 | 47 | 48 | 49 | 51 | 52 | 53 | 54 | 55 | 56 |
| B_ | 58 | 81 | 82 | 83 | 84 | 85 | 86 | 87 | 88 | 89 | 8A | 8C | 8D | 8E | 8F | 90 |
| C_ | 91 | 92 | 93 | 94 | 95 | 96 | 97 | 98 | 99 | 9A | 9D | 9E | 9F | A2 | A3 | A4 |
| D_ | A5 | A6 | A7 | A8 | A9 | AA | AC | AD | AE | AF | BA | BB | BC | BD | BE | BF |
| E_ | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 |
| F_ | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 | 40 |
)";

std::vector<int> ParseChart(const char* chart) {
    std::vector<int> bytes;
    std::istringstream lines(chart);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream cells(line);
        std::string cell;
        std::getline(cells, cell, '|');  // before the first bar
        std::getline(cells, cell, '|');  // row label
        while (std::getline(cells, cell, '|')) {
            if (cell.find_first_not_of(' ') != std::string::npos) {
                bytes.push_back(std::stoi(cell, nullptr, 16));
            }
        }
    }
    return bytes;
}

TEST(EbcdicTest, TablesMatchTheChartsEntryByEntry) {
    const std::vector<int> toAscii = ParseChart(kEbcdicToAsciiChart);
    const std::vector<int> toEbcdic = ParseChart(kAsciiToEbcdicChart);
    ASSERT_EQ(toAscii.size(), 256u);
    ASSERT_EQ(toEbcdic.size(), 256u);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(EbcdicToAsciiTable[b], toAscii[b]) << "EBCDIC " << b;
        EXPECT_EQ(AsciiToEbcdicTable[b], toEbcdic[b]) << "ASCII " << b;
        // The one-byte forms and the string forms go through the same entry.
        EXPECT_EQ(EbcdicToAsciiChar(b), static_cast<signed char>(toAscii[b]));
        EXPECT_EQ(AsciiToEbcdicChar(b), static_cast<signed char>(toEbcdic[b]));
        const char in[1] = {static_cast<char>(b)};
        char out[1];
        EXPECT_EQ(static_cast<unsigned char>(*EbcdicToAsciiN(in, out, 1)), toAscii[b]);
        EXPECT_EQ(static_cast<unsigned char>(*AsciiToEbcdicN(in, out, 1)), toEbcdic[b]);
    }
}

TEST(EbcdicTest, AsciiAndKanaRoundTripExceptLowerCaseAndBackslash) {
    for (int a = 0; a < 0xE0; ++a) {
        if (a >= 0x80 && a < 0xA1) {
            continue;  // no EBCDIC counterpart
        }
        const int back = EbcdicToAsciiTable[AsciiToEbcdicTable[a]];
        if (std::islower(a)) {
            EXPECT_EQ(AsciiToEbcdicTable[a], AsciiToEbcdicTable[std::toupper(a)]) << a;
        } else if (a == '\\') {
            EXPECT_EQ(back, '$');  // shares EBCDIC 0x5B with the dollar sign
        } else {
            EXPECT_EQ(back, a) << a;
        }
    }
}

TEST(EbcdicTest, StringsKeepLengthAndTerminator) {
    char out[8];
    EXPECT_STREQ(EbcdicToAscii("\xC1\x81\xF0", out),
                 "A\xB1"
                 "0");
    EXPECT_STREQ(AsciiToEbcdic("a", out), "\xC1");
    EXPECT_STREQ(AsciiToEbcdic("A\xB1", out), "\xC1\x81");
    EXPECT_EQ(EbcdicToAsciiChar(0x81), static_cast<signed char>(0xB1));
    EXPECT_LT(EbcdicToAsciiChar(0x81), 0);

    // The counted forms translate NUL bytes and write nothing more.
    const char in[3] = {'\xC1', '\0', '\xF1'};
    char counted[4] = {'x', 'x', 'x', 'x'};
    EbcdicToAsciiN(in, counted, 3);
    EXPECT_EQ(std::string(counted, 4), std::string("A\0"
                                                   "1x",
                                                   4));
}

}  // namespace
