// Rendering: the module matrix becomes cellSize × cellSize pixels a module,
// drawn inside a light quiet zone straight into the target Image, one pixel
// line at a time.
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

// Sizes in pixels: the symbol picture's side, the quiet margin around it
// (four modules and one pixel) and the drawn square's side.
struct Layout {
    int cell;
    int pictureSide;
    int margin;
    int side;
};

// false when the drawn square's side does not fit an int.
bool PlanLayout(const Image* image, Layout* layout) {
    const int cell = image->cellSize == 0 ? 1 : image->cellSize;
    const int64_t pictureSide = static_cast<int64_t>(image->moduleCount) * cell;
    const int64_t margin = static_cast<int64_t>(kQuietModules) * cell + 1;
    const int64_t side = pictureSide + 2 * margin;
    if (pictureSide <= 0 || side > INT_MAX) {
        return false;
    }
    *layout = {cell, static_cast<int>(pictureSide), static_cast<int>(margin),
               static_cast<int>(side)};
    return true;
}

// A rectangle as the region operations clip it: the origin moved onto the
// Image, width and height cut at its edges.
struct Rect {
    int x;
    int y;
    int width;
    int height;
};

Rect Clipped(const Image* image, int64_t x, int64_t y, int side) {
    const auto clamp = [](int64_t value) {
        return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
    };
    Rect rect{clamp(x), clamp(y), side, side};
    ImageClipRect(image, &rect.x, &rect.y, &rect.width, &rect.height);
    return rect;
}

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

// Collects a pixel line in a chunk and stores each full chunk at the next
// offset of the Image; `ok` turns false at the first failed write.
struct LineWriter {
    Image* image;
    int offset;
    int filled;
    bool ok;
    uint8_t chunk[kChunkBytes];
};

void PutPixels(LineWriter* line, const ColourRun* colour, int64_t pixels) {
    // Chunks and runs hold whole pixels, so every copy starts on one.
    for (int64_t left = pixels * 3; left > 0 && line->ok;) {
        const int take = static_cast<int>(std::min<int64_t>(left, kChunkBytes - line->filled));
        std::memcpy(line->chunk + line->filled, colour->bytes, static_cast<std::size_t>(take));
        line->filled += take;
        left -= take;
        if (line->filled == kChunkBytes) {
            line->ok = ImageWriteBytes(line->image, line->offset, 1, kChunkBytes, line->chunk) == 0;
            line->offset += kChunkBytes;
            line->filled = 0;
        }
    }
}

bool FinishLine(LineWriter* line) {
    return line->ok && (line->filled == 0 || ImageWriteBytes(line->image, line->offset, 1,
                                                             line->filled, line->chunk) == 0);
}

// What the drawing puts where, in the target's pixels: the light area, the
// symbol's place inside it (both clipped), and the module rows: with
// IMAGE_FROM_TOP in `flags` rows count from the top, as everywhere.
struct Drawing {
    uint32_t flags;
    Image* target;
    Rect area;
    Rect symbol;
    const Image* matrix;
    int cell;
    int pictureSide;
    ColourRun dark;
    ColourRun light;
};

// The module row shown on target row `row`, or -1 for a line of the quiet
// zone. Symbol row 0 is the top one.
int ModuleRowAt(const Drawing& d, int row) {
    const int line = row - d.symbol.y;  // counted like the target's rows
    if (line < 0 || line >= d.symbol.height) {
        return -1;
    }
    const int fromTop = (d.flags & IMAGE_FROM_TOP) != 0 ? line : d.pictureSide - 1 - line;
    return fromTop / d.cell;
}

// One line of the area at `offset`: light, then the modules of `moduleRow`
// cut at the symbol's clipped width, then light; all light for row -1.
bool WriteLine(Drawing* d, int offset, int moduleRow) {
    LineWriter line{d->target, offset, 0, true, {}};
    if (moduleRow < 0) {
        PutPixels(&line, &d->light, d->area.width);
        return FinishLine(&line);
    }
    PutPixels(&line, &d->light, d->symbol.x - d->area.x);
    const int n = d->matrix->moduleCount;
    const uint8_t* modules = d->matrix->modules + static_cast<std::ptrdiff_t>(moduleRow) * n;
    int64_t left = d->symbol.width;
    for (int column = 0; column < n && left > 0;) {
        int end = column + 1;
        while (end < n && modules[end] == modules[column]) {
            ++end;
        }
        const int64_t pixels =
            std::min<int64_t>(left, static_cast<int64_t>(end - column) * d->cell);
        PutPixels(&line, modules[column] != 0 ? &d->dark : &d->light, pixels);
        left -= pixels;
        column = end;
    }
    PutPixels(&line, &d->light, d->area.x + d->area.width - d->symbol.x - d->symbol.width);
    return FinishLine(&line);
}

