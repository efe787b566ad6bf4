// Rendering: the module matrix becomes a picture of cellSize pixels a
// module, pasted inside a light quiet zone into the target Image.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "qrcode/qrcode.h"
#include "zemqrfile.h"

namespace {

constexpr int kQuietModules = 4;
constexpr int kChunkBytes = 3 * 1024;  // whole pixels
constexpr char kDebugFileName[] = "qr.png";

// A chunk's worth of one colour, in store order (blue, green, red).
struct ColourRun {
    uint8_t bytes[kChunkBytes];
};

void FillRun(ColourRun* run, const uint8_t colour[3]) {
    for (int k = 0; k < kChunkBytes; k += 3) {
        run->bytes[k] = colour[2];
        run->bytes[k + 1] = colour[1];
        run->bytes[k + 2] = colour[0];
    }
}

// Writes the pixel line `line` (counted from the top) of the picture for
// symbol row `row`: each stretch of equal modules is copied out of the run of
// its colour into a chunk, and the chunk goes to the picture when full.
bool DrawPixelLine(Image* picture, const Image* image, int row, int cell, int line,
                   const ColourRun* dark, const ColourRun* light) {
    const int n = image->moduleCount;
    const uint8_t* modules = image->modules + row * n;
    uint8_t chunk[kChunkBytes];
    int filled = 0;
    int offset = ImagePixelOffset(IMAGE_FROM_TOP, picture, 0, line);
    for (int column = 0; column < n;) {
        int end = column + 1;
        while (end < n && modules[end] == modules[column]) {
            ++end;
        }
        const uint8_t* run = (modules[column] != 0 ? dark : light)->bytes;
        // Chunks and runs hold whole pixels, so every copy starts on one.
        for (int64_t left = static_cast<int64_t>(end - column) * cell * 3; left > 0;) {
            const int take = static_cast<int>(std::min<int64_t>(left, kChunkBytes - filled));
            std::memcpy(chunk + filled, run, static_cast<std::size_t>(take));
            filled += take;
            left -= take;
            if (filled == kChunkBytes) {
                if (ImageWriteBytes(picture, offset, 1, filled, chunk) != 0) {
                    return false;
                }
                offset += filled;
                filled = 0;
            }
        }
        column = end;
    }
    return filled == 0 || ImageWriteBytes(picture, offset, 1, filled, chunk) == 0;
}

// Where each band of the picture goes as soon as it is drawn: (x, y) is the
// picture's bottom-left corner in the target; `ok` turns false at the first
// failed paste, after which nothing more is pasted.
struct BandTarget {
    uint32_t flags;
    Image* image;
    int x;
    int y;
    bool ok;
};

// Every module as cell × cell pixels: one line is drawn, the others of the
// same module row are copies of it. With a band target, each module row's
// band is pasted while it is still in the cache. false when the picture
// cannot be written.
bool DrawModules(Image* picture, const Image* image, int cell, BandTarget* target) {
    ColourRun dark;
    ColourRun light;
    FillRun(&dark, image->darkColour);
    FillRun(&light, image->lightColour);
    const int side = picture->info.width;
    const int lineBytes = side * 3;
    for (int row = 0; row < image->moduleCount; ++row) {
        const int first = row * cell;
        if (!DrawPixelLine(picture, image, row, cell, first, &dark, &light)) {
            return false;
        }
        const int source = ImagePixelOffset(IMAGE_FROM_TOP, picture, 0, first);
        for (int k = 1; k < cell; ++k) {
            const int destination = ImagePixelOffset(IMAGE_FROM_TOP, picture, 0, first + k);
            if (ImageCopyBytes(picture, destination, picture, source, 1, lineBytes) != 0) {
                return false;
            }
        }
        if (target != nullptr && target->ok) {
            const int bottom = side - first - cell;  // the band's lowest line, from the bottom
            target->ok = ImagePaste(target->flags, target->image, target->x, target->y + bottom,
                                    picture, 0, bottom, side, cell) >= 0;
        }
    }
    return true;
}

bool AreaInside(const Image* image, int x, int y, int side) {
    return x >= 0 && y >= 0 && side <= image->info.width - x && side <= image->info.height - y;
}

// The light quiet zone as a frame around where the picture goes; the
// picture covers the rest.
bool FillFrame(uint32_t flags, Image* image, int x, int y, int side, int margin) {
    const uint8_t* light = image->lightColour;
    const int picture = side - 2 * margin;
    return ImageFillRect(flags, image, x, y, side, margin, light) >= 0 &&
           ImageFillRect(flags, image, x, y + side - margin, side, margin, light) >= 0 &&
           ImageFillRect(flags, image, x, y + margin, margin, picture, light) >= 0 &&
           ImageFillRect(flags, image, x + side - margin, y + margin, margin, picture, light) >= 0;
}

}  // namespace

int DrawSymbol(uint32_t flags, Image* image, int x, int y) {
    const int cell = image->cellSize == 0 ? 1 : image->cellSize;
    const int64_t pictureSide = static_cast<int64_t>(image->moduleCount) * cell;
    const int64_t quietMargin = static_cast<int64_t>(kQuietModules) * cell + 1;
    const int64_t drawnSide = pictureSide + 2 * quietMargin;
    int result = QR_ERR_PICTURE;
    Image* picture = nullptr;
    // A side that does not fit an int cannot be drawn; ImageCreate refuses
    // other sizes it cannot hold.
    if (pictureSide > 0 && drawnSide <= INT_MAX) {
        // Every pixel is drawn, so the store needs no fill first.
        picture = ImageCreate(IMAGE_NO_FILL, static_cast<int>(pictureSide),
                              static_cast<int>(pictureSide), 3, 0, 0, nullptr);
    }
    if (picture != nullptr) {
        const int side = static_cast<int>(drawnSide);
        const int margin = static_cast<int>(quietMargin);
        // A drawn area inside the target gets its frame first and the picture
        // band by band as it is drawn; one that reaches past the target's
        // edges is filled and pasted whole, each clipped as usual.
        const bool inside = AreaInside(image, x, y, side);
        bool filled = !inside || FillFrame(flags, image, x, y, side, margin);
        BandTarget bands{flags, image, x + margin, y + margin, filled};
        if (DrawModules(picture, image, cell, inside ? &bands : nullptr)) {
            result = side;
            if ((image->flags & IMAGEFLAG_VERBOSE) != 0) {
                std::printf("[QRCode] Image size             =%d\n", result);
            }
            if ((image->flags & IMAGEFLAG_VERBOSE2) != 0) {
                // The bare symbol for inspection; a failed write does not matter.
                ImageWritePng(IMAGE_NO_FOLLOW, kDebugFileName, picture);
            }
            bool pasted = bands.ok;
            if (!inside) {
                filled = ImageFillRect(flags, image, x, y, side, side, image->lightColour) >= 0;
                pasted = filled &&
                         ImagePaste(flags, image, x + margin, y + margin, picture, 0, 0, 0, 0) >= 0;
            }
            if (!filled) {
                result = QR_ERR_FILL;
            } else if (!pasted) {
                result = QR_ERR_PASTE;
            }
        }
    }
    ImageFree(picture);
    FreeSymbolMatrix(image);
    return result;
}
