// Scaling an Image by two percentages: nearest neighbour, or smooth, where
// the source pixels that fall on one target pixel are averaged and target
// pixels that no source pixel falls on are interpolated.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "diag/memory.h"
#include "image/image.h"

namespace {

constexpr uint32_t kScaleSmooth = 0x1;

// x + 0.5 truncated toward zero.
int Rounded(double x) {
    return static_cast<int>(x + 0.5);
}

// Target index i of n maps to source index rounded(i × from / to).
int MapIndex(int i, int from, int to) {
    return Rounded(static_cast<double>(i) * from / to);
}

// Running mean of the values seen so far, `count` of them with this one.
double Accumulate(double mean, double value, int count) {
    return count == 1 ? value : mean + (value - mean) / count;
}

// The byte `position` of the way from `from` (at 0) to `to` (at `distance`).
uint8_t Interpolated(uint8_t from, uint8_t to, int position, int distance) {
    const double step = (static_cast<double>(to) - from) / distance * position;
    return static_cast<uint8_t>(std::min(from + static_cast<int>(step), 255));
}

int ScaledResolution(int resolution, int percent) {
    const double scaled = std::trunc(static_cast<double>(resolution) * percent / 100.0 + 0.5);
    return static_cast<int>(
        std::clamp(scaled, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

bool ScaleNearest(const Image* source, Image* target) {
    const int width = source->info.width;
    const int height = source->info.height;
    const int targetWidth = target->info.width;
    const int bytesPerPixel = source->info.bitCount / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    auto* row = static_cast<uint8_t*>(
        MemAlloc(rowBytes + static_cast<std::size_t>(targetWidth) * bytesPerPixel));
    if (row == nullptr) {
        return false;
    }
    uint8_t* scaled = row + rowBytes;
    bool ok = true;
    int rowRead = -1;
    for (int i = 0; i < target->info.height && ok; ++i) {
        // ImagePixelOffset holds a row index past the top to the last row.
        const int offset = ImagePixelOffset(0, source, 0, MapIndex(i, height, target->info.height));
        if (offset != rowRead) {
            ok = ImageReadBytes(source, offset, bytesPerPixel, width, row) == 0;
            rowRead = offset;
        }
        for (int j = 0; j < targetWidth; ++j) {
            const int column = std::min(MapIndex(j, width, targetWidth), width - 1);
            std::memcpy(scaled + j * bytesPerPixel, row + column * bytesPerPixel, bytesPerPixel);
        }
        ok = ok && ImageWriteBytes(target, ImagePixelOffset(0, target, 0, i), bytesPerPixel,
                                   targetWidth, scaled) == 0;
    }
    MemFree(row);
    return ok;
}

// Buffers and progress of the smooth mode.
struct SmoothScale {
    const Image* source;
    Image* target;
    int bytesPerPixel;
    double* rowMean;     // running mean of the source rows of one target row
    uint8_t* sourceRow;  // one source row as read
    uint8_t* built;      // the target row being made
    uint8_t* previous;   // the target row written last
    uint8_t* between;    // a target row interpolated between the two
    int written;         // index of the target row written last, -1 before the first
};

// Makes a target row from the row mean: source columns that fall on one
// target column are averaged, columns skipped between two reached ones are
// interpolated, and columns past the last reached one stay white.
void BuildRow(SmoothScale& s) {
    const int width = s.source->info.width;
    const int targetWidth = s.target->info.width;
    const int bpp = s.bytesPerPixel;
    std::memset(s.built, 0xFF, static_cast<std::size_t>(targetWidth) * bpp);
    double columnMean[3] = {0, 0, 0};
    int column = -1;
    int count = 0;
    int lastSet = -1;
    for (int j = 0; j <= width; ++j) {
        const int reached = j < width ? MapIndex(j, targetWidth, width) : targetWidth;
        if (reached != column && count > 0) {
            for (int b = 0; b < bpp; ++b) {
                s.built[column * bpp + b] = static_cast<uint8_t>(Rounded(columnMean[b]));
            }
            for (int k = lastSet + 1; lastSet >= 0 && k < column; ++k) {
                for (int b = 0; b < bpp; ++b) {
                    s.built[k * bpp + b] =
                        Interpolated(s.built[lastSet * bpp + b], s.built[column * bpp + b],
                                     k - lastSet, column - lastSet);
                }
            }
            lastSet = column;
            count = 0;
        }
        if (reached >= targetWidth) {
            break;
        }
        column = reached;
        ++count;
        for (int b = 0; b < bpp; ++b) {
            columnMean[b] = Accumulate(columnMean[b], s.rowMean[j * bpp + b], count);
        }
    }
}

// Builds and writes target row `row`, then fills the target rows skipped
// since the one written last by interpolating between the two.
bool EmitRow(SmoothScale& s, int row) {
    BuildRow(s);
    const int rowBytes = s.target->info.width * s.bytesPerPixel;
    if (ImageWriteBytes(s.target, ImagePixelOffset(0, s.target, 0, row), 1, rowBytes, s.built) !=
        0) {
        return false;
    }
    for (int r = s.written + 1; s.written >= 0 && r < row; ++r) {
        for (int b = 0; b < rowBytes; ++b) {
            s.between[b] = Interpolated(s.previous[b], s.built[b], r - s.written, row - s.written);
        }
        if (ImageWriteBytes(s.target, ImagePixelOffset(0, s.target, 0, r), 1, rowBytes,
                            s.between) != 0) {
            return false;
        }
    }
    std::swap(s.previous, s.built);
    s.written = row;
    return true;
}

bool ScaleSmooth(const Image* source, Image* target) {
    const int width = source->info.width;
    const int height = source->info.height;
    const int targetHeight = target->info.height;
    const int bytesPerPixel = source->info.bitCount / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::size_t targetBytes = static_cast<std::size_t>(target->info.width) * bytesPerPixel;
    // One block: the doubles first, for their alignment.
    auto* block =
        static_cast<uint8_t*>(MemAlloc(rowBytes * sizeof(double) + rowBytes + 3 * targetBytes));
    if (block == nullptr) {
        return false;
    }
    SmoothScale s{source,  target,  bytesPerPixel, reinterpret_cast<double*>(block),
                  nullptr, nullptr, nullptr,       nullptr,
                  -1};
    s.sourceRow = block + rowBytes * sizeof(double);
    s.built = s.sourceRow + rowBytes;
    s.previous = s.built + targetBytes;
    s.between = s.previous + targetBytes;

    bool ok = true;
    int group = -1;  // target row of the source rows being averaged
    int count = 0;
    for (int i = 0; i <= height && ok; ++i) {
        const int reached = i < height ? MapIndex(i, targetHeight, height) : targetHeight;
        if (reached != group && count > 0) {
            ok = EmitRow(s, group);
            count = 0;
        }
        if (reached >= targetHeight || !ok) {
            break;
        }
        group = reached;
        ++count;
        ok = ImageReadBytes(source, ImagePixelOffset(0, source, 0, i), 1,
                            static_cast<int>(rowBytes), s.sourceRow) == 0;
        for (std::size_t b = 0; b < rowBytes; ++b) {
            s.rowMean[b] = Accumulate(s.rowMean[b], s.sourceRow[b], count);
        }
    }
    MemFree(block);
    return ok;
}

}  // namespace

Image* ImageScale(uint32_t flags, Image* source, const char* spillPath, int xPercent,
                  int yPercent) {
    const int64_t width = static_cast<int64_t>(source->info.width) * xPercent / 100;
    const int64_t height = static_cast<int64_t>(source->info.height) * yPercent / 100;
    if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX) {
        return nullptr;
    }
    const uint32_t backing = flags & IMAGE_FILE_BACKED;
    // Opening the source's own spill file for the new Image would wipe it.
    if (backing != 0 && source->spillFile != nullptr && spillPath != nullptr &&
        std::strcmp(spillPath, source->spillPath) == 0) {
        return nullptr;
    }
    Image* scaled = ImageCreate(IMAGE_FILL_WHITE | backing, static_cast<int>(width),
                                static_cast<int>(height), source->info.bitCount / 8,
                                ScaledResolution(source->info.xPelsPerMetre, xPercent),
                                ScaledResolution(source->info.yPelsPerMetre, yPercent), spillPath);
    if (scaled == nullptr) {
        return nullptr;
    }
    const bool ok =
        (flags & kScaleSmooth) != 0 ? ScaleSmooth(source, scaled) : ScaleNearest(source, scaled);
    if (!ok) {
        ImageFree(scaled);
        return nullptr;
    }
    if ((flags & IMAGE_CONSUME_SOURCE) != 0) {
        ImageFree(source);
    }
    return scaled;
}
