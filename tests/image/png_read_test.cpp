#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

// A PNG file built by hand: `sample(x, y, k)` gives sample k of pixel (x, y).
struct CraftedPng {
    int width = 4;
    int height = 3;
    int bitDepth = 8;
    int colourType = 2;
    bool interlaced = false;
    std::vector<uint8_t> palette;  // RGB triples
    std::function<int(int, int, int)> sample = [](int x, int y, int k) {
        return (x * 40 + y * 7 + k * 90) & 0xFF;
    };
};

int SamplesPerPixel(int colourType) {
    switch (colourType) {
        case 2:
            return 3;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 1;
    }
}

void PutBe32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>(value >> shift);
    }
}

void AppendChunk(std::string& out, const char* type, const std::string& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const std::string covered = std::string(type, 4) + data;
    out += covered;
    PutBe32(out, static_cast<uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(covered.data()), covered.size())));
}

// The filtered (filter 0) scanlines of one sub-image.
void AppendScanlines(std::string& raw, const CraftedPng& png, int x0, int y0, int dx, int dy) {
    const int spp = SamplesPerPixel(png.colourType);
    for (int y = y0; y < png.height; y += dy) {
        std::vector<int> samples;
        for (int x = x0; x < png.width; x += dx) {
            for (int k = 0; k < spp; ++k) {
                samples.push_back(png.sample(x, y, k));
            }
        }
        if (samples.empty()) {
            return;
        }
        raw += '\0';
        if (png.bitDepth == 16) {
            for (int s : samples) {
                raw += static_cast<char>(s >> 8);
                raw += static_cast<char>(s);
            }
            continue;
        }
        std::string packed((samples.size() * png.bitDepth + 7) / 8, '\0');
        for (size_t i = 0; i < samples.size(); ++i) {
            const size_t bit = i * png.bitDepth;
            packed[bit / 8] =
                static_cast<char>(packed[bit / 8] | samples[i] << (8 - png.bitDepth - bit % 8));
        }
        raw += packed;
    }
}

std::string Craft(const CraftedPng& png) {
    std::string ihdr;
    PutBe32(ihdr, png.width);
    PutBe32(ihdr, png.height);
    ihdr += static_cast<char>(png.bitDepth);
    ihdr += static_cast<char>(png.colourType);
    ihdr += std::string("\0\0", 2);
    ihdr += static_cast<char>(png.interlaced ? 1 : 0);
    std::string raw;
    if (png.interlaced) {
        const int adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& pass : adam7) {
            AppendScanlines(raw, png, pass[0], pass[1], pass[2], pass[3]);
        }
    } else {
        AppendScanlines(raw, png, 0, 0, 1, 1);
    }
    uLongf packedSize = compressBound(raw.size());
    std::string idat(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(idat.data()), &packedSize,
             reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    idat.resize(packedSize);
    std::string file = "\x89PNG\r\n\x1a\n";
    AppendChunk(file, "IHDR", ihdr);
    if (!png.palette.empty()) {
        AppendChunk(file, "PLTE", std::string(png.palette.begin(), png.palette.end()));
    }
    AppendChunk(file, "IDAT", idat);
    AppendChunk(file, "IEND", "");
    return file;
}

uint32_t Be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

// Recomputes the CRC of the chunk at `at` after its data was changed.
void FixCrc(std::string& file, size_t at) {
    const uint32_t length = Be32(file, at);
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(file.data() + at + 4), length + 4));
    std::string field;
    PutBe32(field, crc);
    file.replace(at + 8 + length, 4, field);
}

