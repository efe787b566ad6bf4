// In-place tone operations on a rectangle: tone tables, grey, inversion,
// per-channel levels, brightness, contrast, value and saturation.
//
// Every per-byte rule is first turned into a 256-entry table, so a row costs
// one lookup per byte whatever the formula.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "diag/memory.h"
#include "image/image.h"

namespace {

using ByteTable = uint8_t[256];

int Mode(uint32_t flags) {
    return static_cast<int>(flags & 3);
}

bool IsLevel(int level) {
    return level >= 0 && level <= 100;
}

double Rounded(double x) {
    return std::trunc(x + 0.5);
}

// A result limited to a byte.
uint8_t ToByte(double x) {
    return static_cast<uint8_t>(std::clamp(x, 0.0, 255.0));
}

// Mode 0 of the level rules: a shift by (L - 50) / 50 of full scale.
uint8_t Shifted(int v, int level) {
    return ToByte(v + std::trunc((level - 50) / 50.0 * 255.0));
}

// Mode 1 of the level rules: toward 0 below level 50, toward 255 above.
uint8_t Scaled(int v, int level) {
    const double f = level / 50.0;
    return ToByte(level >= 50 ? v + Rounded((255 - v) * (f - 1.0)) : Rounded(v * f));
}

void FillLevelTable(ByteTable table, int mode, int level) {
    for (int v = 0; v < 256; ++v) {
        table[v] = mode == 0 ? Shifted(v, level) : Scaled(v, level);
    }
}

// Brightness modes 2 (two straight pieces) and 3 (a power curve).
uint8_t ToneCurve(int v, int level, int mode) {
    if (level == 0) {
        return 0;
    }
    if (level == 100) {
        return 255;
    }
    const double l = level;
    if (mode == 2) {
        const double knee = std::trunc(l * 255.0 / 100.0);
        return v < knee ? ToByte(std::trunc(v * l / (100.0 - l)))
                        : ToByte(std::trunc(v * (100.0 - l) / l + (1.0 - (100.0 - l) / l) * 255.0));
    }
    const double g = level < 50 ? 50.0 / l : (100.0 - l) / 50.0;
    return ToByte(Rounded(std::pow(v / 255.0, g) * 255.0));
}

uint8_t ContrastCurve(int v, int level, int mode) {
    if (level == 0) {
        return 128;
    }
    if (level == 100) {
        return v >= 128 ? 255 : 0;
    }
    const double l = level;
    if (mode == 0) {
        const double a = level < 50 ? l / 50.0 : 50.0 / (100.0 - l);
        const double b = (1.0 - a) * 128.0;
        return ToByte(Rounded(v * a + b));
    }
    if (mode == 2) {
        const double a = 100.0 / l - 1.0;
        const double b = (2.0 - 100.0 / l) * 255.0;
        const double k1 = std::trunc(128.0 * l / 100.0);
        const double k2 = 255.0 - k1;
        const double c = std::trunc(l / (100.0 - l));
        const double d = (100.0 - 2.0 * l) / (100.0 - l) * 128.0;
        if (v < k1) {
            return ToByte(Rounded(v * a));
        }
        return ToByte(v < k2 ? Rounded(v * c + d) : Rounded(v * a + b));
    }
    const double g = level < 50 ? l / 50.0 : 50.0 / (100.0 - l);
    const double h = level < 50 ? 50.0 / l : (100.0 - l) / 50.0;
    if (v < 128) {
        return ToByte(Rounded(std::pow(v / 255.0, g) * 255.0));
    }
    return ToByte(std::trunc(std::pow((v - 128) / 255.0, h) * 255.0 + 128.5));
}

// The byte a tone table gives for v.
uint8_t LookUp(const ToneEntry* table, int count, int v) {
    for (int n = 0; table != nullptr && n < count; ++n) {
        if (table[n].limit > v) {
            return table[n].value < 0 ? 255 : static_cast<uint8_t>(table[n].value & 0xFF);
        }
    }
    return 255;
}

void ApplyTables(uint8_t* line, int pixels, int bytesPerPixel, const ByteTable* tables) {
    for (int j = 0; j < pixels; ++j) {
        uint8_t* pixel = line + static_cast<std::ptrdiff_t>(j) * bytesPerPixel;
        for (int k = 0; k < bytesPerPixel && k < 3; ++k) {
            pixel[k] = tables[k][pixel[k]];
        }
    }
}

// Runs saturation and value of each colour pixel through the tables. A pixel
// the tables leave as it is keeps its RGB bytes, free of the HSV round trip's
// rounding.
void ApplyToHsv(uint8_t* line, int pixels, const ByteTable saturation, const ByteTable value) {
    for (int j = 0; j < pixels; ++j) {
        uint8_t* pixel = line + 3 * static_cast<std::ptrdiff_t>(j);
        uint8_t hsv[3] = {pixel[0], pixel[1], pixel[2]};
        HsvFromRgbPixels(hsv, 1);
        if (saturation[hsv[1]] == hsv[1] && value[hsv[2]] == hsv[2]) {
            continue;
        }
        hsv[1] = saturation[hsv[1]];
        hsv[2] = value[hsv[2]];
        RgbFromHsvPixels(hsv, 1);
        std::memcpy(pixel, hsv, 3);
    }
}

// Clips the rectangle, then reads, changes and writes back each of its rows
// (rows from the top with IMAGE_FROM_TOP). change(line, pixels, bytesPerPixel)
// works on one row segment.
template <typename Change>
int ChangeRows(uint32_t flags, Image* image, int x, int y, int width, int height, Change change) {
    const int bytesPerPixel = ImageClipRect(image, &x, &y, &width, &height);
    auto* line = static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(bytesPerPixel) * width));
    if (line == nullptr) {
        return -2;
    }
    int result = 0;
    for (int row = y; row < y + height; ++row) {
        const int offset = ImagePixelOffset(flags, image, x, row);
        if (ImageReadBytes(image, offset, bytesPerPixel, width, line) != 0) {
            result = -6;
            break;
        }
        change(line, width, bytesPerPixel);
        if (ImageWriteBytes(image, offset, bytesPerPixel, width, line) != 0) {
            result = -6;
            break;
        }
    }
    MemFree(line);
    return result;
}

