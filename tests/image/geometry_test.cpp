#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <utility>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSmooth = 0x1;

int Grey(const Image* image, int x, int y) {
    return PixelAt(image, x, y)[0];
}

// Every case on in-memory and on file-backed Images, sources and results.
class GeometryTest : public ::testing::TestWithParam<bool> {
protected:
    uint32_t Backing() const { return GetParam() ? IMAGE_FILE_BACKED : 0; }
    Image* Make(int width, int height, int channels, const char* spill = "source.spill") {
        Image* image = ImageCreate(Backing(), width, height, channels, 3780, 2000, spill);
        EXPECT_NE(image, nullptr);
        return image;
    }
    // A 1-channel Image whose pixel (x, y) is 10 x + y... for small sides.
    Image* Numbered(int width, int height) {
        Image* image = Make(width, height, 1);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                PutPixel(image, x, y, {static_cast<uint8_t>(10 * x + y)});
            }
        }
        return image;
    }
    ScratchDir scratch;
};

TEST_P(GeometryTest, DuplicateCopiesEveryStoredByte) {
    Image* source = Make(5, 3, 3);
    FillPattern(source);
    Image* copy = ImageDuplicate(Backing() | IMAGE_CONSUME_SOURCE, source, "copy.spill");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(StoreBytes(copy), StoreBytes(source));  // row padding included
    EXPECT_EQ(copy->info.xPelsPerMetre, 3780);
    EXPECT_EQ(copy->info.yPelsPerMetre, 2000);
    EXPECT_EQ(copy->spillFile != nullptr, GetParam());
    ImageFree(copy);
    ImageFree(source);  // the source is never consumed by a duplicate
}

TEST_P(GeometryTest, ScaleFourByFourDownAndUp) {
    Image* source = Numbered(4, 4);
    Image* nearest = ImageScale(Backing(), source, "a.spill", 50, 50);
    ASSERT_NE(nearest, nullptr);
    ASSERT_EQ(nearest->info.width, 2);
    ASSERT_EQ(nearest->info.height, 2);
    EXPECT_EQ(nearest->info.xPelsPerMetre, 1890);
    EXPECT_EQ(nearest->info.yPelsPerMetre, 1000);
    EXPECT_EQ(nearest->info.coloursUsed, 256u);
    // Source rows and columns 0 and 2.
    EXPECT_EQ(Grey(nearest, 0, 0), 0);
    EXPECT_EQ(Grey(nearest, 1, 0), 20);
    EXPECT_EQ(Grey(nearest, 0, 1), 2);
    EXPECT_EQ(Grey(nearest, 1, 1), 22);

    // Smooth: target row 0 is source row 0, row 1 the mean of rows 1 and 2;
    // columns alike; source row and column 3 are not used.
    Image* smooth = ImageScale(Backing() | kSmooth, source, "b.spill", 50, 50);
    ASSERT_NE(smooth, nullptr);
    EXPECT_EQ(Grey(smooth, 0, 0), 0);
    EXPECT_EQ(Grey(smooth, 1, 0), 15);  // (10 + 20) / 2
    EXPECT_EQ(Grey(smooth, 0, 1), 2);   // (1 + 2) / 2 = 1.5, rounded
    EXPECT_EQ(Grey(smooth, 1, 1), 17);  // (11 + 12 + 21 + 22) / 4 = 16.5, rounded

    // Up in nearest mode: column j takes rounded(j × 4 / 7), at most 3;
    // row i takes rounded(i × 4 / 6).
    Image* up = ImageScale(Backing(), source, "c.spill", 175, 150);
    ASSERT_NE(up, nullptr);
    const int columns[7] = {0, 1, 1, 2, 2, 3, 3};
    const int rows[6] = {0, 1, 1, 2, 3, 3};
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 7; ++j) {
            EXPECT_EQ(Grey(up, j, i), 10 * columns[j] + rows[i]) << j << "," << i;
        }
    }
    ImageFree(nearest);
    ImageFree(smooth);
    ImageFree(up);
    ImageFree(source);
}

TEST_P(GeometryTest, SmoothScaleUpInterpolatesGapsAndLeavesTheEndWhite) {
    Image* row = Make(2, 1, 3);
    PutPixel(row, 0, 0, {10, 200, 0});
    PutPixel(row, 1, 0, {100, 50, 255});
    Image* wide = ImageScale(Backing() | kSmooth, row, "wide.spill", 250, 100);
    ASSERT_NE(wide, nullptr);
    ASSERT_EQ(wide->info.width, 5);
    EXPECT_EQ(PixelAt(wide, 0, 0), (Bytes{10, 200, 0}));
    EXPECT_EQ(PixelAt(wide, 1, 0), (Bytes{40, 150, 85}));   // a third of the way
    EXPECT_EQ(PixelAt(wide, 2, 0), (Bytes{70, 100, 170}));  // two thirds
    EXPECT_EQ(PixelAt(wide, 3, 0), (Bytes{100, 50, 255}));
    EXPECT_EQ(PixelAt(wide, 4, 0), (Bytes{255, 255, 255}));

    // The same across rows, whole rows at a time.
    Image* column = Make(1, 2, 1);
    PutPixel(column, 0, 0, {90});
    PutPixel(column, 0, 1, {0});
    Image* tall = ImageScale(Backing() | kSmooth, column, "tall.spill", 300, 250);
    ASSERT_NE(tall, nullptr);
    ASSERT_EQ(tall->info.width, 3);
    ASSERT_EQ(tall->info.height, 5);
    const int expected[5][3] = {
        {90, 255, 255}, {60, 255, 255}, {30, 255, 255}, {0, 255, 255}, {255, 255, 255}};
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(Grey(tall, x, y), expected[y][x]) << x << "," << y;
        }
    }
    ImageFree(wide);
    ImageFree(tall);
    ImageFree(row);
    ImageFree(column);
}