// A one-row 8-bit BMP file with a colour table of `colours` entries (9, 9, 9)
// and the given pixel indices.
std::string CraftBmp8WithIndices(uint32_t colours, const std::vector<uint8_t>& indices) {
    const uint32_t offset = 54 + 4 * colours;
    const auto stride = static_cast<uint32_t>((indices.size() + 3) / 4 * 4);
    std::string bytes(offset + stride, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLe32(bytes, 2, static_cast<uint32_t>(bytes.size()));
    PutLe32(bytes, 10, offset);
    PutLe32(bytes, 14, 40);
    PutLe32(bytes, 18, static_cast<uint32_t>(indices.size()));
    PutLe32(bytes, 22, 1);
    bytes[26] = 1;
    bytes[28] = 8;
    PutLe32(bytes, 46, colours);
    for (uint32_t k = 0; k < colours; ++k) {
        bytes.replace(54 + 4 * k, 3, "\x09\x09\x09");
    }
    std::copy(indices.begin(), indices.end(), bytes.begin() + offset);
    return bytes;
}

Image* ReadCrafted(const CraftedPng& png, uint32_t flags = 0) {
    WriteFile("in.png", Craft(png));
    return ImageReadPng(flags, "in.png", "in.spill");
}

// Expects the Image to hold `pixel(x, y)` (stored byte order) at every pixel,
// y counted from the top line.
void ExpectPixels(const Image* image, const std::function<std::vector<uint8_t>(int, int)>& pixel) {
    for (int y = 0; y < image->info.height; ++y) {
        for (int x = 0; x < image->info.width; ++x) {
            ASSERT_EQ(PixelAt(image, x, image->info.height - 1 - y), pixel(x, y))
                << x << "," << y << " of " << image->info.width << " x " << image->info.height;
        }
    }
}

TEST(PngReadTest, ReadsBackWhatWasWritten) {
    ScratchDir scratch;
    for (int channels : {1, 3}) {
        Image* written = ImageCreate(0, 9, 7, channels, 0, 0, nullptr);
        ASSERT_NE(written, nullptr);
        FillPattern(written);
        ASSERT_EQ(ImageWritePng(0, "round.png", written), 0);
        for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
            Image* read = ImageReadPng(flags, "round.png", "read.spill");
            ASSERT_NE(read, nullptr);
            EXPECT_EQ(read->info.bitCount, written->info.bitCount);
            EXPECT_EQ(read->spillFile != nullptr, flags != 0);
            EXPECT_EQ(PixelBytes(read), PixelBytes(written));
            ImageFree(read);
            EXPECT_NE(access("read.spill", F_OK), 0);
        }
        ImageFree(written);
    }
}

TEST(PngReadTest, ColourAndGreyFilesGiveBlueGreenRedAndGrey) {
    ScratchDir scratch;
    CraftedPng rgb;
    Image* colour = ReadCrafted(rgb);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->info.bitCount, 24);
    ExpectPixels(colour, [&](int x, int y) {
        return std::vector<uint8_t>{static_cast<uint8_t>(rgb.sample(x, y, 2)),
                                    static_cast<uint8_t>(rgb.sample(x, y, 1)),
                                    static_cast<uint8_t>(rgb.sample(x, y, 0))};
    });
    ImageFree(colour);

    CraftedPng grey;
    grey.colourType = 0;
    Image* image = ReadCrafted(grey);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->info.bitCount, 8);
    ExpectPixels(image, [&](int x, int y) {
        return std::vector<uint8_t>{static_cast<uint8_t>(grey.sample(x, y, 0))};
    });
    ImageFree(image);
}

