// PNG files through libpng, a row at a time. PNG rows run top-down with
// pixels red, green, blue; the Image stores rows bottom-up as blue, green,
// red, so every row is addressed from the top and its pixels reversed.
//
// libpng reports errors by long-jumping back to the setjmp of the function
// that drives it. Everything that must survive the jump (file, libpng
// structures, buffers, the current stage) lives in a job record owned by the
// caller, never in locals of the function that calls setjmp.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "diag/memory.h"
#include "image/file_replace.h"
#include "image/image.h"

namespace {

constexpr const char* kLibpngVersion = "1.6.36";
constexpr int kCompressionLevel = 9;
// Bounds for files we read: libpng's own side limit, and a pixel count that
// keeps an Image (and an interlaced file's whole-image buffer) affordable.
constexpr png_uint_32 kPngMaxSide = 1000000;
constexpr uint64_t kPngMaxPixels = 100000000;

// libpng's last word on a failure, kept rather than printed: the library has
// no business on its host's streams. The result code tells the stage.
struct PngNote {
    char text[96];
};

void PngKeepMessage(png_structp png, png_const_charp message) {
    if (auto* note = static_cast<PngNote*>(png_get_error_ptr(png))) {
        std::snprintf(note->text, sizeof note->text, "%s", message);
    }
}

[[noreturn]] void PngErrorCallback(png_structp png, png_const_charp message) {
    PngKeepMessage(png, message);
    png_longjmp(png, 1);
}

void PngWriteCallback(png_structp png, png_bytep bytes, size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(bytes, 1, length, file) != length) {
        png_error(png, "Write error");
    }
}

void PngFlushCallback(png_structp png) {
    if (std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png))) != 0) {
        png_error(png, "Write error");
    }
}

void PngReadCallback(png_structp png, png_bytep buffer, size_t length) {
    if (std::fread(buffer, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png))) != length) {
        png_error(png, "Read error");
    }
}

struct PngWriteJob {
    std::FILE* file;
    PngNote note;
    png_structp png;
    png_infop info;
    uint8_t* row;   // one PNG row, as libpng takes it
    uint8_t* line;  // one Image row, as the store holds it
    int stage;      // the code returned if the current step fails
};

// One Image row of blue, green, red pixels as a PNG row of red, green, blue.
void ToRgbRow(const uint8_t* line, uint8_t* row, int width) {
    for (int j = 0; j < width; ++j, line += 3, row += 3) {
        row[0] = line[2];
        row[1] = line[1];
        row[2] = line[0];
    }
}

