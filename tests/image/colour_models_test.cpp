#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/image_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Converts one pixel (b0, b1, b2) with `convert` and returns the result.
Bytes ConvertOne(int (*convert)(uint32_t, Image*, int, int, int, int), const Bytes& pixel) {
    Image* image = ImageCreate(0, 1, 1, 3, 0, 0, nullptr);
    PutPixel(image, 0, 0, pixel);
    EXPECT_EQ(convert(0, image, 0, 0, 0, 0), 0);
    Bytes result = PixelAt(image, 0, 0);
    ImageFree(image);
    return result;
}

TEST(ColourModelTest, HsvOfPrimariesAndGreyAndBack) {
    struct Case {
        Bytes rgb;  // blue, green, red as stored
        Bytes hsv;
    };
    const Case cases[] = {
        {{0, 0, 255}, {0, 255, 255}},      // red
        {{0, 255, 255}, {40, 255, 255}},   // yellow
        {{0, 255, 0}, {80, 255, 255}},     // green
        {{255, 255, 0}, {120, 255, 255}},  // cyan
        {{255, 0, 0}, {160, 255, 255}},    // blue
        {{255, 0, 255}, {200, 255, 255}},  // magenta
        {{0, 0, 128}, {0, 255, 128}},      // dark red
        {{77, 77, 77}, {0, 0, 77}},        // grey
        {{0, 0, 0}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertOne(ImageRgbToHsv, c.rgb), c.hsv);
        EXPECT_EQ(ConvertOne(ImageHsvToRgb, c.hsv), c.rgb);
    }
    // Hue bytes 240..255 repeat the last sixth from its start: 250 is 210.
    EXPECT_EQ(ConvertOne(ImageHsvToRgb, {250, 255, 255}),
              ConvertOne(ImageHsvToRgb, {210, 255, 255}));
    EXPECT_EQ(ConvertOne(ImageHsvToRgb, {210, 255, 255}), (Bytes{191, 0, 255}));
}

TEST(ColourModelTest, YCbCrAndGammaExamples) {
    EXPECT_EQ(ConvertOne(ImageRgbToYCbCr, {0, 0, 0}), (Bytes{16, 128, 128}));
    EXPECT_EQ(ConvertOne(ImageRgbToYCbCr, {255, 255, 255})[0], 235);
    EXPECT_EQ(ConvertOne(ImageYCbCrToRgb, {16, 128, 128}), (Bytes{0, 0, 0}));
    // 1.164 × 219 = 254.9, truncated. Out of range, R 184.07, G -171.7 and
    // B 237.5 are limited to bytes, not wrapped.
    EXPECT_EQ(ConvertOne(ImageYCbCrToRgb, {235, 128, 128}), (Bytes{254, 254, 254}));
    EXPECT_EQ(ConvertOne(ImageYCbCrToRgb, {0, 255, 255}), (Bytes{237, 0, 184}));
    // 1.099 × (128/255)^0.45 - 0.099 = 0.7069, so 180; and back to 128.
    EXPECT_EQ(ConvertOne(ImageGammaEncode, {0, 128, 255}), (Bytes{0, 180, 255}));
    EXPECT_EQ(ConvertOne(ImageGammaDecode, {0, 180, 255}), (Bytes{0, 128, 255}));
}

// Every one of the 2^24 colours through a conversion and back, a slab of
// 4096 × 256 pixels at a time; returns the largest difference of a byte.
int WorstRoundTrip(int (*there)(uint32_t, Image*, int, int, int, int),
                   int (*back)(uint32_t, Image*, int, int, int, int)) {
    constexpr int kWidth = 4096;
    constexpr int kRows = 256;
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kSlabStep = 4;  // a sample under the sanitizers
#else
    constexpr int kSlabStep = 1;
#endif
    Image* image = ImageCreate(IMAGE_NO_FILL, kWidth, kRows, 3, 0, 0, nullptr);
    int worst = 0;
    for (int slab = 0; slab < 16; slab += kSlabStep) {
        for (int row = 0; row < kRows; ++row) {
            uint8_t* pixel = image->pixels + ImagePixelOffset(0, image, 0, row);
            for (int x = 0; x < kWidth; ++x, pixel += 3) {
                const int colour = ((slab * kRows + row) * kWidth) + x;
                pixel[0] = static_cast<uint8_t>(colour);
                pixel[1] = static_cast<uint8_t>(colour >> 8);
                pixel[2] = static_cast<uint8_t>(colour >> 16);
            }
        }
        EXPECT_EQ(there(0, image, 0, 0, 0, 0), 0);
        EXPECT_EQ(back(0, image, 0, 0, 0, 0), 0);
        for (int row = 0; row < kRows; ++row) {
            const uint8_t* pixel = image->pixels + ImagePixelOffset(0, image, 0, row);
            for (int x = 0; x < kWidth; ++x, pixel += 3) {
                const int colour = ((slab * kRows + row) * kWidth) + x;
                for (int k = 0; k < 3; ++k) {
                    worst = std::max(worst, std::abs(pixel[k] - ((colour >> (8 * k)) & 0xFF)));
                }
            }
        }
    }
    ImageFree(image);
    return worst;
}

