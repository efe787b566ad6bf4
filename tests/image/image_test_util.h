// Pixel helpers for the image tests: each pixel gets a value derived from its
// position, so a test can tell exactly where every byte came from.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "image/image.h"

// Byte l of the pixel at (x, y), y counted from row 0 of the store.
inline uint8_t PatternByte(int x, int y, int l) {
    return static_cast<uint8_t>(x * 7 + y * 13 + l * 101 + 1);
}

inline std::vector<uint8_t> PixelAt(const Image* image, int x, int y) {
    const int bytesPerPixel = image->info.bitCount / 8;
    std::vector<uint8_t> pixel(static_cast<size_t>(bytesPerPixel));
    EXPECT_EQ(
        ImageReadBytes(image, ImagePixelOffset(0, image, x, y), 1, bytesPerPixel, pixel.data()), 0);
    return pixel;
}

inline std::vector<uint8_t> PatternPixel(const Image* image, int x, int y) {
    std::vector<uint8_t> pixel(static_cast<size_t>(image->info.bitCount / 8));
    for (size_t l = 0; l < pixel.size(); ++l) {
        pixel[l] = PatternByte(x, y, static_cast<int>(l));
    }
    return pixel;
}

inline void PutPixel(Image* image, int x, int y, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(ImageWriteBytes(image, ImagePixelOffset(0, image, x, y), 1,
                              static_cast<int>(bytes.size()), bytes.data()),
              0);
}

inline void FillPattern(Image* image) {
    for (int y = 0; y < image->info.height; ++y) {
        for (int x = 0; x < image->info.width; ++x) {
            PutPixel(image, x, y, PatternPixel(image, x, y));
        }
    }
}

// The whole pixel store, filler bytes included.
inline std::vector<uint8_t> StoreBytes(const Image* image) {
    std::vector<uint8_t> bytes(image->info.sizeImage);
    EXPECT_EQ(ImageReadBytes(image, 0, 1, static_cast<int>(bytes.size()), bytes.data()), 0);
    return bytes;
}

// The pixels row by row from row 0, without the filler bytes.
inline std::vector<uint8_t> PixelBytes(const Image* image) {
    const int rowBytes = image->info.width * (image->info.bitCount / 8);
    std::vector<uint8_t> bytes(static_cast<size_t>(rowBytes) * image->info.height);
    for (int y = 0; y < image->info.height; ++y) {
        EXPECT_EQ(ImageReadBytes(image, ImagePixelOffset(0, image, 0, y), 1, rowBytes,
                                 &bytes[static_cast<size_t>(y) * rowBytes]),
                  0);
    }
    return bytes;
}

inline void PutLe32(std::string& bytes, size_t at, uint32_t value) {
    const char le[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                        static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
    bytes.replace(at, 4, le, 4);
}

inline uint32_t Le32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

inline uint16_t Le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
}

// A PNG file decoded by libpng's simplified reader, which shares no code with
// ours: rows top-down, samples in `format` (PNG_FORMAT_GRAY or _RGB).
struct DecodedPng {
    int width = 0;
    int height = 0;
    bool colour = false;  // what the file holds, before conversion to `format`
    std::vector<uint8_t> samples;
};

inline std::optional<DecodedPng> DecodePng(const std::string& path, png_uint_32 format) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return std::nullopt;
    }
    DecodedPng decoded;
    decoded.width = static_cast<int>(image.width);
    decoded.height = static_cast<int>(image.height);
    decoded.colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = format;
    decoded.samples.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, decoded.samples.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    return decoded;
}