// Drives libpng through the file; returns 0 or the stage that failed.
int WritePngRows(PngWriteJob* job, const Image* image) {
    const int width = image->info.width;
    const int height = image->info.height;
    const int bytesPerPixel = image->info.bitCount / 8;
    job->stage = IMAGE_PNG_ERR_WRITE_STRUCT;
    job->png =
        png_create_write_struct(kLibpngVersion, &job->note, PngErrorCallback, PngKeepMessage);
    if (job->png == nullptr) {
        return job->stage;
    }
    job->stage = IMAGE_PNG_ERR_INFO_STRUCT;
    job->info = png_create_info_struct(job->png);
    if (job->info == nullptr) {
        return job->stage;
    }
    job->stage = IMAGE_PNG_ERR_ERROR_RETURN;
    jmp_buf* resume = png_set_longjmp_fn(job->png, longjmp, sizeof(jmp_buf));
    if (resume == nullptr) {
        return job->stage;
    }
    if (setjmp(*resume) != 0) {
        return job->stage;
    }
    job->stage = IMAGE_PNG_ERR_WRITE_FUNCTIONS;
    png_set_write_fn(job->png, job->file, PngWriteCallback, PngFlushCallback);
    job->stage = IMAGE_PNG_ERR_COMPRESSION;
    png_set_compression_level(job->png, kCompressionLevel);
    job->stage = IMAGE_PNG_ERR_HEADER;
    png_set_IHDR(job->png, job->info, width, height, 8,
                 bytesPerPixel == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    job->stage = IMAGE_PNG_ERR_SIGNATURE;
    png_write_info(job->png, job->info);
    if (std::fflush(job->file) != 0) {
        return job->stage;
    }
    job->stage = IMAGE_PNG_ERR_ROW_BUFFER;
    job->row = static_cast<uint8_t*>(MemAlloc(png_get_rowbytes(job->png, job->info)));
    if (job->row == nullptr) {
        return job->stage;
    }
    job->stage = IMAGE_PNG_ERR_LINE_BUFFER;
    job->line = static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(bytesPerPixel) * width));
    if (job->line == nullptr) {
        return job->stage;
    }
    job->stage = IMAGE_PNG_ERR_ROWS;
    for (int i = 0; i < height; ++i) {
        if (ImageReadBytes(image, ImagePixelOffset(IMAGE_FROM_TOP, image, 0, i), bytesPerPixel,
                           width, job->line) != 0) {
            return job->stage;
        }
        if (bytesPerPixel == 1) {
            png_write_row(job->png, job->line);  // grey bytes are taken as they are
            continue;
        }
        ToRgbRow(job->line, job->row, width);
        png_write_row(job->png, job->row);
    }
    png_write_end(job->png, job->info);
    return std::fflush(job->file) == 0 ? 0 : job->stage;
}

struct PngReadJob {
    std::FILE* file;
    PngNote note;
    png_structp png;
    png_infop info;
    uint8_t* rows;  // one PNG row; every row of an interlaced file
    uint8_t* line;
    Image* image;
    uint32_t flags;
};

// Turns one PNG row (8-bit samples) into one Image row.
void ConvertRow(const PngReadJob* job, const uint8_t* row, int colourType) {
    const int width = job->image->info.width;
    const int channels = job->image->info.bitCount / 8;
    const uint32_t alphaRule = job->flags & IMAGE_PNG_ALPHA_RULE;
    const uint8_t background = (job->flags & IMAGE_PNG_BLACK_BACKGROUND) != 0 ? 0 : 255;
    const bool hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0;
    // A palette row holds one index per pixel, not one byte per channel.
    const int sourceStep = colourType == PNG_COLOR_TYPE_PALETTE ? 1 : channels + (hasAlpha ? 1 : 0);
    png_colorp palette = nullptr;
    int paletteSize = 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_get_PLTE(job->png, job->info, &palette, &paletteSize);
    }
    uint8_t* out = job->line;
    for (int j = 0; j < width; ++j, row += sourceStep, out += channels) {
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
            // An index past the palette has no colour of its own: black.
            const png_color colour = row[0] < paletteSize ? palette[row[0]] : png_color{0, 0, 0};
            out[0] = colour.blue;
            out[1] = colour.green;
            out[2] = colour.red;
            continue;
        }
        const int alpha = hasAlpha ? row[channels] : 255;
        const bool toBackground = (alphaRule == IMAGE_PNG_ALPHA_ZERO && alpha == 0) ||
                                  (alphaRule == IMAGE_PNG_ALPHA_BELOW_HALF && alpha < 128) ||
                                  (alphaRule == IMAGE_PNG_ALPHA_BELOW_FULL && alpha < 255);
        for (int k = 0; k < channels; ++k) {
            out[channels - 1 - k] = toBackground ? background : row[k];
        }
    }
}

// Image channels for a PNG colour type; 0 for one we do not read.
int ImageChannelsFor(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 1;
        case PNG_COLOR_TYPE_RGB:
        case PNG_COLOR_TYPE_RGB_ALPHA:
        case PNG_COLOR_TYPE_PALETTE:
            return 3;
        default:
            return 0;
    }
}