TEST_P(GeometryTest, ScaleRefusesEmptyAndOversizedResults) {
    Image* source = Make(4, 4, 3);
    EXPECT_EQ(ImageScale(Backing(), source, "x.spill", 20, 100), nullptr);  // width 0
    EXPECT_EQ(ImageScale(Backing() | kSmooth, source, "x.spill", 100, -50), nullptr);
    EXPECT_EQ(ImageScale(Backing(), source, "x.spill", INT_MIN, INT_MIN), nullptr);
    // 4,000,000 pixels square is far beyond 32 bits.
    EXPECT_EQ(ImageScale(Backing(), source, "x.spill", 100000000, 100000000), nullptr);
    // A width of 30,000 × INT_MAX / 100 does not even fit an int.
    Image* wide = Make(30000, 1, 1, "wide.spill");
    EXPECT_EQ(ImageScale(Backing() | kSmooth, wide, "x.spill", INT_MAX, 1), nullptr);
    EXPECT_EQ(ImageScale(Backing(), wide, "x.spill", INT_MAX, 100), nullptr);
    ImageFree(source);
    ImageFree(wide);
}

TEST_P(GeometryTest, RotateMovesEveryPixelOfANonSquareImage) {
    Image* source = Numbered(3, 2);  // rows from the bottom: 0 10 20, 1 11 21
    EXPECT_EQ(ImageRotate(Backing(), source, "r.spill", 45), nullptr);
    // 90 is counter-clockwise, (x, y) to (H - 1 - y, x); 270 clockwise,
    // (x, y) to (y, W - 1 - x). Rows from the bottom again:
    const std::pair<int, Bytes> turns[] = {{0, {0, 10, 20, 1, 11, 21}},
                                           {90, {1, 0, 11, 10, 21, 20}},
                                           {180, {21, 11, 1, 20, 10, 0}},
                                           {270, {20, 21, 10, 11, 0, 1}}};
    for (const auto& [angle, pixels] : turns) {
        Image* turned = ImageRotate(Backing(), source, "r.spill", angle);
        ASSERT_NE(turned, nullptr) << angle;
        const bool quarter = angle % 180 != 0;
        EXPECT_EQ(turned->info.width, quarter ? 2 : 3);
        EXPECT_EQ(turned->info.xPelsPerMetre, quarter ? 2000 : 3780);
        EXPECT_EQ(PixelBytes(turned), pixels) << angle;
        ImageFree(turned);
    }
    ImageFree(source);
}

TEST_P(GeometryTest, QuarterTurnsOfALargeImageUndoEachOther) {
    // 3.6 MB of pixels: read in several bands.
    Image* pattern = ImageCreate(0, 600, 2000, 3, 0, 0, nullptr);
    FillPattern(pattern);
    Image* source = ImageDuplicate(Backing(), pattern, "source.spill");
    Image* left = ImageRotate(Backing(), source, "l.spill", 90);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(PixelAt(left, 1999, 0), PatternPixel(source, 0, 0));
    EXPECT_EQ(PixelAt(left, 0, 599), PatternPixel(source, 599, 1999));
    Image* back = ImageRotate(Backing() | IMAGE_CONSUME_SOURCE, left, "b.spill", 270);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(StoreBytes(back), StoreBytes(pattern));
    ImageFree(back);
    ImageFree(source);
    ImageFree(pattern);
}

TEST_P(GeometryTest, MirrorTurnsUpsideDownOrLeftToRight) {
    Image* source = Make(3, 2, 3);
    FillPattern(source);
    EXPECT_EQ(ImageMirror(Backing(), source, "m.spill", 2), nullptr);
    Image* flipped = ImageMirror(Backing(), source, "m.spill", 0);
    Image* mirrored = ImageMirror(Backing(), source, "n.spill", 1);
    ASSERT_NE(flipped, nullptr);
    ASSERT_NE(mirrored, nullptr);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(PixelAt(flipped, x, 1 - y), PatternPixel(source, x, y));
            EXPECT_EQ(PixelAt(mirrored, 2 - x, y), PatternPixel(source, x, y));
        }
    }
    ImageFree(flipped);
    ImageFree(mirrored);
    ImageFree(source);
}

