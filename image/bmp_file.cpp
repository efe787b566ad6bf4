// Uncompressed Windows BMP files with a 40-byte information header. The Image
// record already holds the information header, colour table and pixel array
// as they lie in such a file, so both directions are mostly block copies.
#include <climits>
#include <cstring>

#include "diag/memory.h"
#include "image/file_replace.h"
#include "image/image.h"

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = sizeof(BmpInfoHeader);
constexpr int kLargestInfoHeader = 124;  // the fifth version of the header
constexpr std::size_t kCopyBlock = 0x100000;
constexpr std::size_t kCopyMinimum = 256;

void PutLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, value);
    PutLe16(at + 2, value >> 16);
}

uint32_t GetLe16(const uint8_t* at) {
    return at[0] | (at[1] << 8);
}

uint32_t GetLe32(const uint8_t* at) {
    return GetLe16(at) | (GetLe16(at + 2) << 16);
}

// The information header as it lies in a file, little-endian on every host;
// the record holds it in the host's byte order.
void PutInfoHeader(uint8_t* at, const BmpInfoHeader& info) {
    PutLe32(at, info.size);
    PutLe32(at + 4, static_cast<uint32_t>(info.width));
    PutLe32(at + 8, static_cast<uint32_t>(info.height));
    PutLe16(at + 12, info.planes);
    PutLe16(at + 14, info.bitCount);
    PutLe32(at + 16, info.compression);
    PutLe32(at + 20, info.sizeImage);
    PutLe32(at + 24, static_cast<uint32_t>(info.xPelsPerMetre));
    PutLe32(at + 28, static_cast<uint32_t>(info.yPelsPerMetre));
    PutLe32(at + 32, info.coloursUsed);
    PutLe32(at + 36, info.coloursImportant);
}

BmpInfoHeader GetInfoHeader(const uint8_t* at) {
    return {GetLe32(at),
            static_cast<int32_t>(GetLe32(at + 4)),
            static_cast<int32_t>(GetLe32(at + 8)),
            static_cast<uint16_t>(GetLe16(at + 12)),
            static_cast<uint16_t>(GetLe16(at + 14)),
            GetLe32(at + 16),
            GetLe32(at + 20),
            static_cast<int32_t>(GetLe32(at + 24)),
            static_cast<int32_t>(GetLe32(at + 28)),
            GetLe32(at + 32),
            GetLe32(at + 36)};
}

// Colour table entries stored with the Image: colours used, or the full table
// for a depth below 16 bits that leaves it open; never more than we hold.
uint32_t PaletteEntries(const BmpInfoHeader& info) {
    uint32_t entries = info.coloursUsed;
    if (entries == 0 && info.bitCount < 16) {
        entries = 1u << info.bitCount;
    }
    return entries > 256 ? 256 : entries;
}

bool WriteAll(std::FILE* file, const void* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, file) == count && std::fflush(file) == 0;
}

// Streams the spill file's S bytes into the BMP file: 0, or the stage code.
int CopySpillToFile(const Image* image, std::FILE* file) {
    std::size_t bufferSize = 0;
    auto* buffer = static_cast<uint8_t*>(AllocShrinking(kCopyBlock, kCopyMinimum, &bufferSize));
    if (buffer == nullptr) {
        return IMAGE_BMP_ERR_COPY_BUFFER;
    }
    int result = std::fseek(image->spillFile, 0, SEEK_SET) == 0 ? 0 : IMAGE_BMP_ERR_SPILL_READ;
    for (std::size_t copied = 0; result == 0 && copied < image->info.sizeImage;) {
        const std::size_t missing = image->info.sizeImage - copied;
        const std::size_t chunk = missing < bufferSize ? missing : bufferSize;
        if (std::fread(buffer, 1, chunk, image->spillFile) != chunk) {
            result = IMAGE_BMP_ERR_SPILL_READ;
        } else if (std::fwrite(buffer, 1, chunk, file) != chunk) {
            result = IMAGE_BMP_ERR_COPY_WRITE;
        }
        copied += chunk;
    }
    if (result == 0 && std::fflush(file) != 0) {
        result = IMAGE_BMP_ERR_COPY_WRITE;
    }
    MemFree(buffer);
    return result;
}

int WriteBmpContents(const Image* image, std::FILE* file) {
    const uint32_t paletteEntries = PaletteEntries(image->info);
    const uint32_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + 4 * paletteEntries;
    uint8_t header[kFileHeaderSize] = {'B', 'M'};
    PutLe32(header + 2, pixelOffset + image->info.sizeImage);
    PutLe32(header + 10, pixelOffset);
    if (!WriteAll(file, header, sizeof header)) {
        return IMAGE_BMP_ERR_FILE_HEADER;
    }
    // Header and colour table in one write, as they follow each other.
    uint8_t info[kInfoHeaderSize + sizeof image->palette];
    PutInfoHeader(info, image->info);
    std::memcpy(info + kInfoHeaderSize, image->palette, 4 * paletteEntries);
    if (!WriteAll(file, info, kInfoHeaderSize + 4 * paletteEntries)) {
        return IMAGE_BMP_ERR_INFO_HEADER;
    }
    if (image->spillFile != nullptr) {
        return CopySpillToFile(image, file);
    }
    return WriteAll(file, image->pixels, image->info.sizeImage) ? 0 : IMAGE_BMP_ERR_PIXELS;
}