// The buffers a read fills: the PNG row buffer (`rowsKept` rows of
// `rowBytes`), the Image and its line buffer. False when one cannot be had;
// what was made stays in the job for its owner to release.
bool MakeReadBuffers(PngReadJob* job, std::size_t rowBytes, std::size_t rowsKept, png_uint_32 width,
                     png_uint_32 height, int channels, const char* spillPath) {
    job->rows = static_cast<uint8_t*>(MemAlloc(rowBytes * rowsKept));
    if (job->rows == nullptr) {
        return false;
    }
    std::memset(job->rows, 0, rowBytes * rowsKept);
    job->image =
        ImageCreate((job->flags & IMAGE_FILE_BACKED) | IMAGE_FILL_WHITE, static_cast<int>(width),
                    static_cast<int>(height), channels, 0, 0, spillPath);
    if (job->image == nullptr) {
        return false;
    }
    job->line = static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(channels) * width));
    return job->line != nullptr;
}

// Drives libpng through the file into job->image; true when it is complete.
bool ReadPngRows(PngReadJob* job, const char* spillPath) {
    job->png = png_create_read_struct(kLibpngVersion, &job->note, PngErrorCallback, PngKeepMessage);
    if (job->png == nullptr) {
        return false;
    }
    job->info = png_create_info_struct(job->png);
    if (job->info == nullptr) {
        return false;
    }
    jmp_buf* resume = png_set_longjmp_fn(job->png, longjmp, sizeof(jmp_buf));
    if (resume == nullptr) {
        return false;
    }
    if (setjmp(*resume) != 0) {
        return false;
    }
    png_set_read_fn(job->png, job->file, PngReadCallback);
    png_set_sig_bytes(job->png, 8);
    png_set_user_limits(job->png, kPngMaxSide, kPngMaxSide);
    png_read_info(job->png, job->info);
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    const int bitDepth = png_get_bit_depth(job->png, job->info);
    const int colourType = png_get_color_type(job->png, job->info);
    const int channels = ImageChannelsFor(colourType);
    if (channels == 0 || bitDepth > 8 || static_cast<uint64_t>(width) * height > kPngMaxPixels) {
        return false;
    }
    // Samples of 1, 2 or 4 bits become one byte each: grey levels scaled up
    // to 8 bits, palette indices unchanged.
    if (colourType == PNG_COLOR_TYPE_GRAY) {
        png_set_expand_gray_1_2_4_to_8(job->png);
    } else {
        png_set_packing(job->png);
    }
    const int passes = png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);

    const std::size_t rowBytes = png_get_rowbytes(job->png, job->info);
    // libpng builds an interlaced row over several passes in the caller's
    // buffer, so such a file needs a buffer for every row.
    const std::size_t rowsKept = passes > 1 ? height : 1;
    if (!MakeReadBuffers(job, rowBytes, rowsKept, width, height, channels, spillPath)) {
        return false;
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 i = 0; i < height; ++i) {
            uint8_t* row = job->rows + (rowsKept > 1 ? i * rowBytes : 0);
            png_read_row(job->png, row, nullptr);
            if (pass < passes - 1) {
                continue;
            }
            ConvertRow(job, row, colourType);
            Image* image = job->image;
            if (ImageWriteBytes(image,
                                ImagePixelOffset(IMAGE_FROM_TOP, image, 0, static_cast<int>(i)),
                                channels, static_cast<int>(width), job->line) != 0) {
                return false;
            }
        }
    }
    png_read_end(job->png, nullptr);
    return true;
}

