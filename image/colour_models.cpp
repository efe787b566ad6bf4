// In-place colour model conversions of a rectangle of a 3-channel Image:
// RGB and HSV, the BT.709 transfer curve, and BT.601 YCbCr.
#include <algorithm>
#include <cmath>

#include "diag/memory.h"
#include "image/image.h"

namespace {

// Row segments up to this size are converted without allocating.
constexpr int kLocalLineBytes = 1024;

// x + 0.5 truncated toward zero.
int Rounded(double x) {
    return static_cast<int>(x + 0.5);
}

uint8_t Clamped(double x) {
    return static_cast<uint8_t>(std::clamp(x, 0.0, 255.0));
}

void RgbToHsv(uint8_t* pixel) {
    const int blue = pixel[0];
    const int green = pixel[1];
    const int red = pixel[2];
    int max = red;
    int difference = green - blue;
    int base = 0;
    if (blue >= green && blue >= red) {
        max = blue;
        difference = red - green;
        base = 160;
    } else if (green >= blue && green >= red) {
        max = green;
        difference = blue - red;
        base = 80;
    }
    const int min = std::min({blue, green, red});
    if (min == max) {
        pixel[0] = 0;
        pixel[1] = 0;
        pixel[2] = static_cast<uint8_t>(max);
        return;
    }
    const double spread = max - min;
    // The offset from the base may be negative: round it to the nearest step
    // (truncating x + 0.5 would make yellow's -40 into -39, hue 41).
    int hue = static_cast<int>(std::floor(40.0 * difference / spread + 0.5)) + base;
    if (hue < 0) {
        hue += 240;
    }
    const int saturation = std::min(Rounded(spread / max * 255.0), 255);
    pixel[0] = static_cast<uint8_t>(hue % 240);
    pixel[1] = static_cast<uint8_t>(saturation);
    pixel[2] = static_cast<uint8_t>(max);
}

void HsvToRgb(uint8_t* pixel) {
    const int hue = pixel[0];
    const int saturation = pixel[1];
    const uint8_t value = pixel[2];
    if (saturation == 0) {
        pixel[0] = pixel[1] = value;
        return;
    }
    const double sixth = hue / 40.0;
    const double fraction = sixth - static_cast<int>(sixth);
    const double s = saturation / 255.0;
    const double v = value / 255.0;
    const auto p = static_cast<uint8_t>(std::min(Rounded((1.0 - s) * v * 255.0), 255));
    const auto q = static_cast<uint8_t>(std::min(Rounded((1.0 - fraction * s) * v * 255.0), 255));
    const auto t =
        static_cast<uint8_t>(std::min(Rounded((1.0 - (1.0 - fraction) * s) * v * 255.0), 255));
    uint8_t red = value;
    uint8_t green = p;
    uint8_t blue = q;  // hue 200 and above, 240..255 included
    if (hue < 40) {
        green = t;
        blue = p;
    } else if (hue < 80) {
        red = q;
        green = value;
        blue = p;
    } else if (hue < 120) {
        red = p;
        green = value;
        blue = t;
    } else if (hue < 160) {
        red = p;
        green = q;
        blue = value;
    } else if (hue < 200) {
        red = t;
        green = p;
        blue = value;
    }
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
}

uint8_t GammaEncodeByte(uint8_t byte) {
    const double x = byte / 255.0;
    const double y = x < 0.018 ? 4.5 * x : 1.099 * std::pow(x, 0.45) - 0.099;
    return Clamped(Rounded(y * 255.0));
}

uint8_t GammaDecodeByte(uint8_t byte) {
    const double x = byte / 255.0;
    const double y = x < 0.0812 ? x / 4.5 : std::pow((x + 0.099) / 1.099, 2.2222222222222223);
    return Clamped(Rounded(y * 255.0));
}

void GammaEncode(uint8_t* pixel) {
    for (int k = 0; k < 3; ++k) {
        pixel[k] = GammaEncodeByte(pixel[k]);
    }
}

void GammaDecode(uint8_t* pixel) {
    for (int k = 0; k < 3; ++k) {
        pixel[k] = GammaDecodeByte(pixel[k]);
    }
}

// Truncated toward zero, then limited to a byte.
uint8_t TruncatedByte(double x) {
    return Clamped(std::trunc(x));
}

void RgbToYCbCr(uint8_t* pixel) {
    const double blue = pixel[0];
    const double green = pixel[1];
    const double red = pixel[2];
    const double luma = 0.257 * red + 0.504 * green + 0.098 * blue + 16.0;
    const double cb = -0.148 * red - 0.291 * green + 0.439 * blue + 128.0;
    const double cr = 0.439 * red - 0.368 * green - 0.071 * blue + 128.0;
    pixel[0] = TruncatedByte(luma);
    pixel[1] = TruncatedByte(cb);
    pixel[2] = TruncatedByte(cr);
}

void YCbCrToRgb(uint8_t* pixel) {
    const double luma = 1.164 * (pixel[0] - 16.0);
    const double cb = pixel[1] - 128.0;
    const double cr = pixel[2] - 128.0;
    const double red = luma + 1.596 * cr;
    const double green = luma - 0.813 * cr - 0.392 * cb;
    const double blue = luma + 2.017 * cb;
    pixel[0] = TruncatedByte(blue);
    pixel[1] = TruncatedByte(green);
    pixel[2] = TruncatedByte(red);
}

// Clips the rectangle and runs Convert over each pixel of each of its rows.
template <void (*Convert)(uint8_t*)>
int ConvertRect(Image* image, int x, int y, int width, int height) {
    if (ImageClipRect(image, &x, &y, &width, &height) != 3) {
        return -1;
    }
    const int lineBytes = 3 * width;  // width <= image width, whose row stride fits an int
    uint8_t local[kLocalLineBytes];
    uint8_t* line = local;
    if (lineBytes > kLocalLineBytes) {
        line = static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(lineBytes)));
        if (line == nullptr) {
            return -2;
        }
    }
    int result = 0;
    for (int row = y; row < y + height; ++row) {
        const int offset = ImagePixelOffset(0, image, x, row);
        if (ImageReadBytes(image, offset, 3, width, line) != 0) {
            result = -6;
            break;
        }
        for (int j = 0; j < width; ++j) {
            Convert(line + 3 * j);
        }
        if (ImageWriteBytes(image, offset, 3, width, line) != 0) {
            result = -6;
            break;
        }
    }
    if (line != local) {
        MemFree(line);
    }
    return result;
}

}  // namespace