// Checks a header read from an untrusted file and brings it into the form the
// Image record holds. Returns the colour table entries to read, or -1.
int NormaliseHeader(BmpInfoHeader* info) {
    if (info->size == 0) {
        info->size = kInfoHeaderSize;
    }
    const bool knownDepth = info->bitCount == 8 || info->bitCount == 24;
    if (info->size < kInfoHeaderSize || info->size > kLargestInfoHeader || !knownDepth ||
        info->compression != 0 || info->width <= 0 || info->height <= 0) {
        return -1;
    }
    if (info->bitCount == 24) {
        info->coloursUsed = 0;
    } else if (info->coloursUsed == 0) {
        info->coloursUsed = 256;
    } else if (info->coloursUsed > 256) {
        return -1;
    }
    const int64_t stride = (static_cast<int64_t>(info->bitCount) * info->width + 31) / 32 * 4;
    // The stride is checked first: a huge stride times a huge height
    // overflows even 64 bits.
    if (stride > INT_MAX || stride * info->height > INT_MAX) {
        return -1;
    }
    const int64_t size = stride * info->height;
    // The record always describes itself: a 40-byte header, one plane, and the
    // size its geometry needs, whatever the file claimed.
    info->size = kInfoHeaderSize;
    info->planes = 1;
    info->sizeImage = static_cast<uint32_t>(size);
    return static_cast<int>(info->coloursUsed);
}

bool ReadAll(std::FILE* file, void* bytes, std::size_t count) {
    return std::fread(bytes, 1, count, file) == count;
}

bool CopyFileToSpill(std::FILE* file, Image* image) {
    std::size_t bufferSize = 0;
    auto* buffer = static_cast<uint8_t*>(AllocShrinking(kCopyBlock, kCopyMinimum, &bufferSize));
    if (buffer == nullptr) {
        return false;
    }
    bool ok = std::fseek(image->spillFile, 0, SEEK_SET) == 0;
    for (std::size_t copied = 0; ok && copied < image->info.sizeImage;) {
        const std::size_t missing = image->info.sizeImage - copied;
        const std::size_t chunk = missing < bufferSize ? missing : bufferSize;
        ok = ReadAll(file, buffer, chunk) &&
             std::fwrite(buffer, 1, chunk, image->spillFile) == chunk;
        copied += chunk;
    }
    MemFree(buffer);
    return ok && std::fflush(image->spillFile) == 0;
}

// Reads headers, colour table and pixels from an open BMP file.
Image* LoadBmp(uint32_t createFlags, std::FILE* file, const char* spillPath) {
    uint8_t fileHeader[kFileHeaderSize];
    uint8_t infoHeader[kInfoHeaderSize];
    if (!ReadAll(file, fileHeader, sizeof fileHeader) || fileHeader[0] != 'B' ||
        fileHeader[1] != 'M' || !ReadAll(file, infoHeader, sizeof infoHeader)) {
        return nullptr;
    }
    BmpInfoHeader info = GetInfoHeader(infoHeader);
    const uint32_t headerSize = info.size == 0 ? kInfoHeaderSize : info.size;
    const int paletteEntries = NormaliseHeader(&info);
    if (paletteEntries < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        return nullptr;
    }
    const long fileSize = std::ftell(file);
    const int64_t paletteEnd = kFileHeaderSize + headerSize + 4 * paletteEntries;
    const int64_t pixelOffset = GetLe32(fileHeader + 10);
    if (fileSize < 0 || pixelOffset < paletteEnd || pixelOffset + info.sizeImage > fileSize) {
        return nullptr;
    }
    Image* image = ImageCreate(createFlags | IMAGE_NO_FILL, info.width, info.height,
                               info.bitCount / 8, 0, 0, spillPath);
    if (image == nullptr) {
        return nullptr;
    }
    image->info = info;
    image->createFlags = createFlags;
    std::memset(image->palette, 0, sizeof image->palette);
    bool ok = std::fseek(file, kFileHeaderSize + headerSize, SEEK_SET) == 0 &&
              ReadAll(file, image->palette, 4 * static_cast<std::size_t>(paletteEntries)) &&
              std::fseek(file, pixelOffset, SEEK_SET) == 0;
    if (ok) {
        ok = image->spillFile != nullptr ? CopyFileToSpill(file, image)
                                         : ReadAll(file, image->pixels, info.sizeImage);
    }
    if (!ok) {
        ImageFree(image);
        return nullptr;
    }
    return image;
}

}  // namespace

int ImageWriteBmp(uint32_t options, const char* fileName, const Image* image) {
    ReplacedFile out;
    if (ReplacedFileOpen(options, fileName, &out) != 0) {
        return IMAGE_BMP_ERR_OPEN;
    }
    int result = WriteBmpContents(image, out.file);
    if (ReplacedFileClose(&out, result == 0) != 0 && result == 0) {
        // Nothing is left buffered by then, but the system may still report
        // that the data did not reach the file, or the finished file cannot
        // take its name: count it against the pixels.
        result = image->spillFile != nullptr ? IMAGE_BMP_ERR_COPY_WRITE : IMAGE_BMP_ERR_PIXELS;
    }
    return result;
}

Image* ImageReadBmp(uint32_t createFlags, const char* fileName, const char* spillPath) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    Image* image = LoadBmp(createFlags, file, spillPath);
    std::fclose(file);  // only read from: nothing to lose
    return image;
}