// Every row of the area once, bottom to top in store order: a line equal to
// the one below it (the same module row, or both light) is copied from it
// while that is still in the cache; the others are drawn. 0, QR_ERR_FILL
// when a quiet zone line cannot be written, QR_ERR_PASTE for a symbol line.
int DrawArea(Drawing* d) {
    FillRun(&d->dark, d->matrix->darkColour);
    FillRun(&d->light, d->matrix->lightColour);
    const int lineBytes = d->area.width * 3;
    int previousRow = INT_MIN;  // no line drawn yet
    int previousOffset = 0;
    const bool fromTop = (d->flags & IMAGE_FROM_TOP) != 0;
    for (int k = 0; k < d->area.height; ++k) {
        // Rows in store order, however the flags count them.
        const int row = fromTop ? d->area.y + d->area.height - 1 - k : d->area.y + k;
        const int offset = ImagePixelOffset(d->flags, d->target, d->area.x, row);
        const int moduleRow = ModuleRowAt(*d, row);
        const bool ok = moduleRow == previousRow ? ImageCopyBytes(d->target, offset, d->target,
                                                                  previousOffset, 1, lineBytes) == 0
                                                 : WriteLine(d, offset, moduleRow);
        if (!ok) {
            return moduleRow < 0 ? QR_ERR_FILL : QR_ERR_PASTE;
        }
        previousRow = moduleRow;
        previousOffset = offset;
    }
    return 0;
}

// The ordinary way: quiet zone and modules straight into the target, each
// pixel written once, the square at (x, y) clipped at the target's edges
// like a fill of it and a paste of the symbol into it would be.
int DrawIntoImage(uint32_t flags, Image* image, int x, int y, const Layout& layout) {
    // The symbol's pixels are three bytes; a grey target cannot take them.
    if (image->info.bitCount != 24) {
        return QR_ERR_PASTE;
    }
    const int64_t symbolX = static_cast<int64_t>(x) + layout.margin;
    const int64_t symbolY = static_cast<int64_t>(y) + layout.margin;
    Drawing drawing{flags,
                    image,
                    Clipped(image, x, y, layout.side),
                    Clipped(image, symbolX, symbolY, layout.pictureSide),
                    image,
                    layout.cell,
                    layout.pictureSide,
                    {},
                    {}};
    return DrawArea(&drawing);
}

// Extra-verbose only: the bare symbol, without quiet zone, as a picture of
// its own stored as "qr.png" for inspection (a failed write does not
// matter). QR_ERR_PICTURE when the picture cannot be made.
int StoreBareSymbol(const Image* image, const Layout& layout) {
    // Every pixel is drawn, so the store needs no fill first.
    Image* picture =
        ImageCreate(IMAGE_NO_FILL, layout.pictureSide, layout.pictureSide, 3, 0, 0, nullptr);
    if (picture == nullptr) {
        return QR_ERR_PICTURE;
    }
    const Rect whole{0, 0, layout.pictureSide, layout.pictureSide};
    Drawing drawing{0, picture, whole, whole, image, layout.cell, layout.pictureSide, {}, {}};
    const bool drawn = DrawArea(&drawing) == 0;
    if (drawn) {
        ImageWritePng(IMAGE_NO_FOLLOW, kDebugFileName, picture);
    }
    ImageFree(picture);
    return drawn ? 0 : QR_ERR_PICTURE;
}

}  // namespace

int DrawSymbol(uint32_t flags, Image* image, int x, int y) {
    Layout layout{};
    int result = PlanLayout(image, &layout) ? 0 : QR_ERR_PICTURE;
    if (result == 0 && (image->flags & IMAGEFLAG_VERBOSE2) != 0) {
        result = StoreBareSymbol(image, layout);
    }
    if (result == 0) {
        if ((image->flags & IMAGEFLAG_VERBOSE) != 0) {
            std::printf("[QRCode] Image size             =%d\n", layout.side);
        }
        result = DrawIntoImage(flags, image, x, y, layout);
    }
    FreeSymbolMatrix(image);
    return result == 0 ? layout.side : result;
}