void HsvFromRgbPixels(uint8_t* pixels, int count) {
    for (int j = 0; j < count; ++j) {
        RgbToHsv(pixels + 3 * static_cast<std::ptrdiff_t>(j));
    }
}

void RgbFromHsvPixels(uint8_t* pixels, int count) {
    for (int j = 0; j < count; ++j) {
        HsvToRgb(pixels + 3 * static_cast<std::ptrdiff_t>(j));
    }
}

int ImageRgbToHsv(uint32_t /*options*/, Image* image, int x, int y, int width, int height) {
    return ConvertRect<RgbToHsv>(image, x, y, width, height);
}

int ImageHsvToRgb(uint32_t /*options*/, Image* image, int x, int y, int width, int height) {
    return ConvertRect<HsvToRgb>(image, x, y, width, height);
}

int ImageGammaEncode(uint32_t /*options*/, Image* image, int x, int y, int width, int height) {
    return ConvertRect<GammaEncode>(image, x, y, width, height);
}

int ImageGammaDecode(uint32_t /*options*/, Image* image, int x, int y, int width, int height) {
    return ConvertRect<GammaDecode>(image, x, y, width, height);
}

int ImageRgbToYCbCr(uint32_t /*options*/, Image* image, int x, int y, int width, int height) {
    return ConvertRect<RgbToYCbCr>(image, x, y, width, height);
}

int ImageYCbCrToRgb(uint32_t /*options*/, Image* image, int x, int y, int width, int height) {
    return ConvertRect<YCbCrToRgb>(image, x, y, width, height);
}
