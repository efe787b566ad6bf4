// Region operations with arbitrary rectangles, flags and store kinds.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const auto geometry = in.Take<uint32_t>();
    Image* target = FuzzImage(geometry, "region-a.spill");
    Image* other = target == nullptr
                       ? nullptr
                       : ImageCreate((geometry >> 18) & 1 ? IMAGE_FILE_BACKED : 0,
                                     1 + target->info.width / 2, 1 + target->info.height / 3,
                                     (geometry >> 19) & 1 ? 3 : 1, 0, 0, "region-b.spill");
    if (target == nullptr || other == nullptr) {
        ImageFree(target);
        ImageFree(other);
        return 0;
    }
    while (in.size > 0) {
        const auto op = in.Take<uint8_t>() % 3;
        const auto flags = in.Take<uint32_t>();
        const int x = in.Take<int32_t>();
        const int y = in.Take<int32_t>();
        const int w = in.Take<int32_t>();
        const int h = in.Take<int32_t>();
        if (op == 0) {
            const uint8_t colour[3] = {in.Take<uint8_t>(), in.Take<uint8_t>(), in.Take<uint8_t>()};
            ImageFillRect(flags & ~IMAGE_CONSUME_SOURCE, target, x, y, w, h, colour);
        } else if (op == 1) {
            ImagePaste(flags & ~IMAGE_CONSUME_SOURCE, target, in.Take<int32_t>(),
                       in.Take<int32_t>(), other, x, y, w, h);
        } else {
            // A consuming crop releases the target when it succeeds; the cut
            // then takes its place.
            const char* cropSpill =  // never the target's own spill file
                std::strcmp(target->spillPath, "region-c.spill") == 0 ? "region-d.spill"
                                                                      : "region-c.spill";
            Image* cut = ImageCrop(flags, target, cropSpill, x, y, w, h);
            if (cut != nullptr && (flags & IMAGE_CONSUME_SOURCE) != 0) {
                target = cut;
            } else {
                ImageFree(cut);
            }
        }
    }
    ImageFree(target);
    ImageFree(other);
    return 0;
}
