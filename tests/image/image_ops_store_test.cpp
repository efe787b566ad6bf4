// The image operations give the same bytes whether an Image lives in memory
// or in a spill file, and report a failing spill file.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "image/image.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using InPlace = std::function<int(Image*)>;

const uint8_t kTeal[3] = {0, 128, 128};

std::vector<InPlace> InPlaceSequence() {
    const ToneEntry steps[] = {{64, 10}, {128, 100}, {200, 220}};
    return {
        [](Image* i) { return ImageRgbToHsv(0, i, 3, 2, 20, 9); },
        [](Image* i) { return ImageHsvToRgb(0, i, 3, 2, 20, 9); },
        [](Image* i) { return ImageGammaEncode(0, i, 0, 0, 0, 0); },
        [](Image* i) { return ImageGammaDecode(0, i, 5, 5, 100, 100); },
        [](Image* i) { return ImageRgbToYCbCr(0, i, -3, 4, 0, 0); },
        [](Image* i) { return ImageYCbCrToRgb(0, i, -3, 4, 0, 0); },
        [steps](Image* i) {
            return ImageMapLevels(IMAGE_FROM_TOP, i, 2, 1, 9, 9, 3, 0, 0, steps, nullptr, nullptr);
        },
        [](Image* i) { return ImageMakeGrey(1, i, 30, 0, 0, 5); },
        [](Image* i) { return ImageInvert(IMAGE_FROM_TOP, i, 0, 0, 10, 3); },
        [](Image* i) { return ImageAdjustChannels(1, i, 4, 4, 8, 8, 20, 70, 90); },
        [](Image* i) { return ImageAdjustTone(0, i, 0, 10, 0, 0, 60); },
        [](Image* i) { return ImageAdjustTone(IMAGE_FROM_TOP | 1, i, 1, 2, 30, 4, 65); },
        [](Image* i) { return ImageAdjustTone(2, i, 0, 0, 0, 0, 40); },
        [](Image* i) { return ImageAdjustTone(IMAGE_FROM_TOP | 3, i, 0, 0, 17, 0, 30); },
        [](Image* i) { return ImageAdjustContrast(0, i, 0, 0, 0, 0, 70); },
        [](Image* i) { return ImageAdjustContrast(2, i, 0, 0, 0, 0, 35); },
        [](Image* i) { return ImageAdjustContrast(IMAGE_FROM_TOP | 3, i, 9, 9, 9, 9, 80); },
        [](Image* i) { return ImageAdjustValueSaturation(1, i, 0, 0, 0, 0, 0, 30, 80); },
        [](Image* i) { return ImageDrawLine(IMAGE_FROM_TOP, i, 2, 3, 30, 19, 5, kTeal); },
        [](Image* i) { return ImageDrawLine(0x1, i, 36, 0, 0, 22, 3, nullptr); },
        [](Image* i) { return ImageDrawLine(0, i, 10, 12, 10, -5, 4, kTeal); },
    };
}

struct Maker {
    const char* name;
    std::function<Image*(uint32_t, Image*)> make;
};

std::vector<Maker> Makers() {
    return {
        {"duplicate", [](uint32_t f, Image* s) { return ImageDuplicate(f, s, "made.spill"); }},
        {"scale", [](uint32_t f, Image* s) { return ImageScale(f, s, "made.spill", 170, 45); }},
        {"smooth",
         [](uint32_t f, Image* s) { return ImageScale(f | 1, s, "made.spill", 33, 260); }},
        {"grey", [](uint32_t f, Image* s) { return ImageToGrey(f | 1, s, "made.spill"); }},
        {"rotate 0", [](uint32_t f, Image* s) { return ImageRotate(f, s, "made.spill", 0); }},
        {"rotate 90", [](uint32_t f, Image* s) { return ImageRotate(f, s, "made.spill", 90); }},
        {"rotate 180", [](uint32_t f, Image* s) { return ImageRotate(f, s, "made.spill", 180); }},
        {"rotate 270", [](uint32_t f, Image* s) { return ImageRotate(f, s, "made.spill", 270); }},
        {"mirror 0", [](uint32_t f, Image* s) { return ImageMirror(f, s, "made.spill", 0); }},
        {"mirror 1", [](uint32_t f, Image* s) { return ImageMirror(f, s, "made.spill", 1); }},
    };
}

