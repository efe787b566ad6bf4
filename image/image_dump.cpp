// A text dump of the pixel values of a rectangle, one line per pixel.
#include "image/image.h"

int ImageDump(uint32_t flags, const Image* image, std::FILE* stream, int x, int y, int width,
              int height) {
    if (stream == nullptr) {
        stream = stdout;
    }
    const int bytesPerPixel = ImageClipRect(image, &x, &y, &width, &height);
    for (int i = y; i < y + height; ++i) {
        const int rowOffset = ImagePixelOffset(flags, image, x, i);
        for (int j = x; j < x + width; ++j) {
            uint8_t b[3] = {0, 0, 0};
            int printed = 0;
            if (bytesPerPixel == 1 || bytesPerPixel == 3) {
                if (ImageReadBytes(image, rowOffset + (j - x) * bytesPerPixel, 1, bytesPerPixel,
                                   b) != 0) {
                    return i;
                }
            }
            if (bytesPerPixel == 1) {
                printed = std::fprintf(stream, "D[%4d][%4d] = %3d (%02x)\n", j, i, b[0], b[0]);
            } else if (bytesPerPixel == 3) {
                printed = std::fprintf(stream, "D[%4d][%4d] = %3d,%3d,%3d (%02x,%02x,%02x)\n", j, i,
                                       b[0], b[1], b[2], b[0], b[1], b[2]);
            } else {
                printed = std::fprintf(stream, "D[%4d][%4d] = Unrecognized format\n", j, i);
            }
            if (printed < 0) {
                return i;
            }
        }
    }
    return y + height;
}
