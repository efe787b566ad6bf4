// Colour, tone, drawing and geometry operations with arbitrary rectangles,
// levels, end points, percentages, flags and store kinds.
#include <cstdint>
#include <cstdio>

#include "fuzz/fuzz_input.h"
#include "image/image.h"

namespace {

constexpr int kOperations = 16;

// Runs one operation that changes the Image in place.
void ChangeInPlace(int op, FuzzInput& in, Image* image) {
    const auto flags = in.Take<uint32_t>();
    const int x = in.Take<int32_t>();
    const int y = in.Take<int32_t>();
    const int w = in.Take<int32_t>();
    const int h = in.Take<int32_t>();
    const int a = in.Take<int32_t>();
    const int b = in.Take<int32_t>();
    const int c = in.Take<int32_t>();
    switch (op) {
        case 0:
            ImageRgbToHsv(flags, image, x, y, w, h);
            break;
        case 1:
            ImageHsvToRgb(flags, image, x, y, w, h);
            break;
        case 2:
            ImageGammaEncode(flags, image, x, y, w, h);
            ImageGammaDecode(flags, image, x, y, w, h);
            break;
        case 3:
            ImageRgbToYCbCr(flags, image, x, y, w, h);
            ImageYCbCrToRgb(flags, image, x, y, w, h);
            break;
        case 4: {
            // Two tables of 3 entries; a count of 0 borrows the red count.
            const ToneEntry tables[6] = {{a, b}, {b, c}, {c, a}, {b, a}, {c, b}, {a, c}};
            ImageMapLevels(flags, image, x, y, w, h, a % 4, b % 4, c % 4, tables,
                           (flags & 0x10) != 0 ? tables + 3 : nullptr, nullptr);
            break;
        }
        case 5:
            ImageMakeGrey(flags, image, x, y, w, h);
            ImageInvert(flags, image, x, y, w, h);
            break;
        case 6:
            ImageAdjustChannels(flags, image, x, y, w, h, a % 128, b % 128, c % 128);
            break;
        case 7:
            ImageAdjustTone(flags, image, x, y, w, h, a % 128);
            break;
        case 8:
            ImageAdjustContrast(flags, image, x, y, w, h, a % 128);
            break;
        case 9:
            ImageAdjustValueSaturation(flags, image, x, y, w, h, a, b % 128, c % 128);
            break;
        case 10: {
            const uint8_t colour[3] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                                       static_cast<uint8_t>(c)};
            ImageDrawLine(flags, image, x, y, w, h, a % 64, colour);
            break;
        }
        default: {
            std::FILE* sink = std::fopen("/dev/null", "w");
            ImageDump(flags, image, sink, x % 70, y % 70, w % 8, h % 8);
            std::fclose(sink);
            break;
        }
    }
}

// Makes a new Image from the source and replaces the source with it.
Image* Remake(int op, FuzzInput& in, Image* image) {
    const auto flags = (in.Take<uint32_t>() & ~IMAGE_CONSUME_SOURCE) & (IMAGE_FILE_BACKED | 3);
    const int a = in.Take<int16_t>() % 400;  // percentages kept small: the result is allocated
    const int b = in.Take<int16_t>() % 400;
    Image* made = nullptr;
    switch (op) {
        case 12:
            made = ImageDuplicate(flags, image, "ops-b.spill");
            break;
        case 13:
            made = ImageScale(flags, image, "ops-b.spill", a, b);
            break;
        case 14:
            made = (a & 1) != 0 ? ImageToGrey(flags, image, "ops-b.spill")
                                : ImageMirror(flags, image, "ops-b.spill", b % 3);
            break;
        default:
            made = ImageRotate(flags, image, "ops-b.spill", (a & 0x100) != 0 ? a : (a & 3) * 90);
            break;
    }
    // Keep the result small enough to go on with.
    if (made == nullptr || static_cast<int64_t>(made->info.width) * made->info.height > 40000) {
        ImageFree(made);
        return image;
    }
    ImageFree(image);
    // The next maker writes ops-b.spill again, so a file-backed result moves
    // to an in-memory copy.
    Image* copy = ImageDuplicate(0, made, nullptr);
    ImageFree(made);
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const auto geometry = in.Take<uint32_t>();
    Image* image = FuzzImage(geometry, "ops-a.spill");
    while (image != nullptr && in.size > 0) {
        const int op = in.Take<uint8_t>() % kOperations;
        if (op < 12) {
            ChangeInPlace(op, in, image);
        } else {
            image = Remake(op, in, image);
        }
    }
    ImageFree(image);
    return 0;
}
