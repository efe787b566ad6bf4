#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "diag/diag.h"

namespace {

struct Dumped {
    std::string line;
    int nonZero;
};

// One line, with the data and the line buffer on the heap at exactly their
// sizes, so that the sanitizer sees any access past them.
Dumped Dump(uint32_t options, const std::vector<unsigned char>& data, long* position, int* carry,
            const char* label = "label") {
    auto* bytes = new unsigned char[data.size()];
    std::copy(data.begin(), data.end(), bytes);
    char* line = new char[DUMP_LINE_SIZE];
    const int nonZero = FormatDumpLine(options, label, bytes, static_cast<long>(data.size()),
                                       position, carry, line);
    Dumped result{line, nonZero};
    delete[] line;
    delete[] bytes;
    return result;
}

std::vector<unsigned char> Counting(int size, int first) {
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        data[static_cast<std::size_t>(i)] = static_cast<unsigned char>(first + i);
    }
    return data;
}

std::string Header(long index) {
    long position = index;
    int carry = 0;
    return Dump(DUMP_BYTES, {}, &position, &carry, "abcdefgh").line.substr(0, 13);
}

TEST(DumpLineTest, ByteDumpLinesWithHeaderValuesAndCharacters) {
    const std::vector<unsigned char> data = Counting(40, 0x40);
    long position = 0;
    int carry = 0;
    EXPECT_EQ(Dump(DUMP_BYTES, data, &position, &carry).line,
              "label   [  0] 40 41 42 43 44 45 46 47  48 49 4a 4b 4c 4d 4e 4f:@ABCDEFGHIJKLMNO");
    EXPECT_EQ(position, 16);
    EXPECT_EQ(Dump(DUMP_BYTES, data, &position, &carry).line.substr(0, 13), "label   [ 16]");
    EXPECT_EQ(position, 32);
    const Dumped last = Dump(DUMP_BYTES, data, &position, &carry);
    EXPECT_EQ(last.line,
              "label   [ 32] 60 61 62 63 64 65 66 67" + std::string(25, ' ') + ":`abcdefg");
    EXPECT_EQ(position, 40);
    EXPECT_EQ(last.line.find(':'), 62u);
}

TEST(DumpLineTest, HeaderKeepsThirteenColumnsAsTheIndexGrows) {
    EXPECT_EQ(Header(999), "abcdef  [999]");
    EXPECT_EQ(Header(1000), "abcdef [1000]");
    EXPECT_EQ(Header(10000), "abcdef[10000]");
    EXPECT_EQ(Header(100000), "abcde[100000]");
    EXPECT_EQ(Header(1000000), "abcd[1000000]");
    EXPECT_EQ(Header(10000000), "abc[10000000]");
    EXPECT_EQ(Header(100000000), "abc[00000000]");
    EXPECT_EQ(Header(123456789), "abc[23456789]");

    // The index counts elements: byte offset 2000 of 16-bit values is 1000.
    long position = 2000;
    int carry = 0;
    std::vector<unsigned char> data(2016, 0);
    EXPECT_EQ(Dump(DUMP_INT16, data, &position, &carry, "ab").line.substr(0, 13), "ab     [1000]");
}

TEST(DumpLineTest, EveryTypePrintsItsFormatUpToTheColon) {
    const std::vector<unsigned char> ones(16, 0xFF);
    const struct {
        uint32_t type;
        std::string firstValue;
    } cases[] = {
        {DUMP_INT16, "    -1"},
        {DUMP_INT32, std::string(10, ' ') + "-1"},
        {DUMP_INT64, std::string(22, ' ') + "-1"},
        {DUMP_FLOAT, "        -nan"},  // a NaN is not zero
        {DUMP_DOUBLE, std::string(20, ' ') + "-nan"},
        {DUMP_HEX16, "  ffff"},
        {DUMP_UINT16, " 65535"},
        {DUMP_UINT32, "  4294967295"},
        {DUMP_HEX32, "    ffffffff"},
        {DUMP_HEX64, "        ffffffffffffffff"},
        {DUMP_UINT64, "    18446744073709551615"},
        {0x5000, " ff"},
        {0xD000, " ff"},
    };
    for (const auto& c : cases) {
        long position = 0;
        int carry = 0;
        const Dumped d = Dump(c.type, ones, &position, &carry);
        EXPECT_EQ(d.line.substr(13, c.firstValue.size()), c.firstValue) << c.type;
        EXPECT_EQ(d.line.size(), 79u) << c.type;
        EXPECT_EQ(d.line[62], ':') << c.type;
        EXPECT_EQ(d.line.substr(63), std::string(16, '.'));
        EXPECT_EQ(d.nonZero, 1);
    }
}

TEST(DumpLineTest, LongDoubleLineShowsTheStoredDoubleWithAllItsDigits) {
    std::vector<unsigned char> data(16, 0);
    const double d = 0.1;
    std::memcpy(data.data(), &d, sizeof d);
    long position = 0;
    int carry = 0;
    const Dumped line = Dump(DUMP_LONG_DOUBLE, data, &position, &carry);
    EXPECT_EQ(line.line.substr(13, 50), "   1.0000000000000000555111512312578270211816e-01:");
    EXPECT_EQ(position, 16);
    position = 0;
    EXPECT_EQ(Dump(DUMP_DOUBLE, data, &position, &carry).line.substr(13, 24),
              "   1.000000000000000e-01");
}

