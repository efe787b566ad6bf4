// Operations that make a new Image from another: duplicate, grey conversion,
// rotation and mirroring. (Scaling is in image_scale.cpp.)
#include <algorithm>
#include <cstring>

#include "diag/memory.h"
#include "image/image.h"

namespace {

// Source rows read at a time by a quarter turn.
constexpr std::size_t kBandBytes = 0x100000;

int BytesPerPixel(const Image* image) {
    return image->info.bitCount / 8;
}

// Whether the new Image's spill file would be the source's own, which
// opening it for the new Image would wipe.
bool ReusesSourceSpill(uint32_t flags, const Image* source, const char* spillPath) {
    return (flags & IMAGE_FILE_BACKED) != 0 && source->spillFile != nullptr &&
           spillPath != nullptr && std::strcmp(spillPath, source->spillPath) == 0;
}

// The new Image of a maker, white.
Image* CreateTarget(uint32_t flags, const Image* source, const char* spillPath, int width,
                    int height, int channels, int xPelsPerMetre, int yPelsPerMetre) {
    if (ReusesSourceSpill(flags, source, spillPath)) {
        return nullptr;
    }
    return ImageCreate(IMAGE_FILL_WHITE | (flags & IMAGE_FILE_BACKED), width, height, channels,
                       xPelsPerMetre, yPelsPerMetre, spillPath);
}

// Hands out a finished target, releasing the source when asked; a failed
// target is released and the source kept.
Image* Finish(uint32_t flags, Image* source, Image* target, bool ok) {
    if (!ok) {
        ImageFree(target);
        return nullptr;
    }
    if ((flags & IMAGE_CONSUME_SOURCE) != 0) {
        ImageFree(source);
    }
    return target;
}

// Source row y to target row y, or to row H - 1 - y when upside down.
bool CopyRows(const Image* source, Image* target, bool upsideDown) {
    const int height = source->info.height;
    const int rowBytes = source->info.width * BytesPerPixel(source);
    for (int y = 0; y < height; ++y) {
        const int targetRow = upsideDown ? height - 1 - y : y;
        if (ImageCopyBytes(target, ImagePixelOffset(0, target, 0, targetRow), source,
                           ImagePixelOffset(0, source, 0, y), 1, rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

// Every row with its pixels in reverse order, to row y or to row H - 1 - y.
bool CopyRowsReversed(const Image* source, Image* target, bool upsideDown) {
    const int width = source->info.width;
    const int height = source->info.height;
    const int bytesPerPixel = BytesPerPixel(source);
    auto* row = static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(width) * bytesPerPixel));
    if (row == nullptr) {
        return false;
    }
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        ok = ImageReadBytes(source, ImagePixelOffset(0, source, 0, y), bytesPerPixel, width, row) ==
             0;
        for (int left = 0, right = width - 1; left < right; ++left, --right) {
            std::swap_ranges(row + left * bytesPerPixel, row + (left + 1) * bytesPerPixel,
                             row + right * bytesPerPixel);
        }
        const int targetRow = upsideDown ? height - 1 - y : y;
        ok = ok && ImageWriteBytes(target, ImagePixelOffset(0, target, 0, targetRow), bytesPerPixel,
                                   width, row) == 0;
    }
    MemFree(row);
    return ok;
}

// A quarter turn: target row Y is source column Y read upwards from the top
// (counter-clockwise) or source column W - 1 - Y read from the bottom
// (clockwise). Source rows are read a band at a time; each band gives one
// segment of every target row.
bool QuarterTurn(const Image* source, Image* target, bool clockwise) {
    const int width = source->info.width;
    const int height = source->info.height;
    const int bytesPerPixel = BytesPerPixel(source);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    const std::size_t wanted = std::max(rowBytes, std::min(rowBytes * height, kBandBytes));
    std::size_t obtained = 0;
    auto* band = static_cast<uint8_t*>(AllocShrinking(wanted, rowBytes, &obtained));
    if (band == nullptr) {
        return false;
    }
    const int bandRows = static_cast<int>(std::min<std::size_t>(obtained / rowBytes, height));
    auto* segment =
        static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(bandRows) * bytesPerPixel));
    bool ok = segment != nullptr;
    for (int y0 = 0; y0 < height && ok; y0 += bandRows) {
        const int rows = std::min(bandRows, height - y0);
        for (int r = 0; r < rows && ok; ++r) {
            ok = ImageReadBytes(source, ImagePixelOffset(0, source, 0, y0 + r), bytesPerPixel,
                                width, band + r * rowBytes) == 0;
        }
        for (int targetRow = 0; targetRow < width && ok; ++targetRow) {
            const int column = clockwise ? width - 1 - targetRow : targetRow;
            for (int t = 0; t < rows; ++t) {
                const int bandRow = clockwise ? t : rows - 1 - t;
                std::memcpy(segment + t * bytesPerPixel,
                            band + bandRow * rowBytes + column * bytesPerPixel, bytesPerPixel);
            }
            const int firstColumn = clockwise ? y0 : height - y0 - rows;
            ok = ImageWriteBytes(target, ImagePixelOffset(0, target, firstColumn, targetRow),
                                 bytesPerPixel, rows, segment) == 0;
        }
    }
    MemFree(segment);
    MemFree(band);
    return ok;
}

}  // namespace