TEST(PngReadTest, AlphaRulesTurnPixelsIntoBackground) {
    ScratchDir scratch;
    CraftedPng rgba;
    rgba.width = 4;
    rgba.height = 1;
    rgba.colourType = 6;
    const int alphas[4] = {0, 127, 128, 255};
    rgba.sample = [&](int x, int, int k) { return k == 3 ? alphas[x] : 10 + 10 * k; };
    const std::vector<uint8_t> kept = {30, 20, 10};
    const std::vector<uint8_t> white(3, 255);
    const std::vector<uint8_t> black(3, 0);
    struct Case {
        uint32_t flags;
        std::vector<std::vector<uint8_t>> expected;
    };
    const Case cases[] = {
        {IMAGE_PNG_ALPHA_IGNORED, {kept, kept, kept, kept}},
        {IMAGE_PNG_ALPHA_ZERO, {white, kept, kept, kept}},
        {IMAGE_PNG_ALPHA_BELOW_HALF, {white, white, kept, kept}},
        {IMAGE_PNG_ALPHA_BELOW_HALF | IMAGE_PNG_BLACK_BACKGROUND, {black, black, kept, kept}},
        {IMAGE_PNG_ALPHA_BELOW_FULL, {white, white, white, kept}},
    };
    for (const Case& c : cases) {
        Image* image = ReadCrafted(rgba, c.flags);
        ASSERT_NE(image, nullptr);
        ExpectPixels(image, [&](int x, int) { return c.expected[x]; });
        ImageFree(image);
    }
    CraftedPng greyAlpha = rgba;
    greyAlpha.colourType = 4;
    greyAlpha.sample = [&](int x, int, int k) { return k == 1 ? alphas[x] : 77; };
    Image* grey = ReadCrafted(greyAlpha, IMAGE_PNG_ALPHA_BELOW_HALF | IMAGE_PNG_BLACK_BACKGROUND);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->info.bitCount, 8);
    ExpectPixels(grey, [&](int x, int) { return std::vector<uint8_t>{uint8_t(x < 2 ? 0 : 77)}; });
    ImageFree(grey);
}

TEST(PngReadTest, PaletteFilesGiveTheirColours) {
    ScratchDir scratch;
    for (int bitDepth : {1, 2, 4, 8}) {
        CraftedPng indexed;
        indexed.width = 11;
        indexed.height = 5;
        indexed.colourType = 3;
        indexed.bitDepth = bitDepth;
        const int entries = bitDepth == 1 ? 2 : 3;  // indices past the palette for 2 bits up
        for (int i = 0; i < entries; ++i) {
            indexed.palette.insert(indexed.palette.end(),
                                   {uint8_t(10 + i), uint8_t(100 + i), uint8_t(200 + i)});
        }
        const int maxIndex = (1 << bitDepth) - 1;
        indexed.sample = [&](int x, int y, int) { return (x + y) % (maxIndex + 1); };
        Image* image = ReadCrafted(indexed);
        ASSERT_NE(image, nullptr) << bitDepth;
        EXPECT_EQ(image->info.bitCount, 24);
        ExpectPixels(image, [&](int x, int y) {
            const int index = indexed.sample(x, y, 0);
            if (index >= entries) {
                return std::vector<uint8_t>(3, 0);
            }
            return std::vector<uint8_t>{uint8_t(200 + index), uint8_t(100 + index),
                                        uint8_t(10 + index)};
        });
        ImageFree(image);
    }
}

TEST(PngReadTest, GreyBelowEightBitsIsScaledUp) {
    ScratchDir scratch;
    for (int bitDepth : {1, 2, 4}) {
        CraftedPng grey;
        grey.width = 13;
        grey.colourType = 0;
        grey.bitDepth = bitDepth;
        const int maxLevel = (1 << bitDepth) - 1;
        grey.sample = [&](int x, int y, int) { return (x * 3 + y) % (maxLevel + 1); };
        Image* image = ReadCrafted(grey);
        ASSERT_NE(image, nullptr) << bitDepth;
        ExpectPixels(image, [&](int x, int y) {
            return std::vector<uint8_t>{uint8_t(grey.sample(x, y, 0) * 255 / maxLevel)};
        });
        ImageFree(image);
    }
}

TEST(PngReadTest, InterlacedFilesGiveTheSamePixels) {
    ScratchDir scratch;
    for (int colourType : {0, 2, 6}) {
        CraftedPng plain;
        plain.width = 19;
        plain.height = 11;
        plain.colourType = colourType;
        CraftedPng interlaced = plain;
        interlaced.interlaced = true;
        for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
            Image* expected = ReadCrafted(plain, flags);
            Image* image = ReadCrafted(interlaced, flags);
            ASSERT_NE(expected, nullptr);
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(PixelBytes(image), PixelBytes(expected)) << colourType;
            ImageFree(image);
            ImageFree(expected);
        }
    }
}