TEST(DumpLineTest, WideLinesOnlyForSmallElements) {
    const std::vector<unsigned char> data = Counting(40, 0x41);
    long position = 0;
    int carry = 0;
    const Dumped wide = Dump(DUMP_BYTES | DUMP_WIDE, data, &position, &carry);
    EXPECT_EQ(position, 20);
    EXPECT_EQ(wide.line.substr(13, 32), " 41 42 43 44 45 46 47 48 49 4a  ");
    EXPECT_EQ(wide.line.find(':'), 74u);
    EXPECT_EQ(wide.line.substr(75), "ABCDEFGHIJKLMNOPQRST");

    for (uint32_t type : {DUMP_INT32, DUMP_FLOAT, DUMP_DOUBLE, DUMP_INT64, DUMP_LONG_DOUBLE,
                          DUMP_UINT32, DUMP_HEX32, DUMP_HEX64, DUMP_UINT64}) {
        position = 0;
        EXPECT_EQ(Dump(type | DUMP_WIDE, data, &position, &carry).line.find(':'), 62u);
        EXPECT_EQ(position, 16) << type;
    }
}

TEST(DumpLineTest, CharacterLines) {
    const std::vector<unsigned char> data = Counting(120, 0x20);
    long position = 0;
    int carry = 0;
    const Dumped line = Dump(DUMP_CHARS, data, &position, &carry);
    EXPECT_EQ(line.line, "label   [  0]" + std::string(data.begin(), data.begin() + 64));
    EXPECT_EQ(line.nonZero, 1);
    EXPECT_EQ(position, 64);
    position = 0;
    EXPECT_EQ(Dump(DUMP_CHARS | DUMP_WIDE, data, &position, &carry).line.size(), 113u);
    EXPECT_EQ(position, 100);
}

TEST(DumpLineTest, MultiByteCharacterCarriesAcrossLines) {
    const int saved = PlatformCharCode();
    SetPlatformCharCode(CHARCODE_SJIS);
    std::vector<unsigned char> data(20, 'a');
    data[15] = 0x82;
    data[16] = 0xA0;
    data[3] = 0xB1;  // half-width kana stays single
    long position = 0;
    int carry = 0;
    const Dumped first = Dump(DUMP_BYTES | DUMP_MULTIBYTE, data, &position, &carry);
    EXPECT_EQ(first.line.substr(63),
              "aaa\xB1"
              "aaaaaaaaaaa\x82\xA0");
    EXPECT_EQ(carry, 1);
    const Dumped second = Dump(DUMP_BYTES | DUMP_MULTIBYTE, data, &position, &carry);
    EXPECT_EQ(second.line.substr(63), ".aaa");
    EXPECT_EQ(carry, 0);

    // A first byte at the very end of the data shows alone.
    data.resize(16);
    position = 0;
    EXPECT_EQ(Dump(DUMP_BYTES | DUMP_MULTIBYTE, data, &position, &carry).line.substr(63),
              "aaa\xB1"
              "aaaaaaaaaaa.");
    EXPECT_EQ(carry, 0);

    // UTF-8: a character cut by the end of the data keeps only its bytes there.
    SetPlatformCharCode(CHARCODE_UTF8);
    const std::vector<unsigned char> utf8 = {'x', 0xE3, 0x81};
    position = 0;
    EXPECT_EQ(Dump(DUMP_CHARS | DUMP_MULTIBYTE, utf8, &position, &carry).line.substr(13),
              "x\xE3\x81");
    SetPlatformCharCode(saved);
}

TEST(DumpLineTest, LongestLineFitsTheDocumentedBuffer) {
    const int saved = PlatformCharCode();
    SetPlatformCharCode(CHARCODE_UTF8);
    // A six-byte character starting at the last position of a wide character line.
    std::vector<unsigned char> data(110, 'a');
    data[99] = 0xFC;
    std::fill(data.begin() + 100, data.begin() + 105, 0x80);
    long position = 0;
    int carry = 0;
    const Dumped line = Dump(DUMP_CHARS | DUMP_WIDE | DUMP_MULTIBYTE, data, &position, &carry);
    EXPECT_EQ(line.line.size() + 1, static_cast<std::size_t>(DUMP_LINE_SIZE));
    EXPECT_EQ(carry, 5);
    // A long run of stray continuation bytes is shown six bytes at a time.
    std::fill(data.begin() + 90, data.end(), 0x80);
    position = 0;
    carry = 0;
    EXPECT_EQ(Dump(DUMP_CHARS | DUMP_WIDE | DUMP_MULTIBYTE, data, &position, &carry).line.size(),
              115u);
    EXPECT_EQ(carry, 2);
    SetPlatformCharCode(saved);
}

TEST(DumpLineTest, ElementCutOffByTheEndOfTheData) {
    // Values are shown in the host's byte order.
    std::vector<unsigned char> data = {0, 0, 0, 0, 0, 0};
    const int32_t one = 1;
    std::memcpy(data.data(), &one, sizeof one);
    long position = 0;
    int carry = 0;
    Dumped line = Dump(DUMP_INT32, data, &position, &carry);
    EXPECT_EQ(line.line.substr(13, 24), "           1            ");
    EXPECT_EQ(line.line.substr(62), ":......");
    data = {0, 0, 0, 0, 0, 0, 0, 0};
    position = 0;
    EXPECT_EQ(Dump(DUMP_INT32, data, &position, &carry).nonZero, 0);
    data = {0, 0, 0, 0, 0, 7};
    position = 0;
    line = Dump(DUMP_INT32, data, &position, &carry);
    EXPECT_EQ(line.nonZero, 1);  // the cut-off bytes still keep the line
    data = {0, 0, 0, 0, 0};
    position = 0;
    EXPECT_EQ(Dump(DUMP_LONG_DOUBLE, data, &position, &carry).nonZero, 0);
}

}  // namespace