TEST_P(GeometryTest, ToGreyMeanAndWeighted) {
    Image* source = Make(2, 1, 3);
    PutPixel(source, 0, 0, {10, 20, 30});
    PutPixel(source, 1, 0, {255, 255, 255});
    Image* mean = ImageToGrey(Backing() | 0, source, "g0.spill");
    Image* weighted = ImageToGrey(Backing() | 1, source, "g1.spill");
    ASSERT_NE(mean, nullptr);
    ASSERT_NE(weighted, nullptr);
    EXPECT_EQ(mean->info.bitCount, 8);
    EXPECT_EQ(mean->info.coloursUsed, 256u);
    EXPECT_EQ(Grey(mean, 0, 0), 20);
    EXPECT_EQ(Grey(weighted, 0, 0), 22);  // 1.1 + 11.8 + 9 = 21.9
    EXPECT_EQ(Grey(weighted, 1, 0), 255);
    EXPECT_EQ(ImageToGrey(Backing() | 2, source, "g2.spill"), nullptr);
    EXPECT_EQ(ImageToGrey(Backing(), mean, "g3.spill"), nullptr);  // already grey
    ImageFree(mean);
    ImageFree(weighted);
    ImageFree(source);
}

TEST_P(GeometryTest, ConsumesTheSourceOnlyOnSuccess) {
    Image* source = Make(4, 3, 3);
    FillPattern(source);
    const Bytes pixels = PixelBytes(source);
    EXPECT_EQ(ImageRotate(Backing() | IMAGE_CONSUME_SOURCE, source, "t.spill", 45), nullptr);
    EXPECT_EQ(ImageToGrey(Backing() | IMAGE_CONSUME_SOURCE | 3, source, "t.spill"), nullptr);
    EXPECT_EQ(PixelBytes(source), pixels);
    Image* turned = ImageRotate(Backing() | IMAGE_CONSUME_SOURCE, source, "t.spill", 180);
    ASSERT_NE(turned, nullptr);
    if (GetParam()) {
        EXPECT_NE(access("source.spill", F_OK), 0) << "source not released";
    }
    ImageFree(turned);
}

TEST(GeometrySpillTest, ANewImageMayNotTakeOverItsSourcesSpillFile) {
    ScratchDir scratch;
    Image* source = ImageCreate(IMAGE_FILE_BACKED, 4, 4, 3, 0, 0, "same.spill");
    FillPattern(source);
    const Bytes pixels = PixelBytes(source);
    const uint32_t flags = IMAGE_FILE_BACKED | IMAGE_CONSUME_SOURCE;
    EXPECT_EQ(ImageDuplicate(flags, source, "same.spill"), nullptr);
    EXPECT_EQ(ImageScale(flags, source, "same.spill", 50, 50), nullptr);
    EXPECT_EQ(ImageToGrey(flags, source, "same.spill"), nullptr);
    EXPECT_EQ(ImageRotate(flags, source, "same.spill", 90), nullptr);
    EXPECT_EQ(ImageMirror(flags, source, "same.spill", 1), nullptr);
    EXPECT_EQ(PixelBytes(source), pixels);
    ImageFree(source);
}

// Each maker with the N-th allocation failing, for every N that it makes:
// either the right Image, or none with the source intact and no spill file
// left behind. (The sanitizer build checks that nothing leaks.)
TEST_P(GeometryTest, AllocationFailuresGiveNoneAndLeaveNothingBehind) {
    Image* source = Make(7, 5, 3);
    FillPattern(source);
    const Bytes pixels = PixelBytes(source);
    auto run = [&](int op) -> Image* {
        switch (op) {
            case 0:
                return ImageDuplicate(Backing(), source, "t.spill");
            case 1:
                return ImageScale(Backing(), source, "t.spill", 150, 70);
            case 2:
                return ImageScale(Backing() | kSmooth, source, "t.spill", 250, 50);
            case 3:
                return ImageToGrey(Backing() | 1, source, "t.spill");
            case 4:
                return ImageRotate(Backing(), source, "t.spill", 90);
            case 5:
                return ImageRotate(Backing(), source, "t.spill", 180);
            default:
                return ImageMirror(Backing(), source, "t.spill", 1);
        }
    };
    for (int op = 0; op < 7; ++op) {
        Image* reference = run(op);
        ASSERT_NE(reference, nullptr);
        const Bytes expected = StoreBytes(reference);
        ImageFree(reference);
        for (int n = 1;; ++n) {
            MemFailAt(n);
            const long before = MemAllocCalls();
            Image* result = run(op);
            const bool failureHit = MemAllocCalls() - before >= n;
            MemFailAt(0);
            if (result != nullptr) {
                EXPECT_EQ(StoreBytes(result), expected) << op << " " << n;
                ImageFree(result);
            } else {
                EXPECT_TRUE(failureHit) << op << " " << n;
                EXPECT_NE(access("t.spill", F_OK), 0) << op << " " << n;
            }
            if (!failureHit) {
                break;
            }
        }
        EXPECT_EQ(PixelBytes(source), pixels);
    }
    ImageFree(source);
}

INSTANTIATE_TEST_SUITE_P(Store, GeometryTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "File" : "Memory"; });

}  // namespace
