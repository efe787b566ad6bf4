// Reads typed values off the front of a fuzz input; past its end every value is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/image.h"

struct FuzzInput {
    const uint8_t* data;
    std::size_t size;

    template <typename T>
    T Take() {
        T value{};
        const std::size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

// An Image of up to 61 x 61 pixels whose size, channels and store come from
// the low 18 bits of `geometry`; nullptr when it cannot be made.
inline Image* FuzzImage(uint32_t geometry, const char* spillPath) {
    const int width = 1 + static_cast<int>(geometry % 61);
    const int height = 1 + static_cast<int>((geometry >> 8) % 61);
    const int channels = (geometry >> 16) & 1 ? 3 : 1;
    const uint32_t storeFlags = (geometry >> 17) & 1 ? IMAGE_FILE_BACKED : 0;
    return ImageCreate(storeFlags, width, height, channels, 0, 0, spillPath);
}
