// The Image record: creation, release and byte access to its pixel store.
#include <algorithm>
#include <climits>
#include <cstring>

#include "diag/memory.h"
#include "image/image.h"

namespace {

constexpr std::size_t kSpillFillBlock = 0x100000;  // 1 MiB, halved when memory is short
constexpr std::size_t kSpillFillMinimum = 256;
constexpr int kCopyStageSize = 8192;

int BytesPerPixel(const Image* image) {
    return image->info.bitCount / 8;
}

int RowStride(const Image* image) {
    return static_cast<int>(
        (static_cast<int64_t>(image->info.width) * image->info.bitCount / 8 + 3) / 4 * 4);
}

// Writes `size` copies of `fill` to the start of a fresh spill file.
bool FillSpillFile(std::FILE* file, uint8_t fill, int64_t size) {
    std::size_t blockSize = 0;
    auto* block =
        static_cast<uint8_t*>(AllocShrinking(kSpillFillBlock, kSpillFillMinimum, &blockSize));
    if (block == nullptr) {
        return false;
    }
    std::memset(block, fill, blockSize);
    bool ok = true;
    for (int64_t written = 0; written < size && ok;) {
        const auto chunk = static_cast<std::size_t>(std::min<int64_t>(size - written, blockSize));
        ok = std::fwrite(block, 1, chunk, file) == chunk;
        written += static_cast<int64_t>(chunk);
    }
    MemFree(block);
    return ok && std::fflush(file) == 0;
}

bool SpillRead(const Image* image, int offset, std::size_t bytes, void* destination) {
    return std::fseek(image->spillFile, offset, SEEK_SET) == 0 &&
           std::fread(destination, 1, bytes, image->spillFile) == bytes;
}

bool SpillWrite(Image* image, int offset, std::size_t bytes, const void* source) {
    return std::fseek(image->spillFile, offset, SEEK_SET) == 0 &&
           std::fwrite(source, 1, bytes, image->spillFile) == bytes;
}

// unitSize × count as a byte count, or -1 when it is negative or absurd.
int64_t ByteCount(int unitSize, int count) {
    if (unitSize < 0 || count < 0) {
        return -1;
    }
    return static_cast<int64_t>(unitSize) * count;
}

// Whether [offset, offset + bytes) lies inside the pixel store.
bool InStore(const Image* image, int offset, int64_t bytes) {
    return bytes >= 0 && offset >= 0 &&
           offset + bytes <= static_cast<int64_t>(image->info.sizeImage);
}

// Bytes of the pixel store of a width × height Image of `channels` bytes a
// pixel (rows padded to 4 bytes), or -1 when that does not fit an int.
int64_t StoreSize(int width, int height, int channels) {
    const int64_t stride = (static_cast<int64_t>(width) * channels + 3) / 4 * 4;
    // The stride is checked first: a huge stride times a huge height
    // overflows even 64 bits.
    if (stride > INT_MAX || stride * height > INT_MAX) {
        return -1;
    }
    return stride * height;
}

// The header of a new Image; a 1-channel Image gets the grey ramp as its
// colour table.
void SetHeader(Image* image, int width, int height, int channels, int64_t size, int xPelsPerMetre,
               int yPelsPerMetre) {
    image->info.size = sizeof(BmpInfoHeader);
    image->info.width = width;
    image->info.height = height;
    image->info.planes = 1;
    image->info.bitCount = static_cast<uint16_t>(8 * channels);
    image->info.sizeImage = static_cast<uint32_t>(size);
    image->info.xPelsPerMetre = xPelsPerMetre;
    image->info.yPelsPerMetre = yPelsPerMetre;
    if (channels == 1) {
        image->info.coloursUsed = 256;
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<uint8_t>(i);
            image->palette[i] = RgbQuad{level, level, level, 0};
        }
    }
}

}  // namespace

Image* ImageCreate(uint32_t createFlags, int width, int height, int channels, int xPelsPerMetre,
                   int yPelsPerMetre, const char* spillPath) {
    if (channels != 1 && channels != 3) {
        channels = 3;
    }
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    const int64_t size = StoreSize(width, height, channels);
    if (size < 0) {
        return nullptr;
    }
    const bool fileBacked = (createFlags & IMAGE_FILE_BACKED) != 0;
    if (fileBacked && (spillPath == nullptr || std::strlen(spillPath) >= kSpillPathSize)) {
        return nullptr;
    }
    const std::size_t blockSize = sizeof(Image) + (fileBacked ? 0 : static_cast<std::size_t>(size));
    auto* image = static_cast<Image*>(MemAlloc(blockSize));
    if (image == nullptr) {
        return nullptr;
    }
    std::memset(image, 0, sizeof(Image));
    SetHeader(image, width, height, channels, size, xPelsPerMetre, yPelsPerMetre);
    std::memset(image->lightColour, 0xFF, sizeof image->lightColour);
    image->createFlags = createFlags;
    const uint8_t fill = (createFlags & IMAGE_FILL_WHITE) != 0 ? 0xFF : 0x00;

    if (!fileBacked) {
        image->pixels = reinterpret_cast<uint8_t*>(image) + sizeof(Image);
        if ((createFlags & IMAGE_NO_FILL) == 0) {
            std::memset(image->pixels, fill, static_cast<std::size_t>(size));
        }
        return image;
    }

    image->spillFile = std::fopen(spillPath, "w+b");
    if (image->spillFile == nullptr) {
        MemFree(image);
        return nullptr;
    }
    std::strcpy(image->spillPath, spillPath);
    // A spill file always gets its full size, so that every read of the
    // store finds bytes; IMAGE_NO_FILL only saves the caller a known content.
    if (!FillSpillFile(image->spillFile, fill, size)) {
        ImageFree(image);
        return nullptr;
    }
    return image;
}

