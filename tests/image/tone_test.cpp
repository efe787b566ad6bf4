#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/image_test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Operation = std::function<int(Image*)>;

// A 1-channel Image of the 256 grey levels, 16 × 16.
Image* Levels() {
    Image* image = ImageCreate(0, 16, 16, 1, 0, 0, nullptr);
    for (int v = 0; v < 256; ++v) {
        PutPixel(image, v % 16, v / 16, {static_cast<uint8_t>(v)});
    }
    return image;
}

int LevelAt(const Image* image, int v) {
    return PixelAt(image, v % 16, v / 16)[0];
}

// A 3-channel Image of assorted colours, greys and extremes.
Image* Colours() {
    Image* image = ImageCreate(0, 23, 11, 3, 0, 0, nullptr);
    FillPattern(image);
    PutPixel(image, 0, 0, {0, 0, 0});
    PutPixel(image, 1, 0, {255, 255, 255});
    PutPixel(image, 2, 0, {0, 0, 255});
    PutPixel(image, 3, 0, {128, 128, 128});
    return image;
}

TEST(ToneTest, LevelFiftyLeavesEveryPixelAsItIs) {
    const std::vector<std::pair<const char*, Operation>> operations = {
        {"tone 0", [](Image* i) { return ImageAdjustTone(0, i, 0, 0, 0, 0, 50); }},
        {"tone 1", [](Image* i) { return ImageAdjustTone(1, i, 0, 0, 0, 0, 50); }},
        {"tone 2", [](Image* i) { return ImageAdjustTone(2, i, 0, 0, 0, 0, 50); }},
        {"tone 3", [](Image* i) { return ImageAdjustTone(3, i, 0, 0, 0, 0, 50); }},
        {"contrast 0", [](Image* i) { return ImageAdjustContrast(0, i, 0, 0, 0, 0, 50); }},
        {"contrast 1", [](Image* i) { return ImageAdjustContrast(1, i, 0, 0, 0, 0, 50); }},
        {"contrast 2", [](Image* i) { return ImageAdjustContrast(2, i, 0, 0, 0, 0, 50); }},
        {"contrast 3", [](Image* i) { return ImageAdjustContrast(3, i, 0, 0, 0, 0, 50); }},
        {"channels 0", [](Image* i) { return ImageAdjustChannels(0, i, 0, 0, 0, 0, 50, 50, 50); }},
        {"channels 1", [](Image* i) { return ImageAdjustChannels(1, i, 0, 0, 0, 0, 50, 50, 50); }},
    };
    for (const auto& [name, operation] : operations) {
        for (Image* image : {Levels(), Colours()}) {
            const Bytes before = StoreBytes(image);
            EXPECT_EQ(operation(image), 0) << name;
            EXPECT_EQ(StoreBytes(image), before) << name;
            ImageFree(image);
        }
    }
    for (uint32_t mode = 0; mode < 4; ++mode) {
        Image* image = Colours();
        const Bytes before = StoreBytes(image);
        EXPECT_EQ(ImageAdjustValueSaturation(mode, image, 0, 0, 0, 0, 0, 50, 50), 0);
        EXPECT_EQ(StoreBytes(image), before) << mode;
        ImageFree(image);
    }
}

TEST(ToneTest, ShiftAndScaleRules) {
    Image* image = Levels();
    // Mode 0 at 75 adds truncated(0.5 × 255) = 127, limited to 255.
    ASSERT_EQ(ImageAdjustTone(0, image, 0, 0, 0, 0, 75), 0);
    EXPECT_EQ(LevelAt(image, 0), 127);
    EXPECT_EQ(LevelAt(image, 100), 227);
    EXPECT_EQ(LevelAt(image, 200), 255);
    ImageFree(image);

    // Mode 1 per channel: blue at 25 halves (rounded), green at 100 goes
    // to 255, red at 75 goes half way to 255 (rounded).
    image = ImageCreate(0, 1, 1, 3, 0, 0, nullptr);
    PutPixel(image, 0, 0, {101, 7, 100});
    ASSERT_EQ(ImageAdjustChannels(1, image, 0, 0, 0, 0, 75, 100, 25), 0);
    EXPECT_EQ(PixelAt(image, 0, 0), (Bytes{51, 255, 178}));  // 50.5; 255; 100 + 77.5
    ImageFree(image);
}