int ApplyTablesToRect(uint32_t flags, Image* image, int x, int y, int width, int height,
                      const ByteTable* tables) {
    return ChangeRows(flags, image, x, y, width, height,
                      [tables](uint8_t* line, int pixels, int bytesPerPixel) {
                          ApplyTables(line, pixels, bytesPerPixel, tables);
                      });
}

int ApplyToHsvRect(uint32_t flags, Image* image, int x, int y, int width, int height,
                   const ByteTable saturation, const ByteTable value) {
    return ChangeRows(flags, image, x, y, width, height,
                      [saturation, value](uint8_t* line, int pixels, int) {
                          ApplyToHsv(line, pixels, saturation, value);
                      });
}

void FillIdentity(ByteTable table) {
    for (int v = 0; v < 256; ++v) {
        table[v] = static_cast<uint8_t>(v);
    }
}

}  // namespace

int ImageMapLevels(uint32_t flags, Image* image, int x, int y, int width, int height, int redCount,
                   int greenCount, int blueCount, const ToneEntry* redTable,
                   const ToneEntry* greenTable, const ToneEntry* blueTable) {
    greenCount = greenCount == 0 ? redCount : greenCount;
    blueCount = blueCount == 0 ? redCount : blueCount;
    greenTable = greenTable == nullptr ? redTable : greenTable;
    blueTable = blueTable == nullptr ? redTable : blueTable;
    ByteTable tables[3];
    for (int v = 0; v < 256; ++v) {
        tables[0][v] = LookUp(blueTable, blueCount, v);
        tables[1][v] = LookUp(greenTable, greenCount, v);
        tables[2][v] = LookUp(redTable, redCount, v);
    }
    return ApplyTablesToRect(flags, image, x, y, width, height, tables);
}