std::string DumpText(const Image* image) {
    std::FILE* stream = std::tmpfile();
    ImageDump(IMAGE_FROM_TOP, image, stream, 0, 0, 0, 0);
    std::string text(static_cast<size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), stream), text.size());
    std::fclose(stream);
    return text;
}

class StoreTest : public ::testing::TestWithParam<int> {
protected:
    ScratchDir scratch;
};

TEST_P(StoreTest, InPlaceOperationsGiveTheSameBytesInMemoryAndInASpillFile) {
    Image* memory = ImageCreate(0, 37, 23, GetParam(), 0, 0, nullptr);
    Image* file = ImageCreate(IMAGE_FILE_BACKED, 37, 23, GetParam(), 0, 0, "file.spill");
    FillPattern(memory);
    FillPattern(file);
    int step = 0;
    for (const InPlace& operation : InPlaceSequence()) {
        EXPECT_EQ(operation(memory), operation(file)) << step;
        ASSERT_EQ(StoreBytes(memory), StoreBytes(file)) << step;
        ++step;
    }
    EXPECT_EQ(DumpText(memory), DumpText(file));
    ImageFree(memory);
    ImageFree(file);
}

TEST_P(StoreTest, MadeImagesAreTheSameWhereverSourceAndResultLive) {
    Image* memory = ImageCreate(0, 37, 23, GetParam(), 0, 0, nullptr);
    Image* file = ImageCreate(IMAGE_FILE_BACKED, 37, 23, GetParam(), 0, 0, "file.spill");
    FillPattern(memory);
    FillPattern(file);
    for (const Maker& maker : Makers()) {
        Image* reference = maker.make(0, memory);
        if (reference == nullptr) {
            EXPECT_EQ(std::string(maker.name), "grey");  // only from colour
            EXPECT_EQ(GetParam(), 1);
            continue;
        }
        const Bytes expected = StoreBytes(reference);
        for (Image* source : {memory, file}) {
            for (uint32_t backing : {0u, IMAGE_FILE_BACKED}) {
                Image* made = maker.make(backing, source);
                ASSERT_NE(made, nullptr) << maker.name;
                EXPECT_EQ(made->info.width, reference->info.width);
                EXPECT_EQ(StoreBytes(made), expected) << maker.name;
                ImageFree(made);
            }
        }
        ImageFree(reference);
    }
    ImageFree(memory);
    ImageFree(file);
}

INSTANTIATE_TEST_SUITE_P(Channels, StoreTest, ::testing::Values(1, 3));

// With its spill file swapped for a read-only stream, every write fails.
TEST(StoreFailureTest, AFailingSpillFileIsReportedNotIgnored) {
    ScratchDir scratch;
    Image* image = ImageCreate(IMAGE_FILE_BACKED, 400, 3, 3, 0, 0, "file.spill");
    std::FILE* writable = image->spillFile;
    image->spillFile = std::fopen("file.spill", "rb");
    const ToneEntry table[] = {{10, 1}};
    EXPECT_EQ(ImageRgbToHsv(0, image, 0, 0, 0, 0), -6);
    EXPECT_EQ(ImageYCbCrToRgb(0, image, 0, 0, 0, 0), -6);
    EXPECT_EQ(ImageMapLevels(0, image, 0, 0, 0, 0, 1, 1, 1, table, table, table), -6);
    EXPECT_EQ(ImageInvert(0, image, 0, 0, 0, 0), -6);
    EXPECT_EQ(ImageAdjustTone(1, image, 0, 0, 0, 0, 80), -6);
    EXPECT_EQ(ImageDrawLine(0, image, 0, 0, 5, 2, 1, kTeal), -6);
    EXPECT_EQ(ImageDrawLine(0x1, image, 0, 0, 5, 0, 1, nullptr), -6);
    Image* rotated = ImageRotate(0, image, nullptr, 90);  // reads only
    EXPECT_NE(rotated, nullptr);
    ImageFree(rotated);
    std::fclose(image->spillFile);
    image->spillFile = writable;

    // A made Image whose spill file fails is not handed out.
    Image* source = ImageCreate(0, 4, 4, 3, 0, 0, nullptr);
    EXPECT_EQ(ImageScale(IMAGE_FILE_BACKED, source, "no/such/dir/x.spill", 50, 50), nullptr);
    ImageFree(source);
    ImageFree(image);
}

}  // namespace