TEST(PngReadTest, RefusesWhatItCannotReadFaithfully) {
    ScratchDir scratch;
    CraftedPng deep;
    deep.bitDepth = 16;
    const std::string good = Craft(CraftedPng{});
    CraftedPng huge;
    huge.width = 20000;
    huge.height = 20000;
    huge.colourType = 0;
    huge.sample = [](int, int, int) { return 0; };
    huge.height = 1;  // the crafted data holds one row; the header claims more
    std::string hugeFile = Craft(huge);
    hugeFile.replace(20, 4, std::string("\0\0\x4e\x20", 4));  // height 20000
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(hugeFile.data() + 12), 17));
    for (int i = 0; i < 4; ++i) {
        hugeFile[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    }
    CraftedPng wide;
    wide.width = 2000000;
    wide.height = 1;
    wide.colourType = 0;
    wide.sample = [](int, int, int) { return 0; };
    std::string badCrc = good;
    badCrc[45] = static_cast<char>(badCrc[45] ^ 1);  // inside the IDAT data
    // The IDAT chunk of `good` starts at 33: length, type, data, CRC.
    const uint32_t idatLength = Be32(good, 33);
    std::string badAdler = good;
    const size_t adler = 41 + idatLength - 4;  // the zlib stream's last four bytes
    badAdler[adler] = static_cast<char>(badAdler[adler] ^ 1);
    FixCrc(badAdler, 33);
    std::string hugeIdat = good;
    hugeIdat.replace(33, 4, std::string("\x7f\xff\xff\xf0", 4));
    CraftedPng empty;
    empty.width = 1;
    std::string zeroWidth = Craft(empty);
    zeroWidth.replace(16, 4, std::string(4, '\0'));
    FixCrc(zeroWidth, 8);
    // A bomb: a tiny file whose header asks for 100,000,000 pixels, the most
    // we take, with the data for one row.
    std::string bomb = Craft(huge);
    bomb.replace(16, 8, std::string("\0\0\x27\x10\0\0\x27\x10", 8));  // 10000 x 10000
    FixCrc(bomb, 8);
    const struct {
        const char* name;
        std::string bytes;
        bool refusedFromHeader;  // before any buffer or Image is made
    } cases[] = {
        {"16 bits", Craft(deep), true},
        {"not a PNG", std::string("BM") + good.substr(2), true},
        {"empty", "", true},
        {"signature only", good.substr(0, 8), true},
        {"cut in the header", good.substr(0, 20), true},
        {"cut in the data", good.substr(0, good.size() - 20), false},
        {"no end", good.substr(0, good.size() - 12), false},
        {"damaged data", badCrc, false},
        {"too many pixels", hugeFile, true},
        {"too wide", Craft(wide), true},
        {"zero width", zeroWidth, true},
        {"bad Adler-32", badAdler, false},
        {"IDAT longer than the file", hugeIdat, false},
        {"bomb", bomb, false},
    };
    for (const auto& c : cases) {
        WriteFile("bad.png", c.bytes);
        for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
            const long allocations = MemAllocCalls();
            Image* image = ImageReadPng(flags, "bad.png", "bad.spill");
            EXPECT_EQ(image, nullptr) << c.name;
            if (c.refusedFromHeader) {
                EXPECT_EQ(MemAllocCalls(), allocations) << c.name << ": refused from its header";
            }
            ImageFree(image);
            EXPECT_NE(access("bad.spill", F_OK), 0) << c.name;
        }
    }
    EXPECT_EQ(ImageReadPng(0, "missing.png", nullptr), nullptr);
}

TEST(PngReadTest, AllocationFailuresLeaveNothingBehind) {
    ScratchDir scratch;
    WriteFile("in.png", Craft(CraftedPng{}));
    for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
        Image* image = nullptr;
        int n = 1;
        for (; image == nullptr && n < 10; ++n) {
            MemFailAt(n, true);
            image = ImageReadPng(flags, "in.png", "in.spill");
            MemFailAt(0);
            if (image == nullptr) {
                EXPECT_NE(access("in.spill", F_OK), 0);
            }
        }
        ASSERT_NE(image, nullptr);
        // Row buffer, Image (and its fill block with a spill file), line buffer.
        EXPECT_EQ(n - 1, flags == 0 ? 4 : 5);
        ImageFree(image);
    }
}