int ImageMakeGrey(uint32_t flags, Image* image, int x, int y, int width, int height) {
    if (image->info.bitCount != 24) {
        return -1;
    }
    const int mode = Mode(flags);
    if (mode > 1) {
        return -3;
    }
    return ChangeRows(flags, image, x, y, width, height, [mode](uint8_t* line, int pixels, int) {
        for (int j = 0; j < pixels; ++j) {
            uint8_t* pixel = line + 3 * static_cast<std::ptrdiff_t>(j);
            std::memset(pixel, GreyLevel(mode, pixel), 3);
        }
    });
}

int ImageInvert(uint32_t flags, Image* image, int x, int y, int width, int height) {
    return ChangeRows(
        flags, image, x, y, width, height, [](uint8_t* line, int pixels, int bytesPerPixel) {
            const std::ptrdiff_t bytes = static_cast<std::ptrdiff_t>(pixels) * bytesPerPixel;
            for (std::ptrdiff_t b = 0; b < bytes; ++b) {
                line[b] = static_cast<uint8_t>(~line[b]);
            }
        });
}

int ImageAdjustChannels(uint32_t flags, Image* image, int x, int y, int width, int height, int red,
                        int green, int blue) {
    const int mode = Mode(flags);
    if (mode > 1) {
        return -3;
    }
    if (!IsLevel(red) || !IsLevel(green) || !IsLevel(blue)) {
        return -4;
    }
    ByteTable tables[3];
    FillLevelTable(tables[0], mode, blue);
    FillLevelTable(tables[1], mode, green);
    FillLevelTable(tables[2], mode, red);
    return ApplyTablesToRect(flags, image, x, y, width, height, tables);
}

int ImageAdjustTone(uint32_t flags, Image* image, int x, int y, int width, int height, int level) {
    if (!IsLevel(level)) {
        return -5;
    }
    const int mode = Mode(flags);
    ByteTable tables[3];
    for (int v = 0; v < 256; ++v) {
        tables[0][v] = mode < 2 ? (mode == 0 ? Shifted(v, level) : Scaled(v, level))
                                : ToneCurve(v, level, mode);
    }
    if (image->info.bitCount == 24 && (mode == 1 || mode == 3)) {
        FillIdentity(tables[1]);
        return ApplyToHsvRect(flags, image, x, y, width, height, tables[1], tables[0]);
    }
    std::memcpy(tables[1], tables[0], sizeof(ByteTable));
    std::memcpy(tables[2], tables[0], sizeof(ByteTable));
    return ApplyTablesToRect(flags, image, x, y, width, height, tables);
}

int ImageAdjustContrast(uint32_t flags, Image* image, int x, int y, int width, int height,
                        int level) {
    if (!IsLevel(level)) {
        return -4;
    }
    ByteTable tables[3];
    for (int v = 0; v < 256; ++v) {
        tables[0][v] = tables[1][v] = tables[2][v] = ContrastCurve(v, level, Mode(flags));
    }
    return ApplyTablesToRect(flags, image, x, y, width, height, tables);
}

int ImageAdjustValueSaturation(uint32_t flags, Image* image, int x, int y, int width, int height,
                               int /*unused*/, int valueLevel, int saturationLevel) {
    if (image->info.bitCount != 24) {
        return -1;
    }
    if (!IsLevel(valueLevel)) {
        return -4;
    }
    if (!IsLevel(saturationLevel)) {
        return -5;
    }
    const int mode = Mode(flags);
    ByteTable saturation;
    ByteTable value;
    if (mode > 1) {
        FillIdentity(saturation);
        FillIdentity(value);
    } else {
        FillLevelTable(saturation, mode, saturationLevel);
        FillLevelTable(value, mode, valueLevel);
    }
    return ApplyToHsvRect(flags, image, x, y, width, height, saturation, value);
}