uint8_t GreyLevel(int mode, const uint8_t* pixel) {
    const double level = mode == 0 ? (pixel[0] + pixel[1] + pixel[2]) / 3.0
                                   : 0.11 * pixel[0] + 0.59 * pixel[1] + 0.30 * pixel[2];
    return static_cast<uint8_t>(std::min(static_cast<int>(level + 0.5), 255));
}

Image* ImageDuplicate(uint32_t flags, const Image* source, const char* spillPath) {
    if (ReusesSourceSpill(flags, source, spillPath)) {
        return nullptr;
    }
    const int height = source->info.height;
    Image* copy = ImageCreate((flags & IMAGE_FILE_BACKED) | IMAGE_NO_FILL, source->info.width,
                              height, BytesPerPixel(source), source->info.xPelsPerMetre,
                              source->info.yPelsPerMetre, spillPath);
    if (copy == nullptr) {
        return nullptr;
    }
    // Whole stored rows, padding included, so that no byte is left unset.
    const int stride = static_cast<int>(source->info.sizeImage / static_cast<uint32_t>(height));
    for (int y = 0; y < height; ++y) {
        const int offset = ImagePixelOffset(0, source, 0, y);
        if (ImageCopyBytes(copy, offset, source, offset, 1, stride) != 0) {
            ImageFree(copy);
            return nullptr;
        }
    }
    return copy;
}

Image* ImageToGrey(uint32_t flags, Image* source, const char* spillPath) {
    const int mode = static_cast<int>(flags & 3);
    if (BytesPerPixel(source) != 3 || mode > 1) {
        return nullptr;
    }
    const int width = source->info.width;
    Image* grey = CreateTarget(flags, source, spillPath, width, source->info.height, 1,
                               source->info.xPelsPerMetre, source->info.yPelsPerMetre);
    if (grey == nullptr) {
        return nullptr;
    }
    auto* colour = static_cast<uint8_t*>(MemAlloc(4 * static_cast<std::size_t>(width)));
    bool ok = colour != nullptr;
    uint8_t* levels = colour + 3 * static_cast<std::ptrdiff_t>(width);
    for (int y = 0; y < source->info.height && ok; ++y) {
        ok = ImageReadBytes(source, ImagePixelOffset(0, source, 0, y), 3, width, colour) == 0;
        for (int j = 0; j < width && ok; ++j) {
            levels[j] = GreyLevel(mode, colour + 3 * j);
        }
        ok = ok && ImageWriteBytes(grey, ImagePixelOffset(0, grey, 0, y), 1, width, levels) == 0;
    }
    MemFree(colour);
    return Finish(flags, source, grey, ok);
}

Image* ImageRotate(uint32_t flags, Image* source, const char* spillPath, int angle) {
    if (angle != 0 && angle != 90 && angle != 180 && angle != 270) {
        return nullptr;
    }
    const BmpInfoHeader& info = source->info;
    const bool quarter = angle == 90 || angle == 270;
    Image* rotated =
        quarter ? CreateTarget(flags, source, spillPath, info.height, info.width,
                               BytesPerPixel(source), info.yPelsPerMetre, info.xPelsPerMetre)
                : CreateTarget(flags, source, spillPath, info.width, info.height,
                               BytesPerPixel(source), info.xPelsPerMetre, info.yPelsPerMetre);
    if (rotated == nullptr) {
        return nullptr;
    }
    bool ok = false;
    switch (angle) {
        case 0:
            ok = CopyRows(source, rotated, false);
            break;
        case 90:
            ok = QuarterTurn(source, rotated, false);
            break;
        case 180:
            ok = CopyRowsReversed(source, rotated, true);
            break;
        default:
            ok = QuarterTurn(source, rotated, true);
            break;
    }
    return Finish(flags, source, rotated, ok);
}

Image* ImageMirror(uint32_t flags, Image* source, const char* spillPath, int mode) {
    if (mode != 0 && mode != 1) {
        return nullptr;
    }
    Image* mirrored =
        CreateTarget(flags, source, spillPath, source->info.width, source->info.height,
                     BytesPerPixel(source), source->info.xPelsPerMetre, source->info.yPelsPerMetre);
    if (mirrored == nullptr) {
        return nullptr;
    }
    const bool ok =
        mode == 0 ? CopyRows(source, mirrored, true) : CopyRowsReversed(source, mirrored, false);
    return Finish(flags, source, mirrored, ok);
}
