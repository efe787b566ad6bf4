// Region operations: cutting a rectangle into a new Image, copying a rectangle
// between Images and filling a rectangle (or everything around it).
#include <cstring>

#include "diag/memory.h"
#include "image/image.h"

namespace {

// Sets `count` pixels of `bytesPerPixel` bytes to an RGB colour in store order.
void FillPixels(uint8_t* pixels, int count, int bytesPerPixel, const uint8_t colour[3]) {
    if (bytesPerPixel == 1) {
        std::memset(pixels, colour[0], static_cast<std::size_t>(count));
        return;
    }
    for (int j = 0; j < count; ++j) {
        uint8_t* pixel = pixels + static_cast<std::ptrdiff_t>(j) * bytesPerPixel;
        pixel[0] = colour[2];
        pixel[1] = colour[1];
        pixel[2] = colour[0];
    }
}

// Colours every pixel of each row that lies outside the rectangle.
int FillOutside(uint32_t options, Image* image, uint8_t* row, int x, int y, int width, int height,
                const uint8_t colour[3]) {
    const int bytesPerPixel = image->info.bitCount / 8;
    const int imageWidth = image->info.width;
    for (int r = 0; r < image->info.height; ++r) {
        const int offset = ImagePixelOffset(options, image, 0, r);
        if (ImageReadBytes(image, offset, bytesPerPixel, imageWidth, row) != 0) {
            return -3;
        }
        if (r < y || r >= y + height) {
            FillPixels(row, imageWidth, bytesPerPixel, colour);
        } else {
            FillPixels(row, x, bytesPerPixel, colour);
            FillPixels(row + static_cast<std::ptrdiff_t>(x + width) * bytesPerPixel,
                       imageWidth - x - width, bytesPerPixel, colour);
        }
        if (ImageWriteBytes(image, offset, bytesPerPixel, imageWidth, row) != 0) {
            return -3;
        }
    }
    return 0;
}

// The rectangle moved to the start of the source's own store, row after row
// at the narrower stride, and the record made to describe it as a fresh
// Image would. Rows only ever move towards the start, each to a place at or
// before its old one, so no row is overwritten before it has moved.
Image* CropInPlace(uint32_t options, Image* source, int x, int y, int width, int height) {
    const int bytesPerPixel = source->info.bitCount / 8;
    const int oldStride = (source->info.width * bytesPerPixel + 3) / 4 * 4;
    const int newStride = (width * bytesPerPixel + 3) / 4 * 4;
    const int bottom = (options & IMAGE_FROM_TOP) != 0 ? source->info.height - y - height : y;
    for (int t = 0; t < height; ++t) {
        uint8_t* to = source->pixels + static_cast<std::ptrdiff_t>(t) * newStride;
        const uint8_t* from = source->pixels + static_cast<std::ptrdiff_t>(bottom + t) * oldStride +
                              static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
        if (to != from) {  // a rectangle at the store's start stays where it is
            std::memmove(to, from, static_cast<std::size_t>(width) * bytesPerPixel);
        }
        // Row filler as a new white Image has it.
        std::memset(source->pixels + static_cast<std::ptrdiff_t>(t) * newStride +
                        static_cast<std::ptrdiff_t>(width) * bytesPerPixel,
                    0xFF, static_cast<std::size_t>(newStride - width * bytesPerPixel));
    }
    const BmpInfoHeader info = source->info;
    std::memset(source, 0, sizeof(Image));
    source->info = info;
    source->info.width = width;
    source->info.height = height;
    source->info.sizeImage = static_cast<uint32_t>(newStride) * static_cast<uint32_t>(height);
    source->info.coloursUsed = 0;
    source->info.coloursImportant = 0;
    if (bytesPerPixel == 1) {
        source->info.coloursUsed = 256;
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<uint8_t>(i);
            source->palette[i] = RgbQuad{level, level, level, 0};
        }
    }
    std::memset(source->lightColour, 0xFF, sizeof source->lightColour);
    source->createFlags = IMAGE_FILL_WHITE;
    // An in-memory Image is one block, record then store. The store's end is
    // given back: its pages, touched while the source was drawn, can then
    // serve the next allocations (a writer's buffers) instead of fresh ones.
    auto* cropped = static_cast<Image*>(MemShrink(source, sizeof(Image) + source->info.sizeImage));
    cropped->pixels = reinterpret_cast<uint8_t*>(cropped) + sizeof(Image);
    return cropped;
}

}  // namespace

