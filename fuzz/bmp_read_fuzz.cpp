// BMP reading of arbitrary files: whatever loads must write out and load
// back to the same Image, and convert to PNG; nothing else may convert.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "image/image.h"

namespace {

bool SameStore(const Image* a, const Image* b) {
    if (a->info.sizeImage != b->info.sizeImage) {
        return false;
    }
    uint8_t chunkA[4096];
    uint8_t chunkB[4096];
    for (uint32_t at = 0; at < a->info.sizeImage; at += sizeof chunkA) {
        const uint32_t left = a->info.sizeImage - at;
        const int n = static_cast<int>(left < sizeof chunkA ? left : sizeof chunkA);
        if (ImageReadBytes(a, static_cast<int>(at), 1, n, chunkA) != 0 ||
            ImageReadBytes(b, static_cast<int>(at), 1, n, chunkB) != 0 ||
            std::memcmp(chunkA, chunkB, static_cast<std::size_t>(n)) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const uint32_t flags = (in.Take<uint8_t>() & 1) != 0 ? IMAGE_FILE_BACKED : 0;
    std::FILE* file = std::fopen("in.bmp", "wb");
    if (file == nullptr || std::fwrite(in.data, 1, in.size, file) != in.size ||
        std::fclose(file) != 0) {
        std::abort();
    }
    Image* image = ImageReadBmp(flags, "in.bmp", "in.spill");
    const int converted = ImageConvertBmpToPng(0, "in.bmp", "out.png");
    if (converted != (image != nullptr ? 0 : IMAGE_CONVERT_ERR_READ)) {
        std::abort();
    }
    if (image == nullptr) {
        return 0;
    }
    if (ImageWriteBmp(0, "out.bmp", image) != 0) {
        std::abort();
    }
    Image* again = ImageReadBmp(0, "out.bmp", nullptr);
    if (again == nullptr || std::memcmp(&again->info, &image->info, sizeof image->info) != 0 ||
        std::memcmp(again->palette, image->palette, sizeof image->palette) != 0 ||
        !SameStore(again, image)) {
        std::abort();
    }
    ImageFree(again);
    ImageFree(image);
    return 0;
}