void ImageReset(Image* image) {
    if (image->spillFile != nullptr) {
        std::fclose(image->spillFile);
        std::remove(image->spillPath);
    }
    std::memset(image, 0, sizeof(Image));
}

void ImageFree(Image* image) {
    if (image == nullptr) {
        return;
    }
    ImageReset(image);
    MemFree(image);
}

int ImagePixelOffset(uint32_t accessFlags, const Image* image, int x, int y) {
    const int width = image->info.width;
    const int height = image->info.height;
    x = x < 0 ? 0 : (x >= width ? width - 1 : x);
    y = y < 0 ? 0 : (y >= height ? height - 1 : y);
    if ((accessFlags & IMAGE_FROM_TOP) != 0) {
        y = height - 1 - y;
    }
    return y * RowStride(image) + x * BytesPerPixel(image);
}

int ImageClipRect(const Image* image, int* x, int* y, int* width, int* height) {
    const int imageWidth = image->info.width;
    const int imageHeight = image->info.height;
    *x = *x < 0 ? 0 : (*x >= imageWidth ? imageWidth - 1 : *x);
    *y = *y < 0 ? 0 : (*y >= imageHeight ? imageHeight - 1 : *y);
    if (*width <= 0 || *width > imageWidth - *x) {
        *width = imageWidth - *x;
    }
    if (*height <= 0 || *height > imageHeight - *y) {
        *height = imageHeight - *y;
    }
    return BytesPerPixel(image);
}

int ImageReadBytes(const Image* image, int offset, int unitSize, int count, void* destination) {
    const int64_t bytes = ByteCount(unitSize, count);
    if (!InStore(image, offset, bytes)) {
        return -1;
    }
    if (image->spillFile == nullptr) {
        std::memcpy(destination, image->pixels + offset, static_cast<std::size_t>(bytes));
        return 0;
    }
    return SpillRead(image, offset, static_cast<std::size_t>(bytes), destination) ? 0 : -1;
}

int ImageWriteBytes(Image* image, int offset, int unitSize, int count, const void* source) {
    const int64_t bytes = ByteCount(unitSize, count);
    if (!InStore(image, offset, bytes)) {
        return -1;
    }
    if (image->spillFile == nullptr) {
        std::memmove(image->pixels + offset, source, static_cast<std::size_t>(bytes));
        return 0;
    }
    return SpillWrite(image, offset, static_cast<std::size_t>(bytes), source) ? 0 : -1;
}

int ImageCopyBytes(Image* destination, int destinationOffset, const Image* source, int sourceOffset,
                   int unitSize, int count) {
    const int64_t bytes = ByteCount(unitSize, count);
    if (!InStore(destination, destinationOffset, bytes) || !InStore(source, sourceOffset, bytes)) {
        return -1;
    }
    const auto length = static_cast<std::size_t>(bytes);
    if (source->spillFile == nullptr) {
        return ImageWriteBytes(destination, destinationOffset, 1, static_cast<int>(bytes),
                               source->pixels + sourceOffset);
    }
    if (destination->spillFile == nullptr) {
        return SpillRead(source, sourceOffset, length, destination->pixels + destinationOffset)
                   ? 0
                   : -1;
    }
    // Between two spill files: stage through a buffer.
    uint8_t local[kCopyStageSize];
    uint8_t* stage = length <= sizeof local ? local : static_cast<uint8_t*>(MemAlloc(length));
    if (stage == nullptr) {
        return -1;
    }
    const bool ok = SpillRead(source, sourceOffset, length, stage) &&
                    SpillWrite(destination, destinationOffset, length, stage);
    if (stage != local) {
        MemFree(stage);
    }
    return ok ? 0 : -1;
}

void ImageSetCellSize(uint32_t /*options*/, Image* image, int cellSize) {
    image->cellSize = cellSize;
}

void ImageSetMaskPattern(uint32_t /*options*/, Image* image, int maskPattern) {
    image->maskPattern = maskPattern;
}

void* AllocShrinking(std::size_t wanted, std::size_t minimum, std::size_t* obtained) {
    for (std::size_t size = wanted; size >= minimum && size > 0; size /= 2) {
        if (void* block = MemAlloc(size)) {
            *obtained = size;
            return block;
        }
    }
    *obtained = 0;
    return nullptr;
}
