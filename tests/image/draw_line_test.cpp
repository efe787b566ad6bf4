#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <utility>
#include <vector>

#include "image/image.h"
#include "tests/image/image_test_util.h"

namespace {

using Point = std::pair<int, int>;

constexpr uint32_t kInvert = 0x1;
const uint8_t kBlack[3] = {0, 0, 0};

// The pixels of a white Image that are no longer white, as (x, y) with y
// counted from stored row 0.
std::set<Point> Drawn(const Image* image) {
    std::set<Point> drawn;
    for (int y = 0; y < image->info.height; ++y) {
        for (int x = 0; x < image->info.width; ++x) {
            for (uint8_t byte : PixelAt(image, x, y)) {
                if (byte != 0xFF) {
                    drawn.insert({x, y});
                }
            }
        }
    }
    return drawn;
}

std::set<Point> Line(int x1, int y1, int x2, int y2, int thickness, uint32_t flags = 0,
                     int width = 12, int height = 10) {
    Image* image = ImageCreate(IMAGE_FILL_WHITE, width, height, 3, 0, 0, nullptr);
    EXPECT_EQ(ImageDrawLine(flags, image, x1, y1, x2, y2, thickness, kBlack), 0);
    std::set<Point> drawn = Drawn(image);
    ImageFree(image);
    return drawn;
}

TEST(DrawLineTest, StraightLinesAreBandsOfTheirThickness) {
    // A point of thickness 3 is three pixels one above the other.
    EXPECT_EQ(Line(4, 5, 4, 5, 3), (std::set<Point>{{4, 4}, {4, 5}, {4, 6}}));
    // An even thickness has its extra row below (and its extra column left).
    EXPECT_EQ(Line(2, 5, 4, 5, 2),
              (std::set<Point>{{2, 4}, {3, 4}, {4, 4}, {2, 5}, {3, 5}, {4, 5}}));
    EXPECT_EQ(Line(6, 3, 6, 1, 2),
              (std::set<Point>{{5, 1}, {6, 1}, {5, 2}, {6, 2}, {5, 3}, {6, 3}}));
    // Thickness 0 draws one pixel wide, as 1 does; a negative one nothing.
    EXPECT_EQ(Line(1, 1, 3, 1, 0), (std::set<Point>{{1, 1}, {2, 1}, {3, 1}}));
    EXPECT_EQ(Line(1, 1, 3, 1, 0), Line(3, 1, 1, 1, 1));
    EXPECT_TRUE(Line(1, 1, 3, 1, -2).empty());
    // Rows outside the Image are skipped.
    EXPECT_EQ(Line(0, 0, 1, 0, 3), (std::set<Point>{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
}

TEST(DrawLineTest, FromTopCountsYDownwards) {
    // Row 0 from the top is stored row 9; the extra row of an even
    // thickness is the one with the smaller y, now nearer the top.
    EXPECT_EQ(Line(0, 0, 1, 0, 1, IMAGE_FROM_TOP), (std::set<Point>{{0, 9}, {1, 9}}));
    EXPECT_EQ(Line(0, 5, 0, 5, 2, IMAGE_FROM_TOP), (std::set<Point>{{0, 4}, {0, 5}}));
    EXPECT_EQ(Line(0, 5, 0, 5, 2), (std::set<Point>{{0, 4}, {0, 5}}));
    EXPECT_EQ(Line(0, 2, 0, 2, 2, IMAGE_FROM_TOP), (std::set<Point>{{0, 7}, {0, 8}}));
}

TEST(DrawLineTest, SlantedLinesCoverTheRectangleAroundTheSegment) {
    // One pixel wide, a diagonal is the pixels on it.
    std::set<Point> diagonal;
    for (int k = 1; k <= 6; ++k) {
        diagonal.insert({k, k});
    }
    EXPECT_EQ(Line(1, 1, 6, 6, 1), diagonal);
    EXPECT_EQ(Line(6, 6, 1, 1, 0), diagonal);

    // Half width 1 around (2,2)-(6,6): |x - y| <= 1 (distance up to 0.71)
    // and 4 <= x + y <= 12 (square ends through the end points).
    std::set<Point> band;
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            if (std::abs(x - y) <= 1 && x + y >= 4 && x + y <= 12) {
                band.insert({x, y});
            }
        }
    }
    EXPECT_EQ(Line(2, 2, 6, 6, 2), band);
    EXPECT_EQ(Line(6, 6, 2, 2, 2), band);

    // A shallow one-pixel line has one pixel in each column, with no breaks.
    const std::set<Point> shallow = Line(0, 1, 11, 4, 1);
    EXPECT_EQ(shallow.size(), 12u);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(std::count_if(shallow.begin(), shallow.end(),
                                [x](const Point& p) { return p.first == x; }),
                  1);
    }
    EXPECT_EQ(Line(0, 1, 11, 4, 1), Line(11, 4, 0, 1, 1));
}

TEST(DrawLineTest, EndPointsAndThicknessAreKeptInsideTheImage) {
    // End points far outside are clamped onto the edges.
    EXPECT_EQ(Line(INT_MIN, 3, INT_MAX, 3, 1).size(), 12u);
    EXPECT_EQ(Line(INT_MIN, INT_MIN, INT_MAX, INT_MAX, 1), Line(0, 0, 11, 9, 1));
    // Any thickness covers at most the whole Image.
    EXPECT_EQ(Line(5, 5, 5, 5, INT_MAX).size(), 10u);
    EXPECT_EQ(Line(0, 5, 11, 5, INT_MAX).size(), 120u);
    EXPECT_EQ(Line(3, 0, 3, 9, INT_MAX).size(), 120u);
    EXPECT_EQ(Line(0, 0, 11, 9, INT_MAX).size(), 120u);
}

TEST(DrawLineTest, InvertingComplementsEachCoveredPixelOnce) {
    Image* image = ImageCreate(0, 12, 10, 3, 0, 0, nullptr);
    FillPattern(image);
    ASSERT_EQ(ImageDrawLine(kInvert, image, 1, 2, 9, 7, 4, nullptr), 0);
    const std::set<Point> covered = Line(1, 2, 9, 7, 4);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            std::vector<uint8_t> expected = PatternPixel(image, x, y);
            if (covered.count({x, y}) != 0) {
                for (uint8_t& byte : expected) {
                    byte = static_cast<uint8_t>(~byte);
                }
            }
            EXPECT_EQ(PixelAt(image, x, y), expected) << x << "," << y;
        }
    }
    ASSERT_EQ(ImageDrawLine(kInvert, image, 1, 2, 9, 7, 4, nullptr), 0);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(PixelAt(image, x, 4), PatternPixel(image, x, 4));
    }
    ImageFree(image);
}

TEST(DrawLineTest, ColourBytesInStoreOrder) {
    const uint8_t orange[3] = {255, 128, 0};
    Image* colour = ImageCreate(0, 3, 3, 3, 0, 0, nullptr);
    ASSERT_EQ(ImageDrawLine(0, colour, 1, 1, 1, 1, 1, orange), 0);
    EXPECT_EQ(PixelAt(colour, 1, 1), (std::vector<uint8_t>{0, 128, 255}));
    EXPECT_EQ(ImageDrawLine(0, colour, 0, 0, 2, 2, 1, nullptr), -1);
    ImageFree(colour);

    const uint8_t level[1] = {77};
    Image* grey = ImageCreate(0, 3, 3, 1, 0, 0, nullptr);
    ASSERT_EQ(ImageDrawLine(0, grey, 0, 2, 2, 2, 1, level), 0);
    EXPECT_EQ(PixelAt(grey, 2, 2), (std::vector<uint8_t>{77}));
    ImageFree(grey);
}

}  // namespace