Image* ImageCrop(uint32_t options, Image* source, const char* spillPath, int x, int y, int width,
                 int height) {
    const int bytesPerPixel = ImageClipRect(source, &x, &y, &width, &height);
    // A source that is given up anyway lends the cropped Image its store:
    // nothing to allocate, and at most the rectangle to move.
    if ((options & IMAGE_CONSUME_SOURCE) != 0 && (options & IMAGE_FILE_BACKED) == 0 &&
        source->spillFile == nullptr) {
        return CropInPlace(options, source, x, y, width, height);
    }
    Image* cropped =
        ImageCreate(IMAGE_FILL_WHITE | (options & IMAGE_FILE_BACKED), width, height, bytesPerPixel,
                    source->info.xPelsPerMetre, source->info.yPelsPerMetre, spillPath);
    if (cropped == nullptr) {
        return nullptr;
    }
    auto* row = static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(bytesPerPixel) * width));
    if (row == nullptr) {
        ImageFree(cropped);
        return nullptr;
    }
    bool ok = true;
    for (int i = 0; i < height && ok; ++i) {
        ok = ImageReadBytes(source, ImagePixelOffset(options, source, x, y + i), bytesPerPixel,
                            width, row) == 0 &&
             ImageWriteBytes(cropped, ImagePixelOffset(options, cropped, 0, i), bytesPerPixel,
                             width, row) == 0;
    }
    MemFree(row);
    if (!ok) {
        ImageFree(cropped);
        return nullptr;
    }
    if ((options & IMAGE_CONSUME_SOURCE) != 0) {
        ImageFree(source);
    }
    return cropped;
}

int ImagePaste(uint32_t options, Image* destination, int dx, int dy, const Image* source, int sx,
               int sy, int sw, int sh) {
    if (destination->info.bitCount != source->info.bitCount) {
        return -1;
    }
    int roomRight = 0;
    int roomRows = 0;
    const int bytesPerPixel = ImageClipRect(destination, &dx, &dy, &roomRight, &roomRows);
    ImageClipRect(source, &sx, &sy, &sw, &sh);
    const int run = sw < roomRight ? sw : roomRight;
    int result = 0;
    for (int i = 0; i < sh && i < roomRows; ++i) {
        if (ImageCopyBytes(destination, ImagePixelOffset(options, destination, dx, dy + i), source,
                           ImagePixelOffset(options, source, sx, sy + i), bytesPerPixel,
                           run) != 0) {
            result = -2;  // that row is left as it was; the others are still copied
        }
    }
    return result;
}

int ImageFillRect(uint32_t options, Image* image, int x, int y, int width, int height,
                  const uint8_t colour[3]) {
    const int bytesPerPixel = ImageClipRect(image, &x, &y, &width, &height);
    auto* row = static_cast<uint8_t*>(
        MemAlloc(static_cast<std::size_t>(bytesPerPixel) * image->info.width));
    if (row == nullptr) {
        return -2;
    }
    int result = 0;
    if ((options & IMAGE_FILL_OUTSIDE) != 0) {
        result = FillOutside(options, image, row, x, y, width, height, colour);
    } else {
        FillPixels(row, width, bytesPerPixel, colour);
        for (int r = y; r < y + height && result == 0; ++r) {
            if (ImageWriteBytes(image, ImagePixelOffset(options, image, x, r), bytesPerPixel, width,
                                row) != 0) {
                result = -3;
            }
        }
    }
    MemFree(row);
    return result;
}