TEST(ToneTest, CurvesAtTheirEndsAndInBetween) {
    Image* image = Levels();
    ASSERT_EQ(ImageAdjustTone(3, image, 0, 0, 0, 0, 25), 0);  // (v / 255)^2 × 255
    EXPECT_EQ(LevelAt(image, 128), 64);                       // 64.25
    EXPECT_EQ(LevelAt(image, 255), 255);
    ImageFree(image);

    image = Levels();
    ASSERT_EQ(ImageAdjustTone(2, image, 0, 0, 0, 0, 100), 0);
    EXPECT_EQ(LevelAt(image, 0), 255);
    ASSERT_EQ(ImageAdjustTone(2, image, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(LevelAt(image, 255), 0);
    ImageFree(image);

    image = Levels();
    ASSERT_EQ(ImageAdjustContrast(0, image, 0, 0, 0, 0, 25), 0);  // v / 2 + 64
    EXPECT_EQ(LevelAt(image, 0), 64);
    EXPECT_EQ(LevelAt(image, 128), 128);
    EXPECT_EQ(LevelAt(image, 255), 192);  // 191.5
    ImageFree(image);
}

TEST(ToneTest, ContrastZeroIsFlatAndHundredThresholdsAt128) {
    for (uint32_t mode = 0; mode < 4; ++mode) {
        Image* image = Levels();
        ASSERT_EQ(ImageAdjustContrast(mode, image, 0, 0, 0, 0, 100), 0);
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(LevelAt(image, v), v < 128 ? 0 : 255) << mode << " " << v;
        }
        ASSERT_EQ(ImageAdjustContrast(mode, image, 0, 0, 0, 0, 0), 0);
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(LevelAt(image, v), 128);
        }
        ImageFree(image);
    }
}

TEST(ToneTest, MapLevelsLooksUpEachChannel) {
    Image* image = Levels();
    const ToneEntry threshold[] = {{128, 0}};
    ASSERT_EQ(ImageMapLevels(0, image, 0, 0, 0, 0, 1, 0, 0, threshold, nullptr, nullptr), 0);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(LevelAt(image, v), v < 128 ? 0 : 255);
    }
    ImageFree(image);

    // Blue 1 → 300 stores the low byte 44; a negative value gives 255; a
    // null red table with a count gives 255 everywhere.
    image = ImageCreate(0, 2, 1, 3, 0, 0, nullptr);
    PutPixel(image, 0, 0, {1, 1, 1});
    PutPixel(image, 1, 0, {9, 9, 9});
    const ToneEntry blue[] = {{2, 300}, {10, -1}};
    const ToneEntry green[] = {{5, 7}};
    ASSERT_EQ(ImageMapLevels(0, image, 0, 0, 0, 0, 3, 1, 2, nullptr, green, blue), 0);
    EXPECT_EQ(PixelAt(image, 0, 0), (Bytes{44, 7, 255}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Bytes{255, 255, 255}));
    ImageFree(image);
}

TEST(ToneTest, GreyAndInversion) {
    Image* image = ImageCreate(0, 2, 1, 3, 0, 0, nullptr);
    PutPixel(image, 0, 0, {10, 20, 30});
    PutPixel(image, 1, 0, {0, 1, 1});
    ASSERT_EQ(ImageMakeGrey(1, image, 0, 0, 1, 1), 0);
    EXPECT_EQ(PixelAt(image, 0, 0), (Bytes{22, 22, 22}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Bytes{0, 1, 1}));
    ASSERT_EQ(ImageMakeGrey(0, image, 1, 0, 1, 1), 0);
    EXPECT_EQ(PixelAt(image, 1, 0), (Bytes{1, 1, 1}));  // 2 / 3, rounded

    ASSERT_EQ(ImageInvert(0, image, 0, 0, 0, 0), 0);
    EXPECT_EQ(PixelAt(image, 0, 0), (Bytes{233, 233, 233}));
    ImageFree(image);
}

TEST(ToneTest, HsvAdjustmentsChangeValueAndSaturation) {
    Image* image = ImageCreate(0, 3, 1, 3, 0, 0, nullptr);
    PutPixel(image, 0, 0, {0, 0, 100});  // dark red
    PutPixel(image, 1, 0, {50, 100, 200});
    PutPixel(image, 2, 0, {90, 90, 90});
    // Value to 255 keeps hue and saturation.
    ASSERT_EQ(ImageAdjustTone(1, image, 0, 0, 1, 1, 100), 0);
    EXPECT_EQ(PixelAt(image, 0, 0), (Bytes{0, 0, 255}));
    // Saturation shifted down by 255 leaves the grey of the value.
    ASSERT_EQ(ImageAdjustValueSaturation(0, image, 1, 0, 1, 1, 0, 50, 0), 0);
    EXPECT_EQ(PixelAt(image, 1, 0), (Bytes{200, 200, 200}));
    // Value scaled to 0 is black.
    ASSERT_EQ(ImageAdjustValueSaturation(1, image, 2, 0, 1, 1, 0, 0, 50), 0);
    EXPECT_EQ(PixelAt(image, 2, 0), (Bytes{0, 0, 0}));
    ImageFree(image);
}

