// Every version, level, mode and mask: symbols drawn by QRCode must decode
// with zxing-cpp to the message (cut to the capacity), and their matrices
// must read back by the symbol rules with the data codewords encoded.
#include <gtest/gtest.h>

#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"

namespace {

class DecodeSweepTest : public testing::TestWithParam<int> {};

TEST_P(DecodeSweepTest, EveryLevelDecodes) {
    const int version = GetParam();
    for (int level = QR_LEVEL_L; level <= QR_LEVEL_H; ++level) {
        const int step = version * 4 + level;
        const int mode = (version + level) % 4 + 1;
        const int maskPattern = step % 9;  // 0: automatic
        const int capacity = DataCapacity(mode, version, level);
        const int shortLength = mode == QR_MODE_KANJI ? capacity / 6 * 2 + 2 : capacity / 3 + 1;
        const int lengths[3] = {capacity, capacity + 1, shortLength};
        const int length = lengths[step % 3];
        std::mt19937 random(static_cast<unsigned>(step));
        const std::string message = RandomMessage(random, mode, length);
        // Short messages let the encoder find the mode.
        const int requestedMode = length < capacity && mode != QR_MODE_EIGHT_BIT ? 0 : mode;
        int expectedLength = std::min(length, capacity);
        expectedLength -= mode == QR_MODE_KANJI ? expectedLength % 2 : 0;
        SCOPED_TRACE(testing::Message() << "level " << level << " mode " << mode << " mask "
                                        << maskPattern << " length " << length);

        // zxing-cpp misses some version 40 symbols at 2 pixels a module.
        const QrCodeRun run = RunQrCode(0, requestedMode, version, level, maskPattern, message, 3);
        EXPECT_EQ(run.result, (4 * version + 25) * 3 + 2);
        const std::string expected = message.substr(0, static_cast<size_t>(expectedLength));
        EXPECT_TRUE(run.decoded == expected)
            << "decoded " << run.decoded.value_or("nothing").size();

        Image image{};
        const EncodedMatrix encoded =
            EncodeMatrix(&image, requestedMode, version, level, maskPattern, message);
        ASSERT_EQ(encoded.result, 0);
        EXPECT_EQ(encoded.mode, mode);
        const StandardReading reading = ReadByStandard(&image);
        EXPECT_EQ(reading.failure, "");
        EXPECT_EQ(reading.level, level);
        if (maskPattern != 0) {
            EXPECT_EQ(reading.mask, maskPattern - 1);
        }
        EXPECT_EQ(reading.data, encoded.data);
        EXPECT_TRUE(DecodeModules(&image) == expected) << "modules";
        FreeSymbolMatrix(&image);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, DecodeSweepTest, testing::Range(1, kQrMaxVersion + 1));

}  // namespace
