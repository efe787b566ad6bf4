// PNG reading of arbitrary files, with every reader flag; whatever loads is
// written out again and converts to BMP, and nothing else converts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const auto choice = in.Take<uint8_t>();
    const uint32_t flags = (choice & (IMAGE_PNG_ALPHA_RULE | IMAGE_PNG_BLACK_BACKGROUND)) |
                           ((choice & 0x80) != 0 ? IMAGE_FILE_BACKED : 0);
    std::FILE* file = std::fopen("in.png", "wb");
    if (file == nullptr || std::fwrite(in.data, 1, in.size, file) != in.size ||
        std::fclose(file) != 0) {
        std::abort();
    }
    Image* image = ImageReadPng(flags, "in.png", "in.spill");
    // The conversion reads without flags; those change pixels, never whether
    // a file loads.
    const int converted = ImageConvertPngToBmp(0, "in.png", "out.bmp");
    if (converted != (image != nullptr ? 0 : IMAGE_CONVERT_ERR_READ)) {
        std::abort();
    }
    if (image == nullptr) {
        return 0;
    }
    if (ImageWritePng(0, "out.png", image) != 0) {
        std::abort();
    }
    ImageFree(image);
    return 0;
}