TEST(PngConvertTest, BmpToPngAndBackKeepsThePixels) {
    ScratchDir scratch;
    Image* original = ImageCreate(0, 17, 9, 3, 0, 0, nullptr);
    ASSERT_NE(original, nullptr);
    FillPattern(original);
    ASSERT_EQ(ImageWriteBmp(0, "in.bmp", original), 0);
    EXPECT_EQ(ImageConvertBmpToPng(0, "in.bmp", "mid.png"), 0);
    EXPECT_EQ(ImageConvertPngToBmp(0, "mid.png", "out.bmp"), 0);
    Image* back = ImageReadBmp(0, "out.bmp", nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(PixelBytes(back), PixelBytes(original));
    const auto decoded = DecodePng("mid.png", PNG_FORMAT_RGB);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->samples[0], PatternByte(0, 8, 2));
    ImageFree(back);
    ImageFree(original);

    EXPECT_EQ(ImageConvertBmpToPng(0, "missing.bmp", "x.png"), IMAGE_CONVERT_ERR_READ);
    EXPECT_EQ(ImageConvertPngToBmp(0, "in.bmp", "x.bmp"), IMAGE_CONVERT_ERR_READ);
    EXPECT_EQ(ImageConvertBmpToPng(0, "in.bmp", "no/such/dir/x.png"), IMAGE_CONVERT_ERR_WRITE);
    EXPECT_EQ(ImageConvertPngToBmp(0, "mid.png", "no/such/dir/x.bmp"), IMAGE_CONVERT_ERR_WRITE);
}

TEST(PngConvertTest, IndexedBmpBecomesAColourPng) {
    ScratchDir scratch;
    Image* indexed = ImageCreate(0, 3, 2, 1, 0, 0, nullptr);
    ASSERT_NE(indexed, nullptr);
    indexed->info.coloursUsed = 2;
    indexed->palette[0] = RgbQuad{0, 0, 255, 0};  // red
    indexed->palette[1] = RgbQuad{255, 0, 0, 0};  // blue
    const uint8_t row[3] = {0, 1, 0};
    ASSERT_EQ(ImageWriteBytes(indexed, 0, 1, 3, row), 0);
    ASSERT_EQ(ImageWriteBytes(indexed, 4, 1, 3, row), 0);
    ASSERT_EQ(ImageWriteBmp(0, "indexed.bmp", indexed), 0);
    ASSERT_EQ(ImageConvertBmpToPng(0, "indexed.bmp", "indexed.png"), 0);
    const auto decoded = DecodePng("indexed.png", PNG_FORMAT_RGB);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(decoded->colour);
    EXPECT_EQ(decoded->samples, (std::vector<uint8_t>{255, 0, 0, 0, 0, 255, 255, 0, 0,  //
                                                      255, 0, 0, 0, 0, 255, 255, 0, 0}));
    ImageFree(indexed);

    // Indices past a file's colour table read as they are and convert to black.
    WriteFile("short-table.bmp", CraftBmp8WithIndices(2, {1, 2, 255}));
    ASSERT_EQ(ImageConvertBmpToPng(0, "short-table.bmp", "short-table.png"), 0);
    const auto past = DecodePng("short-table.png", PNG_FORMAT_RGB);
    ASSERT_TRUE(past.has_value());
    EXPECT_EQ(past->samples, (std::vector<uint8_t>{9, 9, 9, 0, 0, 0, 0, 0, 0}));

    // The grey ramp stays grey.
    Image* grey = ImageCreate(0, 3, 2, 1, 0, 0, nullptr);
    ASSERT_NE(grey, nullptr);
    ASSERT_EQ(ImageWriteBmp(0, "grey.bmp", grey), 0);
    ASSERT_EQ(ImageConvertBmpToPng(0, "grey.bmp", "grey.png"), 0);
    const auto greyDecoded = DecodePng("grey.png", PNG_FORMAT_GRAY);
    ASSERT_TRUE(greyDecoded.has_value());
    EXPECT_FALSE(greyDecoded->colour);
    ImageFree(grey);
}

}  // namespace