// An Image whose colour table is anything but the full grey ramp, as
// 24-bit colour: the PNG writer takes a 1-channel Image's bytes as grey.
Image* ExpandColourTable(const Image* indexed) {
    const int width = indexed->info.width;
    Image* colour = ImageCreate(0, width, indexed->info.height, 3, indexed->info.xPelsPerMetre,
                                indexed->info.yPelsPerMetre, nullptr);
    auto* indices = colour != nullptr
                        ? static_cast<uint8_t*>(MemAlloc(static_cast<std::size_t>(width)))
                        : nullptr;
    bool ok = indices != nullptr;
    for (int y = 0; ok && y < indexed->info.height; ++y) {
        ok = ImageReadBytes(indexed, ImagePixelOffset(0, indexed, 0, y), 1, width, indices) == 0;
        uint8_t* out = colour->pixels + ImagePixelOffset(0, colour, 0, y);
        for (int x = 0; ok && x < width; ++x, out += 3) {
            const RgbQuad& entry = indexed->palette[indices[x]];
            out[0] = entry.blue;
            out[1] = entry.green;
            out[2] = entry.red;
        }
    }
    MemFree(indices);
    if (!ok) {
        ImageFree(colour);
        return nullptr;
    }
    return colour;
}

bool IsGreyRamp(const Image* image) {
    if (image->info.coloursUsed != 256) {
        return false;
    }
    for (int i = 0; i < 256; ++i) {
        const RgbQuad& entry = image->palette[i];
        if (entry.blue != i || entry.green != i || entry.red != i) {
            return false;
        }
    }
    return true;
}

}  // namespace

int ImageWritePng(uint32_t options, const char* fileName, const Image* image) {
    const int bytesPerPixel = image->info.bitCount / 8;
    if (bytesPerPixel != 1 && bytesPerPixel != 3) {
        return IMAGE_PNG_ERR_HEADER;  // no PNG header fits; refused before the file is made
    }
    ReplacedFile out;
    if (ReplacedFileOpen(options, fileName, &out) != 0) {
        return IMAGE_PNG_ERR_OPEN;
    }
    PngWriteJob job{};
    job.file = out.file;
    int result = WritePngRows(&job, image);
    if (job.png != nullptr) {
        png_destroy_write_struct(&job.png, &job.info);
    }
    MemFree(job.line);
    MemFree(job.row);
    if (ReplacedFileClose(&out, result == 0) != 0 && result == 0) {
        result = IMAGE_PNG_ERR_ROWS;
    }
    return result;
}

Image* ImageReadPng(uint32_t flags, const char* fileName, const char* spillPath) {
    PngReadJob job{};
    job.flags = flags;
    job.file = std::fopen(fileName, "rb");
    if (job.file == nullptr) {
        return nullptr;
    }
    png_byte signature[8];
    bool ok = std::fread(signature, 1, sizeof signature, job.file) == sizeof signature &&
              png_sig_cmp(signature, 0, sizeof signature) == 0 && ReadPngRows(&job, spillPath);
    if (job.png != nullptr) {
        png_destroy_read_struct(&job.png, &job.info, nullptr);
    }
    MemFree(job.line);
    MemFree(job.rows);
    std::fclose(job.file);  // only read from: nothing to lose
    if (!ok) {
        ImageFree(job.image);
        return nullptr;
    }
    return job.image;
}

int ImageConvertPngToBmp(uint32_t /*options*/, const char* pngFileName, const char* bmpFileName) {
    Image* image = ImageReadPng(0, pngFileName, nullptr);
    if (image == nullptr) {
        return IMAGE_CONVERT_ERR_READ;
    }
    const int written = ImageWriteBmp(0, bmpFileName, image);
    ImageFree(image);
    return written == 0 ? 0 : IMAGE_CONVERT_ERR_WRITE;
}

int ImageConvertBmpToPng(uint32_t /*options*/, const char* bmpFileName, const char* pngFileName) {
    Image* image = ImageReadBmp(0, bmpFileName, nullptr);
    if (image != nullptr && image->info.bitCount == 8 && !IsGreyRamp(image)) {
        Image* colour = ExpandColourTable(image);
        ImageFree(image);
        image = colour;
    }
    if (image == nullptr) {
        return IMAGE_CONVERT_ERR_READ;
    }
    const int written = ImageWritePng(0, pngFileName, image);
    ImageFree(image);
    return written == 0 ? 0 : IMAGE_CONVERT_ERR_WRITE;
}
