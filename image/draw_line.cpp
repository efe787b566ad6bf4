// Thick lines: straight ones as a band of rows or columns, slanted ones as
// the rectangle centred on the segment.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "image/image.h"

namespace {

constexpr uint32_t kDrawInvert = 0x1;
// Slack for points on the border of a slanted line's rectangle.
constexpr double kBorderSlack = 1e-9;

// What a line is drawn with and into.
struct Pen {
    uint32_t flags;
    Image* image;
    const uint8_t* colour;  // red, green, blue; unused when inverting
    int bytesPerPixel;
};

int SetPixel(const Pen& pen, int x, int y) {
    const int offset = ImagePixelOffset(pen.flags, pen.image, x, y);
    uint8_t bytes[3];
    if ((pen.flags & kDrawInvert) != 0) {
        if (ImageReadBytes(pen.image, offset, 1, pen.bytesPerPixel, bytes) != 0) {
            return -6;
        }
        for (int i = 0; i < pen.bytesPerPixel; ++i) {
            bytes[i] = static_cast<uint8_t>(~bytes[i]);
        }
    } else {
        for (int i = 0; i < pen.bytesPerPixel; ++i) {
            bytes[i] = pen.colour[pen.bytesPerPixel - 1 - i];
        }
    }
    return ImageWriteBytes(pen.image, offset, 1, pen.bytesPerPixel, bytes) == 0 ? 0 : -6;
}

// Cuts a box of columns left..right and rows bottom..top to the Image (the
// bounds may lie anywhere, hence 64 bits).
void CutToImage(const Image* image, int64_t& left, int64_t& right, int64_t& bottom, int64_t& top) {
    left = std::max<int64_t>(left, 0);
    bottom = std::max<int64_t>(bottom, 0);
    right = std::min<int64_t>(right, image->info.width - 1);
    top = std::min<int64_t>(top, image->info.height - 1);
}

// Sets every pixel of the box that lies in the Image.
int FillBox(const Pen& pen, int64_t left, int64_t right, int64_t bottom, int64_t top) {
    CutToImage(pen.image, left, right, bottom, top);
    for (auto y = static_cast<int>(bottom); y <= top; ++y) {
        for (auto x = static_cast<int>(left); x <= right; ++x) {
            if (SetPixel(pen, x, y) != 0) {
                return -6;
            }
        }
    }
    return 0;
}

// A horizontal or vertical line: `thickness` rows (or columns) centred on it,
// one more below the centre than above for an even thickness.
int DrawStraight(const Pen& pen, int x1, int y1, int x2, int y2, int thickness) {
    const int64_t before = thickness / 2;
    const int64_t after = (thickness - 1) / 2;  // 0 for thickness 0: one pixel
    if (y1 == y2) {
        return FillBox(pen, std::min(x1, x2), std::max(x1, x2), y1 - before, y1 + after);
    }
    return FillBox(pen, x1 - before, x1 + after, std::min(y1, y2), std::max(y1, y2));
}

int64_t RoundedCoordinate(double v) {
    // Far beyond any Image either way, so clamping cannot overflow.
    return static_cast<int64_t>(std::trunc(std::clamp(v, -4e18, 4e18) + 0.5));
}

// Sets every pixel whose integer coordinates lie in the rectangle of half
// width `half` around the segment, ending square at the end points.
int DrawSlanted(const Pen& pen, int x1, int y1, int x2, int y2, double half) {
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    double theta = std::atan(dy / dx);
    if ((theta <= 0 && y2 > y1) || (theta > 0 && y2 < y1)) {
        theta += std::numbers::pi;
    }
    const double alongX = std::cos(theta);
    const double alongY = std::sin(theta);
    const double acrossX = std::cos(theta + std::numbers::pi / 2);
    const double acrossY = std::sin(theta + std::numbers::pi / 2);
    const double length = std::hypot(dx, dy);

    const double cornersX[4] = {x1 + half * acrossX, x1 - half * acrossX, x2 + half * acrossX,
                                x2 - half * acrossX};
    const double cornersY[4] = {y1 + half * acrossY, y1 - half * acrossY, y2 + half * acrossY,
                                y2 - half * acrossY};
    int64_t left = INT64_MAX, right = INT64_MIN, bottom = INT64_MAX, top = INT64_MIN;
    for (int c = 0; c < 4; ++c) {
        left = std::min(left, RoundedCoordinate(cornersX[c]));
        right = std::max(right, RoundedCoordinate(cornersX[c]));
        bottom = std::min(bottom, RoundedCoordinate(cornersY[c]));
        top = std::max(top, RoundedCoordinate(cornersY[c]));
    }
    CutToImage(pen.image, left, right, bottom, top);
    for (auto y = static_cast<int>(bottom); y <= top; ++y) {
        for (auto x = static_cast<int>(left); x <= right; ++x) {
            const double along = (x - x1) * alongX + (y - y1) * alongY;
            const double across = (x - x1) * acrossX + (y - y1) * acrossY;
            if (along >= -kBorderSlack && along <= length + kBorderSlack &&
                std::fabs(across) <= half + kBorderSlack && SetPixel(pen, x, y) != 0) {
                return -6;
            }
        }
    }
    return 0;
}

}  // namespace

int ImageDrawLine(uint32_t flags, Image* image, int x1, int y1, int x2, int y2, int thickness,
                  const uint8_t* colour) {
    if ((flags & kDrawInvert) == 0 && colour == nullptr) {
        return -1;
    }
    if (thickness < 0) {
        return 0;
    }
    const int width = image->info.width;
    const int height = image->info.height;
    x1 = std::clamp(x1, 0, width - 1);
    x2 = std::clamp(x2, 0, width - 1);
    y1 = std::clamp(y1, 0, height - 1);
    y2 = std::clamp(y2, 0, height - 1);
    const Pen pen{flags, image, colour, image->info.bitCount / 8};
    if (x1 == x2 || y1 == y2) {
        return DrawStraight(pen, x1, y1, x2, y2, thickness);
    }
    // Thickness 0 is drawn one pixel wide, as straight lines are.
    return DrawSlanted(pen, x1, y1, x2, y2, std::max(thickness, 1) / 2.0);
}
