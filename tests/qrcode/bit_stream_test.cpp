#include <gtest/gtest.h>

#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"

namespace {

std::string BitText(const uint8_t* buffer, int from, int to) {
    std::string bits;
    for (int i = from; i < to; ++i) {
        bits += (buffer[i / 8] >> (7 - i % 8) & 1) != 0 ? '1' : '0';
    }
    return bits;
}

const uint8_t* Data(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// The data codewords of a message at level L as a bit string, or its first
// `bits` bits.
std::string Stream(int mode, int version, const std::string& message, size_t bits = SIZE_MAX) {
    uint8_t buffer[kCodewordBufferSize] = {};
    const int count = static_cast<int>(message.size());
    int position = PutModeIndicator(buffer, 0, mode);
    position = PutCharCount(buffer, position, mode, version, count);
    const int end = PutData(buffer, position, mode, version, QR_LEVEL_L, Data(message), count);
    return BitText(buffer, 0, end).substr(0, bits);
}

// The worked examples are written out as mode, count, data.
void ExpectStream(int mode, int version, const std::string& message, const std::string& expected) {
    EXPECT_EQ(Stream(mode, version, message, expected.size()), expected);
}

TEST(BitStreamTest, WorkedExamples) {
    ExpectStream(QR_MODE_NUMERIC, 1, "01234567",
                 "0001"
                 "0000001000"
                 "0000001100"
                 "0101011001"
                 "1000011");
    ExpectStream(QR_MODE_ALPHANUMERIC, 1, "AC-42",
                 "0010"
                 "000000101"
                 "00111001110"
                 "11100111001"
                 "000010");
    ExpectStream(QR_MODE_KANJI, 1, Bytes({0x93, 0x5F, 0xE4, 0xAA}),
                 "1000"
                 "00000010"
                 "0110110011111"
                 "1101010101010");
    ExpectStream(QR_MODE_EIGHT_BIT, 10, Bytes({0xA5}),
                 "0100"
                 "0000000000000001"
                 "10100101");
    // Count indicator widths change between versions 26 and 27.
    ExpectStream(QR_MODE_NUMERIC, 26, "7",
                 "0001"
                 "000000000001"
                 "0111");
    ExpectStream(QR_MODE_NUMERIC, 27, "7",
                 "0001"
                 "00000000000001"
                 "0111");
}

TEST(BitStreamTest, OutOfModeBytesAreStillValidSymbolData) {
    // Lower case as capitals, anything else outside the 45 as a space.
    EXPECT_EQ(Stream(QR_MODE_ALPHANUMERIC, 1, Bytes({'a', 'z', '#', 0})),
              Stream(QR_MODE_ALPHANUMERIC, 1, "AZ  "));
    // Numeric groups take their leading digits only: no sign, no blanks, so
    // a group never exceeds its width's range.
    EXPECT_EQ(Stream(QR_MODE_NUMERIC, 1, "-12 3+4x"), Stream(QR_MODE_NUMERIC, 1, "00000004"));
    // Kanji mode: a last odd byte is dropped; a pair outside the two ranges is 0.
    EXPECT_EQ(Stream(QR_MODE_KANJI, 1, Bytes({0x93, 0x5F, 0x41})),
              Stream(QR_MODE_KANJI, 1, Bytes({0x93, 0x5F})));
    EXPECT_EQ(Stream(QR_MODE_KANJI, 1, Bytes({0x41, 0x42})),
              Stream(QR_MODE_KANJI, 1, Bytes({0x81, 0x40})));
}

TEST(BitStreamTest, TerminatorAndPadCodewords) {
    struct Case {
        int mode, version, level;
        std::string message;
        int first;  // of the data codewords checked
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        // Empty Kanji message: mode, zero count, terminator, then pads only.
        {QR_MODE_KANJI,
         1,
         QR_LEVEL_L,
         "",
         0,
         {0x80, 0x00, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC, 0x11, 0xEC,
          0x11, 0xEC, 0x11, 0xEC}},
        // 14 bytes in 1-L leave three whole codewords after the terminator.
        {QR_MODE_EIGHT_BIT,
         1,
         QR_LEVEL_L,
         "ABCDEFGHIJKLMN",
         15,
         {'N' << 4 & 0xFF, 0xEC, 0x11, 0xEC}},
        // 25 characters fill 1-L but one bit: a one-bit terminator, no pad.
        {QR_MODE_ALPHANUMERIC, 1, QR_LEVEL_L, std::string(25, '0'), 17, {0x00, 0x00}},
        // 34 digits fill 1-M exactly: no terminator, no pad.
        {QR_MODE_NUMERIC, 1, QR_LEVEL_M, std::string(34, '9'), 14, {0xFE, 0x79}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.size());
        uint8_t buffer[kCodewordBufferSize] = {};
        const int count = static_cast<int>(c.message.size());
        int position = PutModeIndicator(buffer, 0, c.mode);
        position = PutCharCount(buffer, position, c.mode, c.version, count);
        const int bits =
            PutData(buffer, position, c.mode, c.version, c.level, Data(c.message), count);
        const int dataCodewords = bits / 8;
        EXPECT_EQ(dataCodewords, c.level == QR_LEVEL_L ? 19 : 16);
        EXPECT_EQ(c.first + static_cast<int>(c.bytes.size()), dataCodewords);
        EXPECT_EQ(std::vector<uint8_t>(buffer + c.first, buffer + dataCodewords), c.bytes);
        EXPECT_EQ(buffer[dataCodewords], 0);  // nothing beyond the data codewords
    }
}

}  // namespace