TEST(ToneTest, FromTopChangesTheSameRowsInEveryOperation) {
    // Rows 0 and 1 from the top of six are stored rows 5 and 4.
    const std::vector<Operation> operations = {
        [](Image* i) { return ImageAdjustTone(IMAGE_FROM_TOP | 1, i, 1, 0, 2, 2, 90); },
        [](Image* i) { return ImageAdjustTone(IMAGE_FROM_TOP | 3, i, 1, 0, 2, 2, 10); },
        [](Image* i) {
            return ImageAdjustValueSaturation(IMAGE_FROM_TOP, i, 1, 0, 2, 2, 0, 70, 20);
        },
        [](Image* i) { return ImageInvert(IMAGE_FROM_TOP, i, 1, 0, 2, 2); },
    };
    for (const Operation& operation : operations) {
        Image* image = ImageCreate(0, 4, 6, 3, 0, 0, nullptr);
        FillPattern(image);
        ASSERT_EQ(operation(image), 0);
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 4; ++x) {
                const bool inside = x >= 1 && x <= 2 && y >= 4;
                EXPECT_EQ(PixelAt(image, x, y) != PatternPixel(image, x, y), inside)
                    << x << "," << y;
            }
        }
        ImageFree(image);
    }
}

TEST(ToneTest, RefusalsLeaveTheImageUnchanged) {
    struct Case {
        int channels;
        int code;
        Operation operation;
    };
    const Case cases[] = {
        {1, -1, [](Image* i) { return ImageMakeGrey(0, i, 0, 0, 0, 0); }},
        {3, -3, [](Image* i) { return ImageMakeGrey(2, i, 0, 0, 0, 0); }},
        {3, -3, [](Image* i) { return ImageAdjustChannels(3, i, 0, 0, 0, 0, 50, 50, 50); }},
        {3, -4, [](Image* i) { return ImageAdjustChannels(0, i, 0, 0, 0, 0, 50, 101, 50); }},
        {1, -4, [](Image* i) { return ImageAdjustChannels(1, i, 0, 0, 0, 0, 50, 50, -1); }},
        {1, -5, [](Image* i) { return ImageAdjustTone(0, i, 0, 0, 0, 0, 101); }},
        {3, -5, [](Image* i) { return ImageAdjustTone(1, i, 0, 0, 0, 0, -1); }},
        {3, -4, [](Image* i) { return ImageAdjustContrast(2, i, 0, 0, 0, 0, 1000); }},
        {1, -1, [](Image* i) { return ImageAdjustValueSaturation(0, i, 0, 0, 0, 0, 0, 60, 60); }},
        {3, -4, [](Image* i) { return ImageAdjustValueSaturation(0, i, 0, 0, 0, 0, 0, 101, 0); }},
        {3, -5, [](Image* i) { return ImageAdjustValueSaturation(0, i, 0, 0, 0, 0, 0, 0, 101); }},
    };
    for (const Case& c : cases) {
        Image* image = ImageCreate(0, 5, 4, c.channels, 0, 0, nullptr);
        FillPattern(image);
        const Bytes before = StoreBytes(image);
        EXPECT_EQ(c.operation(image), c.code);
        EXPECT_EQ(StoreBytes(image), before);
        ImageFree(image);
    }
}

TEST(ToneTest, NoLineBufferGivesMinusTwoAndNoChange) {
    const std::vector<Operation> operations = {
        [](Image* i) {
            const ToneEntry table[] = {{10, 1}};
            return ImageMapLevels(0, i, 0, 0, 0, 0, 1, 1, 1, table, table, table);
        },
        [](Image* i) { return ImageMakeGrey(0, i, 0, 0, 0, 0); },
        [](Image* i) { return ImageInvert(0, i, 0, 0, 0, 0); },
        [](Image* i) { return ImageAdjustChannels(0, i, 0, 0, 0, 0, 10, 20, 30); },
        [](Image* i) { return ImageAdjustTone(1, i, 0, 0, 0, 0, 80); },
        [](Image* i) { return ImageAdjustTone(2, i, 0, 0, 0, 0, 80); },
        [](Image* i) { return ImageAdjustContrast(3, i, 0, 0, 0, 0, 80); },
        [](Image* i) { return ImageAdjustValueSaturation(1, i, 0, 0, 0, 0, 0, 80, 20); },
    };
    for (const Operation& operation : operations) {
        Image* image = ImageCreate(0, 5, 4, 3, 0, 0, nullptr);
        FillPattern(image);
        const Bytes before = StoreBytes(image);
        MemFailAt(1, true);
        EXPECT_EQ(operation(image), -2);
        MemFailAt(0);
        EXPECT_EQ(StoreBytes(image), before);
        EXPECT_EQ(operation(image), 0);
        EXPECT_NE(StoreBytes(image), before);
        ImageFree(image);
    }
}

}  // namespace