TEST(ColourModelTest, HsvRoundTripOfEveryColourIsClose) {
    // Hue has 40 steps a sixth: half a step moves the middle byte by up to
    // 255 / 80 = 3.2, and the rounding of saturation and of the byte itself
    // by up to 0.5 each.
    EXPECT_LE(WorstRoundTrip(ImageRgbToHsv, ImageHsvToRgb), 4);
}

TEST(ColourModelTest, YCbCrRoundTripOfEveryColourIsClose) {
    // Both directions truncate: Y, Cb and Cr each lose less than 1, which
    // blue (1.164 Y + 2.017 Cb) turns into less than 3.2, plus its own 1.
    EXPECT_LE(WorstRoundTrip(ImageRgbToYCbCr, ImageYCbCrToRgb), 4);
}

TEST(ColourModelTest, ConvertsOnlyTheClippedRectangleCountedFromRowZero) {
    Image* image = ImageCreate(0, 6, 4, 3, 0, 0, nullptr);
    FillPattern(image);
    // IMAGE_FROM_TOP is not looked at; width 0 reaches the right edge.
    ASSERT_EQ(ImageRgbToYCbCr(IMAGE_FROM_TOP, image, 2, 1, 0, 2), 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && y >= 1 && y <= 2;
            EXPECT_EQ(PixelAt(image, x, y) != PatternPixel(image, x, y), inside) << x << "," << y;
        }
    }
    // A rectangle starting far outside is clamped onto the last pixel.
    ASSERT_EQ(ImageRgbToYCbCr(0, image, 1000, -1000, 5, 1), 0);
    EXPECT_NE(PixelAt(image, 5, 0), PatternPixel(image, 5, 0));
    EXPECT_EQ(PixelAt(image, 4, 0), PatternPixel(image, 4, 0));
    ImageFree(image);
}

TEST(ColourModelTest, RefusalsLeaveTheImageUnchanged) {
    Image* grey = ImageCreate(0, 5, 5, 1, 0, 0, nullptr);
    FillPattern(grey);
    const Bytes greyBefore = StoreBytes(grey);
    for (auto convert : {ImageRgbToHsv, ImageHsvToRgb, ImageGammaEncode, ImageGammaDecode,
                         ImageRgbToYCbCr, ImageYCbCrToRgb}) {
        EXPECT_EQ(convert(0, grey, 0, 0, 0, 0), -1);
    }
    EXPECT_EQ(StoreBytes(grey), greyBefore);
    ImageFree(grey);

    // 341 pixels fit the 1,024-byte line on the stack; 342 need a heap line.
    Image* narrow = ImageCreate(0, 341, 2, 3, 0, 0, nullptr);
    Image* wide = ImageCreate(0, 342, 2, 3, 0, 0, nullptr);
    FillPattern(narrow);
    FillPattern(wide);
    const Bytes wideBefore = StoreBytes(wide);
    MemFailAt(1, true);
    EXPECT_EQ(ImageRgbToHsv(0, narrow, 0, 0, 0, 0), 0);
    EXPECT_EQ(ImageRgbToHsv(0, wide, 0, 0, 0, 0), -2);
    MemFailAt(0);
    EXPECT_EQ(StoreBytes(wide), wideBefore);
    EXPECT_EQ(ImageRgbToHsv(0, wide, 0, 0, 0, 0), 0);
    EXPECT_NE(StoreBytes(wide), wideBefore);
    ImageFree(narrow);
    ImageFree(wide);
}

std::string Dump(uint32_t flags, const Image* image, int x, int y, int width, int height,
                 int* end) {
    std::FILE* stream = std::tmpfile();
    *end = ImageDump(flags, image, stream, x, y, width, height);
    std::string text(static_cast<std::size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), stream), text.size());
    std::fclose(stream);
    return text;
}

TEST(ImageDumpTest, LinesRowsAndClipping) {
    Image* grey = ImageCreate(0, 3, 10, 1, 0, 0, nullptr);
    PutPixel(grey, 2, 7, {200});
    int end = 0;
    EXPECT_EQ(Dump(0, grey, 2, 7, 1, 1, &end), "D[   2][   7] = 200 (c8)\n");
    EXPECT_EQ(end, 8);
    // Height 0 from row 5 covers rows 5 to 9.
    EXPECT_EQ(std::ranges::count(Dump(0, grey, 2, 5, 1, 0, &end), '\n'), 5);
    EXPECT_EQ(end, 10);
    // From the top, row 2 is stored row 7.
    EXPECT_EQ(Dump(IMAGE_FROM_TOP, grey, 2, 2, 1, 1, &end), "D[   2][   2] = 200 (c8)\n");
    // A negative origin is moved onto the Image: no reads outside it.
    EXPECT_EQ(Dump(0, grey, -4, -2, 2, 1, &end),
              "D[   0][   0] =   0 (00)\nD[   1][   0] =   0 (00)\n");
    EXPECT_EQ(end, 1);

    Image* colour = ImageCreate(0, 4, 3, 3, 0, 0, nullptr);
    PutPixel(colour, 1, 0, {1, 171, 255});
    PutPixel(colour, 2, 0, {16, 0, 9});
    EXPECT_EQ(Dump(0, colour, 1, 0, 2, 1, &end),
              "D[   1][   0] =   1,171,255 (01,ab,ff)\n"
              "D[   2][   0] =  16,  0,  9 (10,00,09)\n");
    ImageFree(grey);
    ImageFree(colour);
}

}  // namespace
