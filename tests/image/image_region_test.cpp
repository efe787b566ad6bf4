#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

const uint8_t kRed[3] = {255, 0, 0};
const uint8_t kGreen[3] = {0, 200, 0};

// Runs each case on in-memory and on file-backed Images.
class RegionTest : public ::testing::TestWithParam<bool> {
protected:
    Image* Make(int width, int height, int channels, const char* name = "spill") {
        const uint32_t flags = GetParam() ? IMAGE_FILE_BACKED : 0;
        Image* image = ImageCreate(flags, width, height, channels, 0, 0, name);
        EXPECT_NE(image, nullptr);
        return image;
    }
    uint32_t Backing() const { return GetParam() ? IMAGE_FILE_BACKED : 0; }
    ScratchDir scratch;
};

TEST_P(RegionTest, CropTakesTheBottomLeftSquareAndConsumesTheSource) {
    Image* source = Make(187, 187, 3, "source.spill");
    FillPattern(source);
    Image* cropped =
        ImageCrop(IMAGE_CONSUME_SOURCE | Backing(), source, "crop.spill", 0, 0, 93, 93);
    ASSERT_NE(cropped, nullptr);
    EXPECT_EQ(cropped->info.width, 93);
    EXPECT_EQ(cropped->info.height, 93);
    EXPECT_EQ(cropped->info.bitCount, 24);
    for (int y = 0; y < 93; y += 23) {
        for (int x = 0; x < 93; x += 19) {
            EXPECT_EQ(PixelAt(cropped, x, y), PatternPixel(cropped, x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(PixelAt(cropped, 92, 92), PatternPixel(cropped, 92, 92));
    if (GetParam()) {
        EXPECT_NE(access("source.spill", F_OK), 0) << "source was not released";
    }
    ImageFree(cropped);
}

TEST_P(RegionTest, CropClipsItsRectangle) {
    Image* source = Make(187, 20, 1);
    source->info.xPelsPerMetre = 3780;
    FillPattern(source);
    Image* whole = ImageCrop(0, source, "a.spill", 0, 0, 0, 0);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(PixelBytes(whole), PixelBytes(source));
    EXPECT_EQ(whole->info.xPelsPerMetre, 3780);
    EXPECT_EQ(whole->info.coloursUsed, 256u);

    Image* right = ImageCrop(0, source, "b.spill", 150, 5, 100, 3);
    ASSERT_NE(right, nullptr);
    EXPECT_EQ(right->info.width, 37);
    EXPECT_EQ(right->info.height, 3);
    EXPECT_EQ(PixelAt(right, 0, 0), PatternPixel(source, 150, 5));
    EXPECT_EQ(PixelAt(right, 36, 2), PatternPixel(source, 186, 7));

    // A row origin past the top is clamped to the last row: one row, no more.
    Image* top = ImageCrop(0, source, "c.spill", 0, 500, 0, 10);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->info.height, 1);
    EXPECT_EQ(PixelAt(top, 3, 0), PatternPixel(source, 3, 19));
    ImageFree(whole);
    ImageFree(right);
    ImageFree(top);
    ImageFree(source);
}

TEST_P(RegionTest, CropFromTopCountsRowsDownwards) {
    Image* source = Make(6, 10, 3);
    FillPattern(source);
    Image* cropped = ImageCrop(IMAGE_FROM_TOP, source, "crop.spill", 1, 0, 3, 2);
    ASSERT_NE(cropped, nullptr);
    // The two top lines of the picture: stored rows 9 and 8, order kept.
    EXPECT_EQ(PixelAt(cropped, 0, 1), PatternPixel(source, 1, 9));
    EXPECT_EQ(PixelAt(cropped, 2, 0), PatternPixel(source, 3, 8));
    ImageFree(cropped);
    ImageFree(source);
}

TEST_P(RegionTest, CropFailureLeavesTheSourceToTheCaller) {
    Image* source = Make(8, 8, 3, "source.spill");
    FillPattern(source);
    const std::vector<uint8_t> before = StoreBytes(source);
    // First the new Image (and with a spill file, its fill buffer), then the
    // row buffer. An in-memory source that is given up lends its own store
    // and allocates nothing, so only a crop that keeps it can fail.
    const int allocations = GetParam() ? 3 : 2;
    const uint32_t consume = GetParam() ? IMAGE_CONSUME_SOURCE : 0;
    for (int n = 1; n <= allocations; ++n) {
        MemFailAt(n, true);
        Image* cropped = ImageCrop(consume | Backing(), source, "crop.spill", 0, 0, 4, 4);
        MemFailAt(0);
        EXPECT_EQ(cropped, nullptr) << "allocation " << n;
        EXPECT_NE(access("crop.spill", F_OK), 0);
    }
    EXPECT_EQ(
        ImageCrop(IMAGE_CONSUME_SOURCE | IMAGE_FILE_BACKED, source, "no/such/dir/x", 0, 0, 4, 4),
        nullptr);
    EXPECT_EQ(StoreBytes(source), before);
    ImageFree(source);
}

TEST_P(RegionTest, ConsumingCropGivesWhatACopyingCropGives) {
    struct Case {
        uint32_t options;
        int channels, x, y, width, height;
    };
    const Case cases[] = {
        {0, 3, 0, 0, 0, 0},
        {0, 3, 5, 3, 17, 9},
        {IMAGE_FROM_TOP, 3, 2, 1, 7, 4},
        {0, 1, 3, 2, 9, 11},
        {IMAGE_FROM_TOP, 1, 0, 0, 5, 5},
        {0, 3, 30, 20, 0, 0},
    };
    for (const Case& c : cases) {
        Image* kept = Make(31, 23, c.channels, "kept.spill");
        Image* given = Make(31, 23, c.channels, "given.spill");
        FillPattern(kept);
        FillPattern(given);
        if (c.channels == 1) {  // the result takes a fresh grey ramp either way
            kept->palette[7] = given->palette[7] = RgbQuad{1, 2, 3, 0};
        }
        given->cellSize = 9;
        Image* copy =
            ImageCrop(c.options | Backing(), kept, "copy.spill", c.x, c.y, c.width, c.height);
        Image* moved = ImageCrop(c.options | IMAGE_CONSUME_SOURCE | Backing(), given, "moved.spill",
                                 c.x, c.y, c.width, c.height);
        ASSERT_NE(copy, nullptr);
        ASSERT_NE(moved, nullptr);
        EXPECT_EQ(StoreBytes(moved), StoreBytes(copy)) << c.x << "," << c.y;
        EXPECT_EQ(
            std::memcmp(&moved->info, &copy->info, sizeof(BmpInfoHeader) + sizeof copy->palette),
            0);
        EXPECT_EQ(moved->createFlags, copy->createFlags);
        EXPECT_EQ(moved->cellSize, 0);
        ImageFree(moved);
        ImageFree(copy);
        ImageFree(kept);
    }
}

TEST_P(RegionTest, PasteIsCutAtTheDestinationEdges) {
    Image* destination = Make(187, 187, 3, "d.spill");
    Image* source = Make(50, 50, 3, "s.spill");
    FillPattern(source);
    EXPECT_EQ(ImagePaste(0, destination, 180, 180, source, 0, 0, 0, 0), 0);
    int changed = 0;
    const std::vector<uint8_t> black(3, 0);
    for (int y = 170; y < 187; ++y) {
        for (int x = 170; x < 187; ++x) {
            if (PixelAt(destination, x, y) != black) {
                ++changed;
                EXPECT_EQ(PixelAt(destination, x, y), PatternPixel(source, x - 180, y - 180));
            }
        }
    }
    EXPECT_EQ(changed, 49);
    ImageFree(source);
    ImageFree(destination);
}

TEST_P(RegionTest, PasteCopiesTheWholeSourceOrARectangleOfIt) {
    Image* destination = Make(10, 10, 1, "d.spill");
    Image* source = Make(4, 3, 1, "s.spill");
    FillPattern(source);
    EXPECT_EQ(ImagePaste(0, destination, 2, 1, source, 0, 0, 0, 0), 0);
    EXPECT_EQ(PixelAt(destination, 2, 1), PatternPixel(source, 0, 0));
    EXPECT_EQ(PixelAt(destination, 5, 3), PatternPixel(source, 3, 2));
    EXPECT_EQ(PixelAt(destination, 6, 3)[0], 0);
    EXPECT_EQ(PixelAt(destination, 2, 4)[0], 0);

    // From the top: source row 0 from the top (stored row 2) lands on the
    // destination's top line (stored row 9).
    EXPECT_EQ(ImagePaste(IMAGE_FROM_TOP, destination, 0, 0, source, 1, 0, 2, 1), 0);
    EXPECT_EQ(PixelAt(destination, 0, 9), PatternPixel(source, 1, 2));
    EXPECT_EQ(PixelAt(destination, 1, 9), PatternPixel(source, 2, 2));
    EXPECT_EQ(PixelAt(destination, 2, 9)[0], 0);
    EXPECT_EQ(PixelAt(destination, 0, 8)[0], 0);
    ImageFree(source);
    ImageFree(destination);
}

TEST_P(RegionTest, PasteRefusesImagesOfDifferentChannels) {
    Image* grey = Make(8, 8, 1, "g.spill");
    Image* colour = Make(8, 8, 3, "c.spill");
    FillPattern(grey);
    FillPattern(colour);
    const std::vector<uint8_t> greyBefore = StoreBytes(grey);
    const std::vector<uint8_t> colourBefore = StoreBytes(colour);
    EXPECT_EQ(ImagePaste(0, grey, 0, 0, colour, 0, 0, 0, 0), -1);
    EXPECT_EQ(ImagePaste(0, colour, 0, 0, grey, 0, 0, 0, 0), -1);
    EXPECT_EQ(StoreBytes(grey), greyBefore);
    EXPECT_EQ(StoreBytes(colour), colourBefore);
    ImageFree(grey);
    ImageFree(colour);
}

TEST_P(RegionTest, FillStoresBlueGreenRedAndMovesItsOriginIntoTheImage) {
    Image* image = Make(10, 6, 3);
    EXPECT_EQ(ImageFillRect(0, image, -5, 1, 4, 2, kRed), 0);
    const std::vector<uint8_t> red = {0, 0, 255};
    const std::vector<uint8_t> black(3, 0);
    EXPECT_EQ(PixelAt(image, 0, 1), red);
    EXPECT_EQ(PixelAt(image, 3, 2), red);
    EXPECT_EQ(PixelAt(image, 4, 1), black);
    EXPECT_EQ(PixelAt(image, 0, 3), black);
    EXPECT_EQ(PixelAt(image, 0, 0), black);

    EXPECT_EQ(ImageFillRect(IMAGE_FROM_TOP, image, 8, 0, 0, 1, kGreen), 0);
    EXPECT_EQ(PixelAt(image, 8, 5), (std::vector<uint8_t>{0, 200, 0}));
    EXPECT_EQ(PixelAt(image, 9, 5), (std::vector<uint8_t>{0, 200, 0}));
    EXPECT_EQ(PixelAt(image, 7, 5), black);
    EXPECT_EQ(PixelAt(image, 8, 4), black);
    ImageFree(image);
}

TEST_P(RegionTest, FillOutsideKeepsTheRectangle) {
    Image* image = Make(7, 5, 1);
    FillPattern(image);
    EXPECT_EQ(ImageFillRect(IMAGE_FILL_OUTSIDE | IMAGE_FROM_TOP, image, 2, 1, 3, 2, kGreen), 0);
    for (int y = 0; y < 5; ++y) {
        const int fromTop = 4 - y;
        for (int x = 0; x < 7; ++x) {
            const bool inside = x >= 2 && x < 5 && fromTop >= 1 && fromTop < 3;
            const std::vector<uint8_t> expected =
                inside ? PatternPixel(image, x, y) : std::vector<uint8_t>{0};
            EXPECT_EQ(PixelAt(image, x, y), expected) << x << "," << y;
        }
    }
    // The filler byte at the end of each row is left alone.
    EXPECT_EQ(StoreBytes(image)[7], 0);
    ImageFree(image);
}

TEST_P(RegionTest, FillWithoutItsRowBufferChangesNothing) {
    Image* image = Make(5, 5, 3);
    FillPattern(image);
    const std::vector<uint8_t> before = StoreBytes(image);
    for (uint32_t options : {0u, IMAGE_FILL_OUTSIDE}) {
        MemFailAt(1);
        EXPECT_EQ(ImageFillRect(options, image, 1, 1, 2, 2, kRed), -2);
        MemFailAt(0);
    }
    EXPECT_EQ(StoreBytes(image), before);
    ImageFree(image);
}

INSTANTIATE_TEST_SUITE_P(Backing, RegionTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "FileBacked" : "InMemory"; });

TEST(RegionStagingTest, PasteBetweenSpillFilesReportsAMissingStagingBuffer) {
    ScratchDir scratch;
    // A run longer than the copy's own 8 KiB stage needs a heap block.
    Image* destination = ImageCreate(IMAGE_FILE_BACKED, 3000, 2, 3, 0, 0, "d.spill");
    Image* source = ImageCreate(IMAGE_FILE_BACKED, 3000, 2, 3, 0, 0, "s.spill");
    ASSERT_NE(destination, nullptr);
    ASSERT_NE(source, nullptr);
    FillPattern(source);
    MemFailAt(1);
    EXPECT_EQ(ImagePaste(0, destination, 0, 0, source, 0, 0, 0, 0), -2);
    MemFailAt(0);
    EXPECT_EQ(PixelAt(destination, 0, 0), std::vector<uint8_t>(3, 0));
    EXPECT_EQ(PixelAt(destination, 2999, 1), PatternPixel(source, 2999, 1));
    EXPECT_EQ(ImagePaste(0, destination, 0, 0, source, 0, 0, 0, 0), 0);
    EXPECT_EQ(StoreBytes(destination), StoreBytes(source));
    ImageFree(source);
    ImageFree(destination);
}

}  // namespace
