// Rendering: the module matrix becomes a picture of cellSize pixels a
// module, pasted inside a light quiet zone into the target Image.
#include <climits>
#include <cstdint>
#include <cstdio>

#include "qrcode/qrcode.h"
#include "zemqrfile.h"

namespace {

constexpr int kQuietModules = 4;
constexpr int kChunkBytes = 3 * 1024;  // whole pixels
constexpr char kDebugFileName[] = "qr.png";

// Writes the pixel line `line` (counted from the top) of the picture for
// symbol row `row`, a chunk of pixels at a time. Colours are red, green,
// blue; pixels are stored blue, green, red.
bool DrawPixelLine(Image* picture, const Image* image, int row, int cell, int line) {
    const int n = image->moduleCount;
    uint8_t chunk[kChunkBytes];
    int filled = 0;
    int offset = ImagePixelOffset(IMAGE_FROM_TOP, picture, 0, line);
    for (int column = 0; column < n; ++column) {
        const uint8_t* colour =
            image->modules[row * n + column] != 0 ? image->darkColour : image->lightColour;
        for (int l = 0; l < cell; ++l) {
            chunk[filled] = colour[2];
            chunk[filled + 1] = colour[1];
            chunk[filled + 2] = colour[0];
            filled += 3;
            if (filled == kChunkBytes || (column == n - 1 && l == cell - 1)) {
                if (ImageWriteBytes(picture, offset, 1, filled, chunk) != 0) {
                    return false;
                }
                offset += filled;
                filled = 0;
            }
        }
    }
    return true;
}

// Every module as cell × cell pixels: one line is drawn, the others of the
// same module row are copies of it.
bool DrawModules(Image* picture, const Image* image, int cell) {
    const int lineBytes = image->moduleCount * cell * 3;
    for (int row = 0; row < image->moduleCount; ++row) {
        const int first = row * cell;
        if (!DrawPixelLine(picture, image, row, cell, first)) {
            return false;
        }
        const int source = ImagePixelOffset(IMAGE_FROM_TOP, picture, 0, first);
        for (int k = 1; k < cell; ++k) {
            const int destination = ImagePixelOffset(IMAGE_FROM_TOP, picture, 0, first + k);
            if (ImageCopyBytes(picture, destination, picture, source, 1, lineBytes) != 0) {
                return false;
            }
        }
    }
    return true;
}

// The light quiet zone around where the picture goes. When the whole area
// lies inside the target, only the frame is filled, since the paste covers
// the rest; otherwise the area is filled as a whole and clipped as any fill.
bool FillQuietZone(uint32_t flags, Image* image, int x, int y, int side, int margin) {
    const uint8_t* light = image->lightColour;
    const bool inside =
        x >= 0 && y >= 0 && side <= image->info.width - x && side <= image->info.height - y;
    if (!inside) {
        return ImageFillRect(flags, image, x, y, side, side, light) >= 0;
    }
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
    if (picture != nullptr && DrawModules(picture, image, cell)) {
        result = static_cast<int>(drawnSide);
        if ((image->flags & IMAGEFLAG_VERBOSE) != 0) {
            std::printf("[QRCode] Image size             =%d\n", result);
        }
        if ((image->flags & IMAGEFLAG_VERBOSE2) != 0) {
            // The bare symbol for inspection; a failed write does not matter.
            ImageWritePng(0, kDebugFileName, picture);
        }
        const int margin = static_cast<int>(quietMargin);
        if (!FillQuietZone(flags, image, x, y, result, margin)) {
            result = QR_ERR_FILL;
        } else if (ImagePaste(flags, image, x + margin, y + margin, picture, 0, 0, 0, 0) < 0) {
            result = QR_ERR_PASTE;
        }
    }
    ImageFree(picture);
    FreeSymbolMatrix(image);
    return result;
}
